#include "ViewTestSupport.h"

#include "Kit/Color.h"
#include "Kit/TextStyle.h"
#include "Kit/Theme.h"

#include "Catalog/CatalogRecords.h"

#include "QStringPrinter.h"

#include <QFontInfo>
#include <QFontMetricsF>
#include <QLabel>
#include <QVBoxLayout>

#include <optional>
#include <string_view>

using namespace std::string_view_literals;

namespace Hub::Kit {
namespace {

struct HexRow {
    std::u16string_view text;
    std::optional<QRgb> expected; // none: the caller's fallback
};

TEST(ColorFromHex, readsColoursAndFallsBackOnEverythingElse)
{
    const QColor fallback(1, 2, 3);
    const HexRow rows[] = {
        {u"#f0efea", 0xf0efea},
        {u"#F0EFEA", 0xf0efea},
        {u"#000000", 0x000000},
        {u"#ffffff", 0xffffff},
        {u"#0e0e0f", 0x0e0e0f},
        {u"", std::nullopt},
        {u"#", std::nullopt},
        {u"f0efea", std::nullopt},
        {u"#f0efe", std::nullopt},
        {u"#f0efea0", std::nullopt},
        {u"#ffffffff", std::nullopt},
        {u"#fff", std::nullopt},
        {u"#f0efeg", std::nullopt},
        {u" #f0efea", std::nullopt},
        {u"#f0efea ", std::nullopt},
        {u"#+0efea", std::nullopt},
        {u"#-0efea", std::nullopt},
        {u"#0x0efe", std::nullopt},
        {u"##f0efe", std::nullopt},
        {u"#f0 efa", std::nullopt},
        {u"red", std::nullopt},
        {u"transparent", std::nullopt},
        {u"#\uff46\uff10efea", std::nullopt},      // full-width letters and digits
        {u"#\u0661\u0662\u0663\u0664\u0665\u0666", std::nullopt}, // Arabic-Indic digits
        {u"#12345\0"sv, std::nullopt},
        {u"rgb(1,2,3)", std::nullopt},
    };
    for (const HexRow& row : rows) {
        const QString text = QString::fromUtf16(row.text.data(), row.text.size());
        SCOPED_TRACE(text.toStdString());
        const QColor got = colorFromHex(text, fallback);
        if (row.expected) {
            EXPECT_EQ(got.rgb(), 0xff000000u | *row.expected);
            EXPECT_EQ(got.alpha(), 255);
        } else {
            EXPECT_EQ(got, fallback);
        }
    }
}

TEST(ColorFromHex, productColoursUseTheirDefaultsForMissingOrBrokenText)
{
    struct Row {
        std::optional<QString> accent, accentText, tint;
        QRgb accentRgb, accentTextRgb, tintRgb;
    };
    const Row rows[] = {
        {std::nullopt, std::nullopt, std::nullopt, 0xf0efea, 0x0e0e0f, 0x0e0e0f},
        {QStringLiteral("#3355ff"), QStringLiteral("#fefefe"), QStringLiteral("#101820"), 0x3355ff, 0xfefefe, 0x101820},
        {QStringLiteral("blue"), QStringLiteral(""), QStringLiteral("#12"), 0xf0efea, 0x0e0e0f, 0x0e0e0f},
    };
    for (const Row& row : rows) {
        Product product;
        product.accent = row.accent;
        product.accentText = row.accentText;
        product.tint = row.tint;
        EXPECT_EQ(accentColor(product).rgb() & 0xffffff, row.accentRgb);
        EXPECT_EQ(accentTextColor(product).rgb() & 0xffffff, row.accentTextRgb);
        EXPECT_EQ(tintColor(product).rgb() & 0xffffff, row.tintRgb);
    }
}

// Catalog texts can hold anything; a label that guessed "rich text" would
// render tags, load images and offer links. Plain labels draw every
// character, so the hostile text takes the width of its literal characters.
TEST(PlainLabels, showMarkupLiterallyInEveryStyle)
{
    const QString hostile = QStringLiteral("<b>reverb</b> <a href=\"https://evil.example\">update</a><img src=\"x\">&amp;");
    QWidget host;
    host.setFixedWidth(900);
    auto* layout = new QVBoxLayout(&host);

    QLabel* plain = plainLabel(hostile);
    QLabel* labelled = plainLabel(hostile);
    setLabelStyle(labelled, 11, QFont::Medium, Theme::muted());
    QLabel* footnote = plainLabel(hostile);
    setFootStyle(footnote, 12.5);
    setSelectable(footnote);
    for (QLabel* l : {plain, labelled, footnote}) {
        layout->addWidget(l);
        EXPECT_EQ(l->textFormat(), Qt::PlainText);
        EXPECT_EQ(l->text(), hostile);
        EXPECT_FALSE(l->openExternalLinks());
        EXPECT_FALSE(l->textInteractionFlags() & Qt::LinksAccessibleByMouse);
        const QFontMetrics metrics(l->font());
        if (l->wordWrap()) {
            const int literal = metrics.boundingRect(QRect(0, 0, 200, 10000), Qt::TextWordWrap, hostile).height();
            EXPECT_GE(l->heightForWidth(200), literal) << "markup was interpreted";
        } else {
            EXPECT_GE(l->sizeHint().width(), metrics.horizontalAdvance(hostile)) << "markup was interpreted";
        }
    }
    host.show();
    Hub::Test::saveScreenshot(&host, QStringLiteral("kit-plain-labels"));
}

TEST(PlainLabels, footnotesWrapInsteadOfCutting)
{
    QLabel* note = plainLabel(QStringLiteral("Close it first so it loads the new version. Plug-ins are replaced while it "
                                             "stays open, and it may keep using the old one until you restart it."));
    setFootStyle(note, 13);
    const int oneLine = QFontMetrics(note->font()).height();
    ASSERT_TRUE(note->hasHeightForWidth());
    EXPECT_GE(note->heightForWidth(200), 3 * oneLine);
    delete note;
}

// The fonts of setup-deps at device-independent sizes: a point/pixel mix-up
// would draw 14-pt prose at 18.7 px.
TEST(ThemeFonts, resolveToTheInstalledFamiliesAtTheirSizes)
{
    const auto& f = Theme::families();
    ASSERT_TRUE(f.proseFound) << "fonts-inter missing";
    ASSERT_TRUE(f.monoFound) << "fonts-jetbrains-mono missing";
    struct Row {
        QFont font;
        QString family;
        int pixels;
        QFont::Weight weight;
    };
    const Row rows[] = {
        {Theme::prose(14), QStringLiteral("Inter"), 14, QFont::Normal},
        {Theme::bold(22, -1.1), QStringLiteral("Inter"), 22, QFont::Bold},
        {label(11, QFont::DemiBold), QStringLiteral("JetBrains Mono"), 11, QFont::DemiBold},
        {foot(12.5), QStringLiteral("Inter"), 13, QFont::Normal},
    };
    for (const Row& row : rows) {
        const QFontInfo info(row.font);
        EXPECT_EQ(info.family(), row.family);
        EXPECT_NEAR(info.pixelSize(), row.pixels, 1);
        EXPECT_EQ(info.weight(), row.weight);
    }
    const QFont small = label(10, QFont::Medium);
    EXPECT_EQ(small.capitalization(), QFont::AllUppercase);
    EXPECT_DOUBLE_EQ(small.letterSpacing(), 0.5);
}

} // namespace
} // namespace Hub::Kit

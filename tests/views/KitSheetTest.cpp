#include "ViewTestSupport.h"

#include "Kit/Color.h"
#include "Kit/ExternalLink.h"
#include "Kit/Logo.h"
#include "Kit/Paint.h"
#include "Kit/Pill.h"
#include "Kit/PlainMenu.h"
#include "Kit/ProductMark.h"
#include "Kit/ProgressLine.h"
#include "Kit/Segmented.h"
#include "Kit/Switches.h"
#include "Kit/Symbols.h"
#include "Kit/Tag.h"
#include "Kit/TextInput.h"
#include "Kit/TextStyle.h"
#include "Kit/Theme.h"

#include "QStringPrinter.h"

#include <QAccessible>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QTest>
#include <QVBoxLayout>

#include <limits>

namespace Hub::Kit {
namespace {

class SymbolStrip : public QWidget {
public:
    QSize sizeHint() const override { return {9 * 52, 62}; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        using PathOf = QPainterPath (*)(const QRectF&);
        const PathOf symbols[] = {Symbols::arrowClockwise, Symbols::arrowDown,   Symbols::arrowUpRight,
                                  Symbols::chevronRight,   Symbols::chevronLeft, Symbols::checkmark,
                                  Symbols::xmark,          Symbols::ellipsis,    Symbols::personCropCircle};
        QPainter p(this);
        for (int i = 0; i < 9; ++i) {
            const QRectF big(i * 52 + 6, 2, 36, 36), small(i * 52 + 17, 46, 13, 13);
            Symbols::draw(p, symbols[i](big), Theme::ink(), Symbols::lineWidth(20));
            Symbols::draw(p, symbols[i](small), Theme::muted(), Symbols::lineWidth(13));
        }
    }
};

Product sampleProduct(const char* name, const char* accent, const char* text)
{
    Product product;
    product.id = QStringLiteral("sample-") + QString::fromUtf8(name);
    product.name = QString::fromUtf8(name);
    if (accent)
        product.accent = QString::fromLatin1(accent);
    if (text)
        product.accentText = QString::fromLatin1(text);
    return product;
}

QWidget* row(std::initializer_list<QWidget*> widgets, int spacing = 12)
{
    auto* host = new QWidget;
    auto* layout = new QHBoxLayout(host);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    for (QWidget* w : widgets)
        layout->addWidget(w, 0, Qt::AlignVCenter);
    layout->addStretch(1);
    return host;
}

Pill* pill(const QString& title, const PillStyle& style, bool enabled = true, bool down = false)
{
    auto* p = new Pill(title, style);
    p->setEnabled(enabled);
    p->setDown(down);
    return p;
}

QWidget* progress(qreal value, const QColor& color)
{
    auto* line = new ProgressLine;
    line->setValue(value);
    line->setColor(color);
    line->setFixedWidth(160);
    return line;
}

QWidget* card(std::initializer_list<QWidget*> rows)
{
    // A settings card's panel, so the switches sit on the ground they have
    // in the window.
    class Panel : public QWidget {
    protected:
        void paintEvent(QPaintEvent*) override
        {
            QPainter p(this);
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(QPen(Theme::line(), Theme::stroke));
            p.setBrush(Theme::panel());
            p.drawPath(Paint::continuousRect(QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75), Theme::cardRadius));
        }
    };
    auto* panel = new Panel;
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (QWidget* w : rows)
        layout->addWidget(w);
    panel->setFixedWidth(440);
    return panel;
}

QWidget* detailLabel(const QString& title, const QString& detail)
{
    auto* host = new QWidget;
    auto* layout = new QVBoxLayout(host);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(3);
    QLabel* t = plainLabel(title);
    setProseStyle(t, Theme::prose(14), Theme::ink());
    QLabel* d = plainLabel(detail);
    setFootStyle(d, 12.5);
    layout->addWidget(t);
    layout->addWidget(d);
    return host;
}

// Every control of the kit in each of its states on one sheet, for a person
// to judge; the checks are what every control owes a user whatever it looks
// like: a name that assistive technology can read, and its contracted size.
TEST(KitSheet, showsEveryControlInEachState)
{
    QWidget sheet;
    sheet.setAutoFillBackground(true);
    auto* grid = new QGridLayout(&sheet);
    grid->setContentsMargins(30, 28, 30, 34);
    grid->setHorizontalSpacing(24);
    grid->setVerticalSpacing(18);
    int line = 0;
    auto add = [&](const char* caption, QWidget* content) {
        QLabel* name = plainLabel(QString::fromUtf8(caption));
        setLabelStyle(name, 10, QFont::Medium, Theme::dim());
        grid->addWidget(name, line, 0, Qt::AlignLeft | Qt::AlignVCenter);
        // No vertical alignment: an aligned item is held at its size hint and
        // would not grow for text that wraps.
        grid->addWidget(content, line, 1, Qt::AlignLeft);
        ++line;
    };

    const PillStyle ink{Theme::ink(), Theme::bg(), false, false};
    const PillStyle inkSmall{Theme::ink(), Theme::bg(), true, false};
    const PillStyle outline{std::nullopt, Theme::bg(), false, false};
    const PillStyle outlineSmall{std::nullopt, Theme::bg(), true, false};
    const Product reverb = sampleProduct("Reverb", "#7fb3a4", "#0e0e0f");
    const Product drive = sampleProduct("Drive", "#e0705c", "#f0efea");
    const Product dark = sampleProduct("Night", "#202024", "#f0efea");
    const PillStyle accent{accentColor(reverb), accentTextColor(reverb), false, false};

    QLabel* title = plainLabel(QStringLiteral("plugins"));
    title->setFont(Theme::bold(26, -1.17));
    QLabel* caption = plainLabel(QStringLiteral("On this computer · 3"));
    setLabelStyle(caption, 11, QFont::Medium, Theme::muted());
    QLabel* footnote = plainLabel(QStringLiteral("The install window starts with these. Linux hosts load VST3."));
    setFootStyle(footnote, 12.5);
    add("type", row({title, caption, footnote}, 20));

    Pill* focused = pill(QStringLiteral("Update all"), inkSmall);
    add("pill", row({pill(QStringLiteral("Install"), ink), pill(QStringLiteral("Install"), ink, true, true),
                     pill(QStringLiteral("Needs internet"), ink, false), pill(QStringLiteral("Update to 1.3.0"), accent),
                     pill(QStringLiteral("Open"), outline), pill(QStringLiteral("Open"), outline, true, true),
                     pill(QStringLiteral("Send feedback"), outline, false)}));
    add("pill small",
        row({pill(QStringLiteral("Update"), inkSmall), focused, pill(QStringLiteral("Update"), inkSmall, false),
             pill(QStringLiteral("Cancel"), outlineSmall), pill(QStringLiteral("← Plugins"), outlineSmall),
             pill(QStringLiteral("Show"), outlineSmall, false),
             pill(QStringLiteral("Get ↗"), PillStyle{accentColor(drive), accentTextColor(drive), true, false})}));
    Pill* wide = pill(QStringLiteral("Sign in"), PillStyle{Theme::ink(), Theme::bg(), false, true});
    wide->setFixedWidth(360);
    add("pill wide", wide);

    add("tag", row({new Tag(QStringLiteral("offline")), new Tag(QStringLiteral("new"), TagStyle{Theme::muted(), true}),
                    new Tag(QStringLiteral("up to date")), new Tag(QStringLiteral("not for this system"), TagStyle{Theme::warn(), false}),
                    new Tag(QStringLiteral("beta"), TagStyle{Theme::ink(), true})}));

    add("progress", row({progress(0, Theme::ink()), progress(0.01, accentColor(reverb)), progress(0.426, accentColor(reverb)),
                         progress(1, accentColor(drive)), progress(std::numeric_limits<qreal>::quiet_NaN(), Theme::ink())},
                        20));

    add("product mark",
        row({new ProductMark(reverb, true, 64), new ProductMark(reverb, false, 64), new ProductMark(drive, true, 48),
             new ProductMark(drive, false, 48), new ProductMark(dark, true, 48), new ProductMark(dark, false, 48),
             new ProductMark(sampleProduct("élan", nullptr, nullptr), true, 40),
             new ProductMark(sampleProduct("", nullptr, nullptr), false, 40)},
            16));

    auto* scope = new Segmented({{QStringLiteral("user"), QStringLiteral("Just me")},
                                 {QStringLiteral("allUsers"), QStringLiteral("Everyone")}});
    scope->setAccessibleName(QStringLiteral("Install for"));
    scope->setValue(QStringLiteral("user"));
    auto* kind = new Segmented({{QStringLiteral("idea"), QStringLiteral("idea")},
                                {QStringLiteral("bug"), QStringLiteral("bug")},
                                {QStringLiteral("love"), QStringLiteral("love")},
                                {QStringLiteral("question"), QStringLiteral("question")}});
    kind->setValue(QStringLiteral("love"));
    auto* disabledKind = new Segmented({{1, QStringLiteral("idea")}, {2, QStringLiteral("bug")}});
    disabledKind->setValue(1);
    disabledKind->setEnabled(false);
    add("segmented", row({scope, kind, disabledKind}, 20));

    auto* au = new RowSwitch(QStringLiteral("AU"), detailLabel(QStringLiteral("AU"),
                                                               QStringLiteral("For Macs only: no Linux host loads Audio Units")));
    au->setChecked(true);
    auto* vst = new RowSwitch(QStringLiteral("VST3"), detailLabel(QStringLiteral("VST3"),
                                                                  QStringLiteral("Ardour, Reaper, Bitwig, Qtractor, Carla, Waveform")));
    auto* locked = new RowSwitch(QStringLiteral("Check for updates when Tarnhub opens"));
    locked->setChecked(true);
    locked->setEnabled(false);
    add("row switch", row({card({au, vst, locked})}));

    auto* inkOn = new InkSwitch(QStringLiteral("Also remove settings and presets"));
    inkOn->setChecked(true);
    auto* inkOff = new InkSwitch(QStringLiteral("Also remove settings and presets"));
    inkOn->setFixedWidth(320);
    inkOff->setFixedWidth(320);
    add("ink switch", row({inkOn, inkOff}, 32));

    const auto opener = [](const QUrl&) {};
    add("external link",
        row({new ExternalLink(QStringLiteral("Release notes ↗"), QUrl(QStringLiteral("https://tarnaudio.example/changelog#hub")), opener),
             new ExternalLink(QStringLiteral("Email support ↗"), QUrl(QStringLiteral("mailto:support@tarnaudio.example")), opener)},
            16));

    auto* email = new TextInput(TextInput::Kind::Email, QStringLiteral("Email"));
    auto* password = new TextInput(TextInput::Kind::Password, QStringLiteral("Password"));
    password->setText(QStringLiteral("secret"));
    auto* code = new TextInput(TextInput::Kind::Code, QStringLiteral("Code"));
    code->setText(QStringLiteral("424242"));
    auto* wrong = new TextInput(TextInput::Kind::Email, QStringLiteral("Email"));
    wrong->setText(QStringLiteral("anna@example"));
    wrong->setError(true);
    for (TextInput* input : {email, password, code, wrong})
        input->setFixedWidth(200);
    add("text input", row({email, password, code, wrong}));

    add("logo · symbols", row({new Logo(64), new Logo(40), new SymbolStrip}, 20));

    PlainMenu menu;
    menu.addAction(QStringLiteral("Show in Files"));
    menu.addAction(QStringLiteral("Reinstall 1.2.0"));
    menu.addAction(QStringLiteral("Uninstall…"));
    menu.addSeparator();
    menu.addAction(QStringLiteral("Product page ↗"))->setEnabled(false);
    menu.addAction(QStringLiteral("All release notes ↗"));
    menu.setActiveAction(menu.actions().at(1));
    menu.ensurePolished();
    menu.adjustSize();
    auto* menuPicture = new QLabel;
    menuPicture->setPixmap(menu.grab());
    add("plain menu", menuPicture);

    // Wrapped texts need the height for the sheet's width, as a scroll area
    // gives it to its column.
    ASSERT_TRUE(sheet.hasHeightForWidth());
    sheet.resize(1180, sheet.heightForWidth(1180));
    sheet.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&sheet, Hub::Test::kPatience));
    focused->setFocus(Qt::TabFocusReason);
    sheet.setAttribute(Qt::WA_KeyboardFocusChange);

    for (QAbstractButton* button : sheet.findChildren<QAbstractButton*>()) {
        QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(button);
        ASSERT_NE(spoken, nullptr);
        EXPECT_FALSE(spoken->text(QAccessible::Name).isEmpty()) << button->metaObject()->className() << " has no name";
    }
    for (Pill* p : sheet.findChildren<Pill*>())
        EXPECT_EQ(p->height(), p->pillStyle().small ? 34 : 46) << p->text().toStdString();
    for (Segmented* s : sheet.findChildren<Segmented*>())
        EXPECT_EQ(s->height(), 30);
    for (RowSwitch* s : sheet.findChildren<RowSwitch*>())
        EXPECT_GE(s->height(), 52);

    Hub::Test::saveScreenshot(&sheet, QStringLiteral("kit-sheet"));
}

} // namespace
} // namespace Hub::Kit

#include "Views/Page/ProductPage.h"

#include "Views/Common/Accessibility.h"
#include "Views/Frame/Notices.h"
#include "Views/Page/Actions.h"
#include "Views/Page/FollowProduct.h"
#include "Views/Page/JobLine.h"
#include "Views/Page/Specs.h"
#include "Views/Page/WhatsNew.h"

#include "Kit/Color.h"
#include "Kit/Control.h"
#include "Kit/ElidedLabel.h"
#include "Kit/Pill.h"
#include "Kit/TextStyle.h"
#include "Kit/Theme.h"
#include "Model/HubModel.h"

#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QSet>
#include <QTextBoundaryFinder>
#include <QTextLayout>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace Hub::Views {

namespace {

constexpr qreal kTitleMax = 116;
constexpr qreal kTitleRoom = 580; // the width a long name is fitted to
constexpr qreal kTitleAdvance = 0.52; // a bold letter's width per point, roughly
constexpr qreal kTitleTracking = -0.07; // per point of the title's size
const QChar kThinSpace(0x2009);

int characters(const QString& text)
{
    int count = 0;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

QColor withOpacity(QColor color, qreal opacity)
{
    color.setAlphaF(float(opacity));
    return color;
}

// A label for one run of the status line: one line, upper case.
template<typename Label>
Label* statusRun(Label* label, const QString& name)
{
    label->setObjectName(name);
    label->setFont(Kit::Theme::mono(11, QFont::Medium, 0.55, true));
    label->setWordWrap(false);
    return label;
}

// Room around one block of the column.
QWidget* padded(QWidget* content, const QMargins& margins, QWidget* parent)
{
    auto* room = new QWidget(parent);
    auto* layout = new QVBoxLayout(room);
    layout->setContentsMargins(margins);
    layout->setSpacing(0);
    layout->addWidget(content);
    return room;
}

} // namespace

// The product's name, very large, in its accent: tightened by the size's
// tracking and closed by a thin space that is not, so the last letter
// keeps its room. It never wraps or cuts: the size counted from its letters
// fits most names, and one of wide letters that still runs past the column
// is drawn smaller until it fits, whole. A label, so assistive technology
// reads it as the page's heading.
class PageTitle : public QLabel {
public:
    explicit PageTitle(QWidget* parent)
        : QLabel(parent)
    {
        setObjectName(QStringLiteral("pageTitle"));
        setTextFormat(Qt::PlainText);
        setTextInteractionFlags(Qt::NoTextInteraction);
        setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
        markHeading(this);
    }

    void setTitle(const QString& title, const QColor& color)
    {
        if (title == m_title && color == m_color)
            return;
        m_title = title;
        m_color = color;
        const qreal size = ProductPage::titleSize(title);
        m_font = Kit::Theme::bold(size, kTitleTracking * size);
        m_closing = Kit::Theme::bold(size);
        setText(title);
        updateGeometry();
        update();
    }

    QSize sizeHint() const override
    {
        const QFontMetricsF tracked(m_font);
        const qreal width = tracked.horizontalAdvance(m_title) + QFontMetricsF(m_closing).horizontalAdvance(kThinSpace);
        return QSizeF(width, tracked.height()).toSize() + QSize(1, 1);
    }
    QSize minimumSizeHint() const override { return {1, sizeHint().height()}; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::TextAntialiasing);
        const qreal natural = sizeHint().width();
        if (natural > width())
            p.scale(width() / natural, width() / natural);
        p.setPen(m_color);
        p.setFont(m_font);
        p.drawText(QPointF(0, QFontMetricsF(m_font).ascent()), m_title);
    }

private:
    QString m_title;
    QColor m_color;
    QFont m_font;
    QFont m_closing;
};

// The tagline: prose that wraps onto as many lines as it needs, with room
// between its lines. A plain-text label, so a tagline with markup shows it
// as written and a screen reader reads it.
class Tagline : public QLabel {
public:
    static constexpr qreal kLeading = 3;

    explicit Tagline(QWidget* parent)
        : QLabel(parent)
    {
        setObjectName(QStringLiteral("tagline"));
        setTextFormat(Qt::PlainText);
        setTextInteractionFlags(Qt::NoTextInteraction);
        setWordWrap(true);
        QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Minimum);
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
    }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override
    {
        QTextLayout layout;
        return int(std::ceil(lay(layout, width).height()));
    }
    QSize sizeHint() const override
    {
        QTextLayout layout;
        const QSizeF one = lay(layout, QWIDGETSIZE_MAX);
        return QSize(int(std::ceil(one.width())), int(std::ceil(one.height())));
    }
    // One line: the layout asks heightForWidth() for the rest once it knows
    // the width, and a minimum worked out at some earlier width would stick.
    QSize minimumSizeHint() const override { return QSize(0, int(std::ceil(QFontMetricsF(font()).height()))); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setPen(palette().color(QPalette::WindowText));
        QTextLayout layout;
        lay(layout, width());
        layout.draw(&p, QPointF(0, 0));
    }

private:
    // Breaks the text into lines of `width`; returns the room they take.
    QSizeF lay(QTextLayout& layout, qreal width) const
    {
        layout.setText(text());
        layout.setFont(font());
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        qreal y = 0;
        qreal widest = 0;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            line.setPosition(QPointF(0, y));
            y += line.height() + kLeading;
            widest = std::max(widest, line.naturalTextWidth());
        }
        layout.endLayout();
        return QSizeF(widest, std::max<qreal>(0, y - kLeading));
    }
};

ProductPage::ProductPage(HubModel* model, const QString& productID, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_productID(productID)
{
    setObjectName(QStringLiteral("productPage"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    installViewAccessibility();
    QWidget* columnWidget = scrolledColumn();

    m_column = new QVBoxLayout(columnWidget);
    m_column->setContentsMargins(0, 0, 0, 0);
    m_column->setSpacing(0);

    m_back = new Kit::Pill(QStringLiteral("← Plugins"), {std::nullopt, Kit::Theme::bg(), true, false}, columnWidget);
    m_back->setObjectName(QStringLiteral("backPill"));
    connect(m_back, &QAbstractButton::clicked, this, [this] { m_model->setPage(std::nullopt); });
    m_column->addWidget(m_back, 0, Qt::AlignLeft);

    m_title = new PageTitle(columnWidget);
    m_column->addWidget(padded(m_title, {0, 26, 0, 10}, columnWidget), 0, Qt::AlignLeft);

    m_column->addWidget(statusLine(columnWidget));

    m_tagline = new Tagline(columnWidget);
    m_tagline->setFont(Kit::Theme::prose(15));
    Kit::setTextColor(m_tagline, withOpacity(Kit::Theme::ink(), 0.9));
    m_column->addWidget(m_tagline);

    m_actions = new Actions(model, productID, columnWidget);
    m_column->addWidget(padded(m_actions, {0, 18, 0, 16}, columnWidget));

    m_jobLine = new JobLine(columnWidget);
    m_jobLine->setObjectName(QStringLiteral("pageJobLine"));
    m_jobRoom = padded(m_jobLine, {0, 0, 0, 18}, columnWidget);
    m_column->addWidget(m_jobRoom);

    m_legacyRoom = padded(new LegacyNotice(model, productID, false, columnWidget), {0, 0, 0, 18}, columnWidget);
    m_column->addWidget(m_legacyRoom);

    m_mismatch = Kit::plainLabel(QString(), columnWidget);
    m_mismatch->setObjectName(QStringLiteral("versionMismatch"));
    Kit::setProseStyle(m_mismatch, Kit::Theme::prose(13), Kit::Theme::warn());
    m_mismatch->setContentsMargins(0, 0, 0, 16);
    m_column->addWidget(m_mismatch);

    m_column->addWidget(new Specs(model, productID, columnWidget));
    m_column->addStretch(1);

    followProduct(model, this, productID, [this] { sync(); });
    sync();
}

// A column of at most the page's width, centred on a wide window and
// scrolled when the window is short.
QWidget* ProductPage::scrolledColumn()
{
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("pageScroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    // As in a tab: Tab goes from the top bar straight to the back pill, and
    // the scroll area brings whatever Tab reaches into view.
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Kit::Theme::quietScrollBar(scroll);
    // The page paints its tint; the scrolled content lies on it.
    scroll->viewport()->setAutoFillBackground(false);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);

    auto* holder = new QWidget;
    auto* centre = new QHBoxLayout(holder);
    centre->setContentsMargins(Kit::Theme::pageMargins);
    centre->setSpacing(0);
    auto* columnWidget = new QWidget(holder);
    columnWidget->setObjectName(QStringLiteral("pageColumn"));
    columnWidget->setMaximumWidth(Kit::Theme::pageColumnWidth);
    columnWidget->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    centre->addSpacerItem(new QSpacerItem(0, 0, QSizePolicy::Preferred, QSizePolicy::Minimum));
    centre->addWidget(columnWidget);
    centre->addSpacerItem(new QSpacerItem(0, 0, QSizePolicy::Preferred, QSizePolicy::Minimum));
    scroll->setWidget(holder);
    // The scroll area fills what it holds with the theme's ground; the
    // product's tint must show through.
    holder->setAutoFillBackground(false);

    return columnWidget;
}

QWidget* ProductPage::statusLine(QWidget* columnWidget)
{
    auto* status = m_status = new QWidget(columnWidget);
    status->setObjectName(QStringLiteral("statusLine"));
    markReadAsOne(status);
    auto* statusRow = new QHBoxLayout(status);
    statusRow->setContentsMargins(0, 0, 0, 16);
    statusRow->setSpacing(0);
    // The name gives way to the status word: a long name is shortened with
    // an ellipsis, never clipped or pushed past the column.
    m_statusName = statusRun(new Kit::ElidedLabel(QString(), Qt::ElideRight, status), QStringLiteral("statusName"));
    m_statusName->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    m_statusSeparator = statusRun(Kit::plainLabel(QString(), status), QStringLiteral("statusSeparator"));
    m_statusSeparator->setText(QStringLiteral(" _ "));
    m_statusWord = statusRun(Kit::plainLabel(QString(), status), QStringLiteral("statusWord"));
    Kit::setTextColor(m_statusName, Kit::Theme::ink());
    Kit::setTextColor(m_statusWord, Kit::Theme::ink());
    statusRow->addWidget(m_statusName);
    statusRow->addWidget(m_statusSeparator);
    statusRow->addWidget(m_statusWord);
    statusRow->addStretch(1);
    return status;
}

qreal ProductPage::titleSize(const QString& title)
{
    return std::min(kTitleMax, kTitleRoom / (kTitleAdvance * std::max(1, characters(title))));
}

std::optional<QString> ProductPage::mismatch(const HubModel& model, const Product& product)
{
    const QList<InstalledFormat> installed = model.state(product).installed;
    // The standalone application may lag behind the plug-ins harmlessly;
    // only plug-ins a DAW loads count.
    QSet<QString> versions;
    for (const InstalledFormat& copy : installed)
        if (copy.format != PluginFormat::app)
            versions.insert(copy.version);
    if (versions.size() < 2)
        return std::nullopt;
    QStringList items;
    for (const InstalledFormat& copy : installed)
        items.append(model.abbreviated(copy.path) + u' ' + copy.version);
    return QStringLiteral("Different versions are installed (") + items.join(QStringLiteral(", "))
           + QStringLiteral("). Your DAW may load the old one.");
}

void ProductPage::paintEvent(QPaintEvent*)
{
    const Product* product = m_model->product(m_productID);
    QPainter p(this);
    p.fillRect(rect(), product ? Kit::tintColor(*product) : Kit::Theme::bg());
}

void ProductPage::sync()
{
    // The frame takes the page away when its product leaves the catalog.
    const Product* product = m_model->product(m_productID);
    if (!product)
        return;
    const QColor accent = Kit::accentColor(*product);
    const QString title = product->shown();
    const ProductState state = m_model->state(*product);

    m_title->setTitle(title, accent);
    m_statusName->setText(title);
    Kit::setTextColor(m_statusSeparator, accent);
    m_statusWord->setText(m_model->statusWord(*product));
    Kit::setSpokenName(m_status, Kit::spokenTitle(title + QStringLiteral(", ") + m_statusWord->text()));
    m_tagline->setText(product->tagline);

    m_jobLine->setJob(state.job, accent);
    m_jobRoom->setVisible(state.job.kind != Job::Kind::idle);

    // Old copies for all users have a notice of their own, which names the
    // version of each; the mismatch sentence only speaks when there are none.
    // The notice keeps quiet while a job runs, and its room goes with it.
    const bool legacy = !m_model->legacyCopies(*product).isEmpty();
    m_legacyRoom->setVisible(LegacyNotice::sentence(*m_model, m_productID, false).has_value());
    const std::optional<QString> sentence = legacy ? std::nullopt : mismatch(*m_model, *product);
    m_mismatch->setText(sentence.value_or(QString()));
    m_mismatch->setVisible(sentence.has_value());

    QString key;
    if (m_model->hasUpdate(*product) && product->release) {
        const QString& version = product->release->version;
        key = version + u'\n' + WhatsNew::lines(*product, version).join(u'\n');
    }
    if (key != m_whatsNewKey) {
        m_whatsNewKey = key;
        if (m_whatsNew) {
            m_column->removeWidget(m_whatsNew);
            m_whatsNew->hide();
            m_whatsNew->deleteLater();
        }
        m_whatsNew = nullptr;
        if (!key.isEmpty()) {
            m_whatsNew = new WhatsNew(*product, product->release->version, [model = m_model](const QUrl& url) {
                model->openLink(url);
            });
            // Last in the column, above the stretch that keeps it to the top.
            m_column->insertWidget(m_column->count() - 1, m_whatsNew);
        }
    }
}

} // namespace Hub::Views

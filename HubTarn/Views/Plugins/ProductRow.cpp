#include "Views/Plugins/ProductRow.h"

#include "Views/Page/JobLine.h"

#include "Kit/Animation.h"
#include "Kit/Color.h"
#include "Kit/Control.h"
#include "Kit/Paint.h"
#include "Kit/Pill.h"
#include "Kit/ProgressLine.h"
#include "Kit/Spinner.h"
#include "Kit/Symbols.h"
#include "Kit/TextStyle.h"
#include "Kit/Theme.h"
#include "Model/HubModel.h"

#include "Base/Config.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QFontMetricsF>
#include <QHelpEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QTextLayout>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace Hub::Views {

namespace {

// The row's fonts, made once: a long list paints many rows.
struct RowFonts {
    QFont name;
    QFont caption;
    QFont tag;
    QFont context;
};

const RowFonts& fonts(const ProductRowStyle& style)
{
    static const RowFonts made{Kit::Theme::bold(style.nameSize, style.nameTracking),
                               Kit::label(style.captionSize, QFont::Medium), Kit::label(style.tagSize, QFont::DemiBold),
                               Kit::Theme::prose(style.contextSize)};
    return made;
}

constexpr int kProgressWidth = 112;
constexpr int kProgressHeight = 34;

bool drawsJobLine(RowContextKind kind)
{
    return kind == RowContextKind::failure || kind == RowContextKind::warning || kind == RowContextKind::done;
}

// A screen reader hears the row as a button named by the model's sentence,
// with the context's sentence (a tagline, an update's note, how a job
// ended) as its description, which AT-SPI reads and a button's value is
// not, and where it leads as its help (and its description when it has no
// context).
class RowAccessible : public QAccessibleWidget {
public:
    explicit RowAccessible(ProductRow* row)
        : QAccessibleWidget(row, QAccessible::Button)
    {
        addControllingSignal(QStringLiteral("activated()"));
    }

    QString text(QAccessible::Text t) const override
    {
        auto* row = static_cast<ProductRow*>(widget());
        switch (t) {
        case QAccessible::Name:
            return row->accessibleName();
        case QAccessible::Description: {
            const QString context = row->property("spokenContext").toString();
            return context.isEmpty() ? QStringLiteral("Opens its page") : context;
        }
        case QAccessible::Help:
            return QStringLiteral("Opens its page");
        default:
            return QAccessibleWidget::text(t);
        }
    }

    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& action) override
    {
        if (action == pressAction())
            Q_EMIT static_cast<ProductRow*>(widget())->activated();
    }
};

QAccessibleInterface* rowAccessible(const QString&, QObject* object)
{
    if (auto* row = qobject_cast<ProductRow*>(object))
        return new RowAccessible(row);
    return nullptr;
}

} // namespace

// ---- TileProgress -------------------------------------------------------------

TileProgress::TileProgress(QWidget* parent)
    : QWidget(parent)
    , m_line(new Kit::ProgressLine(this))
    , m_spinner(new Kit::Spinner(this))
{
    setObjectName(QStringLiteral("tileProgress"));
    setFixedSize(kProgressWidth, kProgressHeight);
    const int lineHeight = m_line->sizeHint().height();
    m_line->setGeometry(0, (kProgressHeight - lineHeight) / 2, kProgressWidth, lineHeight);
    const QSize spin = m_spinner->sizeHint();
    m_spinner->setGeometry(0, (kProgressHeight - spin.height()) / 2, spin.width(), spin.height());
    m_spinner->hide();
}

void TileProgress::setJob(const Job& job, const QColor& color)
{
    const bool removing = job.kind == Job::Kind::removing;
    m_spinner->setVisible(removing);
    m_line->setVisible(!removing);
    m_line->setColor(color);
    m_line->setValue(job.kind == Job::Kind::downloading ? job.fraction : 1.0);
}

QSize TileProgress::sizeHint() const { return QSize(kProgressWidth, kProgressHeight); }

std::optional<qreal> TileProgress::value() const
{
    return m_line->isHidden() ? std::nullopt : std::optional<qreal>(m_line->value());
}

// ---- ProductRow -----------------------------------------------------------------

ProductRow::ProductRow(HubModel* model, const QString& productID, std::function<void()> acted, QWidget* parent)
    : ListRow(model, productID, parent)
    , m_acted(std::move(acted))
    , m_hoverTween(new Kit::Tween(this, 0))
{
    static const bool accessible = [] {
        QAccessible::installFactory(rowAccessible);
        return true;
    }();
    Q_UNUSED(accessible);
    setObjectName(QStringLiteral("row-") + productID);
    setAttribute(Qt::WA_Hover);
    setMouseTracking(true);
    setCursor(Qt::PointingHandCursor);
    // Made now, hidden, so it takes its place in the keyboard's order.
    m_action = new Kit::Pill(QString(), {}, this);
    m_action->setObjectName(QStringLiteral("rowAction"));
    m_action->hide();
    connect(m_action, &QAbstractButton::clicked, this, &ProductRow::press);
    connect(this, &ListRow::activated, this, &ProductRow::open);
    connect(model, &HubModel::offlineChanged, this, &ProductRow::sync);
}

QSize ProductRow::sizeHint() const
{
    const int fixed = m_style.leading + int(m_style.tile) + m_style.tileGap + m_style.textWidth
                      + m_style.contextLeading + m_style.actionLeading + m_style.actionMinWidth + m_style.chevronWidth;
    return QSize(fixed + 200, m_style.minHeight);
}

QSize ProductRow::minimumSizeHint() const { return QSize(sizeHint().width() - 200, m_style.minHeight); }

QString ProductRow::spokenText() const
{
    const Product* shown = product();
    return shown ? model()->spoken(*shown) : QString();
}

RowActionTexts ProductRow::actionTexts(const HubModel& model, const Product& product, RowAction action)
{
    const QString version = product.release ? product.release->version : QString();
    const QString needsInternet = QStringLiteral("Needs internet");
    switch (action) {
    case RowAction::update:
        return {QStringLiteral("Update"), QStringLiteral("Update ") + product.shown() + QStringLiteral(" to ") + version,
                model.offline() ? needsInternet : QStringLiteral("Update to ") + version};
    case RowAction::install:
        return {QStringLiteral("Install"), QStringLiteral("Install ") + product.shown(),
                model.offline() ? needsInternet : QString()};
    case RowAction::get:
        return {QStringLiteral("Get ↗"), QStringLiteral("Get ") + product.shown() + QStringLiteral(" on ") + Config::site().host(),
                QString()};
    }
    return {};
}

bool ProductRow::badge(const Product& product, const Job& job) const
{
    return model()->hasUpdate(product) && !job.isWorking();
}

QString ProductRow::contextText() const
{
    const Product* shown = product();
    return shown ? model()->rowContext(*shown).text : QString();
}

QString ProductRow::captionText() const
{
    const Product* shown = product();
    if (!shown)
        return {};
    const Job job = model()->state(*shown).job;
    if (job.isWorking())
        return job.shortText();
    const Caption caption = model()->caption(*shown);
    return caption.tag ? *caption.tag + u' ' + caption.text : caption.text;
}

void ProductRow::sync()
{
    const Product* shown = product();
    const Job job = shown ? model()->state(*shown).job : Job::idle();
    const QColor accent = shown ? Kit::accentColor(*shown) : Kit::Theme::ink();
    const std::optional<RowAction> action = shown && !job.isWorking() ? model()->rowAction(*shown) : std::nullopt;

    if (action) {
        const RowActionTexts texts = actionTexts(*model(), *shown, *action);
        // The titles are the row's own words, never the catalog's.
        m_action->setText(texts.title);
        Kit::setSpokenName(m_action, texts.spoken);
        m_action->setToolTip(texts.help);
        m_action->setPillStyle({accent, Kit::accentTextColor(*shown), true, false});
        m_action->setEnabled(*action == RowAction::get || !model()->offline());
        m_action->show();
    } else {
        // The row keeps the focus its own button had while the job works
        // (the window's, too, while a sheet is up): the keyboard stays on
        // this product instead of jumping to the next row.
        if (m_action->isVisible() && window()->focusWidget() == m_action)
            setFocus(Qt::OtherFocusReason);
        m_action->hide();
    }
    m_shownAction = action;

    if (job.isWorking()) {
        if (!m_progress)
            m_progress = new TileProgress(this);
        m_progress->setJob(job, accent);
        m_progress->show();
    } else if (m_progress) {
        m_progress->hide();
    }

    const RowContext context = shown ? model()->rowContext(*shown) : RowContext{};
    if (shown && drawsJobLine(context.kind)) {
        if (!m_jobLine) {
            m_jobLine = new JobLine(this);
            m_jobLine->setObjectName(QStringLiteral("rowJobLine"));
            // Two lines at most: the whole message is the column's help text.
            if (auto* message = m_jobLine->findChild<QLabel*>(QStringLiteral("jobMessage")))
                message->setMaximumHeight(int(std::ceil(QFontMetricsF(message->font()).lineSpacing() * m_style.contextLines)));
        }
        m_jobLine->setJob(job, accent);
        m_jobLine->setToolTip(Kit::plainToolTip(context.text));
        m_jobLine->show();
    } else if (m_jobLine) {
        m_jobLine->hide();
    }
    const QString spokenContext = context.spoken.value_or(QString());
    if (property("spokenContext").toString() != spokenContext) {
        setProperty("spokenContext", spokenContext);
        // A job's outcome is news: the reader hears the new description.
        if (QAccessible::isActive()) {
            QAccessibleEvent changed(this, QAccessible::DescriptionChanged);
            QAccessible::updateAccessibility(&changed);
        }
    }
    place();
    Kit::setSpokenName(this, spokenText());

    // Only what changed is drawn again: a download tick changes the job's
    // word under the name (its progress line redraws itself).
    Look look;
    if (shown) {
        const Caption caption = model()->caption(*shown);
        look = {shown->shown(), !model()->state(*shown).installed.isEmpty(), badge(*shown, job),
                job.isWorking() ? job.shortText() : caption.tag.value_or(QString()) + u'|' + caption.text,
                caption.strong && !job.isWorking(), context.text, drawsJobLine(context.kind), accent};
    }
    if (look == m_look)
        return;
    const bool wordOnly = look.name == m_look.name && look.filled == m_look.filled && look.badge == m_look.badge
                          && look.context == m_look.context && look.jobLine == m_look.jobLine
                          && look.accent == m_look.accent;
    m_look = look;
    if (wordOnly) {
        const int x = m_style.leading + int(m_style.tile) + m_style.tileGap;
        update(QRect(x, 0, m_style.textWidth, height()));
    } else {
        update();
    }
}

void ProductRow::press()
{
    const Product* shown = product();
    if (!shown || !m_shownAction)
        return;
    switch (*m_shownAction) {
    case RowAction::update:
        if (m_acted)
            m_acted();
        model()->requestInstall(*shown, model()->updateFormats(*shown), model()->scope());
        return;
    case RowAction::install:
        if (m_acted)
            m_acted();
        model()->setSheet(Sheet::install(shown->id));
        return;
    case RowAction::get:
        if (shown->pageURL) {
            const QUrl url(*shown->pageURL, QUrl::StrictMode);
            if (url.isValid() && (url.scheme() == u"https" || url.scheme() == u"http"))
                model()->openLink(url);
        }
        return;
    }
}

void ProductRow::open() { model()->setPage(productID()); }

QRect ProductRow::actionRect() const
{
    const int content = std::max(m_style.actionMinWidth, !m_action->isHidden() ? m_action->sizeHint().width() : 0);
    const int width = m_style.actionLeading + content;
    return QRect(this->width() - m_style.chevronWidth - width, 0, width, height());
}

QRect ProductRow::contextRect() const
{
    const int left = m_style.leading + int(m_style.tile) + m_style.tileGap + m_style.textWidth + m_style.contextLeading;
    return QRect(left, 0, std::max(0, actionRect().left() - left), height());
}

void ProductRow::place()
{
    const QRect action = actionRect().adjusted(m_style.actionLeading, 0, 0, 0);
    if (!m_action->isHidden()) {
        const QSize size = m_action->sizeHint();
        m_action->setGeometry(action.right() + 1 - size.width(), (height() - size.height()) / 2, size.width(), size.height());
    }
    if (m_progress && !m_progress->isHidden())
        m_progress->move(action.right() + 1 - std::max(action.width(), kProgressWidth), (height() - kProgressHeight) / 2);
    if (m_jobLine && !m_jobLine->isHidden()) {
        const QRect context = contextRect();
        const int h = std::min(m_jobLine->heightForWidth(context.width()) > 0 ? m_jobLine->heightForWidth(context.width())
                                                                             : m_jobLine->sizeHint().height(),
                               height());
        m_jobLine->setGeometry(context.left(), (height() - h) / 2, context.width(), h);
    }
}

void ProductRow::resizeEvent(QResizeEvent* event)
{
    ListRow::resizeEvent(event);
    place();
}

void ProductRow::enterEvent(QEnterEvent* event)
{
    ListRow::enterEvent(event);
    m_hover = true;
    m_hoverTween->animateTo(1, Kit::Theme::hoverMs);
}

void ProductRow::leaveEvent(QEvent* event)
{
    ListRow::leaveEvent(event);
    m_hover = false;
    m_hoverTween->animateTo(0, Kit::Theme::hoverMs);
}

void ProductRow::mousePressEvent(QMouseEvent* event)
{
    m_pressed = event->button() == Qt::LeftButton;
    event->accept();
}

void ProductRow::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click = m_pressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    m_pressed = false;
    event->accept();
    if (click)
        open();
}

bool ProductRow::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const Product* shown = product();
        QString tip;
        if (shown && contextRect().contains(help->pos())) {
            tip = Kit::plainToolTip(model()->rowContext(*shown).text);
        } else if (shown && help->pos().x() < contextRect().left()
                   && badge(*shown, model()->state(*shown).job)) {
            tip = Kit::plainToolTip(QStringLiteral("Update available: ")
                                    + (shown->release ? shown->release->version : QString()));
        }
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), tip, this);
        return true;
    }
    return ListRow::event(event);
}

void ProductRow::paintEvent(QPaintEvent*)
{
    const Product* shown = product();
    if (!shown)
        return;
    const qreal hover = m_hoverTween->value();
    QPainter p(this);
    const auto* list = qobject_cast<const RowList*>(parentWidget());
    if (hover > 0) {
        // The first and the last row of a card follow its rounded corners.
        QRectF ground = rect();
        const qreal beyond = 2 * Kit::Theme::cardRadius;
        if (!list || !list->isFirst(this))
            ground.setTop(-beyond);
        if (!list || !list->isLast(this))
            ground.setBottom(height() + beyond);
        p.save();
        p.setRenderHint(QPainter::Antialiasing);
        p.setClipRect(rect());
        p.fillPath(Kit::Paint::continuousRect(ground, Kit::Theme::cardRadius),
                   Kit::Paint::mix(Qt::transparent, Kit::Theme::raised(), hover));
        p.restore();
    }
    // The card's divider above every row but the first, drawn by the row
    // itself: a long list keeps half the widgets.
    if (list && !list->isFirst(this))
        p.fillRect(QRectF(Kit::Theme::cardPadding, 0, width() - Kit::Theme::cardPadding, Kit::Theme::hairline),
                   Kit::Theme::line());
    const ProductState state = model()->state(*shown);

    const QRectF tile(m_style.leading, (height() - m_style.tile) / 2, m_style.tile, m_style.tile);
    Kit::Paint::productMark(p, tile, *shown, !state.installed.isEmpty());
    if (badge(*shown, state.job))
        paintBadge(p, tile.topRight() + QPointF(m_style.badgeShift, -m_style.badgeShift));

    paintText(p, *shown, state.job);

    const QRect context = contextRect();
    const RowContext said = model()->rowContext(*shown);
    if (!drawsJobLine(said.kind) && context.width() > 0) {
        const QFont& font = fonts(m_style).context;
        const QFontMetricsF metrics(font);
        const QStringList& lines = contextLines(said.text, context.width());
        const qreal lineHeight = metrics.lineSpacing();
        qreal y = (height() - lineHeight * lines.size()) / 2;
        p.setFont(font);
        p.setPen(Kit::Theme::muted());
        for (const QString& line : lines) {
            p.drawText(QPointF(context.left(), y + metrics.ascent()), line);
            y += lineHeight;
        }
    }

    const QRectF chevron(width() - m_style.chevronWidth, 0, m_style.chevronWidth, height());
    const QRectF box(chevron.center().x() - m_style.chevronSize / 2, chevron.center().y() - m_style.chevronSize / 2,
                     m_style.chevronSize, m_style.chevronSize);
    p.setRenderHint(QPainter::Antialiasing);
    Kit::Symbols::draw(p, Kit::Symbols::chevronRight(box), Kit::Paint::mix(Kit::Theme::dim(), Kit::Theme::ink(), hover),
                       Kit::Symbols::lineWidth(m_style.chevronSize));
    if (Kit::keyboardFocus(this))
        Kit::Paint::focusRing(p, Kit::Paint::continuousRect(QRectF(rect()).adjusted(2, 2, -2, -2), Kit::Theme::rowRadius),
                              Kit::Theme::ink());
}

// The context wrapped onto two lines at most, the rest cut with an ellipsis
// (the help text keeps it whole). Kept until the text or the width changes:
// a download tick repaints the row without new lines.
const QStringList& ProductRow::contextLines(const QString& text, int width)
{
    if (m_lines.text == text && m_lines.width == width)
        return m_lines.lines;
    const QFont& font = fonts(m_style).context;
    const QFontMetricsF metrics(font);
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList lines;
    layout.beginLayout();
    for (int i = 0; i < m_style.contextLines; ++i) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        QString shown = text.mid(line.textStart(), line.textLength());
        if (i == m_style.contextLines - 1 && line.textStart() + line.textLength() < text.size())
            shown = metrics.elidedText(text.mid(line.textStart()), Qt::ElideRight, width);
        lines.append(shown.trimmed());
    }
    layout.endLayout();
    m_lines = {text, width, lines};
    return m_lines.lines;
}

void ProductRow::paintText(QPainter& p, const Product& product, const Job& job)
{
    const RowFonts& f = fonts(m_style);
    const QFontMetricsF nameMetrics(f.name);
    const QFontMetricsF captionMetrics(f.caption);
    const qreal x = m_style.leading + m_style.tile + m_style.tileGap;
    const qreal total = nameMetrics.height() + m_style.textSpacing + captionMetrics.height();
    const qreal top = (height() - total) / 2;
    p.setFont(f.name);
    p.setPen(Kit::Theme::ink());
    p.drawText(QPointF(x, top + nameMetrics.ascent()),
               nameMetrics.elidedText(product.shown(), Qt::ElideRight, m_style.textWidth));
    const QPointF under(x, top + nameMetrics.height() + m_style.textSpacing);
    if (job.isWorking()) {
        p.setFont(f.caption);
        p.setPen(Kit::Theme::muted());
        p.drawText(QPointF(under.x(), under.y() + captionMetrics.ascent()),
                   captionMetrics.elidedText(job.shortText(), Qt::ElideRight, m_style.textWidth));
    } else {
        paintCaption(p, under, model()->caption(product));
    }
}

void ProductRow::paintCaption(QPainter& p, const QPointF& at, const Caption& caption)
{
    const RowFonts& f = fonts(m_style);
    const QFontMetricsF metrics(f.caption);
    qreal x = at.x();
    const qreal centre = at.y() + metrics.height() / 2;
    if (caption.tag) {
        const QFontMetricsF tagMetrics(f.tag);
        const QSizeF text(tagMetrics.horizontalAdvance(caption.tag->toUpper()), tagMetrics.height());
        const QRectF box(x, centre - text.height() / 2 - m_style.tagPadding.top(),
                         text.width() + m_style.tagPadding.left() + m_style.tagPadding.right(),
                         text.height() + m_style.tagPadding.top() + m_style.tagPadding.bottom());
        p.save();
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(Kit::Theme::ink());
        p.drawPath(Kit::Paint::continuousRect(box, m_style.tagRadius));
        p.restore();
        p.setFont(f.tag);
        p.setPen(Kit::Theme::bg());
        p.drawText(box, Qt::AlignCenter, *caption.tag);
        x = box.right() + m_style.captionSpacing;
    }
    p.setFont(f.caption);
    p.setPen(caption.strong ? Kit::Theme::ink() : Kit::Theme::muted());
    const qreal room = at.x() + m_style.textWidth - x;
    p.drawText(QPointF(x, centre - metrics.height() / 2 + metrics.ascent()),
               metrics.elidedText(caption.text, Qt::ElideRight, room));
}

void ProductRow::paintBadge(QPainter& p, const QPointF& topTrailing)
{
    const qreal ring = m_style.badge * 0.125;
    const qreal outer = m_style.badge + 2 * ring;
    const QRectF whole(topTrailing.x() - outer, topTrailing.y(), outer, outer);
    const QRectF disc = whole.adjusted(ring, ring, -ring, -ring);
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(Kit::Paint::mix(Kit::Theme::panel(), Kit::Theme::raised(), m_hoverTween->value()));
    p.drawEllipse(whole);
    p.setBrush(Kit::Theme::ink());
    p.drawEllipse(disc);
    const qreal glyph = m_style.badge * 0.5;
    const QRectF box(disc.center().x() - glyph / 2, disc.center().y() - glyph / 2, glyph, glyph);
    Kit::Symbols::draw(p, Kit::Symbols::arrowDown(box), Kit::Theme::bg(), Kit::Symbols::lineWidth(glyph) * m_style.badgeWeight);
    p.restore();
}

} // namespace Hub::Views

#include "Badges.h"

#include "ElidedLabel.h"

#include "Kit/Animation.h"
#include "Kit/Control.h"
#include "Kit/Paint.h"
#include "Kit/Symbols.h"
#include "Kit/TextStyle.h"
#include "Kit/Theme.h"
#include "Model/HubModel.h"

#include <QFontMetricsF>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include <cmath>

namespace Hub::Views {

namespace {

constexpr int kRefreshSide = 34;
// The arrow's way back to rest after a spin: a short ease in and out.
constexpr int kSettleMs = 350;

} // namespace

// ---- RefreshButton ----------------------------------------------------------

RefreshButton::RefreshButton(HubModel* model, QWidget* parent)
    : QAbstractButton(parent)
    , m_model(model)
    , m_turn(new Kit::Tween(this))
{
    Kit::setupButton(this);
    setObjectName(QStringLiteral("refreshButton"));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setToolTip(QStringLiteral("Check for updates (Ctrl+R)"));
    setAccessibleName(QStringLiteral("Check for updates"));
    setEnabled(!model->offline());
    connect(model, &HubModel::offlineChanged, this, [this] { setEnabled(!m_model->offline()); });
    connect(model, &HubModel::loadingChanged, this, [this] {
        if (!m_model->loading())
            setRefreshing(false);
    });
    connect(this, &QAbstractButton::clicked, this, &RefreshButton::press);
}

qreal RefreshButton::angle() const { return std::fmod(m_turn->value(), 360.0); }

QSize RefreshButton::sizeHint() const { return QSize(kRefreshSide, kRefreshSide); }

void RefreshButton::press()
{
    if (m_refreshing)
        return;
    // A refresh that is already running makes this call return at once; the
    // arrow then has nothing of its own to wait for.
    const bool alreadyRunning = m_model->loading();
    m_model->refresh(true);
    if (!alreadyRunning && m_model->loading())
        setRefreshing(true);
}

void RefreshButton::setRefreshing(bool on)
{
    if (on == m_refreshing)
        return;
    m_refreshing = on;
    if (on)
        m_turn->loop(0, 360, Kit::Theme::spinMs);
    else
        // Forward to the next full turn, which is the rest position.
        m_turn->animateTo(std::ceil(m_turn->value() / 360.0) * 360.0, kSettleMs, QEasingCurve::InOutCubic);
}

void RefreshButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setOpacity(Kit::stateOpacity(this));
    const QRectF r(rect());
    const qreal half = Kit::Theme::stroke / 2;
    p.setPen(QPen(Kit::Theme::strong(), Kit::Theme::stroke));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(r.adjusted(half, half, -half, -half));
    p.translate(r.center());
    p.rotate(angle());
    const qreal size = 13;
    const QRectF box(-size / 2, -size / 2, size, size);
    Kit::Symbols::draw(p, Kit::Symbols::arrowClockwise(box), Kit::Theme::ink(), Kit::Symbols::lineWidth(size));
    p.resetTransform();
    if (Kit::keyboardFocus(this))
        Kit::Paint::focusRing(p, Kit::Paint::capsule(r.adjusted(4, 4, -4, -4)), Kit::Theme::ink());
}

bool RefreshButton::hitButton(const QPoint& pos) const
{
    return Kit::Paint::capsule(QRectF(rect())).contains(QPointF(pos) + QPointF(0.5, 0.5));
}

// ---- CountBadge -------------------------------------------------------------

namespace {
QFont badgeFont() { return Kit::Theme::mono(10, QFont::Bold); }
} // namespace

CountBadge::CountBadge(int count, bool onInk, QWidget* parent)
    : QWidget(parent)
    , m_count(count)
    , m_onInk(onInk)
{
    setObjectName(QStringLiteral("countBadge"));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void CountBadge::set(int count, bool onInk)
{
    if (count == m_count && onInk == m_onInk)
        return;
    m_count = count;
    m_onInk = onInk;
    updateGeometry();
    update();
}

QString CountBadge::text() const { return m_count < 10 ? QString::number(m_count) : QStringLiteral("9+"); }

QSize CountBadge::sizeHint() const
{
    const qreal width = QFontMetricsF(badgeFont()).horizontalAdvance(text()) + 10;
    return QSize(std::max(18, int(std::ceil(width))), 18);
}

void CountBadge::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor fill = m_onInk ? Kit::Theme::bg() : Kit::Theme::ink();
    const QColor text = m_onInk ? Kit::Theme::ink() : Kit::Theme::bg();
    p.fillPath(Kit::Paint::capsule(QRectF(rect())), fill);
    p.setFont(badgeFont());
    p.setPen(text);
    p.drawText(QRectF(rect()), Qt::AlignCenter, this->text());
}

// ---- SoonCell ---------------------------------------------------------------

namespace {
constexpr qreal kMarkSize = 40;
}

SoonCell::SoonCell(HubModel* model, const Product& product, QWidget* parent)
    : HoverButton(parent)
    , m_model(model)
    // One line each, cut with an ellipsis at the end when the column is
    // narrower than the name.
    , m_name(new ElidedLabel(QString(), Qt::ElideRight, this))
    , m_formats(new ElidedLabel(QString(), Qt::ElideRight, this))
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_name->setObjectName(QStringLiteral("soonName"));
    m_name->setFont(Kit::Theme::bold(15, -0.6));
    Kit::setTextColor(m_name, Kit::Theme::ink());
    m_formats->setObjectName(QStringLiteral("soonFormats"));
    m_formats->setFont(Kit::Theme::mono(10, QFont::Medium, 0.5, true));
    Kit::setTextColor(m_formats, Kit::Theme::muted());
    for (QLabel* l : {m_name, m_formats})
        l->setAttribute(Qt::WA_TransparentForMouseEvents);

    auto* text = new QVBoxLayout;
    text->setContentsMargins(0, 0, 0, 0);
    text->setSpacing(3);
    text->addStretch(1);
    text->addWidget(m_name);
    text->addWidget(m_formats);
    text->addStretch(1);
    auto* layout = new QHBoxLayout(this);
    // The tile is painted; its room is left in the margin.
    layout->setContentsMargins(16 + int(kMarkSize) + 12, 0, 16, 0);
    layout->addLayout(text);

    connect(this, &QAbstractButton::clicked, this, [this] { m_model->setPage(m_product.id); });
    setProduct(product);
}

QString SoonCell::formatsText(const Product& product, const QString& separator)
{
    return product.formats ? product.formats->join(separator) : QString();
}

void SoonCell::setProduct(const Product& product)
{
    m_product = product;
    setObjectName(QStringLiteral("soon-") + product.id);
    m_name->setText(product.shown());
    m_formats->setText(formatsText(product, QStringLiteral(" · ")));
    setToolTip(Kit::plainToolTip(product.tagline));
    setAccessibleName(product.shown() + QStringLiteral(", coming soon, ") + formatsText(product, QStringLiteral(", ")));
    setAccessibleDescription(QStringLiteral("Opens its page"));
    update();
}

void SoonCell::setLines(bool leading, bool top)
{
    m_leading = leading;
    m_top = top;
    update();
}

QSize SoonCell::sizeHint() const { return QSize(200, 64); }

QSize SoonCell::minimumSizeHint() const { return QSize(10, 64); }

void SoonCell::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    if (hovered())
        p.fillRect(rect(), Kit::Theme::raised());
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF tile(16, (height() - kMarkSize) / 2, kMarkSize, kMarkSize);
    Kit::Paint::productMark(p, tile, m_product, false);
    p.setRenderHint(QPainter::Antialiasing, false);
    if (m_leading)
        p.fillRect(QRect(0, 0, 1, height()), Kit::Theme::line());
    if (m_top)
        p.fillRect(QRect(0, 0, width(), 1), Kit::Theme::line());
    if (Kit::keyboardFocus(this))
        Kit::Paint::focusRing(p, Kit::Paint::continuousRect(QRectF(rect()).adjusted(2, 2, -2, -2), 7), Kit::Theme::ink());
}

// ---- SoonStrip --------------------------------------------------------------

SoonStrip::SoonStrip(HubModel* model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_grid(new QGridLayout(this))
{
    setObjectName(QStringLiteral("soonStrip"));
    m_grid->setContentsMargins(0, 0, 0, 0);
    m_grid->setSpacing(0);
}

void SoonStrip::setProducts(const std::vector<Product>& products)
{
    const int n = std::min(std::max(int(products.size()), 1), 5);
    QList<SoonCell*> cells;
    for (const Product& product : products) {
        SoonCell* cell = nullptr;
        for (SoonCell* old : m_cells)
            if (old->product().id == product.id) {
                cell = old;
                break;
            }
        if (cell) {
            m_cells.removeOne(cell);
            cell->setProduct(product);
        } else {
            cell = new SoonCell(m_model, product, this);
        }
        cells.append(cell);
    }
    qDeleteAll(m_cells);
    for (SoonCell* cell : cells)
        m_grid->removeWidget(cell);
    for (int c = 0; c < 5; ++c)
        m_grid->setColumnStretch(c, c < n ? 1 : 0);
    for (qsizetype i = 0; i < cells.size(); ++i) {
        cells[i]->setLines(i % n != 0, i >= n);
        m_grid->addWidget(cells[i], int(i / n), int(i % n));
        cells[i]->show();
    }
    m_cells = cells;
    m_columns = n;
}

} // namespace Hub::Views

#include "Views/Plugins/RefreshButton.h"

#include "Kit/Animation.h"
#include "Kit/Control.h"
#include "Kit/Paint.h"
#include "Kit/Symbols.h"
#include "Kit/Theme.h"
#include "Model/HubModel.h"

#include <QPainter>

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

bool RefreshButton::turning() const { return m_turn->running(); }

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

} // namespace Hub::Views

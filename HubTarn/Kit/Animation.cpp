#include "Animation.h"

#include <QVariantAnimation>
#include <QWidget>

#include <atomic>

namespace Hub::Kit {

namespace {
std::atomic<bool> g_enabled{true};
}

void Animation::setEnabled(bool enabled) { g_enabled = enabled; }

bool Animation::enabled() { return g_enabled; }

Tween::Tween(QWidget* target, qreal initial)
    : QObject(target)
    , m_target(target)
    , m_value(initial)
{
}

bool Tween::running() const { return m_animation && m_animation->state() == QAbstractAnimation::Running; }

void Tween::set(qreal v)
{
    if (v == m_value)
        return;
    m_value = v;
    if (m_target)
        m_target->update();
    if (onValue)
        onValue(v);
}

void Tween::stop()
{
    if (m_animation)
        m_animation->stop();
}

void Tween::jumpTo(qreal to)
{
    stop();
    set(to);
}

void Tween::animateTo(qreal to, int ms, QEasingCurve::Type curve)
{
    // Already on its way there; an endless loop that passes the target is
    // not, and must give way (a spin settling on the turn it ends at).
    if (running() && m_animation->loopCount() == 1 && m_animation->endValue().toReal() == to)
        return;
    start(m_value, to, ms, QEasingCurve(curve), 1);
}

void Tween::loop(qreal from, qreal to, int ms) { start(from, to, ms, QEasingCurve(QEasingCurve::Linear), -1); }

void Tween::start(qreal from, qreal to, int ms, const QEasingCurve& curve, int loops)
{
    stop();
    if (!Animation::enabled() || ms <= 0 || (from == to && loops == 1)) {
        set(to);
        return;
    }
    if (!m_animation) {
        m_animation = new QVariantAnimation(this);
        connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) { set(v.toReal()); });
    }
    m_animation->setStartValue(from);
    m_animation->setEndValue(to);
    m_animation->setDuration(ms);
    m_animation->setEasingCurve(curve);
    m_animation->setLoopCount(loops);
    m_animation->start();
}

} // namespace Hub::Kit

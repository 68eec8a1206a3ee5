#pragma once

#include <QEasingCurve>
#include <QObject>

#include <functional>

class QVariantAnimation;
class QWidget;

namespace Hub::Kit {

// The global off switch: tests turn animations off once, and every Tween
// then jumps straight to its end value.
namespace Animation {
void setEnabled(bool enabled);
bool enabled();
} // namespace Animation

// One animated number owned by a widget (a hover fade, a knob's travel, a
// spin): animateTo() eases from the current value to the target and
// repaints `target` on each step. Starting a new animation replaces the
// running one, so a quick hover in and out never fights itself.
class Tween : public QObject {
    Q_OBJECT

public:
    explicit Tween(QWidget* target, qreal initial = 0);

    qreal value() const { return m_value; }
    bool running() const;

    // Out-cubic by default, the curve of every short animation of the window.
    void animateTo(qreal to, int ms, QEasingCurve::Type curve = QEasingCurve::OutCubic);
    // Linear from `from` to `to` over `ms`, again and again until stop().
    void loop(qreal from, qreal to, int ms);
    void jumpTo(qreal to);
    void stop();

    // Called after each change of value, after the repaint was asked for.
    std::function<void(qreal)> onValue;

private:
    void set(qreal v);
    void start(qreal from, qreal to, int ms, const QEasingCurve& curve, int loops);

    QWidget* m_target;
    QVariantAnimation* m_animation = nullptr;
    qreal m_value;
};

} // namespace Hub::Kit

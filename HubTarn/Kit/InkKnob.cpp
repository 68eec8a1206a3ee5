#include "InkKnob.h"

#include "Paint.h"
#include "Theme.h"

#include <QEvent>
#include <QPainter>

#include <cmath>

namespace Hub::Kit {

InkKnob::InkKnob(QWidget* parent)
    : QWidget(parent)
    , m_position(this)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void InkKnob::setOn(bool on)
{
    if (on == m_on)
        return;
    m_on = on;
    // A knob that nobody sees yet starts at its place instead of sliding in.
    if (isVisible())
        m_position.animateTo(on ? 1 : 0, Theme::hoverMs);
    else
        m_position.jumpTo(on ? 1 : 0);
}

QSize InkKnob::sizeHint() const
{
    const QSizeF s = Paint::knobSize();
    return QSize(int(std::ceil(s.width())), int(std::ceil(s.height())));
}

void InkKnob::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange)
        update();
    QWidget::changeEvent(event);
}

void InkKnob::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    Paint::knob(p, QRectF(rect()), m_position.value(), isEnabled());
}

} // namespace Hub::Kit

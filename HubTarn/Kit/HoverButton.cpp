#include "HoverButton.h"

#include "Kit/Control.h"

namespace Hub::Kit {

HoverButton::HoverButton(QWidget* parent)
    : QAbstractButton(parent)
{
    Kit::setupButton(this);
}

bool HoverButton::hitButton(const QPoint& pos) const { return rect().contains(pos); }

void HoverButton::enterEvent(QEnterEvent* event)
{
    m_hover = true;
    update();
    QAbstractButton::enterEvent(event);
}

void HoverButton::leaveEvent(QEvent* event)
{
    m_hover = false;
    update();
    QAbstractButton::leaveEvent(event);
}

} // namespace Hub::Kit

#include "Control.h"

#include "Theme.h"

#include <QAbstractButton>

namespace Hub::Kit {

bool keyboardFocus(const QWidget* widget)
{
    return widget->hasFocus() && widget->window()->testAttribute(Qt::WA_KeyboardFocusChange);
}

qreal stateOpacity(const QAbstractButton* button)
{
    if (!button->isEnabled())
        return Theme::disabledOpacity;
    if (button->isDown())
        return Theme::pressedOpacity;
    return 1;
}

void setupButton(QAbstractButton* button)
{
    button->setFocusPolicy(Qt::TabFocus);
    button->setCursor(Qt::PointingHandCursor);
    button->setAttribute(Qt::WA_Hover);
}

} // namespace Hub::Kit

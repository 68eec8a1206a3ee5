#include "Control.h"

#include "Theme.h"

#include <QAbstractButton>
#include <QKeySequence>

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

void setLiteralText(QAbstractButton* button, const QString& text)
{
    const bool namedByText = button->accessibleName().isEmpty() || button->accessibleName() == button->text();
    button->setText(text);
    // setText made the mnemonic the button's shortcut; kit buttons have none.
    button->setShortcut(QKeySequence());
    if (namedByText)
        button->setAccessibleName(text);
}

} // namespace Hub::Kit

#pragma once

#include <QtGlobal>

class QAbstractButton;
class QString;
class QWidget;

// What every painted control of the kit decides the same way.
namespace Hub::Kit {

// True while the widget has focus that the keyboard gave it: a click does
// not draw a focus ring, Tab does.
bool keyboardFocus(const QWidget* widget);

// Opacity of a control in its state: 0.35 disabled, 0.7 pressed, else 1.
qreal stateOpacity(const QAbstractButton* button);

// Kit buttons take focus from Tab, not from a click, like the platform's
// plain buttons, and show a pointing hand.
void setupButton(QAbstractButton* button);

// Sets a button's text as the characters it is: QAbstractButton reads "&" as
// a mnemonic and makes Alt and the next character press the button, which
// a name from data ("Echo &Delay") must never do. A button named by its text
// keeps the "&" in the name read aloud too.
void setLiteralText(QAbstractButton* button, const QString& text);

} // namespace Hub::Kit

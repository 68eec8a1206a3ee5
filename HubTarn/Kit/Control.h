#pragma once

#include <QtGlobal>

class QAbstractButton;
class QString;
class QWidget;

// What every painted control of the kit decides the same way.
namespace Hub::Kit {

// True while the widget has focus that the keyboard gave it: a click does
// not draw a focus ring, Tab does. As on the desktop, a ring shows after
// keyboard navigation only: a mouse press in a window clears the ring of
// whatever holds the focus there until the keyboard moves the focus again.
bool keyboardFocus(const QWidget* widget);

// Makes a mouse press clear the focus ring (above); setupButton() does it
// for every kit button, once per process.
void installFocusRingRule();

// A window that a click opens can appear under the pointer, and the second
// click of a double click then presses whatever lies there (a sheet's
// Cancel): the window would close as it opens, and nothing would say why.
// Called as `window` opens, this drops the first press that reaches it
// (with its double click and release) when it comes within the platform's
// double-click interval of the press that opened it. A window not opened
// by a click is left alone, and so is every later press.
void guardSecondClick(QWidget* window);
// `window` still waits for the press that guardSecondClick() may drop.
bool guardingSecondClick(const QWidget* window);

// Opacity of a control in its state: 0.35 disabled, 0.7 pressed, else 1.
qreal stateOpacity(const QAbstractButton* button);

// Kit buttons take focus from Tab, not from a click, and show a pointing
// hand; their focus ring follows the rule of keyboardFocus(). Return and
// Enter press them as Space does.
void setupButton(QAbstractButton* button);

// A title as a screen reader should say it, without the symbols that only
// draw: the trailing " ↗" that shows a sighted user the button leaves for a
// web page or mail, the leading "← " of a way back, and " · " between two
// parts, read as ", ".
QString spokenTitle(const QString& title);

// Sets `widget`'s accessible name when it differs: every set tells a
// screen reader the name changed (Qt 6.4 does not compare), and views
// redraw on every download tick.
void setSpokenName(QWidget* widget, const QString& name);

// Sets a button's text as the characters it is: QAbstractButton reads "&" as
// a mnemonic and makes Alt and the next character press the button, which
// a name from data ("Echo &Delay") must never do. A button named by its text
// keeps the "&" in the name read aloud too, and loses the "↗".
void setLiteralText(QAbstractButton* button, const QString& text);

} // namespace Hub::Kit

#pragma once

class QAbstractButton;
class QKeyEvent;
class QWidget;

// The keyboard rule of every painted dialog and sheet footer: Return and
// Space press the focused button, Return with no button focused presses
// the default one, Escape cancels (QDialog's own reject()).
namespace Hub::Kit {

// For a dialog's keyPressEvent: Return or Enter presses the enabled button
// inside `dialog` that has the focus, else `defaultButton` when it is
// enabled. True when the key was used; pass other keys on to the base
// class, which turns Escape into reject(). Space needs nothing: a focused
// kit button presses itself.
bool pressForReturn(QWidget* dialog, QKeyEvent* event, QAbstractButton* defaultButton);

} // namespace Hub::Kit

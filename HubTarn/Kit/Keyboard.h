#pragma once

#include <QWidgetList>

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
// class, which turns Escape into reject(). A focused kit button takes
// Return and Space itself (setupButton()); this is for the rest.
bool pressForReturn(QWidget* dialog, QKeyEvent* event, QAbstractButton* defaultButton);

// `root` and the widgets under it that Tab reaches, in the order they were
// made (a part made anew would otherwise go to the chain's end); every
// segment of a Segmented, though Tab reaches only the chosen one.
QWidgetList tabStops(QWidget* root);
// Tab goes through `stops` in this order. Set link by link: Qt 6.4 moves a
// widget's own children away from it when only the widgets are linked.
void chainTabOrder(const QWidgetList& stops);

} // namespace Hub::Kit

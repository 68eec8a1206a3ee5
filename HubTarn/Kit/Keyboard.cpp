#include "Keyboard.h"

#include "Segmented.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>

namespace Hub::Kit {

bool pressForReturn(QWidget* dialog, QKeyEvent* event, QAbstractButton* defaultButton)
{
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter)
        return false;
    if (event->modifiers() & ~Qt::KeypadModifier)
        return false;
    auto* focused = qobject_cast<QAbstractButton*>(QApplication::focusWidget());
    QAbstractButton* target = focused && dialog->isAncestorOf(focused) ? focused : defaultButton;
    if (target && target->isEnabled() && target->isVisible())
        target->click();
    // Used even when nothing was pressed: Return must not fall through to
    // the dialog's own default handling.
    return true;
}

QWidgetList tabStops(QWidget* root)
{
    QWidgetList stops;
    // Every segment of a segmented control, not only the chosen one that Tab
    // takes now: the choice moves, and the chain must hold each in place.
    for (QWidget* widget : QWidgetList{root} + root->findChildren<QWidget*>())
        if ((widget->focusPolicy() & Qt::TabFocus) || qobject_cast<const Segmented*>(widget->parentWidget()))
            stops.append(widget);
    return stops;
}

void chainTabOrder(const QWidgetList& stops)
{
    for (qsizetype i = 1; i < stops.size(); ++i)
        QWidget::setTabOrder(stops[i - 1], stops[i]);
}

} // namespace Hub::Kit

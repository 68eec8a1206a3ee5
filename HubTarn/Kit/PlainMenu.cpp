#include "PlainMenu.h"

#include "Control.h"
#include "Theme.h"

#include <QAbstractButton>
#include <QAction>

namespace Hub::Kit {

namespace {

QString css(const QColor& c)
{
    return QStringLiteral("rgba(%1,%2,%3,%4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alphaF(), 0, 'f', 3);
}

} // namespace

PlainMenu::PlainMenu(QWidget* parent)
    : QMenu(parent)
{
    // A style sheet here only: the menu is a native pop-up whose frame and
    // items the style draws, and it must match the painted controls.
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setFont(Theme::prose(14));
    setStyleSheet(QStringLiteral("QMenu { background: %1; border: 1.5px solid %2; border-radius: 14px; padding: 6px; }"
                                 "QMenu::item { color: %3; padding: 8px 14px; border-radius: 7px; background: transparent; }"
                                 "QMenu::item:selected { background: %4; }"
                                 "QMenu::item:disabled { color: %5; }"
                                 "QMenu::separator { height: 1px; background: %2; margin: 4px 8px; }")
                      .arg(css(Theme::raised()), css(Theme::line()), css(Theme::ink()), css(Theme::panel()),
                           css(Theme::dim())));
}

void PlainMenu::attach(QAbstractButton* face)
{
    connect(face, &QAbstractButton::clicked, this, [this, face] {
        if (!face->isEnabled())
            return;
        // A screen reader names the menu as the button that opened it.
        setAccessibleName(face->accessibleName().isEmpty() ? face->text() : face->accessibleName());
        const bool byKeyboard = keyboardFocus(face);
        popup(face->mapToGlobal(QPoint(0, face->height() + 4)));
        // Opened from the keyboard, the first item is highlighted, and
        // heard, at once, as a keyboard user expects of a menu.
        if (byKeyboard)
            for (QAction* action : actions())
                if (action->isEnabled() && !action->isSeparator() && action->isVisible()) {
                    setActiveAction(action);
                    break;
                }
    });
}

} // namespace Hub::Kit

#include "EscapeKey.h"

#include <QShortcut>
#include <QWidget>

namespace Hub::Kit {

EscapeKey::EscapeKey(QWidget* window, std::function<void()> action)
    : QObject(window)
    , m_shortcut(new QShortcut(QKeySequence(Qt::Key_Escape), window))
    , m_action(std::move(action))
{
    m_shortcut->setContext(Qt::WindowShortcut);
    // Auto-repeat would close the menu and then the page from one long press.
    m_shortcut->setAutoRepeat(false);
    connect(m_shortcut, &QShortcut::activated, this, [this] {
        if (m_action)
            m_action();
    });
}

void EscapeKey::setAction(std::function<void()> action) { m_action = std::move(action); }

void EscapeKey::setEnabled(bool enabled) { m_shortcut->setEnabled(enabled); }

bool EscapeKey::isEnabled() const { return m_shortcut->isEnabled(); }

} // namespace Hub::Kit

#pragma once

#include <QObject>

#include <functional>

class QShortcut;
class QWidget;

namespace Hub::Kit {

// Escape anywhere in `window` runs the action, once per press. It has no
// look and nothing for accessibility to read. Owners switch it on only
// while there is something for Escape to close.
class EscapeKey : public QObject {
    Q_OBJECT

public:
    EscapeKey(QWidget* window, std::function<void()> action);

    void setAction(std::function<void()> action);
    void setEnabled(bool enabled);
    bool isEnabled() const;

private:
    QShortcut* m_shortcut;
    std::function<void()> m_action;
};

} // namespace Hub::Kit

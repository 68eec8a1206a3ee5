#pragma once

#include <QDialog>

#include <functional>

namespace Hub::Kit {

class Pill;

// A window-modal question with a confirm button and "Cancel", the message
// below the title. Exactly one of the two actions runs, once: `action` from
// the confirm button (or Return), `cancel` from "Cancel", Escape or closing
// the window. Title and message are shown as plain text.
class ConfirmDialog : public QDialog {
    Q_OBJECT

public:
    ConfirmDialog(QWidget* parent, const QString& title, const QString& confirm, const QString& message,
                  std::function<void()> action, std::function<void()> cancel);

    Pill* confirmButton() const { return m_confirm; }
    Pill* cancelButton() const { return m_cancel; }

    void done(int result) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    Pill* m_confirm;
    Pill* m_cancel;
    std::function<void()> m_action;
    std::function<void()> m_cancelAction;
    bool m_answered = false;
};

// Shows the question window-modally over `parent` and returns at once; the
// dialog deletes itself when answered.
ConfirmDialog* confirmCompat(QWidget* parent, const QString& title, const QString& confirm, const QString& message,
                             std::function<void()> action, std::function<void()> cancel);

} // namespace Hub::Kit

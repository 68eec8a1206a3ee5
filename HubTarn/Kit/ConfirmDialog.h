#pragma once

#include <QDialog>

#include <functional>

class QLabel;

namespace Hub::Kit {

class Pill;

// A window-modal question with a confirm button and "Cancel", the message
// below the title. Exactly one of the two actions runs, once: `action` from
// the confirm button, `cancel` from "Cancel", Escape or closing the window.
// It opens with no button focused: Return then means the confirm button,
// while Return or Space on a button Tab reached presses that one. Title and
// message are shown as plain text, and read before the buttons.
class ConfirmDialog : public QDialog {
    Q_OBJECT

public:
    ConfirmDialog(QWidget* parent, const QString& title, const QString& confirm, const QString& message,
                  std::function<void()> action, std::function<void()> cancel);

    Pill* confirmButton() const { return m_confirm; }
    Pill* cancelButton() const { return m_cancel; }
    // A newer question while this one is up: the texts change in place.
    void setTexts(const QString& title, const QString& confirm, const QString& message);

    void done(int result) override;

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QLabel* m_title;
    QLabel* m_message;
    Pill* m_cancel;
    Pill* m_confirm;
    std::function<void()> m_action;
    std::function<void()> m_cancelAction;
    bool m_answered = false;
    bool m_focusPlaced = false;
};

// Shows the question window-modally over `parent` and returns at once; the
// dialog deletes itself when answered.
ConfirmDialog* confirmCompat(QWidget* parent, const QString& title, const QString& confirm, const QString& message,
                             std::function<void()> action, std::function<void()> cancel);

} // namespace Hub::Kit

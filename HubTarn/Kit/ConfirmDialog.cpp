#include "ConfirmDialog.h"

#include "Control.h"
#include "Keyboard.h"
#include "Pill.h"
#include "TextStyle.h"
#include "Theme.h"
#include "WrapLabel.h"

#include <QHBoxLayout>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QVBoxLayout>

namespace Hub::Kit {

ConfirmDialog::ConfirmDialog(QWidget* parent, const QString& title, const QString& confirm, const QString& message,
                             std::function<void()> action, std::function<void()> cancel)
    : QDialog(parent)
    // Made in reading order, which is also the order assistive technology
    // reads them and Tab visits the buttons: title, message, Cancel, confirm.
    , m_title(new WrapLabel(QString(), this))
    , m_message(plainLabel(QString(), this))
    , m_cancel(new Pill(QStringLiteral("Cancel"), PillStyle{std::nullopt, Theme::bg(), true, false}, this))
    , m_confirm(new Pill(QString(), PillStyle{Theme::ink(), Theme::bg(), true, false}, this))
    , m_action(std::move(action))
    , m_cancelAction(std::move(cancel))
{
    setObjectName(QStringLiteral("confirmDialog"));
    m_confirm->setObjectName(QStringLiteral("confirmButton"));
    m_cancel->setObjectName(QStringLiteral("cancelButton"));
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Theme::panel());
    setPalette(p);

    m_title->setObjectName(QStringLiteral("confirmTitle"));
    setProseStyle(m_title, Theme::bold(17, -0.4), Theme::ink());
    m_message->setObjectName(QStringLiteral("confirmMessage"));
    setFootStyle(m_message, 13);
    setTexts(title, confirm, message);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    buttons->addStretch(1);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_confirm);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(22, 22, 22, 22);
    layout->setSpacing(10);
    layout->addWidget(m_title);
    layout->addWidget(m_message);
    layout->addSpacing(8);
    layout->addLayout(buttons);
    setFixedWidth(400);

    connect(m_confirm, &QAbstractButton::clicked, this, &QDialog::accept);
    connect(m_cancel, &QAbstractButton::clicked, this, &QDialog::reject);
}

bool ConfirmDialog::event(QEvent* event)
{
    const bool handled = QDialog::event(event);
    if (event->type() == QEvent::WindowActivate && !m_focusPlaced) {
        m_focusPlaced = true;
        // Nothing focused: the dialog itself holds the focus, so a screen
        // reader starts with its title and message, and the risky button
        // is not one stray key away. Tab goes on to "Cancel".
        setFocus(Qt::ActiveWindowFocusReason);
    }
    return handled;
}

void ConfirmDialog::setTexts(const QString& title, const QString& confirm, const QString& message)
{
    setWindowTitle(title);
    setAccessibleName(title);
    setAccessibleDescription(message);
    m_title->setText(title);
    m_message->setText(message);
    setLiteralText(m_confirm, confirm);
}

void ConfirmDialog::done(int result)
{
    const bool first = !m_answered;
    m_answered = true;
    QDialog::done(result);
    if (!first)
        return;
    if (result == QDialog::Accepted) {
        if (m_action)
            m_action();
    } else if (m_cancelAction) {
        m_cancelAction();
    }
}

void ConfirmDialog::keyPressEvent(QKeyEvent* event)
{
    if (pressForReturn(this, event, m_confirm))
        return;
    QDialog::keyPressEvent(event);
}

ConfirmDialog* confirmCompat(QWidget* parent, const QString& title, const QString& confirm, const QString& message,
                             std::function<void()> action, std::function<void()> cancel)
{
    auto* dialog = new ConfirmDialog(parent, title, confirm, message, std::move(action), std::move(cancel));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
    // The question takes the keyboard: keys must not reach the window under it.
    dialog->activateWindow();
    return dialog;
}

} // namespace Hub::Kit

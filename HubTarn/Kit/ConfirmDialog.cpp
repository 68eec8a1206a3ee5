#include "ConfirmDialog.h"

#include "Pill.h"
#include "TextStyle.h"
#include "Theme.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QVBoxLayout>

namespace Hub::Kit {

ConfirmDialog::ConfirmDialog(QWidget* parent, const QString& title, const QString& confirm, const QString& message,
                             std::function<void()> action, std::function<void()> cancel)
    : QDialog(parent)
    , m_confirm(new Pill(confirm, PillStyle{Theme::ink(), Theme::bg(), true, false}, this))
    , m_cancel(new Pill(QStringLiteral("Cancel"), PillStyle{std::nullopt, Theme::bg(), true, false}, this))
    , m_action(std::move(action))
    , m_cancelAction(std::move(cancel))
{
    setWindowTitle(title);
    setObjectName(QStringLiteral("confirmDialog"));
    m_confirm->setObjectName(QStringLiteral("confirmButton"));
    m_cancel->setObjectName(QStringLiteral("cancelButton"));
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Theme::panel());
    setPalette(p);

    QLabel* heading = plainLabel(title, this);
    heading->setObjectName(QStringLiteral("confirmTitle"));
    setProseStyle(heading, Theme::bold(17, -0.4), Theme::ink());
    QLabel* body = plainLabel(message, this);
    body->setObjectName(QStringLiteral("confirmMessage"));
    setFootStyle(body, 13);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    buttons->addStretch(1);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_confirm);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(22, 22, 22, 22);
    layout->setSpacing(10);
    layout->addWidget(heading);
    layout->addWidget(body);
    layout->addSpacing(8);
    layout->addLayout(buttons);
    setFixedWidth(400);

    connect(m_confirm, &QAbstractButton::clicked, this, &QDialog::accept);
    connect(m_cancel, &QAbstractButton::clicked, this, &QDialog::reject);
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
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        m_confirm->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

ConfirmDialog* confirmCompat(QWidget* parent, const QString& title, const QString& confirm, const QString& message,
                             std::function<void()> action, std::function<void()> cancel)
{
    auto* dialog = new ConfirmDialog(parent, title, confirm, message, std::move(action), std::move(cancel));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
    return dialog;
}

} // namespace Hub::Kit

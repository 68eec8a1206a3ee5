#include "Views/Sheets/SheetHost.h"

#include "Views/Sheets/FeedbackSheet.h"
#include "Views/Sheets/InstallSheet.h"
#include "Views/Sheets/UninstallSheet.h"

#include "Kit/Control.h"
#include "Kit/Pill.h"
#include "Kit/TextStyle.h"
#include "Kit/Theme.h"
#include "Model/HubModel.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QVBoxLayout>

namespace Hub::Views {

namespace {

// Shown for a product the catalog no longer lists (or this account no
// longer sees): what happened, and a way out.
class NotFoundPanel : public SheetBody {
public:
    NotFoundPanel(HubModel* model, const QString& slug, QWidget* parent)
        : SheetBody(model, slug, QStringLiteral("sheetNotFound"), parent)
    {
        QLabel* title = Kit::plainLabel(QStringLiteral("not found"), this);
        title->setObjectName(QStringLiteral("notFoundTitle"));
        Kit::setProseStyle(title, Kit::Theme::bold(28, -1.4), Kit::Theme::ink());
        QLabel* text = Kit::plainLabel(QStringLiteral("This product isn't in the catalog any more."), this);
        text->setObjectName(QStringLiteral("notFoundText"));
        Kit::setFootStyle(text, 13);
        auto* close = new Kit::Pill(QStringLiteral("Close"), Kit::PillStyle{Kit::Theme::ink(), Kit::Theme::bg(), true, false}, this);
        close->setObjectName(QStringLiteral("closeButton"));
        connect(close, &QAbstractButton::clicked, this, &SheetBody::dismiss);

        auto* buttons = new QHBoxLayout;
        buttons->addStretch(1);
        buttons->addWidget(close);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(12);
        layout->addWidget(title);
        layout->addWidget(text);
        layout->addLayout(buttons);
    }
};

} // namespace

SheetHost::SheetHost(HubModel* model, const Sheet& sheet, QWidget* parent)
    : QDialog(parent)
    , m_model(model)
    , m_sheet(sheet)
{
    setObjectName(QStringLiteral("sheetHost"));
    setWindowModality(Qt::WindowModal);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Kit::Theme::panel());
    setPalette(p);
    Kit::setTextColor(this, Kit::Theme::ink());
    setWindowTitle(model->name(sheet.slug));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    layout->setSpacing(0);
    setFixedWidth(kWidth);
    setBody(model->product(sheet.slug) ? makeBody(sheet) : new NotFoundPanel(model, sheet.slug, this));

    connect(model, &HubModel::catalogChanged, this, &SheetHost::checkProduct);
    connect(model, &HubModel::accountChanged, this, &SheetHost::checkProduct);
}

SheetBody* SheetHost::makeBody(const Sheet& sheet)
{
    switch (sheet.kind) {
    case Sheet::Kind::install:
        return new InstallSheet(m_model, sheet.slug, this);
    case Sheet::Kind::feedback:
        return new FeedbackSheet(m_model, sheet.slug, this);
    case Sheet::Kind::uninstall:
        return new UninstallSheet(m_model, sheet.slug, this);
    }
    return nullptr;
}

void SheetHost::setBody(SheetBody* body)
{
    if (m_body) {
        layout()->removeWidget(m_body);
        m_body->hide();
        m_body->deleteLater();
    }
    m_body = body;
    layout()->addWidget(body);
    body->show();
    fit();
}

void SheetHost::checkProduct()
{
    if (m_model->product(m_sheet.slug) || m_body->objectName() == QStringLiteral("sheetNotFound"))
        return;
    setBody(new NotFoundPanel(m_model, m_sheet.slug, this));
}

int SheetHost::contentHeight() const
{
    const QLayout* l = layout();
    return l->hasHeightForWidth() ? l->totalHeightForWidth(kWidth) : l->totalSizeHint().height();
}

void SheetHost::fit()
{
    if (m_fitting)
        return;
    m_fitting = true;
    layout()->activate();
    setFixedHeight(contentHeight());
    m_fitting = false;
}

bool SheetHost::event(QEvent* event)
{
    const bool handled = QDialog::event(event);
    // A sheet that grows (an error line, a switch) or shrinks takes the
    // window with it.
    if (event->type() == QEvent::LayoutRequest)
        fit();
    return handled;
}

void SheetHost::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // The sheet opens with no button focused, so Space closes nothing by
    // surprise and Return means the default; Tab reaches the buttons.
    if (!focusWidget())
        setFocus(Qt::OtherFocusReason);
}

void SheetHost::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // Return presses the button the keyboard moved to, else the sheet's
        // default one. The focus the window hands its first button when it
        // opens does not count: Return then still means the default.
        QAbstractButton* target = qobject_cast<QAbstractButton*>(focusWidget());
        if (target && !Kit::keyboardFocus(target))
            target = nullptr;
        if (!target && m_body)
            target = m_body->defaultButton();
        if (target && target->isEnabled() && target->isVisible())
            target->click();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace Hub::Views

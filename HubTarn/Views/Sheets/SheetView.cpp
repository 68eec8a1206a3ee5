#include "Views/Sheets/SheetView.h"

#include "Views/Sheets/FeedbackSheet.h"
#include "Views/Sheets/InstallSheet.h"
#include "Views/Sheets/SheetKit.h"
#include "Views/Sheets/UninstallSheet.h"

#include "Kit/Announce.h"
#include "Kit/Keyboard.h"
#include "Kit/Pill.h"
#include "Kit/TextStyle.h"
#include "Kit/Theme.h"
#include "Model/HubModel.h"

#include <QKeyEvent>
#include <QShowEvent>
#include <QVBoxLayout>

namespace Hub::Views {

namespace {

const QString kNotFoundTitle = QStringLiteral("not found");
const QString kNotFoundText = QStringLiteral("This product isn't in the catalog any more.");
const QString kNotFoundWindowTitle = QStringLiteral("Not found");

// Shown for a product the catalog no longer lists (or this account no
// longer sees): what happened, and a way out.
class NotFoundPanel : public SheetBody {
public:
    NotFoundPanel(HubModel* model, const QString& slug, QWidget* parent)
        : SheetBody(model, slug, QStringLiteral("sheetNotFound"), parent)
    {
        m_close = new Kit::Pill(QStringLiteral("Close"), Kit::PillStyle{Kit::Theme::ink(), Kit::Theme::bg(), true, false},
                                this);
        m_close->setObjectName(QStringLiteral("closeButton"));
        connect(m_close, &QAbstractButton::clicked, this, &SheetBody::dismiss);
        layOutMessage(this, QStringLiteral("notFound"), kNotFoundTitle, kNotFoundText, m_close);
    }

    // Its one button.
    QAbstractButton* defaultButton() const override { return m_close; }

protected:
    void showEvent(QShowEvent* event) override
    {
        SheetBody::showEvent(event);
        // Whether the sheet opens on it or turns into it, nothing focused
        // says so: it is announced, once.
        if (!m_announced && !event->spontaneous()) {
            m_announced = true;
            Kit::announce(this, kNotFoundTitle + QStringLiteral(". ") + kNotFoundText);
        }
    }

private:
    Kit::Pill* m_close;
    bool m_announced = false;
};

} // namespace

SheetView::SheetView(HubModel* model, const Sheet& sheet, QWidget* parent)
    : QDialog(parent)
    , m_model(model)
    , m_sheet(sheet)
{
    setObjectName(QStringLiteral("sheetView"));
    // A dialog of the main window: a title, a close button and nothing a
    // sheet cannot do (it has one size; it is never put away on its own).
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setWindowModality(Qt::WindowModal);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Kit::Theme::panel());
    setPalette(p);
    Kit::setTextColor(this, Kit::Theme::ink());
    setWindowTitle(model->product(sheet.slug) ? title(sheet, model->name(sheet.slug)) : kNotFoundWindowTitle);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    layout->setSpacing(0);
    setFixedWidth(kWidth);
    setBody(model->product(sheet.slug) ? makeBody(sheet) : new NotFoundPanel(model, sheet.slug, this));

    connect(model, &HubModel::catalogChanged, this, &SheetView::checkProduct);
    connect(model, &HubModel::accountChanged, this, &SheetView::checkProduct);
    // A press on the window under the sheet (the second click of the double
    // click that opened it, or any later one) makes X11 activate that window,
    // with or without a window manager; it takes no keys while the sheet is
    // up, so they would be lost until the sheet was clicked.
    if (QWidget* owner = parent ? parent->window() : nullptr)
        owner->installEventFilter(this);
}

QString SheetView::title(const Sheet& sheet, const QString& name)
{
    switch (sheet.kind) {
    case Sheet::Kind::install:
        return QStringLiteral("Install ") + name;
    case Sheet::Kind::feedback:
        return QStringLiteral("Feedback on ") + name;
    case Sheet::Kind::uninstall:
        return QStringLiteral("Uninstall ") + name;
    }
    return name;
}

SheetBody* SheetView::makeBody(const Sheet& sheet)
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

void SheetView::setBody(SheetBody* body)
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

void SheetView::checkProduct()
{
    if (m_model->product(m_sheet.slug) || m_body->objectName() == QStringLiteral("sheetNotFound"))
        return;
    setBody(new NotFoundPanel(m_model, m_sheet.slug, this));
    // Titled for what it now says, not for the sheet it was.
    setWindowTitle(kNotFoundWindowTitle);
}

int SheetView::contentHeight() const
{
    const QLayout* l = layout();
    return l->hasHeightForWidth() ? l->totalHeightForWidth(kWidth) : l->totalSizeHint().height();
}

void SheetView::fit()
{
    if (m_fitting)
        return;
    m_fitting = true;
    layout()->activate();
    const int height = contentHeight();
    if (height != this->height()) {
        setFixedHeight(height);
        // Grown or shrunk (a thank-you after the form), it stays centred
        // on the window instead of hanging from its old top edge.
        if (isVisible())
            centre();
    }
    m_fitting = false;
}

void SheetView::centre()
{
    const QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
    if (!owner)
        return;
    // A top-level's position is its frame's, where a window manager adds one.
    const QRect area = owner->frameGeometry();
    const QSize size = frameGeometry().size();
    move(area.x() + (area.width() - size.width()) / 2, area.y() + (area.height() - size.height()) / 2);
}

bool SheetView::event(QEvent* event)
{
    const bool handled = QDialog::event(event);
    // A sheet that grows (an error line, a switch) or shrinks takes the
    // window with it.
    if (event->type() == QEvent::LayoutRequest)
        fit();
    return handled;
}

void SheetView::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    centre();
    // Unless the sheet names a first stop, it opens with no button focused:
    // Space closes nothing by surprise and Return means the default.
    if (QWidget* first = m_body ? m_body->firstFocus() : nullptr)
        first->setFocus(Qt::OtherFocusReason);
    else if (!focusWidget())
        setFocus(Qt::OtherFocusReason);
}

bool SheetView::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::WindowActivate && isVisible())
        // Once the activation has run its course, not inside it.
        QMetaObject::invokeMethod(this, &SheetView::keepKeys, Qt::QueuedConnection);
    return QDialog::eventFilter(watched, event);
}

void SheetView::keepKeys()
{
    const QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
    if (isVisible() && owner && owner->isActiveWindow()) {
        activateWindow();
    }
}

bool SheetView::focusNextPrevChild(bool next)
{
    // Nothing focused yet: Tab starts the sheet's reading order.
    if (focusWidget() == this || !focusWidget())
        if (QWidget* entry = m_body ? m_body->entryStop(next) : nullptr) {
            entry->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return true;
        }
    return QDialog::focusNextPrevChild(next);
}

void SheetView::keyPressEvent(QKeyEvent* event)
{
    // The rule of every painted dialog: the sheet opens with nothing
    // focused (above), so Return means the default until Tab moves on.
    if (Kit::pressForReturn(this, event, m_body ? m_body->defaultButton() : nullptr))
        return;
    QDialog::keyPressEvent(event);
}

} // namespace Hub::Views

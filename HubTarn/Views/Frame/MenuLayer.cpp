#include "Views/Frame/MenuLayer.h"

#include "Views/Frame/AccountMenu.h"

#include "Model/HubModel.h"

#include <QMouseEvent>

namespace Hub::Views {

MenuLayer::MenuLayer(HubModel* model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
{
    setObjectName(QStringLiteral("menuLayer"));
    hide();
}

void MenuLayer::sync(bool rebuild)
{
    if (!m_model->accountMenu() || rebuild) {
        delete m_menu;
        m_menu = nullptr;
    }
    if (!m_model->accountMenu()) {
        hide();
        return;
    }
    if (!m_menu) {
        // Built anew on each opening, so no row starts out hovered.
        m_menu = new AccountMenu(m_model, this);
        // As tall as its fixed width needs: a long name wraps onto more
        // lines than the header's size hint allows for.
        const int height = m_menu->heightForWidth(AccountMenu::kWidth);
        m_menu->resize(AccountMenu::kWidth, height > 0 ? height : m_menu->sizeHint().height());
        m_menu->show();
    }
    setGeometry(parentWidget()->rect());
    place();
    show();
    raise();
}

void MenuLayer::resizeEvent(QResizeEvent*) { place(); }

void MenuLayer::mousePressEvent(QMouseEvent* event)
{
    m_pressedOutside = !(m_menu && m_menu->geometry().contains(event->position().toPoint()));
    event->accept();
}

void MenuLayer::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    if (m_pressedOutside && rect().contains(event->position().toPoint()))
        m_model->setAccountMenu(false);
    m_pressedOutside = false;
}

void MenuLayer::mouseDoubleClickEvent(QMouseEvent* event) { event->accept(); }

void MenuLayer::place()
{
    if (m_menu)
        m_menu->move(width() - 16 - m_menu->width(), 48);
}

} // namespace Hub::Views

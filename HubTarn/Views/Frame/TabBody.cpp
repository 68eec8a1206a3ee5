#include "Views/Frame/TabBody.h"

#include "Views/Common/RowList.h"
#include "Views/Plugins/PluginsTab.h"
#include "Views/Settings/SettingsTab.h"
#include "Views/Updates/UpdatesTab.h"

#include "Kit/Theme.h"
#include "Model/HubModel.h"

#include <QCoreApplication>
#include <QScrollBar>
#include <QVBoxLayout>

namespace Hub::Views {

TabBody::TabBody(HubModel* model, QWidget* parent)
    : QScrollArea(parent)
    , m_model(model)
{
    setObjectName(QStringLiteral("tabBody"));
    setFrameShape(QFrame::NoFrame);
    // Tab goes straight to the tab's first control: the scroll area itself
    // is no stop, and it scrolls a control Tab reaches into view anyway.
    setFocusPolicy(Qt::NoFocus);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Kit::Theme::quietScrollBar(this);
    QPalette p = viewport()->palette();
    p.setColor(QPalette::Window, Kit::Theme::bg());
    viewport()->setPalette(p);
    viewport()->setAutoFillBackground(true);
    // One lasting child holds each tab in turn: a long tab taken out of the
    // scroll area would have every row, shown or not, told of its new
    // window, which held the window up for tens of milliseconds.
    auto* stack = new QWidget;
    stack->setAutoFillBackground(false);
    m_stack = new QVBoxLayout(stack);
    m_stack->setContentsMargins(QMargins());
    m_stack->setSpacing(0);
    setWidget(stack);
    connect(model, &HubModel::tabChanged, this, &TabBody::showTab);
    showTab();
}

void TabBody::showTab()
{
    const Tab tab = m_model->tab();
    if (m_shown == tab)
        return;
    m_shown = tab;
    auto* holder = new QWidget(widget());
    holder->setAutoFillBackground(false);
    auto* layout = new QVBoxLayout(holder);
    layout->setContentsMargins(Kit::Theme::tabBodyMargins);
    layout->setSpacing(0);
    m_content = makeTab(tab);
    layout->addWidget(m_content);
    // The previous tab goes a slice at a time: a long list's rows would
    // hold the window up if deleted at once. Until then it stays, hidden,
    // where it was.
    if (m_holder) {
        m_holder->hide();
        m_stack->removeWidget(m_holder);
        retire(m_holder);
    }
    m_holder = holder;
    m_stack->addWidget(holder);
    // First among its siblings, so a search by name meets this tab before
    // the one still going.
    holder->lower();
    holder->show();
    // Sized now, as a scroll area sizes a widget it is given: else the
    // first paint shows the new tab at the old one's height, wrapped lines
    // cut off.
    m_stack->activate();
    QEvent request(QEvent::LayoutRequest);
    QCoreApplication::sendEvent(this, &request);
    verticalScrollBar()->setValue(0);
}

QWidget* TabBody::makeTab(Tab tab)
{
    switch (tab) {
    case Tab::plugins:
        return new PluginsTab(m_model);
    case Tab::updates:
        return new UpdatesTab(m_model);
    case Tab::settings:
        return new SettingsTab(m_model);
    }
    return nullptr;
}

} // namespace Hub::Views

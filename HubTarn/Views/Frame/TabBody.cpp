#include "Views/Frame/TabBody.h"

#include "Views/Common/RowList.h"
#include "Views/Plugins/PluginsTab.h"
#include "Views/Settings/SettingsTab.h"
#include "Views/Updates/UpdatesTab.h"

#include "Kit/Theme.h"
#include "Model/HubModel.h"

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
    connect(model, &HubModel::tabChanged, this, &TabBody::showTab);
    showTab();
}

void TabBody::showTab()
{
    const Tab tab = m_model->tab();
    if (m_shown == tab)
        return;
    m_shown = tab;
    auto* holder = new QWidget;
    holder->setAutoFillBackground(false);
    auto* layout = new QVBoxLayout(holder);
    layout->setContentsMargins(Kit::Theme::tabBodyMargins);
    layout->setSpacing(0);
    m_content = makeTab(tab);
    layout->addWidget(m_content);
    // The previous tab goes a slice at a time: a long list's rows would
    // hold the window up if deleted at once.
    if (QWidget* previous = takeWidget())
        retire(previous);
    setWidget(holder);
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

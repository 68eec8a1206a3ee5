#include "Views/Plugins/PluginsTab.h"

#include "Views/Plugins/RefreshButton.h"

namespace Hub::Views {

PluginsTab::PluginsTab(HubModel* model, QWidget* parent)
    : TabPanel(model, Tab::plugins, new RefreshButton(model), parent)
{
}

} // namespace Hub::Views

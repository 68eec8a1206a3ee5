#include "Views/Settings/SettingsTab.h"

namespace Hub::Views {

SettingsTab::SettingsTab(HubModel* model, QWidget* parent)
    : TabPanel(model, Tab::settings, nullptr, parent)
{
}

} // namespace Hub::Views

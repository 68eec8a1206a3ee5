#include "Views/Updates/UpdatesTab.h"

namespace Hub::Views {

UpdatesTab::UpdatesTab(HubModel* model, QWidget* parent)
    : TabPanel(model, Tab::updates, nullptr, parent)
{
}

} // namespace Hub::Views

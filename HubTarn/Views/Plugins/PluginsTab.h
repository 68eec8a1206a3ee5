#pragma once

#include "Views/Common/TabPanel.h"

namespace Hub::Views {

// The plug-ins tab: what is on this computer, what can be added and what is coming.
class PluginsTab : public TabPanel {
    Q_OBJECT

public:
    explicit PluginsTab(HubModel* model, QWidget* parent = nullptr);
};

} // namespace Hub::Views

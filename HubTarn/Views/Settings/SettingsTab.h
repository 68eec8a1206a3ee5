#pragma once

#include "Views/Common/TabPanel.h"

namespace Hub::Views {

// The settings tab: what to install, where, when to check, reports, folders and the account.
class SettingsTab : public TabPanel {
    Q_OBJECT

public:
    explicit SettingsTab(HubModel* model, QWidget* parent = nullptr);
};

} // namespace Hub::Views

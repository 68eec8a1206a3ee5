#pragma once

#include "Views/Common/TabPanel.h"

namespace Hub::Views {

// The updates tab: every update waiting, and the application's own.
class UpdatesTab : public TabPanel {
    Q_OBJECT

public:
    explicit UpdatesTab(HubModel* model, QWidget* parent = nullptr);
};

} // namespace Hub::Views

#pragma once

#include "Views/Sheets/SheetBody.h"

namespace Hub::Views {

// The install sheet of one product: the formats to install and where.
class InstallSheet : public SheetBody {
    Q_OBJECT

public:
    InstallSheet(HubModel* model, const QString& slug, QWidget* parent = nullptr);
};

} // namespace Hub::Views

#pragma once

#include "Views/Sheets/SheetBody.h"

namespace Hub::Views {

// The uninstall sheet of one product: which installed copies go to the Trash.
class UninstallSheet : public SheetBody {
    Q_OBJECT

public:
    UninstallSheet(HubModel* model, const QString& slug, QWidget* parent = nullptr);
};

} // namespace Hub::Views

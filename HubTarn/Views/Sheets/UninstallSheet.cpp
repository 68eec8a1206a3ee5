#include "Views/Sheets/UninstallSheet.h"

namespace Hub::Views {

UninstallSheet::UninstallSheet(HubModel* model, const QString& slug, QWidget* parent)
    : SheetBody(model, slug, QStringLiteral("uninstallSheet"), parent)
{
}

} // namespace Hub::Views

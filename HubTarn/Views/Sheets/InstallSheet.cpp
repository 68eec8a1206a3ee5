#include "Views/Sheets/InstallSheet.h"

namespace Hub::Views {

InstallSheet::InstallSheet(HubModel* model, const QString& slug, QWidget* parent)
    : SheetBody(model, slug, QStringLiteral("installSheet"), parent)
{
}

} // namespace Hub::Views

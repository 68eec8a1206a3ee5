#include "Views/Sheets/SheetHost.h"

#include "Views/Sheets/FeedbackSheet.h"
#include "Views/Sheets/InstallSheet.h"
#include "Views/Sheets/UninstallSheet.h"

#include "Kit/Theme.h"
#include "Model/HubModel.h"

#include <QVBoxLayout>

namespace Hub::Views {

SheetHost::SheetHost(HubModel* model, const Sheet& sheet, QWidget* parent)
    : QDialog(parent)
    , m_model(model)
    , m_sheet(sheet)
{
    setObjectName(QStringLiteral("sheetHost"));
    setWindowModality(Qt::WindowModal);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Kit::Theme::panel());
    setPalette(p);
    setWindowTitle(model->name(sheet.slug));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(makeBody(sheet));
    setMinimumSize(460, 320);
}

QWidget* SheetHost::makeBody(const Sheet& sheet)
{
    switch (sheet.kind) {
    case Sheet::Kind::install:
        return new InstallSheet(m_model, sheet.slug, this);
    case Sheet::Kind::feedback:
        return new FeedbackSheet(m_model, sheet.slug, this);
    case Sheet::Kind::uninstall:
        return new UninstallSheet(m_model, sheet.slug, this);
    }
    return nullptr;
}

} // namespace Hub::Views

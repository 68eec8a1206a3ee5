#pragma once

#include "Model/ModelTypes.h"

#include <QDialog>

namespace Hub {
class HubModel;
}

namespace Hub::Views {

// The window-modal host of the sheet the model names. Closing it any way
// (Escape, the window's close button, the sheet's own buttons) clears the
// model's sheet.
class SheetHost : public QDialog {
    Q_OBJECT

public:
    SheetHost(HubModel* model, const Sheet& sheet, QWidget* parent);

    const Sheet& sheet() const { return m_sheet; }
    HubModel* model() const { return m_model; }

private:
    // The one place a sheet's class is chosen.
    QWidget* makeBody(const Sheet& sheet);

    HubModel* m_model;
    Sheet m_sheet;
};

} // namespace Hub::Views

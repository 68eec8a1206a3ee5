#pragma once

#include "Model/ModelTypes.h"
#include "Views/Sheets/SheetBody.h"

#include <QDialog>
#include <QPointer>

namespace Hub {
class HubModel;
}

namespace Hub::Views {


// The window-modal host of the sheet the model names: 440 wide, 22 of room
// on every side, the panel's colour, as high as its sheet needs. Closing it
// any way (Escape, the window's close button, the sheet's own buttons)
// clears the model's sheet. A product that is not (or no longer) shown
// gets the "not found" panel instead of its sheet.
class SheetHost : public QDialog {
    Q_OBJECT

public:
    SheetHost(HubModel* model, const Sheet& sheet, QWidget* parent);

    const Sheet& sheet() const { return m_sheet; }
    HubModel* model() const { return m_model; }
    SheetBody* body() const { return m_body; }

    // The height the content needs at the fixed width; the window takes it
    // whenever the content changes.
    int contentHeight() const;

    static constexpr int kWidth = 440;
    static constexpr int kPadding = 22;

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The one place a sheet's class is chosen.
    SheetBody* makeBody(const Sheet& sheet);
    void setBody(SheetBody* body);
    // Swaps the sheet for the "not found" panel once its product is gone.
    void checkProduct();
    void fit();

    HubModel* m_model;
    Sheet m_sheet;
    QPointer<SheetBody> m_body;
    bool m_fitting = false;
};

} // namespace Hub::Views

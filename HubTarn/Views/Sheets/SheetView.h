#pragma once

#include "Model/ModelTypes.h"
#include "Views/Sheets/SheetBody.h"

#include <QDialog>
#include <QPointer>

namespace Hub {
class HubModel;
}

namespace Hub::Views {


// The window-modal host of the sheet the model names: a dialog of the main
// window centred over it, titled with what it does, 440 wide, 22 of room
// on every side, the panel's colour, as high as its sheet needs. Closing it
// any way (Escape, the window's close button, the sheet's own buttons)
// clears the model's sheet. A product that is not (or no longer) shown
// gets the "not found" panel instead of its sheet, and the window is titled
// "Not found".
class SheetView : public QDialog {
    Q_OBJECT

public:
    SheetView(HubModel* model, const Sheet& sheet, QWidget* parent);

    const Sheet& sheet() const { return m_sheet; }
    HubModel* model() const { return m_model; }
    SheetBody* body() const { return m_body; }

    // The height the content needs at the fixed width; the window takes it
    // whenever the content changes.
    int contentHeight() const;

    // The window's title: what the sheet does, and to which product.
    static QString title(const Sheet& sheet, const QString& name);

    static constexpr int kWidth = 440;
    static constexpr int kPadding = 22;

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    // The one place a sheet's class is chosen.
    SheetBody* makeBody(const Sheet& sheet);
    void setBody(SheetBody* body);
    // Swaps the sheet for the "not found" panel once its product is gone.
    void checkProduct();
    void fit();
    // Over the middle of the main window.
    void centre();
    // The window under the sheet became active: the keys come back here.
    void keepKeys();

    HubModel* m_model;
    Sheet m_sheet;
    QPointer<SheetBody> m_body;
    bool m_fitting = false;
};

} // namespace Hub::Views

#pragma once

#include "Views/Frame/TabBody.h"
#include "Views/Sheets/SheetView.h"

#include "Kit/ConfirmDialog.h"
#include "Model/ModelTypes.h"

#include <QPointer>
#include <QWidget>

class QStackedLayout;

namespace Hub {
class HubModel;
}

namespace Hub::Kit {
class EscapeKey;
} // namespace Hub::Kit

namespace Hub::Views {

class MenuLayer;
class PageLayer;
class TopBar;

// The whole signed-in window: the top bar over the tab body, the product
// page laid over the tab body, the account menu floating over everything,
// the sheet for the model's sheet, and the DAW confirmation once no sheet
// is up. It keeps no state of its own beyond the widgets it shows.
class MainView : public QWidget {
    Q_OBJECT

public:
    explicit MainView(HubModel* model, QWidget* parent = nullptr);
    ~MainView() override;

    // The open page's product tint, else the theme's background.
    QColor windowColor() const;
    // "<name> is open" / "<a> and <b> are open" for the pending warning.
    QString dawTitle() const;
    static QString dawTitle(const QStringList& daws);

    TopBar* topBar() const { return m_topBar; }
    TabBody* tabBody() const { return m_tabBody; }
    SheetView* sheetView() const { return m_sheetView; }
    Kit::ConfirmDialog* dawConfirmation() const { return m_confirm; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateEscape();
    void escape();
    void showSheet();
    void sheetClosed(SheetView* host);
    void showDAWConfirmation();
    // Shades the window while a sheet or the DAW question is up.
    void updateScrim();

    HubModel* m_model;
    TopBar* m_topBar;
    QStackedLayout* m_layers;
    TabBody* m_tabBody;
    PageLayer* m_page;
    MenuLayer* m_menu;
    Kit::EscapeKey* m_escape;
    QWidget* m_scrim;
    QPointer<SheetView> m_sheetView;
    QPointer<Kit::ConfirmDialog> m_confirm;
};

} // namespace Hub::Views

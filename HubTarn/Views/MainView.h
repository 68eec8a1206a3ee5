#pragma once

#include "Kit/ConfirmDialog.h"
#include "Model/ModelTypes.h"

#include <QDialog>
#include <QPointer>
#include <QScrollArea>
#include <QWidget>

class QStackedLayout;

namespace Hub {
class HubModel;
}

namespace Hub::Kit {
class EscapeKey;
} // namespace Hub::Kit

namespace Hub::Views {

class TopBar;
class PageLayer;
class MenuLayer;

// The scrolling body of the chosen tab. Each entry into a tab builds its
// content anew, so the tab starts from its initial state.
class TabBody : public QScrollArea {
    Q_OBJECT

public:
    explicit TabBody(HubModel* model, QWidget* parent = nullptr);

    QWidget* content() const { return m_content; }

private:
    void showTab();
    // The content of one tab; for now an empty panel per tab.
    QWidget* makeTab(Tab tab);

    HubModel* m_model;
    QWidget* m_content = nullptr;
    std::optional<Tab> m_shown;
};

// The window-modal host of the sheet the model names. Closing it any way
// (Escape, the window's close button, the sheet's own buttons) clears the
// model's sheet.
class SheetHost : public QDialog {
    Q_OBJECT

public:
    SheetHost(HubModel* model, const Sheet& sheet, QWidget* parent);

    const Sheet& sheet() const { return m_sheet; }

private:
    // The sheet's content; for now an empty panel per kind of sheet.
    QWidget* makeBody(const Sheet& sheet);

    Sheet m_sheet;
};

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
    SheetHost* sheetHost() const { return m_sheetHost; }
    Kit::ConfirmDialog* dawConfirmation() const { return m_confirm; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateEscape();
    void escape();
    void showSheet();
    void sheetClosed(SheetHost* host);
    void showDAWConfirmation();

    HubModel* m_model;
    TopBar* m_topBar;
    QStackedLayout* m_layers;
    TabBody* m_tabBody;
    PageLayer* m_page;
    MenuLayer* m_menu;
    Kit::EscapeKey* m_escape;
    QPointer<SheetHost> m_sheetHost;
    QPointer<Kit::ConfirmDialog> m_confirm;
};

} // namespace Hub::Views

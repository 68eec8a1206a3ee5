#pragma once

#include <QWidget>

namespace Hub {
class HubModel;
}

namespace Hub::Views {

class AccountMenu;

// Lies over the whole window while the account menu is open: a click
// anywhere outside the menu closes it and reaches nothing underneath, so
// the account button and the tabs under it do not also react.
class MenuLayer : public QWidget {
    Q_OBJECT

public:
    MenuLayer(HubModel* model, QWidget* parent);

    AccountMenu* menu() const { return m_menu; }

    // `rebuild`: the open menu's contents changed.
    void sync(bool rebuild = false);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void place();

    HubModel* m_model;
    AccountMenu* m_menu = nullptr;
    bool m_pressedOutside = false;
};

} // namespace Hub::Views

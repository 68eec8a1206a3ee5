#pragma once

#include "Kit/HoverButton.h"

#include <QWidget>

#include <functional>

namespace Hub {
class HubModel;
}

namespace Hub::Views {

// One row of the account menu: prose on a panel-coloured ground while the
// pointer is over it (no fade).
class MenuRow : public Kit::HoverButton {
    Q_OBJECT

public:
    MenuRow(const QString& title, std::function<void()> action, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The panel under the account button: who is signed in, a row to the
// account page on the web site, and Sign out. Both rows close the menu
// through the model's operations. Built anew each time the menu opens.
class AccountMenu : public QWidget {
    Q_OBJECT

public:
    explicit AccountMenu(HubModel* model, QWidget* parent = nullptr);

    static constexpr int kWidth = 270;
    // "Account on <the web site's domain> ↗".
    static QString accountRowTitle();

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace Hub::Views

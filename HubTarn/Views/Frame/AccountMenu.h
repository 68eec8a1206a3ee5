#pragma once

#include "Kit/HoverButton.h"

#include <QList>
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
// Tab and the arrow keys go round its two rows and never leave it.
class AccountMenu : public QWidget {
    Q_OBJECT

public:
    explicit AccountMenu(HubModel* model, QWidget* parent = nullptr);

    static constexpr int kWidth = 270;
    // "Account on <the web site's domain> ↗".
    static QString accountRowTitle();

    QList<MenuRow*> rows() const { return m_rows; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    QList<MenuRow*> m_rows;
};

} // namespace Hub::Views

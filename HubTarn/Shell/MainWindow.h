#pragma once

#include "Shell/RootView.h"

#include <QMainWindow>

class QAction;

namespace Hub {
class HubModel;
}

namespace Hub::Shell {

// The one window: the root screen switch and the window's commands. It
// keeps the desktop's own title bar; the commands live on the window as
// shortcuts, without a menu bar over the designed screens.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    MainWindow(HubModel* model, RootView::MainFactory makeMain, QWidget* parent = nullptr);

    RootView* root() const { return m_root; }
    QAction* checkForUpdatesAction() const { return m_checkForUpdates; }
    QAction* closeAction() const { return m_close; }
    QAction* quitAction() const { return m_quit; }

Q_SIGNALS:
    // The window is on screen for the first time.
    void firstShown();
    // The window closed: the application ends with it.
    void closed();
    // Quit was chosen.
    void quitRequested();

protected:
    void showEvent(QShowEvent* event) override;
    // The window refuses to close while a job works, so the install stays
    // in sight; otherwise closing it ends the application.
    void closeEvent(QCloseEvent* event) override;

private:
    HubModel* m_model;
    RootView* m_root;
    QAction* m_checkForUpdates;
    QAction* m_close;
    QAction* m_quit;
    bool m_shown = false;
};

} // namespace Hub::Shell

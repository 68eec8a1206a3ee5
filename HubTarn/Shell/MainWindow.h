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
    // Quit was chosen, or the window was closed while a job works.
    void quitRequested();

protected:
    void showEvent(QShowEvent* event) override;
    // Closing the window ends the application. While a job works the
    // window stays and the quit question is asked instead, so the close
    // button and Ctrl+W never silently do nothing.
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

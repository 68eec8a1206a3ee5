#include "Shell/MainWindow.h"

#include "Kit/Theme.h"
#include "Model/HubModel.h"

#include <QAction>
#include <QCloseEvent>

using namespace Qt::StringLiterals;

namespace Hub::Shell {

namespace {

QAction* command(QWidget* window, const QString& name, const QString& text, const QKeySequence& keys)
{
    auto* action = new QAction(text, window);
    action->setObjectName(name);
    action->setShortcut(keys);
    action->setShortcutContext(Qt::WindowShortcut);
    window->addAction(action);
    return action;
}

} // namespace

MainWindow::MainWindow(HubModel* model, RootView::MainFactory makeMain, QWidget* parent)
    : QMainWindow(parent)
    , m_model(model)
{
    setObjectName(u"mainWindow"_s);
    setWindowTitle(u"Tarnhub"_s);
    resize(1040, 720);
    setMinimumSize(760, 560);
    m_root = new RootView(model, std::move(makeMain), this);
    setCentralWidget(m_root);

    m_checkForUpdates = command(this, u"checkForUpdates"_s, u"Check for Updates"_s, QKeySequence(u"Ctrl+R"_s));
    m_close = command(this, u"closeWindow"_s, u"Close Window"_s, QKeySequence(u"Ctrl+W"_s));
    m_quit = command(this, u"quit"_s, u"Quit Tarnhub"_s, QKeySequence(u"Ctrl+Q"_s));
    connect(m_checkForUpdates, &QAction::triggered, m_model, [this] { m_model->refresh(true); });
    connect(m_close, &QAction::triggered, this, &QWidget::close);
    connect(m_quit, &QAction::triggered, this, &MainWindow::quitRequested);
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!m_shown) {
        m_shown = true;
        Q_EMIT firstShown();
    }
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (m_model->busy() && !m_model->restarting()) {
        event->ignore();
        Q_EMIT quitRequested();
        return;
    }
    event->accept();
    Q_EMIT closed();
}

} // namespace Hub::Shell

#include "Shell/Application.h"

#include "Account/SystemWebAuthenticator.h"
#include "Base/Config.h"
#include "Kit/ConfirmDialog.h"
#include "Model/HubModel.h"
#include "Shell/MainWindow.h"

#include <QCoreApplication>
#include <QDebug>
#include <QProcess>

using namespace Qt::StringLiterals;

namespace Hub::Shell {

void LinkRelay::post(const QUrl& url)
{
    {
        const std::lock_guard lock(m_lock);
        m_waiting.push_back(url);
    }
    QMetaObject::invokeMethod(this, &LinkRelay::drain, Qt::QueuedConnection);
}

void LinkRelay::drain()
{
    std::vector<QUrl> links;
    {
        const std::lock_guard lock(m_lock);
        links.swap(m_waiting);
    }
    for (const QUrl& url : links)
        Q_EMIT arrived(url);
}

Application::Application(HubModel* model, std::shared_ptr<SystemWebAuthenticator> web, RootView::MainFactory makeMain,
                         Hooks hooks)
    : m_model(model)
    , m_web(std::move(web))
    , m_hooks(std::move(hooks))
{
    if (!m_hooks.exit)
        m_hooks.exit = [] { QCoreApplication::exit(0); };
    if (!m_hooks.startDetached)
        m_hooks.startDetached = [](const QString& program) { return QProcess::startDetached(program, {}); };
    m_window = std::make_unique<MainWindow>(model, std::move(makeMain));
    connect(m_window.get(), &MainWindow::firstShown, this, &Application::windowShown);
    connect(m_window.get(), &MainWindow::closed, this, &Application::end);
    connect(m_window.get(), &MainWindow::quitRequested, this, &Application::requestQuit);
    connect(m_model, &HubModel::restartRequested, this, &Application::restart);
}

Application::~Application() = default;

void Application::windowShown()
{
    m_shown = true;
    m_model->start();
    for (const QUrl& url : std::exchange(m_early, {}))
        m_model->open(url);
}

void Application::route(const QUrl& url)
{
    if (url.scheme().compare(Config::bundleID(), Qt::CaseInsensitive) == 0 && m_web && m_web->deliverCallback(url)) {
        raiseWindow();
        return;
    }
    if (!m_shown) {
        m_early.push_back(url);
        return;
    }
    m_model->open(url);
    raiseWindow();
}

void Application::raiseWindow()
{
    if (!m_shown)
        return;
    if (m_window->isMinimized())
        m_window->showNormal();
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void Application::requestQuit()
{
    if (m_asking || m_ended)
        return;
    if (!m_model->busy() || m_model->restarting()) {
        end();
        return;
    }
    m_asking = true;
    raiseWindow();
    Kit::confirmCompat(
        m_window.get(), u"An install is still running"_s, u"Quit Anyway"_s,
        u"Quitting now stops it before it finishes."_s,
        [this] {
            m_asking = false;
            end();
        },
        [this] { m_asking = false; });
}

void Application::restart(const QString& program)
{
    // The new program must find the inbox free, or it would hand itself
    // over to this one and end.
    if (m_hooks.releaseInbox)
        m_hooks.releaseInbox();
    if (!m_hooks.startDetached(program)) {
        // Ending now would leave the user with no program running at all.
        qWarning().noquote() << "cannot start the updated program" << program;
        return;
    }
    end();
}

void Application::end()
{
    if (m_ended)
        return;
    m_ended = true;
    m_model->shutdown();
    m_hooks.exit();
}

} // namespace Hub::Shell

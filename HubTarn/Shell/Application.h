#pragma once

#include "Shell/RootView.h"

#include <QObject>
#include <QUrl>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace Hub {
class HubModel;
class SystemWebAuthenticator;
} // namespace Hub

namespace Hub::Shell {

class MainWindow;

// Hands links from the inbox's thread to the main thread. Links that come
// before anyone listens are kept until `drain`.
class LinkRelay : public QObject {
    Q_OBJECT

public:
    // Any thread.
    void post(const QUrl& url);
    // Main thread: emits `arrived` for every waiting link, in order.
    void drain();

Q_SIGNALS:
    void arrived(const QUrl& url);

private:
    std::mutex m_lock;
    std::vector<QUrl> m_waiting; // guarded by m_lock
};

// The running application around the one model: its window, the links it
// is handed, its commands and when it may end.
class Application : public QObject {
    Q_OBJECT

public:
    // What ending and restarting do; tests replace them.
    struct Hooks {
        // Ends the event loop. Default: QCoreApplication::exit(0), which,
        // unlike quit(), does not ask a busy window that refuses to close.
        std::function<void()> exit;
        // Starts the newly installed program. Default: QProcess::startDetached.
        std::function<bool(const QString& program)> startDetached;
        // Gives up the single-instance inbox, so the new program can take it.
        std::function<void()> releaseInbox;
    };

    // `web` may be null (no browser sign-in to hand callbacks to).
    Application(HubModel* model, std::shared_ptr<SystemWebAuthenticator> web, RootView::MainFactory makeMain,
                Hooks hooks = {});
    ~Application() override;

    MainWindow* window() const { return m_window.get(); }

    // A link handed to this instance (main thread). The bundle identifier's
    // scheme is the browser sign-in's callback; everything else goes to the
    // model, and waits until the window has been shown.
    void route(const QUrl& url);

    // Quit, with the guard: while a job works the user is asked first,
    // unless the program is restarting after its own update.
    void requestQuit();

    // The links waiting for the window to show.
    const std::vector<QUrl>& earlyLinks() const { return m_early; }

private:
    void windowShown();
    void raiseWindow();
    void restart(const QString& program);
    void end();

    HubModel* m_model;
    std::shared_ptr<SystemWebAuthenticator> m_web;
    Hooks m_hooks;
    std::unique_ptr<MainWindow> m_window;
    std::vector<QUrl> m_early;
    bool m_shown = false;
    bool m_asking = false;
    bool m_ended = false;
};

} // namespace Hub::Shell

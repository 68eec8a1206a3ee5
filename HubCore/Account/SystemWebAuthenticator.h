#pragma once

#include "Account/WebAuthenticating.h"

#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <mutex>

namespace Hub {

class WebSessionBox;

// The browser sign-in on the desktop: the sign-in page opens in the user's
// default browser, and the page's final redirect to `<callbackScheme>://...`
// reaches this process as a launch of the program with that address, which a
// CallbackInbox forwards to deliverCallback.
//
// One sign-in waits at a time: a new authenticate ends a still-waiting older
// one as cancelled, because one browser redirect cannot tell which of two
// waits it answers and the newest is the one the user is looking at.
class SystemWebAuthenticator final : public WebAuthenticating {
public:
    // Shows `url` in the user's browser; false when the browser could not be
    // started. Must not block on the browser's lifetime.
    using BrowserOpener = std::function<bool(const QUrl& url)>;

    // Opens the browser with xdg-open.
    SystemWebAuthenticator();
    explicit SystemWebAuthenticator(BrowserOpener opener);

    // Blocks the calling thread; never call it on the thread that runs the
    // CallbackInbox's handler. Only http and https pages are opened, as the
    // platform's sign-in window does; anything else cannot be opened.
    QUrl authenticate(const QUrl& url, const QString& callbackScheme, std::stop_token stop) override;

    // Hands an address that reached this process to the waiting sign-in.
    // True when it ended the wait; false when no sign-in waits, the wait has
    // already ended, or the address is not the callback the wait expects (the
    // application then treats it as an ordinary link). Any thread.
    bool deliverCallback(const QUrl& url);

    // The user gave up waiting: the waiting sign-in ends with
    // HubError::cancelled(). Nothing happens when no sign-in waits. Any thread.
    void cancel();

    // The default opener: starts "xdg-open <url>" detached.
    static bool openWithXdgOpen(const QUrl& url);

private:
    std::shared_ptr<WebSessionBox> currentBox() const;

    const BrowserOpener m_opener;
    mutable std::mutex m_lock;
    // Guarded by m_lock: the wait in progress, if any.
    std::shared_ptr<WebSessionBox> m_current;
};

} // namespace Hub

#pragma once

#include <QString>
#include <QUrl>

#include <stop_token>

namespace Hub {

// The browser sign-in window the sign-in client opens for Google and Apple.
class WebAuthenticating {
public:
    virtual ~WebAuthenticating() = default;

    // Opens `url` (the provider's sign-in page) and blocks until the page
    // redirects to an address whose scheme is `callbackScheme`; returns that
    // full callback address. Throws HubError: cancelled() when the user
    // cancels or `stop` is requested (before or during the wait), a message
    // when the window cannot be opened.
    virtual QUrl authenticate(const QUrl& url, const QString& callbackScheme, std::stop_token stop) = 0;
};

} // namespace Hub

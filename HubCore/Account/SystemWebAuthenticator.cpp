#include "Account/SystemWebAuthenticator.h"

#include "Account/WebSessionBox.h"
#include "Base/HubError.h"

#include <QProcess>
#include <QStringList>

#include <stop_token>
#include <utility>

using namespace Qt::StringLiterals;

namespace Hub {

namespace {

HubError cannotOpen()
{
    return HubError::message(u"Couldn't open the sign-in window. Try again."_s);
}

bool isWebPage(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == "https"_L1 || scheme == "http"_L1) && !url.host().isEmpty();
}

} // namespace

SystemWebAuthenticator::SystemWebAuthenticator()
    : SystemWebAuthenticator(&SystemWebAuthenticator::openWithXdgOpen)
{
}

SystemWebAuthenticator::SystemWebAuthenticator(BrowserOpener opener)
    : m_opener(std::move(opener))
{
}

bool SystemWebAuthenticator::openWithXdgOpen(const QUrl& url)
{
    // Detached: xdg-open may run the browser in the foreground for as long
    // as the browser lives.
    return QProcess::startDetached(u"xdg-open"_s, {url.toString(QUrl::FullyEncoded)});
}

QUrl SystemWebAuthenticator::authenticate(const QUrl& url, const QString& callbackScheme, std::stop_token stop)
{
    // A task cancelled before the wait begins gets no browser at all.
    if (stop.stop_requested())
        throw HubError::cancelled();

    auto box = std::make_shared<WebSessionBox>(callbackScheme);
    std::shared_ptr<WebSessionBox> superseded;
    {
        const std::lock_guard guard(m_lock);
        superseded = std::exchange(m_current, box);
    }
    if (superseded)
        superseded->finish(HubError::cancelled());

    // Runs on the requesting thread, or here at once when the stop came in
    // meanwhile; finish is the only thing it does, so it never waits on us.
    const std::stop_callback onStop(stop, [box] { box->finish(HubError::cancelled()); });

    if (!box->isFinished()) {
        // The opener gets a text argument: a page the user's browser shows,
        // never a file or a handler for some other scheme.
        bool opened = false;
        if (isWebPage(url)) {
            try {
                opened = m_opener(url);
            } catch (...) {
                opened = false;
            }
        }
        if (!opened)
            box->finish(cannotOpen());
    }

    struct Release {
        SystemWebAuthenticator& self;
        const std::shared_ptr<WebSessionBox>& box;
        ~Release()
        {
            const std::lock_guard guard(self.m_lock);
            if (self.m_current == box)
                self.m_current.reset();
        }
    } release{*this, box};

    return box->wait();
}

bool SystemWebAuthenticator::deliverCallback(const QUrl& url)
{
    const std::shared_ptr<WebSessionBox> box = currentBox();
    return box && box->offerCallback(url);
}

void SystemWebAuthenticator::cancel()
{
    if (const std::shared_ptr<WebSessionBox> box = currentBox())
        box->finish(HubError::cancelled());
}

std::shared_ptr<WebSessionBox> SystemWebAuthenticator::currentBox() const
{
    const std::lock_guard guard(m_lock);
    return m_current;
}

} // namespace Hub

#include "Account/WebSessionBox.h"

#include <exception>

namespace Hub {

WebSessionBox::WebSessionBox(QString callbackScheme)
    : m_callbackScheme(std::move(callbackScheme))
    , m_continuation(std::in_place)
    , m_outcome(m_continuation->get_future())
{
}

bool WebSessionBox::finish(Result result)
{
    std::optional<std::promise<QUrl>> continuation;
    {
        const std::lock_guard guard(m_lock);
        continuation.swap(m_continuation);
    }
    if (!continuation)
        return false;
    if (const QUrl* url = std::get_if<QUrl>(&result))
        continuation->set_value(*url);
    else
        continuation->set_exception(std::make_exception_ptr(std::get<HubError>(result)));
    return true;
}

bool WebSessionBox::offerCallback(const QUrl& url)
{
    if (!url.isValid() || url.scheme().isEmpty() || url.scheme().compare(m_callbackScheme, Qt::CaseInsensitive) != 0)
        return false;
    return finish(url);
}

bool WebSessionBox::isFinished() const
{
    const std::lock_guard guard(m_lock);
    return !m_continuation.has_value();
}

QUrl WebSessionBox::wait()
{
    return m_outcome.get();
}

} // namespace Hub

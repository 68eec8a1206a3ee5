#pragma once

// What the three parts of the sign-in service's client share: the requests
// and their retries (ClerkTransport.cpp), the device token's keeping
// (ClerkDeviceToken.cpp) and the sign-in flows (ClerkFAPI.cpp).

#include "Account/ClerkFAPI.h"
#include "Base/HubError.h"

#include <QByteArray>
#include <QByteArrayView>

#include <optional>
#include <stop_token>

namespace Hub {

namespace ClerkParts {

inline HubError signInFailed()
{
    using namespace Qt::StringLiterals;
    return HubError::message(u"Sign-in failed. Try again."_s);
}

// `text` without the blanks and tabs around it.
QByteArray trimBlanks(QByteArrayView text);

} // namespace ClerkParts

// The stop token of one call: the caller's and the session's together.
class ClerkFAPI::Call {
public:
    Call(const Http::Session& session, std::stop_token stop)
        : m_session(session)
    {
        if (!stop.stop_possible())
            return;
        if (!session.stop.stop_possible()) {
            m_session.stop = std::move(stop);
            return;
        }
        m_fromSession.emplace(session.stop, RequestStop{&m_source});
        m_fromCaller.emplace(std::move(stop), RequestStop{&m_source});
        m_session.stop = m_source.get_token();
    }

    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    const Http::Session& session() const { return m_session; }
    std::stop_token stop() const { return m_session.stop; }

private:
    struct RequestStop {
        std::stop_source* source;
        void operator()() const { source->request_stop(); }
    };

    std::stop_source m_source;
    Http::Session m_session;
    std::optional<std::stop_callback<RequestStop>> m_fromSession;
    std::optional<std::stop_callback<RequestStop>> m_fromCaller;
};

} // namespace Hub

#include "Base/HubError.h"

namespace Hub {

HubError::HubError(Kind kind, QString code, QString text)
    : m_kind(kind)
    , m_code(std::move(code))
    , m_text(std::move(text))
{
    m_what = errorDescription().toUtf8();
}

HubError HubError::message(QString sentence)
{
    return HubError(Kind::message, {}, std::move(sentence));
}

HubError HubError::api(QString code, QString message)
{
    return HubError(Kind::api, std::move(code), std::move(message));
}

HubError HubError::cancelled()
{
    return HubError(Kind::cancelled, {}, {});
}

QString HubError::errorDescription() const
{
    if (m_kind == Kind::cancelled)
        return QStringLiteral("Cancelled.");
    return m_text;
}

bool HubError::isUnauthorized() const
{
    return m_kind == Kind::api && m_code == QLatin1String("unauthorized");
}

bool HubError::isOffline() const
{
    return m_kind == Kind::api && m_code == QLatin1String("offline");
}

} // namespace Hub

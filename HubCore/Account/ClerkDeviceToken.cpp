#include "Account/ClerkFAPI.h"

#include "Account/ClerkFAPIParts.h"

using namespace Qt::StringLiterals;

namespace Hub {

void ClerkFAPI::adopt(const Http::Response& response)
{
    std::optional<ClientDTO> client;
    try {
        client = decodeReply<ClientCarrier>(response.body).carriedClient();
    } catch (const Json::DecodingError&) {
        // A body that carries no readable client says nothing about it.
    }

    std::optional<std::pair<quint64, std::optional<QString>>> write;
    {
        const std::lock_guard lock(m_mutex);
        if (const auto header = response.header("Authorization")) {
            const QString value = QString::fromUtf8(ClerkParts::trimBlanks(*header));
            if (!value.isEmpty() && value.compare("Bearer"_L1, Qt::CaseInsensitive) != 0) {
                if (m_deviceToken != value) {
                    m_deviceToken = value;
                    write.emplace(++m_tokenGeneration, value);
                }
            } else {
                m_deviceToken.reset();
                m_clientID.reset();
                write.emplace(++m_tokenGeneration, std::nullopt);
            }
        }
        if (client) {
            m_lastClient = client;
            if (client->id)
                m_clientID = client->id;
        }
    }
    if (write)
        persistToken(write->first, write->second);
}

void ClerkFAPI::persistToken(quint64 generation, const std::optional<QString>& token)
{
    const std::lock_guard lock(m_storeMutex);
    if (generation <= m_storedGeneration)
        return;
    m_storedGeneration = generation;
    if (token)
        m_tokens->save(*token); // a failed save leaves the token in memory for this run
    else
        m_tokens->clear();
}

void ClerkFAPI::forgetDevice()
{
    quint64 generation = 0;
    {
        const std::lock_guard lock(m_mutex);
        m_deviceToken.reset();
        m_clientID.reset();
        generation = ++m_tokenGeneration;
    }
    persistToken(generation, std::nullopt);
}

void ClerkFAPI::loadToken()
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_tokenLoaded)
            return;
    }
    // A second mutex, so that a slow keyring holds up only the callers that
    // need the token, never readers of the rest of the state.
    const std::lock_guard loading(m_loadMutex);
    {
        const std::lock_guard lock(m_mutex);
        if (m_tokenLoaded)
            return;
    }
    const ClerkTokenLoad stored = m_tokens->load();
    const std::lock_guard lock(m_mutex);
    m_tokenLoaded = true;
    if (stored.kind == ClerkTokenLoad::Kind::found && stored.token && m_tokenGeneration == 0)
        m_deviceToken = stored.token;
}

void ClerkFAPI::setPending(std::optional<PendingSignIn> pending)
{
    const std::lock_guard lock(m_mutex);
    m_pending = std::move(pending);
}

std::optional<QString> ClerkFAPI::deviceToken() const
{
    const std::lock_guard lock(m_mutex);
    return m_deviceToken;
}

std::optional<QString> ClerkFAPI::clientID() const
{
    const std::lock_guard lock(m_mutex);
    return m_clientID;
}

std::optional<ClientDTO> ClerkFAPI::lastClient() const
{
    const std::lock_guard lock(m_mutex);
    return m_lastClient;
}

std::optional<ClerkFAPI::PendingSignIn> ClerkFAPI::pending() const
{
    const std::lock_guard lock(m_mutex);
    return m_pending;
}

} // namespace Hub

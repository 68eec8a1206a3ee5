#include "Account/KeychainClerkTokenStore.h"

#include "Base/Config.h"

#include <QStringDecoder>

using namespace Qt::StringLiterals;

namespace Hub {

namespace {

constexpr auto kTokenAccount = "clerkDeviceToken"_L1;

// Items an earlier build of the sign-in client kept beside the token.
constexpr QLatin1StringView kCachedAccounts[] = {
    "cachedClientServerDate"_L1,
    "cachedEnvironment"_L1,
    "cachedClient"_L1,
};

std::optional<QString> strictUtf8(const QByteArray& data)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder(data);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

} // namespace

QString KeychainClerkTokenStore::defaultService() { return Config::bundleID() + u".clerk"_s; }
QString KeychainClerkTokenStore::defaultAccount() { return kTokenAccount; }

KeychainClerkTokenStore::KeychainClerkTokenStore(std::shared_ptr<SecretStore> secrets, QString service, QString account)
    : m_secrets(std::move(secrets))
    , m_service(std::move(service))
    , m_account(std::move(account))
{
}

ClerkTokenLoad KeychainClerkTokenStore::load() const
{
    const SecretStore::ReadResult result = m_secrets->read(m_service, m_account);
    switch (result.status) {
    case SecretStore::Status::itemNotFound:
        return ClerkTokenLoad::none();
    case SecretStore::Status::failed:
        return ClerkTokenLoad::unreadable();
    case SecretStore::Status::success:
        break;
    }
    if (!result.data)
        return ClerkTokenLoad::unreadable();
    std::optional<QString> token = strictUtf8(*result.data);
    if (!token || token->isEmpty())
        return ClerkTokenLoad::unreadable();
    return ClerkTokenLoad::found(std::move(*token));
}

bool KeychainClerkTokenStore::save(const QString& token)
{
    const QByteArray data = token.toUtf8();
    switch (m_secrets->update(m_service, m_account, data)) {
    case SecretStore::Status::success:
        return true;
    case SecretStore::Status::itemNotFound:
        return m_secrets->add(m_service, m_account, data, std::nullopt) == SecretStore::Status::success;
    case SecretStore::Status::failed:
        break;
    }
    return false;
}

void KeychainClerkTokenStore::clear()
{
    m_secrets->remove(m_service, m_account);
    if (m_account != kTokenAccount)
        return;
    for (const QLatin1StringView account : kCachedAccounts)
        m_secrets->remove(m_service, account);
}

} // namespace Hub

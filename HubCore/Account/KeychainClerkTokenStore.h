#pragma once

#include "Account/ClerkTokenStoring.h"
#include "Platform/SecretStore.h"

#include <memory>

namespace Hub {

// The sign-in device token as one secret item: service "<bundle id>.clerk",
// account "clerkDeviceToken", data the token's UTF-8 bytes.
class KeychainClerkTokenStore : public ClerkTokenStoring {
public:
    static QString defaultService();
    static QString defaultAccount();

    explicit KeychainClerkTokenStore(std::shared_ptr<SecretStore> secrets, QString service = defaultService(),
                                     QString account = defaultAccount());

    const QString& service() const { return m_service; }
    const QString& account() const { return m_account; }

    ClerkTokenLoad load() const override;
    bool save(const QString& token) override;
    // Also removes the sign-in client's older cached items when this is the
    // default account, so that no stale client state outlives a sign-out.
    void clear() override;

private:
    std::shared_ptr<SecretStore> m_secrets;
    QString m_service;
    QString m_account;
};

} // namespace Hub

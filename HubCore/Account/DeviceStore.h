#pragma once

#include "Account/DeviceStoring.h"
#include "Platform/SecretStore.h"

#include <memory>
#include <optional>

namespace Hub {

// The device session as one secret item: service "<bundle id>.device",
// the account chosen by the app model, data the session's JSON.
class DeviceStore : public DeviceStoring {
public:
    static QString service();
    static QString machinePrefix();
    // "device" for the real home folder; for an isolated home folder
    // "sandbox-" plus 12 hex digits of its path's digest, so a sandboxed run
    // never touches the real sign-in.
    static QString accountFor(const std::optional<QString>& isolatedHome);

    DeviceStore(std::shared_ptr<SecretStore> secrets, QString account);

    const QString& account() const { return m_account; }

    DeviceLoad loadResult() const override;
    bool save(const DeviceSession& session) override;
    void clear() override;

    // loadResult() with none and unreadable both as nothing.
    std::optional<DeviceSession> load() const;

    static DeviceLoad classify(SecretStore::Status status, const std::optional<QByteArray>& data);
    // The first 32 hex digits of sha256Hex("tarnaudio-hub|" + uuid); nothing
    // for a missing or empty identifier.
    static std::optional<QString> machineID(const std::optional<QString>& uuid);

private:
    std::shared_ptr<SecretStore> m_secrets;
    QString m_account;
};

} // namespace Hub

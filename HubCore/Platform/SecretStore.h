#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace Hub {

// Generic-password items addressed by a service name and an account name:
// the keychain of the platform the stores were designed for, a Secret
// Service collection here. One item per (service, account).
//
// No call throws; every call may block (the platform may ask the user to
// unlock), each implementation bounds that wait. Safe from any thread.
class SecretStore {
public:
    enum class Status {
        success,
        itemNotFound, // no item with this service and account exists
        failed,       // the store could not answer: locked, no service, time-out, ...
    };

    struct ReadResult {
        Status status = Status::failed;
        std::optional<QByteArray> data; // only with success; nothing for an item without a secret
    };

    virtual ~SecretStore() = default;

    virtual ReadResult read(const QString& service, const QString& account) const = 0;
    // Replaces the data of the existing item, keeping its label;
    // itemNotFound when there is none (nothing is created).
    virtual Status update(const QString& service, const QString& account, const QByteArray& data) = 0;
    // Creates the item; `label` is what a keyring manager shows for it.
    virtual Status add(const QString& service, const QString& account, const QByteArray& data,
                       const std::optional<QString>& label) = 0;
    virtual Status remove(const QString& service, const QString& account) = 0;
};

} // namespace Hub

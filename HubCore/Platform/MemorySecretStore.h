#pragma once

#include "Platform/SecretStore.h"

#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace Hub {

// A SecretStore in memory for tests: items can be planted and inspected,
// every call is logged, and each kind of call can be made to fail.
class MemorySecretStore : public SecretStore {
public:
    struct Item {
        std::optional<QByteArray> data; // nothing: an item without a secret
        std::optional<QString> label;
        friend bool operator==(const Item&, const Item&) = default;
    };

    enum class Operation { read, update, add, remove };

    struct Call {
        Operation operation;
        QString service;
        QString account;
        friend bool operator==(const Call&, const Call&) = default;
    };

    ReadResult read(const QString& service, const QString& account) const override;
    Status update(const QString& service, const QString& account, const QByteArray& data) override;
    Status add(const QString& service, const QString& account, const QByteArray& data,
               const std::optional<QString>& label) override;
    Status remove(const QString& service, const QString& account) override;

    void put(const QString& service, const QString& account, Item item);
    std::optional<Item> item(const QString& service, const QString& account) const;
    std::size_t itemCount() const;

    // Every later call of that kind answers `status` without touching the
    // items; std::nullopt restores normal behaviour.
    void setFailure(Operation operation, std::optional<Status> status);

    std::vector<Call> calls() const;
    void clearCalls();

private:
    using Key = std::pair<QString, QString>;

    std::optional<Status> failureFor(Operation operation) const;
    void log(Operation operation, const QString& service, const QString& account) const;

    mutable std::mutex m_mutex;
    std::map<Key, Item> m_items;
    std::map<Operation, Status> m_failures;
    mutable std::vector<Call> m_calls;
};

} // namespace Hub

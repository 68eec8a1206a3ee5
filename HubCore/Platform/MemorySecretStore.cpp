#include "Platform/MemorySecretStore.h"

namespace Hub {

std::optional<SecretStore::Status> MemorySecretStore::failureFor(Operation operation) const
{
    const auto it = m_failures.find(operation);
    if (it == m_failures.end())
        return std::nullopt;
    return it->second;
}

void MemorySecretStore::log(Operation operation, const QString& service, const QString& account) const
{
    m_calls.push_back({operation, service, account});
}

SecretStore::ReadResult MemorySecretStore::read(const QString& service, const QString& account) const
{
    const std::lock_guard lock(m_mutex);
    log(Operation::read, service, account);
    if (const auto failure = failureFor(Operation::read))
        return {*failure, std::nullopt};
    const auto it = m_items.find({service, account});
    if (it == m_items.end())
        return {Status::itemNotFound, std::nullopt};
    return {Status::success, it->second.data};
}

SecretStore::Status MemorySecretStore::update(const QString& service, const QString& account, const QByteArray& data)
{
    const std::lock_guard lock(m_mutex);
    log(Operation::update, service, account);
    if (const auto failure = failureFor(Operation::update))
        return *failure;
    const auto it = m_items.find({service, account});
    if (it == m_items.end())
        return Status::itemNotFound;
    it->second.data = data;
    return Status::success;
}

SecretStore::Status MemorySecretStore::add(const QString& service, const QString& account, const QByteArray& data,
                                           const std::optional<QString>& label)
{
    const std::lock_guard lock(m_mutex);
    log(Operation::add, service, account);
    if (const auto failure = failureFor(Operation::add))
        return *failure;
    // Like a keychain, adding never overwrites an existing item.
    if (m_items.contains({service, account}))
        return Status::failed;
    m_items.emplace(Key{service, account}, Item{data, label});
    return Status::success;
}

SecretStore::Status MemorySecretStore::remove(const QString& service, const QString& account)
{
    const std::lock_guard lock(m_mutex);
    log(Operation::remove, service, account);
    if (const auto failure = failureFor(Operation::remove))
        return *failure;
    return m_items.erase({service, account}) ? Status::success : Status::itemNotFound;
}

void MemorySecretStore::put(const QString& service, const QString& account, Item item)
{
    const std::lock_guard lock(m_mutex);
    m_items[{service, account}] = std::move(item);
}

std::optional<MemorySecretStore::Item> MemorySecretStore::item(const QString& service, const QString& account) const
{
    const std::lock_guard lock(m_mutex);
    const auto it = m_items.find({service, account});
    if (it == m_items.end())
        return std::nullopt;
    return it->second;
}

std::size_t MemorySecretStore::itemCount() const
{
    const std::lock_guard lock(m_mutex);
    return m_items.size();
}

void MemorySecretStore::setFailure(Operation operation, std::optional<Status> status)
{
    const std::lock_guard lock(m_mutex);
    if (status)
        m_failures[operation] = *status;
    else
        m_failures.erase(operation);
}

std::vector<MemorySecretStore::Call> MemorySecretStore::calls() const
{
    const std::lock_guard lock(m_mutex);
    return m_calls;
}

void MemorySecretStore::clearCalls()
{
    const std::lock_guard lock(m_mutex);
    m_calls.clear();
}

} // namespace Hub

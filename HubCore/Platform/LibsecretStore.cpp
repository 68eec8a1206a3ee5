#include "Platform/LibsecretStore.h"

#include "Base/Config.h"

// GLib's headers come after Qt's so that QT_NO_KEYWORDS stays effective
// and GLib's own "signals" members are left alone.
#include <libsecret/secret.h>

#include <QDebug>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>

using namespace Qt::StringLiterals;

namespace Hub {

namespace {

struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct HashTableUnref {
    void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};
struct ErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
struct ValueUnref {
    void operator()(SecretValue* value) const { secret_value_unref(value); }
};
struct ItemListFree {
    void operator()(GList* list) const { g_list_free_full(list, g_object_unref); }
};

using CancellablePtr = std::unique_ptr<GCancellable, ObjectUnref>;
using ServicePtr = std::unique_ptr<SecretService, ObjectUnref>;
using AttributesPtr = std::unique_ptr<GHashTable, HashTableUnref>;
using ErrorPtr = std::unique_ptr<GError, ErrorFree>;
using ValuePtr = std::unique_ptr<SecretValue, ValueUnref>;
using ItemList = std::unique_ptr<GList, ItemListFree>;

// libsecret's calls take no time-out of their own; a watchdog cancels the
// call's GCancellable when the limit passes (g_cancellable_cancel may be
// called from any thread).
class Deadline {
public:
    explicit Deadline(std::chrono::milliseconds limit)
        : m_cancellable(g_cancellable_new())
        , m_watchdog([this, limit](std::stop_token stop) {
            std::mutex mutex;
            std::condition_variable_any wakeUp;
            std::unique_lock lock(mutex);
            wakeUp.wait_for(lock, stop, limit, [] { return false; });
            if (!stop.stop_requested())
                g_cancellable_cancel(m_cancellable.get());
        })
    {
    }

    GCancellable* cancellable() const { return m_cancellable.get(); }

private:
    CancellablePtr m_cancellable;
    std::jthread m_watchdog; // declared last: stopped and joined first
};

const SecretSchema* schema()
{
    // The schema name is stored with each item and matched on lookup, so
    // our items never mix with another program's that use the same words.
    static const QByteArray name = (Config::bundleID() + u".GenericPassword"_s).toUtf8();
    static const SecretSchema schema = {
        name.constData(),
        SECRET_SCHEMA_NONE,
        {
            {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    };
    return &schema;
}

AttributesPtr attributes(const QString& service, const QString& account)
{
    AttributesPtr table(g_hash_table_new_full(g_str_hash, g_str_equal, g_free, g_free));
    g_hash_table_insert(table.get(), g_strdup("service"), g_strdup(service.toUtf8().constData()));
    g_hash_table_insert(table.get(), g_strdup("account"), g_strdup(account.toUtf8().constData()));
    return table;
}

void logFailure(const char* operation, const GError* error)
{
    qWarning().noquote() << "secret service:" << operation << "failed:"
                         << (error ? QString::fromUtf8(error->message) : u"no answer"_s);
}

// libsecret shares one SecretService object per process; serialising our
// calls keeps its session set-up and prompts from interleaving.
std::mutex& callMutex()
{
    static std::mutex mutex;
    return mutex;
}

ServicePtr connect(GCancellable* cancellable)
{
    GError* raw = nullptr;
    ServicePtr service(secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, cancellable, &raw));
    const ErrorPtr error(raw);
    // Every sign-in step asks the keyring again; without one the user needs
    // to hear it once, in words that say what it means for them.
    static std::once_flag told;
    if (!service)
        std::call_once(told, [] { qWarning().noquote() << LibsecretStore::kNoServiceSentence; });
    return service;
}

ItemList search(SecretService* service, const QString& serviceName, const QString& account, int flags,
                GCancellable* cancellable, bool& ok)
{
    GError* raw = nullptr;
    const AttributesPtr attrs = attributes(serviceName, account);
    ItemList items(secret_service_search_sync(service, schema(), attrs.get(), static_cast<SecretSearchFlags>(flags),
                                              cancellable, &raw));
    const ErrorPtr error(raw);
    ok = !error;
    if (error)
        logFailure("search", error.get());
    return items;
}

ValuePtr makeValue(const QByteArray& data)
{
    return ValuePtr(secret_value_new(data.constData(), data.size(), "application/octet-stream"));
}

} // namespace

LibsecretStore::LibsecretStore(std::chrono::milliseconds timeout)
    : m_timeout(timeout)
{
}

SecretStore::ReadResult LibsecretStore::read(const QString& serviceName, const QString& account) const
{
    const std::lock_guard lock(callMutex());
    const Deadline deadline(m_timeout);
    const ServicePtr service = connect(deadline.cancellable());
    if (!service)
        return {Status::failed, std::nullopt};

    bool ok = false;
    const ItemList items = search(service.get(), serviceName, account,
                                  SECRET_SEARCH_UNLOCK | SECRET_SEARCH_LOAD_SECRETS, deadline.cancellable(), ok);
    if (!ok)
        return {Status::failed, std::nullopt};
    if (!items)
        return {Status::itemNotFound, std::nullopt};

    auto* item = static_cast<SecretItem*>(items->data);
    if (secret_item_get_locked(item)) {
        logFailure("read (collection still locked)", nullptr);
        return {Status::failed, std::nullopt};
    }
    const ValuePtr value(secret_item_get_secret(item));
    if (!value)
        return {Status::success, std::nullopt};
    gsize length = 0;
    const gchar* bytes = secret_value_get(value.get(), &length);
    return {Status::success, QByteArray(bytes, static_cast<qsizetype>(length))};
}

SecretStore::Status LibsecretStore::update(const QString& serviceName, const QString& account, const QByteArray& data)
{
    const std::lock_guard lock(callMutex());
    const Deadline deadline(m_timeout);
    const ServicePtr service = connect(deadline.cancellable());
    if (!service)
        return Status::failed;

    bool ok = false;
    const ItemList items = search(service.get(), serviceName, account, SECRET_SEARCH_ALL | SECRET_SEARCH_UNLOCK,
                                  deadline.cancellable(), ok);
    if (!ok)
        return Status::failed;
    if (!items)
        return Status::itemNotFound;

    // Another program may have left a twin item; all of them get the data so
    // that whichever a later read finds holds the newest value.
    const ValuePtr value = makeValue(data);
    for (GList* node = items.get(); node; node = node->next) {
        GError* raw = nullptr;
        const gboolean set = secret_item_set_secret_sync(static_cast<SecretItem*>(node->data), value.get(),
                                                         deadline.cancellable(), &raw);
        const ErrorPtr error(raw);
        if (!set) {
            logFailure("update", error.get());
            return Status::failed;
        }
    }
    return Status::success;
}

SecretStore::Status LibsecretStore::add(const QString& serviceName, const QString& account, const QByteArray& data,
                                        const std::optional<QString>& label)
{
    const std::lock_guard lock(callMutex());
    const Deadline deadline(m_timeout);
    const ServicePtr service = connect(deadline.cancellable());
    if (!service)
        return Status::failed;

    // The Secret Service requires a label; an item without one is shown by
    // its service name, as a keychain manager would.
    const QByteArray labelText = label.value_or(serviceName).toUtf8();
    const AttributesPtr attrs = attributes(serviceName, account);
    const ValuePtr value = makeValue(data);
    GError* raw = nullptr;
    const gboolean stored = secret_service_store_sync(service.get(), schema(), attrs.get(), SECRET_COLLECTION_DEFAULT,
                                                      labelText.constData(), value.get(), deadline.cancellable(), &raw);
    const ErrorPtr error(raw);
    if (!stored) {
        logFailure("add", error.get());
        return Status::failed;
    }
    return Status::success;
}

SecretStore::Status LibsecretStore::remove(const QString& serviceName, const QString& account)
{
    const std::lock_guard lock(callMutex());
    const Deadline deadline(m_timeout);
    const ServicePtr service = connect(deadline.cancellable());
    if (!service)
        return Status::failed;

    const AttributesPtr attrs = attributes(serviceName, account);
    GError* raw = nullptr;
    const gboolean removed = secret_service_clear_sync(service.get(), schema(), attrs.get(), deadline.cancellable(), &raw);
    const ErrorPtr error(raw);
    if (error) {
        logFailure("remove", error.get());
        return Status::failed;
    }
    return removed ? Status::success : Status::itemNotFound;
}

} // namespace Hub

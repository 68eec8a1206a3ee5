#include "Account/DeviceStore.h"

#include "Base/Config.h"
#include "Base/Digest.h"
#include "Base/Json.h"
#include "Base/Machine.h"

using namespace Qt::StringLiterals;

namespace Hub {

namespace {

constexpr auto kLabel = "Tarnhub device"_L1;

} // namespace

QString DeviceStore::service() { return Config::bundleID() + u".device"_s; }
QString DeviceStore::machinePrefix() { return u"tarnaudio-hub|"_s; }

QString DeviceStore::accountFor(const std::optional<QString>& isolatedHome)
{
    if (!isolatedHome)
        return u"device"_s;
    return u"sandbox-"_s + sha256Hex(*isolatedHome).left(12);
}

DeviceStore::DeviceStore(std::shared_ptr<SecretStore> secrets, QString account)
    : m_secrets(std::move(secrets))
    , m_account(std::move(account))
{
}

DeviceLoad DeviceStore::classify(SecretStore::Status status, const std::optional<QByteArray>& data)
{
    switch (status) {
    case SecretStore::Status::itemNotFound:
        return DeviceLoad::none();
    case SecretStore::Status::failed:
        return DeviceLoad::unreadable();
    case SecretStore::Status::success:
        break;
    }
    if (!data)
        return DeviceLoad::unreadable();
    try {
        return DeviceLoad::found(DeviceSession::decode(*data));
    } catch (const Json::DecodingError&) {
        return DeviceLoad::unreadable();
    }
}

DeviceLoad DeviceStore::loadResult() const
{
    const SecretStore::ReadResult result = m_secrets->read(service(), m_account);
    return classify(result.status, result.data);
}

std::optional<DeviceSession> DeviceStore::load() const
{
    DeviceLoad result = loadResult();
    if (result.kind != DeviceLoad::Kind::found)
        return std::nullopt;
    return std::move(result.session);
}

bool DeviceStore::save(const DeviceSession& session)
{
    const QByteArray data = session.toJson();
    switch (m_secrets->update(service(), m_account, data)) {
    case SecretStore::Status::success:
        return true;
    case SecretStore::Status::itemNotFound:
        return m_secrets->add(service(), m_account, data, QString(kLabel)) == SecretStore::Status::success;
    case SecretStore::Status::failed:
        break;
    }
    return false;
}

void DeviceStore::clear()
{
    m_secrets->remove(service(), m_account);
}

std::optional<QString> DeviceStore::machineID(const std::optional<QString>& uuid)
{
    return Machine::id(machinePrefix(), uuid);
}

} // namespace Hub

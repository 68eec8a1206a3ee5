// Round trip through the real Secret Service: run by with-test-keyring.sh
// inside a private D-Bus session with a throw-away gnome-keyring.
#include "Account/DeviceStore.h"
#include "Platform/LibsecretStore.h"

#include <QCoreApplication>

#include <cstdio>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

using Hub::SecretStore;
using Status = SecretStore::Status;

int failures = 0;

const char* name(Status status)
{
    switch (status) {
    case Status::success:
        return "success";
    case Status::itemNotFound:
        return "itemNotFound";
    case Status::failed:
        return "failed";
    }
    return "?";
}

void expect(bool ok, const char* what)
{
    std::printf("%s: %s\n", ok ? "ok  " : "FAIL", what);
    if (!ok)
        ++failures;
}

void expectStatus(Status actual, Status expected, const char* what)
{
    if (actual != expected)
        std::printf("     got %s, expected %s\n", name(actual), name(expected));
    expect(actual == expected, what);
}

void expectRead(const SecretStore& store, const QString& service, const QString& account, Status status,
                const std::optional<QByteArray>& data, const char* what)
{
    const SecretStore::ReadResult result = store.read(service, account);
    if (result.status != status || result.data != data)
        std::printf("     got %s \"%s\"\n", name(result.status), result.data.value_or("<none>").constData());
    expect(result.status == status && result.data == data, what);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    auto store = std::make_shared<Hub::LibsecretStore>(std::chrono::seconds(10));
    const QString service = u"probe.service"_s;
    const QString account = u"probe-account"_s;
    const QString other = u"probe-other"_s;

    expectRead(*store, service, account, Status::itemNotFound, std::nullopt, "read before anything is stored");
    expectStatus(store->update(service, account, "v0"), Status::itemNotFound, "update of a missing item adds nothing");
    expectRead(*store, service, account, Status::itemNotFound, std::nullopt, "still nothing after that update");

    expectStatus(store->add(service, account, "first", std::nullopt), Status::success, "add");
    expectStatus(store->add(service, other, "neighbour", u"Neighbour"_s), Status::success, "add a neighbour");
    expectRead(*store, service, account, Status::success, QByteArray("first"), "read after add");

    const QByteArray binary("\x00\xff\x01 two", 8);
    expectStatus(store->update(service, account, binary), Status::success, "update");
    expectRead(*store, service, account, Status::success, binary, "read after update, bytes exact");
    expectRead(*store, service, other, Status::success, QByteArray("neighbour"), "the neighbour is untouched");

    expectStatus(store->remove(service, account), Status::success, "delete");
    expectRead(*store, service, account, Status::itemNotFound, std::nullopt, "read after delete");
    expectStatus(store->remove(service, account), Status::itemNotFound, "delete of a missing item");
    expectRead(*store, service, other, Status::success, QByteArray("neighbour"), "the neighbour survives the delete");

    // The device session as the application keeps it.
    Hub::DeviceStore devices(store, u"device"_s);
    const Hub::DeviceSession session{u"tok-1"_s, u"dev-1"_s, {u"u1"_s, u"ada@example.com"_s, u"Ada Ö"_s}};
    expect(devices.loadResult() == Hub::DeviceLoad::none(), "no device session yet");
    expect(devices.save(session), "device session saved (added)");
    Hub::DeviceSession rotated = session;
    rotated.token = u"tok-2"_s;
    expect(devices.save(rotated), "device session saved again (updated)");
    expect(devices.loadResult() == Hub::DeviceLoad::found(rotated), "device session read back");
    devices.clear();
    expect(devices.loadResult() == Hub::DeviceLoad::none(), "device session cleared");

    std::printf("%s\n", failures == 0 ? "secret store round trip passed" : "secret store round trip FAILED");
    return failures == 0 ? 0 : 1;
}

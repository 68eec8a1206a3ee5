#include "Account/DeviceStore.h"
#include "Account/KeychainClerkTokenStore.h"
#include "Base/Config.h"
#include "Platform/LibsecretStore.h"
#include "Platform/MemorySecretStore.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QTemporaryDir>
#include <QRegularExpression>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

using Hub::ClerkTokenLoad;
using Hub::DeviceLoad;
using Hub::DeviceSession;
using Hub::DeviceStore;
using Hub::KeychainClerkTokenStore;
using Hub::MemorySecretStore;
using Op = MemorySecretStore::Operation;
using Status = Hub::SecretStore::Status;

const QString kClerkService = Hub::Config::bundleID() + u".clerk"_s;
const QString kDeviceService = Hub::Config::bundleID() + u".device"_s;
const DeviceSession kSession{u"tok-1"_s, u"dev-1"_s, {u"u1"_s, u"ada@example.com"_s, u"Ada"_s}};

class SecretStoresTest : public ::testing::Test {
protected:
    std::shared_ptr<MemorySecretStore> secrets = std::make_shared<MemorySecretStore>();
};

// ---- the sign-in token

TEST_F(SecretStoresTest, TokenLoadTellsFoundFromNoneFromUnreadable)
{
    KeychainClerkTokenStore store(secrets);
    EXPECT_EQ(store.load(), ClerkTokenLoad::none());

    struct Case {
        const char* name;
        std::optional<QByteArray> data;
        ClerkTokenLoad expected;
    };
    const Case cases[] = {
        {"token", QByteArray("dvb_2abc"), ClerkTokenLoad::found(u"dvb_2abc"_s)},
        {"non-ASCII token", QByteArray("t\xc3\xb6k"), ClerkTokenLoad::found(u"tök"_s)},
        {"empty data", QByteArray(), ClerkTokenLoad::unreadable()},
        {"no data", std::nullopt, ClerkTokenLoad::unreadable()},
        {"not UTF-8", QByteArray("tok\xff\xfe"), ClerkTokenLoad::unreadable()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        secrets->put(kClerkService, u"clerkDeviceToken"_s, {c.data, std::nullopt});
        EXPECT_EQ(store.load(), c.expected);
    }

    secrets->setFailure(Op::read, Status::failed);
    EXPECT_EQ(store.load(), ClerkTokenLoad::unreadable());
}

TEST_F(SecretStoresTest, TokenSaveUpdatesTheItemOrAddsItWhenMissing)
{
    KeychainClerkTokenStore store(secrets);
    ASSERT_TRUE(store.save(u"first"_s));
    EXPECT_EQ(secrets->item(kClerkService, u"clerkDeviceToken"_s),
              (MemorySecretStore::Item{QByteArray("first"), std::nullopt}));
    EXPECT_EQ(secrets->calls(), (std::vector<MemorySecretStore::Call>{
                                    {Op::update, kClerkService, u"clerkDeviceToken"_s},
                                    {Op::add, kClerkService, u"clerkDeviceToken"_s},
                                }));

    // An existing item keeps its attributes; only its data changes.
    secrets->put(kClerkService, u"clerkDeviceToken"_s, {QByteArray("old"), u"set by hand"_s});
    secrets->clearCalls();
    ASSERT_TRUE(store.save(u"second"_s));
    EXPECT_EQ(secrets->item(kClerkService, u"clerkDeviceToken"_s),
              (MemorySecretStore::Item{QByteArray("second"), u"set by hand"_s}));
    EXPECT_EQ(secrets->calls().size(), 1u);
    EXPECT_EQ(store.load(), ClerkTokenLoad::found(u"second"_s));
}

TEST_F(SecretStoresTest, TokenSaveReportsFailureAndAddsNothingAfterAFailedUpdate)
{
    KeychainClerkTokenStore store(secrets);
    secrets->setFailure(Op::update, Status::failed);
    EXPECT_FALSE(store.save(u"t"_s));
    EXPECT_EQ(secrets->itemCount(), 0u);
    for (const auto& call : secrets->calls())
        EXPECT_NE(call.operation, Op::add);

    secrets->setFailure(Op::update, std::nullopt);
    secrets->setFailure(Op::add, Status::failed);
    EXPECT_FALSE(store.save(u"t"_s));
}

TEST_F(SecretStoresTest, ClearingTheDefaultTokenAlsoRemovesTheCachedClientItems)
{
    const QStringList accounts{u"clerkDeviceToken"_s, u"cachedClientServerDate"_s, u"cachedEnvironment"_s,
                               u"cachedClient"_s};
    for (const QString& account : accounts)
        secrets->put(kClerkService, account, {QByteArray("x"), std::nullopt});
    secrets->put(kClerkService, u"somethingElse"_s, {QByteArray("keep"), std::nullopt});
    secrets->put(kDeviceService, u"device"_s, {kSession.toJson(), std::nullopt});

    KeychainClerkTokenStore(secrets).clear();

    std::vector<MemorySecretStore::Call> expected;
    for (const QString& account : accounts)
        expected.push_back({Op::remove, kClerkService, account});
    EXPECT_EQ(secrets->calls(), expected);
    EXPECT_EQ(secrets->itemCount(), 2u);
    EXPECT_TRUE(secrets->item(kClerkService, u"somethingElse"_s));
    EXPECT_TRUE(secrets->item(kDeviceService, u"device"_s));
}

TEST_F(SecretStoresTest, ClearingAnotherAccountRemovesOnlyThatItem)
{
    for (const QString& account : {u"other"_s, u"clerkDeviceToken"_s, u"cachedClient"_s})
        secrets->put(u"svc"_s, account, {QByteArray("x"), std::nullopt});

    KeychainClerkTokenStore(secrets, u"svc"_s, u"other"_s).clear();

    EXPECT_EQ(secrets->calls(), (std::vector<MemorySecretStore::Call>{{Op::remove, u"svc"_s, u"other"_s}}));
    EXPECT_FALSE(secrets->item(u"svc"_s, u"other"_s));
    EXPECT_TRUE(secrets->item(u"svc"_s, u"cachedClient"_s));
}

TEST_F(SecretStoresTest, ClearIgnoresFailures)
{
    secrets->put(kClerkService, u"cachedClient"_s, {QByteArray("x"), std::nullopt});
    KeychainClerkTokenStore(secrets).clear(); // the token item itself is missing
    EXPECT_FALSE(secrets->item(kClerkService, u"cachedClient"_s));

    secrets->setFailure(Op::remove, Status::failed);
    EXPECT_NO_THROW(DeviceStore(secrets, u"device"_s).clear());
}

// ---- the device session

TEST_F(SecretStoresTest, DeviceLoadTellsFoundFromNoneFromUnreadable)
{
    DeviceStore store(secrets, u"device"_s);
    EXPECT_EQ(store.loadResult(), DeviceLoad::none());
    EXPECT_EQ(store.load(), std::nullopt);

    struct Case {
        const char* name;
        std::optional<QByteArray> data;
        DeviceLoad expected;
    };
    const Case cases[] = {
        {"session", kSession.toJson(), DeviceLoad::found(kSession)},
        {"extra keys ignored",
         R"({"token":"tok-1","deviceID":"dev-1","v":2,"user":{"id":"u1","email":"ada@example.com","name":"Ada"}})",
         DeviceLoad::found(kSession)},
        {"no user", R"({"token":"t","deviceID":"d"})", DeviceLoad::unreadable()},
        {"user without email", R"({"token":"t","deviceID":"d","user":{"id":"u","name":"n"}})",
         DeviceLoad::unreadable()},
        {"token a number", R"({"token":1,"deviceID":"d","user":{"id":"u","email":"e","name":"n"}})",
         DeviceLoad::unreadable()},
        {"not JSON", QByteArray("\x00garbage", 8), DeviceLoad::unreadable()},
        {"a list", QByteArray("[]"), DeviceLoad::unreadable()},
        {"empty data", QByteArray(), DeviceLoad::unreadable()},
        {"no data", std::nullopt, DeviceLoad::unreadable()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        secrets->put(kDeviceService, u"device"_s, {c.data, std::nullopt});
        EXPECT_EQ(store.loadResult(), c.expected);
        EXPECT_EQ(store.load(), c.expected.session);
    }

    secrets->setFailure(Op::read, Status::failed);
    EXPECT_EQ(store.loadResult(), DeviceLoad::unreadable());
    EXPECT_EQ(store.load(), std::nullopt);
}

TEST_F(SecretStoresTest, DeviceSaveAddsWithItsLabelThenUpdatesOnlyTheData)
{
    DeviceStore store(secrets, u"device"_s);
    ASSERT_TRUE(store.save(kSession));
    const auto added = secrets->item(kDeviceService, u"device"_s);
    ASSERT_TRUE(added);
    EXPECT_EQ(added->label, u"Tarnhub device"_s);
    EXPECT_EQ(store.loadResult(), DeviceLoad::found(kSession));

    DeviceSession rotated = kSession;
    rotated.token = u"tok-2"_s;
    secrets->put(kDeviceService, u"device"_s, {added->data, u"renamed by the user"_s});
    secrets->clearCalls();
    ASSERT_TRUE(store.save(rotated));
    EXPECT_EQ(secrets->calls(), (std::vector<MemorySecretStore::Call>{{Op::update, kDeviceService, u"device"_s}}));
    EXPECT_EQ(secrets->item(kDeviceService, u"device"_s)->label, u"renamed by the user"_s);
    EXPECT_EQ(store.load(), rotated);

    // A keyring that cannot be written keeps the session it had.
    secrets->setFailure(Op::update, Status::failed);
    EXPECT_FALSE(store.save(kSession));
    secrets->setFailure(Op::update, std::nullopt);
    EXPECT_EQ(store.load(), rotated);
}

TEST_F(SecretStoresTest, SandboxedHomesUseTheirOwnAccountAndNeverTouchTheRealOne)
{
    EXPECT_EQ(DeviceStore::accountFor(std::nullopt), u"device"_s);
    const QString first = DeviceStore::accountFor(u"/tmp/home-a"_s);
    const QString second = DeviceStore::accountFor(u"/tmp/home-b"_s);
    const QRegularExpression shape(u"^sandbox-[0-9a-f]{12}$"_s);
    EXPECT_TRUE(shape.match(first).hasMatch()) << first.toStdString();
    EXPECT_TRUE(shape.match(second).hasMatch()) << second.toStdString();
    EXPECT_NE(first, second);
    EXPECT_EQ(first, DeviceStore::accountFor(u"/tmp/home-a"_s));

    secrets->put(kDeviceService, u"device"_s, {kSession.toJson(), u"Tarnhub device"_s});
    DeviceStore sandbox(secrets, first);
    EXPECT_EQ(sandbox.loadResult(), DeviceLoad::none());
    DeviceSession other = kSession;
    other.token = u"sandbox-token"_s;
    ASSERT_TRUE(sandbox.save(other));
    sandbox.clear();
    for (const auto& call : secrets->calls())
        EXPECT_EQ(call.account, first);
    EXPECT_EQ(DeviceStore(secrets, u"device"_s).load(), kSession);
}

TEST_F(SecretStoresTest, MachineIDIsThePrefixedDigestOrNothing)
{
    EXPECT_EQ(DeviceStore::machineID(std::nullopt), std::nullopt);
    EXPECT_EQ(DeviceStore::machineID(u""_s), std::nullopt);

    const QString uuid = u"4C4C4544-0042-3510-8051-B4C04F4E4B32"_s;
    const QByteArray digest =
        QCryptographicHash::hash(QByteArray("tarnaudio-hub|").append(uuid.toUtf8()), QCryptographicHash::Sha256).toHex();
    EXPECT_EQ(DeviceStore::machineID(uuid), QString::fromLatin1(digest.left(32)));
}

// With no keyring service on the session bus (a machine without a
// desktop session), every call fails, and the user hears why once, in the
// program's words, not once per call in a library's.
QStringList g_warnings;

TEST(NoKeyringService, EveryCallFailsAndTheUserHearsWhyOnce)
{
    const QTemporaryDir scratch;
    ASSERT_TRUE(scratch.isValid());
    // Each test runs in a process of its own: no bus was reached before.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + scratch.filePath(u"no-bus"_s).toUtf8());
    g_warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& message) { g_warnings.append(message); });
    Hub::LibsecretStore store(std::chrono::seconds(20));
    const Hub::SecretStore::ReadResult read = store.read(kClerkService, u"clerkDeviceToken"_s);
    const Status added = store.add(kClerkService, u"clerkDeviceToken"_s, "tok", std::nullopt);
    const Status removed = store.remove(kClerkService, u"clerkDeviceToken"_s);
    qInstallMessageHandler(previous);
    EXPECT_EQ(read.status, Status::failed);
    EXPECT_EQ(added, Status::failed);
    EXPECT_EQ(removed, Status::failed);
    EXPECT_EQ(g_warnings, QStringList{QString::fromUtf8(Hub::LibsecretStore::kNoServiceSentence)});
}

} // namespace

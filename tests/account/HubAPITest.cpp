#include "Account/HubAPI.h"
#include "Base/HubError.h"
#include "FakeHubService.h"
#include "TestHttpsServer.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>

#include <chrono>
#include <functional>
#include <optional>
#include <thread>

using namespace Qt::StringLiterals;

namespace Hub {
void PrintTo(const HubError& error, std::ostream* out)
{
    *out << "HubError(" << static_cast<int>(error.kind()) << ", \"" << error.code().toStdString() << "\", \""
         << error.errorDescription().toStdString() << "\")";
}
} // namespace Hub

namespace {

using Hub::DeviceSession;
using Hub::FeedbackKind;
using Hub::HubAPI;
using Hub::HubError;
using Hub::PluginFormat;
using Hub::Test::FakeHubService;
using Hub::Test::TestHttpsServer;
using namespace std::chrono_literals;

const QUrl kSite(u"https://tarnaudio.example"_s);

const HubError kUnreadable = HubError::api(
    u"server_error"_s, u"Tarnaudio sent an answer this hub can't read. Update Tarnhub and try again."_s);
const HubError kUnavailable =
    HubError::api(u"server_error"_s, u"Tarnaudio is unavailable right now. Try again in a few minutes."_s);
const HubError kUnauthorized = HubError::api(u"unauthorized"_s, u"Sign in again."_s);
const HubError kOffline =
    HubError::api(u"offline"_s, u"Couldn't reach Tarnaudio. Check your connection and try again."_s);

// The HubError a call throws; a normal return or another exception fails the test.
std::optional<HubError> errorOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const HubError& error) {
        return error;
    } catch (const std::exception& other) {
        ADD_FAILURE() << "unexpected exception: " << other.what();
        return std::nullopt;
    }
    ADD_FAILURE() << "expected a HubError, the call succeeded";
    return std::nullopt;
}

std::string jsonText(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

FakeHubService::Reply urlReply(const QString& url)
{
    return {200, jsonText({{u"url"_s, url}})};
}

class HubAPITest : public ::testing::Test {
protected:
    HubAPI apiWith(std::stop_token stop = {}) const
    {
        return HubAPI(service.base(), Hub::Http::Session{server.caBundle(), std::move(stop)}, u"2.4.1"_s, kSite);
    }

    DeviceSession signedIn()
    {
        service.acceptToken("tok-valid");
        return DeviceSession{u"tok-valid"_s, u"dev-9"_s, {u"u1"_s, u"ada@example.com"_s, u"Ada"_s}};
    }

    TestHttpsServer server;
    FakeHubService service{server};
    HubAPI api = apiWith();
};

// What each endpoint puts on the wire: path, authorization, content headers
// and exactly the body keys the service reads.
TEST_F(HubAPITest, EveryEndpointSendsItsKeysAndHeaders)
{
    const DeviceSession device = signedIn();
    struct Case {
        const char* endpoint;
        std::function<void()> call;
        std::string authorization;
        QJsonObject body;
    };
    const Case cases[] = {
        {"hub/device", [&] { api.registerDevice(u"jwt.abc"_s, u"m-123"_s, u"Studio Mac"_s); }, "Bearer jwt.abc",
         {{u"machine_id"_s, u"m-123"_s}, {u"device_name"_s, u"Studio Mac"_s}, {u"hub_version"_s, u"2.4.1"_s}}},
        {"hub/account", [&] { api.account(device, u"m-123"_s); }, "Device tok-valid",
         {{u"machine_id"_s, u"m-123"_s}}},
        {"hub/feedback",
         [&] { api.feedback(device, u"tarn-verb"_s, u"1.2.0"_s, FeedbackKind::bug, u"  \n It crackles.\t\n"_s); },
         "Device tok-valid",
         {{u"product"_s, u"tarn-verb"_s}, {u"version"_s, u"1.2.0"_s}, {u"kind"_s, u"bug"_s},
          {u"message"_s, u"It crackles."_s}}},
        {"hub/download", [&] { api.downloadURL(device, u"tarn-verb"_s, PluginFormat::au, u"1.2.0"_s); },
         "Device tok-valid",
         {{u"product"_s, u"tarn-verb"_s}, {u"format"_s, u"au"_s}, {u"version"_s, u"1.2.0"_s}}},
        {"hub/site-link", [&] { api.siteLink(device); }, "Device tok-valid", {}},
        {"hub/signout", [&] { api.signOut(device); }, "Device tok-valid", {}},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.endpoint);
        ASSERT_NO_THROW(c.call());
        const auto calls = service.calls(c.endpoint);
        ASSERT_EQ(calls.size(), 1u);
        const FakeHubService::Call& call = calls.front();
        EXPECT_EQ(call.header("Authorization"), c.authorization);
        EXPECT_EQ(call.header("Content-Type"), "application/json");
        EXPECT_EQ(call.header("Accept"), "application/json");
        ASSERT_TRUE(call.json.has_value()) << call.body;
        EXPECT_EQ(*call.json, c.body) << call.body;
    }
    // The compact form: no spaces or line breaks added.
    EXPECT_EQ(service.calls("hub/signout").front().body, "{}");
    const auto recorded = server.requests();
    ASSERT_EQ(recorded.size(), std::size(cases));
    EXPECT_EQ(recorded.front().method, "POST");
    EXPECT_EQ(recorded.front().path, "/v1/hub/device");
    EXPECT_EQ(recorded.back().path, "/v1/hub/signout");
}

TEST_F(HubAPITest, RegistrationYieldsTheSessionThatLaterCallsCarry)
{
    service.setUser({"user_7", "grace@example.com", "Grace"});
    const DeviceSession device = api.registerDevice(u"jwt"_s, u"m"_s, u"n"_s);
    EXPECT_EQ(device.token, u"device-token-1"_s);
    EXPECT_EQ(device.deviceID, u"device-1"_s);
    EXPECT_EQ(device.user, (Hub::HubUser{u"user_7"_s, u"grace@example.com"_s, u"Grace"_s}));

    EXPECT_NO_THROW(api.account(device, u"m"_s));
    api.signOut(device);
    // The service forgot the token, so the session is no longer good.
    const auto error = errorOf([&] { api.account(device, u"m"_s); });
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->isUnauthorized());
}

TEST_F(HubAPITest, RegistrationReplyMustHoldTokenIdAndUser)
{
    struct Case {
        const char* name;
        QJsonObject reply;
        std::optional<Hub::HubUser> user; // nothing: the unreadable-answer error
    };
    const QJsonObject fullUser{{u"id"_s, u"u1"_s}, {u"email"_s, u"a@b.c"_s}, {u"name"_s, u"A"_s}};
    const auto with = [](QJsonObject object, const QString& key, const QJsonValue& value) {
        if (value.isUndefined())
            object.remove(key);
        else
            object.insert(key, value);
        return object;
    };
    const QJsonObject good{{u"device_token"_s, u"t"_s}, {u"device_id"_s, u"d"_s}, {u"user"_s, fullUser}};
    const Case cases[] = {
        {"complete", good, Hub::HubUser{u"u1"_s, u"a@b.c"_s, u"A"_s}},
        {"user without name", with(good, u"user"_s, with(fullUser, u"name"_s, QJsonValue::Undefined)),
         Hub::HubUser{u"u1"_s, u"a@b.c"_s, QString()}},
        {"user email a number", with(good, u"user"_s, with(fullUser, u"email"_s, 5)),
         Hub::HubUser{u"u1"_s, QString(), u"A"_s}},
        {"empty device token", with(good, u"device_token"_s, u""_s), std::nullopt},
        {"device token a number", with(good, u"device_token"_s, 12), std::nullopt},
        {"no device id", with(good, u"device_id"_s, QJsonValue::Undefined), std::nullopt},
        {"user empty id", with(good, u"user"_s, with(fullUser, u"id"_s, u""_s)), std::nullopt},
        {"user a text", with(good, u"user"_s, u"u1"_s), std::nullopt},
        {"no user", with(good, u"user"_s, QJsonValue::Undefined), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        service.setReply("hub/device", {200, jsonText(c.reply)});
        if (c.user) {
            DeviceSession device;
            ASSERT_NO_THROW(device = api.registerDevice(u"jwt"_s, u"m"_s, u"n"_s));
            EXPECT_EQ(device.user, *c.user);
            EXPECT_EQ(device.token, c.reply.value("device_token"_L1).toString());
        } else {
            EXPECT_EQ(errorOf([&] { api.registerDevice(u"jwt"_s, u"m"_s, u"n"_s); }), kUnreadable);
        }
    }
}

// How any reply becomes a result or an error, whatever the endpoint.
TEST_F(HubAPITest, RepliesMapToResultsAndErrors)
{
    const DeviceSession device = signedIn();
    struct Case {
        const char* name;
        FakeHubService::Reply reply;
        std::optional<HubError> error; // nothing: the call succeeds
    };
    const Case cases[] = {
        {"500 naming an error and a message", {500, R"({"error":"rate_limited","message":"Slow down."})"},
         HubError::api(u"rate_limited"_s, u"Slow down."_s)},
        {"200 naming an error without a message", {200, R"({"error":"maintenance"})"},
         HubError::api(u"maintenance"_s, u"Something went wrong (maintenance)."_s)},
        {"error text with a non-text message", {200, R"({"error":"x","message":7})"},
         HubError::api(u"x"_s, u"Something went wrong (x)."_s)},
        {"401 naming its own error", {401, R"({"error":"device_revoked","message":"Removed on the web."})"},
         HubError::api(u"device_revoked"_s, u"Removed on the web."_s)},
        {"401 with an HTML page", {401, "<html><body>Unauthorized</body></html>", "text/html"}, kUnauthorized},
        {"401 with an empty object", {401, "{}"}, kUnauthorized},
        {"401 with a numeric error", {401, R"({"error":401})"}, kUnauthorized},
        {"502 with an HTML page", {502, "<html>Bad gateway</html>", "text/html"}, kUnavailable},
        {"200 with a list", {200, "[]"}, kUnavailable},
        {"200 with an empty body", {200, ""}, kUnavailable},
        {"500 with an empty object", {500, "{}"}, kUnavailable},
        {"404 with an empty object", {404, "{}"}, kUnavailable},
        {"500 with a numeric error", {500, R"({"error":42})"}, kUnavailable},
        {"200 with a numeric error", {200, R"({"error":42})"}, std::nullopt},
        {"201 with an empty object", {201, "{}"}, std::nullopt},
        {"200 past the size cap", {200, R"({"email":")" + std::string(2 << 20, 'a') + R"("})"}, kUnavailable},
        {"401 with a page past the size cap", {401, std::string(2 << 20, 'x'), "text/html"}, kUnauthorized},
        {"500 naming an error past the size cap",
         {500, R"({"error":"busy","message":"Later.","pad":")" + std::string(2 << 20, 'p') + R"("})"},
         kUnavailable},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        service.setReply("hub/account", c.reply);
        if (c.error)
            EXPECT_EQ(errorOf([&] { api.account(device, u"m"_s); }), *c.error);
        else
            EXPECT_NO_THROW(api.account(device, u"m"_s));
    }
}

// The failure the issue was about: a failed reply must never read as sent.
TEST_F(HubAPITest, FeedbackOnAServerErrorWithoutErrorTextFails)
{
    const DeviceSession device = signedIn();
    service.setReply("hub/feedback", {500, "{}"});
    EXPECT_EQ(errorOf([&] { api.feedback(device, u"p"_s, u"1"_s, FeedbackKind::love, u"Great"_s); }), kUnavailable);
}

TEST_F(HubAPITest, AnUnknownDeviceTokenIsUnauthorizedEverywhere)
{
    const DeviceSession stranger{u"tok-unknown"_s, u"d"_s, {u"u"_s, {}, {}}};
    const std::pair<const char*, std::function<void()>> calls[] = {
        {"account", [&] { api.account(stranger, u"m"_s); }},
        {"feedback", [&] { api.feedback(stranger, u"p"_s, u"1"_s, FeedbackKind::idea, u"hi"_s); }},
        {"download", [&] { api.downloadURL(stranger, u"p"_s, PluginFormat::vst3, u"1"_s); }},
        {"site link", [&] { api.siteLink(stranger); }},
    };
    for (const auto& [name, call] : calls) {
        SCOPED_TRACE(name);
        const auto error = errorOf(call);
        ASSERT_TRUE(error);
        EXPECT_EQ(*error, kUnauthorized);
        EXPECT_TRUE(error->isUnauthorized());
    }
}

TEST_F(HubAPITest, NoReplyIsOfflineAndAStopIsCancelled)
{
    QUrl deadBase;
    {
        TestHttpsServer gone;
        deadBase = gone.url(u"/v1/"_s);
    }
    const HubAPI unreachable(deadBase, Hub::Http::Session{server.caBundle(), {}}, u"1"_s, kSite);
    const DeviceSession device = signedIn();
    const auto offline = errorOf([&] { unreachable.account(device, u"m"_s); });
    ASSERT_TRUE(offline);
    EXPECT_EQ(*offline, kOffline);
    EXPECT_TRUE(offline->isOffline());

    // A reply that takes its time, cancelled by the caller meanwhile.
    server.post("/v1/hub/account", [this](const httplib::Request&, httplib::Response& response) {
        server.pause(5s);
        response.set_content("{}", "application/json");
    });
    std::stop_source stop;
    const HubAPI cancellable = apiWith(stop.get_token());
    std::jthread canceller([&stop] {
        std::this_thread::sleep_for(200ms);
        stop.request_stop();
    });
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(errorOf([&] { cancellable.account(device, u"m"_s); }), HubError::cancelled());
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
}

TEST_F(HubAPITest, SignOutNeverFailsAndGivesUpAfterEightSeconds)
{
    const DeviceSession device = signedIn();
    service.setReply("hub/signout", {500, "<html>down</html>", "text/html"});
    EXPECT_NO_THROW(api.signOut(device));

    server.post("/v1/hub/signout", [this](const httplib::Request&, httplib::Response& response) {
        server.pause(15s);
        response.set_content("{}", "application/json");
    });
    const auto started = std::chrono::steady_clock::now();
    api.signOut(device);
    const auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_GE(waited, 7500ms);
    EXPECT_LT(waited, 10s);
}

TEST_F(HubAPITest, FeedbackIsTrimmedAndLimitedToTwoThousandCharacters)
{
    const DeviceSession device = signedIn();
    const auto send = [&](const QString& message) {
        api.feedback(device, u"p"_s, u"1"_s, FeedbackKind::question, message);
    };

    for (const QString& blank : {QString(), u"   "_s, u"\n\t \r\n"_s}) {
        EXPECT_EQ(errorOf([&] { send(blank); }), HubError::message(u"Write something first."_s));
    }
    const HubError tooLong = HubError::message(u"Keep it under 2,000 characters."_s);
    EXPECT_EQ(errorOf([&] { send(QString(2001, u'a')); }), tooLong);
    // Counted as the user sees characters: an accented letter written as two
    // code points, or a family emoji, is one.
    EXPECT_EQ(errorOf([&] { send(u"e\u0301"_s.repeated(2001)); }), tooLong);
    EXPECT_TRUE(service.calls("hub/feedback").empty()) << "refused messages must not be sent";

    const QString exactly = QString(2000, u'a');
    ASSERT_NO_THROW(send(u"\n  "_s + exactly + u"  \n"_s));
    ASSERT_NO_THROW(send(u"e\u0301"_s.repeated(2000)));
    ASSERT_NO_THROW(send(u"\U0001F468\u200D\U0001F469\u200D\U0001F467"_s.repeated(2000)));
    const auto sent = service.calls("hub/feedback");
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].json->value("message"_L1).toString(), exactly);
    EXPECT_EQ(sent[1].json->value("message"_L1).toString(), u"e\u0301"_s.repeated(2000));
}

TEST_F(HubAPITest, DownloadAddressRules)
{
    const DeviceSession device = signedIn();
    const QString base = service.base().toString(); // https://127.0.0.1:<port>/v1/
    const QString origin = server.url(u"/"_s).toString();
    struct Case {
        const char* name;
        std::optional<QJsonValue> url; // nothing: the key is missing
        std::optional<QString> expected; // nothing: the unreadable-answer error
    };
    const Case cases[] = {
        {"absolute https", QJsonValue(u"https://cdn.example.com/a/Tarn%20Verb.zip"_s),
         u"https://cdn.example.com/a/Tarn%20Verb.zip"_s},
        {"absolute http", QJsonValue(u"http://cdn.example.com/a.zip"_s), u"http://cdn.example.com/a.zip"_s},
        {"bare relative path", QJsonValue(u"files/a.zip"_s), base + u"files/a.zip"_s},
        {"root-relative path", QJsonValue(u"/files/a.zip"_s), origin + u"files/a.zip"_s},
        {"scheme in capitals", QJsonValue(u"HTTPS://cdn.example.com/a.zip"_s), std::nullopt},
        {"scheme capitalised", QJsonValue(u"Http://cdn.example.com/a.zip"_s), std::nullopt},
        {"another scheme", QJsonValue(u"ftp://cdn.example.com/a.zip"_s), std::nullopt},
        {"file scheme", QJsonValue(u"file:///etc/passwd"_s), std::nullopt},
        {"empty text", QJsonValue(u""_s), std::nullopt},
        {"not text", QJsonValue(3), std::nullopt},
        {"missing", std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QJsonObject reply;
        if (c.url)
            reply.insert(u"url"_s, *c.url);
        service.setReply("hub/download", {200, jsonText(reply)});
        if (c.expected) {
            QUrl url;
            ASSERT_NO_THROW(url = api.downloadURL(device, u"p"_s, PluginFormat::vst3, u"1"_s));
            EXPECT_EQ(url.toString(QUrl::FullyEncoded).toStdString(), c.expected->toStdString());
        } else {
            EXPECT_EQ(errorOf([&] { api.downloadURL(device, u"p"_s, PluginFormat::vst3, u"1"_s); }), kUnreadable);
        }
    }

    service.resetReply("hub/download");
    EXPECT_EQ(api.downloadURL(device, u"tarn-verb"_s, PluginFormat::app, u"3.0"_s),
              server.url(u"/downloads/tarn-verb/3.0/app"_s));
}

// The account page opens signed in, so only the maker's own site may get it.
TEST_F(HubAPITest, SiteLinkMustBeHttpsOnTheMakersSite)
{
    const DeviceSession device = signedIn();
    struct Case {
        QString url;
        bool accepted;
    };
    const Case cases[] = {
        {u"https://tarnaudio.example/account?t=1"_s, true},
        {u"https://shop.tarnaudio.example/account"_s, true},
        {u"https://a.b.tarnaudio.example/"_s, true},
        {u"https://eviltarnaudio.example/account"_s, false},
        {u"https://tarnaudio.example.evil.com/account"_s, false},
        {u"https://tarnaudio.example@evil.com/account"_s, false},
        {u"http://tarnaudio.example/account"_s, false},
        {u"HTTPS://tarnaudio.example/account"_s, false},
        {u"/account"_s, false},
        {u"https:///account"_s, false},
        {u"javascript:alert(1)"_s, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url.toStdString());
        service.setReply("hub/site-link", urlReply(c.url));
        if (c.accepted)
            EXPECT_EQ(api.siteLink(device), QUrl(c.url));
        else
            EXPECT_EQ(errorOf([&] { api.siteLink(device); }), kUnreadable);
    }
}

} // namespace

// The account reply's product lists are optional and written by a service
// that may change: anything odd reads as nothing rather than failing the
// check, and only plain identifiers get through.
TEST_F(HubAPITest, AccountReplyListsAreReadTolerantly)
{
    const DeviceSession device = signedIn();
    struct Case {
        const char* name;
        std::string reply;
        QStringList betas;
        QStringList products;
    };
    const std::vector<Case> cases = {
        {"both absent", R"({})", {}, {}},
        {"both null", R"({"betas":null,"products":null})", {}, {}},
        {"not lists", R"({"betas":"echo","products":{"echo":true}})", {}, {}},
        {"plain lists", R"({"betas":["echo","delay-2"],"products":["vault_1.x"]})",
         {u"echo"_s, u"delay-2"_s}, {u"vault_1.x"_s}},
        {"odd entries dropped",
         R"({"betas":["echo",3,null,"","../etc","a b","-lead",".hidden","echo"],"products":[["x"],"ok"]})",
         {u"echo"_s}, {u"ok"_s}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        service.setReply("hub/account", {200, c.reply});
        Hub::AccountReply reply;
        ASSERT_NO_THROW(reply = api.account(device, u"m"_s));
        EXPECT_EQ(reply.betas, c.betas);
        EXPECT_EQ(reply.products, c.products);
    }
}

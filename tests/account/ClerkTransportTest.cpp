#include "Account/ClerkFAPI.h"
#include "Account/ClerkIdentity.h"
#include "Base/Config.h"
#include "Base/HubError.h"
#include "Base/Machine.h"
#include "FakeClerkService.h"

#include <QVersionNumber>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using testing::ElementsAre;
using testing::IsEmpty;

namespace Hub {
namespace {

using Test::ClerkTestBed;
using Test::FakeClerkService;
using Endpoint = FakeClerkService::Endpoint;

QString keyFor(const char* prefix, const QByteArray& hostAndDollar)
{
    QByteArray encoded = hostAndDollar.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    return QString::fromLatin1(prefix) + QString::fromLatin1(encoded);
}

TEST(ClerkFrontendAPI, DecodesTheHostFromThePublishableKey)
{
    const QUrl expected(u"https://clerk.tarnaudio.example"_s);
    EXPECT_EQ(ClerkIdentity::frontendAPI(keyFor("pk_test_", "clerk.tarnaudio.example$")), expected);
    EXPECT_EQ(ClerkIdentity::frontendAPI(keyFor("pk_live_", "clerk.tarnaudio.example$")), expected);
    EXPECT_EQ(ClerkIdentity::frontendAPI(u"  \n"_s + keyFor("pk_live_", "clerk.tarnaudio.example$") + u"\n"_s),
              expected);
    // Padded keys decode the same.
    EXPECT_EQ(ClerkIdentity::frontendAPI(u"pk_test_eC55JA=="_s), QUrl(u"https://x.y"_s));

    const QString refused[] = {
        keyFor("pk_prod_", "clerk.tarnaudio.example$"),
        keyFor("pk_test_", "clerk.tarnaudio.example"),
        keyFor("pk_test_", "$"),
        keyFor("pk_test_", "evil.example/path$"),
        keyFor("pk_test_", "evil.example:444$"),
        keyFor("pk_test_", "user@evil.example$"),
        // Allowed characters that still name no host: no client, so the
        // user hears that sign-in is not set up rather than that it failed.
        keyFor("pk_test_", "a..b$"),
        keyFor("pk_test_", "-clerk.example$"),
        u"pk_test_"_s,
        u"pk_test_!!!!"_s,
        u"pk_test_\u00e9"_s,
        QString(),
    };
    for (const QString& key : refused)
        EXPECT_FALSE(ClerkIdentity::frontendAPI(key)) << key.toStdString();
}

TEST(ClerkShared, OneInstancePerExactKeyAndNoneForABadKey)
{
    int made = 0;
    const auto make = [&made](const QUrl& base) {
        ++made;
        return std::make_shared<ClerkFAPI>(base, Http::Session{}, ClerkFAPI::Dependencies{});
    };
    const QString key = keyFor("pk_test_", "shared-table.example$");
    const auto first = ClerkFAPI::shared(key, make);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->base(), QUrl(u"https://shared-table.example"_s));
    EXPECT_EQ(ClerkFAPI::shared(key, make), first);
    const auto blank = ClerkFAPI::shared(key + u' ', make);
    EXPECT_NE(blank, first);
    EXPECT_EQ(blank->base(), first->base());
    EXPECT_EQ(made, 2);

    EXPECT_FALSE(ClerkFAPI::shared(u"sk_test_abc"_s, make));
    EXPECT_EQ(made, 2);
}

TEST(ClerkFormEncode, SortsDropsAbsentAndEncodesAllButUnreserved)
{
    EXPECT_EQ(ClerkFAPI::formEncode({{u"b"_s, u"2"_s}, {u"a"_s, u"x y"_s}, {u"c"_s, std::nullopt}}), u"a=x%20y&b=2"_s);
    EXPECT_EQ(ClerkFAPI::formEncode({{u"k"_s, u"~-._+/=&é"_s}}), u"k=~-._%2B%2F%3D%26%C3%A9"_s);
    EXPECT_EQ(ClerkFAPI::formEncode({{u"empty"_s, QString()}}), u"empty="_s);
    EXPECT_EQ(ClerkFAPI::formEncode({}), QString());
}

// Every request carries the same fixed headers and the "_is_native" pair.
TEST(ClerkRequests, CarryTheFixedHeadersQueryPairAndFormBody)
{
    ClerkTestBed bed;
    const auto client = bed.client();
    const auto post = client->makeRequest("POST", u"/v1/client/sign_ins"_s,
                                          {{u"password"_s, u"p w&d"_s}, {u"identifier"_s, u"a+b@x.example"_s}},
                                          {{u"zeta"_s, u"1 2"_s}}, 20.0);
    EXPECT_EQ(post.timeout, 20.0);
    bed.service.queueReply(Endpoint::signIns, {200, R"({"client":{"id":"client_1"}})", {}});
    client->adopt(client->send(post, false));
    const auto get = client->makeRequest("GET", u"/v1/environment"_s, {{u"ignored"_s, u"x"_s}}, {}, 10.0);
    client->send(get, false);

    const auto calls = bed.service.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].target, "/v1/client/sign_ins?_is_native=true&zeta=1%202");
    EXPECT_EQ(calls[0].body, "identifier=a%2Bb%40x.example&password=p%20w%26d");
    EXPECT_EQ(calls[1].target, "/v1/environment?_is_native=true");
    EXPECT_EQ(calls[1].body, "");

    const QVersionNumber os = QVersionNumber::fromString(Machine::platformVersion());
    const std::string osText = std::to_string(os.majorVersion()) + '.' + std::to_string(os.minorVersion()) + '.'
        + std::to_string(os.microVersion());
    const std::pair<std::string, std::string> fixed[] = {
        {"Content-Type", "application/x-www-form-urlencoded"},
        {"clerk-api-version", "2026-08-20"},
        {"x-ios-sdk-version", "1.6.1"},
        {"x-mobile", "0"},
        {"x-device-type", "unspecified"},
        {"x-device-model", ""},
        {"x-os-version", osText},
        {"x-app-version", "9.8.7"},
        {"x-bundle-id", Config::bundleID().toStdString()},
        {"x-is-sandbox", "false"},
    };
    // The test server drops headers without a value, so the empty one is
    // checked on the request itself.
    for (const auto& [name, value] : fixed) {
        const auto header = std::find_if(post.headers.begin(), post.headers.end(),
                                         [&name = name](const Http::Header& h) { return h.first == name.c_str(); });
        ASSERT_NE(header, post.headers.end()) << name;
        EXPECT_EQ(header->second.toStdString(), value) << name;
    }
    for (const auto& call : calls) {
        for (const auto& [name, value] : fixed) {
            if (!value.empty()) {
                EXPECT_EQ(call.header(name), value) << name;
            }
        }
        EXPECT_FALSE(call.header("Authorization"));
    }
    EXPECT_FALSE(calls[0].header("x-clerk-client-id"));
    // The first reply described client_1; the next request names it.
    EXPECT_EQ(calls[1].header("x-clerk-client-id"), "client_1");
}

// The device token rotates with every reply and lives in the keyring.
TEST(ClerkDeviceToken, StoredTokenIsReadOnceAndSentAsIs)
{
    ClerkTestBed bed;
    bed.storeToken(u"dvt_stored"_s);
    const auto client = bed.client();
    for (int i = 0; i < 4; ++i)
        bed.service.queueReply(Endpoint::environment, {500, "{}", {}});
    EXPECT_FALSE(client->loadEnvironment(10.0));
    EXPECT_FALSE(client->loadEnvironment(10.0));

    const auto calls = bed.service.calls();
    ASSERT_EQ(calls.size(), 4u);
    for (const auto& call : calls)
        EXPECT_EQ(call.header("Authorization"), "dvt_stored");
    const auto secretCalls = bed.secrets->calls();
    const auto reads = std::count_if(secretCalls.begin(), secretCalls.end(), [](const auto& c) {
        return c.operation == MemorySecretStore::Operation::read;
    });
    EXPECT_EQ(reads, 1);
}

TEST(ClerkDeviceToken, RepliesRotateKeepOrForgetTheToken)
{
    ClerkTestBed bed;
    const auto client = bed.client();
    const auto send = [&] {
        client->loadToken();
        client->adopt(client->send(client->makeRequest("GET", u"/v1/environment"_s, {}, {}, 20.0), false));
    };

    bed.service.queueReply(Endpoint::environment, {200, R"({"client":{"id":"client_7"}})", {{"Authorization", " dvt_a\t"}}});
    send();
    EXPECT_EQ(client->deviceToken(), u"dvt_a"_s);
    EXPECT_EQ(client->clientID(), u"client_7"_s);
    EXPECT_EQ(bed.storedToken(), u"dvt_a"_s);

    // The same token again does not touch the keyring.
    bed.secrets->clearCalls();
    bed.service.queueReply(Endpoint::environment, {200, "{}", {{"Authorization", "dvt_a"}}});
    send();
    EXPECT_THAT(bed.secrets->calls(), IsEmpty());

    // No header: nothing changes; the request carried the token.
    bed.service.queueReply(Endpoint::environment, {200, "not json", {}});
    send();
    EXPECT_EQ(bed.service.calls().back().header("Authorization"), "dvt_a");
    EXPECT_EQ(client->deviceToken(), u"dvt_a"_s);
    EXPECT_EQ(client->clientID(), u"client_7"_s);

    // A client only under "meta" still counts.
    bed.service.queueReply(Endpoint::environment, {200, R"({"meta":{"client":{"id":"client_8"}}})", {}});
    send();
    EXPECT_EQ(client->clientID(), u"client_8"_s);
    EXPECT_EQ(client->lastClient()->id, u"client_8"_s);

    // The bare word "Bearer" forgets token and client identifier, and the item.
    bed.service.queueReply(Endpoint::environment, {200, "{}", {{"Authorization", "bEaReR"}}});
    send();
    EXPECT_FALSE(client->deviceToken());
    EXPECT_FALSE(client->clientID());
    EXPECT_FALSE(bed.storedToken());
    EXPECT_EQ(bed.service.calls().back().header("x-clerk-client-id"), "client_8");

    bed.service.queueReply(Endpoint::environment, {200, "{}", {{"Authorization", "dvt_b"}}});
    send();
    EXPECT_EQ(bed.storedToken(), u"dvt_b"_s);
    EXPECT_FALSE(bed.service.calls().back().header("Authorization"));
}

// What a reply hands us goes back out in headers and is read into memory:
// a client identifier with a line break is never sent, and a reply past the
// size cap is not read.
TEST(ClerkDeviceToken, AHostileClientIdIsNeverSentAndAnOversizedReplyIsRefused)
{
    ClerkTestBed bed;
    const auto client = bed.client();
    const auto request = [&] { return client->makeRequest("GET", u"/v1/environment"_s, {}, {}, 20.0); };

    bed.service.queueReply(Endpoint::environment, {200, R"({"client":{"id":"c\r\nX-Injected: 1"}})", {}});
    client->adopt(client->send(request(), false));
    const auto sent = bed.service.calls().size();
    EXPECT_THROW(client->send(request(), false), Http::TransportError);
    EXPECT_EQ(bed.service.calls().size(), sent);

    ClerkTestBed fresh;
    const auto other = fresh.client();
    fresh.service.queueReply(Endpoint::environment, {200, R"({"pad":")" + std::string(2 << 20, 'p') + R"("})", {}});
    try {
        other->send(other->makeRequest("GET", u"/v1/environment"_s, {}, {}, 20.0), false);
        ADD_FAILURE() << "an oversized reply was read";
    } catch (const Http::TransportError& error) {
        EXPECT_EQ(error.code(), Http::TransportCode::dataLengthExceedsMaximum);
    }
}

struct RetryCase {
    const char* name;
    QByteArray method;
    std::vector<FakeClerkService::Reply> replies;
    bool retry;
    int expectedRequests;
    std::vector<double> expectedSleeps;
    int finalStatus;
};

TEST(ClerkRetry, ByMethodAndStatusWithTheServiceDelay)
{
    using Reply = FakeClerkService::Reply;
    const QDateTime now(QDate(2030, 1, 2), QTime(3, 4, 5), Qt::UTC);
    const std::string pastDate = "Wed, 02 Jan 2030 03:00:00 GMT";
    const std::string resetIn3s = std::to_string(now.toSecsSinceEpoch() + 3);
    const std::vector<RetryCase> cases = {
        {"GET 503 Retry-After 2", "GET", {{503, "{}", {{"Retry-After", "2"}}}}, true, 2, {2.0}, 200},
        {"POST 503 returned at once", "POST", {{503, "{}", {{"Retry-After", "2"}}}}, true, 1, {}, 503},
        {"GET 501 returned at once", "GET", {{501, "{}", {}}}, true, 1, {}, 501},
        {"GET 500", "GET", {{500, "{}", {}}}, true, 2, {0.5}, 200},
        {"GET 502", "GET", {{502, "{}", {}}}, true, 2, {0.5}, 200},
        {"GET 504", "GET", {{504, "{}", {}}}, true, 2, {0.5}, 200},
        {"POST 429 without headers", "POST", {{429, "{}", {}}}, true, 2, {0.5}, 200},
        {"DELETE 408", "DELETE", {{408, "{}", {}}}, true, 2, {0.5}, 200},
        {"POST 425", "POST", {{425, "{}", {}}}, true, 2, {0.5}, 200},
        {"Retry-After 120 waits 5 s", "POST", {{429, "{}", {{"Retry-After", "120"}}}}, true, 2, {5.0}, 200},
        {"date in the past waits 0.1 s", "GET", {{429, "{}", {{"Retry-After", pastDate}}}}, true, 2, {0.1}, 200},
        {"X-RateLimit-Reset", "POST", {{429, "{}", {{"X-RateLimit-Reset", resetIn3s}}}}, true, 2, {3.0}, 200},
        {"only one retry", "GET", {{503, "{}", {}}, {503, "{}", {}}}, true, 2, {0.5}, 503},
        {"retry off", "GET", {{429, "{}", {}}}, false, 1, {}, 429},
        {"400 is the caller's business", "GET", {{400, "{}", {}}}, true, 1, {}, 400},
    };
    for (const RetryCase& c : cases) {
        SCOPED_TRACE(c.name);
        ClerkTestBed bed;
        bed.now = now;
        const auto client = bed.client();
        const Endpoint endpoint = c.method == "GET" ? Endpoint::environment
            : c.method == "POST"                    ? Endpoint::signUps
                                                    : Endpoint::signOut;
        const QString path = c.method == "GET" ? u"/v1/environment"_s
            : c.method == "POST"               ? u"/v1/client/sign_ups"_s
                                               : u"/v1/client/sessions"_s;
        for (const Reply& reply : c.replies)
            bed.service.queueReply(endpoint, reply);
        bed.service.queueReply(endpoint, {200, "{}", {}});

        const auto response = client->send(client->makeRequest(c.method, path, {}, {}, 20.0), c.retry);
        EXPECT_EQ(response.status, c.finalStatus);
        EXPECT_EQ(static_cast<int>(bed.service.calls(endpoint).size()), c.expectedRequests);
        EXPECT_EQ(bed.sleeps(), c.expectedSleeps);
    }
}

TEST(ClerkRetry, AReplyDroppedForARetryIsNotAdopted)
{
    ClerkTestBed bed;
    const auto client = bed.client();
    bed.service.queueReply(Endpoint::environment, {503, R"({"client":{"id":"client_dropped"}})",
                                                   {{"Authorization", "dvt_dropped"}}});
    bed.service.queueReply(Endpoint::environment, {200, "{}", {}});
    const auto response = client->send(client->makeRequest("GET", u"/v1/environment"_s, {}, {}, 20.0), true);
    client->adopt(response);
    EXPECT_FALSE(client->deviceToken());
    EXPECT_FALSE(client->clientID());
    // The retry is the very same request.
    const auto calls = bed.service.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].target, calls[1].target);
    const auto sent = [](const FakeClerkService::Call& call) {
        httplib::Headers headers = call.headers;
        for (const char* local : {"REMOTE_PORT", "REMOTE_ADDR", "LOCAL_PORT", "LOCAL_ADDR"})
            headers.erase(local);
        return headers;
    };
    EXPECT_EQ(sent(calls[0]), sent(calls[1]));
}

TEST(ClerkRetry, StoppedDuringTheWaitEndsCancelled)
{
    ClerkTestBed bed;
    std::stop_source stop;
    ClerkFAPI::Dependencies dependencies;
    dependencies.sleep = [&stop](double, std::stop_token) { stop.request_stop(); };
    ClerkFAPI client(bed.service.base(), Http::Session{bed.server.caBundle(), {}}, std::move(dependencies));
    bed.service.queueReply(Endpoint::environment, {503, "{}", {}});
    try {
        client.send(client.makeRequest("GET", u"/v1/environment"_s, {}, {}, 20.0), true, stop.get_token());
        ADD_FAILURE() << "no cancellation";
    } catch (const HubError& error) {
        EXPECT_EQ(error, HubError::cancelled());
    }
    EXPECT_EQ(bed.service.calls().size(), 1u);
}

int closedPort()
{
    Test::TestHttpsServer server;
    return server.port();
}

TEST(ClerkRetry, TransportErrorsByMethod)
{
    // Nothing listens: cannotConnectToHost, retried once for any method.
    {
        ClerkTestBed bed;
        std::vector<double> sleeps;
        ClerkFAPI::Dependencies dependencies;
        dependencies.sleep = [&sleeps](double s, std::stop_token) { sleeps.push_back(s); };
        ClerkFAPI client(QUrl(u"https://127.0.0.1:"_s + QString::number(closedPort())),
                         Http::Session{bed.server.caBundle(), {}}, std::move(dependencies));
        try {
            client.send(client.makeRequest("POST", u"/v1/client/sign_ins"_s, {}, {}, 5.0), true);
            ADD_FAILURE() << "no error";
        } catch (const Http::TransportError& error) {
            EXPECT_EQ(error.code(), Http::TransportCode::cannotConnectToHost);
        }
        EXPECT_THAT(sleeps, ElementsAre(0.5));
    }
    // A slow reply: timedOut is retried for GET only.
    for (const QByteArray& method : {QByteArray("POST"), QByteArray("GET")}) {
        SCOPED_TRACE(method.constData());
        ClerkTestBed bed;
        bed.server.on(method.toStdString(), "/slow", [&bed](const httplib::Request&, httplib::Response& response) {
            bed.server.pause(std::chrono::milliseconds(1500));
            response.set_content("{}", "application/json");
        });
        const auto client = bed.client();
        EXPECT_THROW(client->send(client->makeRequest(method, u"/slow"_s, {}, {}, 0.3), true), Http::TransportError);
        const int attempts = bed.server.count("/slow");
        EXPECT_EQ(attempts, method == "GET" ? 2 : 1);
        EXPECT_EQ(bed.sleeps(), method == "GET" ? std::vector<double>{0.5} : std::vector<double>{});
    }
}

TEST(ClerkRetryDelay, ReadsRetryAfterAndRateLimitReset)
{
    const QDateTime now(QDate(2030, 1, 2), QTime(3, 4, 5), Qt::UTC);
    const auto delay = [&now](std::vector<std::pair<QByteArray, QByteArray>> headers) {
        Http::Response response;
        response.status = 429;
        for (auto& [name, value] : headers)
            response.headers.append({name, value});
        return ClerkFAPI::retryDelay(response, now);
    };
    const QByteArray in3s = QByteArray::number(now.toSecsSinceEpoch() + 3);
    struct Case {
        std::vector<std::pair<QByteArray, QByteArray>> headers;
        double expected;
    };
    const Case cases[] = {
        {{}, 0.5},
        {{{"Retry-After", " 2\t"}}, 2.0},
        {{{"Retry-After", "1.5"}}, 1.5},
        {{{"Retry-After", "+3"}}, 3.0},
        {{{"Retry-After", "0"}}, 0.1},
        {{{"Retry-After", "-4"}}, 0.1},
        {{{"Retry-After", "120"}}, 5.0},
        {{{"Retry-After", "nan"}}, 0.5},
        {{{"Retry-After", "inf"}}, 0.5},
        {{{"Retry-After", "-inf"}}, 0.5},
        {{{"Retry-After", "infinity"}}, 0.5},
        {{{"Retry-After", "1e400"}}, 0.5},
        {{{"Retry-After", "2 seconds"}}, 0.5},
        {{{"Retry-After", ""}}, 0.5},
        {{{"Retry-After", "Wed, 02 Jan 2030 03:04:08 GMT"}}, 3.0},
        {{{"Retry-After", "Wed, 02 Jan 2030 03:00:00 GMT"}}, 0.1},
        {{{"X-RateLimit-Reset", in3s}}, 3.0},
        {{{"X-RateLimit-Reset", " " + in3s}}, 0.5},
        {{{"X-RateLimit-Reset", "nan"}}, 0.5},
        {{{"X-RateLimit-Reset", "0"}}, 0.1},
        {{{"Retry-After", "1"}, {"X-RateLimit-Reset", in3s}}, 1.0},
        {{{"Retry-After", "junk"}, {"X-RateLimit-Reset", in3s}}, 0.5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.headers.empty() ? std::string("none")
                                       : QByteArray(c.headers[0].first + ": " + c.headers[0].second).toStdString());
        EXPECT_DOUBLE_EQ(delay(c.headers), c.expected);
    }
}

// An unconfigured system's "C" locale is no language to send the service.
TEST(ClerkLocale, FirstRealPreferredLanguageElseEnglish)
{
    EXPECT_EQ(ClerkFAPI::preferredLanguage(QStringList{u"de-DE"_s, u"de"_s}), u"de-DE"_s);
    EXPECT_EQ(ClerkFAPI::preferredLanguage(QStringList{u"C"_s}), u"en"_s);
    EXPECT_EQ(ClerkFAPI::preferredLanguage(QStringList{u"POSIX"_s, u"fr"_s}), u"fr"_s);
    EXPECT_EQ(ClerkFAPI::preferredLanguage(QStringList{}), u"en"_s);
}

TEST(ClerkRetryDelay, HttpDatesAreGmt)
{
    EXPECT_EQ(ClerkFAPI::httpDate(u"Sun, 06 Nov 1994 08:49:37 GMT"_s),
              QDateTime(QDate(1994, 11, 6), QTime(8, 49, 37), Qt::UTC));
    EXPECT_FALSE(ClerkFAPI::httpDate(u"Sunday, 06-Nov-94 08:49:37 GMT"_s));
    EXPECT_FALSE(ClerkFAPI::httpDate(u"06 Nov 1994"_s));
}

TEST(ClerkEnvironment, SocialProvidersFromTheEnvironment)
{
    struct Case {
        const char* name;
        std::string social;
        std::optional<std::vector<OAuthProvider>> expected;
    };
    const Case cases[] = {
        {"apple on, google off",
         R"({"oauth_google":{"strategy":"oauth_google","enabled":false},"oauth_apple":{"strategy":"oauth_apple","enabled":true}})",
         std::vector{OAuthProvider::apple}},
        {"neither", R"({"oauth_github":{"strategy":"oauth_github","enabled":true}})", std::vector<OAuthProvider>{}},
        {"flags decide, keys do not",
         R"({"x":{"strategy":"oauth_google","enabled":true,"authenticatable":false},)"
         R"("y":{"strategy":"oauth_google","enabled":true,"not_selectable":true},)"
         R"("z":{"strategy":"oauth_apple","enabled":true},"w":{"strategy":"oauth_google","enabled":true}})",
         std::vector{OAuthProvider::google, OAuthProvider::apple}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClerkTestBed bed;
        bed.service.setEnvironment(R"({"user_settings":{"social":)" + c.social + "}}");
        EXPECT_EQ(bed.client()->socialProviders(), c.expected);
    }

    ClerkTestBed bed;
    bed.service.setEnvironment("{}");
    EXPECT_EQ(bed.client()->socialProviders(), std::vector<OAuthProvider>{});
}

TEST(ClerkEnvironment, AFailedReadIsUnknownAndNotCachedASuccessIsCached)
{
    ClerkTestBed bed;
    const auto client = bed.client();
    bed.service.queueReply(Endpoint::environment, {404, "{}", {}});
    EXPECT_EQ(client->socialProviders(), std::nullopt);
    bed.service.queueReply(Endpoint::environment, {200, R"({"auth_config":{"session_minter":"yes"}})", {}});
    EXPECT_EQ(client->socialProviders(), std::nullopt);

    EXPECT_EQ(client->socialProviders(), (std::vector{OAuthProvider::google, OAuthProvider::apple}));
    EXPECT_EQ(client->socialProviders(), (std::vector{OAuthProvider::google, OAuthProvider::apple}));
    EXPECT_EQ(bed.service.calls(Endpoint::environment).size(), 3u);
}

} // namespace
} // namespace Hub

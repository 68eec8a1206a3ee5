#include "Account/ClerkFAPI.h"
#include "Base/Config.h"
#include "Base/HubError.h"
#include "FakeClerkService.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <future>

using namespace Qt::StringLiterals;
using testing::ElementsAre;
using testing::IsEmpty;

namespace Hub {
namespace {

using Test::ClerkTestBed;
using Test::FakeClerkService;
using Endpoint = FakeClerkService::Endpoint;
using Reply = FakeClerkService::Reply;

const std::string kEmail = "ada@example.com";
const std::string kPassword = "correct horse";

std::vector<Endpoint> endpoints(const FakeClerkService& service)
{
    std::vector<Endpoint> out;
    for (const auto& call : service.calls())
        out.push_back(call.endpoint);
    return out;
}

template <typename Function>
HubError hubErrorOf(Function&& function)
{
    try {
        function();
    } catch (const HubError& error) {
        return error;
    }
    ADD_FAILURE() << "no HubError";
    return HubError::message(u"none"_s);
}

template <typename Function>
FAPIError fapiErrorOf(Function&& function)
{
    try {
        function();
    } catch (const FAPIError& error) {
        return error;
    }
    ADD_FAILURE() << "no FAPIError";
    return FAPIError{};
}

QString siteHost() { return Config::site().host(); }

// The token the fake mints for the session the client knows as active.
QString tokenOfActiveSession(const ClerkFAPI& client)
{
    const auto last = client.lastClient();
    return last && last->lastActiveSessionId ? u"jwt_"_s + *last->lastActiveSessionId : u"(no session)"_s;
}

class ClerkFlows : public testing::Test {
protected:
    void SetUp() override { bed.service.addAccount({kEmail, kPassword, {}, "424242"}); }

    QString passwordSignIn() { return client->signInWithPassword(QString::fromStdString(kEmail), u"correct horse"_s); }

    ClerkTestBed bed;
    std::shared_ptr<ClerkFAPI> client = bed.client();
};

TEST_F(ClerkFlows, PasswordCompletingAtOnceYieldsTheSessionToken)
{
    const QString token = passwordSignIn();
    EXPECT_EQ(token, tokenOfActiveSession(*client));
    EXPECT_THAT(endpoints(bed.service),
                ElementsAre(Endpoint::signIns, Endpoint::environment, Endpoint::sessionTokens));

    const auto calls = bed.service.calls();
    EXPECT_EQ(calls[0].body, "identifier=ada%40example.com&locale=en-GB&password=correct%20horse");
    EXPECT_FALSE(calls[0].header("Authorization"));
    // The token and client of the sign-in reply go with the next requests.
    const std::string issued = bed.service.lastIssuedToken();
    EXPECT_EQ(calls[1].header("Authorization"), issued);
    EXPECT_EQ(calls[2].header("Authorization"), issued);
    EXPECT_EQ(calls[2].header("x-clerk-client-id"), "client_1");
    EXPECT_EQ(calls[2].target, "/v1/client/sessions/" + token.mid(4).toStdString() + "/tokens?_is_native=true");
    EXPECT_EQ(calls[2].body, "");
    EXPECT_EQ(client->deviceToken(), QString::fromStdString(issued));
    EXPECT_EQ(bed.storedToken(), QString::fromStdString(issued));
}

TEST_F(ClerkFlows, CompleteWithoutCreatedSessionFallsBackToTheClients)
{
    bed.service.queueReply(Endpoint::signIns,
                           {200, R"({"response":{"id":"sia_1","status":"complete"},
                                     "client":{"id":"client_1","last_active_session_id":"sess_c"}})", {}});
    EXPECT_EQ(passwordSignIn(), u"jwt_sess_c"_s);

    // No client in the reply: the last known client's session.
    bed.service.queueReply(Endpoint::signIns, {200, R"({"response":{"id":"sia_2","status":"complete"}})", {}});
    EXPECT_EQ(passwordSignIn(), u"jwt_sess_c"_s);

    client->signOut(); // forgets the last client
    bed.service.queueReply(Endpoint::signIns, {200, R"({"response":{"id":"sia_3","status":"complete"}})", {}});
    EXPECT_EQ(hubErrorOf([&] { passwordSignIn(); }), HubError::message(u"Sign-in failed. Try again."_s));
}

TEST_F(ClerkFlows, UnfinishedStatusesSayWhatToDo)
{
    bed.service.queueReply(Endpoint::signIns, {200, R"({"response":{"id":"sia_1","status":"needs_new_password"}})", {}});
    EXPECT_EQ(hubErrorOf([&] { passwordSignIn(); }),
              HubError::api(u"needs_new_password"_s,
                            u"Your password needs to be reset. Reset it on "_s + siteHost() + u", then sign in."_s));
    bed.service.queueReply(Endpoint::signIns, {200, R"({"response":{"id":"sia_1","status":"abandoned"}})", {}});
    EXPECT_EQ(hubErrorOf([&] { passwordSignIn(); }), HubError::message(u"Sign-in didn't finish. Try again."_s));
    bed.service.queueReply(Endpoint::signIns, {200, R"({"response":null})", {}});
    EXPECT_EQ(hubErrorOf([&] { passwordSignIn(); }), HubError::message(u"Sign-in failed. Try again."_s));
    bed.service.queueReply(Endpoint::signIns, {200, R"({"response":{"status":7}})", {}});
    EXPECT_EQ(fapiErrorOf([&] { passwordSignIn(); }).status, 200);
}

TEST_F(ClerkFlows, SecondFactorPrefersEmailThenPhoneThenAuthenticator)
{
    struct Case {
        const char* status;
        std::vector<std::string> factors;
        std::optional<std::pair<std::string, std::string>> prepared; // strategy and id field
        std::optional<QString> pendingStrategy;
        HubError expected;
    };
    const HubError emailCode =
        HubError::api(u"needs_code"_s, u"We sent a code to your e-mail. Type it here to finish signing in."_s);
    const HubError phoneCode =
        HubError::api(u"needs_code"_s, u"We sent a code to your phone. Type it here to finish signing in."_s);
    const HubError totpCode = HubError::api(u"needs_code"_s, u"Type the code from your authenticator app."_s);
    const Case cases[] = {
        {"needs_client_trust", {"phone_code", "email_code"}, std::pair{std::string("email_code"), std::string("email_address_id")}, u"email_code"_s, emailCode},
        {"needs_second_factor", {"totp", "phone_code"}, std::pair{std::string("phone_code"), std::string("phone_number_id")}, u"phone_code"_s, phoneCode},
        {"needs_client_trust", {"totp"}, std::nullopt, u"totp"_s, totpCode},
        {"needs_second_factor", {"backup_code"}, std::nullopt, std::nullopt,
         HubError::message(u"This account needs a verification step Tarnhub can't do yet. Sign in with Google or Apple."_s)},
        {"needs_second_factor", {}, std::nullopt, std::nullopt,
         HubError::message(u"This account needs a verification step Tarnhub can't do yet. Sign in with Google or Apple."_s)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status + (c.factors.empty() ? std::string() : " " + c.factors[0]));
        ClerkTestBed bed;
        const auto client = bed.client();
        QJsonArray factors;
        for (const auto& strategy : c.factors) {
            QJsonObject factor{{u"strategy"_s, QString::fromStdString(strategy)}};
            factor.insert(u"email_address_id"_s, u"idn_email1"_s);
            factor.insert(u"phone_number_id"_s, u"idn_phone1"_s);
            factors.append(factor);
        }
        const QJsonObject response{{u"id"_s, u"sia_42"_s},
                                   {u"status"_s, QString::fromLatin1(c.status)},
                                   {u"supported_second_factors"_s, factors}};
        bed.service.queueReply(
            Endpoint::signIns,
            {200, QJsonDocument(QJsonObject{{u"response"_s, response}}).toJson(QJsonDocument::Compact).toStdString(), {}});

        EXPECT_EQ(hubErrorOf([&] { client->signInWithPassword(u"ada@example.com"_s, u"pw"_s); }), c.expected);
        const auto prepares = bed.service.calls(Endpoint::prepareSecondFactor);
        if (c.prepared) {
            ASSERT_EQ(prepares.size(), 1u);
            EXPECT_EQ(prepares[0].path, "/v1/client/sign_ins/sia_42/prepare_second_factor");
            EXPECT_EQ(prepares[0].formValue("strategy"), c.prepared->first);
            const std::string idValue = c.prepared->first == "email_code" ? "idn_email1" : "idn_phone1";
            EXPECT_EQ(prepares[0].form, (std::vector<std::pair<std::string, std::string>>{
                                            {c.prepared->second, idValue}, {"strategy", c.prepared->first}}));
        } else {
            EXPECT_THAT(prepares, IsEmpty());
        }
        if (c.pendingStrategy)
            EXPECT_EQ(client->pending(), (ClerkFAPI::PendingSignIn{u"sia_42"_s, *c.pendingStrategy}));
        else
            EXPECT_FALSE(client->pending());
    }
}

TEST_F(ClerkFlows, AWrongCodeKeepsTheStepPendingTheRightOneFinishes)
{
    bed.service.addAccount({"two@example.com", "pw", {"email_code"}, "424242"});
    EXPECT_EQ(hubErrorOf([&] { client->signInWithPassword(u"two@example.com"_s, u"pw"_s); }).code(), u"needs_code"_s);
    const auto waiting = client->pending();
    ASSERT_TRUE(waiting);

    EXPECT_EQ(fapiErrorOf([&] { client->attemptCode(u"111111"_s); }).code, u"form_code_incorrect"_s);
    EXPECT_EQ(client->pending(), waiting);

    const QString token = client->attemptCode(u"424242"_s);
    EXPECT_EQ(token, tokenOfActiveSession(*client));
    const auto attempt = bed.service.calls(Endpoint::attemptSecondFactor).back();
    EXPECT_EQ(attempt.body, "code=424242&strategy=email_code");
    EXPECT_FALSE(client->pending());
    // Nothing pending any more: no request.
    const auto before = bed.service.calls().size();
    EXPECT_EQ(hubErrorOf([&] { client->attemptCode(u"424242"_s); }),
              HubError::api(u"code_expired"_s, u"This sign-in expired. Sign in again."_s));
    EXPECT_EQ(bed.service.calls().size(), before);
}

TEST_F(ClerkFlows, CodesThatEndTheStep)
{
    struct Case {
        const char* code;
        bool forgetsDevice;
    };
    for (const Case c : {Case{"verification_expired", false}, Case{"sign_in_expired", false},
                         Case{"authentication_invalid", true}}) {
        SCOPED_TRACE(c.code);
        ClerkTestBed bed;
        bed.service.addAccount({"two@example.com", "pw", {"totp"}, "424242"});
        const auto client = bed.client();
        EXPECT_THROW(client->signInWithPassword(u"two@example.com"_s, u"pw"_s), HubError);
        ASSERT_TRUE(client->pending());
        ASSERT_TRUE(bed.storedToken());
        bed.service.queueReply(Endpoint::attemptSecondFactor, {422, FakeClerkService::errorBody(c.code), {}});
        EXPECT_EQ(fapiErrorOf([&] { client->attemptCode(u"424242"_s); }).code, QString::fromLatin1(c.code));
        EXPECT_FALSE(client->pending());
        EXPECT_EQ(!client->deviceToken(), c.forgetsDevice);
        EXPECT_EQ(!client->clientID(), c.forgetsDevice);
        EXPECT_EQ(!bed.storedToken(), c.forgetsDevice);
    }
}

TEST_F(ClerkFlows, AFailedPrepareLeavesNothingPending)
{
    bed.service.addAccount({"two@example.com", "pw", {"phone_code"}, "424242"});
    bed.service.queueReply(Endpoint::prepareSecondFactor, {429, FakeClerkService::errorBody("too_many_requests"), {}});
    bed.service.queueReply(Endpoint::prepareSecondFactor, {429, FakeClerkService::errorBody("too_many_requests"), {}});
    EXPECT_EQ(fapiErrorOf([&] { client->signInWithPassword(u"two@example.com"_s, u"pw"_s); }).status, 429);
    EXPECT_FALSE(client->pending());
    EXPECT_EQ(hubErrorOf([&] { client->attemptCode(u"424242"_s); }).code(), u"code_expired"_s);
}

TEST_F(ClerkFlows, AStaleDeviceTokenIsDroppedAndTheSignInSentOnceMore)
{
    bed.storeToken(u"dvt_stale"_s);
    const auto withToken = bed.client();
    bed.service.queueReply(Endpoint::signIns, {401, FakeClerkService::errorBody("authentication_invalid"), {}});
    const QString token = withToken->signInWithPassword(u"ada@example.com"_s, u"correct horse"_s);
    EXPECT_EQ(token, tokenOfActiveSession(*withToken));
    const auto signIns = bed.service.calls(Endpoint::signIns);
    ASSERT_EQ(signIns.size(), 2u);
    EXPECT_EQ(signIns[0].header("Authorization"), "dvt_stale");
    EXPECT_FALSE(signIns[1].header("Authorization"));
    EXPECT_EQ(signIns[0].body, signIns[1].body);

    // Without a token there is nothing to drop: the error stands.
    ClerkTestBed fresh;
    const auto withoutToken = fresh.client();
    fresh.service.queueReply(Endpoint::signIns, {404, FakeClerkService::errorBody("resource_not_found"), {}});
    EXPECT_EQ(fapiErrorOf([&] { withoutToken->signInWithPassword(u"a@b.example"_s, u"pw"_s); }).code,
              u"resource_not_found"_s);
    EXPECT_EQ(fresh.service.calls(Endpoint::signIns).size(), 1u);
}

TEST_F(ClerkFlows, OAuthOpensTheProviderAndReloadsWithTheNonce)
{
    const QString token = client->signInWithOAuth(OAuthProvider::google);
    EXPECT_EQ(token, tokenOfActiveSession(*client));
    EXPECT_THAT(endpoints(bed.service), ElementsAre(Endpoint::signIns, Endpoint::prepareFirstFactor,
                                                    Endpoint::reloadSignIn, Endpoint::environment,
                                                    Endpoint::sessionTokens));
    const auto calls = bed.service.calls();
    const std::string redirect = Config::bundleID().toStdString() + "://callback";
    EXPECT_EQ(calls[0].form, (std::vector<std::pair<std::string, std::string>>{
                                 {"locale", "en-GB"}, {"redirect_url", redirect}, {"strategy", "oauth_google"}}));
    EXPECT_EQ(calls[1].path, "/v1/client/sign_ins/sia_1/prepare_first_factor");
    EXPECT_EQ(calls[1].form, (std::vector<std::pair<std::string, std::string>>{
                                 {"redirect_url", redirect}, {"strategy", "oauth_google"}}));
    ASSERT_EQ(bed.web->opened().size(), 1u);
    EXPECT_EQ(bed.web->opened()[0].host(), u"accounts.provider.example"_s);
    EXPECT_EQ(calls[2].target, "/v1/client/sign_ins/sia_1?_is_native=true&rotating_token_nonce=nonce_1");
    EXPECT_EQ(calls[2].method, "GET");

    // Without a nonce the sign-in is still reloaded.
    bed.web->answer = [](const QUrl&, const QString& scheme) { return QUrl(scheme + u"://callback"_s); };
    client->signInWithOAuth(OAuthProvider::apple);
    const auto prepare = bed.service.calls(Endpoint::prepareFirstFactor).back();
    const std::string id = prepare.path.substr(20, prepare.path.find("/prepare") - 20);
    EXPECT_EQ(bed.service.calls(Endpoint::reloadSignIn).back().target, "/v1/client/sign_ins/" + id + "?_is_native=true");
}

TEST_F(ClerkFlows, OAuthRefusesBadPagesAndCallbacksBeforeGoingOn)
{
    const HubError failed = HubError::message(u"Sign-in failed. Try again."_s);

    bed.service.setProviderClientID("");
    EXPECT_EQ(hubErrorOf([&] { client->signInWithOAuth(OAuthProvider::google); }),
              HubError::api(u"provider_off"_s, u"Google sign-in isn't switched on yet. Use your e-mail and password."_s));
    EXPECT_EQ(hubErrorOf([&] { client->signInWithOAuth(OAuthProvider::apple); }).errorDescription(),
              u"Apple sign-in isn't switched on yet. Use your e-mail and password."_s);
    EXPECT_THAT(bed.web->opened(), IsEmpty());
    bed.service.setProviderClientID("abc");

    bed.service.queueReply(Endpoint::prepareFirstFactor,
                           {200, R"({"response":{"id":"sia_1","first_factor_verification":{
                                     "external_verification_redirect_url":"http://provider.example/?client_id=x"}}})", {}});
    EXPECT_EQ(hubErrorOf([&] { client->signInWithOAuth(OAuthProvider::google); }), failed);
    EXPECT_THAT(bed.web->opened(), IsEmpty());

    bed.service.queueReply(Endpoint::signIns, {200, R"({"response":{"id":"sia/../x"}})", {}});
    EXPECT_EQ(hubErrorOf([&] { client->signInWithOAuth(OAuthProvider::google); }), failed);

    const auto reloadsBefore = bed.service.calls(Endpoint::reloadSignIn).size();
    bed.web->answer = [](const QUrl&, const QString&) { return QUrl(u"https://elsewhere.example/callback"_s); };
    EXPECT_EQ(hubErrorOf([&] { client->signInWithOAuth(OAuthProvider::google); }), failed);
    EXPECT_EQ(bed.service.calls(Endpoint::reloadSignIn).size(), reloadsBefore);

    bed.web->answer = [](const QUrl&, const QString&) -> QUrl { throw HubError::cancelled(); };
    EXPECT_EQ(hubErrorOf([&] { client->signInWithOAuth(OAuthProvider::google); }), HubError::cancelled());
}

TEST_F(ClerkFlows, OAuthVerificationErrorIsTheServicesError)
{
    bed.service.queueReply(Endpoint::reloadSignIn,
                           {200, R"({"response":{"id":"sia_1","status":"needs_identifier","first_factor_verification":
                                     {"status":"failed","error":{"code":"oauth_access_denied","message":"m","long_message":"lm"}}}})", {}});
    const FAPIError error = fapiErrorOf([&] { client->signInWithOAuth(OAuthProvider::google); });
    EXPECT_EQ(error.status, 200);
    EXPECT_EQ(error.code, u"oauth_access_denied"_s);
    EXPECT_EQ(error.message, u"m"_s);
    EXPECT_EQ(error.longMessage, u"lm"_s);
}

TEST_F(ClerkFlows, AProviderAccountWithoutAUserIsTransferredToASignUp)
{
    bed.service.setTransferable(true);
    const QString token = client->signInWithOAuth(OAuthProvider::apple);
    EXPECT_EQ(token, tokenOfActiveSession(*client));
    const auto signUps = bed.service.calls(Endpoint::signUps);
    ASSERT_EQ(signUps.size(), 1u);
    EXPECT_EQ(signUps[0].body, "locale=en-GB&transfer=1");

    // A transferable second-factor verification alone is enough.
    bed.service.setTransferable(false);
    bed.service.queueReply(Endpoint::reloadSignIn,
                           {200, R"({"response":{"id":"sia_1","second_factor_verification":{"status":"transferable"}}})", {}});
    client->signInWithOAuth(OAuthProvider::apple);
    EXPECT_EQ(bed.service.calls(Endpoint::signUps).size(), 2u);

    bed.service.setTransferable(true);
    bed.service.queueReply(Endpoint::signUps, {200, R"({"response":{"id":"sua_1","status":"missing_requirements"}})", {}});
    EXPECT_EQ(hubErrorOf([&] { client->signInWithOAuth(OAuthProvider::apple); }),
              HubError::api(u"signup_incomplete"_s,
                            u"Finish creating your account on "_s + siteHost() + u", then sign in here."_s));

    bed.service.queueReply(Endpoint::signUps, {200, R"({"response":{"status":"complete","created_session_id":"s",
        "verifications":{"external_account":{"error":{"code":"sign_up_mode_restricted"}}}}})", {}});
    const FAPIError error = fapiErrorOf([&] { client->signInWithOAuth(OAuthProvider::apple); });
    EXPECT_EQ(error.status, 200);
    EXPECT_EQ(error.code, u"sign_up_mode_restricted"_s);
}

TEST_F(ClerkFlows, SessionTokensWithASessionMinterSendTheLastActiveToken)
{
    bed.service.setEnvironment(R"({"auth_config":{"session_minter":true}})");
    bed.service.queueReply(Endpoint::signIns,
                           {200, R"({"response":{"id":"sia_1","status":"complete","created_session_id":"sess_m"},
                                     "client":{"id":"client_1","sessions":[
                                       {"id":"sess_other","last_active_token":{"jwt":"wrong"},"last_active_organization_id":"org_wrong"},
                                       {"id":"sess_m","last_active_token":{"jwt":"old.jwt"},"last_active_organization_id":"org_1"}]}})",
                            {}});
    EXPECT_EQ(passwordSignIn(), u"jwt_sess_m"_s);
    const auto token = bed.service.calls(Endpoint::sessionTokens).back();
    EXPECT_EQ(token.body, "force_origin=true&organization_id=org_1&token=old.jwt");
}

TEST_F(ClerkFlows, AnUnreadableEnvironmentMeansNoMinterForGood)
{
    for (int i = 0; i < 2; ++i)
        bed.service.queueReply(Endpoint::environment, {503, "{}", {}});
    bed.service.setEnvironment(R"({"auth_config":{"session_minter":true}})");
    passwordSignIn();
    passwordSignIn();
    EXPECT_EQ(bed.service.calls(Endpoint::environment).size(), 2u); // one read, one retry, never again
    for (const auto& call : bed.service.calls(Endpoint::sessionTokens)) {
        EXPECT_FALSE(call.formValue("token"));
        EXPECT_FALSE(call.formValue("force_origin"));
    }
    const auto tokenReply = Reply{200, R"({"jwt":""})", {}};
    bed.service.queueReply(Endpoint::sessionTokens, tokenReply);
    EXPECT_EQ(hubErrorOf([&] { passwordSignIn(); }), HubError::message(u"Sign-in failed. Try again."_s));
}

TEST_F(ClerkFlows, SignOutSendsOnlyWithATokenAndForgetsItOnFailure)
{
    client->signOut();
    EXPECT_THAT(bed.service.calls(), IsEmpty());

    passwordSignIn();
    const QString issued = QString::fromStdString(bed.service.lastIssuedToken());
    bed.service.queueReply(Endpoint::signOut, {200, "{}", {}});
    client->signOut();
    auto deletes = bed.service.calls(Endpoint::signOut);
    ASSERT_EQ(deletes.size(), 1u);
    EXPECT_EQ(deletes[0].method, "DELETE");
    EXPECT_EQ(deletes[0].target, "/v1/client/sessions?_is_native=true");
    EXPECT_EQ(client->deviceToken(), issued);
    EXPECT_FALSE(client->lastClient());

    // 401 with a retriable-looking status is not retried and forgets the device.
    bed.service.queueReply(Endpoint::signOut, {401, FakeClerkService::errorBody("authentication_invalid"), {}});
    client->signOut();
    EXPECT_EQ(bed.service.calls(Endpoint::signOut).size(), 2u);
    EXPECT_FALSE(client->deviceToken());
    EXPECT_FALSE(client->clientID());
    EXPECT_FALSE(bed.storedToken());

    bed.storeToken(u"dvt_x"_s);
    const auto another = bed.client();
    bed.service.queueReply(Endpoint::signOut, {429, "{}", {}});
    another->signOut();
    EXPECT_EQ(bed.service.calls(Endpoint::signOut).size(), 3u);
    EXPECT_THAT(bed.sleeps(), IsEmpty());
    EXPECT_FALSE(bed.storedToken());
}

// The client's lock is never held across the browser wait.
TEST_F(ClerkFlows, SignOutRunsWhileTheBrowserSignInWaits)
{
    passwordSignIn();
    bool signedOut = false;
    bed.web->answer = [&](const QUrl&, const QString& scheme) {
        auto done = std::async(std::launch::async, [&] { client->signOut(); });
        signedOut = done.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
        return QUrl(scheme + u"://callback"_s);
    };
    client->signInWithOAuth(OAuthProvider::google);
    EXPECT_TRUE(signedOut);
    EXPECT_EQ(bed.service.calls(Endpoint::signOut).size(), 1u);
}

} // namespace
} // namespace Hub

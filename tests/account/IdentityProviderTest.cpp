#include "Account/ClerkFAPI.h"
#include "Account/ClerkIdentity.h"
#include "Base/Config.h"
#include "Base/HubError.h"
#include "FakeClerkService.h"

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

template <typename Function>
HubError hubErrorOf(Function&& function)
{
    try {
        function();
    } catch (const HubError& error) {
        return error;
    } catch (...) {
        ADD_FAILURE() << "another error than HubError";
        throw;
    }
    ADD_FAILURE() << "no error";
    return HubError::message(u"none"_s);
}

std::exception_ptr fapi(int status, std::optional<QString> code, std::optional<QString> message = std::nullopt,
                        std::optional<QString> longMessage = std::nullopt)
{
    FAPIError error;
    error.status = status;
    error.code = std::move(code);
    error.message = std::move(message);
    error.longMessage = std::move(longMessage);
    return std::make_exception_ptr(error);
}

std::exception_ptr fapiCode(const char* code, const char* message = "Service says so.")
{
    return fapi(422, QString::fromLatin1(code), QString::fromLatin1(message));
}

TEST(IdentityErrors, EveryFailureGetsTheUsersSentence)
{
    const QString host = Config::site().host();
    const QString support = Config::supportEmail();
    const auto api = [](const char* code, const QString& message) { return HubError::api(QString::fromLatin1(code), message); };
    const HubError expired = api("code_expired", u"This sign-in expired. Sign in again."_s);
    const HubError noAccountEmail =
        api("no_account", u"There's no Tarnaudio account with that e-mail. Invited? Accept your invite at "_s + host
                              + u"/join first, then sign in here."_s);
    const HubError inviteOnly = api("invite_only", u"Tarnaudio is invite-only for now. Accept your invite at "_s + host
                                                       + u"/join, then sign in here."_s);
    const HubError badEmail = api("bad_email", u"Check the e-mail address and try again."_s);
    const HubError codeExpired = api("code_expired", u"This code expired. Sign in again to get a new one."_s);
    const HubError rateLimited = api("rate_limited", u"Too many tries. Wait a minute and try again."_s);
    const HubError serverError = api("server_error", u"Sign-in is unavailable right now. Try again in a few minutes."_s);
    const HubError offline = api("offline", u"Couldn't reach Tarnaudio. Check your connection and try again."_s);
    const HubError failed = HubError::message(u"Sign-in failed. Try again."_s);

    struct Row {
        const char* name;
        std::exception_ptr error;
        HubError expected;
    };
    const Row rows[] = {
        {"form_password_incorrect", fapiCode("form_password_incorrect"),
         api("wrong_password", u"Wrong password. Try again, or reset it on "_s + host + u"."_s)},
        {"form_identifier_not_found", fapiCode("form_identifier_not_found"), noAccountEmail},
        {"invitation_account_not_exists", fapiCode("invitation_account_not_exists"), noAccountEmail},
        {"external_account_not_found", fapiCode("external_account_not_found"),
         api("no_account", u"There's no Tarnaudio account for that login. Tarnaudio is invite-only for now: accept your invite at "_s
                               + host + u"/join, then sign in here."_s)},
        {"strategy_for_user_invalid", fapiCode("strategy_for_user_invalid"),
         api("no_password", u"This account has no password. Sign in with Google or Apple."_s)},
        {"form_password_pwned", fapiCode("form_password_pwned"),
         api("needs_new_password", u"This password showed up in a data leak. Reset it on "_s + host + u", then sign in."_s)},
        {"form_param_format_invalid", fapiCode("form_param_format_invalid"), badEmail},
        {"form_param_nil", fapiCode("form_param_nil"), badEmail},
        {"form_identifier_invalid", fapiCode("form_identifier_invalid"), badEmail},
        {"form_code_incorrect", fapiCode("form_code_incorrect"),
         api("code_invalid", u"That code isn't right. Check it and try again."_s)},
        {"verification_failed", fapiCode("verification_failed"),
         api("code_expired", u"Too many wrong codes. Press Back and sign in again to get a new one."_s)},
        {"verification_expired", fapiCode("verification_expired"), codeExpired},
        {"sign_in_expired", fapiCode("sign_in_expired"), codeExpired},
        {"user_locked", fapiCode("user_locked"),
         api("account_locked", u"Too many tries. This account is locked for a while; try again later."_s)},
        {"too_many_requests", fapiCode("too_many_requests"), rateLimited},
        {"oauth_access_denied", fapiCode("oauth_access_denied"), HubError::cancelled()},
        {"sign_up_mode_restricted", fapiCode("sign_up_mode_restricted"), inviteOnly},
        {"sign_up_restricted_waitlist", fapiCode("sign_up_restricted_waitlist"), inviteOnly},
        {"not_allowed_access", fapiCode("not_allowed_access"),
         api("not_allowed", u"This account can't sign in here. Write to "_s + support + u"."_s)},
        {"native_api_disabled", fapiCode("native_api_disabled"),
         api("signin_not_set_up", u"Sign-in isn't switched on for Tarnhub yet. Try again later or write to "_s + support + u"."_s)},
        {"resource_not_found", fapiCode("resource_not_found"), expired},
        {"authentication_invalid", fapiCode("authentication_invalid"), expired},
        {"codes compare case-sensitively", fapiCode("Form_Password_Incorrect", "Nope."), api("Form_Password_Incorrect", u"Nope."_s)},
        {"unknown code: long message first", fapi(400, u"weird_thing"_s, u"short"_s, u"  The long story.\n"_s),
         api("weird_thing", u"The long story."_s)},
        {"unknown code: short message", fapi(400, u"weird_thing"_s, u"short"_s), api("weird_thing", u"short"_s)},
        {"unknown code: blank long message", fapi(400, u"weird_thing"_s, u"short"_s, u" \n "_s),
         api("weird_thing", u"Sign-in failed. Try again."_s)},
        {"unknown code: no message", fapi(400, u"weird_thing"_s), api("weird_thing", u"Sign-in failed. Try again."_s)},
        {"429 without a code", fapi(429, std::nullopt), rateLimited},
        {"500 without a code", fapi(500, std::nullopt), serverError},
        {"404 without a code", fapi(404, std::nullopt), serverError},
        {"undecodable success", fapi(200, std::nullopt), serverError},
        {"transport cancelled", std::make_exception_ptr(Http::TransportError(Http::TransportCode::cancelled, {})),
         HubError::cancelled()},
        {"cannot connect", std::make_exception_ptr(Http::TransportError(Http::TransportCode::cannotConnectToHost, {})),
         offline},
        {"bad certificate",
         std::make_exception_ptr(Http::TransportError(Http::TransportCode::secureConnectionFailed, {})), offline},
        {"HubError passes", std::make_exception_ptr(HubError::api(u"needs_code"_s, u"Type it."_s)),
         HubError::api(u"needs_code"_s, u"Type it."_s)},
        {"anything else", std::make_exception_ptr(std::runtime_error("boom")), failed},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const HubError actual = ClerkIdentity::hubError(row.error);
        EXPECT_EQ(actual, row.expected) << actual.code().toStdString() << ": " << actual.errorDescription().toStdString();
    }
}

class Identity : public testing::Test {
protected:
    void SetUp() override { bed.service.addAccount({"ada@example.com", "  secret ", {"totp"}, "123456"}); }

    ClerkTestBed bed;
    std::shared_ptr<ClerkFAPI> fapi = bed.client();
    ClerkIdentity identity{u"pk_test_unused"_s, fapi};
};

TEST_F(Identity, ServiceErrorsReachTheUserTranslated)
{
    EXPECT_EQ(hubErrorOf([&] { identity.signIn(u"ada@example.com"_s, u"wrong"_s); }).code(), u"wrong_password"_s);
}

TEST_F(Identity, InputIsCheckedBeforeAnyRequest)
{
    EXPECT_EQ(hubErrorOf([&] { identity.signIn(u" \n\t"_s, u"pw"_s); }),
              HubError::message(u"Type your e-mail and password."_s));
    EXPECT_EQ(hubErrorOf([&] { identity.signIn(u"ada@example.com"_s, QString()); }),
              HubError::message(u"Type your e-mail and password."_s));
    EXPECT_EQ(hubErrorOf([&] { identity.verify(u"abc-def"_s); }), HubError::message(u"Type the code first."_s));
    EXPECT_THAT(bed.service.calls(), IsEmpty());

    // The address is trimmed, the password is not.
    EXPECT_EQ(hubErrorOf([&] { identity.signIn(u"  ada@example.com\n"_s, u"  secret "_s); }).code(), u"needs_code"_s);
    EXPECT_EQ(bed.service.calls(Endpoint::signIns)[0].formValue("identifier"), "ada@example.com");
    EXPECT_EQ(bed.service.calls(Endpoint::signIns)[0].formValue("password"), "  secret ");

    const QString token = identity.verify(u" 123-456 "_s);
    EXPECT_TRUE(token.startsWith(u"jwt_"_s));
    EXPECT_EQ(bed.service.calls(Endpoint::attemptSecondFactor).back().formValue("code"), "123456");
}

TEST_F(Identity, ALeftOverSessionIsEndedOnceAndTheSignInRepeated)
{
    const FakeClerkService::Reply sessionExists{
        422, FakeClerkService::errorBody("session_exists", "You're already signed in."), {{"Authorization", "dvt_old"}}};
    bed.service.addAccount({"bob@example.com", "pw", {}, ""});
    bed.service.queueReply(Endpoint::signIns, sessionExists);
    EXPECT_TRUE(identity.signIn(u"bob@example.com"_s, u"pw"_s).startsWith(u"jwt_"_s));
    EXPECT_EQ(bed.service.calls(Endpoint::signIns).size(), 2u);
    ASSERT_EQ(bed.service.calls(Endpoint::signOut).size(), 1u);
    EXPECT_EQ(bed.service.calls(Endpoint::signOut)[0].header("Authorization"), "dvt_old");

    // A second "session_exists" is the user's to see; no second recovery.
    bed.service.queueReply(Endpoint::signIns, sessionExists);
    bed.service.queueReply(Endpoint::signIns, sessionExists);
    EXPECT_EQ(hubErrorOf([&] { identity.signIn(u"bob@example.com"_s, u"pw"_s); }),
              HubError::api(u"session_exists"_s, u"You're already signed in."_s));
    EXPECT_EQ(bed.service.calls(Endpoint::signIns).size(), 4u);
    EXPECT_EQ(bed.service.calls(Endpoint::signOut).size(), 2u);

    // The same recovery for OAuth, with "identifier_already_signed_in".
    bed.service.queueReply(Endpoint::signIns,
                           {422, FakeClerkService::errorBody("identifier_already_signed_in"), {{"Authorization", "dvt_o"}}});
    EXPECT_TRUE(identity.signIn(OAuthProvider::google).startsWith(u"jwt_"_s));
    EXPECT_EQ(bed.service.calls(Endpoint::signOut).size(), 3u);
}

TEST_F(Identity, ADisabledProviderAndACancelledWindowReachTheModelAsCodes)
{
    bed.service.setProviderClientID("");
    EXPECT_EQ(hubErrorOf([&] { identity.signIn(OAuthProvider::apple); }).code(), u"provider_off"_s);
    bed.service.setProviderClientID("abc");
    bed.web->answer = [](const QUrl&, const QString&) -> QUrl { throw HubError::cancelled(); };
    EXPECT_EQ(hubErrorOf([&] { identity.signIn(OAuthProvider::apple); }), HubError::cancelled());
}

TEST(IdentityWithoutKey, SignInIsNotSetUp)
{
    const HubError notSetUp =
        HubError::api(u"signin_not_set_up"_s, u"Sign-in isn't set up yet in this version of Tarnhub."_s);
    for (const QString& key : {QString(), u"pk_test_notbase64!"_s}) {
        SCOPED_TRACE(key.toStdString());
        const ClerkIdentity identity(key, ClerkFAPI::shared(key, [](const QUrl&) -> std::shared_ptr<ClerkFAPI> {
                                         ADD_FAILURE() << "no client for a bad key";
                                         return nullptr;
                                     }));
        EXPECT_FALSE(identity.fapi());
        EXPECT_EQ(identity.socialProviders(), std::vector<OAuthProvider>{});
        identity.signOut();
        EXPECT_EQ(hubErrorOf([&] { identity.signIn(u"ada@example.com"_s, u"pw"_s); }), notSetUp);
        EXPECT_EQ(hubErrorOf([&] { identity.signIn(OAuthProvider::google); }), notSetUp);
        EXPECT_EQ(hubErrorOf([&] { identity.verify(u"123456"_s); }), notSetUp);
    }
    const ClerkIdentity application = makeIdentityProvider(std::make_shared<Hub::Test::ScriptedWebAuthenticator>());
    EXPECT_EQ(application.publishableKey(), Config::clerkPublishableKey());
    EXPECT_EQ(application.fapi() != nullptr, ClerkIdentity::frontendAPI(Config::clerkPublishableKey()).has_value());
}

} // namespace
} // namespace Hub

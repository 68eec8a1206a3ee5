#include "Account/ClerkRecords.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace Hub {
namespace {

TEST(ClerkRecords, NullResponseAndClientReadAsEmpty)
{
    const auto envelope = decodeReply<Envelope<SignInDTO>>(R"({"response":null,"client":null})");
    EXPECT_FALSE(envelope.response);
    EXPECT_FALSE(envelope.client);
}

TEST(ClerkRecords, SignInReadsItsSnakeCaseKeysAndKeepsUnknownStatus)
{
    const auto envelope = decodeReply<Envelope<SignInDTO>>(R"({
        "response": {"id": "sia_1", "status": "needs_identifier_maybe", "created_session_id": "sess_9",
                     "supported_second_factors": [{"strategy": "phone_code", "phone_number_id": "idn_p"}],
                     "first_factor_verification": {"status": "unverified", "strategy": "oauth_google",
                         "external_verification_redirect_url": "https://provider.example/a",
                         "error": {"code": "oauth_access_denied", "message": "m", "long_message": "lm"}},
                     "unknown_key": [1, 2, 3]},
        "client": {"id": "client_1", "last_active_session_id": "sess_9",
                   "sessions": [{"id": "sess_9", "last_active_token": {"jwt": "j"},
                                 "last_active_organization_id": "org_1"}]}})");
    ASSERT_TRUE(envelope.response);
    const SignInDTO& signIn = *envelope.response;
    EXPECT_EQ(signIn.status, u"needs_identifier_maybe"_s);
    EXPECT_EQ(signIn.createdSessionId, u"sess_9"_s);
    ASSERT_TRUE(signIn.supportedSecondFactors);
    EXPECT_EQ(signIn.supportedSecondFactors->at(0), (FactorDTO{u"phone_code"_s, std::nullopt, u"idn_p"_s}));
    ASSERT_TRUE(signIn.firstFactorVerification);
    EXPECT_EQ(signIn.firstFactorVerification->externalVerificationRedirectUrl, u"https://provider.example/a"_s);
    EXPECT_EQ(signIn.firstFactorVerification->error, (ErrorDTO{u"oauth_access_denied"_s, u"m"_s, u"lm"_s}));
    EXPECT_FALSE(signIn.secondFactorVerification);

    const ClientDTO expected{u"client_1"_s,
                             std::vector<SessionDTO>{{u"sess_9"_s, TokenDTO{u"j"_s}, u"org_1"_s}},
                             u"sess_9"_s};
    EXPECT_EQ(envelope.client, expected);
}

TEST(ClerkRecords, EmptyFactorListDiffersFromMissingOne)
{
    const auto empty = decodeReply<SignInDTO>(R"({"supported_second_factors": []})");
    ASSERT_TRUE(empty.supportedSecondFactors);
    EXPECT_TRUE(empty.supportedSecondFactors->empty());
    EXPECT_FALSE(decodeReply<SignInDTO>("{}").supportedSecondFactors);
}

TEST(ClerkRecords, ClientCarrierPrefersTopLevelClientOverMeta)
{
    const auto onlyMeta = decodeReply<ClientCarrier>(R"({"meta": {"client": {"id": "client_meta"}}})");
    ASSERT_TRUE(onlyMeta.carriedClient());
    EXPECT_EQ(onlyMeta.carriedClient()->id, u"client_meta"_s);

    const auto both =
        decodeReply<ClientCarrier>(R"({"client": {"id": "client_top"}, "meta": {"client": {"id": "client_meta"}}})");
    EXPECT_EQ(both.carriedClient()->id, u"client_top"_s);

    EXPECT_FALSE(decodeReply<ClientCarrier>(R"({"meta": {}})").carriedClient());
}

TEST(ClerkRecords, SocialMapKeysStayAsWritten)
{
    const auto environment = decodeReply<EnvironmentDTO>(R"({"auth_config": {"session_minter": true},
        "user_settings": {"social": {"oauth_google": {"strategy": "oauth_google", "enabled": true,
                                                      "not_selectable": false}}}})");
    ASSERT_TRUE(environment.authConfig);
    EXPECT_EQ(environment.authConfig->sessionMinter, true);
    const auto& social = *environment.userSettings->social;
    ASSERT_EQ(social.size(), 1u);
    ASSERT_TRUE(social.contains(u"oauth_google"_s));
    EXPECT_EQ(social.at(u"oauth_google"_s).enabled, true);
    EXPECT_FALSE(social.at(u"oauth_google"_s).authenticatable);
}

// A present key of the wrong type fails the whole reply and names the key.
TEST(ClerkRecords, MistypedKeysFailTheReply)
{
    struct Case {
        const char* body;
        const char* path;
    };
    const Case cases[] = {
        {R"({"auth_config": {"session_minter": "yes"}})", "auth_config.session_minter"},
        {R"({"auth_config": {"session_minter": 1}})", "auth_config.session_minter"},
        {R"({"user_settings": {"social": {"oauth_apple": null}}})", "user_settings.social.oauth_apple"},
        {R"({"user_settings": {"social": []}})", "user_settings.social"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        try {
            decodeReply<EnvironmentDTO>(c.body);
            ADD_FAILURE() << "decoded";
        } catch (const Json::DecodingError& error) {
            EXPECT_EQ(error.path(), QString::fromUtf8(c.path));
        }
    }
    EXPECT_THROW(decodeReply<Envelope<SignInDTO>>(R"({"response": {"supported_second_factors": [null]}})"),
                 Json::DecodingError);
    EXPECT_THROW(decodeReply<Envelope<SignInDTO>>(R"({"response": {"id": 12}})"), Json::DecodingError);
    EXPECT_THROW(decodeReply<TokenDTO>(R"(["jwt"])"), Json::DecodingError);
    EXPECT_THROW(decodeReply<TokenDTO>("not json"), Json::DecodingError);
}

} // namespace
} // namespace Hub

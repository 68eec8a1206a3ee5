#include "Account/ClerkIdentity.h"

#include "Account/ClerkFAPI.h"
#include "Base/Config.h"
#include "Platform/Http.h"

#include <QStringDecoder>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace Hub {

namespace {

const auto kFailed = u"Sign-in failed. Try again."_s;
const HubError kSignInUnavailable =
    HubError::api(u"server_error"_s, u"Sign-in is unavailable right now. Try again in a few minutes."_s);

bool isHostCharacter(char32_t c)
{
    return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z') || (c >= U'0' && c <= U'9') || c == U'.'
        || c == U'-';
}

} // namespace

ClerkIdentity::ClerkIdentity(QString publishableKey, std::shared_ptr<ClerkFAPI> fapi)
    : m_publishableKey(std::move(publishableKey))
    , m_fapi(std::move(fapi))
{
}

std::optional<QUrl> ClerkIdentity::frontendAPI(const QString& publishableKey)
{
    QString key = publishableKey.trimmed();
    if (!key.startsWith("pk_live_"_L1) && !key.startsWith("pk_test_"_L1))
        return std::nullopt;
    key.remove(0, 8);
    key.replace(u'-', u'+').replace(u'_', u'/');
    if (key.isEmpty())
        return std::nullopt;
    while (key.size() % 4 != 0)
        key += u'=';

    const auto decoded = QByteArray::fromBase64Encoding(key.toLatin1(), QByteArray::Base64Encoding
                                                                             | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(*decoded);
    if (utf8.hasError() || !text.endsWith(u'$'))
        return std::nullopt;
    text.chop(1);

    const QList<uint> scalars = text.toUcs4();
    if (scalars.isEmpty() || !std::all_of(scalars.begin(), scalars.end(), [](uint c) { return isHostCharacter(c); }))
        return std::nullopt;
    // The characters alone do not make a host name ("a..b", "-a"): such a
    // key names no Frontend API, and the caller must not get a client for it.
    QUrl base(u"https://"_s + text);
    if (!base.isValid())
        return std::nullopt;
    return base;
}

QString ClerkIdentity::signIn(const QString& email, const QString& password, std::stop_token stop) const
{
    const QString address = email.trimmed();
    if (address.isEmpty() || password.isEmpty())
        throw HubError::message(u"Type your e-mail and password."_s);
    return run([&] { return m_fapi->signInWithPassword(address, password, stop); }, stop);
}

QString ClerkIdentity::signIn(OAuthProvider provider, std::stop_token stop) const
{
    return run([&] { return m_fapi->signInWithOAuth(provider, stop); }, stop);
}

std::optional<std::vector<OAuthProvider>> ClerkIdentity::socialProviders(std::stop_token stop) const
{
    if (!m_fapi)
        return std::vector<OAuthProvider>{};
    return m_fapi->socialProviders(std::move(stop));
}

void ClerkIdentity::signOut(std::stop_token stop) const noexcept
{
    if (m_fapi)
        m_fapi->signOut(std::move(stop));
}

QString ClerkIdentity::verify(const QString& code, std::stop_token stop) const
{
    QString digits;
    for (const QChar c : code) {
        if (c >= u'0' && c <= u'9')
            digits += c;
    }
    if (digits.isEmpty())
        throw HubError::message(u"Type the code first."_s);
    return run([&] { return m_fapi->attemptCode(digits, stop); }, stop);
}

QString ClerkIdentity::run(const std::function<QString()>& operation, std::stop_token stop) const
{
    if (!m_fapi)
        throw HubError::api(u"signin_not_set_up"_s, u"Sign-in isn't set up yet in this version of Tarnhub."_s);
    try {
        return operation();
    } catch (const FAPIError& error) {
        // A session left over at the service blocks every new sign-in until
        // it is ended; end it once and try again.
        if (error.code != u"session_exists"_s && error.code != u"identifier_already_signed_in"_s)
            throw hubError(std::current_exception());
    } catch (...) {
        throw hubError(std::current_exception());
    }
    m_fapi->signOut(stop);
    try {
        return operation();
    } catch (...) {
        throw hubError(std::current_exception());
    }
}

HubError ClerkIdentity::hubError(std::exception_ptr error)
{
    try {
        std::rethrow_exception(std::move(error));
    } catch (const HubError& hub) {
        return hub;
    } catch (const Http::TransportError& transport) {
        if (transport.code() == Http::TransportCode::cancelled)
            return HubError::cancelled();
        if (transport.code() == Http::TransportCode::dataLengthExceedsMaximum)
            return kSignInUnavailable;
        return HubError::api(u"offline"_s, u"Couldn't reach Tarnaudio. Check your connection and try again."_s);
    } catch (const FAPIError& fapi) {
        if (fapi.code)
            return hubError(*fapi.code, fapi.longMessage ? fapi.longMessage : fapi.message);
        if (fapi.status == 429)
            return hubError(u"too_many_requests"_s, std::nullopt);
        return kSignInUnavailable;
    } catch (...) {
        return HubError::message(kFailed);
    }
}

HubError ClerkIdentity::hubError(const QString& code, const std::optional<QString>& message)
{
    const QString host = Config::site().host();
    const QString support = Config::supportEmail();
    const auto is = [&code](std::initializer_list<QLatin1StringView> codes) {
        return std::any_of(codes.begin(), codes.end(), [&code](QLatin1StringView c) { return code == c; });
    };

    if (is({"form_password_incorrect"_L1}))
        return HubError::api(u"wrong_password"_s, u"Wrong password. Try again, or reset it on "_s + host + u"."_s);
    if (is({"form_identifier_not_found"_L1, "invitation_account_not_exists"_L1}))
        return HubError::api(u"no_account"_s, u"There's no Tarnaudio account with that e-mail. Invited? Accept your invite at "_s
                                                  + host + u"/join first, then sign in here."_s);
    if (is({"external_account_not_found"_L1}))
        return HubError::api(u"no_account"_s,
                             u"There's no Tarnaudio account for that login. Tarnaudio is invite-only for now: accept your invite at "_s
                                 + host + u"/join, then sign in here."_s);
    if (is({"strategy_for_user_invalid"_L1}))
        return HubError::api(u"no_password"_s, u"This account has no password. Sign in with Google or Apple."_s);
    if (is({"form_password_pwned"_L1}))
        return HubError::api(u"needs_new_password"_s,
                             u"This password showed up in a data leak. Reset it on "_s + host + u", then sign in."_s);
    if (is({"form_param_format_invalid"_L1, "form_param_nil"_L1, "form_identifier_invalid"_L1}))
        return HubError::api(u"bad_email"_s, u"Check the e-mail address and try again."_s);
    if (is({"form_code_incorrect"_L1}))
        return HubError::api(u"code_invalid"_s, u"That code isn't right. Check it and try again."_s);
    if (is({"verification_failed"_L1}))
        return HubError::api(u"code_expired"_s, u"Too many wrong codes. Press Back and sign in again to get a new one."_s);
    if (is({"verification_expired"_L1, "sign_in_expired"_L1}))
        return HubError::api(u"code_expired"_s, u"This code expired. Sign in again to get a new one."_s);
    if (is({"user_locked"_L1}))
        return HubError::api(u"account_locked"_s, u"Too many tries. This account is locked for a while; try again later."_s);
    if (is({"too_many_requests"_L1}))
        return HubError::api(u"rate_limited"_s, u"Too many tries. Wait a minute and try again."_s);
    if (is({"oauth_access_denied"_L1}))
        return HubError::cancelled();
    if (is({"sign_up_mode_restricted"_L1, "sign_up_restricted_waitlist"_L1}))
        return HubError::api(u"invite_only"_s, u"Tarnaudio is invite-only for now. Accept your invite at "_s + host
                                                   + u"/join, then sign in here."_s);
    if (is({"not_allowed_access"_L1}))
        return HubError::api(u"not_allowed"_s, u"This account can't sign in here. Write to "_s + support + u"."_s);
    if (is({"native_api_disabled"_L1}))
        return HubError::api(u"signin_not_set_up"_s,
                             u"Sign-in isn't switched on for Tarnhub yet. Try again later or write to "_s + support + u"."_s);
    if (is({"resource_not_found"_L1, "authentication_invalid"_L1}))
        return HubError::api(u"code_expired"_s, u"This sign-in expired. Sign in again."_s);

    const QString trimmed = message.value_or(QString()).trimmed();
    return HubError::api(code, trimmed.isEmpty() ? kFailed : trimmed);
}

ClerkIdentity makeIdentityProvider(std::shared_ptr<WebAuthenticating> web)
{
    const QString key = Config::clerkPublishableKey();
    std::shared_ptr<ClerkFAPI> fapi;
    if (!key.isEmpty())
        fapi = ClerkFAPI::shared(key, ClerkFAPI::applicationFactory(std::move(web)));
    return ClerkIdentity(key, std::move(fapi));
}

} // namespace Hub

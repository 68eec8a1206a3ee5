#include "Account/ClerkFAPI.h"

#include "Account/ClerkFAPIParts.h"
#include "Account/ClerkIdentity.h"
#include "Account/KeychainClerkTokenStore.h"
#include "Base/Config.h"
#include "Base/HubError.h"
#include "Platform/LibsecretStore.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>

using namespace Qt::StringLiterals;

namespace Hub {

using ClerkParts::signInFailed;

namespace {

constexpr double kTimeout = 20.0;
constexpr double kSignOutTimeout = 8.0;
constexpr double kProvidersTimeout = 10.0;

QString siteHost() { return Config::site().host(); }

// Only these identifiers go into request paths: nothing the service sends
// can add a path segment or a query.
bool safeID(const std::optional<QString>& id)
{
    if (!id || id->isEmpty())
        return false;
    return std::all_of(id->begin(), id->end(), [](QChar c) {
        return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'_';
    });
}

bool endsTheCode(const QString& code)
{
    return code == "verification_failed"_L1 || code == "verification_expired"_L1 || code == "sign_in_expired"_L1
        || code == "resource_not_found"_L1 || code == "authentication_invalid"_L1;
}

QString displayName(OAuthProvider provider)
{
    switch (provider) {
    case OAuthProvider::google:
        return u"Google"_s;
    case OAuthProvider::apple:
        return u"Apple"_s;
    }
    return rawValue(provider);
}

struct QueryItem {
    QString name;
    std::optional<QString> value; // nothing: the item has no "="
};

// The first query item of that name. QUrlQuery cannot tell "a" from "a=",
// and the two mean different things to the service.
std::optional<QueryItem> firstQueryItem(const QUrl& url, QStringView name)
{
    if (!url.hasQuery())
        return std::nullopt;
    const QString query = url.query(QUrl::FullyEncoded);
    for (const QString& part : query.split(u'&')) {
        const qsizetype equals = part.indexOf(u'=');
        const QString itemName = QUrl::fromPercentEncoding(part.left(equals < 0 ? part.size() : equals).toUtf8());
        if (itemName != name)
            continue;
        if (equals < 0)
            return QueryItem{itemName, std::nullopt};
        return QueryItem{itemName, QUrl::fromPercentEncoding(part.mid(equals + 1).toUtf8())};
    }
    return std::nullopt;
}

// The scheme exactly as written: QUrl lower-cases it.
QString writtenScheme(const QString& text)
{
    const qsizetype colon = text.indexOf(u':');
    return colon < 0 ? QString() : text.left(colon);
}

FAPIError fapiError(int status, const std::optional<ErrorDTO>& error = std::nullopt)
{
    FAPIError out;
    out.status = status;
    if (error) {
        out.code = error->code;
        out.message = error->message;
        out.longMessage = error->longMessage;
    }
    return out;
}

FAPIError errorOfReply(const Http::Response& response)
{
    try {
        const ErrorBody body = decodeReply<ErrorBody>(response.body);
        if (body.errors && !body.errors->empty()) {
            const ErrorDTO& first = body.errors->front();
            if (first.code && !first.code->isEmpty())
                return fapiError(response.status, first);
        }
    } catch (const Json::DecodingError&) {
    }
    return fapiError(response.status);
}

template <typename Record>
Record readReply(const Http::Response& response)
{
    if (response.status >= 400)
        throw errorOfReply(response);
    try {
        return decodeReply<Record>(response.body);
    } catch (const Json::DecodingError&) {
        throw fapiError(response.status);
    }
}

void realSleep(double seconds, std::stop_token stop)
{
    std::mutex mutex;
    std::condition_variable_any wake;
    std::unique_lock lock(mutex);
    wake.wait_for(lock, stop, std::chrono::duration<double>(seconds), [] { return false; });
}

// Stands in for a missing token store: the token then lives in memory only.
class NoTokenStore final : public ClerkTokenStoring {
public:
    ClerkTokenLoad load() const override { return ClerkTokenLoad::none(); }
    bool save(const QString&) override { return false; }
    void clear() override {}
};

std::mutex& instancesLock()
{
    static std::mutex lock;
    return lock;
}

std::map<QString, std::shared_ptr<ClerkFAPI>>& instances()
{
    static std::map<QString, std::shared_ptr<ClerkFAPI>> table;
    return table;
}

} // namespace

ClerkFAPI::ClerkFAPI(QUrl base, Http::Session session, Dependencies dependencies)
    : m_base(std::move(base))
    , m_session(std::move(session))
    , m_tokens(dependencies.tokens ? std::move(dependencies.tokens) : std::make_shared<NoTokenStore>())
    , m_web(std::move(dependencies.web))
    , m_sleep(dependencies.sleep ? std::move(dependencies.sleep) : Sleeper(realSleep))
    , m_now(dependencies.now ? std::move(dependencies.now) : Clock([] { return QDateTime::currentDateTimeUtc(); }))
    , m_appVersion(dependencies.appVersion.isEmpty() ? Config::hubVersion() : std::move(dependencies.appVersion))
    , m_locale(dependencies.locale.isEmpty() ? preferredLanguage() : std::move(dependencies.locale))
{
}

std::shared_ptr<ClerkFAPI> ClerkFAPI::shared(const QString& publishableKey, const Factory& make)
{
    const std::optional<QUrl> base = ClerkIdentity::frontendAPI(publishableKey);
    if (!base)
        return nullptr;
    {
        const std::lock_guard lock(instancesLock());
        if (const auto found = instances().find(publishableKey); found != instances().end())
            return found->second;
    }
    // Built outside the lock; when two threads race, the first one stored wins.
    std::shared_ptr<ClerkFAPI> made = make(*base);
    const std::lock_guard lock(instancesLock());
    return instances().try_emplace(publishableKey, std::move(made)).first->second;
}

ClerkFAPI::Factory ClerkFAPI::applicationFactory(std::shared_ptr<WebAuthenticating> web)
{
    return [web = std::move(web)](const QUrl& base) {
        Dependencies dependencies;
        dependencies.tokens = std::make_shared<KeychainClerkTokenStore>(std::make_shared<LibsecretStore>());
        dependencies.web = web;
        return std::make_shared<ClerkFAPI>(base, Http::Session{}, std::move(dependencies));
    };
}

std::optional<EnvironmentDTO> ClerkFAPI::loadEnvironment(double timeout, std::stop_token stop)
{
    const Call call(m_session, std::move(stop));
    return loadEnvironment(timeout, call);
}

std::optional<EnvironmentDTO> ClerkFAPI::loadEnvironment(double timeout, const Call& call)
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_environment)
            return m_environment;
    }
    try {
        loadToken();
        const Http::Request request = makeRequest("GET", u"/v1/environment"_s, {}, {}, timeout);
        const Http::Response response = send(request, true, call);
        adopt(response);
        if (response.status >= 400)
            return std::nullopt;
        EnvironmentDTO environment = decodeReply<EnvironmentDTO>(response.body);
        const std::lock_guard lock(m_mutex);
        if (!m_environment)
            m_environment = std::move(environment);
        return m_environment;
    } catch (...) {
        // Unknown is an answer here; a later call asks again.
        return std::nullopt;
    }
}

std::optional<std::vector<OAuthProvider>> ClerkFAPI::socialProviders(std::stop_token stop)
{
    const std::optional<EnvironmentDTO> environment = loadEnvironment(kProvidersTimeout, std::move(stop));
    if (!environment)
        return std::nullopt;
    std::vector<OAuthProvider> out;
    if (!environment->userSettings || !environment->userSettings->social)
        return out;
    const auto& social = *environment->userSettings->social;
    for (const OAuthProvider provider : kAllOAuthProviders) {
        const QString strategy = u"oauth_"_s + rawValue(provider);
        const bool offered = std::any_of(social.begin(), social.end(), [&strategy](const auto& entry) {
            const EnvironmentDTO::Social& s = entry.second;
            return s.strategy == strategy && s.enabled == true && s.authenticatable.value_or(true)
                && !s.notSelectable.value_or(false);
        });
        if (offered)
            out.push_back(provider);
    }
    return out;
}

template <typename Record>
Record ClerkFAPI::exchange(const QByteArray& method, const QString& path, const Form& form, const Query& query,
                           const Call& call)
{
    loadToken();
    const Http::Request request = makeRequest(method, path, form, query, kTimeout);
    const Http::Response response = send(request, true, call);
    adopt(response);
    return readReply<Record>(response);
}

QString ClerkFAPI::signInWithPassword(const QString& identifier, const QString& password, std::stop_token stop)
{
    const Call call(m_session, std::move(stop));
    setPending(std::nullopt);
    const Envelope<SignInDTO> reply =
        createSignIn({{u"identifier"_s, identifier}, {u"password"_s, password}, {u"locale"_s, m_locale}}, call);
    return finish(reply.response, reply.client, call);
}

Envelope<SignInDTO> ClerkFAPI::createSignIn(const Form& form, const Call& call)
{
    loadToken();
    const bool heldToken = deviceToken().has_value();
    const QString path = u"/v1/client/sign_ins"_s;
    try {
        return exchange<Envelope<SignInDTO>>("POST", path, form, {}, call);
    } catch (const FAPIError& error) {
        // A token the service no longer knows spoils every sign-in made with
        // it; one more try without it is the cure.
        const bool staleToken = error.code == u"authentication_invalid"_s || error.code == u"resource_not_found"_s;
        if (!heldToken || !staleToken)
            throw;
    }
    forgetDevice();
    return exchange<Envelope<SignInDTO>>("POST", path, form, {}, call);
}

QString ClerkFAPI::finish(const std::optional<SignInDTO>& signIn, const std::optional<ClientDTO>& client,
                          const Call& call)
{
    if (!signIn)
        throw signInFailed();
    const QString status = signIn->status.value_or(QString());

    if (status == "complete"_L1) {
        std::optional<QString> session = signIn->createdSessionId;
        if (!session && client)
            session = client->lastActiveSessionId;
        if (!session) {
            const std::optional<ClientDTO> last = lastClient();
            if (last)
                session = last->lastActiveSessionId;
        }
        if (!session)
            throw signInFailed();
        QString token = jwt(*session, call);
        setPending(std::nullopt);
        return token;
    }

    if (status == "needs_second_factor"_L1 || status == "needs_client_trust"_L1) {
        if (!safeID(signIn->id))
            throw signInFailed();
        const QString id = *signIn->id;
        const std::vector<FactorDTO> factors = signIn->supportedSecondFactors.value_or(std::vector<FactorDTO>{});
        const auto factorFor = [&factors](QLatin1StringView strategy) -> const FactorDTO* {
            const auto found = std::find_if(factors.begin(), factors.end(),
                                            [strategy](const FactorDTO& f) { return f.strategy == strategy; });
            return found == factors.end() ? nullptr : &*found;
        };
        const QString prepare = u"/v1/client/sign_ins/"_s + id + u"/prepare_second_factor"_s;
        if (const FactorDTO* factor = factorFor("email_code"_L1)) {
            exchange<Envelope<SignInDTO>>(
                "POST", prepare, {{u"strategy"_s, u"email_code"_s}, {u"email_address_id"_s, factor->emailAddressId}},
                {}, call);
            setPending(PendingSignIn{id, u"email_code"_s});
            throw HubError::api(u"needs_code"_s, u"We sent a code to your e-mail. Type it here to finish signing in."_s);
        }
        if (const FactorDTO* factor = factorFor("phone_code"_L1)) {
            exchange<Envelope<SignInDTO>>(
                "POST", prepare, {{u"strategy"_s, u"phone_code"_s}, {u"phone_number_id"_s, factor->phoneNumberId}},
                {}, call);
            setPending(PendingSignIn{id, u"phone_code"_s});
            throw HubError::api(u"needs_code"_s, u"We sent a code to your phone. Type it here to finish signing in."_s);
        }
        if (factorFor("totp"_L1)) {
            setPending(PendingSignIn{id, u"totp"_s});
            throw HubError::api(u"needs_code"_s, u"Type the code from your authenticator app."_s);
        }
        throw HubError::message(
            u"This account needs a verification step Tarnhub can't do yet. Sign in with Google or Apple."_s);
    }

    if (status == "needs_new_password"_L1) {
        throw HubError::api(u"needs_new_password"_s,
                            u"Your password needs to be reset. Reset it on "_s + siteHost() + u", then sign in."_s);
    }
    throw HubError::message(u"Sign-in didn't finish. Try again."_s);
}

QString ClerkFAPI::attemptCode(const QString& code, std::stop_token stop)
{
    const Call call(m_session, std::move(stop));
    const std::optional<PendingSignIn> waiting = pending();
    if (!waiting)
        throw HubError::api(u"code_expired"_s, u"This sign-in expired. Sign in again."_s);
    try {
        const Envelope<SignInDTO> reply = exchange<Envelope<SignInDTO>>(
            "POST", u"/v1/client/sign_ins/"_s + waiting->id + u"/attempt_second_factor"_s,
            {{u"code"_s, code}, {u"strategy"_s, waiting->strategy}}, {}, call);
        return finish(reply.response, reply.client, call);
    } catch (const FAPIError& error) {
        // A wrong code keeps the step so the user can type it again; these
        // codes mean the sign-in itself is gone.
        if (error.code && endsTheCode(*error.code)) {
            setPending(std::nullopt);
            if (*error.code == "authentication_invalid"_L1)
                forgetDevice();
        }
        throw;
    }
}

QString ClerkFAPI::jwt(const QString& sessionID, const Call& call)
{
    if (!safeID(sessionID))
        throw signInFailed();

    std::optional<QString> organization;
    std::optional<QString> lastActiveJWT;
    std::optional<bool> minter;
    {
        const std::lock_guard lock(m_mutex);
        if (m_lastClient && m_lastClient->sessions) {
            for (const SessionDTO& session : *m_lastClient->sessions) {
                if (session.id == sessionID) {
                    organization = session.lastActiveOrganizationId;
                    if (session.lastActiveToken)
                        lastActiveJWT = session.lastActiveToken->jwt;
                    break;
                }
            }
        }
        minter = m_sessionMinter;
    }
    if (!minter) {
        const std::optional<EnvironmentDTO> environment = loadEnvironment(kTimeout, call);
        // A stopped read says nothing about the instance: leave it undecided.
        if (call.stop().stop_requested())
            throw HubError::cancelled();
        const bool decided = environment && environment->authConfig
            && environment->authConfig->sessionMinter.value_or(false);
        const std::lock_guard lock(m_mutex);
        if (!m_sessionMinter)
            m_sessionMinter = decided;
        minter = m_sessionMinter;
    }

    Form form{{u"organization_id"_s, organization}};
    if (*minter && lastActiveJWT) {
        form.insert_or_assign(u"token"_s, lastActiveJWT);
        form.insert_or_assign(u"force_origin"_s, u"true"_s);
    }
    const TokenDTO token =
        exchange<TokenDTO>("POST", u"/v1/client/sessions/"_s + sessionID + u"/tokens"_s, form, {}, call);
    if (!token.jwt || token.jwt->isEmpty())
        throw signInFailed();
    return *token.jwt;
}

QString ClerkFAPI::signInWithOAuth(OAuthProvider provider, std::stop_token stop)
{
    const Call call(m_session, std::move(stop));
    const QString strategy = u"oauth_"_s + rawValue(provider);
    const QString redirect = Config::bundleID() + u"://callback"_s;
    setPending(std::nullopt);

    const Envelope<SignInDTO> created =
        createSignIn({{u"strategy"_s, strategy}, {u"redirect_url"_s, redirect}, {u"locale"_s, m_locale}}, call);
    if (!created.response || !safeID(created.response->id))
        throw signInFailed();
    const QString id = *created.response->id;

    const Envelope<SignInDTO> prepared =
        exchange<Envelope<SignInDTO>>("POST", u"/v1/client/sign_ins/"_s + id + u"/prepare_first_factor"_s,
                                      {{u"strategy"_s, strategy}, {u"redirect_url"_s, redirect}}, {}, call);
    if (!prepared.response)
        throw signInFailed();
    std::optional<QString> address;
    if (prepared.response->firstFactorVerification)
        address = prepared.response->firstFactorVerification->externalVerificationRedirectUrl;
    if (!address)
        throw signInFailed();
    const QUrl page(*address, QUrl::StrictMode);
    if (!page.isValid() || writtenScheme(*address) != "https"_L1)
        throw signInFailed();

    // The service hands out a provider page without a client identifier
    // when the provider is not configured there; the page would only fail.
    if (const auto clientID = firstQueryItem(page, u"client_id"); clientID && clientID->value.value_or(QString()).isEmpty())
        throw HubError::api(u"provider_off"_s,
                            displayName(provider) + u" sign-in isn't switched on yet. Use your e-mail and password."_s);

    if (!m_web)
        throw HubError::message(u"Couldn't open the sign-in window. Try again."_s);
    const QUrl callback = m_web->authenticate(page, Config::bundleID(), call.stop());
    if (callback.scheme().toLower() != Config::bundleID())
        throw signInFailed();

    Query query;
    if (const auto nonce = firstQueryItem(callback, u"rotating_token_nonce"); nonce && nonce->value)
        query.insert_or_assign(u"rotating_token_nonce"_s, *nonce->value);
    const Envelope<SignInDTO> reloaded =
        exchange<Envelope<SignInDTO>>("GET", u"/v1/client/sign_ins/"_s + id, {}, query, call);
    if (!reloaded.response)
        throw signInFailed();

    const SignInDTO& signIn = *reloaded.response;
    const auto transferable = [](const std::optional<VerificationDTO>& v) {
        return v && v->status == u"transferable"_s;
    };
    if (transferable(signIn.firstFactorVerification) || transferable(signIn.secondFactorVerification))
        return signUpTransfer(call);
    if (!signIn.firstFactorVerification || !signIn.firstFactorVerification->error)
        return finish(reloaded.response, reloaded.client, call);
    throw fapiError(200, signIn.firstFactorVerification->error);
}

QString ClerkFAPI::signUpTransfer(const Call& call)
{
    const Envelope<SignUpDTO> reply = exchange<Envelope<SignUpDTO>>(
        "POST", u"/v1/client/sign_ups"_s, {{u"transfer"_s, u"1"_s}, {u"locale"_s, m_locale}}, {}, call);
    if (reply.response) {
        const SignUpDTO& signUp = *reply.response;
        if (signUp.verifications && signUp.verifications->externalAccount
            && signUp.verifications->externalAccount->error)
            throw fapiError(200, signUp.verifications->externalAccount->error);
        if (signUp.status == u"complete"_s && signUp.createdSessionId)
            return jwt(*signUp.createdSessionId, call);
    }
    throw HubError::api(u"signup_incomplete"_s,
                        u"Finish creating your account on "_s + siteHost() + u", then sign in here."_s);
}

void ClerkFAPI::signOut(std::stop_token stop) noexcept
{
    {
        const std::lock_guard lock(m_mutex);
        m_pending.reset();
        m_lastClient.reset();
    }
    try {
        loadToken();
        if (!deviceToken())
            return;
        const Call call(m_session, std::move(stop));
        const Http::Request request = makeRequest("DELETE", u"/v1/client/sessions"_s, {}, {}, kSignOutTimeout);
        const Http::Response response = send(request, false, call);
        adopt(response);
        if (response.status < 400)
            return;
    } catch (...) {
        // Whatever went wrong, the service may hold a session for this token:
        // forgetting it locally is the one sign-out that cannot fail.
    }
    forgetDevice();
}

} // namespace Hub

#include "FakeClerkService.h"

#include "Base/HubError.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cctype>

using namespace Qt::StringLiterals;

namespace Hub::Test {

namespace {

std::vector<std::pair<std::string, std::string>> parsePairs(const std::string& text)
{
    std::vector<std::pair<std::string, std::string>> out;
    if (text.empty())
        return out;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find('&', start), text.size());
        const std::string part = text.substr(start, end - start);
        const std::size_t equals = part.find('=');
        const std::string key = part.substr(0, equals);
        const std::string value = equals == std::string::npos ? std::string() : part.substr(equals + 1);
        out.emplace_back(httplib::detail::decode_url(key, false), httplib::detail::decode_url(value, false));
        start = end + 1;
    }
    return out;
}

std::optional<std::string> lookup(const std::vector<std::pair<std::string, std::string>>& pairs,
                                  const std::string& key)
{
    for (const auto& [k, v] : pairs) {
        if (k == key)
            return v;
    }
    return std::nullopt;
}

std::string compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

QString q(const std::string& text) { return QString::fromStdString(text); }

QJsonObject factorObject(const std::string& strategy)
{
    QJsonObject factor{{u"strategy"_s, q(strategy)}};
    if (strategy == "email_code")
        factor.insert(u"email_address_id"_s, u"idn_email1"_s);
    if (strategy == "phone_code")
        factor.insert(u"phone_number_id"_s, u"idn_phone1"_s);
    return factor;
}

const char* const kDefaultEnvironment =
    R"({"auth_config":{"session_minter":false},"user_settings":{"social":{)"
    R"("oauth_google":{"strategy":"oauth_google","enabled":true,"authenticatable":true,"not_selectable":false},)"
    R"("oauth_apple":{"strategy":"oauth_apple","enabled":true,"authenticatable":true,"not_selectable":false}}}})";

} // namespace

std::optional<std::string> FakeClerkService::Call::header(const std::string& name) const
{
    for (const auto& [key, value] : headers) {
        if (std::equal(key.begin(), key.end(), name.begin(), name.end(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
            }))
            return value;
    }
    return std::nullopt;
}

std::optional<std::string> FakeClerkService::Call::formValue(const std::string& key) const
{
    return lookup(form, key);
}

std::optional<std::string> FakeClerkService::Call::queryValue(const std::string& key) const
{
    return lookup(query, key);
}

FakeClerkService::FakeClerkService(TestHttpsServer& server)
    : m_server(server)
    , m_environment(kDefaultEnvironment)
{
    const auto route = [this](const std::string& method, const std::string& pattern, Endpoint endpoint) {
        m_server.on(method, pattern, [this, endpoint](const httplib::Request& request, httplib::Response& response) {
            handle(endpoint, request, response);
        });
    };
    route("POST", "/v1/client/sign_ins", Endpoint::signIns);
    route("POST", "/v1/client/sign_ins/[^/]+/prepare_first_factor", Endpoint::prepareFirstFactor);
    route("GET", "/v1/client/sign_ins/[^/]+", Endpoint::reloadSignIn);
    route("POST", "/v1/client/sign_ups", Endpoint::signUps);
    route("POST", "/v1/client/sign_ins/[^/]+/prepare_second_factor", Endpoint::prepareSecondFactor);
    route("POST", "/v1/client/sign_ins/[^/]+/attempt_second_factor", Endpoint::attemptSecondFactor);
    route("POST", "/v1/client/sessions/[^/]+/tokens", Endpoint::sessionTokens);
    route("DELETE", "/v1/client/sessions", Endpoint::signOut);
    route("GET", "/v1/environment", Endpoint::environment);
}

QUrl FakeClerkService::base() const
{
    return m_server.url(u"/"_s).adjusted(QUrl::StripTrailingSlash);
}

void FakeClerkService::addAccount(Account account)
{
    const std::lock_guard lock(m_mutex);
    m_accounts[account.email] = std::move(account);
}

void FakeClerkService::setProviderClientID(std::string clientID)
{
    const std::lock_guard lock(m_mutex);
    m_providerClientID = std::move(clientID);
}

void FakeClerkService::setTransferable(bool transferable)
{
    const std::lock_guard lock(m_mutex);
    m_transferable = transferable;
}

void FakeClerkService::setEnvironment(std::string json)
{
    const std::lock_guard lock(m_mutex);
    m_environment = std::move(json);
}

void FakeClerkService::queueReply(Endpoint endpoint, Reply reply)
{
    const std::lock_guard lock(m_mutex);
    m_queued[endpoint].push_back(std::move(reply));
}

std::vector<FakeClerkService::Call> FakeClerkService::calls() const
{
    const std::lock_guard lock(m_mutex);
    return m_calls;
}

std::vector<FakeClerkService::Call> FakeClerkService::calls(Endpoint endpoint) const
{
    std::vector<Call> out;
    for (Call& call : calls()) {
        if (call.endpoint == endpoint)
            out.push_back(std::move(call));
    }
    return out;
}

std::string FakeClerkService::lastIssuedToken() const
{
    const std::lock_guard lock(m_mutex);
    return m_issuedToken;
}

std::optional<std::string> FakeClerkService::accountOf(const std::string& sessionToken) const
{
    std::string session = sessionToken;
    for (const std::string prefix : {"jwt_", "last_"}) {
        if (session.rfind(prefix, 0) == 0) {
            session.erase(0, prefix.size());
            break;
        }
    }
    const std::lock_guard lock(m_mutex);
    const auto found = m_sessionAccounts.find(session);
    if (found == m_sessionAccounts.end())
        return std::nullopt;
    return found->second;
}

std::string FakeClerkService::errorBody(const std::string& code, const std::string& message,
                                        const std::optional<std::string>& longMessage)
{
    QJsonObject error{{u"code"_s, q(code)}, {u"message"_s, q(message)}};
    if (longMessage)
        error.insert(u"long_message"_s, q(*longMessage));
    return compact(QJsonObject{{u"errors"_s, QJsonArray{error}}});
}

void FakeClerkService::handle(Endpoint endpoint, const httplib::Request& request, httplib::Response& response)
{
    Call call{endpoint, request.method, request.target, request.path, request.body, {}, {}, request.headers};
    if (request.method == "POST")
        call.form = parsePairs(request.body);
    if (const std::size_t mark = request.target.find('?'); mark != std::string::npos)
        call.query = parsePairs(request.target.substr(mark + 1));

    Reply reply;
    {
        const std::lock_guard lock(m_mutex);
        m_calls.push_back(call);
        auto& queue = m_queued[endpoint];
        if (!queue.empty()) {
            reply = std::move(queue.front());
            queue.pop_front();
        } else {
            reply = answer(endpoint, call);
        }
    }
    response.status = reply.status;
    for (const auto& [name, value] : reply.headers)
        response.set_header(name, value);
    response.set_content(reply.body, "application/json");
}

std::string FakeClerkService::newSession()
{
    m_session = "sess_" + std::to_string(++m_counter);
    return m_session;
}

FakeClerkService::Reply FakeClerkService::withClient(int status, const std::string& responseJson)
{
    QJsonArray sessions;
    if (!m_session.empty()) {
        sessions.append(QJsonObject{{u"id"_s, q(m_session)},
                                    {u"last_active_token"_s, QJsonObject{{u"jwt"_s, q("last_" + m_session)}}},
                                    {u"last_active_organization_id"_s, QJsonValue::Null}});
    }
    const QJsonObject client{{u"id"_s, u"client_1"_s},
                             {u"sessions"_s, sessions},
                             {u"last_active_session_id"_s, m_session.empty() ? QJsonValue() : QJsonValue(q(m_session))}};
    QJsonObject body{{u"client"_s, client}};
    if (!responseJson.empty())
        body.insert(u"response"_s, QJsonDocument::fromJson(QByteArray::fromStdString(responseJson)).object());
    m_issuedToken = "dvt_" + std::to_string(++m_counter);
    return Reply{status, compact(body), {{"Authorization", m_issuedToken}}};
}

FakeClerkService::Reply FakeClerkService::answer(Endpoint endpoint, const Call& call)
{
    const auto signInJson = [](const std::string& id, const std::string& status, QJsonObject extra = {}) {
        extra.insert(u"object"_s, u"sign_in_attempt"_s);
        extra.insert(u"id"_s, q(id));
        extra.insert(u"status"_s, q(status));
        return compact(extra);
    };
    const auto signInID = [&call] {
        const std::string path = call.path.substr(std::string("/v1/client/sign_ins/").size());
        return path.substr(0, path.find('/'));
    };
    const auto complete = [&](const std::string& id) {
        const std::string session = newSession();
        if (const auto signIn = m_signIns.find(id); signIn != m_signIns.end() && !signIn->second.account.empty())
            m_sessionAccounts[session] = signIn->second.account;
        return withClient(200, signInJson(id, "complete", {{u"created_session_id"_s, q(session)}}));
    };

    switch (endpoint) {
    case Endpoint::signIns: {
        const std::string id = "sia_" + std::to_string(++m_counter);
        if (const auto strategy = call.formValue("strategy"); strategy && strategy->rfind("oauth_", 0) == 0) {
            m_signIns[id] = SignIn{{}, *strategy};
            return withClient(200, signInJson(id, "needs_identifier"));
        }
        const auto identifier = call.formValue("identifier");
        const auto found = identifier ? m_accounts.find(*identifier) : m_accounts.end();
        if (found == m_accounts.end())
            return {422, errorBody("form_identifier_not_found", "Couldn't find your account."), {}};
        if (call.formValue("password") != found->second.password)
            return {422, errorBody("form_password_incorrect", "Password is incorrect. Try again."), {}};
        m_signIns[id] = SignIn{found->second.email, "password"};
        if (found->second.secondFactors.empty())
            return complete(id);
        QJsonArray factors;
        for (const std::string& strategy : found->second.secondFactors)
            factors.append(factorObject(strategy));
        return withClient(200, signInJson(id, "needs_second_factor", {{u"supported_second_factors"_s, factors}}));
    }
    case Endpoint::prepareFirstFactor: {
        const std::string id = signInID();
        const std::string strategy = call.formValue("strategy").value_or("");
        const std::string page = "https://accounts.provider.example/authorize?client_id=" + m_providerClientID
            + "&redirect_uri=https%3A%2F%2Fclerk.example%2Fv1%2Foauth_callback&state=" + id;
        const QJsonObject verification{{u"status"_s, u"unverified"_s},
                                        {u"strategy"_s, q(strategy)},
                                        {u"external_verification_redirect_url"_s, q(page)}};
        return withClient(200, signInJson(id, "needs_first_factor", {{u"first_factor_verification"_s, verification}}));
    }
    case Endpoint::reloadSignIn: {
        const std::string id = signInID();
        if (!m_signIns.contains(id))
            return {404, errorBody("resource_not_found", "Not found."), {}};
        if (m_transferable) {
            const QJsonObject verification{{u"status"_s, u"transferable"_s},
                                           {u"strategy"_s, q(m_signIns[id].strategy)}};
            return withClient(200, signInJson(id, "needs_identifier", {{u"first_factor_verification"_s, verification}}));
        }
        return complete(id);
    }
    case Endpoint::signUps: {
        if (call.formValue("transfer") != "1")
            return {422, errorBody("form_param_nil", "Missing transfer."), {}};
        const std::string session = newSession();
        return withClient(200, compact(QJsonObject{{u"object"_s, u"sign_up_attempt"_s},
                                                   {u"id"_s, u"sua_1"_s},
                                                   {u"status"_s, u"complete"_s},
                                                   {u"created_session_id"_s, q(session)}}));
    }
    case Endpoint::prepareSecondFactor:
        return withClient(200, signInJson(signInID(), "needs_second_factor"));
    case Endpoint::attemptSecondFactor: {
        const std::string id = signInID();
        const auto signIn = m_signIns.find(id);
        if (signIn == m_signIns.end())
            return {404, errorBody("resource_not_found", "Not found."), {}};
        const Account& account = m_accounts[signIn->second.account];
        if (call.formValue("code") != account.code)
            return {422, errorBody("form_code_incorrect", "Incorrect code"), {}};
        return complete(id);
    }
    case Endpoint::sessionTokens: {
        const std::string path = call.path.substr(std::string("/v1/client/sessions/").size());
        const std::string session = path.substr(0, path.find('/'));
        return Reply{200, compact(QJsonObject{{u"object"_s, u"token"_s}, {u"jwt"_s, q("jwt_" + session)}}), {}};
    }
    case Endpoint::signOut:
        m_session.clear();
        return withClient(200, compact(QJsonObject{{u"object"_s, u"client"_s}}));
    case Endpoint::environment:
        return Reply{200, m_environment, {}};
    }
    return {500, "{}", {}};
}

QUrl ScriptedWebAuthenticator::authenticate(const QUrl& url, const QString& callbackScheme, std::stop_token stop)
{
    {
        const std::lock_guard lock(m_mutex);
        m_opened.push_back(url);
    }
    if (stop.stop_requested())
        throw HubError::cancelled();
    if (answer)
        return answer(url, callbackScheme);
    return QUrl(callbackScheme + u"://callback?rotating_token_nonce=nonce_1"_s);
}

std::vector<QUrl> ScriptedWebAuthenticator::opened() const
{
    const std::lock_guard lock(m_mutex);
    return m_opened;
}

std::shared_ptr<ClerkFAPI> ClerkTestBed::client()
{
    ClerkFAPI::Dependencies dependencies;
    dependencies.tokens = tokens;
    dependencies.web = web;
    dependencies.sleep = [this](double seconds, std::stop_token) {
        const std::lock_guard lock(m_mutex);
        m_sleeps.push_back(seconds);
    };
    dependencies.now = [this] { return now; };
    dependencies.appVersion = u"9.8.7"_s;
    dependencies.locale = u"en-GB"_s;
    return std::make_shared<ClerkFAPI>(service.base(), Http::Session{server.caBundle(), {}}, std::move(dependencies));
}

std::vector<double> ClerkTestBed::sleeps() const
{
    const std::lock_guard lock(m_mutex);
    return m_sleeps;
}

std::optional<QString> ClerkTestBed::storedToken() const
{
    const auto item = secrets->item(tokens->service(), tokens->account());
    if (!item || !item->data)
        return std::nullopt;
    return QString::fromUtf8(*item->data);
}

void ClerkTestBed::storeToken(const QString& token)
{
    secrets->put(tokens->service(), tokens->account(), MemorySecretStore::Item{token.toUtf8(), std::nullopt});
}

} // namespace Hub::Test

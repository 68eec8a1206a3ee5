#include "FakeHubService.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cctype>

using namespace Qt::StringLiterals;

namespace Hub::Test {

namespace {

const char* const kEndpoints[] = {
    "hub/device", "hub/account", "hub/feedback", "hub/download", "hub/site-link", "hub/signout", "report",
};

// The text keys each endpoint needs in its request.
std::vector<std::string> requiredKeys(const std::string& endpoint)
{
    if (endpoint == "hub/device")
        return {"machine_id", "device_name", "hub_version"};
    if (endpoint == "hub/account")
        return {"machine_id"};
    if (endpoint == "hub/feedback")
        return {"product", "version", "kind", "message"};
    if (endpoint == "hub/download")
        return {"product", "format", "version"};
    return {};
}

std::string compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

FakeHubService::Reply json(int status, const QJsonObject& object)
{
    return {status, compact(object), "application/json"};
}

FakeHubService::Reply badRequest(const std::string& why)
{
    return json(400, {{u"error"_s, u"bad_request"_s}, {u"message"_s, QString::fromStdString(why)}});
}

bool equalsIgnoringCase(const std::string& a, const std::string& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return std::tolower(static_cast<unsigned char>(x))
                                                 == std::tolower(static_cast<unsigned char>(y)); });
}

} // namespace

std::string FakeHubService::Call::header(const std::string& name) const
{
    for (const auto& [key, value] : headers) {
        if (equalsIgnoringCase(key, name))
            return value;
    }
    return {};
}

bool FakeHubService::Call::hasHeader(const std::string& name) const
{
    return std::any_of(headers.begin(), headers.end(),
                       [&name](const auto& entry) { return equalsIgnoringCase(entry.first, name); });
}

FakeHubService::FakeHubService(TestHttpsServer& server, std::string prefix)
    : m_server(server)
    , m_prefix(std::move(prefix))
{
    for (const char* endpoint : kEndpoints) {
        const std::string name = endpoint;
        m_server.post(m_prefix + name, [this, name](const httplib::Request& request, httplib::Response& response) {
            handle(name, request, response);
        });
    }
}

FakeHubService::~FakeHubService()
{
    // The newest route wins, so these shadow the ones that point at us.
    for (const char* endpoint : kEndpoints) {
        m_server.post(m_prefix + endpoint, [](const httplib::Request&, httplib::Response& response) {
            response.status = 404;
        });
    }
}

QUrl FakeHubService::base() const
{
    return m_server.url(QString::fromStdString(m_prefix));
}

void FakeHubService::acceptToken(const std::string& deviceToken)
{
    const std::lock_guard lock(m_mutex);
    m_tokens.insert(deviceToken);
}

bool FakeHubService::isAccepted(const std::string& deviceToken) const
{
    const std::lock_guard lock(m_mutex);
    return m_tokens.contains(deviceToken);
}

void FakeHubService::setReply(const std::string& endpoint, Reply reply)
{
    const std::lock_guard lock(m_mutex);
    m_standing[endpoint] = std::move(reply);
}

void FakeHubService::queueReply(const std::string& endpoint, Reply reply)
{
    const std::lock_guard lock(m_mutex);
    m_queued[endpoint].push_back(std::move(reply));
}

void FakeHubService::resetReply(const std::string& endpoint)
{
    const std::lock_guard lock(m_mutex);
    m_standing.erase(endpoint);
    m_queued.erase(endpoint);
}

void FakeHubService::setUser(User user)
{
    const std::lock_guard lock(m_mutex);
    m_user = std::move(user);
}

void FakeHubService::setUserLookup(std::function<std::optional<User>(const std::string& signInToken)> lookup)
{
    const std::lock_guard lock(m_mutex);
    m_userLookup = std::move(lookup);
}

void FakeHubService::setAccountFields(QJsonObject fields)
{
    const std::lock_guard lock(m_mutex);
    m_accountFields = std::move(fields);
}

void FakeHubService::setObserver(std::function<void(const Call& call, const Reply& reply)> observer)
{
    const std::lock_guard lock(m_mutex);
    m_observer = std::move(observer);
}

void FakeHubService::setSiteLink(std::string url)
{
    const std::lock_guard lock(m_mutex);
    m_siteLink = std::move(url);
}

std::vector<FakeHubService::Call> FakeHubService::calls(const std::string& endpoint) const
{
    const std::lock_guard lock(m_mutex);
    if (endpoint.empty())
        return m_calls;
    std::vector<Call> matching;
    std::copy_if(m_calls.begin(), m_calls.end(), std::back_inserter(matching),
                 [&endpoint](const Call& call) { return call.endpoint == endpoint; });
    return matching;
}

void FakeHubService::handle(const std::string& endpoint, const httplib::Request& request, httplib::Response& response)
{
    Call call{endpoint, request.body, std::nullopt, request.headers};
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(request.body));
    if (document.isObject())
        call.json = document.object();

    Reply reply;
    std::function<void(const Call&, const Reply&)> observer;
    {
        const std::lock_guard lock(m_mutex);
        m_calls.push_back(call);
        reply = answer(endpoint, call);
        observer = m_observer;
    }
    response.status = reply.status;
    response.set_content(reply.body, reply.contentType);
    if (observer)
        observer(call, reply);
}

std::optional<std::string> FakeHubService::deviceTokenOf(const Call& call) const
{
    const std::string authorization = call.header("Authorization");
    const std::string scheme = "Device ";
    if (authorization.rfind(scheme, 0) != 0)
        return std::nullopt;
    return authorization.substr(scheme.size());
}

// Runs with m_mutex held.
FakeHubService::Reply FakeHubService::answer(const std::string& endpoint, const Call& call)
{
    if (auto queued = m_queued.find(endpoint); queued != m_queued.end() && !queued->second.empty()) {
        Reply reply = std::move(queued->second.front());
        queued->second.pop_front();
        return reply;
    }
    if (auto standing = m_standing.find(endpoint); standing != m_standing.end())
        return standing->second;

    if (!call.json)
        return badRequest("The body is not a JSON object.");
    const QJsonObject& body = *call.json;

    if (endpoint == "report") {
        if (!body.value("reports"_L1).isArray())
            return badRequest("\"reports\" must be a list.");
        return json(200, {{u"ok"_s, true}});
    }

    for (auto it = body.begin(); it != body.end(); ++it) {
        if (!it.value().isString())
            return badRequest(QString(u'"' + it.key() + "\" must be text."_L1).toStdString());
    }
    for (const std::string& key : requiredKeys(endpoint)) {
        if (!body.contains(QString::fromStdString(key)))
            return badRequest("Missing \"" + key + "\".");
    }

    if (endpoint == "hub/device") {
        const std::string authorization = call.header("Authorization");
        if (authorization.rfind("Bearer ", 0) != 0 || authorization.size() == 7)
            return json(401, {});
        ++m_issued;
        const std::string token = "device-token-" + std::to_string(m_issued);
        m_tokens.insert(token);
        User user = m_user;
        if (m_userLookup)
            user = m_userLookup(authorization.substr(7)).value_or(m_user);
        return json(200, {
            {u"device_token"_s, QString::fromStdString(token)},
            {u"device_id"_s, QString::fromStdString("device-" + std::to_string(m_issued))},
            {u"user"_s, QJsonObject{{u"id"_s, QString::fromStdString(user.id)},
                                    {u"email"_s, QString::fromStdString(user.email)},
                                    {u"name"_s, QString::fromStdString(user.name)}}},
        });
    }

    const std::optional<std::string> token = deviceTokenOf(call);
    if (!token || !m_tokens.contains(*token))
        return json(401, {});

    if (endpoint == "hub/download") {
        const QString path = u"/downloads/"_s + body.value("product"_L1).toString() + u'/'
            + body.value("version"_L1).toString() + u'/' + body.value("format"_L1).toString();
        return json(200, {{u"url"_s, m_server.url(path).toString()}});
    }
    if (endpoint == "hub/site-link")
        return json(200, {{u"url"_s, QString::fromStdString(m_siteLink)}});
    if (endpoint == "hub/signout")
        m_tokens.erase(*token);
    if (endpoint == "hub/account") {
        QJsonObject reply = m_accountFields;
        reply.insert(u"ok"_s, true);
        return json(200, reply);
    }
    return json(200, {{u"ok"_s, true}});
}

} // namespace Hub::Test

#include "Account/HubAPI.h"

#include "Account/HubHTTP.h"
#include "Base/Config.h"
#include "Base/HubError.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QTextBoundaryFinder>

using namespace Qt::StringLiterals;

namespace Hub {

namespace {

constexpr double kTimeout = 20.0;
constexpr double kSignOutTimeout = 8.0;

HubError unreadableAnswer()
{
    return HubError::api(u"server_error"_s, u"Tarnaudio sent an answer this hub can't read. Update Tarnhub and try again."_s);
}

QString authorizationFor(const DeviceSession& device)
{
    return u"Device "_s + device.token;
}

// The scheme as the service wrote it: QUrl lower-cases schemes, and the
// rule for addresses from the service is case-sensitive.
QString writtenScheme(const QString& text, const QUrl& parsed)
{
    if (parsed.scheme().isEmpty())
        return {};
    return text.left(text.indexOf(u':'));
}

} // namespace

qsizetype feedbackLength(const QString& message)
{
    const QString trimmed = message.trimmed();
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, trimmed);
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

HubAPI::HubAPI(QUrl base, Http::Session session, QString hubVersion, QUrl site)
    : m_base(std::move(base))
    , m_session(std::move(session))
    , m_hubVersion(std::move(hubVersion))
    , m_site(std::move(site))
{
}

QUrl HubAPI::defaultBase() { return Config::apiBase(); }
QString HubAPI::defaultHubVersion() { return Config::hubVersion(); }
QUrl HubAPI::defaultSite() { return Config::site(); }

QUrl HubAPI::endpoint(const QString& path) const
{
    QUrl url = m_base;
    QString basePath = url.path();
    if (!basePath.endsWith(u'/'))
        basePath += u'/';
    url.setPath(basePath + path);
    return url;
}

QJsonObject HubAPI::post(const QString& path, const QJsonObject& body, const DeviceSession& device) const
{
    return HubHTTP::post(endpoint(path), body, authorizationFor(device), m_session, kTimeout);
}

std::optional<HubUser> HubAPI::user(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const QJsonValue id = object.value("id"_L1);
    if (!id.isString() || id.toString().isEmpty())
        return std::nullopt;
    const QJsonValue email = object.value("email"_L1);
    const QJsonValue name = object.value("name"_L1);
    return HubUser{id.toString(), email.isString() ? email.toString() : QString(),
                   name.isString() ? name.toString() : QString()};
}

DeviceSession HubAPI::registerDevice(const QString& clerkJWT, const QString& machineID, const QString& deviceName) const
{
    const QJsonObject body{
        {u"machine_id"_s, machineID},
        {u"device_name"_s, deviceName},
        {u"hub_version"_s, m_hubVersion},
    };
    const QJsonObject reply =
        HubHTTP::post(endpoint(u"hub/device"_s), body, u"Bearer "_s + clerkJWT, m_session, kTimeout);

    const QJsonValue token = reply.value("device_token"_L1);
    const QJsonValue deviceID = reply.value("device_id"_L1);
    const std::optional<HubUser> account = user(reply.value("user"_L1));
    if (!token.isString() || token.toString().isEmpty() || !deviceID.isString() || !account)
        throw unreadableAnswer();
    return DeviceSession{token.toString(), deviceID.toString(), *account};
}

QStringList HubAPI::productIDs(const QJsonValue& value)
{
    // Identifiers become keys of the model and parts of report paths, so
    // only the catalog's slug form is taken.
    static const QRegularExpression plain(u"^[A-Za-z0-9][A-Za-z0-9._-]{0,127}$"_s);
    QStringList ids;
    if (!value.isArray())
        return ids;
    for (const QJsonValue& entry : value.toArray()) {
        if (!entry.isString())
            continue;
        const QString id = entry.toString();
        if (plain.match(id).hasMatch() && !ids.contains(id))
            ids.append(id);
    }
    return ids;
}

AccountReply HubAPI::account(const DeviceSession& device, const QString& machineID) const
{
    const QJsonObject reply = post(u"hub/account"_s, QJsonObject{{u"machine_id"_s, machineID}}, device);
    return AccountReply{productIDs(reply.value("betas"_L1)), productIDs(reply.value("products"_L1))};
}

void HubAPI::feedback(const DeviceSession& device, const QString& product, const QString& version, FeedbackKind kind,
                      const QString& message) const
{
    const QString trimmed = message.trimmed();
    if (trimmed.isEmpty())
        throw HubError::message(u"Write something first."_s);
    if (feedbackLength(trimmed) > kMaxFeedbackCharacters)
        throw HubError::message(u"Keep it under 2,000 characters."_s);
    const QJsonObject body{
        {u"product"_s, product},
        {u"version"_s, version},
        {u"kind"_s, rawValue(kind)},
        {u"message"_s, trimmed},
    };
    post(u"hub/feedback"_s, body, device);
}

QUrl HubAPI::downloadURL(const DeviceSession& device, const QString& product, PluginFormat format,
                         const QString& version) const
{
    const QJsonObject body{
        {u"product"_s, product},
        {u"format"_s, rawValue(format)},
        {u"version"_s, version},
    };
    const QJsonValue value = post(u"hub/download"_s, body, device).value("url"_L1);
    if (!value.isString() || value.toString().isEmpty())
        throw unreadableAnswer();
    const QString text = value.toString();
    const QUrl reference(text, QUrl::StrictMode);
    if (!reference.isValid())
        throw unreadableAnswer();
    // A bare path is the service's own file, relative to the API base.
    const QUrl absolute = reference.isRelative() ? m_base.resolved(reference) : reference;
    const QString scheme = reference.isRelative() ? m_base.scheme() : writtenScheme(text, reference);
    if (scheme != "https"_L1 && scheme != "http"_L1)
        throw unreadableAnswer();
    return absolute;
}

QUrl HubAPI::siteLink(const DeviceSession& device) const
{
    const QJsonValue value = post(u"hub/site-link"_s, QJsonObject{}, device).value("url"_L1);
    if (!value.isString())
        throw unreadableAnswer();
    const QString text = value.toString();
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative() || writtenScheme(text, url) != "https"_L1 || url.host().isEmpty())
        throw unreadableAnswer();
    // The page opens signed in, so it must be the maker's own site: a host
    // that merely ends with the site's name ("eviltarnaudio.example") is not.
    const QString siteHost = m_site.host();
    const QString host = url.host();
    if (host != siteHost && !host.endsWith(u'.' + siteHost))
        throw unreadableAnswer();
    return url;
}

void HubAPI::signOut(const DeviceSession& device) const noexcept
{
    try {
        HubHTTP::post(endpoint(u"hub/signout"_s), QJsonObject{}, authorizationFor(device), m_session, kSignOutTimeout);
    } catch (...) {
        // The device is signed out locally whatever the service says.
    }
}

} // namespace Hub

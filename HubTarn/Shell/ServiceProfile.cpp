#include "Shell/ServiceProfile.h"

#include "Base/Config.h"
#include "Installer/Signing/Certificates.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

using namespace Qt::StringLiterals;

namespace Hub::Shell {

namespace {

[[noreturn]] void refuse(const QString& path, const QString& why)
{
    throw ServiceProfileError(u"The service profile "_s + path + u" can't be used: "_s + why);
}

QString text(const QJsonObject& object, const QString& key, const QString& path)
{
    const QJsonValue value = object.value(key);
    if (!value.isString() || value.toString().trimmed().isEmpty())
        refuse(path, u"\""_s + key + u"\" must be a non-empty text."_s);
    return value.toString().trimmed();
}

QUrl https(const QJsonObject& object, const QString& key, const QString& path)
{
    const QUrl url(text(object, key, path), QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != "https"_L1 || url.host().isEmpty())
        refuse(path, u"\""_s + key + u"\" must be an https address."_s);
    return url;
}

// The PEM file's bytes, which must hold at least one certificate.
QByteArray certificates(const QJsonObject& object, const QString& key, const QString& path)
{
    const QString file = text(object, key, path);
    if (QFileInfo(file).isRelative())
        refuse(path, u"\""_s + key + u"\" must be an absolute path."_s);
    QFile pem(file);
    if (!pem.open(QIODevice::ReadOnly))
        refuse(path, u"\""_s + key + u"\" names "_s + file + u", which can't be read."_s);
    const QByteArray bytes = pem.readAll();
    if (!Certificates::anchorStore(TrustAnchors::fromPem(bytes)))
        refuse(path, u"\""_s + key + u"\" names "_s + file + u", which holds no certificate."_s);
    return bytes;
}

} // namespace

ServiceProfile ServiceProfile::read(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        refuse(path, u"it can't be read."_s);
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        refuse(path, u"it is not a JSON object."_s);
    const QJsonObject object = document.object();

    ServiceProfile profile;
    profile.apiBase = https(object, u"api_base"_s, path);
    if (!profile.apiBase.path().endsWith(u'/'))
        profile.apiBase.setPath(profile.apiBase.path() + u'/');
    profile.catalogURL = https(object, u"catalog"_s, path);
    profile.signInBase = https(object, u"sign_in"_s, path);
    profile.publishableKey = text(object, u"publishable_key"_s, path);
    profile.caBundle = text(object, u"tls_root"_s, path);
    certificates(object, u"tls_root"_s, path);
    profile.signingAnchorPem = certificates(object, u"signing_anchor"_s, path);
    profile.signingAnchorFile = text(object, u"signing_anchor"_s, path);
    if (object.contains(u"download_idle_timeout"_s)) {
        const double seconds = object.value(u"download_idle_timeout"_s).toDouble(-1);
        if (!(seconds >= 1 && seconds <= 3600))
            refuse(path, u"\"download_idle_timeout\" must be a number of seconds from 1 to 3600."_s);
        profile.downloadIdleTimeout = seconds;
    }
    const auto number = [&](const QString& key, double low, double high, double& out, const QString& what) {
        if (!object.contains(key))
            return;
        const double value = object.value(key).toDouble(-1);
        if (!(value >= low && value <= high))
            refuse(path, u"\""_s + key + u"\" must be "_s + what + u'.');
        out = value;
    };
    number(u"fetch_deadline"_s, 1, 3600, profile.limits.fetchDeadline, u"a number of seconds from 1 to 3600"_s);
    double rate = double(profile.limits.downloadRate.bytesPerSecond);
    number(u"download_minimum_rate"_s, 1, 1 << 30, rate, u"a number of bytes per second from 1 to 2^30"_s);
    profile.limits.downloadRate.bytesPerSecond = std::int64_t(rate);
    number(u"download_rate_window"_s, 1, 3600, profile.limits.downloadRate.window,
           u"a number of seconds from 1 to 3600"_s);
    return profile;
}

std::optional<Sandbox> sandboxFor(bool sandboxed, const std::optional<QString>& profilePath, const QString& home)
{
    if (!sandboxed)
        return std::nullopt;
    Sandbox sandbox{home, std::nullopt};
    if (profilePath)
        sandbox.profile = ServiceProfile::read(*profilePath);
    return sandbox;
}

std::optional<Sandbox> sandboxFromEnvironment()
{
    return sandboxFor(Config::testSwitch("HUBTARN_SANDBOX").has_value(), Config::testSwitch("HUBTARN_SERVICE_PROFILE"),
                      Config::homeFolder());
}

} // namespace Hub::Shell

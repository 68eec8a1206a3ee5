#include "Account/ClerkFAPI.h"

#include "Account/ClerkFAPIParts.h"
#include "Base/Config.h"
#include "Base/Machine.h"

#include <QLocale>
#include <QVersionNumber>

#include <algorithm>
#include <charconv>
#include <cmath>

using namespace Qt::StringLiterals;

namespace Hub {

using ClerkParts::signInFailed;

namespace {

constexpr double kDefaultRetryDelay = 0.5;
constexpr double kTransportRetryDelay = 0.5;
constexpr double kMinRetryDelay = 0.1;
constexpr double kMaxRetryDelay = 5.0;
// Far above any sign-in reply; a longer one is not read into memory.
constexpr qint64 kMaxReplyBytes = 1024 * 1024;

// The service's version of the native protocol these requests follow.
constexpr auto kApiVersion = "2026-08-20";
constexpr auto kSdkVersion = "1.6.1";

// A decimal number written in full ("2", "+1.5", "-3", "1e2"); no blanks,
// no hexadecimal. "nan" and "inf" are refused: a wait must be finite.
std::optional<double> parseDecimal(QByteArrayView text)
{
    const bool plus = text.startsWith('+');
    if (plus)
        text = text.sliced(1);
    if (text.isEmpty() || text.startsWith('+') || (plus && text.startsWith('-')))
        return std::nullopt;
    double value = 0;
    const char* const first = text.data();
    const char* const last = first + text.size();
    const auto [end, error] = std::from_chars(first, last, value, std::chars_format::general);
    if (error != std::errc() || end != last || !std::isfinite(value))
        return std::nullopt;
    return value;
}

QString osVersion()
{
    const QVersionNumber version = QVersionNumber::fromString(Machine::platformVersion());
    return QString::number(version.majorVersion()) + u'.' + QString::number(version.minorVersion()) + u'.'
        + QString::number(version.microVersion());
}

} // namespace

QByteArray ClerkParts::trimBlanks(QByteArrayView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t'))
        ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t'))
        --end;
    return text.sliced(begin, end - begin).toByteArray();
}

QString ClerkFAPI::formEncode(const Form& form)
{
    const auto encode = [](const QString& text) {
        if (!text.isValidUtf16())
            return QString();
        return QString::fromLatin1(text.toUtf8().toPercentEncoding());
    };
    QString out;
    for (const auto& [key, value] : form) { // std::map: already sorted by key
        if (!value)
            continue;
        if (!out.isEmpty())
            out += u'&';
        out += encode(key) + u'=' + encode(*value);
    }
    return out;
}

std::optional<QDateTime> ClerkFAPI::httpDate(const QString& text)
{
    const QDateTime date = QLocale::c().toDateTime(text, u"ddd, dd MMM yyyy HH:mm:ss t"_s);
    if (!date.isValid())
        return std::nullopt;
    return date;
}

double ClerkFAPI::retryDelay(const Http::Response& response, const QDateTime& now)
{
    double delay = kDefaultRetryDelay;
    if (const auto retryAfter = response.header("Retry-After")) {
        if (const auto seconds = parseDecimal(ClerkParts::trimBlanks(*retryAfter)))
            delay = *seconds;
        else if (const auto date = httpDate(QString::fromLatin1(*retryAfter)))
            delay = static_cast<double>(now.msecsTo(*date)) / 1000.0;
    } else if (const auto reset = response.header("X-RateLimit-Reset")) {
        if (const auto unixTime = parseDecimal(*reset))
            delay = *unixTime - static_cast<double>(now.toMSecsSinceEpoch()) / 1000.0;
    }
    return std::clamp(delay, kMinRetryDelay, kMaxRetryDelay);
}

QString ClerkFAPI::preferredLanguage()
{
    return preferredLanguage(QLocale::system().uiLanguages());
}

QString ClerkFAPI::preferredLanguage(const QStringList& uiLanguages)
{
    // The "C" and "POSIX" locales of an unconfigured system name no language.
    for (const QString& language : uiLanguages) {
        if (!language.isEmpty() && language != "C"_L1 && language != "POSIX"_L1)
            return language;
    }
    return u"en"_s;
}

Http::Request ClerkFAPI::makeRequest(const QByteArray& method, const QString& path, const Form& form,
                                     const Query& query, double timeout) const
{
    QUrl url;
    url.setScheme(m_base.scheme());
    url.setHost(m_base.host());
    url.setPort(m_base.port());
    url.setPath(path, QUrl::StrictMode);
    Form fullQuery{{u"_is_native"_s, u"true"_s}};
    for (const auto& [key, value] : query)
        fullQuery.insert_or_assign(key, value);
    url.setQuery(formEncode(fullQuery), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        throw signInFailed();

    Http::Request request;
    request.method = method;
    request.url = url;
    request.timeout = timeout;
    request.timeoutMode = Http::TimeoutMode::total;
    request.maxBodyBytes = kMaxReplyBytes;
    request.headers = {
        {"Content-Type", "application/x-www-form-urlencoded"},
        {"clerk-api-version", kApiVersion},
        {"x-ios-sdk-version", kSdkVersion},
        {"x-mobile", "0"},
        {"x-device-type", "unspecified"},
        {"x-device-model", ""},
        {"x-os-version", osVersion().toUtf8()},
        {"x-app-version", m_appVersion.toUtf8()},
        {"x-bundle-id", Config::bundleID().toUtf8()},
        {"x-is-sandbox", "false"},
    };
    {
        const std::lock_guard lock(m_mutex);
        if (m_deviceToken)
            request.headers.append({"Authorization", m_deviceToken->toUtf8()});
        if (m_clientID)
            request.headers.append({"x-clerk-client-id", m_clientID->toUtf8()});
    }
    if (method == "POST")
        request.body = formEncode(form).toUtf8();
    return request;
}

Http::Response ClerkFAPI::send(const Http::Request& request, bool retry, std::stop_token stop)
{
    const Call call(m_session, std::move(stop));
    return send(request, retry, call);
}

Http::Response ClerkFAPI::send(const Http::Request& request, bool retry, const Call& call)
{
    const bool isGet = request.method == "GET";
    bool first = true;
    for (;;) {
        Http::Response response;
        try {
            response = Http::perform(call.session(), request);
        } catch (const Http::TransportError& error) {
            using Code = Http::TransportCode;
            const Code code = error.code();
            const bool retriable = code == Code::cannotFindHost || code == Code::cannotConnectToHost
                || code == Code::dnsLookupFailed || code == Code::notConnectedToInternet
                || (isGet && (code == Code::timedOut || code == Code::networkConnectionLost));
            if (!retry || !first || !retriable)
                throw;
            first = false;
            sleep(kTransportRetryDelay, call);
            continue;
        }
        const int status = response.status;
        const bool retriable = status == 408 || status == 425 || status == 429
            || (isGet && (status == 500 || status == 502 || status == 503 || status == 504));
        if (retry && first && retriable) {
            first = false;
            sleep(retryDelay(response, m_now()), call);
            continue;
        }
        return response;
    }
}

void ClerkFAPI::sleep(double seconds, const Call& call)
{
    m_sleep(seconds, call.stop());
    if (call.stop().stop_requested())
        throw HubError::cancelled();
}

} // namespace Hub

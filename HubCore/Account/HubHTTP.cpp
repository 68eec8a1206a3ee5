#include "Account/HubHTTP.h"

#include "Base/HubError.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>

using namespace Qt::StringLiterals;

namespace Hub::HubHTTP {

namespace {

const QString kOfflineSentence = u"Couldn't reach Tarnaudio. Check your connection and try again."_s;

HubError unauthorized()
{
    return HubError::api(u"unauthorized"_s, u"Sign in again."_s);
}

HubError unavailable()
{
    return HubError::api(u"server_error"_s, u"Tarnaudio is unavailable right now. Try again in a few minutes."_s);
}

Http::Request jsonPost(const QUrl& url, const QJsonObject& body, const std::optional<QString>& authorization,
                       double timeoutSeconds)
{
    Http::Request request;
    request.method = "POST";
    request.url = url;
    if (authorization)
        request.headers.append(Http::Header("Authorization", authorization->toUtf8()));
    request.headers.append(Http::Header("Content-Type", "application/json"));
    request.headers.append(Http::Header("Accept", "application/json"));
    request.body = QJsonDocument(body).toJson(QJsonDocument::Compact);
    request.timeout = timeoutSeconds;
    request.timeoutMode = Http::TimeoutMode::total;
    request.maxBodyBytes = kMaxReplyBytes;
    return request;
}

// The reply's JSON object, none when the body is not one (or was too long
// to read). Throws api(code, message) for an object that names an error.
std::optional<QJsonObject> replyObject(const QByteArray& body, bool complete)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (!complete || parseError.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    QJsonObject reply = document.object();
    const QJsonValue code = reply.value("error"_L1);
    if (code.isString()) {
        const QString codeText = code.toString();
        const QJsonValue message = reply.value("message"_L1);
        throw HubError::api(codeText, message.isString() ? message.toString()
                                                         : u"Something went wrong ("_s + codeText + u")."_s);
    }
    return reply;
}

} // namespace

QJsonObject post(const QUrl& url, const QJsonObject& body, const std::optional<QString>& authorization,
                 const Http::Session& session, double timeoutSeconds)
{
    Http::Response response;
    bool complete = true;
    try {
        response = Http::perform(session, jsonPost(url, body, authorization, timeoutSeconds));
    } catch (const Http::TransportError& error) {
        if (error.code() == Http::TransportCode::cancelled)
            throw HubError::cancelled();
        if (error.code() != Http::TransportCode::dataLengthExceedsMaximum)
            throw HubError::api(u"offline"_s, kOfflineSentence);
        complete = false;
    }
    // A reply cut at the size cap is no reply object at all.
    if (!complete)
        response.body.clear();
    return readReply(response.status, response.body);
}

QJsonObject readReply(int status, const QByteArray& body)
{
    // A named error wins over the status, so a 401 that says why is shown as such.
    std::optional<QJsonObject> reply = replyObject(body, true);
    if (status == 401)
        throw unauthorized();
    // A failed reply without an error text (a proxy's 500 "{}") must not
    // read as success: the user would be told a message was sent.
    if (!reply || status < 200 || status > 299)
        throw unavailable();
    return std::move(*reply);
}

QJsonObject postReport(const QUrl& url, const QJsonObject& body, const Http::Session& session,
                       double timeoutSeconds)
{
    Http::Response response;
    bool complete = true;
    try {
        response = Http::perform(session, jsonPost(url, body, std::nullopt, timeoutSeconds));
    } catch (const Http::TransportError& error) {
        if (error.code() == Http::TransportCode::cancelled)
            throw HubError::cancelled();
        if (error.code() != Http::TransportCode::dataLengthExceedsMaximum)
            throw HubError::message(kOfflineSentence);
        complete = false;
    }
    std::optional<QJsonObject> reply = replyObject(response.body, complete);
    if (!reply)
        throw unavailable();
    return std::move(*reply);
}

} // namespace Hub::HubHTTP

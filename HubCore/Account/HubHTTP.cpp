#include "Account/HubHTTP.h"

#include "Catalog/HubError.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>

using namespace Qt::StringLiterals;

namespace Hub::HubHTTP {

namespace {

HubError unauthorized()
{
    return HubError::api(u"unauthorized"_s, u"Sign in again."_s);
}

HubError unavailable()
{
    return HubError::api(u"server_error"_s, u"Tarnaudio is unavailable right now. Try again in a few minutes."_s);
}

} // namespace

QJsonObject post(const QUrl& url, const QJsonObject& body, const std::optional<QString>& authorization,
                 const Http::Session& session, double timeoutSeconds)
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

    Http::Response response;
    try {
        response = Http::perform(session, request);
    } catch (const Http::TransportError& error) {
        if (error.code() == Http::TransportCode::cancelled)
            throw HubError::cancelled();
        throw HubError::api(u"offline"_s, u"Couldn't reach Tarnaudio. Check your connection and try again."_s);
    }
    return readReply(response.status, response.body);
}

QJsonObject readReply(int status, const QByteArray& body)
{
    const bool isUnauthorized = status == 401;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        if (isUnauthorized)
            throw unauthorized();
        throw unavailable();
    }

    QJsonObject reply = document.object();
    // A named error wins over the status, so a 401 that says why is shown as such.
    const QJsonValue code = reply.value("error"_L1);
    if (code.isString()) {
        const QString codeText = code.toString();
        const QJsonValue message = reply.value("message"_L1);
        throw HubError::api(codeText, message.isString() ? message.toString()
                                                         : u"Something went wrong ("_s + codeText + u")."_s);
    }
    if (isUnauthorized)
        throw unauthorized();
    // A failed reply without an error text (a proxy's 500 "{}") must not
    // read as success: the user would be told a message was sent.
    if (status < 200 || status > 299)
        throw unavailable();
    return reply;
}

} // namespace Hub::HubHTTP

#pragma once

#include "Platform/Http.h"

#include <QJsonObject>
#include <QString>
#include <QUrl>

#include <optional>

// The one transport of every call to the maker's service (device, account,
// feedback, download, site link, sign-out and the report upload).
namespace Hub::HubHTTP {

// POSTs `body` as compact JSON to `url` with "Content-Type" and "Accept"
// "application/json" and, when given, "Authorization" set exactly to
// `authorization` (the caller puts "Device " or "Bearer " in front).
// Blocks for at most `timeoutSeconds` (the whole exchange).
//
// Returns the reply's JSON object when the status is 2xx and the object has
// no text "error". Throws HubError otherwise:
//  - api(code, message) for an object with a text "error" (any status);
//  - api "unauthorized" for status 401 without one;
//  - api "server_error" for any other status outside 200-299, or a body
//    that is not a JSON object;
//  - api "offline" when no reply arrived; cancelled() when session.stop
//    was requested.
QJsonObject post(const QUrl& url, const QJsonObject& body, const std::optional<QString>& authorization,
                 const Http::Session& session, double timeoutSeconds);

// The reply rules of post() for a reply that arrived: its object, or the
// HubError above (never "offline" or cancelled). Pure.
QJsonObject readReply(int status, const QByteArray& body);

} // namespace Hub::HubHTTP

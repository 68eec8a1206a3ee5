#pragma once

#include "Platform/Http.h"

#include <QJsonObject>
#include <QString>
#include <QUrl>

#include <optional>

// The one transport of every call to the maker's service (device, account,
// feedback, download, site link, sign-out and the report upload).
namespace Hub::HubHTTP {

// The longest reply body read; a longer successful one counts as unreadable.
inline constexpr qint64 kMaxReplyBytes = 1024 * 1024;

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
//    that is not a JSON object or is longer than kMaxReplyBytes;
//  - api "offline" when no reply arrived; cancelled() when session.stop
//    was requested.
QJsonObject post(const QUrl& url, const QJsonObject& body, const std::optional<QString>& authorization,
                 const Http::Session& session, double timeoutSeconds);

// The report upload, which has rules of its own: no authorization, and the
// status is not examined. Returns the reply's JSON object; throws
//  - api(code, message) for an object with a text "error";
//  - api "server_error" for a body that is not a JSON object;
//  - message "Couldn't reach Tarnaudio. ..." when no reply arrived;
//    cancelled() when session.stop was requested.
QJsonObject postReport(const QUrl& url, const QJsonObject& body, const Http::Session& session,
                       double timeoutSeconds);

// The reply rules of post() for a reply that arrived: its object, or the
// HubError above (never "offline" or cancelled). Pure.
QJsonObject readReply(int status, const QByteArray& body);

} // namespace Hub::HubHTTP

#pragma once

#include "Base/Config.h"
#include "Platform/Http.h"
#include "Reports/ReportFile.h"

#include <QJsonObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <vector>

class QSettings;

namespace Hub {
class ReportSpool;
}

// Uploads spooled problem reports to the maker's service and removes from
// the spool what the service accepted. Whether to send at all is the user's
// choice, kept in the user default "SendReports"; send() does not look at it.
namespace Hub::ReportSender {

// Reports per upload request.
inline constexpr qsizetype kBatchSize = 50;
// Seconds one upload request may take.
inline constexpr double kTimeout = 15.0;

// Where and how reports are uploaded.
struct Client {
    QUrl base = Config::apiBase(); // the API base; "report" is appended to it
    Http::Session session;
    // When set, used instead of the network: receives the request body and
    // the path ("report") and returns the reply object or throws HubError.
    std::function<QJsonObject(const QJsonObject& body, const QString& path)> transport;
};

// The user's opt-in, false until set. The overloads without settings use the
// application's QSettings; tests pass their own.
bool optedIn(QSettings& settings);
bool optedIn();
// Stores the choice and writes it out at once.
void setOptedIn(QSettings& settings, bool on);
void setOptedIn(bool on);

// Uploads `files` in the order given, in batches of at most kBatchSize
// under the key "reports", every text field and context text scrubbed
// (plug-ins may not have), the message again cut to 500 characters. After each batch the service accepts (its reply holds "ok": true,
// the JSON boolean) that batch's files are deleted through the spool, except
// those changed since they were loaded. Returns how many files were in the
// accepted batches.
//
// Throws HubError at the first batch that fails or is not accepted: the
// batches before it stay deleted, that batch and the later ones stay in the
// spool. Blocks for up to kTimeout per batch.
qsizetype send(const std::vector<ReportFile>& files, const ReportSpool& spool, const Client& client);

} // namespace Hub::ReportSender

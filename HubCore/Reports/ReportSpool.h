#pragma once

#include "Base/Config.h"
#include "Base/HubError.h"
#include "Reports/Report.h"
#include "Reports/ReportFile.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

namespace Hub {

// What record() did with a report.
enum class RecordStatus {
    recorded,       // written or merged into `path`
    invalidCode,    // the code fails the code pattern; nothing touched
    invalidProduct, // the product cannot name a spool folder; nothing touched
    unreadableFile, // `path` holds something that is not a report (another
                    // program's file): left exactly as it was, nothing recorded
    notWritten,     // the file could not be encoded or written
};

struct RecordResult {
    RecordStatus status = RecordStatus::recorded;
    // The report file concerned; empty when refused before any file.
    QString path;
    // The reason, for every status but recorded.
    std::optional<HubError> error;

    bool recorded() const { return status == RecordStatus::recorded; }
};

// What lies in a report file's place but cannot be read as one: a named
// pipe, a link, a folder, a file that does not open. The spool leaves it as
// it is; `reason` says what it is ("it is a link").
struct UnreadableReport {
    QString path;
    QString reason;

    friend bool operator==(const UnreadableReport&, const UnreadableReport&) = default;
};

// Everything a look at the spool found.
struct SpoolContents {
    std::vector<ReportFile> reports;       // as load() gives them
    std::vector<UnreadableReport> unreadable; // in listing order
};

// The problem-report spool, "Tarn Audio/Reports" in the data folder of the
// home folder (see Places), shared with the maker's plug-ins: one JSON file per
// product and code, "<product>/<code>.json". Writers in any process take the
// SpoolLock first. All functions may be called from any thread; none throws.
class ReportSpool {
public:
    // Unix time in whole seconds.
    using Clock = std::function<qint64()>;

    explicit ReportSpool(const QString& home = Config::homeFolder(), Clock now = {});

    // Far above any real report (the message is cut to 500 characters): a
    // larger file in the shared folder is not a report and is never read.
    static constexpr qint64 kMaxFileBytes = 256 * 1024;

    const QString& root() const { return m_root; }
    const QStringList& lockFolders() const { return m_lockFolders; }

    // Stores a report, or merges it into the file of the same product and
    // code: count + 1, new last time, the newer version, message and context.
    // Codes get the "hub." prefix when they lack it. Blocks for about a
    // second at most when another process holds the lock file, then writes
    // under the in-process mutex alone.
    RecordResult record(Report report) const;

    // Every report file that decodes and has a valid code, newest last time
    // first (a missing one counting as 0); equal times keep the listing order.
    // Files over kMaxFileBytes are skipped unread, like any that do not decode.
    // Takes no lock: files are only ever replaced whole.
    std::vector<ReportFile> load() const;

    // The same, with what lies in a report file's place (a "<code>.json" in
    // a product folder) but is no file that opens: never opened when it is
    // not a plain file, so a named pipe holds up nothing. A plain file of
    // this user's that is empty is left out: the next report of its code
    // takes its place.
    SpoolContents contents() const;

    // "The report file <shown> can't be read (<reason>); it was left as it
    // is<end>.", where `shown` is its path as the reader should see it.
    static QString unreadableSentence(const QString& shown, const QString& reason, const QString& end = {});

    // Removes each file that still holds exactly the bytes it was loaded
    // with; a file changed since (a plug-in merged into it) or already gone
    // is left. Runs under the spool locks.
    void deleteFiles(const std::vector<ReportFile>& files) const;

    // The rule for codes and, so that they stay one plain folder name, for
    // product identifiers: 1 to 64 of a-z, 0-9, "_", "." and "-", starting
    // with a letter or digit.
    static bool isValidCode(const QString& code);

private:
    RecordResult write(const Report& report) const;

    QString m_root;
    QStringList m_lockFolders;
    Clock m_now;
};

} // namespace Hub

#include "Reports/ReportSpool.h"

#include "Base/Json.h"
#include "Base/Places.h"
#include "Installer/InstallLocations.h"
#include "Platform/FileMoves.h"
#include "Reports/Scrub.h"
#include "Reports/SpoolLock.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

#include <algorithm>
#include <limits>
#include <memory>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace Hub {

namespace {

constexpr auto kCodePrefix = "hub."_L1;
constexpr qsizetype kMaxMessage = 500;

const QString kRuleText = u"1 to 64 lower-case letters, digits, \".\", \"_\" or \"-\", starting with a letter or digit"_s;

qint64 systemNow()
{
    return QDateTime::currentSecsSinceEpoch();
}

RecordResult failure(RecordStatus status, QString path, QString sentence)
{
    return {status, std::move(path), HubError::message(std::move(sentence))};
}

// A count that has reached the largest value stays there rather than wrap.
qint64 nextCount(std::optional<qint64> old)
{
    const qint64 value = old.value_or(1);
    return value == std::numeric_limits<qint64>::max() ? value : value + 1;
}

// A spool file opened for reading, or why it was not.
struct OpenedReport {
    std::unique_ptr<QFile> file; // set when it opened
    bool missing = false;
    QString reason;
    // A plain file of this user's that holds nothing a reader could use:
    // empty (what a write cut short by a full disk once left) or failing
    // to open. It can be no one's report, and keeping it would
    // block every later report of its product and code.
    bool replaceable = false;
    bool empty = false;
};

bool isOwnPlainFile(const struct stat& info) { return S_ISREG(info.st_mode) && info.st_uid == ::geteuid(); }

// Why what lies at a report's path is no plain file, or none when it is one.
std::optional<QString> notPlain(const struct stat& info)
{
    if (S_ISREG(info.st_mode))
        return std::nullopt;
    if (S_ISLNK(info.st_mode))
        return u"it is a link"_s;
    if (S_ISDIR(info.st_mode))
        return u"it is a folder"_s;
    if (S_ISFIFO(info.st_mode))
        return u"it is a named pipe"_s;
    return u"it is not a plain file"_s;
}

// Opens what lies at a report's path, if it is a plain file. Another
// program's named pipe there would hold the open (and the spool's locks) for
// ever, and a link would lead outside the spool: neither is followed nor
// opened, and both are left as they are. The open itself neither follows
// nor waits, for a thing put in the file's place after the look at it.
OpenedReport openReport(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info = {};
    if (::lstat(name.constData(), &info) != 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            return {nullptr, true, {}, false, false};
        return {nullptr, false, qt_error_string(error), false, false};
    }
    if (const std::optional<QString> reason = notPlain(info))
        return {nullptr, false, *reason, false, false};
    const int fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            return {nullptr, true, {}, false, false};
        return {nullptr, false, error == ELOOP ? u"it is a link"_s : qt_error_string(error),
                error != ELOOP && isOwnPlainFile(info), false};
    }
    if (::fstat(fd, &info) != 0 || notPlain(info)) {
        ::close(fd);
        return {nullptr, false, notPlain(info).value_or(u"it is not a plain file"_s), false, false};
    }
    if (info.st_size == 0 && isOwnPlainFile(info)) {
        ::close(fd);
        return {nullptr, false, u"it is empty"_s, true, true};
    }
    auto file = std::make_unique<QFile>(path);
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return {nullptr, false, file->errorString(), isOwnPlainFile(info), false};
    return {std::move(file), false, {}, false, false};
}

// The whole of an open spool file, or none when it is larger than any
// report. The size comes from the open file, so a file swapped in after a
// look at its name cannot slip past; the read stops one byte past the cap
// however the file grows meanwhile.
std::optional<QByteArray> readReport(QFile& file)
{
    if (file.size() > ReportSpool::kMaxFileBytes)
        return std::nullopt;
    QByteArray data = file.read(ReportSpool::kMaxFileBytes + 1);
    if (data.size() > ReportSpool::kMaxFileBytes)
        return std::nullopt;
    return data;
}

} // namespace

ReportSpool::ReportSpool(const QString& home, Clock now)
    : m_root(QDir(Places::path(Places::Place::makerFolder, home)).filePath(u"Reports"_s))
    , m_lockFolders(SpoolLock::folders(home))
    , m_now(now ? std::move(now) : Clock(systemNow))
{
}

bool ReportSpool::isValidCode(const QString& code)
{
    // Anchored at both ends of the whole text: "$" alone would also accept
    // a code that ends in a line break.
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(u"[a-z0-9][a-z0-9_.-]{0,63}"_s));
    return pattern.match(code).hasMatch();
}

RecordResult ReportSpool::record(Report report) const
{
    if (!report.code.startsWith(kCodePrefix))
        report.code = kCodePrefix + report.code;
    // "hub." alone names no problem: an empty code is refused, not filed.
    if (report.code == kCodePrefix || !isValidCode(report.code))
        return failure(RecordStatus::invalidCode, {},
                       u"The report code \""_s + report.code + u"\" isn't valid: use "_s + kRuleText + u"."_s);
    // The product names the report's folder: "../x" would write outside the
    // spool, "" or "a/b" where no one looks.
    if (!isValidCode(report.product))
        return failure(RecordStatus::invalidProduct, {},
                       u"The product identifier \""_s + report.product
                           + u"\" can't name a report folder: use "_s + kRuleText + u"."_s);
    return SpoolLock::with(m_lockFolders, SpoolLock::kTimeout, [&] { return write(report); });
}

RecordResult ReportSpool::write(const Report& incoming) const
{
    const QString folder = QDir(m_root).filePath(incoming.product);
    // Reports name the machine: only this user, and so the plug-ins, which
    // run as this user, may list or read them. A folder that cannot be made
    // or tightened shows up when the file is written.
    try {
        InstallLocations::makePrivateFolder(m_root);
        InstallLocations::makePrivateFolder(folder);
    } catch (const FileError&) {
    }
    const QString path = QDir(folder).filePath(incoming.code + u".json"_s);
    const qint64 now = m_now();

    Report result;
    const OpenedReport existing = openReport(path);
    if (existing.missing || existing.replaceable) {
        result = incoming;
        result.count = 1;
        result.firstAt = now;
        result.lastAt = now;
    } else {
        // The file may be a plug-in's: anything that does not read as a
        // report is kept as it is rather than replaced and lost.
        if (!existing.file)
            return failure(RecordStatus::unreadableFile, path,
                           unreadableSentence(path, existing.reason, u" and the report was not recorded"_s));
        const std::optional<QByteArray> data = readReport(*existing.file);
        if (!data)
            return failure(RecordStatus::unreadableFile, path,
                           u"The report file "_s + path + u" is larger than any report this hub writes; it was left "_s
                               + u"as it is and the report was not recorded."_s);
        Report old;
        try {
            old = Report::decode(*data);
        } catch (const Json::DecodingError& error) {
            return failure(RecordStatus::unreadableFile, path,
                           u"The report file "_s + path + u" isn't a report this hub can read ("_s
                               + error.description()
                               + u"); it was left as it is and the report was not recorded."_s);
        }
        result = old;
        if (incoming.version)
            result.version = incoming.version;
        if (incoming.message)
            result.message = incoming.message;
        if (incoming.context)
            result.context = incoming.context;
        result.count = nextCount(old.count);
        result.lastAt = now;
    }
    if (result.message)
        result.message = Scrub::text(*result.message, kMaxMessage);

    const std::optional<QByteArray> bytes = result.encode();
    if (!bytes)
        return failure(RecordStatus::notWritten, path,
                       u"The report "_s + result.code + u" can't be stored: its context holds a number JSON can't express."_s);
    // Whole or not at all: the bytes go to a temporary file beside the
    // report that replaces it only once they are all written. Unbuffered, so
    // a full disk fails the write itself: QSaveFile would put a file whose
    // buffered bytes it could not flush in the report's place all the same.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)
        || !file.setPermissions(QFile::ReadOwner | QFile::WriteOwner) || file.write(*bytes) != bytes->size()
        || !file.commit())
        return failure(RecordStatus::notWritten, path,
                       u"The report file "_s + path + u" couldn't be written ("_s + file.errorString() + u")."_s);
    return {RecordStatus::recorded, path, std::nullopt};
}

std::vector<ReportFile> ReportSpool::load() const
{
    return contents().reports;
}

SpoolContents ReportSpool::contents() const
{
    SpoolContents found;
    std::vector<ReportFile>& files = found.reports;
    const QDir root(m_root);
    const QFileInfoList products =
        root.entryInfoList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& product : products) {
        // Everything, links, pipes and folders too: what is no report file
        // is listed as such, never opened.
        const QFileInfoList entries = QDir(product.filePath())
                                          .entryInfoList(QDir::AllEntries | QDir::System | QDir::Hidden
                                                             | QDir::NoDotAndDotDot,
                                                         QDir::Name);
        for (const QFileInfo& entry : entries) {
            if (entry.suffix() != "json"_L1)
                continue;
            const OpenedReport opened = openReport(entry.filePath());
            if (!opened.file) {
                if (!opened.missing && !opened.empty)
                    found.unreadable.push_back({entry.filePath(), opened.reason});
                continue;
            }
            const std::optional<QByteArray> data = readReport(*opened.file);
            if (!data)
                continue; // not a report: left on disk for whoever wrote it
            try {
                Report report = Report::decode(*data);
                if (!isValidCode(report.code))
                    continue;
                files.push_back({entry.filePath(), std::move(report), *data});
            } catch (const Json::DecodingError&) {
                // Not a report: left on disk for whoever wrote it.
            }
        }
    }
    std::stable_sort(files.begin(), files.end(), [](const ReportFile& a, const ReportFile& b) {
        return a.report.lastAt.value_or(0) > b.report.lastAt.value_or(0);
    });
    return found;
}

QString ReportSpool::unreadableSentence(const QString& shown, const QString& reason, const QString& end)
{
    return u"The report file "_s + shown + u" can't be read ("_s + reason + u"); it was left as it is"_s + end + u"."_s;
}

void ReportSpool::deleteFiles(const std::vector<ReportFile>& files) const
{
    SpoolLock::with(m_lockFolders, SpoolLock::kTimeout, [&] {
        for (const ReportFile& loaded : files) {
            const std::optional<QByteArray> current = [&]() -> std::optional<QByteArray> {
                const OpenedReport opened = openReport(loaded.url);
                return opened.file ? readReport(*opened.file) : std::nullopt;
            }();
            if (current != loaded.data)
                continue; // a newer occurrence was merged in: keep it for the next upload
            QFile::remove(loaded.url);
        }
    });
}

} // namespace Hub

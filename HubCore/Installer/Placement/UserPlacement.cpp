#include "Installer/PluginInstaller.h"

#include "Base/HubError.h"
#include "Installer/InstallLocations.h"
#include "Platform/FileMoves.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace fs = std::filesystem;

namespace Hub {

namespace {

const QString kSpareMarker = u".hub-new-"_s;

fs::path native(const QString& path) { return fs::path(QFile::encodeName(path).toStdString()); }

QString standardized(const QString& path) { return QDir::cleanPath(QDir(path).absolutePath()); }

// remove_all removes a symbolic link as the link, so a spare that is a
// user's link to a bundle elsewhere never takes that bundle with it.
void removeTree(const QString& path)
{
    std::error_code ignored;
    fs::remove_all(native(path), ignored);
}

void createFolder(const QString& folder)
{
    std::error_code ec;
    fs::create_directories(native(folder), ec);
    if (ec)
        throw FileError(ec.value(), folder);
}

// Writes all of `bytes` to `fd`, retrying short writes and interruptions.
int writeAll(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        done += written;
    }
    return 0;
}

bool isStraySpare(const QString& name)
{
    static const QRegularExpression uuid(
        u"^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}$"_s);
    const qsizetype marker = name.lastIndexOf(kSpareMarker);
    if (marker < 0 || name.indexOf(kSpareMarker, 1) < 0)
        return false;
    return uuid.match(QStringView(name).mid(marker + kSpareMarker.size())).hasMatch();
}

QStringList entryNames(const QString& folder)
{
    QStringList names;
    std::error_code ec;
    for (fs::directory_iterator it(native(folder), ec), end; !ec && it != end; it.increment(ec))
        names.append(QFile::decodeName(it->path().filename().c_str()));
    return ec ? QStringList() : names;
}

} // namespace

QList<InstalledFormat> PluginInstaller::installForUser(const QList<StagedBundle>& bundles, const Product& product,
                                                       const InstallRoots& roots,
                                                       const std::optional<QString>& spares) const
{
    QList<UserReplacement> done;
    try {
        for (const StagedBundle& pair : bundles) {
            const QString folder = InstallLocations::folder(roots, pair.artifact.format, InstallScope::user);
            const QString target = QDir(folder).filePath(pair.artifact.bundle);
            if (FileMoves::existsNoFollow(target))
                backup(target, pair.artifact.format, product.id, roots);
            done.append(prepareReplacement(pair.bundle, pair.artifact, folder, spares, pair.measured));
        }
    } catch (...) {
        const std::exception_ptr first = std::current_exception();
        const QStringList remaining = rollbackUsers(done);
        if (remaining.isEmpty())
            throw;
        // The first failure may itself say where an original was kept; both
        // sentences stay, so the user learns every place a copy lies.
        throw InstallRecoveryError::after(errorSentence(first), u"Previous bundles remain at "_s
                                                                    + remaining.join(u", "_s)
                                                                    + u"; recovery could not finish."_s);
    }
    finishUsers(done);
    QList<InstalledFormat> results;
    results.reserve(done.size());
    for (const UserReplacement& replacement : done)
        results.append(replacement.result);
    return results;
}

PluginInstaller::UserReplacement PluginInstaller::prepareReplacement(const QString& staged, const Artifact& artifact,
                                                                     const QString& into,
                                                                     const std::optional<QString>& spares,
                                                                     const CodeSignature::MeasuredFiles& measured) const
{
    struct stat stagedFolder {};
    const bool stagedKnown = ::lstat(native(staged).c_str(), &stagedFolder) == 0;
    createFolder(into);
    const QDir folder(into);
    const QString target = folder.filePath(artifact.bundle);
    const bool existed = FileMoves::existsNoFollow(target);
    const QString spare = folder.filePath(artifact.bundle + kSpareMarker + newUUID());

    // Recorded before anything takes the spare name, so that a clean-up run
    // by another install never trashes a spare this one still needs.
    if (spares)
        record(spare, *spares);

    try {
        FileMoves::moveNoReplace(staged, spare);
    } catch (const FileError& error) {
        // The staged path lies in a work folder that the failed install
        // deletes; when the plug-in folder is what refused, name it.
        if (error.path() == staged && ::access(native(into).c_str(), W_OK | X_OK) != 0)
            throw FileError(error.code().value(), into);
        throw;
    }
    try {
        if (existed)
            swap(spare, target);
        else
            FileMoves::moveNoReplace(spare, target);
    } catch (...) {
        try {
            FileMoves::moveNoReplace(spare, staged);
        } catch (...) {
            // The new bundle stays at the listed spare name; the old one is
            // untouched at the target either way.
        }
        throw;
    }

    UserReplacement replacement;
    replacement.result = {artifact.format, standardized(target), bundleVersion(target).value_or(QString())};
    replacement.artifact = artifact;
    replacement.target = target;
    replacement.spare = spare;
    replacement.existed = existed;

    // Renamed, the placed folder is the staged one, with the very files whose
    // digests were taken as they were unpacked; a copy across file systems
    // is new files, read again.
    struct stat placedFolder {};
    const bool renamed = stagedKnown && ::lstat(native(target).c_str(), &placedFolder) == 0
                         && placedFolder.st_dev == stagedFolder.st_dev && placedFolder.st_ino == stagedFolder.st_ino;
    try {
        CodeSignature::verify(target, artifact.bundleID ? artifact.bundleID : bundleID(target), allowUnsigned,
                              anchors, renamed ? measured : CodeSignature::MeasuredFiles{});
    } catch (...) {
        const std::exception_ptr failure = std::current_exception();
        if (!rollbackUsers({replacement}).isEmpty())
            throw InstallRecoveryError::after(errorSentence(failure), u"The original remains at "_s + spare
                                                                          + u"; recovery could not finish."_s);
        throw;
    }
    return replacement;
}

void PluginInstaller::swap(const QString& a, const QString& b)
{
    try {
        FileMoves::exchange(a, b);
    } catch (const FileError& error) {
        throw HubError::message(u"Couldn't replace "_s + QFileInfo(b).fileName() + u" ("_s
                                + QString::fromLocal8Bit(std::strerror(error.code().value())) + u")."_s);
    }
}

QStringList PluginInstaller::rollbackUsers(const QList<UserReplacement>& replacements) const
{
    QStringList failures;
    for (auto it = replacements.crbegin(); it != replacements.crend(); ++it) {
        const UserReplacement& replacement = *it;
        try {
            const bool targetTaken = FileMoves::existsNoFollow(replacement.target);
            if (replacement.existed) {
                if (targetTaken)
                    swap(replacement.spare, replacement.target);
                else
                    FileMoves::moveNoReplace(replacement.spare, replacement.target);
            } else if (targetTaken) {
                FileMoves::moveNoReplace(replacement.target, replacement.spare);
            }
        } catch (...) {
            failures.append(replacement.spare);
            continue;
        }
        removeTree(replacement.spare);
    }
    return failures;
}

void PluginInstaller::finishUsers(const QList<UserReplacement>& replacements) const
{
    for (const UserReplacement& replacement : replacements)
        removeTree(replacement.spare);
}

void PluginInstaller::record(const QString& spare, const QString& spares)
{
    const QByteArray line = standardized(spare).toUtf8() + '\n';
    const QByteArray list = QFile::encodeName(spares);

    if (FileMoves::existsNoFollow(spares)) {
        // Appending never rewrites the lines of spares already in use.
        const int fd = ::open(list.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
        if (fd < 0)
            throw FileError(errno, spares);
        // On disk before the spare name is taken: after a crash, the list is
        // what keeps the clean-up from trashing an original parked there.
        int error = writeAll(fd, line);
        if (!error && ::fsync(fd) != 0)
            error = errno;
        ::close(fd);
        if (error)
            throw FileError(error, spares);
        return;
    }

    // The first line: written aside, then put in place without replacing, so
    // a reader never sees a half-written list.
    const QFileInfo info(spares);
    const QString aside = info.dir().filePath(u'.' + info.fileName() + u'.' + newUUID());
    const QByteArray asideName = QFile::encodeName(aside);
    const int fd = ::open(asideName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        throw FileError(errno, spares);
    int error = writeAll(fd, line);
    if (!error && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && !error)
        error = errno;
    try {
        if (error)
            throw FileError(error, spares);
        FileMoves::moveNoReplace(aside, spares);
    } catch (...) {
        ::unlink(asideName.constData());
        throw;
    }
}

void PluginInstaller::cleanStrays(const InstallRoots& roots, const TrashHook& trash)
{
    QStringList folders{InstallLocations::folder(roots, PluginFormat::vst3, InstallScope::user),
                        InstallLocations::folder(roots, PluginFormat::au, InstallScope::user)};
    if (::access(QFile::encodeName(roots.applications).constData(), W_OK) == 0)
        folders.append(roots.applications);

    QStringList strays;
    for (const QString& folder : std::as_const(folders)) {
        const QString resolved = QFileInfo(folder).canonicalFilePath();
        if (resolved.isEmpty())
            continue;
        for (const QString& name : entryNames(resolved)) {
            if (isStraySpare(name))
                strays.append(QDir(resolved).filePath(name));
        }
    }
    if (strays.isEmpty())
        return;

    QSet<QString> listed;
    const QString staging = QDir(roots.support).filePath(u"Staging"_s);
    for (const QString& entry : entryNames(staging)) {
        QFile list(QDir(QDir(staging).filePath(entry)).filePath(QString(kSparesList)));
        if (!list.open(QIODevice::ReadOnly))
            continue;
        const QStringList lines = QString::fromUtf8(list.readAll()).split(u'\n', Qt::SkipEmptyParts);
        for (const QString& line : lines)
            listed.insert(QFileInfo(line).fileName());
    }

    for (const QString& stray : std::as_const(strays)) {
        if (listed.contains(QFileInfo(stray).fileName()))
            continue;
        try {
            if (trash)
                trash(stray);
        } catch (...) {
            // Left for the next clean-up.
        }
    }
}

} // namespace Hub

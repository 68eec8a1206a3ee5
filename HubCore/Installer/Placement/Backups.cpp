#include "Installer/PluginInstaller.h"

#include "Base/HubError.h"
#include "Base/Process.h"
#include "Installer/InstallLocations.h"
#include "Platform/FileMoves.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <map>
#include <utility>

using namespace Qt::StringLiterals;

namespace fs = std::filesystem;

namespace Hub {

namespace {

constexpr double kDittoTimeout = 300.0;

fs::path native(const QString& path) { return fs::path(QFile::encodeName(path).toStdString()); }

void removeQuietly(const QString& path)
{
    std::error_code ignored;
    fs::remove(native(path), ignored);
}

// Every step of putting the backups folder back, with the first failure kept.
struct Restore {
    bool failed = false;

    void removeTree(const QString& path)
    {
        std::error_code ec;
        fs::remove_all(native(path), ec);
        failed = failed || ec;
    }

    void move(const QString& from, const QString& to)
    {
        try {
            FileMoves::moveNoReplace(from, to);
        } catch (...) {
            failed = true;
        }
    }
};

// Rebuilds the tree at `to` with every regular file hard-linked to its
// original. Archives in a backups folder are only ever replaced by rename or
// removed, never written in place, so a link keeps the old bytes as surely as
// a copy, without reading hundreds of megabytes. Where a link cannot be made
// (another file system, a file system without links) the file is copied.
void linkTree(const fs::path& from, const fs::path& to, std::error_code& ec)
{
    const fs::file_status status = fs::symlink_status(from, ec);
    if (ec)
        return;
    if (fs::is_directory(status)) {
        if (!fs::create_directory(to, ec) && !ec)
            ec = std::make_error_code(std::errc::file_exists);
        std::error_code listing;
        for (fs::directory_iterator it(from, listing), end; !ec && !listing && it != end; it.increment(listing))
            linkTree(it->path(), to / it->path().filename(), ec);
        if (!ec)
            ec = listing;
        if (!ec)
            fs::permissions(to, status.permissions(), fs::perm_options::replace, ec);
    } else if (fs::is_regular_file(status)) {
        fs::create_hard_link(from, to, ec);
        if (ec) {
            ec.clear();
            fs::copy_file(from, to, ec);
        }
    } else {
        fs::copy(from, to, fs::copy_options::copy_symlinks, ec);
    }
}

bool isRecoveryError(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const InstallRecoveryError&) {
        return true;
    } catch (...) {
        return false;
    }
}

// The same bytes in both files.
bool sameContent(const fs::path& a, const fs::path& b)
{
    QFile first(QFile::decodeName(a.c_str()));
    QFile second(QFile::decodeName(b.c_str()));
    if (!first.open(QIODevice::ReadOnly) || !second.open(QIODevice::ReadOnly) || first.size() != second.size())
        return false;
    constexpr qint64 kChunk = 1 << 20;
    while (!first.atEnd())
        if (first.read(kChunk) != second.read(kChunk))
            return false;
    return true;
}

// What a folder holds, for comparing two: each relative path with its type
// and a file's size.
std::map<fs::path, std::pair<fs::file_type, std::uintmax_t>> contents(const fs::path& root, std::error_code& ec)
{
    std::map<fs::path, std::pair<fs::file_type, std::uintmax_t>> found;
    for (fs::recursive_directory_iterator it(root, fs::directory_options::none, ec), end; !ec && it != end;
         it.increment(ec)) {
        const fs::file_type type = it->symlink_status(ec).type();
        const std::uintmax_t size = type == fs::file_type::regular ? it->file_size(ec) : 0;
        found[it->path().lexically_relative(root)] = {type, size};
    }
    return found;
}

// True when the backups folder holds exactly what its snapshot holds: the
// install failed before it wrote any archive there.
bool unchangedSince(const QString& backups, const QString& snapshot)
{
    std::error_code ec;
    const auto now = contents(native(backups), ec);
    if (ec)
        return false;
    const auto before = contents(native(snapshot), ec);
    if (ec || now != before)
        return false;
    for (const auto& [relative, kind] : now)
        if (kind.first == fs::file_type::regular
            && !sameContent(native(backups) / relative, native(snapshot) / relative))
            return false;
    return true;
}

} // namespace

QString PluginInstaller::backupsFolder(const InstallRoots& roots, const QString& product)
{
    return QDir(QDir(roots.support).filePath(u"Backups"_s)).filePath(product);
}

QString PluginInstaller::backup(const QString& bundle, PluginFormat format, const QString& product,
                                const InstallRoots& roots) const
{
    if (!InstallLocations::isPlainComponent(product))
        throw HubError::message(u"The catalog entry "_s + product + u" is invalid."_s);

    const QString folder = backupsFolder(roots, product);
    std::error_code ec;
    fs::create_directories(native(folder), ec);
    if (ec)
        throw FileError(ec.value(), folder);

    // The catalog's word for the format, which is also how the uninstaller
    // finds a format's backups by name.
    const QString tag = rawValue(format);
    QString version = bundleVersion(bundle).value_or(u"unknown"_s);
    version.replace(u'/', u'-');
    const QString name = version + u'-' + tag + u".zip"_s;
    const QDir dir(folder);
    const QString finalPath = dir.filePath(name);
    const QString partial = dir.filePath(u'.' + name + u".partial"_s);
    const QString failed = u"Couldn't back up the installed "_s + QFileInfo(bundle).fileName()
                           + u", so nothing was changed."_s;
    // A leftover partial may share its bytes with the install's snapshot of
    // this folder (a hard link): it must go, not be written over.
    removeQuietly(partial);
    if (FileMoves::existsNoFollow(partial))
        throw HubError::message(failed);

    const Shell::Result result =
        Shell::run(tools.ditto, {u"-c"_s, u"-k"_s, u"--keepParent"_s, bundle, partial}, kDittoTimeout);
    if (result.status != 0) {
        removeQuietly(partial);
        if (result.status == kToolExitDiskFull)
            throw FileError(ENOSPC, folder);
        throw HubError::message(failed);
    }

    removeQuietly(finalPath);
    try {
        FileMoves::moveNoReplace(partial, finalPath);
    } catch (...) {
        removeQuietly(partial);
        throw;
    }

    // One archive per format: the one just made replaces the older ones.
    const QString ending = u'-' + tag + u".zip"_s;
    for (fs::directory_iterator it(native(folder), ec), end; !ec && it != end; it.increment(ec)) {
        const QString entry = QFile::decodeName(it->path().filename().c_str());
        if (entry != name && entry.endsWith(ending)) {
            std::error_code ignored;
            fs::remove_all(it->path(), ignored);
        }
    }
    return finalPath;
}

bool PluginInstaller::snapshotBackups(const QString& backups, const QString& work)
{
    if (!FileMoves::existsNoFollow(backups))
        return false;
    const QString snapshot = QDir(work).filePath(QString(kPreviousBackups));
    const fs::path source = native(backups);
    std::error_code ec;
    linkTree(source, native(snapshot), ec);
    if (ec) {
        std::error_code ignored;
        fs::remove_all(native(snapshot), ignored);
        throw FileError(ec.value(), backups);
    }
    return true;
}

void PluginInstaller::restoreBackups(const std::exception_ptr& placementError, const QString& backups,
                                     const QString& work, bool existed, bool& keepWork)
{
    const bool recoveryFailed = isRecoveryError(placementError);
    const QDir workDir(work);
    const QString snapshot = workDir.filePath(QString(kPreviousBackups));

    // A placement that failed before it wrote any archive (its backup was
    // refused, say) changed nothing here: the folder stays as it is, and
    // nothing is kept for a recovery that is not needed.
    if (existed && !recoveryFailed && unchangedSince(backups, snapshot))
        std::rethrow_exception(placementError);

    Restore restore;
    if (FileMoves::existsNoFollow(backups)) {
        // After an incomplete recovery the archives made during this install
        // are the latest copies of the bundles that were replaced: keep them.
        if (recoveryFailed)
            restore.move(backups, workDir.filePath(QString(kRecoveryBackups)));
        else
            restore.removeTree(backups);
    }
    if (existed)
        restore.move(snapshot, backups);

    // The placement's own sentence comes first: it may name where originals
    // were kept, which the user needs as much as where the backups are.
    if (restore.failed) {
        keepWork = true;
        const QString recovery = existed ? u"Previous backups are preserved at "_s + snapshot
                                               + u"; automatic recovery could not finish."_s
                                         : u"Recovery files are preserved at "_s + work
                                               + u"; automatic recovery could not finish."_s;
        throw InstallRecoveryError::after(errorSentence(placementError), recovery);
    }
    if (recoveryFailed) {
        keepWork = true;
        throw InstallRecoveryError(errorSentence(placementError) + u" Recovery files are preserved at "_s + work
                                   + u"."_s);
    }
    std::rethrow_exception(placementError);
}

void PluginInstaller::writeRecoveryMarker(const QString& work)
{
    QSaveFile marker(QDir(work).filePath(QString(kRecoveryMarker)));
    if (!marker.open(QIODevice::WriteOnly))
        return;
    marker.write(kRecoveryMarkerText);
    marker.commit();
}

} // namespace Hub

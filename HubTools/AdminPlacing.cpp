#include "AdminPlacing.h"

#include "Base/Config.h"
#include "Base/Versions.h"
#include "Installer/Signing/CodeSignature.h"
#include "Platform/PropertyList.h"
#include "Platform/SecureExtract.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <archive.h>
#include <archive_entry.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace Hub::AdminPlacing {

namespace {

// A staged bundle streams in seconds; a reader that stays silent this long
// (stopped, or reading something that never ends) is given up on.
constexpr int kIdleMilliseconds = 300'000;

QString refused(const QString& path, const QString& why) { return path + u" was refused: "_s + why; }

std::optional<QString> realPath(const QString& path)
{
    char resolved[PATH_MAX];
    if (!::realpath(QFile::encodeName(path).constData(), resolved))
        return std::nullopt;
    return QFile::decodeName(resolved);
}

// In the child, with the caller's rights only: `source` as a tar stream on
// `fd`, every entry under `name`, links as links, owners left out.
int streamAsCaller(const QByteArray& source, const QByteArray& name, int fd)
{
    using ReadPtr = std::unique_ptr<archive, decltype(&archive_read_free)>;
    using WritePtr = std::unique_ptr<archive, decltype(&archive_write_free)>;
    ReadPtr disk(archive_read_disk_new(), archive_read_free);
    WritePtr out(archive_write_new(), archive_write_free);
    if (!disk || !out)
        return 1;
    archive_read_disk_set_symlink_physical(disk.get());
    archive_read_disk_set_behavior(disk.get(),
                                   ARCHIVE_READDISK_NO_XATTR | ARCHIVE_READDISK_NO_ACL | ARCHIVE_READDISK_NO_FFLAGS);
    archive_write_set_format_pax_restricted(out.get());
    if (archive_write_open_fd(out.get(), fd) != ARCHIVE_OK || archive_read_disk_open(disk.get(), source.constData()) != ARCHIVE_OK)
        return 1;
    for (;;) {
        std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(archive_entry_new(), archive_entry_free);
        const int r = archive_read_next_header2(disk.get(), entry.get());
        if (r == ARCHIVE_EOF)
            break;
        if (r < ARCHIVE_WARN)
            return 1;
        archive_read_disk_descend(disk.get());
        const QByteArray path = archive_entry_pathname(entry.get());
        if (!path.startsWith(source))
            return 1;
        const QByteArray relative = name + path.mid(source.size());
        archive_entry_set_pathname(entry.get(), relative.constData());
        archive_entry_set_uid(entry.get(), 0);
        archive_entry_set_gid(entry.get(), 0);
        archive_entry_set_uname(entry.get(), nullptr);
        archive_entry_set_gname(entry.get(), nullptr);
        if (archive_write_header(out.get(), entry.get()) < ARCHIVE_WARN)
            return 1;
        if (archive_entry_filetype(entry.get()) != AE_IFREG)
            continue;
        char block[65536];
        for (la_ssize_t got; (got = archive_read_data(disk.get(), block, sizeof block)) != 0;)
            if (got < 0 || archive_write_data(out.get(), block, size_t(got)) != got)
                return 1;
    }
    return archive_write_close(out.get()) == ARCHIVE_OK ? 0 : 1;
}

// `source` read by a child that runs as the caller (user, group and
// groups), written by this process into `archivePath`, which only root
// may reach. False when the caller could not read it all.
bool copyAsCaller(const QString& source, const QString& name, const AdminChecks::Caller& caller,
                  const QString& archivePath)
{
    const int file = ::open(QFile::encodeName(archivePath).constData(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (file < 0)
        return false;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        ::close(file);
        return false;
    }
    const QByteArray sourceBytes = QFile::encodeName(source);
    const QByteArray nameBytes = QFile::encodeName(name);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ends[0]);
        ::close(file);
        const bool dropped = ::setgroups(caller.groups.size(), caller.groups.data()) == 0
                             && ::setgid(caller.gid) == 0 && ::setuid(caller.uid) == 0;
        // Root again would defeat the point: never go on with a way back.
        if (!dropped || (caller.uid != 0 && ::setuid(0) == 0) || ::chdir("/") != 0)
            ::_exit(1);
        ::_exit(streamAsCaller(sourceBytes, nameBytes, ends[1]));
    }
    ::close(ends[1]);
    bool ok = child > 0;
    qint64 written = 0;
    while (ok) {
        pollfd ready{ends[0], POLLIN, 0};
        const int polled = ::poll(&ready, 1, kIdleMilliseconds);
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled <= 0) {
            ok = false;
            break;
        }
        char block[65536];
        const ssize_t got = ::read(ends[0], block, sizeof block);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        written += got;
        ok = written <= SecureExtract::kMaxDeclaredBytes * 2 && ::write(file, block, size_t(got)) == got;
    }
    ::close(ends[0]);
    ok = ::close(file) == 0 && ok;
    if (child > 0) {
        if (!ok)
            ::kill(child, SIGKILL);
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    return ok;
}

std::optional<QVariantMap> infoOf(const QString& bundle)
{
    return PropertyList::load(bundle + u"/Contents/Info.plist"_s);
}

// The copy at `copy` may take the place of whatever lies at `destination`:
// the maker's identifier, not the hub's own, and not older than what it
// replaces. Fills in its identifier and version.
std::optional<QString> judge(const QString& copy, const QString& destination, const QString& ownBundle,
                             QString& identifier, QString& version)
{
    struct stat status {};
    if (::lstat(QFile::encodeName(copy).constData(), &status) != 0 || !S_ISDIR(status.st_mode))
        return refused(destination, u"what was staged for it isn't a bundle."_s);
    const std::optional<QVariantMap> info = infoOf(copy);
    identifier = info ? PropertyList::text(*info, u"CFBundleIdentifier"_s).value_or(QString()) : QString();
    version = info ? PropertyList::text(*info, u"CFBundleShortVersionString"_s).value_or(QString()) : QString();
    if (!CodeSignature::isPlainBundleID(identifier))
        return refused(destination, u"what was staged for it has no usable bundle id."_s);
    if (version.isEmpty() || Versions::parts(version).isEmpty())
        return refused(destination, u"what was staged for it has no version."_s);
    const std::optional<QString> own = realPath(ownBundle);
    const std::optional<QString> existing = realPath(destination);
    const std::optional<QVariantMap> previous = existing ? infoOf(destination) : std::nullopt;
    const QString previousID =
        previous ? PropertyList::text(*previous, u"CFBundleIdentifier"_s).value_or(QString()) : QString();
    if (identifier == Config::bundleID() || previousID == Config::bundleID() || (own && existing == own))
        return refused(destination, u"the hub itself is only replaced by its own update."_s);
    const QString previousVersion =
        previous ? PropertyList::text(*previous, u"CFBundleShortVersionString"_s).value_or(QString()) : QString();
    if (!previousVersion.isEmpty() && Versions::compare(version, previousVersion) == std::strong_ordering::less)
        return refused(destination, u"version "_s + version + u" is older than the "_s + previousVersion
                                        + u" it would replace."_s);
    return std::nullopt;
}

// `folder` opened from "/" one name at a time, never through a link, the
// missing names made as root's folders; -1 when that fails or what is
// reached is not root's alone.
int openPlace(const QString& folder)
{
    constexpr int kFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int at = ::open("/", kFlags);
    for (const QString& name : folder.split(u'/', Qt::SkipEmptyParts)) {
        if (at < 0)
            return -1;
        const QByteArray encoded = QFile::encodeName(name);
        int next = ::openat(at, encoded.constData(), kFlags);
        if (next < 0 && errno == ENOENT && ::mkdirat(at, encoded.constData(), 0755) == 0)
            next = ::openat(at, encoded.constData(), kFlags);
        ::close(at);
        at = next;
    }
    struct stat status {};
    if (at >= 0 && (::fstat(at, &status) != 0 || status.st_uid != 0 || (status.st_mode & (S_IWGRP | S_IWOTH)) != 0)) {
        ::close(at);
        return -1;
    }
    return at;
}

} // namespace

Outcome take(const QStringList& arguments, const AdminChecks::Caller& caller, const QString& ownBundle)
{
    // The copies keep the modes they were staged with, whatever mask the
    // caller had; the folder holding them is root's alone (mkdtemp: 0700),
    // so no one else sees a copy half-written or changes one once checked.
    ::umask(022);
    char pattern[] = "/var/tmp/hubtarn-take.XXXXXX";
    if (!::mkdtemp(pattern))
        return {std::nullopt, u"no private folder could be made for the copies."_s};
    Taken taken{QFile::decodeName(pattern), {}, {}};
    const auto refuse = [&](const QString& why) {
        release(taken);
        return Outcome{std::nullopt, why};
    };
    for (qsizetype i = 0; i + 3 < arguments.size(); i += 4) {
        const QString& source = arguments[i];
        const QString& destination = arguments[i + 1];
        const QString name = QFileInfo(destination).fileName();
        const QString folder = taken.folder + u'/' + QString::number(i / 4);
        const QString archivePath = folder + u".tar"_s;
        if (!copyAsCaller(source, name, caller, archivePath))
            return refuse(refused(source, u"it can't be read as yours."_s));
        try {
            const SecureExtract::Checked checked = SecureExtract::check(archivePath, SecureExtract::Formats::zipOrTar);
            if (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0)
                return refuse(u"no private folder could be made for the copies."_s);
            SecureExtract::extract(checked, folder);
        } catch (const SecureExtract::Error&) {
            return refuse(refused(source, u"it can't be copied as a bundle."_s));
        }
        QFile::remove(archivePath);
        if (QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot).size() != 1)
            return refuse(refused(source, u"it isn't one bundle."_s));
        const QString copy = folder + u'/' + name;
        QString identifier;
        QString version;
        if (const std::optional<QString> problem = judge(copy, destination, ownBundle, identifier, version))
            return refuse(*problem);
        const int place = openPlace(QFileInfo(destination).path());
        if (place < 0)
            return refuse(refused(destination, u"its folder can't be opened as root's own."_s));
        taken.places.push_back(place);
        // Whatever rule and version the caller named, these are the ones.
        taken.arguments << copy << u"/proc/self/fd/"_s + QString::number(place) + u'/' + name
                        << CodeSignature::requirement(identifier, Config::teamID()) << version;
    }
    return {taken, QString()};
}

void release(const Taken& taken)
{
    for (const int place : taken.places)
        ::close(place);
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(QFile::encodeName(taken.folder).toStdString()), ignored);
}

} // namespace Hub::AdminPlacing

#include "Installer/Packages/Installer.h"

#include "Base/Config.h"
#include "Base/HubError.h"
#include "Installer/ArtifactDownload.h"
#include "Installer/InstallErrors.h"
#include "Installer/InstallLocations.h"
#include "Installer/Placement/PrivilegedRunner.h"
#include "Platform/FileMoves.h"
#include "Platform/PropertyList.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUuid>

#include <cerrno>
#include <filesystem>

#include <sys/stat.h>
#include <sys/statvfs.h>

using namespace Qt::StringLiterals;

namespace fs = std::filesystem;

namespace Hub::Installer {

namespace {

std::string native(const QString& path) { return QFile::encodeName(path).toStdString(); }

// The name of every mount point the disk-image step makes.
const QString kImagePrefix = u"image-"_s;

void removeQuietly(const QString& path)
{
    std::error_code ignored;
    fs::remove_all(fs::path(native(path)), ignored);
}

QString safeForm(const QString& text)
{
    QString kept;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') || u == u'.'
            || u == u'_' || u == u'-')
            kept.append(c);
    }
    return kept;
}

const QString kNoChecksum = u"This release has no checksum in the catalog, so the hub won't install it."_s;
const QString kDamaged = u"The download is damaged (checksum mismatch). Try again."_s;
const QString kNoPackage = u"The disk image has no installer package."_s;
const QString kNotTrusted = u"This installer isn't signed by Tarnaudio, so the hub won't run it."_s;

bool isLowerHex64(const QString& text)
{
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(u"[0-9a-f]{64}"_s));
    return pattern.match(text).hasMatch();
}

bool isLineBreak(char32_t c)
{
    return c == 0x0A || c == 0x0B || c == 0x0C || c == 0x0D || c == 0x85 || c == 0x2028 || c == 0x2029;
}

QString trimmedSpacesAndTabs(const QString& line)
{
    qsizetype begin = 0;
    qsizetype end = line.size();
    while (begin < end && (line[begin] == u' ' || line[begin] == u'\t'))
        ++begin;
    while (end > begin && (line[end - 1] == u' ' || line[end - 1] == u'\t'))
        --end;
    return line.mid(begin, end - begin);
}

// The version the script found in a package it refused for not being
// `wanted`; none for any other outcome.
std::optional<QString> refusedVersion(const QString& output, const QString& wanted)
{
    const QString suffix = u", not "_s + wanted;
    for (const QString& line : output.split(u'\n')) {
        static const QString prefix = u"Tarnhub: package is version "_s;
        if (line.startsWith(prefix) && line.endsWith(suffix)) {
            const QString actual = line.mid(prefix.size(), line.size() - prefix.size() - suffix.size());
            return actual.isEmpty() ? u"?"_s : actual.left(64);
        }
    }
    return std::nullopt;
}

// The folder the script or the installer found full: the last line that
// names one.
QString fullFolder(const QString& output)
{
    static const QString marker = u": the disk is full at "_s;
    const QStringList lines = output.split(u'\n');
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        const qsizetype at = line->indexOf(marker);
        if (at >= 0)
            return line->mid(at + marker.size());
    }
    return u"/"_s;
}

} // namespace

// ---- Download ------------------------------------------------------------------

QString downloadName(const QString& name, const QUrl& url)
{
    QString base = safeForm(name);
    if (base.isEmpty())
        base = u"download"_s;
    QString extension = safeForm(QFileInfo(url.path()).suffix());
    if (extension.isEmpty())
        extension = u"pkg"_s;
    return base + u'-' + QUuid::createUuid().toString(QUuid::WithoutBraces).left(8) + u'.' + extension;
}

QString download(const QUrl& url, const std::optional<QString>& sha256, const QString& name,
                 const std::function<void(double)>& progress, const std::optional<qint64>& size,
                 const Http::Session& session, const QString& home)
{
    // Both refusals come before the first byte is requested: an unchecked
    // file must never reach the disk, and an address must never be asked.
    if (!Http::isAllowedDownloadURL(url))
        throw HubError::message(u"The hub only downloads over https."_s);
    const QString expected = sha256.value_or(QString()).trimmed().toLower();
    if (expected.isEmpty())
        throw HubError::message(kNoChecksum);

    const QString folder = Config::downloadsFolder(home);
    std::error_code error;
    fs::create_directories(fs::path(native(folder)), error);
    if (error)
        throw FileError(error.value(), folder);

    const QString target = QDir(folder).filePath(downloadName(name, url));
    const QString label = name.trimmed().isEmpty() ? u"installer"_s : name.trimmed();
    const ArtifactDownloader downloader(target, label, size, progress);
    // The downloader writes the target only after a complete 200 reply and
    // removes its partial file on every other outcome.
    const PluginInstaller::Downloaded downloaded = downloader.run(url, session);
    if (downloaded.sha256 != expected) {
        removeQuietly(target);
        throw HubError::message(kDamaged);
    }
    return target;
}

// ---- Disk images ---------------------------------------------------------------

QString imageWorkFolder(const QString& home) { return Config::supportFolder(home) + u"/Staging"_s; }

void cleanImages(const QString& home)
{
    const QString folder = imageWorkFolder(home);
    const QStringList entries = QDir(folder).entryList(QStringList{QString(kImagePrefix + u'*')},
                                                       QDir::AllEntries | QDir::Hidden | QDir::System
                                                           | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        const std::string path = native(QDir(folder).filePath(entry));
        // An attached image has no write bit: its folders must get theirs
        // back before anything in them can go. Links are never followed.
        struct stat status {};
        if (::lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
            ::chmod(path.c_str(), (status.st_mode & 07777) | 0700);
        std::error_code error;
        for (fs::recursive_directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
            if (it->is_directory(error) && !it->is_symlink(error))
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
            error.clear();
        }
        removeQuietly(QFile::decodeName(QByteArray::fromStdString(path)));
    }
}

QString packageFrom(const QString& file, const ToolPaths& tools, const QString& workFolder)
{
    const QFileInfo info(file);
    if (info.suffix().toLower() != "dmg"_L1)
        return file;

    InstallLocations::makePrivateFolder(workFolder);
    const QString mountPoint =
        QDir(workFolder).filePath(kImagePrefix + QUuid::createUuid().toString(QUuid::WithoutBraces));
    std::error_code error;
    fs::create_directory(fs::path(native(mountPoint)), error);
    if (error)
        throw FileError(error.value(), mountPoint);
    // Detach and remove on every path, a failed attach included: a partly
    // made mount point is still ours to clear.
    struct Detacher {
        const ToolPaths& tools;
        QString mountPoint;
        ~Detacher()
        {
            Shell::run(tools.hdiutil, {u"detach"_s, u"-force"_s, mountPoint}, kAttachTimeout);
            removeQuietly(mountPoint);
        }
    } detacher{tools, mountPoint};

    const Shell::Result attached = Shell::run(tools.hdiutil,
                                              {u"attach"_s, u"-nobrowse"_s, u"-readonly"_s, u"-noautoopen"_s,
                                               u"-mountpoint"_s, mountPoint, file},
                                              kAttachTimeout);
    if (attached.status == kToolExitDiskFull)
        throw FileError(ENOSPC, mountPoint);
    if (attached.status != 0)
        throw HubError::message(u"Couldn't open the disk image."_s);

    const QStringList entries =
        QDir(mountPoint).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    QString found;
    for (const QString& entry : entries) {
        if (entry.toLower().endsWith(".pkg"_L1)) {
            found = QDir(mountPoint).filePath(entry);
            break;
        }
    }
    if (found.isEmpty())
        throw HubError::message(kNoPackage);

    const QString destination = info.path() + u'/' + info.completeBaseName() + u".pkg"_s;
    removeQuietly(destination);
    // Only a flat package is copied; a folder or a link in its place is
    // "no package", never followed.
    struct stat status {};
    if (::lstat(native(found).c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        throw HubError::message(kNoPackage);
    if (!QFile::copy(found, destination)) {
        removeQuietly(destination);
        // The copy does not say why it failed; a package larger than the
        // room left beside the file is a full disk, not a missing package.
        struct statvfs disk {};
        if (::statvfs(native(info.path()).c_str(), &disk) == 0
            && qint64(disk.f_bavail) * qint64(disk.f_frsize) < qint64(status.st_size))
            throw FileError(ENOSPC, destination);
        throw HubError::message(kNoPackage);
    }
    return destination;
}

// ---- Assessment ----------------------------------------------------------------

bool isTrusted(const QString& output) { return isTrusted(output, Config::teamID()); }

bool isTrusted(const QString& output, const QString& teamID)
{
    QStringList lines;
    QString current;
    for (const char32_t c : output.toUcs4()) {
        if (isLineBreak(c)) {
            lines.append(current);
            current.clear();
        } else {
            current.append(QString::fromUcs4(&c, 1));
        }
    }
    lines.append(current);
    QStringList kept;
    for (const QString& line : lines) {
        if (!line.isEmpty())
            kept.append(trimmedSpacesAndTabs(line));
    }
    if (kept.isEmpty() || !kept.first().endsWith(": accepted"_L1))
        return false;
    bool notarized = false;
    bool origin = false;
    for (qsizetype i = 1; i < kept.size(); ++i) {
        const QString& line = kept[i];
        if (line == "source=Notarized Developer ID"_L1)
            notarized = true;
        if (line.startsWith("origin=Developer ID Installer: "_L1) && line.endsWith(u'(' + teamID + u')'))
            origin = true;
    }
    return notarized && origin;
}

void verify(const QString& package, const ToolPaths& tools, const QString& anchors)
{
    QStringList arguments{u"-a"_s, u"-vv"_s, u"-t"_s, u"install"_s, package};
    if (!anchors.isEmpty())
        arguments.prepend(u"--anchors="_s + anchors);
    const Shell::Result result = Shell::run(tools.spctl, arguments, kAssessTimeout);
    if (result.status != 0 || !isTrusted(result.output))
        throw HubError::message(kNotTrusted);
}

// ---- Install -------------------------------------------------------------------

QStringList scriptArguments(const QString& file, const QString& sha256, const std::optional<QString>& packageID,
                            const std::optional<QString>& version)
{
    const QString kind = QFileInfo(file).suffix().toLower() == "dmg"_L1 ? u"dmg"_s : u"pkg"_s;
    return {file, sha256, kind, packageID.value_or(QString()), version.value_or(QString()), Config::teamID(), u"0"_s};
}

void install(const QString& file, const QString& productName, const QString& sha256,
             const std::optional<QString>& packageID, const std::optional<QString>& version, const Execute& execute,
             const PackageScript::Tools& tools)
{
    // Trimmed as the catalog's artifact checksums are, so a checksum with a
    // trailing line break is the same checksum here and at download.
    const QString expected = sha256.trimmed().toLower();
    if (!isLowerHex64(expected))
        throw HubError::message(u"This package has no valid release checksum, so the hub won't install it."_s);

    const QString script = PackageScript::script(tools);
    const QStringList arguments = scriptArguments(file, expected, packageID, version);
    const Shell::Result result =
        execute ? execute(script, arguments)
                : PrivilegedRunner::runAsAdministrator(u"Tarnhub wants to install "_s + productName + u'.', script,
                                                       arguments);
    if (result.status == 0)
        return;
    // Only the marker the administrator runner writes means a dismissed
    // prompt; a bare "-128" can be any number in a tool's message.
    if (result.output.contains(QStringView(PrivilegedRunner::kCancelledMarker)))
        throw HubError::cancelled();
    // Only the script's files and the installer's staging were written, and
    // both are gone: what was installed before is as it was.
    if (result.status == kToolExitDiskFull) {
        const QString release = version && !version->isEmpty() ? productName + u' ' + *version : productName;
        throw HubError::message(diskFullSentence(fullFolder(result.output), release, u" and nothing was changed."_s));
    }
    if (version && !version->isEmpty())
        if (const std::optional<QString> actual = refusedVersion(result.output, *version))
            throw HubError::message(productName + u" is version "_s + *actual + u", not "_s + *version
                                    + u". Try again later."_s);
    // The script's own reasons only: a tool's output names the root-only
    // work folder and the downloads folder, and what stood between (pkexec,
    // the administrator's helper) speaks to no one at the window.
    const QString reasons = PrivilegedRunner::scriptReasons(result.output);
    if (reasons.isEmpty())
        throw HubError::message(u"The installer failed."_s);
    throw HubError::message(u"The installer failed.\n"_s + outputTail(reasons));
}

void verifyInstalledHub(const QString& bundle, const QString& version, const TrustAnchors& anchors)
{
    const QVariantMap info = PropertyList::readDictionary(bundle + u"/Contents/Info.plist"_s);
    const std::optional<QString> identifier = PropertyList::text(info, u"CFBundleIdentifier"_s);
    const std::optional<QString> shortVersion = PropertyList::text(info, u"CFBundleShortVersionString"_s);
    if (identifier != Config::bundleID() || shortVersion != version)
        throw HubError::message(u"The installer finished, but Tarnhub "_s + version
                                + u" was not found. The current hub will stay open."_s);
    CodeSignature::verify(bundle, Config::bundleID(), false, anchors);
}

// ---- Downloads folder ------------------------------------------------------------

void cleanDownloads(const QString& home) { cleanDownloads(home, QDateTime::currentDateTimeUtc()); }

void cleanDownloads(const QString& home, const QDateTime& now)
{
    const QString folder = Config::downloadsFolder(home);
    const QStringList entries =
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    const qint64 nowSeconds = now.toSecsSinceEpoch();
    for (const QString& entry : entries) {
        const QString path = QDir(folder).filePath(entry);
        struct stat status {};
        // Unknown dates count as the distant past.
        const qint64 modified = ::lstat(native(path).c_str(), &status) == 0 ? qint64(status.st_mtim.tv_sec) : 0;
        if (nowSeconds - modified > kDownloadMaxAge)
            removeQuietly(path);
    }
}

} // namespace Hub::Installer

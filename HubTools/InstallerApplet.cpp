#include "Applets.h"

#include "Base/Places.h"
#include "Installer/Packages/PackageArchive.h"
#include "Platform/FileMoves.h"
#include "Platform/ToolPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

// installer -pkg PACKAGE -target DIR [-verbose]
//
// Installs the package's payload into the place its install-location stands
// for (see Places): the all-users place under the system root DIR ("/" in
// production; tests name a temporary one), or with DIR
// "CurrentUserHomeDirectory" the user's own place in $HOME. A location with
// no place is refused before anything is written. The payload is unpacked
// beside its destination first, then put in place item by item: folders
// that exist are merged into, bundles and files replace what is there by an
// atomic exchange, so an updated application is never a mix of two
// versions. A package whose signature no longer matches its
// contents is refused; whether the signer is trusted is the assessment's
// business (spctl). Exit status 0 on success, kToolExitDiskFull when a
// write found no room (with a line naming the folder), 1 on any other
// failure.
namespace {

using namespace Hub;

namespace fs = std::filesystem;

std::string native(const QString& path) { return QFile::encodeName(path).toStdString(); }

struct Failure {
    explicit Failure(const QString& why, const QString& full = {})
        : detail(why)
        , fullAt(full)
    {
    }
    QString detail;
    QString fullAt; // the folder a write found no room in; empty for other failures
};

bool isNoSpace(int error) { return error == ENOSPC || error == EDQUOT; }

// A failed system call on `path`, from errno.
Failure systemFailure(const QString& path, const QString& folder)
{
    const int error = errno;
    return Failure{path + u": "_s + QString::fromLocal8Bit(std::strerror(error)), isNoSpace(error) ? folder : QString()};
}

void say(const QString& line) { std::printf("installer: %s\n", line.toLocal8Bit().constData()); }

bool isBundleName(const QString& name)
{
    static const QStringList kExtensions = {u"app"_s, u"component"_s, u"vst3"_s, u"bundle"_s, u"framework"_s,
                                            u"plugin"_s};
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot > 0 && kExtensions.contains(name.mid(dot + 1).toLower());
}

QString realPath(const QString& path)
{
    char resolved[PATH_MAX];
    if (!::realpath(native(path).c_str(), resolved))
        throw Failure{path + u": "_s + QString::fromLocal8Bit(std::strerror(errno))};
    return QFile::decodeName(resolved);
}

// Makes the install location's missing folders, readable by everyone.
void makeFolders(const QString& root, const QStringList& parts)
{
    QString path = root;
    for (const QString& part : parts) {
        path += u'/' + part;
        struct stat status {};
        if (::lstat(native(path).c_str(), &status) == 0)
            continue;
        if (::mkdir(native(path).c_str(), 0755) != 0 || ::chmod(native(path).c_str(), 0755) != 0)
            throw systemFailure(path, QFileInfo(path).path());
    }
}

void place(const QString& staged, const QString& destination)
{
    const QStringList entries =
        QDir(staged).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& entry : entries) {
        const QString from = staged + u'/' + entry;
        const QString to = destination + u'/' + entry;
        struct stat source {};
        struct stat target {};
        if (::lstat(native(from).c_str(), &source) != 0)
            throw Failure{from + u": "_s + QString::fromLocal8Bit(std::strerror(errno))};
        try {
            if (::lstat(native(to).c_str(), &target) != 0) {
                FileMoves::moveNoReplace(from, to);
            } else if (S_ISDIR(source.st_mode) && S_ISDIR(target.st_mode) && !isBundleName(entry)) {
                place(from, to);
            } else {
                FileMoves::exchange(from, to);
                std::error_code ignored;
                fs::remove_all(native(from), ignored); // the replaced item
            }
        } catch (const FileError& error) {
            throw Failure{to + u": "_s + error.description(), error.isDiskFull() ? destination : QString()};
        }
    }
}

void install(const QString& package, const QString& target, bool intoHome)
{
    QTemporaryDir scratch;
    if (!scratch.isValid())
        throw Failure{u"no temporary folder"_s};
    const QString expanded = scratch.filePath(u"expanded"_s);
    std::optional<PackageArchive::Info> info;
    try {
        PackageArchive::expand(package, expanded);
        // Empty anchors: only whether the contents still match the signature.
        const auto assessment = PackageArchive::assess(expanded, TrustAnchors::fromPem({}));
        if (assessment.signature == PackageArchive::Assessment::Signature::broken)
            throw Failure{assessment.detail};
        info = PackageArchive::readInfo(expanded);
    } catch (const PackageError& error) {
        throw Failure{error.detail(), error.isDiskFull() ? scratch.path() : QString()};
    }
    if (!info)
        throw Failure{u"the package has no valid PackageInfo"_s};
    say(u"Package name is "_s + info->identifier);

    // The location names the other platform's folder; the payload goes to
    // the place that stands in for it, and nowhere when there is none.
    const std::optional<Places::Place> where = Places::forInstallLocation(info->installLocation, intoHome);
    if (!where)
        throw Failure{u"the install location "_s + info->installLocation + u" has no place on this system"_s};
    const QString root = realPath(intoHome ? QDir::homePath() : target);
    const QString placed = Places::path(*where, Places::isolated(root, root));
    const QStringList parts = QDir(root).relativeFilePath(placed).split(u'/', Qt::SkipEmptyParts);
    makeFolders(root, parts);
    const QString destination = realPath(placed);
    if (destination != root && !destination.startsWith(root == "/"_L1 ? root : root + u'/'))
        throw Failure{u"the install location "_s + info->installLocation + u" leaves the target"_s};
    say(u"Installing at base path "_s + target);

    // Unpacked on the destination's file system, so every move is a rename.
    QByteArray pattern = QFile::encodeName(destination + u"/.hubtools-installer.XXXXXX"_s);
    if (!::mkdtemp(pattern.data()))
        throw systemFailure(destination, destination);
    const QString staging = QFile::decodeName(pattern);
    struct Remover {
        QString path;
        ~Remover()
        {
            std::error_code ignored;
            fs::remove_all(QFile::encodeName(path).toStdString(), ignored);
        }
    } remover{staging};
    try {
        PackageArchive::extract(expanded + u'/' + PackageArchive::kPayload, staging);
    } catch (const PackageError& error) {
        throw Failure{u"the payload can't be unpacked: "_s + error.detail(), error.isDiskFull() ? destination : QString()};
    }
    place(staging, destination);
}

} // namespace

int installerMain(int argc, char** argv)
{
    QString package;
    QString target;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if ((argument == "-pkg"_L1 || argument == "-package"_L1) && i + 1 < argc) {
            package = QString::fromLocal8Bit(argv[++i]);
        } else if ((argument == "-target"_L1 || argument == "-tgt"_L1) && i + 1 < argc) {
            target = QString::fromLocal8Bit(argv[++i]);
        } else if (argument == "-verbose"_L1 || argument == "-dumplog"_L1) {
            continue;
        } else {
            std::fputs("usage: installer -pkg <package> -target <folder | CurrentUserHomeDirectory>\n", stderr);
            return 1;
        }
    }
    if (package.isEmpty() || target.isEmpty()) {
        std::fputs("usage: installer -pkg <package> -target <folder | CurrentUserHomeDirectory>\n", stderr);
        return 1;
    }
    try {
        install(package, target, target == "CurrentUserHomeDirectory"_L1);
    } catch (const Failure& failure) {
        std::fflush(stdout);
        std::fprintf(stderr, "installer: The install failed. (%s)\n", failure.detail.toLocal8Bit().constData());
        if (failure.fullAt.isEmpty())
            return 1;
        std::fprintf(stderr, "installer: the disk is full at %s\n", QFile::encodeName(failure.fullAt).constData());
        return kToolExitDiskFull;
    }
    say(u"The install was successful."_s);
    return 0;
}

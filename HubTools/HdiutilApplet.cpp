#include "Applets.h"

#include "Installer/Packages/PackageArchive.h"
#include "Platform/ToolPaths.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QString>
#include <QStringList>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

// hdiutil attach [-nobrowse] [-readonly] [-noautoopen] [-quiet] -mountpoint DIR IMAGE
// hdiutil detach [-force] [-quiet] DIR
//
// A disk image here is a zip or tar archive. attach unpacks it at the mount
// point, write permission removed, and records beside the mount point
// ("<DIR>.hdiutil-attach") every path it made; detach removes exactly
// those, so nothing put there by anyone else, and nothing outside, is lost.
// Exit status 0 on success, 1 on failure, as the platform's tool; but
// kToolExitDiskFull when attach found no room to unpack, so that a caller
// can say the disk is full.
namespace {

using namespace Hub;

std::string native(const QString& path) { return QFile::encodeName(path).toStdString(); }

int fail(const QString& verb, const QString& detail)
{
    std::fprintf(stderr, "hdiutil: %s failed - %s\n", verb.toLocal8Bit().constData(), detail.toLocal8Bit().constData());
    return 1;
}

int usage()
{
    std::fputs("usage: hdiutil attach [-nobrowse] [-readonly] [-noautoopen] -mountpoint DIR IMAGE\n"
               "       hdiutil detach [-force] DIR\n",
               stderr);
    return 1;
}

QString recordPath(const QString& mountPoint) { return QDir::cleanPath(mountPoint) + u".hdiutil-attach"_s; }

QString systemError() { return QString::fromLocal8Bit(std::strerror(errno)); }

bool isRealFolder(const QString& path)
{
    struct stat status {};
    return ::lstat(native(path).c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// True when every folder between the mount point and `relative` is still a
// real folder, so removing it can't reach through a link to elsewhere.
bool reachableWithoutLinks(const QString& mountPoint, const QString& relative)
{
    const QStringList parts = relative.split(u'/', Qt::SkipEmptyParts);
    QString path = mountPoint;
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        path += u'/' + parts[i];
        if (!isRealFolder(path))
            return false;
    }
    return true;
}

// Removes the recorded paths, children first. A folder that still holds
// something attach did not make stays.
void removeMade(const QString& mountPoint, const QStringList& made, bool madeMountPoint)
{
    auto usable = [&](const QString& relative) {
        return !relative.isEmpty() && !relative.startsWith(u'/') && !relative.split(u'/').contains(u".."_s)
               && reachableWithoutLinks(mountPoint, relative);
    };
    // attach left its folders read-only; without root, nothing inside them
    // can be removed until they are writable again.
    for (const QString& relative : made) {
        if (!usable(relative))
            continue;
        const std::string path = native(mountPoint + u'/' + relative);
        struct stat status {};
        if (::lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
            ::chmod(path.c_str(), (status.st_mode & 07777) | 0700);
    }
    for (qsizetype i = made.size() - 1; i >= 0; --i) {
        const QString& relative = made[i];
        if (!usable(relative))
            continue;
        const std::string path = native(mountPoint + u'/' + relative);
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0)
            continue;
        if (S_ISDIR(status.st_mode)) {
            ::chmod(path.c_str(), (status.st_mode & 07777) | 0700);
            ::rmdir(path.c_str());
        } else {
            ::unlink(path.c_str());
        }
    }
    if (madeMountPoint)
        ::rmdir(native(mountPoint).c_str());
}

int attach(const QString& image, const QString& mountPoint)
{
    struct stat status {};
    if (::stat(native(image).c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return fail(u"attach"_s, image + u": no such image file"_s);
    const QString record = recordPath(mountPoint);
    if (QFile::exists(record))
        return fail(u"attach"_s, mountPoint + u": Resource busy"_s);

    bool madeMountPoint = false;
    if (::lstat(native(mountPoint).c_str(), &status) != 0) {
        if (::mkdir(native(mountPoint).c_str(), 0755) != 0) {
            const bool full = errno == ENOSPC || errno == EDQUOT;
            const int status = fail(u"attach"_s, mountPoint + u": "_s + systemError());
            return full ? kToolExitDiskFull : status;
        }
        madeMountPoint = true;
    } else if (!S_ISDIR(status.st_mode)) {
        return fail(u"attach"_s, mountPoint + u": not a folder"_s);
    } else if (!QDir(mountPoint).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        return fail(u"attach"_s, mountPoint + u": the mount point is not empty"_s);
    }

    QStringList made;
    try {
        made = Hub::PackageArchive::extract(image, mountPoint);
    } catch (const PackageError& error) {
        // Whatever the partial extraction made is within the survey's list.
        QStringList everything;
        for (const QString& entry : QDir(mountPoint).entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                                                | QDir::NoDotAndDotDot))
            everything.append(entry);
        for (const QString& entry : everything) {
            std::error_code ignored;
            std::filesystem::remove_all(native(mountPoint + u'/' + entry), ignored);
        }
        if (madeMountPoint)
            ::rmdir(native(mountPoint).c_str());
        if (error.isDiskFull()) {
            fail(u"attach"_s, error.detail());
            return kToolExitDiskFull;
        }
        return fail(u"attach"_s, u"image not recognized: "_s + error.detail());
    }

    QJsonObject object;
    object[u"mountPoint"_s] = QDir::cleanPath(mountPoint);
    object[u"madeMountPoint"_s] = madeMountPoint;
    object[u"made"_s] = QJsonArray::fromStringList(made);
    QSaveFile file(record);
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(object).toJson()) < 0 || !file.commit()) {
        removeMade(mountPoint, made, madeMountPoint);
        return fail(u"attach"_s, record + u": can't record the attachment"_s);
    }

    // Read-only, as a mounted image is: no write bit anywhere it made.
    for (const QString& relative : made) {
        const std::string path = native(mountPoint + u'/' + relative);
        if (::lstat(path.c_str(), &status) == 0 && !S_ISLNK(status.st_mode))
            ::chmod(path.c_str(), status.st_mode & 07555);
    }
    std::printf("/dev/hubtools-image\t\t\t%s\n", QFile::encodeName(mountPoint).constData());
    return 0;
}

int detach(const QString& mountPoint)
{
    const QString record = recordPath(mountPoint);
    QFile file(record);
    if (!file.open(QIODevice::ReadOnly))
        return fail(u"detach"_s, mountPoint + u": No such file or directory"_s);
    const QJsonObject object = QJsonDocument::fromJson(file.readAll()).object();
    file.close();
    if (object.value(u"mountPoint"_s).toString() != QDir::cleanPath(mountPoint))
        return fail(u"detach"_s, record + u": not a record of this mount point"_s);
    if (!isRealFolder(mountPoint)) {
        QFile::remove(record);
        return fail(u"detach"_s, mountPoint + u": not a folder"_s);
    }
    QStringList made;
    for (const QJsonValue& value : object.value(u"made"_s).toArray())
        made.append(value.toString());
    removeMade(mountPoint, made, object.value(u"madeMountPoint"_s).toBool());
    QFile::remove(record);
    std::printf("\"%s\" ejected.\n", QFile::encodeName(mountPoint).constData());
    return 0;
}

} // namespace

int hdiutilMain(int argc, char** argv)
{
    if (argc < 2)
        return usage();
    const QString verb = QString::fromLocal8Bit(argv[1]);
    std::optional<QString> mountPoint;
    QStringList operands;
    for (int i = 2; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (argument == "-mountpoint"_L1 && verb == "attach"_L1) {
            if (++i >= argc)
                return usage();
            mountPoint = QString::fromLocal8Bit(argv[i]);
        } else if (argument == "-nobrowse"_L1 || argument == "-readonly"_L1 || argument == "-noautoopen"_L1
                   || argument == "-quiet"_L1 || argument == "-force"_L1) {
            continue;
        } else if (argument.startsWith(u'-')) {
            return usage();
        } else {
            operands.append(argument);
        }
    }
    if (verb == "attach"_L1) {
        if (!mountPoint || operands.size() != 1)
            return usage();
        return attach(operands.first(), *mountPoint);
    }
    if (verb == "detach"_L1) {
        if (operands.size() != 1)
            return usage();
        return detach(operands.first());
    }
    return usage();
}

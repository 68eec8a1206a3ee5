#include "SmallDisk.h"

#include "PrivateNamespaces.h"

#include <QFile>
#include <QUuid>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace Hub::Test::SmallDisk {

namespace {

std::string s_root;
std::string s_why = "the small file system was never prepared";

std::string failed(const char* step)
{
    return std::string(step) + ": " + std::strerror(errno);
}

void removeMountPoint()
{
    ::umount2(s_root.c_str(), MNT_DETACH);
    ::rmdir(s_root.c_str());
}

} // namespace

void prepare()
{
    if (!enterPrivateNamespaces(CLONE_NEWNS, s_why))
        return;
    // Nothing mounted here may reach the rest of the machine.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        s_why = failed("making the mounts private");
        return;
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/hub-small-disk-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        s_why = failed("mkdtemp");
        return;
    }
    const std::string options = "size=" + std::to_string(kSize) + ",mode=0755";
    if (::mount("tmpfs", pattern.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
        s_why = failed("mounting a tmpfs");
        ::rmdir(pattern.c_str());
        return;
    }
    s_root = pattern;
    s_why.clear();
    std::atexit(removeMountPoint);
}

bool available() { return !s_root.empty(); }

QString why()
{
    return QStringLiteral("no small file system to fill (") + QString::fromStdString(s_why)
           + QStringLiteral("); it needs root or unprivileged user namespaces");
}

QString root() { return QFile::decodeName(s_root.c_str()); }

long long freeBytes(const QString& path)
{
    struct statvfs disk {};
    if (::statvfs(QFile::encodeName(path).constData(), &disk) != 0)
        return -1;
    return (long long)disk.f_bavail * (long long)disk.f_frsize;
}

bool leaveFree(const QString& folder, long long bytes)
{
    const long long take = freeBytes(folder) - bytes;
    if (take < 0)
        return false;
    if (take == 0)
        return true;
    const QByteArray path =
        QFile::encodeName(folder + QStringLiteral("/filler-") + QUuid::createUuid().toString(QUuid::WithoutBraces));
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool ok = ::posix_fallocate(fd, 0, off_t(take)) == 0;
    ::close(fd);
    return ok;
}

} // namespace Hub::Test::SmallDisk

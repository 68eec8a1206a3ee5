#include "Reports/SpoolLock.h"

#include "Base/Config.h"
#include "Base/Places.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace Hub::SpoolLock {

namespace {

constexpr std::chrono::milliseconds kPollInterval{10};

bool setLock(int fd, short type, int& error)
{
    struct flock request{};
    request.l_type = type;
    request.l_whence = SEEK_SET;
    request.l_start = 0;
    request.l_len = 0; // to the end of the file and beyond
    if (::fcntl(fd, F_SETLK, &request) == 0)
        return true;
    error = errno;
    return false;
}

} // namespace

std::mutex& local()
{
    // fcntl locks are per process, so the mutex guarding them is too.
    static std::mutex mutex;
    return mutex;
}

QString name()
{
    const QString bundle = Config::bundleID();
    const qsizetype dot = bundle.lastIndexOf(u'.');
    return (dot > 0 ? bundle.left(dot) : bundle) + u".reports"_s;
}

QStringList folders(const QString& home)
{
    return {Places::path(Places::Place::lockFolder, home), u"/tmp/com.juce.locks"_s};
}

int open(const QStringList& lockFolders, std::chrono::milliseconds timeout)
{
    const QString fileName = name();
    for (const QString& folder : lockFolders) {
        QDir().mkpath(folder); // failures show up as a failed open below
        const QByteArray path = QFile::encodeName(QDir(folder).filePath(fileName));
        // O_NOFOLLOW: in the world-writable /tmp folder a planted symlink
        // must not make us create or lock a file somewhere else.
        const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd < 0)
            continue;

        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            int error = 0;
            if (setLock(fd, F_WRLCK, error))
                return fd;
            if (error == EBADF || error == ENOLCK) {
                // This file system cannot lock: try the next folder.
                ::close(fd);
                break;
            }
            // Held by another process (EACCES or EAGAIN), or interrupted.
            // The deadline is checked for every error, so nothing can keep
            // this loop going for longer than the time-out.
            if (std::chrono::steady_clock::now() >= deadline) {
                ::close(fd);
                return -1;
            }
            std::this_thread::sleep_for(kPollInterval);
        }
    }
    return -1;
}

void release(int fd)
{
    if (fd < 0)
        return;
    int error = 0;
    setLock(fd, F_UNLCK, error);
    ::close(fd);
}

} // namespace Hub::SpoolLock

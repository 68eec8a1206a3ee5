#include "Platform/CallbackInbox.h"

#include <QByteArray>
#include <QDebug>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace Hub {

namespace {

using Clock = std::chrono::steady_clock;

// A sender that connects and then stalls must not hold up the next one for long.
constexpr std::chrono::milliseconds kAnswerTimeout{2000};
constexpr int kBacklog = 8;
constexpr qsizetype kMaxReplyBytes = 16;

// Nothing among the arguments allocates, so `errnoValue` is still the failed call's.
void logFailure(QLatin1StringView what, const QString& path, int errnoValue)
{
    const QString reason = QString::fromLocal8Bit(std::strerror(errnoValue));
    qWarning().noquote() << "callback inbox:" << what << path << "failed:" << reason;
}

// Others may look into the folder but not add, remove or rename anything.
bool folderOfMine(const QByteArray& path)
{
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid()
        && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::optional<sockaddr_un> socketAddress(const QByteArray& path)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.isEmpty() || static_cast<size_t>(path.size()) >= sizeof(address.sun_path))
        return std::nullopt;
    std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
    return address;
}

// A listener whose backlog is full blocks connect until `timeout`. On
// failure errno is connect's.
int connectTo(const sockaddr_un& address, std::chrono::milliseconds timeout)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const auto ms = std::max<std::chrono::milliseconds::rep>(timeout.count(), 1);
    const timeval limit {static_cast<time_t>(ms / 1000), static_cast<suseconds_t>((ms % 1000) * 1000)};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        const int error = errno; // the caller tells a dead socket from a busy one
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

bool peerIsMe(int fd)
{
    ucred peer {};
    socklen_t length = sizeof(peer);
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && length == sizeof(peer)
        && peer.uid == ::geteuid();
}

int millisecondsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool waitFor(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        pollfd entry {fd, events, 0};
        const int ready = ::poll(&entry, 1, millisecondsLeft(deadline));
        if (ready > 0)
            return true;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

bool writeAll(int fd, const QByteArray& bytes, Clock::time_point deadline)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        if (!waitFor(fd, POLLOUT, deadline))
            return false;
        const ssize_t written = ::send(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done),
            MSG_NOSIGNAL | MSG_DONTWAIT);
        if (written < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return false;
        }
        done += written;
    }
    return true;
}

// One line without its newline; none when the line is longer than
// `maxBytes`, the peer closes first, or the deadline passes.
std::optional<QByteArray> readLine(int fd, qsizetype maxBytes, Clock::time_point deadline)
{
    QByteArray line;
    char chunk[1024];
    for (;;) {
        if (!waitFor(fd, POLLIN, deadline))
            return std::nullopt;
        const ssize_t got = ::recv(fd, chunk, sizeof(chunk), MSG_DONTWAIT);
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return std::nullopt;
        }
        if (got == 0)
            return std::nullopt;
        line.append(chunk, got);
        const qsizetype end = line.indexOf('\n');
        if (end >= 0) {
            if (end > maxBytes)
                return std::nullopt;
            line.truncate(end);
            return line;
        }
        if (line.size() > maxBytes)
            return std::nullopt;
    }
}

// The sender writes the fully encoded form: plain printable ASCII.
std::optional<QUrl> parseAddress(const QByteArray& line)
{
    for (const char c : line) {
        if (c < 0x21 || c > 0x7e)
            return std::nullopt;
    }
    const QUrl url(QString::fromLatin1(line), QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty())
        return std::nullopt;
    return url;
}

} // namespace

QString callbackSocketPath(const QString& bundleID)
{
    return callbackSocketPath(bundleID, qEnvironmentVariable("XDG_RUNTIME_DIR"), ::geteuid());
}

QString callbackSocketPath(const QString& bundleID, const QString& runtimeDir, unsigned uid)
{
    const QString socketName = bundleID + ".sock"_L1;
    // The runtime folder may legitimately be group-readable on some systems,
    // but never writable by anyone else.
    if (!runtimeDir.isEmpty() && QFileInfo(runtimeDir).isAbsolute()) {
        struct stat st {};
        const QByteArray folder = QFile::encodeName(runtimeDir);
        if (::lstat(folder.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == uid
            && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0)
            return runtimeDir + u'/' + socketName;
    }
    return "/tmp/"_L1 + bundleID + u'-' + QString::number(uid) + u'/' + socketName;
}

CallbackInbox::CallbackInbox(QString socketPath, Handler handler)
    : m_socketPath(std::move(socketPath))
    , m_handler(std::move(handler))
{
}

CallbackInbox::~CallbackInbox()
{
    if (m_thread.joinable()) {
        m_thread.request_stop();
        const char wake = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_wakeWrite, &wake, 1);
        m_thread.join();
    }
    // Only the owner of the lock ever created this file, so it is ours to remove.
    if (m_bound)
        ::unlink(QFile::encodeName(m_socketPath).constData());
    closeAll();
}

void CallbackInbox::closeAll()
{
    for (int* fd : {&m_listenFd, &m_wakeRead, &m_wakeWrite, &m_lockFd}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

CallbackInbox::Listen CallbackInbox::listen()
{
    if (m_thread.joinable())
        return Listen::listening;

    const QByteArray path = QFile::encodeName(m_socketPath);
    const std::optional<sockaddr_un> address = socketAddress(path);
    if (!address) {
        qWarning().noquote() << "callback inbox: socket path too long:" << m_socketPath;
        return Listen::failed;
    }
    if (!makePrivateFolder())
        return Listen::failed;
    if (const std::optional<Listen> refused = takeLock(path))
        return *refused;
    if (const std::optional<Listen> refused = clearLeftSocket(path, *address))
        return *refused;
    if (!publishSocket(path))
        return Listen::failed;
    m_bound = true;
    m_thread = std::jthread([this](std::stop_token stop) { serve(stop); });
    return Listen::listening;
}

bool CallbackInbox::makePrivateFolder()
{
    // The folder must be this user's alone, or someone else could swap the
    // socket for their own and read the sign-in callbacks.
    const QByteArray folder = QFile::encodeName(QFileInfo(m_socketPath).absolutePath());
    if (::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST) {
        logFailure("creating the folder of"_L1, m_socketPath, errno);
        return false;
    }
    if (!folderOfMine(folder)) {
        qWarning().noquote() << "callback inbox: folder is not private to this user:" << QFile::decodeName(folder);
        return false;
    }
    return true;
}

std::optional<CallbackInbox::Listen> CallbackInbox::takeLock(const QByteArray& path)
{
    // The lock decides which of two instances started at the same moment
    // owns the socket; the kernel drops it when its owner dies.
    const QByteArray lockPath = path + ".lock";
    m_lockFd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_lockFd < 0) {
        logFailure("opening the lock file"_L1, m_socketPath, errno);
        return Listen::failed;
    }
    if (::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        closeAll();
        if (error == EWOULDBLOCK)
            return Listen::otherInstance;
        logFailure("locking"_L1, m_socketPath, error);
        return Listen::failed;
    }
    return std::nullopt;
}

std::optional<CallbackInbox::Listen> CallbackInbox::clearLeftSocket(const QByteArray& path,
                                                                    const sockaddr_un& address)
{
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0)
        return std::nullopt;
    if (!S_ISSOCK(st.st_mode)) {
        qWarning().noquote() << "callback inbox: not a socket, left alone:" << m_socketPath;
        closeAll();
        return Listen::failed;
    }
    // A live listener without the lock would be an instance that does
    // not lock; leave it be. Otherwise the file is left by a crash.
    if (const int probe = connectTo(address, kAnswerTimeout); probe >= 0) {
        ::close(probe);
        closeAll();
        return Listen::otherInstance;
    }
    if (::unlink(path.constData()) != 0 && errno != ENOENT) {
        logFailure("removing the stale socket"_L1, m_socketPath, errno);
        closeAll();
        return Listen::failed;
    }
    return std::nullopt;
}

bool CallbackInbox::publishSocket(const QByteArray& path)
{
    // The socket is made ready under another name and renamed into place, so
    // the name never stands for a socket that refuses connections: a second
    // launch connecting between bind() and listen() would lose its link.
    // The lock makes the other name ours alone.
    const QByteArray readyPath = path + ".new";
    const std::optional<sockaddr_un> readyAddress = socketAddress(readyPath);
    if (!readyAddress) {
        qWarning().noquote() << "callback inbox: socket path too long:" << m_socketPath;
        closeAll();
        return false;
    }
    ::unlink(readyPath.constData());
    m_listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0) {
        logFailure("socket"_L1, m_socketPath, errno);
        closeAll();
        return false;
    }
    if (::bind(m_listenFd, reinterpret_cast<const sockaddr*>(&*readyAddress), sizeof(*readyAddress)) != 0) {
        logFailure("binding"_L1, m_socketPath, errno);
        closeAll();
        return false;
    }
    int wake[2] = {-1, -1};
    if (::chmod(readyPath.constData(), 0600) != 0 || ::listen(m_listenFd, kBacklog) != 0
        || ::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        logFailure("listening on"_L1, m_socketPath, errno);
        ::unlink(readyPath.constData());
        closeAll();
        return false;
    }
    m_wakeRead = wake[0];
    m_wakeWrite = wake[1];
    if (::rename(readyPath.constData(), path.constData()) != 0) {
        logFailure("publishing"_L1, m_socketPath, errno);
        ::unlink(readyPath.constData());
        closeAll();
        return false;
    }
    return true;
}

void CallbackInbox::serve(std::stop_token stop)
{
    while (!stop.stop_requested()) {
        pollfd entries[2] = {{m_listenFd, POLLIN, 0}, {m_wakeRead, POLLIN, 0}};
        if (::poll(entries, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            logFailure("waiting"_L1, m_socketPath, errno);
            return;
        }
        if (entries[1].revents != 0)
            return;
        if ((entries[0].revents & POLLIN) == 0)
            continue;
        const int connection = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            // Out of descriptors the listener stays readable: pause instead of spinning.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                pollfd wake {m_wakeRead, POLLIN, 0};
                ::poll(&wake, 1, 100);
            }
            continue;
        }
        answer(connection);
        ::close(connection);
    }
}

void CallbackInbox::answer(int connection)
{
    if (!peerIsMe(connection)) {
        // Read nothing from another user: their address would be taken for
        // the sign-in callback of ours.
        qWarning().noquote() << "callback inbox: refused a connection from another user";
        return;
    }
    const Clock::time_point deadline = Clock::now() + kAnswerTimeout;
    const std::optional<QByteArray> line = readLine(connection, kMaxURLBytes, deadline);
    const std::optional<QUrl> url = line ? parseAddress(*line) : std::nullopt;
    if (!url) {
        writeAll(connection, "error\n", deadline);
        return;
    }
    try {
        m_handler(*url);
    } catch (...) {
        qWarning().noquote() << "callback inbox: the handler threw";
    }
    writeAll(connection, "ok\n", deadline);
}

CallbackInbox::Delivery CallbackInbox::deliver(const QString& socketPath, const QUrl& url,
                                               std::chrono::milliseconds timeout)
{
    const Clock::time_point deadline = Clock::now() + timeout;
    QByteArray line = url.toString(QUrl::FullyEncoded).toLatin1();
    if (!url.isValid() || url.scheme().isEmpty() || line.size() > kMaxURLBytes)
        return Delivery::notTaken;
    line += '\n';

    const std::optional<sockaddr_un> address = socketAddress(QFile::encodeName(socketPath));
    if (!address)
        return Delivery::notTaken;
    const int fd = connectTo(*address, timeout);
    if (fd < 0)
        // A full backlog (EAGAIN) is a live instance; no file or a dead
        // socket is nobody.
        return errno == ENOENT || errno == ECONNREFUSED ? Delivery::nobodyListens : Delivery::notTaken;
    // Someone else's socket at our path must not get the sign-in callback.
    const bool delivered = peerIsMe(fd) && writeAll(fd, line, deadline)
        && readLine(fd, kMaxReplyBytes, deadline) == QByteArray("ok");
    ::close(fd);
    return delivered ? Delivery::taken : Delivery::notTaken;
}

bool CallbackInbox::send(const QString& socketPath, const QUrl& url, std::chrono::milliseconds timeout)
{
    return deliver(socketPath, url, timeout) == Delivery::taken;
}

} // namespace Hub

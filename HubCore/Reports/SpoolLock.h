#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <mutex>

// The spool's locking protocol, shared with the maker's plug-ins: a POSIX
// advisory record lock (fcntl F_SETLK, F_WRLCK over the whole file) on one
// lock file. Plug-ins take the same lock from other processes, so this must
// stay fcntl: QLockFile or flock(2) would not exclude them.
//
// fcntl locks belong to the process, not to a descriptor: a second lock from
// this process would succeed at once, and closing any descriptor of the file
// drops them all. The process-wide mutex is therefore always taken first, and
// every open of the lock file happens under it.
namespace Hub::SpoolLock {

// How long to wait for the lock file before working without it, so that a
// plug-in that hangs while holding it cannot stop the application.
inline constexpr std::chrono::milliseconds kTimeout{1000};

// The one process-wide mutex every spool writer takes first.
std::mutex& local();

// The lock file's name: the maker's reverse-domain prefix (the bundle
// identifier without its last part) followed by ".reports".
QString name();

// Where the lock file is looked for, in order: "com.juce.locks" in the cache
// folder of `home` (see Places), then "/tmp/com.juce.locks".
QStringList folders(const QString& home);

// Opens (creating it when missing) and locks folder/name() in the first of
// `folders` that can be used. Returns the open descriptor, or -1 when no
// folder could be used or when another process still held the lock when
// `timeout` had passed.
int open(const QStringList& folders, std::chrono::milliseconds timeout);
// Unlocks and closes a descriptor from open(); -1 is ignored.
void release(int fd);

// Runs `body` under the mutex and, when it could be had within `timeout`,
// the lock file; then releases the file lock and the mutex in that order.
// The body runs even without the file lock. Its result or exception passes.
template <typename Body>
auto with(const QStringList& lockFolders, std::chrono::milliseconds timeout, Body&& body) -> decltype(body())
{
    const std::lock_guard guard(local());
    struct FileLock {
        int fd;
        ~FileLock() { release(fd); }
    } const file{open(lockFolders, timeout)};
    return body();
}

} // namespace Hub::SpoolLock

#pragma once

#include <QString>

// A small file system of this process's own, for tests that fill a disk.
// A file-size limit is no stand-in: under it even the step that extends a
// file to its full size fails, which a really full disk lets through. So the
// tests get a 2 MiB tmpfs, mounted in a private mount namespace (as root,
// else inside a user namespace as `unshare -rm` makes).
namespace Hub::Test::SmallDisk {

inline constexpr long long kSize = 2 << 20;

// Makes the namespace and mounts the file system. Must run first in main():
// unshare(2) refuses a mount namespace to a process with more than one
// thread. Never fails; available() says how it went.
void prepare();

// True when the small file system is mounted; else why() says what failed,
// for the tests' skip message.
bool available();
QString why();

// Its mount point.
QString root();

// Bytes free on the file system that holds `path`.
long long freeBytes(const QString& path);

// Takes space on the file system that holds `folder` with a new file there
// until at most `bytes` remain free (a page either way, as the file system
// counts). Returns false when there was already less free.
bool leaveFree(const QString& folder, long long bytes);

} // namespace Hub::Test::SmallDisk

#pragma once

#include <QString>

#include <system_error>

// Moves that never overwrite. rename(2) silently replaces its target, which
// would lose a bundle; every move here fails instead when the target exists.
namespace Hub {

// A failed file operation: the errno value as a std::error_code (generic
// category), the path it concerns and a short description such as
// "Permission denied" that callers can put into a sentence.
class FileError : public std::system_error {
public:
    FileError(int errnoValue, QString path);
    FileError(int errnoValue, QString path, QString description);

    const QString& path() const { return m_path; }
    const QString& description() const { return m_description; }
    bool isPermissionError() const;
    // ENOSPC or EDQUOT: the file system had no room for what was written.
    bool isDiskFull() const;

private:
    QString m_path;
    QString m_description;
};

namespace FileMoves {

// Moves `from` to `to` unless something (a dangling symbolic link included)
// lies at `to`, which fails with EEXIST. A symbolic link is moved as the
// link. Across file systems the item is copied beside `to` under a hidden
// name, every file, folder and link keeping its mode and times (and its
// owner when run as root), put in place without replacing, and only then
// is `from` removed; a failed copy leaves `from` untouched, and a tree with
// a folder the caller cannot empty is refused before any copy. Throws
// FileError.
void moveNoReplace(const QString& from, const QString& to);

// Swaps the two names atomically; both must exist on one file system.
// Throws FileError.
void exchange(const QString& a, const QString& b);

// True when something lies at `path`, without following a final symbolic link.
bool existsNoFollow(const QString& path);

// The mount point of the file system that holds `path` (or its nearest
// existing parent), for naming a disk to the user; "/" when none is found.
QString diskOf(const QString& path);

} // namespace FileMoves
} // namespace Hub

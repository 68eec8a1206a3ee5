#include "Platform/FileMoves.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <vector>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace fs = std::filesystem;

namespace Hub {

FileError::FileError(int errnoValue, QString path)
    : FileError(errnoValue, std::move(path), QString::fromLocal8Bit(std::strerror(errnoValue)))
{
}

FileError::FileError(int errnoValue, QString path, QString description)
    : std::system_error(errnoValue, std::generic_category(), path.toStdString())
    , m_path(std::move(path))
    , m_description(std::move(description))
{
}

bool FileError::isPermissionError() const
{
    return code() == std::errc::permission_denied || code() == std::errc::operation_not_permitted;
}

bool FileError::isDiskFull() const { return code().value() == ENOSPC || code().value() == EDQUOT; }

namespace FileMoves {

namespace {

std::string native(const QString& path) { return QFile::encodeName(path).toStdString(); }

int renameFlags(const QString& from, const QString& to, unsigned flags)
{
    const std::string a = native(from);
    const std::string b = native(to);
    return ::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), flags) == 0 ? 0 : errno;
}

QString hiddenSibling(const QString& path, const char* tag)
{
    static thread_local std::mt19937 random{std::random_device{}()};
    const QFileInfo info(path);
    return info.dir().filePath(u'.' + info.fileName() + u'.' + QLatin1StringView(tag) + u'-'
                               + QString::number(random(), 36));
}

// Every folder of the tree must be writable, or removing the original after
// the copy would stop half-way and leave a gutted bundle behind.
int removableError(const fs::path& root)
{
    const fs::path parent = root.parent_path().empty() ? fs::path(".") : root.parent_path();
    if (::access(parent.c_str(), W_OK | X_OK) != 0)
        return errno;
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(root, ec)))
        return 0;
    if (::access(root.c_str(), W_OK | X_OK) != 0)
        return errno;
    for (fs::recursive_directory_iterator it(root, fs::directory_options::none, ec), end; !ec && it != end;
         it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec) && ::access(it->path().c_str(), W_OK | X_OK) != 0)
            return errno;
    }
    return ec ? ec.value() : 0;
}

// Gives `to` what `st` records of its original: the owner (only root may),
// then the mode (a change of owner clears set-id bits), then the times,
// last because every other change touches them.
int keepMetadata(const fs::path& to, const struct stat& st)
{
    if (::geteuid() == 0 && ::lchown(to.c_str(), st.st_uid, st.st_gid) != 0)
        return errno;
    if (!S_ISLNK(st.st_mode) && ::chmod(to.c_str(), st.st_mode & 07777) != 0)
        return errno;
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    return ::utimensat(AT_FDCWD, to.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}

// Makes `to` as a copy of the item at `from` (a folder empty, for now), and
// fills `st` with the original's status.
int copyItem(const fs::path& from, const fs::path& to, struct stat& st)
{
    if (::lstat(from.c_str(), &st) != 0)
        return errno;
    std::error_code ec;
    if (S_ISDIR(st.st_mode))
        return ::mkdir(to.c_str(), 0700) == 0 ? 0 : errno;
    if (S_ISLNK(st.st_mode)) {
        const fs::path target = fs::read_symlink(from, ec);
        if (ec)
            return ec.value();
        return ::symlink(target.c_str(), to.c_str()) == 0 ? 0 : errno;
    }
    if (!S_ISREG(st.st_mode))
        return ENOTSUP;
    fs::copy_file(from, to, fs::copy_options::none, ec);
    return ec ? ec.value() : 0;
}

// Copies the tree at `from` to `to`, links as links, each item keeping its
// mode and times, and its owner when run as root.
int copyTree(const fs::path& from, const fs::path& to)
{
    struct Folder {
        fs::path path;
        struct stat st;
    };
    std::vector<Folder> folders;
    struct stat st {};
    if (const int error = copyItem(from, to, st))
        return error;
    if (!S_ISDIR(st.st_mode))
        return keepMetadata(to, st);
    folders.push_back({to, st});
    std::error_code ec;
    for (fs::recursive_directory_iterator it(from, fs::directory_options::none, ec), end; !ec && it != end;
         it.increment(ec)) {
        const fs::path target = to / it->path().lexically_relative(from);
        struct stat item {};
        if (const int error = copyItem(it->path(), target, item))
            return error;
        if (S_ISDIR(item.st_mode))
            folders.push_back({target, item});
        else if (const int error = keepMetadata(target, item))
            return error;
    }
    if (ec)
        return ec.value();
    // Folders last, deepest first: a read-only folder is filled before it
    // becomes read-only, and filling a folder changes its modification time.
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder)
        if (const int error = keepMetadata(folder->path, folder->st))
            return error;
    return 0;
}

// Removes a partial copy, read-only folders included.
void removePartial(const fs::path& partial)
{
    std::error_code ec;
    if (fs::is_directory(fs::symlink_status(partial, ec))) {
        ::chmod(partial.c_str(), 0700);
        for (fs::recursive_directory_iterator it(partial, fs::directory_options::none, ec), end; !ec && it != end;
             it.increment(ec))
            if (it->is_directory(ec) && !it->is_symlink(ec))
                ::chmod(it->path().c_str(), 0700);
    }
    fs::remove_all(partial, ec);
}

void copyThenRemove(const QString& from, const QString& to)
{
    const fs::path source = native(from);
    if (const int error = removableError(source))
        throw FileError(error, from);

    const QString partial = hiddenSibling(to, "partial");
    if (const int error = copyTree(source, native(partial))) {
        removePartial(native(partial));
        throw FileError(error, from);
    }
    if (const int error = renameFlags(partial, to, RENAME_NOREPLACE)) {
        removePartial(native(partial));
        throw FileError(error, to);
    }
    std::error_code ec;
    fs::remove_all(source, ec);
    if (ec)
        throw FileError(ec.value(), from,
                        u"The copy is at "_s + to + u", but the original couldn't be removed ("_s
                            + QString::fromStdString(ec.message()) + u")."_s);
}

} // namespace

bool existsNoFollow(const QString& path)
{
    struct stat st {};
    return ::lstat(native(path).c_str(), &st) == 0;
}

void moveNoReplace(const QString& from, const QString& to)
{
    const int error = renameFlags(from, to, RENAME_NOREPLACE);
    if (error == 0)
        return;
    if (error != EXDEV)
        throw FileError(error, error == EEXIST ? to : from);
    if (existsNoFollow(to))
        throw FileError(EEXIST, to);
    copyThenRemove(from, to);
}

void exchange(const QString& a, const QString& b)
{
    if (const int error = renameFlags(a, b, RENAME_EXCHANGE))
        throw FileError(error, a);
}

QString diskOf(const QString& path)
{
    QString at = QDir::cleanPath(QDir(path).absolutePath());
    struct stat status {};
    while (::stat(native(at).c_str(), &status) != 0) {
        if (at == u"/"_s)
            return at;
        at = QFileInfo(at).path();
    }
    // Up the tree until the parent lies on another device.
    while (at != u"/"_s) {
        const QString parent = QFileInfo(at).path();
        struct stat above {};
        if (::stat(native(parent).c_str(), &above) != 0 || above.st_dev != status.st_dev)
            break;
        at = parent;
    }
    return at;
}

} // namespace FileMoves
} // namespace Hub

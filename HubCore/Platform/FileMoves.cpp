#include "Platform/FileMoves.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>

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

void copyThenRemove(const QString& from, const QString& to)
{
    const fs::path source = native(from);
    if (const int error = removableError(source))
        throw FileError(error, from);

    const QString partial = hiddenSibling(to, "partial");
    std::error_code ec;
    fs::copy(source, native(partial),
             fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
    if (!ec) {
        // Directories are created with the default mode; give them the source's.
        const auto status = fs::symlink_status(source, ec);
        if (!ec && fs::is_directory(status))
            fs::permissions(native(partial), status.permissions(), fs::perm_options::replace, ec);
    }
    if (ec) {
        std::error_code ignored;
        fs::remove_all(native(partial), ignored);
        throw FileError(ec.value(), from);
    }
    if (const int error = renameFlags(partial, to, RENAME_NOREPLACE)) {
        std::error_code ignored;
        fs::remove_all(native(partial), ignored);
        throw FileError(error, to);
    }
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

} // namespace FileMoves
} // namespace Hub

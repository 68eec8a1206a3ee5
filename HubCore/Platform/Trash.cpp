#include "Platform/Trash.h"

#include "Base/Places.h"
#include "Platform/FileMoves.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace Hub::Trash {

namespace {

constexpr int kMaxCandidates = 10000;

void makeFolder(const QString& path)
{
    // The Trash holds what the user threw away: private to them, like the
    // file managers create it.
    QString built;
    const QStringList pieces = path.split(u'/');
    for (const QString& piece : pieces) {
        built = built.isEmpty() && piece.isEmpty() ? u"/"_s : QDir(built).filePath(piece);
        if (piece.isEmpty())
            continue;
        if (::mkdir(QFile::encodeName(built).constData(), 0700) != 0 && errno != EEXIST)
            throw FileError(errno, built);
    }
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        throw FileError(errno, path);
    if (!S_ISDIR(st.st_mode))
        throw FileError(ENOTDIR, path);
}

// Claims an info file name with O_EXCL so that two removals at once never
// pick the same name; false when the name is taken.
bool claimInfo(const QString& infoPath, const QByteArray& content)
{
    const int fd = ::open(QFile::encodeName(infoPath).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (errno == EEXIST)
            return false;
        throw FileError(errno, infoPath);
    }
    qsizetype written = 0;
    while (written < content.size()) {
        const ssize_t n = ::write(fd, content.constData() + written, size_t(content.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : EIO;
            ::close(fd);
            ::unlink(QFile::encodeName(infoPath).constData());
            throw FileError(error, infoPath);
        }
        written += n;
    }
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(QFile::encodeName(infoPath).constData());
        throw FileError(error, infoPath);
    }
    return true;
}

} // namespace

QString folder(const QString& home) { return Places::path(Places::Place::trash, home); }

QString candidateName(const QString& name, int number)
{
    if (number < 2)
        return name;
    const qsizetype dot = name.lastIndexOf(u'.');
    // A leading dot names a hidden file, not an extension.
    if (dot <= 0 || dot == name.size() - 1)
        return name + u' ' + QString::number(number);
    return name.left(dot) + u' ' + QString::number(number) + name.mid(dot);
}

QByteArray trashInfo(const QString& originalPath, const QDateTime& deletionDate)
{
    return "[Trash Info]\nPath=" + QUrl::toPercentEncoding(originalPath, "/") + "\nDeletionDate="
           + deletionDate.toLocalTime().toString(u"yyyy-MM-ddTHH:mm:ss"_s).toLatin1() + '\n';
}

QString moveToTrash(const QString& path, const QString& home)
{
    return moveToTrash(path, home, QDateTime::currentDateTime());
}

QString moveToTrash(const QString& path, const QString& home, const QDateTime& deletionDate)
{
    const QString original = QFileInfo(path).absoluteFilePath();
    if (!FileMoves::existsNoFollow(original))
        throw FileError(ENOENT, original);
    const QString name = QFileInfo(original).fileName();
    if (name.isEmpty() || name == u"."_s || name == u".."_s)
        throw FileError(EINVAL, original);

    const QString trash = folder(home);
    const QString files = QDir(trash).filePath(u"files"_s);
    const QString info = QDir(trash).filePath(u"info"_s);
    makeFolder(files);
    makeFolder(info);

    const QByteArray content = trashInfo(original, deletionDate);
    for (int number = 1; number <= kMaxCandidates; ++number) {
        const QString candidate = candidateName(name, number);
        const QString target = QDir(files).filePath(candidate);
        const QString infoPath = QDir(info).filePath(candidate + u".trashinfo"_s);
        if (FileMoves::existsNoFollow(target) || !claimInfo(infoPath, content))
            continue;
        try {
            FileMoves::moveNoReplace(original, target);
            return target;
        } catch (const FileError& error) {
            ::unlink(QFile::encodeName(infoPath).constData());
            // Someone put an item of that name into files/ meanwhile: try the next.
            if (error.code() == std::errc::file_exists && error.path() == target)
                continue;
            throw;
        }
    }
    throw FileError(EEXIST, QDir(files).filePath(name));
}

} // namespace Hub::Trash

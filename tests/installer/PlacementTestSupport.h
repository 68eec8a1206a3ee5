#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QString>
#include <QStringList>

#include <filesystem>
#include <stdexcept>
#include <string>

#include <sys/stat.h>

// Helpers shared by the placement and backup tests: a digest of a whole
// tree, so "nothing changed" compares every byte, mode, owner and link.
namespace Hub::Test {

inline std::filesystem::path nativePath(const QString& path)
{
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

// One line per item below `root` (the root itself included): relative path,
// type, mode, owner, then the content's SHA-256 or the link's target. A
// missing root gives "<absent>".
inline QStringList treeListing(const QString& root)
{
    namespace fs = std::filesystem;
    QStringList lines;
    const fs::path base = nativePath(root);
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(base, ec)))
        return {QStringLiteral("<absent>")};

    auto describe = [&](const fs::path& path, const QString& relative) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0)
            throw std::runtime_error("lstat failed: " + path.string());
        QString line = relative + u' ' + QString::number(st.st_mode, 8) + u' ' + QString::number(st.st_uid);
        if (S_ISLNK(st.st_mode)) {
            line += QStringLiteral(" -> ") + QFile::decodeName(fs::read_symlink(path).c_str());
        } else if (S_ISREG(st.st_mode)) {
            QFile file(QFile::decodeName(path.c_str()));
            if (!file.open(QIODevice::ReadOnly))
                throw std::runtime_error("unreadable: " + path.string());
            line += u' ' + QString::fromLatin1(QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex());
        }
        lines.append(line);
    };

    describe(base, QStringLiteral("."));
    if (fs::is_directory(fs::symlink_status(base))) {
        for (fs::recursive_directory_iterator it(base), end; it != end; ++it)
            describe(it->path(), QFile::decodeName(it->path().lexically_relative(base).c_str()));
    }
    lines.sort();
    return lines;
}

inline QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline void writeAll(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

// Entries of a folder whose names contain the spare marker.
inline QStringList spareNames(const QString& folder)
{
    QStringList names;
    for (const QString& name : QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        if (name.contains(QStringLiteral(".hub-new-")))
            names.append(name);
    return names;
}

// Runs this test executable again as user and group 65534 with no
// supplementary groups; the child carries out the subject described by the
// key/value file `job` (see PlacementAsUserTest.cpp) and exits. Returns the
// child's exit status (-1 when it could not run).
int runSubjectAsNobody(const QString& job);

// Reads and writes the subject's key/value files: one "key=value" per line.
inline void writeJob(const QString& path, const QMap<QString, QString>& values)
{
    QByteArray text;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        text += it.key().toUtf8() + '=' + it.value().toUtf8() + '\n';
    writeAll(path, text);
}

inline QMap<QString, QString> readJob(const QString& path)
{
    QMap<QString, QString> values;
    for (const QString& line : QString::fromUtf8(readAll(path)).split(u'\n', Qt::SkipEmptyParts)) {
        const qsizetype equals = line.indexOf(u'=');
        if (equals > 0)
            values.insert(line.left(equals), line.mid(equals + 1));
    }
    return values;
}

} // namespace Hub::Test

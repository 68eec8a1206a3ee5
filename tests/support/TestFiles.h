#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include <sys/stat.h>

// Small file helpers the tests of several areas had each written for
// themselves. Two families, kept apart because they fail differently:
// readAll/writeAll throw (usable outside a test body, e.g. in a subject
// process), readFile/writeFile report through gtest and let the test go on.
namespace Hub::Test {

inline std::filesystem::path nativePath(const QString& path)
{
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

// A digest of a whole tree, so "nothing changed" compares every byte, mode,
// owner and link: one line per item below `root` (the root itself included):
// relative path, type, mode, owner, then the content's SHA-256 or the link's
// target. A missing root gives "<absent>".
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

// The file's bytes; empty when it cannot be read.
inline QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writes `bytes`, making the parent folders first; throws when it cannot.
inline void writeAll(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

// The file's bytes, or "<missing>" so that an absent file reads plainly in
// an EXPECT_EQ failure instead of as an empty file.
inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Writes `content`, making the parent folders first; a file that cannot be
// opened fails the test. `executable` adds the owner's execute bit.
inline void writeFile(const QString& path, const QByteArray& content, bool executable = false)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
    file.close();
    if (executable)
        file.setPermissions(file.permissions() | QFile::ExeOwner);
}

// `size` bytes that do not compress, the same for the same seed.
inline QByteArray noise(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& byte : bytes) {
        seed = seed * 1664525u + 1013904223u;
        byte = char(seed >> 24);
    }
    return bytes;
}

// A folder's entries by name, hidden ones included.
inline QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace Hub::Test

#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace Hub::Fuzz {

inline QByteArray bytesOf(const std::uint8_t* data, std::size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

// Ends the run with a finding: libFuzzer keeps the input that made it.
[[noreturn]] inline void finding(const char* what, const QString& detail = {})
{
    std::fprintf(stderr, "fuzz finding: %s %s\n", what, qPrintable(detail));
    std::abort();
}

// A private folder for one fuzzing process, emptied after every input.
class Scratch {
public:
    Scratch()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "hub-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            finding("no scratch folder");
        m_root = pattern;
    }
    ~Scratch() { std::filesystem::remove_all(m_root); }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    QString path(const char* name) const { return QFile::decodeName((m_root / name).c_str()); }

    void write(const char* name, const QByteArray& bytes) const
    {
        QFile file(path(name));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
            finding("cannot write the input");
    }

    // The names at the top of the folder: anything but what the target made
    // there came out of an archive that escaped its folder.
    QStringList topLevel() const
    {
        QStringList names;
        for (const auto& entry : std::filesystem::directory_iterator(m_root))
            names.append(QFile::decodeName(entry.path().filename().c_str()));
        names.sort();
        return names;
    }

    void clear() const
    {
        for (const auto& entry : std::filesystem::directory_iterator(m_root))
            std::filesystem::remove_all(entry.path());
    }

    // Every path below `name`, relative to it, without following links.
    QStringList treeBelow(const char* name) const
    {
        QStringList paths;
        const std::filesystem::path top = m_root / name;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(
                 top, std::filesystem::directory_options::skip_permission_denied))
            paths.append(QFile::decodeName(entry.path().lexically_relative(top).c_str()));
        return paths;
    }

private:
    std::filesystem::path m_root;
};

} // namespace Hub::Fuzz

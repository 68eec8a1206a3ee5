#pragma once

#include <QByteArray>
#include <QString>

#include <map>
#include <optional>
#include <stdexcept>
#include <vector>

namespace Hub {

// One sealed entry of a bundle: a regular file (mode, size, SHA-256), a
// folder (mode) or a symbolic link (its target, exactly as stored).
struct SealedEntry {
    enum class Kind { file, directory, symlink };

    Kind kind = Kind::file;
    // Permission bits (07777) as they were when sealed; files and folders only.
    quint32 mode = 0;
    // Files only.
    qint64 size = 0;
    QByteArray sha256; // lower-case hex; empty until digested
    // Symbolic links only.
    QString target;

    friend bool operator==(const SealedEntry&, const SealedEntry&) = default;
};

// The manifest a signature covers, stored as "Contents/_CodeSignature/CodeResources":
// every entry below the bundle folder by its '/'-separated relative path,
// except the "Contents/_CodeSignature" folder itself, plus the identifier the
// bundle was signed with.
//
// Its bytes are canonical JSON (compact, keys sorted):
//   {"format":1,"identifier":"<id>","resources":{"<path>":{...},...}}
// with entries {"mode":<int>,"sha256":"<hex>","size":<int>,"type":"file"},
// {"mode":<int>,"type":"directory"} or {"target":"<text>","type":"symlink"}.
// A manifest is accepted only in exactly that form, so one manifest has one
// reading and a signed manifest cannot be reinterpreted.
class CodeResources {
public:
    static constexpr int kFormat = 1;
    // The mode bits that verification compares: every execute bit and the
    // set-id and sticky bits. Read and write bits are left out on purpose:
    // the all-users placement strips group and other write access before it
    // verifies, and neither changes what the sealed code does.
    static constexpr quint32 kSealedModeBits = 07111;
    static constexpr qint64 kMaxManifestBytes = 64 * 1024 * 1024;

    // A bundle's contents could not be listed: a folder that can't be read,
    // a special file, a name that isn't UTF-8.
    struct ScanError : std::runtime_error {
        explicit ScanError(const QString& detail) : std::runtime_error(detail.toStdString()), detail(detail) {}
        QString detail;
    };

    struct Digest {
        QByteArray sha256; // empty on failure
        qint64 size = 0;
        QString error; // why the file could not be read
    };

    QString identifier;
    std::map<QString, SealedEntry> entries;

    // Lists the bundle without following any symbolic link. File digests are
    // left empty; digest() fills them. Throws ScanError.
    static CodeResources scan(const QString& bundle);

    // SHA-256 of each listed file, read in fixed-size blocks on a few
    // threads; symbolic links are never followed. Results in input order.
    static std::vector<Digest> digest(const QString& bundle, const std::vector<QString>& relativePaths);

    // Fills in every file's digest. Throws ScanError when a file can't be read.
    void digestAll(const QString& bundle);

    QByteArray toJson() const;
    // None (with the reason in *error) unless the bytes are a manifest in
    // exactly the canonical form above.
    static std::optional<CodeResources> fromJson(const QByteArray& bytes, QString* error = nullptr);

    // True when the path names the signature folder or something in it.
    static bool isSignatureFolder(const QString& relativePath);
};

} // namespace Hub

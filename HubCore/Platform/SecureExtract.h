#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <map>
#include <stdexcept>

// Extraction of an archive that comes from elsewhere (a download, a backup,
// a disk image, a package's payload) into a folder, so that nothing of it
// lands outside that folder. The whole archive is read and checked before
// anything is written: an absolute path, "..", a special file, a hard link
// to anything but a regular file of the archive, an entry that appears twice
// (folders excepted), a symbolic link that leaves the folder or a path
// through one of the archive's own links or files refuses the whole archive.
// Entries are written without set-id or sticky bits and without their
// recorded owners. Nothing is written from an archive whose declared sizes
// exceed a cap or the folder's free space, an entry whose data outgrows its
// declared size stops the extraction at once, and every write must land in
// full: a failed extraction never leaves a file padded where its data failed.
namespace Hub::SecureExtract {

// The most the regular files of one archive may declare in all: no plug-in
// or installer payload comes near it, and a small download that claims more
// is a bomb.
inline constexpr qint64 kMaxDeclaredBytes = 8'000'000'000;

enum class Formats {
    zip,      // zip only
    zipOrTar, // zip, tar or GNU tar, each optionally gzip-compressed
};

// Why an archive was refused or could not be written: "<subject>: <reason>",
// the subject being the entry, the archive or the folder. The two halves are
// kept apart so that a caller can word a refusal its own way.
class Error : public std::runtime_error {
public:
    enum class Kind {
        other,
        hardLinkOutside, // a hard link whose target names a path outside the folder
        diskFull,        // the folder's file system has no room (ENOSPC, EDQUOT, or too little free space)
        tooLarge,        // the declared sizes exceed the cap
        moreThanDeclared, // an entry's data outgrew the size it declared
    };

    Error(Kind kind, const QString& subject, const QString& reason)
        : std::runtime_error(QString(subject + QStringLiteral(": ") + reason).toStdString())
        , m_kind(kind)
        , m_subject(subject)
        , m_reason(reason)
    {
    }
    Kind kind() const { return m_kind; }
    const QString& subject() const { return m_subject; }
    const QString& reason() const { return m_reason; }
    QString message() const { return m_subject + QStringLiteral(": ") + m_reason; }

private:
    Kind m_kind;
    QString m_subject;
    QString m_reason;
};

// What extraction wrote into each regular file, by relative path: its size
// and the SHA-256 (lower-case hex) of the bytes as they were written, each
// write having landed whole and the file's size on disk having been checked,
// so that a caller extracting into a folder only it can write need not read
// them back to check them. A file whose data came in pieces out of order (a
// sparse entry) is left out.
struct WrittenFiles {
    struct File {
        qint64 size = 0;
        QByteArray sha256;
    };
    std::map<QString, File> files;
};

// An archive every entry of which passed the checks; extract() takes only
// this, so nothing is written from an archive that was not checked first.
class Checked {
public:
    // The relative paths extraction makes, with the parent folders the
    // archive leaves implicit, parents before children.
    const QStringList& made() const { return m_made; }
    // What the regular files declare, summed.
    qint64 declaredBytes() const { return m_declared; }

private:
    friend Checked check(const QString& archive, Formats formats, qint64 maxBytes);
    friend void extract(const Checked& archive, const QString& folder, WrittenFiles* written);

    Checked(const QString& archive, Formats formats, const QStringList& made, const QStringList& listed,
            qint64 declared, qint64 maxBytes)
        : m_archive(archive)
        , m_formats(formats)
        , m_made(made)
        , m_listed(listed)
        , m_declared(declared)
        , m_maxBytes(maxBytes)
    {
    }

    QString m_archive;
    Formats m_formats;
    QStringList m_made;
    QStringList m_listed; // the entries as the archive lists them, in order
    qint64 m_declared = 0;
    qint64 m_maxBytes = 0; // what extraction may write, sizes declared or not
};

// Reads every entry of `archive` without writing anything. Throws Error,
// of kind tooLarge as soon as the declared sizes pass `maxBytes`.
Checked check(const QString& archive, Formats formats, qint64 maxBytes = kMaxDeclaredBytes);

// Writes a checked archive into `folder`, which must exist. Throws Error
// when any entry is damaged (a bad checksum, data of the wrong size), when
// the entries written differ from those checked, or when writing fails (of
// kind diskFull when the declared sizes, with a block per entry and a margin,
// exceed the folder's free space, or a write ran out of room; of kind
// moreThanDeclared at the first block past an entry's declared size, and
// tooLarge once the bytes written pass the cap the archive was checked
// against); a
// failure removes whatever this call made, so `folder` keeps only what it
// held before (a file of the archive that replaced one of the same name
// is gone too). With `written`, fills it in as above.
void extract(const Checked& archive, const QString& folder, WrittenFiles* written = nullptr);

} // namespace Hub::SecureExtract

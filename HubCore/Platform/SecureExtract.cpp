#include "Platform/SecureExtract.h"

#include "Platform/OpenSslHandles.h"

#include <QFile>

#include <archive.h>
#include <archive_entry.h>

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <vector>

using namespace Qt::StringLiterals;

namespace Hub::SecureExtract {

namespace {

constexpr int kMaxLinkHops = 40;
constexpr int kMaxEmptyBlocks = 16;
// What a file system may spend beyond an entry's bytes: a partly used block
// for each entry, and a sixty-fourth of the data for indirect blocks and
// the like.
constexpr qint64 kBlockPerEntry = 4096;
constexpr qint64 kOverheadShare = 64;

using ReadPtr = std::unique_ptr<archive, decltype(&archive_read_free)>;
using WritePtr = std::unique_ptr<archive, decltype(&archive_write_free)>;

using Kind = Error::Kind;

std::string native(const QString& path) { return QFile::encodeName(path).toStdString(); }

QString fromNative(const char* text) { return QFile::decodeName(text ? text : ""); }

QString archiveError(archive* handle)
{
    const char* text = archive_error_string(handle);
    return text ? QString::fromUtf8(text) : u"unknown archive error"_s;
}

[[noreturn]] void refuse(const QString& subject, const QString& reason, Kind kind = Kind::other)
{
    throw Error(kind, subject, reason);
}

bool isNoSpace(int error) { return error == ENOSPC || error == EDQUOT; }

// A write to the disk that failed: out of room, or anything else.
[[noreturn]] void refuseWrite(const QString& subject, archive* disk)
{
    refuse(subject, archiveError(disk), isNoSpace(archive_errno(disk)) ? Kind::diskFull : Kind::other);
}

QString megabytes(qint64 bytes) { return QString::number(double(bytes) / 1e6, 'f', 1) + u" MB"_s; }

QStringList pieces(const QString& path) { return path.split(u'/', Qt::SkipEmptyParts); }

std::optional<QString> checkedPath(const char* raw)
{
    const QString path = fromNative(raw);
    if (path.isEmpty() || path.startsWith(u'/'))
        return std::nullopt;
    QStringList kept;
    for (const QString& piece : pieces(path)) {
        if (piece == ".."_L1)
            return std::nullopt;
        if (piece != "."_L1)
            kept.append(piece);
    }
    if (kept.isEmpty())
        return std::nullopt;
    return kept.join(u'/');
}

// Resolves a link's target through the archive's own links; false when it
// would leave the extraction folder at any step.
bool staysInside(const QString& linkPath, const QString& target, const std::map<QString, QString>& links)
{
    if (target.isEmpty() || target.startsWith(u'/'))
        return false;
    QStringList stack = pieces(linkPath);
    stack.removeLast();
    std::deque<QString> pending;
    for (const QString& piece : pieces(target))
        pending.push_back(piece);
    int hops = 0;
    while (!pending.empty()) {
        const QString piece = pending.front();
        pending.pop_front();
        if (piece == "."_L1)
            continue;
        if (piece == ".."_L1) {
            if (stack.isEmpty())
                return false;
            stack.removeLast();
            continue;
        }
        stack.append(piece);
        const auto link = links.find(stack.join(u'/'));
        if (link == links.end())
            continue;
        if (++hops > kMaxLinkHops || link->second.isEmpty() || link->second.startsWith(u'/'))
            return false;
        stack.removeLast();
        const QStringList more = pieces(link->second);
        pending.insert(pending.begin(), more.begin(), more.end());
    }
    return true;
}

ReadPtr openArchive(const QString& path, Formats formats)
{
    ReadPtr reader(archive_read_new(), archive_read_free);
    if (!reader)
        throw std::bad_alloc();
    archive_read_support_format_zip(reader.get());
    if (formats == Formats::zipOrTar) {
        archive_read_support_format_tar(reader.get());
        archive_read_support_format_gnutar(reader.get());
        archive_read_support_filter_gzip(reader.get());
        archive_read_support_filter_none(reader.get());
    }
    if (archive_read_open_filename(reader.get(), native(path).c_str(), 1 << 16) != ARCHIVE_OK)
        refuse(path, archiveError(reader.get()));
    return reader;
}

struct Surveyed {
    QString path;
    unsigned type = 0;
};

} // namespace

Checked check(const QString& archivePath, Formats formats, qint64 maxBytes)
{
    ReadPtr reader = openArchive(archivePath, formats);
    std::vector<Surveyed> entries;
    std::map<QString, QString> links;
    std::map<QString, unsigned> types;
    qint64 declared = 0;
    archive_entry* entry = nullptr;
    for (;;) {
        const int r = archive_read_next_header(reader.get(), &entry);
        if (r == ARCHIVE_EOF)
            break;
        if (r < ARCHIVE_WARN)
            refuse(archivePath, archiveError(reader.get()));
        const char* raw = archive_entry_pathname(entry);
        const std::optional<QString> path = checkedPath(raw);
        if (!path)
            refuse(fromNative(raw), u"refusing a path outside the destination"_s);
        const unsigned type = unsigned(archive_entry_filetype(entry));
        if (const char* hard = archive_entry_hardlink(entry)) {
            const std::optional<QString> target = checkedPath(hard);
            if (!target)
                refuse(*path, u"refusing a hard link outside the destination"_s, Kind::hardLinkOutside);
            // Only to a file already written: a link to a folder or to a
            // symbolic link would be one more way out.
            const auto known = types.find(*target);
            if (known == types.end() || known->second != AE_IFREG)
                refuse(*path, u"refusing a hard link to anything but a file of the archive"_s);
        } else if (type == AE_IFLNK) {
            links[*path] = fromNative(archive_entry_symlink(entry));
        } else if (type != AE_IFREG && type != AE_IFDIR) {
            refuse(*path, u"refusing a special file"_s);
        }
        const auto [previous, fresh] = types.emplace(*path, archive_entry_hardlink(entry) ? AE_IFREG : type);
        if (!fresh && !(previous->second == AE_IFDIR && type == AE_IFDIR))
            refuse(*path, u"refusing an entry that appears twice"_s);
        // Summed as each header comes, so a bomb is refused before the
        // reader even skips its data.
        if (type == AE_IFREG && !archive_entry_hardlink(entry) && archive_entry_size_is_set(entry)) {
            const la_int64_t size = archive_entry_size(entry);
            if (size < 0 || size > maxBytes - declared)
                refuse(archivePath, u"refusing an archive that unpacks to more than "_s + megabytes(maxBytes),
                       Kind::tooLarge);
            declared += size;
        }
        entries.push_back({*path, type});
        if (archive_read_data_skip(reader.get()) < ARCHIVE_WARN)
            refuse(archivePath, archiveError(reader.get()));
    }

    QStringList made;
    QStringList listed;
    std::set<QString> seen;
    for (const Surveyed& info : entries) {
        // Nothing may be written through a link or a file of the archive itself.
        const QStringList parts = pieces(info.path);
        for (qsizetype n = 1; n < parts.size(); ++n) {
            const QString prefix = parts.mid(0, n).join(u'/');
            if (links.count(prefix))
                refuse(info.path, u"refusing a path through a symbolic link"_s);
            const auto type = types.find(prefix);
            if (type != types.end() && type->second != AE_IFDIR)
                refuse(info.path, u"refusing a path through a file"_s);
            if (seen.insert(prefix).second)
                made.append(prefix);
        }
        if (info.type == AE_IFLNK && !staysInside(info.path, links[info.path], links))
            refuse(info.path, u"refusing a symbolic link to "_s + links[info.path] + u" outside the destination"_s);
        if (seen.insert(info.path).second)
            made.append(info.path);
        listed.append(info.path);
    }
    return Checked(archivePath, formats, made, listed, declared, maxBytes);
}

namespace {

// What extraction made, so that a failure can take it away again: the
// topmost paths of the archive that did not exist before.
class Undo {
public:
    Undo(const QString& root, const QStringList& made)
    {
        std::set<QString> fresh;
        for (const QString& path : made) {
            const qsizetype slash = path.lastIndexOf(u'/');
            if (slash > 0 && fresh.count(path.left(slash))) {
                fresh.insert(path);
                continue;
            }
            struct stat st {};
            if (::lstat(native(root + u'/' + path).c_str(), &st) != 0 && errno == ENOENT) {
                fresh.insert(path);
                m_fresh.push_back(std::filesystem::path(native(root + u'/' + path)));
            }
        }
    }
    ~Undo()
    {
        if (m_done)
            return;
        for (const std::filesystem::path& path : m_fresh) {
            std::error_code ec;
            std::filesystem::remove_all(path, ec);
        }
    }
    void keep() { m_done = true; }

private:
    std::vector<std::filesystem::path> m_fresh;
    bool m_done = false;
};

} // namespace

namespace {

// The SHA-256 of one entry's data as it is written, block by block.
class WrittenDigest {
public:
    WrittenDigest()
        : m_context(EVP_MD_CTX_new())
    {
        m_inOrder = m_context && EVP_DigestInit_ex(m_context.get(), EVP_sha256(), nullptr) == 1;
    }

    void add(const void* block, size_t size, la_int64_t offset)
    {
        // A hole or a block out of order: the bytes on disk are no longer
        // the ones hashed in sequence, so this file goes without a digest.
        if (!m_inOrder || offset != m_size || EVP_DigestUpdate(m_context.get(), block, size) != 1) {
            m_inOrder = false;
            return;
        }
        m_size += la_int64_t(size);
    }

    std::optional<WrittenFiles::File> finish(la_int64_t size)
    {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        if (!m_inOrder || m_size != size || EVP_DigestFinal_ex(m_context.get(), digest, &length) != 1)
            return std::nullopt;
        return WrittenFiles::File{qint64(size), QByteArray(reinterpret_cast<const char*>(digest), int(length)).toHex()};
    }

private:
    OpenSsl::MdContext m_context;
    la_int64_t m_size = 0;
    bool m_inOrder = false;
};

} // namespace

namespace {

// Refuses, before anything is written, an archive whose declared sizes do
// not fit the folder's free space with room to spare.
void checkRoom(const Checked& checked, const QString& root, qsizetype entries)
{
    struct statvfs disk {};
    if (::statvfs(native(root).c_str(), &disk) != 0)
        refuse(root, QString::fromLocal8Bit(std::strerror(errno)));
    const qint64 free = qint64(disk.f_bavail) * qint64(disk.f_frsize);
    const qint64 needed = checked.declaredBytes() + checked.declaredBytes() / kOverheadShare
                          + qint64(entries) * kBlockPerEntry;
    if (needed > free)
        refuse(root, u"the archive needs "_s + megabytes(needed) + u" and the disk has "_s + megabytes(free)
                         + u" free"_s,
               Kind::diskFull);
}

// Whether the file just written holds exactly `size` bytes: a write that
// failed unseen, or a file padded to its declared size, shows here.
void checkLanded(const QString& relative, const QString& path, la_int64_t size)
{
    struct stat status {};
    if (::lstat(native(path).c_str(), &status) != 0)
        refuse(relative, QString::fromLocal8Bit(std::strerror(errno)), isNoSpace(errno) ? Kind::diskFull : Kind::other);
    if (!S_ISREG(status.st_mode) || la_int64_t(status.st_size) != size)
        refuse(relative, u"the file on disk is not what was written"_s);
}

} // namespace

void extract(const Checked& checked, const QString& folder, WrittenFiles* written)
{
    const QString& archivePath = checked.m_archive;
    char resolved[PATH_MAX];
    if (!::realpath(native(folder).c_str(), resolved))
        refuse(folder, QString::fromLocal8Bit(std::strerror(errno)));
    // The destination has no link in its path, so the secure flags below
    // guard exactly the links the archive itself makes.
    const QString root = fromNative(resolved);
    checkRoom(checked, root, checked.m_listed.size());
    Undo undo(root, checked.m_made);

    ReadPtr reader = openArchive(archivePath, checked.m_formats);
    WritePtr disk(archive_write_disk_new(), archive_write_free);
    archive_write_disk_set_options(disk.get(), ARCHIVE_EXTRACT_SECURE_NODOTDOT | ARCHIVE_EXTRACT_SECURE_SYMLINKS
                                                   | ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_TIME);
    archive_entry* entry = nullptr;
    qsizetype read = 0;
    qint64 total = 0;
    for (;;) {
        // After a damaged entry libarchive may end the archive early, so the
        // entries read are held against the ones checked.
        const int r = archive_read_next_header(reader.get(), &entry);
        if (r == ARCHIVE_EOF)
            break;
        if (r < ARCHIVE_WARN)
            refuse(archivePath, archiveError(reader.get()));
        const QString relative = checkedPath(archive_entry_pathname(entry)).value_or(QString());
        if (read >= checked.m_listed.size() || checked.m_listed[read] != relative)
            refuse(archivePath, u"the archive changed while it was read"_s);
        ++read;
        const QString target = root + u'/' + relative;
        archive_entry_set_pathname(entry, native(target).c_str());
        if (const char* hard = archive_entry_hardlink(entry))
            archive_entry_set_hardlink(entry, native(root + u'/' + checkedPath(hard).value_or(QString())).c_str());
        // A plug-in never needs set-user-ID, set-group-ID or sticky bits, and
        // an extraction as root would otherwise keep them.
        archive_entry_set_perm(entry, archive_entry_perm(entry) & 0777);
        if (archive_write_header(disk.get(), entry) < ARCHIVE_WARN)
            refuseWrite(relative, disk.get());
        const bool regular = !archive_entry_hardlink(entry) && archive_entry_filetype(entry) == AE_IFREG;
        // Negative when the archive does not say (a zip streamed with the
        // sizes after the data).
        const la_int64_t declared = archive_entry_size_is_set(entry) ? archive_entry_size(entry) : -1;
        WrittenDigest digest;
        la_int64_t end = 0;
        if (archive_entry_size(entry) > 0) {
            const void* block = nullptr;
            size_t size = 0;
            la_int64_t offset = 0;
            int empty = 0;
            for (;;) {
                const int d = archive_read_data_block(reader.get(), &block, &size, &offset);
                if (d == ARCHIVE_EOF)
                    break;
                // A bad checksum or a wrong data size is a mere warning to
                // libarchive; here it is a damaged archive.
                if (d != ARCHIVE_OK)
                    refuse(relative, archiveError(reader.get()));
                // Never spin on a reader that returns nothing and no end.
                if (size == 0 && ++empty > kMaxEmptyBlocks)
                    refuse(relative, u"the archive can't be read"_s);
                // Stopped at the first block past the declared size: a bomb
                // that lies about its sizes writes no more than it declared.
                const la_int64_t blockEnd = offset + la_int64_t(size);
                if (offset < 0 || (declared >= 0 && blockEnd > declared))
                    refuse(relative, u"refusing an entry whose data is larger than it declares"_s,
                           Kind::moreThanDeclared);
                total += qint64(std::max<la_int64_t>(blockEnd - end, 0));
                if (total > checked.m_maxBytes)
                    refuse(archivePath, u"refusing an archive that unpacks to more than "_s
                                            + megabytes(checked.m_maxBytes),
                           Kind::tooLarge);
                // libarchive calls a failed or short write a warning and
                // later pads the file to its declared size with zeros; here
                // anything but the whole block written fails the extraction.
                if (archive_write_data_block(disk.get(), block, size, offset) != ARCHIVE_OK)
                    refuseWrite(relative, disk.get());
                // Only bytes that reached the file count towards its digest.
                if (written && regular)
                    digest.add(block, size, offset);
                end = std::max(end, blockEnd);
            }
            if (declared >= 0 && end != declared)
                refuse(relative, u"the archive is damaged (the data has the wrong size)"_s);
        }
        if (archive_write_finish_entry(disk.get()) != ARCHIVE_OK)
            refuseWrite(relative, disk.get());
        if (regular) {
            checkLanded(relative, target, end);
            if (written) {
                if (const auto file = digest.finish(end))
                    written->files.insert_or_assign(relative, *file);
            }
        }
    }
    if (read != checked.m_listed.size())
        refuse(archivePath, u"the archive is damaged (entries are missing)"_s);
    if (archive_write_close(disk.get()) != ARCHIVE_OK)
        refuseWrite(folder, disk.get());
    undo.keep();
}

} // namespace Hub::SecureExtract

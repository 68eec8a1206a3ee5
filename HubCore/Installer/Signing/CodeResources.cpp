#include "Installer/Signing/CodeResources.h"

#include "Platform/OpenSslHandles.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringDecoder>

#include <openssl/evp.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace Hub {

namespace {

constexpr auto kSignatureFolder = "Contents/_CodeSignature"_L1;
// Small enough that each block the kernel copies is still in the cache when
// SHA-256 reads it; a 1 MiB buffer sent every byte to memory and back and
// made the check about 1.4x slower than the hashing alone.
constexpr size_t kReadBlock = 64 * 1024;

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

std::optional<QString> fromUtf8Strict(const std::string& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

// The processors this process may run on: a process pinned to one gets one
// hashing thread rather than eight taking turns.
size_t usableProcessors()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return size_t(CPU_COUNT(&set));
    return std::max(1u, std::thread::hardware_concurrency());
}

CodeResources::Digest digestFile(const std::string& path, std::vector<unsigned char>& buffer)
{
    CodeResources::Digest result;
    // O_NONBLOCK keeps a FIFO swapped in for a file from stalling the open.
    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        result.error = errnoText(errno);
        return result;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        result.error = u"not a regular file"_s;
        return result;
    }
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    const OpenSsl::MdContext context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
        result.error = u"SHA-256 is not available"_s;
        return result;
    }
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR)
                continue;
            result.error = errnoText(errno);
            return result;
        }
        if (got == 0)
            break;
        if (EVP_DigestUpdate(context.get(), buffer.data(), size_t(got)) != 1) {
            result.error = u"SHA-256 failed"_s;
            return result;
        }
        result.size += got;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) {
        result.error = u"SHA-256 failed"_s;
        return result;
    }
    result.sha256 = QByteArray(reinterpret_cast<const char*>(digest), int(length)).toHex();
    return result;
}

bool isCanonicalRelativePath(const QString& path)
{
    if (path.isEmpty() || path.startsWith(u'/') || path.endsWith(u'/') || path.contains(QChar(0)))
        return false;
    const QStringList parts = path.split(u'/');
    return std::none_of(parts.begin(), parts.end(), [](const QString& part) {
        return part.isEmpty() || part == "."_L1 || part == ".."_L1;
    });
}

bool isIntegral(const QJsonValue& value, qint64 low, qint64 high)
{
    if (!value.isDouble())
        return false;
    const double d = value.toDouble();
    return d >= double(low) && d <= double(high) && double(value.toInteger()) == d;
}

QString kindName(SealedEntry::Kind kind)
{
    switch (kind) {
    case SealedEntry::Kind::file:
        return u"file"_s;
    case SealedEntry::Kind::directory:
        return u"directory"_s;
    case SealedEntry::Kind::symlink:
        return u"symlink"_s;
    }
    return {};
}

} // namespace

bool CodeResources::isSignatureFolder(const QString& relativePath)
{
    return relativePath == kSignatureFolder || relativePath.startsWith(kSignatureFolder + u'/');
}

CodeResources CodeResources::scan(const QString& bundle)
{
    namespace fs = std::filesystem;
    CodeResources resources;
    const fs::path root(bundle.toStdString());
    std::error_code error;
    fs::recursive_directory_iterator it(root, fs::directory_options::none, error);
    if (error)
        throw ScanError(u"can't read the bundle folder: "_s + QString::fromStdString(error.message()));
    for (; it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (error)
            break;
        const fs::path& path = it->path();
        const std::optional<QString> relative = fromUtf8Strict(path.lexically_relative(root).generic_string());
        if (!relative)
            throw ScanError(u"a file name isn't UTF-8: "_s + QString::fromLocal8Bit(path.generic_string()));
        if (isSignatureFolder(*relative)) {
            it.disable_recursion_pending();
            continue;
        }
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0)
            throw ScanError(u"can't read "_s + *relative + u": "_s + errnoText(errno));
        SealedEntry entry;
        if (S_ISREG(info.st_mode)) {
            entry.kind = SealedEntry::Kind::file;
            entry.mode = quint32(info.st_mode) & 07777;
            entry.size = info.st_size;
        } else if (S_ISDIR(info.st_mode)) {
            entry.kind = SealedEntry::Kind::directory;
            entry.mode = quint32(info.st_mode) & 07777;
        } else if (S_ISLNK(info.st_mode)) {
            entry.kind = SealedEntry::Kind::symlink;
            std::error_code linkError;
            const fs::path target = fs::read_symlink(path, linkError);
            if (linkError)
                throw ScanError(u"can't read the link "_s + *relative);
            const std::optional<QString> text = fromUtf8Strict(target.native());
            if (!text)
                throw ScanError(u"the target of "_s + *relative + u" isn't UTF-8"_s);
            entry.target = *text;
        } else {
            throw ScanError(u"unsupported file type: "_s + *relative);
        }
        resources.entries.emplace(*relative, std::move(entry));
    }
    if (error)
        throw ScanError(u"can't read the bundle folder: "_s + QString::fromStdString(error.message()));
    return resources;
}

std::vector<CodeResources::Digest> CodeResources::digest(const QString& bundle, const std::vector<QString>& relativePaths)
{
    std::vector<Digest> results(relativePaths.size());
    if (relativePaths.empty())
        return results;
    const std::string root = bundle.toStdString() + '/';
    std::atomic<size_t> next = 0;
    const auto work = [&] {
        std::vector<unsigned char> buffer(kReadBlock);
        for (size_t i = next++; i < relativePaths.size(); i = next++)
            results[i] = digestFile(root + relativePaths[i].toStdString(), buffer);
    };
    // Files are independent; a few threads keep both the disk queue and the
    // cores busy. More than 8 gains nothing on the drives plug-ins live on.
    const size_t threads = std::min<size_t>({usableProcessors(), 8, relativePaths.size()});
    std::vector<std::jthread> pool;
    for (size_t i = 1; i < threads; ++i)
        pool.emplace_back(work);
    work();
    return results;
}

void CodeResources::digestAll(const QString& bundle)
{
    std::vector<QString> paths;
    for (const auto& [path, entry] : entries) {
        if (entry.kind == SealedEntry::Kind::file)
            paths.push_back(path);
    }
    const std::vector<Digest> digests = digest(bundle, paths);
    for (size_t i = 0; i < paths.size(); ++i) {
        if (digests[i].sha256.isEmpty())
            throw ScanError(u"can't read "_s + paths[i] + u": "_s + digests[i].error);
        SealedEntry& entry = entries.at(paths[i]);
        entry.sha256 = digests[i].sha256;
        entry.size = digests[i].size;
    }
}

QByteArray CodeResources::toJson() const
{
    QJsonObject list;
    for (const auto& [path, entry] : entries) {
        QJsonObject item{{u"type"_s, kindName(entry.kind)}};
        switch (entry.kind) {
        case SealedEntry::Kind::file:
            item.insert(u"mode"_s, qint64(entry.mode));
            item.insert(u"size"_s, entry.size);
            item.insert(u"sha256"_s, QString::fromLatin1(entry.sha256));
            break;
        case SealedEntry::Kind::directory:
            item.insert(u"mode"_s, qint64(entry.mode));
            break;
        case SealedEntry::Kind::symlink:
            item.insert(u"target"_s, entry.target);
            break;
        }
        list.insert(path, item);
    }
    const QJsonObject top{{u"format"_s, kFormat}, {u"identifier"_s, identifier}, {u"resources"_s, list}};
    return QJsonDocument(top).toJson(QJsonDocument::Compact);
}

std::optional<CodeResources> CodeResources::fromJson(const QByteArray& bytes, QString* error)
{
    const auto fail = [error](const QString& why) -> std::optional<CodeResources> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    if (bytes.size() > kMaxManifestBytes)
        return fail(u"the resource list is too large"_s);
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return fail(u"the resource list isn't a JSON object"_s);
    const QJsonObject top = document.object();
    if (top.size() != 3 || !isIntegral(top.value(u"format"_s), kFormat, kFormat))
        return fail(u"the resource list has an unknown format"_s);
    const QJsonValue identifier = top.value(u"identifier"_s);
    const QJsonValue list = top.value(u"resources"_s);
    if (!identifier.isString() || identifier.toString().isEmpty() || !list.isObject())
        return fail(u"the resource list lacks its identifier or resources"_s);

    static const QRegularExpression hex64(QRegularExpression::anchoredPattern(u"[0-9a-f]{64}"_s));
    CodeResources resources;
    resources.identifier = identifier.toString();
    const QJsonObject items = list.toObject();
    for (auto it = items.begin(); it != items.end(); ++it) {
        const QString path = it.key();
        if (!isCanonicalRelativePath(path) || isSignatureFolder(path))
            return fail(u"the resource list names a bad path: "_s + path);
        if (!it.value().isObject())
            return fail(u"the resource list has a bad entry: "_s + path);
        const QJsonObject item = it.value().toObject();
        const QString type = item.value(u"type"_s).toString();
        SealedEntry entry;
        if (type == "file"_L1 && item.size() == 4 && isIntegral(item.value(u"mode"_s), 0, 07777)
            && isIntegral(item.value(u"size"_s), 0, qint64(1) << 53)
            && hex64.match(item.value(u"sha256"_s).toString()).hasMatch()) {
            entry.kind = SealedEntry::Kind::file;
            entry.mode = quint32(item.value(u"mode"_s).toInteger());
            entry.size = item.value(u"size"_s).toInteger();
            entry.sha256 = item.value(u"sha256"_s).toString().toLatin1();
        } else if (type == "directory"_L1 && item.size() == 2 && isIntegral(item.value(u"mode"_s), 0, 07777)) {
            entry.kind = SealedEntry::Kind::directory;
            entry.mode = quint32(item.value(u"mode"_s).toInteger());
        } else if (type == "symlink"_L1 && item.size() == 2 && item.value(u"target"_s).isString()
                   && !item.value(u"target"_s).toString().isEmpty()) {
            entry.kind = SealedEntry::Kind::symlink;
            entry.target = item.value(u"target"_s).toString();
        } else {
            return fail(u"the resource list has a bad entry: "_s + path);
        }
        resources.entries.emplace(path, std::move(entry));
    }
    // Duplicate keys, other spacing or key order would each give a second
    // spelling of the same list; only the one canonical spelling is sealed.
    if (resources.toJson() != bytes)
        return fail(u"the resource list isn't in canonical form"_s);
    return resources;
}

} // namespace Hub

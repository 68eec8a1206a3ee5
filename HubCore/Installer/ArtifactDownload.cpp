#include "Installer/ArtifactDownload.h"

#include "Base/Config.h"
#include "Base/HubError.h"
#include "Base/Versions.h"
#include "Installer/InstallLocations.h"
#include "Platform/FileMoves.h"
#include "Platform/OpenSslHandles.h"
#include "Platform/PropertyList.h"

#include <QFile>
#include <QFileInfo>

#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace fs = std::filesystem;

namespace Hub {

namespace {

const QString kHttpsOnly = u"The hub only downloads over https."_s;
const QString kTransportFailed = u"Download failed. Check your connection and try again."_s;
const QString kNotAccepted = u"Download failed. Try again."_s;

QString wrongSize(const QString& label)
{
    return u"The "_s + label + u" download is damaged (wrong size). Try again."_s;
}

using Digest = OpenSsl::MdContext;

Digest newSHA256()
{
    Digest digest(EVP_MD_CTX_new());
    if (!digest || EVP_DigestInit_ex(digest.get(), EVP_sha256(), nullptr) != 1)
        throw std::bad_alloc();
    return digest;
}

QString finishHex(EVP_MD_CTX* context)
{
    unsigned char bytes[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context, bytes, &length) != 1)
        throw std::bad_alloc();
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(bytes), int(length)).toHex());
}

std::string native(const QString& path) { return QFile::encodeName(path).toStdString(); }

// A write that failed is this computer's fault, not the download's: for
// want of room it names the disk, with the file; for anything else (a
// file-size limit, an I/O error) it says what the system said, never "try
// again", which would only fail the same way.
[[noreturn]] void failWrite(int error, const QString& path)
{
    if (error == ENOSPC || error == EDQUOT)
        throw FileError(error, path);
    throw HubError::message(u"Couldn't write the download: "_s + qt_error_string(error) + u"."_s);
}

// Owns the descriptor of a file being written and removes the file unless
// it was handed on, so no failure path leaves a partial download behind.
class PartialFile {
public:
    explicit PartialFile(QString path)
        : m_path(std::move(path))
    {
        const std::string name = native(m_path);
        ::unlink(name.c_str()); // a leftover of an interrupted run
        m_fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (m_fd < 0)
            failWrite(errno, m_path);
    }
    ~PartialFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        if (!m_handedOn)
            ::unlink(native(m_path).c_str());
    }
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

    bool write(const char* data, std::size_t size)
    {
        while (size > 0) {
            const ssize_t written = ::write(m_fd, data, size);
            if (written < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            data += written;
            size -= std::size_t(written);
        }
        return true;
    }

    // Flushes to the disk when `durable`, and closes; the errno value when
    // the bytes may not all be there, else 0.
    int finish(bool durable)
    {
        int error = durable && ::fsync(m_fd) != 0 ? errno : 0;
        if (::close(m_fd) != 0 && !error)
            error = errno;
        m_fd = -1;
        return error;
    }

    void handedOn() { m_handedOn = true; }

private:
    QString m_path;
    int m_fd = -1;
    bool m_handedOn = false;
};

struct DescriptorCloser {
    int fd;
    ~DescriptorCloser() { ::close(fd); }
};

QString infoPlist(const QString& bundle) { return bundle + u"/Contents/Info.plist"_s; }

} // namespace

// ---- ArtifactDownloader ----------------------------------------------------

ArtifactDownloader::ArtifactDownloader(QString target, QString label, std::optional<qint64> expectedSize,
                                       std::function<void(double)> progress)
    : m_target(std::move(target))
    , m_label(std::move(label))
    , m_expectedSize(expectedSize)
    , m_progress(std::move(progress))
{
}

QString ArtifactDownloader::partialPath() const
{
    const QFileInfo info(m_target);
    return info.path() + u"/."_s + info.fileName() + u".partial"_s;
}

PluginInstaller::Downloaded ArtifactDownloader::run(const QUrl& url, const Http::Session& session) const
{
    if (session.stop.stop_requested())
        throw HubError::cancelled();

    PartialFile partial(partialPath());
    Digest digest = newSHA256();
    qint64 written = 0;
    int writeError = 0;

    Http::Request request;
    request.method = "GET";
    request.url = url;
    request.headers.append({"User-Agent", QString(u"tarnaudio-hub/"_s + Config::hubVersion()).toUtf8()});
    request.timeout = m_idleTimeout;
    request.timeoutMode = Http::TimeoutMode::idle;
    // Never a total limit, which a large download on a slow line would
    // break; but a drip that only keeps the idle clock happy must end.
    request.minimumRate = session.limits.downloadRate;
    if (m_expectedSize && *m_expectedSize > 0)
        request.maxBodyBytes = *m_expectedSize;
    request.progress = [this](std::int64_t received, std::int64_t total) {
        if (total < 1 || !m_progress)
            return;
        m_progress(std::min(double(received) / double(total), 1.0));
    };
    request.sink = [&](int status, const char* data, std::size_t size) {
        // The body of an error reply is read (within the size limit) but
        // never stored: only a 200 may become the archive.
        if (status != 200)
            return true;
        if (!partial.write(data, size)) {
            writeError = errno;
            return false;
        }
        EVP_DigestUpdate(digest.get(), data, size);
        written += qint64(size);
        return true;
    };

    Http::Response response;
    try {
        response = Http::perform(session, request);
    } catch (const Http::TransportError& error) {
        switch (error.code()) {
        case Http::TransportCode::cancelled:
            throw HubError::cancelled();
        case Http::TransportCode::insecureRedirect:
            // A redirect away from https breaks the same rule as an http
            // address in the catalog, so it gets the same sentence.
            throw HubError::message(kHttpsOnly);
        case Http::TransportCode::dataLengthExceedsMaximum:
            throw HubError::message(wrongSize(m_label));
        case Http::TransportCode::writeFailed:
            failWrite(writeError, partialPath());
        default:
            throw HubError::message(kTransportFailed);
        }
    }

    if (response.status != 200)
        throw HubError::message(u"Download failed ("_s + QString::number(response.status) + u"). Try again later."_s);
    if (const int error = partial.finish(m_durable))
        failWrite(error, partialPath());

    std::error_code ignored;
    fs::remove_all(fs::path(native(m_target)), ignored);
    try {
        FileMoves::moveNoReplace(partialPath(), m_target);
    } catch (const FileError&) {
        throw HubError::message(kNotAccepted);
    }
    partial.handedOn();
    return {written, finishHex(digest.get())};
}

// ---- Checks of the archive and the staged bundle -----------------------------

void PluginInstaller::checkScheme(const QUrl& url)
{
    if (!Http::isAllowedDownloadURL(url))
        throw HubError::message(kHttpsOnly);
}

PluginInstaller::Downloaded PluginInstaller::download(const QUrl& url, const Artifact& artifact,
                                                      const QString& archive,
                                                      const std::function<void(double)>& progress) const
{
    ArtifactDownloader downloader(archive, label(artifact.format), artifact.size, progress);
    // The archive lives in the work folder only until it is unpacked.
    downloader.setDurable(false);
    if (downloadIdleTimeout)
        downloader.setIdleTimeout(*downloadIdleTimeout);
    return downloader.run(url, configuration ? configuration() : Http::Session{});
}

void PluginInstaller::checkDownload(const QString& archive, const Artifact& artifact, bool allowUnsigned,
                                    const std::optional<QString>& digest)
{
    const QString label = Hub::label(artifact.format);
    if (artifact.size && *artifact.size >= 1) {
        struct stat status {};
        if (::stat(native(archive).c_str(), &status) != 0 || qint64(status.st_size) != *artifact.size)
            throw HubError::message(wrongSize(label));
    }

    const QString expected = artifact.sha256.trimmed().toLower();
    if (expected.isEmpty()) {
        if (allowUnsigned)
            return;
        throw HubError::message(u"This release has no checksum in the catalog, so the hub won't install it."_s);
    }
    const QString actual = digest ? *digest : Installer::fileSHA256(archive);
    if (actual != expected)
        throw HubError::message(u"The "_s + label + u" download is damaged (checksum mismatch). Try again."_s);
}

void PluginInstaller::verifyStaged(const QString& staged, const Artifact& artifact, const QString& version,
                                   bool allowUnsigned, const TrustAnchors& anchors,
                                   const CodeSignature::MeasuredFiles& measured)
{
    const QString& bundle = artifact.bundle;
    struct stat status {};
    if (::lstat(native(staged).c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
        throw HubError::message(u"The "_s + label(artifact.format) + u" download doesn't contain "_s + bundle + u'.');

    const QVariantMap info = PropertyList::readDictionary(infoPlist(staged));
    const std::optional<QString> actual = PropertyList::text(info, u"CFBundleIdentifier"_s);
    if (artifact.bundleID && !artifact.bundleID->isEmpty() && actual != artifact.bundleID) {
        const QString shown = actual && !actual->isEmpty() ? *actual : u"unidentified"_s;
        throw HubError::message(bundle + u" is "_s + shown + u", not "_s + *artifact.bundleID
                                + u", so the hub won't install it."_s);
    }

    const std::optional<QString> shortVersion = PropertyList::text(info, u"CFBundleShortVersionString"_s);
    if (!shortVersion || Versions::compare(*shortVersion, version) != std::strong_ordering::equal)
        throw HubError::message(bundle + u" is version "_s + shortVersion.value_or(u"?"_s) + u", not "_s + version
                                + u". Try again later."_s);

    CodeSignature::verify(staged, artifact.bundleID ? artifact.bundleID : actual, allowUnsigned, anchors, measured);
}

std::optional<QString> PluginInstaller::bundleID(const QString& bundle)
{
    return PropertyList::text(PropertyList::readDictionary(infoPlist(bundle)), u"CFBundleIdentifier"_s);
}

QString PluginInstaller::shortVersion(const QString& bundle)
{
    return PropertyList::text(PropertyList::readDictionary(infoPlist(bundle)), u"CFBundleShortVersionString"_s)
        .value_or(QString());
}

std::optional<QString> PluginInstaller::bundleVersion(const QString& bundle)
{
    return InstallLocations::bundleVersion(bundle);
}

namespace Installer {

QString fileSHA256(const QString& path)
{
    const std::string name = native(path);
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw FileError(errno, path);
    const DescriptorCloser closer{fd};

    Digest digest = newSHA256();
    std::vector<char> chunk(1 << 20);
    for (;;) {
        const ssize_t count = ::read(fd, chunk.data(), chunk.size());
        if (count < 0) {
            if (errno == EINTR)
                continue;
            throw FileError(errno, path);
        }
        if (count == 0)
            break;
        EVP_DigestUpdate(digest.get(), chunk.data(), std::size_t(count));
    }
    return finishHex(digest.get());
}

} // namespace Installer

} // namespace Hub

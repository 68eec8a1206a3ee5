#include "Installer/Packages/PackageArchive.h"

#include "Installer/PluginInstaller.h"
#include "Installer/Signing/Certificates.h"
#include "Platform/FileMoves.h"
#include "Platform/OpenSslHandles.h"
#include "Platform/SecureExtract.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QXmlStreamReader>

#include <archive.h>
#include <archive_entry.h>

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace fs = std::filesystem;

namespace Hub::PackageArchive {

namespace {

constexpr qint64 kMaxInfoBytes = 1 << 20;
constexpr qint64 kMaxSignatureBytes = 1 << 20;
constexpr qint64 kMaxTicketBytes = 64 << 10;

using ReadPtr = std::unique_ptr<archive, decltype(&archive_read_free)>;
using WritePtr = std::unique_ptr<archive, decltype(&archive_write_free)>;

std::string native(const QString& path) { return QFile::encodeName(path).toStdString(); }

QString fromNative(const char* text) { return QFile::decodeName(text ? text : ""); }

QString archiveError(archive* handle)
{
    const char* text = archive_error_string(handle);
    return text ? QString::fromUtf8(text) : u"unknown archive error"_s;
}

std::optional<qint64> memberLimit(const QString& name)
{
    if (name == kPackageInfo)
        return kMaxInfoBytes;
    if (name == kSignature)
        return kMaxSignatureBytes;
    if (name == kTicket)
        return kMaxTicketBytes;
    return std::nullopt; // the payload: as large as the disk allows
}

bool writeAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= size_t(written);
    }
    return true;
}

// Reads a small member file; none when it is missing, not a regular file or
// larger than `limit`.
std::optional<QByteArray> readMember(const QString& expanded, QLatin1StringView name, qint64 limit)
{
    const QString path = expanded + u'/' + name;
    struct stat status {};
    if (::lstat(native(path).c_str(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size > limit)
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bytes = file.read(limit + 1);
    if (bytes.size() > limit)
        return std::nullopt;
    return bytes;
}

// Refuses a member that is not one of the four, a repeated one, or one that
// is not a plain file.
void checkMember(const QString& package, const QString& name, archive_entry* entry, std::set<QString>& seen)
{
    if (name != kPackageInfo && name != kPayload && name != kSignature && name != kTicket)
        throw PackageError(package + u": unexpected member \""_s + name + u'"');
    if (!seen.insert(name).second)
        throw PackageError(package + u": member \""_s + name + u"\" appears twice"_s);
    if (archive_entry_filetype(entry) != AE_IFREG || archive_entry_hardlink(entry))
        throw PackageError(package + u": member \""_s + name + u"\" is not a file"_s);
}

// Copies the data of the member `reader` stands at into `fd`; what went
// wrong, none when the member was copied whole.
std::optional<QString> copyMemberData(archive* reader, int fd, const QString& name)
{
    const std::optional<qint64> limit = memberLimit(name);
    qint64 total = 0;
    // Blocks, not archive_read_data: the latter pads a xar member with
    // zeros after one that was read to its end (libarchive 3.6).
    for (;;) {
        const void* block = nullptr;
        size_t count = 0;
        la_int64_t offset = 0;
        const int d = archive_read_data_block(reader, &block, &count, &offset);
        if (d == ARCHIVE_EOF)
            return std::nullopt;
        if (d < ARCHIVE_WARN)
            return archiveError(reader);
        // A block without bytes that is not the end: libarchive 3.6 repeats
        // one forever for a xar with two members of one name.
        if (count == 0 || offset != total)
            return u"member \""_s + name + u"\" has a hole"_s;
        total += qint64(count);
        if (limit && total > *limit)
            return u"member \""_s + name + u"\" is too large"_s;
        if (!writeAll(fd, static_cast<const char*>(block), count))
            return QString::fromLocal8Bit(std::strerror(errno));
    }
}

bool isNoSpace(int error) { return error == ENOSPC || error == EDQUOT; }

// Writes the member `reader` stands at to a new file in `folder`.
void writeMember(archive* reader, const QString& package, const QString& folder, const QString& name)
{
    const std::string path = native(folder + u'/' + name);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        throw PackageError(folder + u'/' + name + u": "_s + QString::fromLocal8Bit(std::strerror(errno)),
                           isNoSpace(errno));
    errno = 0;
    std::optional<QString> problem = copyMemberData(reader, fd, name);
    bool full = problem && isNoSpace(errno);
    if (::close(fd) != 0 && !problem) {
        problem = QString::fromLocal8Bit(std::strerror(errno));
        full = isNoSpace(errno);
    }
    if (problem)
        throw PackageError(package + u": "_s + *problem, full);
}

} // namespace

// ---- Packages ------------------------------------------------------------------

void expand(const QString& package, const QString& folder)
{
    const std::string folderName = native(folder);
    if (::mkdir(folderName.c_str(), 0700) != 0)
        throw PackageError(folder + u": "_s + QString::fromLocal8Bit(std::strerror(errno)), isNoSpace(errno));
    struct Remover {
        std::string path;
        bool keep = false;
        ~Remover()
        {
            std::error_code ignored;
            if (!keep)
                fs::remove_all(path, ignored);
        }
    } remover{folderName};

    ReadPtr reader(archive_read_new(), archive_read_free);
    archive_read_support_format_xar(reader.get());
    if (archive_read_open_filename(reader.get(), native(package).c_str(), 1 << 16) != ARCHIVE_OK)
        throw PackageError(package + u": "_s + archiveError(reader.get()));

    std::set<QString> seen;
    archive_entry* entry = nullptr;
    for (;;) {
        const int r = archive_read_next_header(reader.get(), &entry);
        if (r == ARCHIVE_EOF)
            break;
        if (r < ARCHIVE_WARN)
            throw PackageError(package + u": "_s + archiveError(reader.get()));
        const QString name = fromNative(archive_entry_pathname(entry));
        checkMember(package, name, entry, seen);
        writeMember(reader.get(), package, folder, name);
    }
    if (!seen.count(kPackageInfo) || !seen.count(kPayload))
        throw PackageError(package + u": not an installer package (PackageInfo or Payload is missing)"_s);
    remover.keep = true;
}

void flatten(const QString& folder, const QString& package)
{
    WritePtr writer(archive_write_new(), archive_write_free);
    archive_write_set_format_xar(writer.get());
    // The payload is compressed already; a second layer gains nothing.
    archive_write_set_format_option(writer.get(), "xar", "compression", "none");
    if (archive_write_open_filename(writer.get(), native(package).c_str()) != ARCHIVE_OK)
        throw PackageError(package + u": "_s + archiveError(writer.get()));
    for (const QLatin1StringView name : {kPackageInfo, kPayload, kSignature, kTicket}) {
        const QString path = folder + u'/' + name;
        struct stat status {};
        if (::lstat(native(path).c_str(), &status) != 0)
            continue;
        if (!S_ISREG(status.st_mode))
            throw PackageError(path + u": not a file"_s);
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            throw PackageError(path + u": "_s + file.errorString());
        const std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(archive_entry_new(),
                                                                                  archive_entry_free);
        archive_entry_set_pathname(entry.get(), QByteArray(name.data(), name.size()).constData());
        archive_entry_set_filetype(entry.get(), AE_IFREG);
        archive_entry_set_perm(entry.get(), 0644);
        archive_entry_set_size(entry.get(), status.st_size);
        if (archive_write_header(writer.get(), entry.get()) != ARCHIVE_OK)
            throw PackageError(package + u": "_s + archiveError(writer.get()));
        while (!file.atEnd()) {
            const QByteArray chunk = file.read(1 << 16);
            if (chunk.isEmpty() || archive_write_data(writer.get(), chunk.constData(), size_t(chunk.size())) < 0)
                throw PackageError(package + u": "_s + archiveError(writer.get()));
        }
    }
    if (archive_write_close(writer.get()) != ARCHIVE_OK)
        throw PackageError(package + u": "_s + archiveError(writer.get()));
}

QByteArray manifest(const QString& expanded)
{
    QByteArray text = "tarnhub-package-manifest 1\n";
    for (const QLatin1StringView name : {kPackageInfo, kPayload}) {
        const QString path = expanded + u'/' + name;
        struct stat status {};
        if (::lstat(native(path).c_str(), &status) != 0 || !S_ISREG(status.st_mode))
            throw PackageError(u"the package has no "_s + name);
        QString digest;
        try {
            digest = Installer::fileSHA256(path);
        } catch (const FileError& error) {
            throw PackageError(path + u": "_s + error.description());
        }
        text += QByteArray(name.data(), name.size()) + ' ' + digest.toLatin1() + '\n';
    }
    return text;
}

QByteArray ticketText(const QByteArray& manifest)
{
    return "tarnhub-notarization-ticket 1\n" + QCryptographicHash::hash(manifest, QCryptographicHash::Sha256).toHex()
           + '\n';
}

std::optional<Info> readInfo(const QString& expanded)
{
    const std::optional<QByteArray> bytes = readMember(expanded, kPackageInfo, kMaxInfoBytes);
    if (!bytes)
        return std::nullopt;
    QXmlStreamReader reader(*bytes);
    if (!reader.readNextStartElement() || reader.name() != "pkg-info"_L1)
        return std::nullopt;
    const QXmlStreamAttributes attributes = reader.attributes();
    Info info;
    info.identifier = attributes.value(u"identifier"_s).toString();
    info.version = attributes.value(u"version"_s).toString();
    info.installLocation = attributes.hasAttribute(u"install-location"_s)
                               ? attributes.value(u"install-location"_s).toString()
                               : u"/"_s;
    // The whole document must be well-formed, not only its first element.
    while (!reader.atEnd())
        reader.readNext();
    if (reader.hasError())
        return std::nullopt;
    return info;
}

namespace {

// The package's signature, decoded and checked against the manifest of its
// members, which it leaves in `manifestText`; null, with `detail` saying
// why, when it cannot be read or the members changed after signing.
OpenSsl::Cms intactSignature(const QString& expanded, QByteArray& manifestText, QString& detail)
{
    const std::optional<QByteArray> signature = readMember(expanded, kSignature, kMaxSignatureBytes);
    try {
        manifestText = manifest(expanded);
    } catch (const PackageError& error) {
        detail = error.detail();
        return nullptr;
    }
    if (!signature) {
        detail = u"the signature can't be read"_s;
        return nullptr;
    }
    const OpenSsl::Bio signatureBio(BIO_new_mem_buf(signature->constData(), int(signature->size())));
    OpenSsl::Cms cms(signatureBio ? d2i_CMS_bio(signatureBio.get(), nullptr) : nullptr);
    if (!cms || OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed || CMS_is_detached(cms.get()) != 1
        || sk_CMS_SignerInfo_num(CMS_get0_SignerInfos(cms.get())) != 1) {
        detail = u"the signature can't be decoded"_s;
        return nullptr;
    }
    const OpenSsl::Bio content(BIO_new_mem_buf(manifestText.constData(), int(manifestText.size())));
    if (!content
        || CMS_verify(cms.get(), nullptr, nullptr, content.get(), nullptr, CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY)
               != 1) {
        detail = u"the package was modified after it was signed"_s;
        return nullptr;
    }
    return cms;
}

// Whether `leaf`, certified by `issuer`, is a developer's installer
// certificate whose name shows the team it certifies; fills in the
// assessment's signer either way.
bool namesDevelopersInstaller(X509* leaf, X509* issuer, Assessment& result)
{
    result.signature = Assessment::Signature::notInstaller;
    const std::optional<QString> commonName = Certificates::subjectField(leaf, NID_commonName);
    const std::optional<QString> team = Certificates::subjectField(leaf, NID_organizationalUnitName);
    if (!Certificates::hasExtension(issuer, kDeveloperMarker) || !Certificates::hasExtension(leaf, kInstallerMarker)) {
        result.detail = u"the signing certificate is not a developer's installer certificate"_s;
        return false;
    }
    // The team shown in the certificate's name must be the one it certifies.
    if (!commonName || !team || team->isEmpty() || !commonName->startsWith(u"Developer ID Installer: "_s)
        || !commonName->endsWith(u" ("_s + *team + u')')) {
        result.detail = u"the signing certificate's name and team disagree"_s;
        return false;
    }
    result.signature = Assessment::Signature::developerID;
    result.origin = *commonName;
    result.team = *team;
    return true;
}

// Whether the signature's one signer chains, through the certificates it
// carries, to one of `anchors` and is a developer's installer certificate.
bool trustedInstallerSigner(CMS_ContentInfo* cms, const TrustAnchors& anchors, Assessment& result)
{
    const OpenSsl::X509StackView signers(CMS_get0_signers(cms));
    if (!signers || sk_X509_num(signers.get()) != 1) {
        result.detail = u"the signature names no signer certificate"_s;
        return false;
    }
    X509* leaf = sk_X509_value(signers.get(), 0);
    const OpenSsl::X509Stack carried(CMS_get1_certs(cms));

    result.signature = Assessment::Signature::untrusted;
    const OpenSsl::Store store = Certificates::anchorStore(anchors);
    const OpenSsl::StoreContext context(X509_STORE_CTX_new());
    if (!store || !context || X509_STORE_CTX_init(context.get(), store.get(), leaf, carried.get()) != 1) {
        result.detail = u"no trusted anchor"_s;
        return false;
    }
    // Installer certificates need not carry a TLS or mail purpose.
    X509_STORE_CTX_set_purpose(context.get(), X509_PURPOSE_ANY);
    if (X509_verify_cert(context.get()) != 1) {
        result.detail = QString::fromUtf8(X509_verify_cert_error_string(X509_STORE_CTX_get_error(context.get())));
        return false;
    }
    STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(context.get());
    return namesDevelopersInstaller(leaf, sk_X509_num(chain) > 1 ? sk_X509_value(chain, 1) : nullptr, result);
}

} // namespace

Assessment assess(const QString& expanded, const TrustAnchors& anchors)
{
    Assessment result;
    if (!FileMoves::existsNoFollow(expanded + u'/' + kSignature)) {
        result.detail = u"the package is not signed"_s;
        return result;
    }
    result.signature = Assessment::Signature::broken;
    QByteArray manifestText;
    const OpenSsl::Cms cms = intactSignature(expanded, manifestText, result.detail);
    if (!cms || !trustedInstallerSigner(cms.get(), anchors, result))
        return result;
    result.notarized = readMember(expanded, kTicket, kMaxTicketBytes) == ticketText(manifestText);
    return result;
}

// ---- Disk images and payloads ----------------------------------------------------

QStringList extract(const QString& archivePath, const QString& folder)
{
    try {
        const SecureExtract::Checked checked = SecureExtract::check(archivePath, SecureExtract::Formats::zipOrTar);
        SecureExtract::extract(checked, folder);
        return checked.made();
    } catch (const SecureExtract::Error& error) {
        // hdiutil and installer name every refused hard link by what it may
        // point at, whether or not its target lies outside the folder.
        if (error.kind() == SecureExtract::Error::Kind::hardLinkOutside)
            throw PackageError(error.subject() + u": refusing a hard link to anything but a file of the archive"_s);
        throw PackageError(error.message(), error.kind() == SecureExtract::Error::Kind::diskFull);
    }
}

} // namespace Hub::PackageArchive

#include "Installer/Signing/CodeSignature.h"

#include "Base/Config.h"
#include "Base/HubError.h"
#include "Installer/Signing/Certificates.h"
#include "Installer/Signing/CodeResources.h"
#include "Platform/OpenSslHandles.h"
#include "SigningAnchor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/ts.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <array>
#include <cerrno>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <variant>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace Hub {

TrustAnchors TrustAnchors::pinned()
{
    return TrustAnchors(QByteArray(BuildConfig::kSigningAnchorPem), QByteArray(BuildConfig::kTimeStampAnchorPem));
}

namespace CodeSignature {

namespace {

constexpr auto kSignatureFile = "Contents/_CodeSignature/CodeSignature"_L1;
constexpr auto kResourcesFile = "Contents/_CodeSignature/CodeResources"_L1;
constexpr qint64 kMaxSignatureBytes = 1024 * 1024;
// Deeper nesting than this is not a plug-in layout; stop rather than recurse without end.
constexpr int kMaxNestingDepth = 8;
constexpr std::array kNestedExtensions{".app"_L1, ".component"_L1, ".vst3"_L1, ".framework"_L1, ".bundle"_L1};

using OpenSsl::X509Ptr;
using OpenSsl::X509Stack;

X509Ptr shared(X509* certificate)
{
    if (certificate)
        X509_up_ref(certificate);
    return X509Ptr(certificate);
}

Validity failure(int status, QString detail)
{
    return Validity{status, std::move(detail)};
}

enum class ReadResult { ok, missing, failed };

// Reads a small regular file without following a link at its last step.
ReadResult readSmallFile(const QString& path, qint64 limit, QByteArray* bytes)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? ReadResult::missing : ReadResult::failed;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > limit)
        return ReadResult::failed;
    bytes->resize(qsizetype(info.st_size));
    qsizetype done = 0;
    while (done < bytes->size()) {
        const ssize_t got = ::read(fd, bytes->data() + done, size_t(bytes->size() - done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return ReadResult::failed;
        done += got;
    }
    return ReadResult::ok;
}

// What a bundle's signature says, once the CMS signature has verified over
// the resource list with the signer's own certificate.
struct Signature {
    CodeResources resources;
    X509Ptr signer;
    X509Stack certificates; // every certificate the signature carries
    QByteArray signatureValue; // the signer's signature bytes, which a time stamp covers
    QByteArray timeStampToken; // DER; empty when the signature carries none
};

// Whether the signed signing-time attribute, when present, is one UTC or
// generalized time. Its value is never trusted (see timeStamped()), but a
// malformed one marks a signature no signing tool made.
bool signingTimeWellFormed(CMS_SignerInfo* info)
{
    const int index = CMS_signed_get_attr_by_NID(info, NID_pkcs9_signingTime, -1);
    if (index < 0)
        return true;
    if (CMS_signed_get_attr_by_NID(info, NID_pkcs9_signingTime, index) >= 0)
        return false;
    X509_ATTRIBUTE* attribute = CMS_signed_get_attr(info, index);
    if (!attribute || X509_ATTRIBUTE_count(attribute) != 1)
        return false;
    const ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(attribute, 0);
    if (!value || (value->type != V_ASN1_UTCTIME && value->type != V_ASN1_GENERALIZEDTIME))
        return false;
    std::tm parts{};
    return ASN1_TIME_to_tm(value->value.utctime, &parts) == 1;
}

// The unsigned time-stamp token attribute: none, or exactly one value, a
// SEQUENCE (the token's ContentInfo), given back as its DER.
std::optional<QByteArray> timeStampTokenOf(CMS_SignerInfo* info)
{
    const int index = CMS_unsigned_get_attr_by_NID(info, NID_id_smime_aa_timeStampToken, -1);
    if (index < 0)
        return QByteArray();
    if (CMS_unsigned_get_attr_by_NID(info, NID_id_smime_aa_timeStampToken, index) >= 0)
        return std::nullopt;
    X509_ATTRIBUTE* attribute = CMS_unsigned_get_attr(info, index);
    if (!attribute || X509_ATTRIBUTE_count(attribute) != 1)
        return std::nullopt;
    const ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(attribute, 0);
    if (!value || value->type != V_ASN1_SEQUENCE || !value->value.sequence)
        return std::nullopt;
    return QByteArray(reinterpret_cast<const char*>(ASN1_STRING_get0_data(value->value.sequence)),
                      ASN1_STRING_length(value->value.sequence));
}

using Pkcs7 = std::unique_ptr<PKCS7, OpenSsl::Detail::Deleter<PKCS7_free>>;
using TstInfo = std::unique_ptr<TS_TST_INFO, OpenSsl::Detail::Deleter<TS_TST_INFO_free>>;
using TsVerifyContext = std::unique_ptr<TS_VERIFY_CTX, OpenSsl::Detail::Deleter<TS_VERIFY_CTX_free>>;

// The time the signature's time stamp states, when the token verifies: its
// authority's chain ends in a pinned time-stamping anchor, its signature
// holds, and its message imprint is the digest of this signature's bytes.
std::optional<time_t> timeStamped(const Signature& signature, const TrustAnchors& anchors)
{
    if (signature.timeStampToken.isEmpty())
        return std::nullopt;
    const auto* at = reinterpret_cast<const unsigned char*>(signature.timeStampToken.constData());
    const Pkcs7 token(d2i_PKCS7(nullptr, &at, long(signature.timeStampToken.size())));
    if (!token || at != reinterpret_cast<const unsigned char*>(signature.timeStampToken.constEnd()))
        return std::nullopt;
    OpenSsl::Store store = Certificates::anchorStore(anchors.timeStampingPem());
    const TsVerifyContext context(TS_VERIFY_CTX_new());
    OpenSsl::Bio covered(BIO_new_mem_buf(signature.signatureValue.constData(), int(signature.signatureValue.size())));
    if (!store || !context || !covered)
        return std::nullopt;
    // The context owns the store and the data from here.
    TS_VERIFY_CTX_set_store(context.get(), store.release());
    TS_VERIFY_CTX_set_data(context.get(), covered.release());
    TS_VERIFY_CTX_set_flags(context.get(), TS_VFY_VERSION | TS_VFY_SIGNATURE | TS_VFY_DATA);
    if (TS_RESP_verify_token(context.get(), token.get()) != 1)
        return std::nullopt;
    const TstInfo info(PKCS7_to_TS_TST_INFO(token.get()));
    const ASN1_GENERALIZEDTIME* when = info ? TS_TST_INFO_get_time(info.get()) : nullptr;
    std::tm parts{};
    if (!when || ASN1_TIME_to_tm(when, &parts) != 1)
        return std::nullopt;
    return ::timegm(&parts);
}

// Reads and checks the signature files. On failure returns the reason.
std::variant<Signature, Validity> readSignature(const QString& bundle)
{
    const QString contents = bundle + u"/Contents"_s;
    struct stat info {};
    if (::lstat(QFile::encodeName(contents).constData(), &info) == 0 && !S_ISDIR(info.st_mode))
        return failure(kStatusBadBundleFormat, u"bundle format unrecognized: Contents isn't a folder"_s);
    const QString folder = bundle + u"/Contents/_CodeSignature"_s;
    if (::lstat(QFile::encodeName(folder).constData(), &info) != 0)
        return failure(kStatusUnsigned, u"code object is not signed at all"_s);
    if (!S_ISDIR(info.st_mode))
        return failure(kStatusSignatureFailed, u"the signature folder isn't a folder"_s);

    QByteArray signatureBytes;
    switch (readSmallFile(bundle + u'/' + kSignatureFile, kMaxSignatureBytes, &signatureBytes)) {
    case ReadResult::missing:
        return failure(kStatusUnsigned, u"code object is not signed at all"_s);
    case ReadResult::failed:
        return failure(kStatusSignatureFailed, u"the signature can't be read"_s);
    case ReadResult::ok:
        break;
    }
    QByteArray manifest;
    switch (readSmallFile(bundle + u'/' + kResourcesFile, CodeResources::kMaxManifestBytes, &manifest)) {
    case ReadResult::missing:
        return failure(kStatusResourcesNotFound, u"the sealed resource list is missing"_s);
    case ReadResult::failed:
        return failure(kStatusResourcesInvalid, u"the sealed resource list can't be read"_s);
    case ReadResult::ok:
        break;
    }

    const OpenSsl::Bio signatureBio(BIO_new_mem_buf(signatureBytes.constData(), int(signatureBytes.size())));
    const OpenSsl::Cms cms(signatureBio ? d2i_CMS_bio(signatureBio.get(), nullptr) : nullptr);
    if (!cms || OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed || CMS_is_detached(cms.get()) != 1)
        return failure(kStatusSignatureFailed, u"the signature can't be decoded"_s);
    if (sk_CMS_SignerInfo_num(CMS_get0_SignerInfos(cms.get())) != 1)
        return failure(kStatusSignatureFailed, u"the signature must have exactly one signer"_s);
    CMS_SignerInfo* signerInfo = sk_CMS_SignerInfo_value(CMS_get0_SignerInfos(cms.get()), 0);
    if (!signingTimeWellFormed(signerInfo))
        return failure(kStatusSignatureFailed, u"the signing time can't be read"_s);
    const std::optional<QByteArray> timeStampToken = timeStampTokenOf(signerInfo);
    if (!timeStampToken)
        return failure(kStatusSignatureFailed, u"the time stamp can't be read"_s);

    // The chain is judged by the requirement; here only the signature itself.
    const OpenSsl::Bio content(BIO_new_mem_buf(manifest.constData(), int(manifest.size())));
    if (!content
        || CMS_verify(cms.get(), nullptr, nullptr, content.get(), nullptr, CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY) != 1)
        return failure(kStatusSignatureFailed, u"invalid signature (code or signature have been modified)"_s);

    Signature signature;
    signature.timeStampToken = *timeStampToken;
    if (const ASN1_OCTET_STRING* value = CMS_SignerInfo_get0_signature(signerInfo))
        signature.signatureValue = QByteArray(reinterpret_cast<const char*>(ASN1_STRING_get0_data(value)),
                                              ASN1_STRING_length(value));
    {
        const OpenSsl::X509StackView signers(CMS_get0_signers(cms.get()));
        if (!signers || sk_X509_num(signers.get()) != 1)
            return failure(kStatusSignatureFailed, u"the signature names no signer certificate"_s);
        signature.signer = shared(sk_X509_value(signers.get(), 0));
    }
    signature.certificates.reset(CMS_get1_certs(cms.get()));
    if (!signature.certificates)
        signature.certificates.reset(sk_X509_new_null());

    QString why;
    std::optional<CodeResources> resources = CodeResources::fromJson(manifest, &why);
    if (!resources)
        return failure(kStatusResourcesInvalid, why);
    signature.resources = std::move(*resources);
    return signature;
}

// The signer's chain, leaf first, and whether it ends in a pinned anchor.
struct Chain {
    std::vector<X509Ptr> certificates;
    bool anchored = false;
};

// The signer's chain up to a pinned anchor as it verifies at `when` (now
// when none), leaf first; empty when it does not.
std::vector<X509Ptr> verifiedChain(const Signature& signature, X509_STORE* store, std::optional<time_t> when)
{
    std::vector<X509Ptr> verified;
    const OpenSsl::StoreContext context(X509_STORE_CTX_new());
    if (!store || !context
        || X509_STORE_CTX_init(context.get(), store, signature.signer.get(), signature.certificates.get()) != 1)
        return verified;
    // Code signing certificates need not carry a TLS or mail purpose.
    X509_STORE_CTX_set_purpose(context.get(), X509_PURPOSE_ANY);
    if (when)
        X509_VERIFY_PARAM_set_time(X509_STORE_CTX_get0_param(context.get()), *when);
    if (X509_verify_cert(context.get()) != 1)
        return verified;
    STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(context.get());
    for (int i = 0; i < sk_X509_num(chain); ++i)
        verified.push_back(shared(sk_X509_value(chain, i)));
    return verified;
}

Chain chainOf(const Signature& signature, const TrustAnchors& anchors)
{
    Chain chain;
    const OpenSsl::Store store = Certificates::anchorStore(anchors);
    // A bundle time-stamped while its certificate was valid stays the
    // signer's after the certificate expires. A time still to come can't be
    // true, so the chain must then hold today too.
    const std::optional<time_t> signedAt = timeStamped(signature, anchors);
    chain.certificates = verifiedChain(signature, store.get(), signedAt);
    if (!chain.certificates.empty() && signedAt && *signedAt > std::time(nullptr)
        && verifiedChain(signature, store.get(), std::nullopt).empty())
        chain.certificates.clear();
    if (!chain.certificates.empty()) {
        chain.anchored = true;
        return chain;
    }
    // Not anchored: still follow issuers through the carried certificates, so
    // that "certificate 1" names the same certificate either way.
    chain.certificates.push_back(shared(signature.signer.get()));
    for (int depth = 0; depth < 10; ++depth) {
        X509* current = chain.certificates.back().get();
        if (X509_check_issued(current, current) == X509_V_OK)
            break;
        X509* issuer = nullptr;
        for (int i = 0; i < sk_X509_num(signature.certificates.get()); ++i) {
            X509* candidate = sk_X509_value(signature.certificates.get(), i);
            if (X509_check_issued(candidate, current) == X509_V_OK) {
                issuer = candidate;
                break;
            }
        }
        if (!issuer)
            break;
        chain.certificates.push_back(shared(issuer));
    }
    return chain;
}

X509* certificateAt(const Chain& chain, Requirement::Slot slot)
{
    const size_t index = slot == Requirement::Slot::leaf ? 0 : 1;
    return index < chain.certificates.size() ? chain.certificates[index].get() : nullptr;
}

bool satisfies(const Requirement& requirement, const Signature& signature, const Chain& chain)
{
    if (requirement.anchorApple() && !chain.anchored)
        return false;
    for (const Requirement::FieldExists& field : requirement.fields()) {
        X509* certificate = certificateAt(chain, field.slot);
        if (!Certificates::hasExtension(certificate, field.oid.toLatin1().constData()))
            return false;
    }
    for (const Requirement::SubjectOU& clause : requirement.subjectOUs()) {
        X509* certificate = certificateAt(chain, clause.slot);
        if (!certificate || Certificates::subjectField(certificate, NID_organizationalUnitName) != clause.value)
            return false;
    }
    for (const QString& identifier : requirement.identifiers()) {
        if (signature.resources.identifier != identifier)
            return false;
    }
    return true;
}

bool isNestedBundleName(const QString& path)
{
    return std::any_of(kNestedExtensions.begin(), kNestedExtensions.end(),
                       [&](QLatin1StringView extension) { return path.endsWith(extension); });
}

// Whether the link, at its place in the bundle, points inside the bundle:
// by its text, and by the folders it actually passes through on disk.
bool staysInside(const QString& bundle, const QString& linkPath, const QString& target)
{
    if (target.startsWith(u'/'))
        return false;
    const qsizetype slash = linkPath.lastIndexOf(u'/');
    const QString folder = slash < 0 ? QString() : linkPath.left(slash);
    const QString lexical = QDir::cleanPath(folder.isEmpty() ? target : folder + u'/' + target);
    if (lexical == ".."_L1 || lexical.startsWith("../"_L1))
        return false;

    // The link's own folder is a real folder (the scan never follows links);
    // resolve the target from there, as the system would, through any links
    // it passes. A dangling tail stays lexical, which the system can't pass either.
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path root = fs::canonical(fs::path(QFile::encodeName(bundle).toStdString()), error);
    if (error)
        return false;
    const fs::path start = fs::canonical(root / fs::path(QFile::encodeName(folder).toStdString()), error);
    if (error)
        return false;
    const fs::path resolved = fs::weakly_canonical(start / fs::path(QFile::encodeName(target).toStdString()), error);
    if (error)
        return false;
    const fs::path relative = resolved.lexically_relative(root);
    return !relative.empty() && *relative.begin() != "..";
}

// File digests taken during one verification, by path from the outermost
// bundle. A nested bundle's files were read moments earlier for the outer
// seal; the nested seal compares its own list with those same bytes' digests
// instead of reading them again.
using Measured = MeasuredFiles;

Validity checkSeal(const QString& bundle, const Signature& signature, const QString& prefix, Measured& measured)
{
    // The signature folder holds the two signature files and nothing else.
    const QDir folder(bundle + u"/Contents/_CodeSignature"_s);
    const QStringList names = folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : names) {
        if (name != "CodeResources"_L1 && name != "CodeSignature"_L1)
            return failure(kStatusBadResource, u"a file was added after signing: Contents/_CodeSignature/"_s + name);
    }

    CodeResources onDisk;
    try {
        onDisk = CodeResources::scan(bundle);
    } catch (const CodeResources::ScanError& error) {
        return failure(kStatusBadResource, error.detail);
    }

    const auto& sealed = signature.resources.entries;
    auto a = sealed.begin();
    auto b = onDisk.entries.begin();
    while (a != sealed.end() || b != onDisk.entries.end()) {
        if (b == onDisk.entries.end() || (a != sealed.end() && a->first < b->first))
            return failure(kStatusBadResource, u"a sealed resource is missing: "_s + a->first);
        if (a == sealed.end() || b->first < a->first)
            return failure(kStatusBadResource, u"a file was added after signing: "_s + b->first);
        const SealedEntry& want = a->second;
        const SealedEntry& have = b->second;
        if (want.kind != have.kind)
            return failure(kStatusBadResource, u"a sealed resource was replaced: "_s + a->first);
        if ((want.mode & CodeResources::kSealedModeBits) != (have.mode & CodeResources::kSealedModeBits))
            return failure(kStatusBadResource, u"the permissions of a sealed resource changed: "_s + a->first);
        if (want.kind == SealedEntry::Kind::file && want.size != have.size)
            return failure(kStatusBadResource, u"a sealed resource was modified: "_s + a->first);
        if (want.kind == SealedEntry::Kind::symlink && want.target != have.target)
            return failure(kStatusBadResource, u"a symbolic link was changed: "_s + a->first);
        ++a;
        ++b;
    }

    std::vector<QString> files;
    for (const auto& [path, entry] : sealed) {
        if (entry.kind == SealedEntry::Kind::symlink && !staysInside(bundle, path, entry.target))
            return failure(kStatusInvalidSymlink, u"a symbolic link leaves the bundle: "_s + path);
        if (entry.kind == SealedEntry::Kind::file)
            files.push_back(path);
    }

    std::vector<QString> unread;
    for (const QString& file : files) {
        if (!measured.contains(prefix + file))
            unread.push_back(file);
    }
    const std::vector<CodeResources::Digest> digests = CodeResources::digest(bundle, unread);
    for (size_t i = 0; i < unread.size(); ++i) {
        if (digests[i].sha256.isEmpty())
            return failure(kStatusBadResource, u"a sealed resource can't be read: "_s + unread[i] + u" ("_s + digests[i].error + u')');
        measured.emplace(prefix + unread[i], digests[i]);
    }
    for (const QString& file : files) {
        const SealedEntry& want = sealed.at(file);
        const CodeResources::Digest& have = measured.at(prefix + file);
        if (have.sha256 != want.sha256 || have.size != want.size)
            return failure(kStatusBadResource, u"a sealed resource was modified: "_s + file);
    }
    return {};
}

// `prefix` is the bundle's path inside the outermost one, with a final slash
// (empty for the outermost).
Validity check(const QString& bundle, const std::optional<Requirement>& requirement, const TrustAnchors& anchors,
               int depth, const QString& prefix, Measured& measured)
{
    if (const int status = openStatus(bundle); status != kStatusValid)
        return failure(status, status == kStatusStaticCodeNotFound ? u"code object not found"_s
                                                                   : u"bundle format unrecognized"_s);
    std::variant<Signature, Validity> read = readSignature(bundle);
    if (Validity* failed = std::get_if<Validity>(&read))
        return *failed;
    const Signature& signature = std::get<Signature>(read);

    if (Validity sealed = checkSeal(bundle, signature, prefix, measured); !sealed.isValid())
        return sealed;

    // Nested bundles, outermost ones only: each checks its own nested code.
    QString inside; // the last nested bundle found; paths below it are its own
    for (const auto& [path, entry] : signature.resources.entries) {
        if (!inside.isEmpty() && path.startsWith(inside + u'/'))
            continue;
        if (entry.kind != SealedEntry::Kind::directory || !path.startsWith("Contents/"_L1) || !isNestedBundleName(path))
            continue;
        inside = path;
        if (depth >= kMaxNestingDepth)
            return failure(kStatusBadNestedCode, u"nested code is too deep: "_s + path);
        const std::optional<Requirement> nested = requirement ? std::optional(requirement->nested()) : std::nullopt;
        const Validity inner = check(bundle + u'/' + path, nested, anchors, depth + 1, prefix + path + u'/', measured);
        // Intact nested code from someone else makes the whole bundle someone else's.
        if (inner.status == kStatusRequirementFailed || inner.status == kStatusSignatureUntrusted)
            return inner;
        if (!inner.isValid()) {
            const QString detail = inner.detail.isEmpty() ? u"OSStatus "_s + QString::number(inner.status) : inner.detail;
            return failure(kStatusBadNestedCode, u"nested code is modified or invalid: "_s + path + u" ("_s + detail + u')');
        }
    }

    // A seal is only as good as who made it, and anyone can make one with a
    // certificate of their own: with or without a requirement, and whatever
    // the requirement asks, the signer must chain to a pinned anchor.
    const Chain chain = chainOf(signature, anchors);
    if (requirement && (!chain.anchored || !satisfies(*requirement, signature, chain)))
        return failure(kStatusRequirementFailed, u"code failed to satisfy specified code requirement(s)"_s);
    if (!chain.anchored)
        return failure(kStatusSignatureUntrusted, u"the signer's certificate doesn't chain to a trusted anchor"_s);
    return {};
}

QString bundleName(const QString& bundle)
{
    return QFileInfo(QDir::cleanPath(bundle)).fileName();
}

} // namespace

QString requirement(const std::optional<QString>& bundleID, const QString& teamID)
{
    QString text = u"anchor apple generic and certificate 1[field.1.2.840.113635.100.6.2.6] exists and "
                   u"certificate leaf[field.1.2.840.113635.100.6.1.13] exists"_s;
    if (bundleID && !bundleID->isEmpty())
        text += u" and identifier \""_s + *bundleID + u'"';
    text += u" and certificate leaf[subject.OU] = \""_s + teamID + u'"';
    return text;
}

bool isPlainBundleID(const std::optional<QString>& bundleID)
{
    // Anchored on the whole text: a plain "$" would also accept a final line
    // break, and the identifier goes into a requirement and a root script.
    static const QRegularExpression plain(QRegularExpression::anchoredPattern(u"[A-Za-z0-9][A-Za-z0-9.-]*"_s));
    return bundleID && !bundleID->isEmpty() && bundleID->size() <= 255 && plain.match(*bundleID).hasMatch();
}

int openStatus(const QString& bundle)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(bundle).constData(), &info) != 0)
        return errno == ENOENT || errno == ENOTDIR ? kStatusStaticCodeNotFound : kStatusBadBundleFormat;
    return S_ISDIR(info.st_mode) ? kStatusValid : kStatusBadBundleFormat;
}

Validity checkValidity(const QString& bundle, const std::optional<Requirement>& requirement, const TrustAnchors& anchors)
{
    Measured measured;
    return check(QDir::cleanPath(bundle), requirement, anchors, 0, QString(), measured);
}

void verify(const QString& bundle, const std::optional<QString>& bundleID, bool allowUnsigned)
{
    verify(bundle, bundleID, allowUnsigned, TrustAnchors::pinned());
}

void verify(const QString& bundle, const std::optional<QString>& bundleID, bool allowUnsigned, const TrustAnchors& anchors,
            const MeasuredFiles& measuredFiles)
{
    // A trailing slash would make the system follow a link in the last step.
    const QString path = QDir::cleanPath(bundle);
    const QString name = bundleName(path);
    if (const int status = openStatus(path); status != kStatusValid)
        throw HubError::message(name + u" can't be read as signed code ("_s + QString::number(status)
                                + u"), so the hub won't install it."_s);
    std::optional<Requirement> compiled;
    if (!allowUnsigned) {
        if (!isPlainBundleID(bundleID))
            throw HubError::message(name + u" has no usable bundle id in the catalog, so the hub won't install it."_s);
        compiled = Requirement::compile(requirement(bundleID, Config::teamID()));
        if (!compiled)
            throw HubError::message(u"Bad signature requirement ("_s + QString::number(kStatusRequirementInvalid) + u")."_s);
    }
    Measured measured = measuredFiles;
    const Validity validity = check(path, compiled, anchors, 0, QString(), measured);
    if (validity.isValid())
        return;
    if (validity.status == kStatusRequirementFailed || validity.status == kStatusSignatureUntrusted)
        throw HubError::message(name + u" isn't signed by Tarnaudio, so the hub won't install it."_s);
    const QString detail = validity.detail.isEmpty() ? u"OSStatus "_s + QString::number(validity.status) : validity.detail;
    throw HubError::message(name + u" has a broken signature, so the hub won't install it. ("_s + detail + u')');
}

std::optional<QString> teamID(const QString& bundle)
{
    return teamID(bundle, TrustAnchors::pinned());
}

std::optional<QString> teamID(const QString& bundle, const TrustAnchors& anchors)
{
    const QString path = QDir::cleanPath(bundle);
    if (openStatus(path) != kStatusValid)
        return std::nullopt;
    const std::variant<Signature, Validity> read = readSignature(path);
    const Signature* signature = std::get_if<Signature>(&read);
    if (!signature)
        return std::nullopt;
    const Chain chain = chainOf(*signature, anchors);
    if (!chain.anchored)
        return std::nullopt;
    return Certificates::subjectField(chain.certificates.front().get(), NID_organizationalUnitName);
}

} // namespace CodeSignature

} // namespace Hub

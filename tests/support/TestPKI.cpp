#include "TestPKI.h"

#include "Base/Config.h"
#include "Platform/OpenSslHandles.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/sha.h>
#include <openssl/ts.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <stdexcept>
#include <string>

namespace Hub::Test {

namespace {

constexpr char kDeveloperMarker[] = "1.2.840.113635.100.6.2.6";
constexpr char kApplicationMarker[] = "1.2.840.113635.100.6.1.13";
constexpr char kInstallerMarker[] = "1.2.840.113635.100.6.1.14";

[[noreturn]] void fail(const std::string& what)
{
    throw std::runtime_error("TestPKI: " + what);
}

std::shared_ptr<EVP_PKEY> newKey()
{
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    if (!key)
        fail("cannot make a key");
    return std::shared_ptr<EVP_PKEY>(key, EVP_PKEY_free);
}

void addExtension(X509* certificate, X509* issuer, int nid, const char* value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (!extension)
        fail(std::string("cannot make extension ") + value);
    const int added = X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
    if (!added)
        fail(std::string("cannot add extension ") + value);
}

// A marker extension as the platform's certificates carry it: the OID with
// an ASN.1 NULL as its value.
void addMarker(X509* certificate, const char* oid)
{
    const OpenSsl::Asn1Object object(OBJ_txt2obj(oid, 1));
    const std::unique_ptr<ASN1_OCTET_STRING, decltype(&ASN1_OCTET_STRING_free)> value(ASN1_OCTET_STRING_new(),
                                                                                     ASN1_OCTET_STRING_free);
    static const unsigned char kNull[] = {0x05, 0x00};
    if (!object || !value || ASN1_OCTET_STRING_set(value.get(), kNull, sizeof kNull) != 1)
        fail("cannot make marker");
    X509_EXTENSION* extension = X509_EXTENSION_create_by_OBJ(nullptr, object.get(), 0, value.get());
    if (!extension)
        fail("cannot make marker extension");
    const int added = X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
    if (!added)
        fail("cannot add marker extension");
}

struct CertificateSpec {
    std::string commonName;
    std::string organizationalUnit; // empty: none
    bool authority = false;
    const char* marker = nullptr;
    long notBefore = -3600;
    long notAfter = 30L * 24 * 3600;
    const char* extendedKeyUsage = "codeSigning";
};

std::shared_ptr<X509> makeCertificate(const CertificateSpec& recipe, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey)
{
    std::shared_ptr<X509> certificate(X509_new(), X509_free);
    if (!certificate)
        fail("cannot make a certificate");
    X509* cert = certificate.get();
    std::uint64_t serial = 0;
    if (RAND_bytes(reinterpret_cast<unsigned char*>(&serial), sizeof serial) != 1)
        fail("no random bytes");
    serial >>= 1;
    X509_NAME* name = X509_get_subject_name(cert);
    const auto addName = [&](const char* field, const std::string& value) {
        if (X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(value.c_str()),
                                       -1, -1, 0)
            != 1)
            fail("cannot set the subject");
    };
    addName("CN", recipe.commonName);
    if (!recipe.organizationalUnit.empty())
        addName("OU", recipe.organizationalUnit);
    addName("O", "Hub Test PKI");
    if (X509_set_version(cert, X509_VERSION_3) != 1 || ASN1_INTEGER_set_uint64(X509_get_serialNumber(cert), serial) != 1
        || !X509_gmtime_adj(X509_getm_notBefore(cert), recipe.notBefore)
        || !X509_gmtime_adj(X509_getm_notAfter(cert), recipe.notAfter) || X509_set_pubkey(cert, key) != 1
        || X509_set_issuer_name(cert, issuer ? X509_get_subject_name(issuer) : name) != 1)
        fail("cannot fill the certificate");
    X509* signer = issuer ? issuer : cert;
    if (recipe.authority) {
        addExtension(cert, signer, NID_basic_constraints, "critical,CA:TRUE");
        addExtension(cert, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        addExtension(cert, signer, NID_basic_constraints, "critical,CA:FALSE");
        addExtension(cert, signer, NID_key_usage, "critical,digitalSignature");
        addExtension(cert, signer, NID_ext_key_usage, recipe.extendedKeyUsage);
    }
    addExtension(cert, signer, NID_subject_key_identifier, "hash");
    if (issuer)
        addExtension(cert, signer, NID_authority_key_identifier, "keyid:always");
    if (recipe.marker)
        addMarker(cert, recipe.marker);
    if (X509_sign(cert, issuerKey ? issuerKey : key, EVP_sha256()) <= 0)
        fail("cannot sign the certificate");
    return certificate;
}

SigningIdentity leaf(const CertificateSpec& recipe, const std::shared_ptr<X509>& intermediate,
                     const std::shared_ptr<EVP_PKEY>& intermediateKey)
{
    SigningIdentity identity;
    identity.key = newKey();
    identity.certificate = makeCertificate(recipe, identity.key.get(), intermediate.get(), intermediateKey.get());
    identity.chain = {intermediate};
    return identity;
}

// A time-stamping authority under a root of its own, valid for a year either side of now.
TimeStamper timeStampingAuthority(const std::string& name, std::shared_ptr<X509>* root)
{
    constexpr long kYear = 365L * 24 * 3600;
    const auto rootKey = newKey();
    *root = makeCertificate({name + " Root", {}, true, nullptr, -kYear, kYear}, rootKey.get(), nullptr, nullptr);
    TimeStamper stamper;
    stamper.key = newKey();
    stamper.certificate = makeCertificate({name, {}, false, nullptr, -kYear, kYear, "critical,timeStamping"},
                                          stamper.key.get(), root->get(), rootKey.get());
    stamper.time = QDateTime::currentDateTimeUtc();
    return stamper;
}

int stampedTime(TS_RESP_CTX*, void* data, long* seconds, long* microseconds)
{
    *seconds = long(static_cast<const QDateTime*>(data)->toSecsSinceEpoch());
    *microseconds = 0;
    return 1;
}

// The DER token `stamper` gives for the SHA-256 digest of `covered`, as an
// authority answers a request that asks for its certificate.
QByteArray timeStampToken(const QByteArray& covered, const TimeStamper& stamper)
{
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(covered.constData()), size_t(covered.size()), digest);
    const std::unique_ptr<TS_REQ, OpenSsl::Detail::Deleter<TS_REQ_free>> request(TS_REQ_new());
    const std::unique_ptr<TS_MSG_IMPRINT, OpenSsl::Detail::Deleter<TS_MSG_IMPRINT_free>> imprint(TS_MSG_IMPRINT_new());
    const std::unique_ptr<X509_ALGOR, OpenSsl::Detail::Deleter<X509_ALGOR_free>> algorithm(X509_ALGOR_new());
    if (!request || !imprint || !algorithm
        || X509_ALGOR_set0(algorithm.get(), OBJ_nid2obj(NID_sha256), V_ASN1_NULL, nullptr) != 1
        || TS_MSG_IMPRINT_set_algo(imprint.get(), algorithm.get()) != 1
        || TS_MSG_IMPRINT_set_msg(imprint.get(), digest, sizeof digest) != 1 || TS_REQ_set_version(request.get(), 1) != 1
        || TS_REQ_set_msg_imprint(request.get(), imprint.get()) != 1 || TS_REQ_set_cert_req(request.get(), 1) != 1)
        fail("cannot make a time-stamp request");
    const OpenSsl::Bio requestBytes(BIO_new(BIO_s_mem()));
    if (!requestBytes || i2d_TS_REQ_bio(requestBytes.get(), request.get()) != 1)
        fail("cannot encode the time-stamp request");

    const std::unique_ptr<TS_RESP_CTX, OpenSsl::Detail::Deleter<TS_RESP_CTX_free>> responder(TS_RESP_CTX_new());
    const OpenSsl::Asn1Object policy(OBJ_txt2obj("1.3.6.1.4.1.4146.2.3", 1));
    if (!responder || !policy || TS_RESP_CTX_set_signer_cert(responder.get(), stamper.certificate.get()) != 1
        || TS_RESP_CTX_set_signer_key(responder.get(), stamper.key.get()) != 1
        || TS_RESP_CTX_set_signer_digest(responder.get(), EVP_sha256()) != 1
        || TS_RESP_CTX_set_def_policy(responder.get(), policy.get()) != 1
        || TS_RESP_CTX_add_md(responder.get(), EVP_sha256()) != 1)
        fail("cannot set up the time-stamping authority");
    TS_RESP_CTX_set_time_cb(responder.get(), stampedTime, const_cast<QDateTime*>(&stamper.time));
    const std::unique_ptr<TS_RESP, OpenSsl::Detail::Deleter<TS_RESP_free>> response(
        TS_RESP_create_response(responder.get(), requestBytes.get()));
    PKCS7* token = response ? TS_RESP_get_token(response.get()) : nullptr;
    if (!token || ASN1_INTEGER_get(TS_STATUS_INFO_get0_status(TS_RESP_get_status_info(response.get()))) != 0)
        fail("the time-stamping authority refused");
    unsigned char* der = nullptr;
    const int length = i2d_PKCS7(token, &der);
    if (length <= 0)
        fail("cannot encode the time-stamp token");
    const QByteArray bytes(reinterpret_cast<const char*>(der), length);
    OPENSSL_free(der);
    return bytes;
}

} // namespace

TestPKI::TestPKI()
{
    const std::string team = Config::teamID().toStdString();

    m_anchorKey = newKey();
    // The authorities outlive every leaf, so a leaf's own validity decides.
    constexpr long kYear = 365L * 24 * 3600;
    m_anchor = makeCertificate({"Hub Test Root CA", {}, true, nullptr, -kYear, kYear}, m_anchorKey.get(), nullptr,
                               nullptr);
    const auto intermediateKey = newKey();
    const auto intermediate = makeCertificate({"Hub Test Developer ID CA", {}, true, kDeveloperMarker, -kYear, kYear},
                                              intermediateKey.get(), m_anchor.get(), m_anchorKey.get());

    m_maker = leaf({"Developer ID Application: Tarnaudio (" + team + ")", team, false, kApplicationMarker}, intermediate,
                   intermediateKey);
    m_otherTeam = leaf({"Developer ID Application: Other (OTHERTEAM1)", kOtherTeam, false, kApplicationMarker},
                       intermediate, intermediateKey);
    m_noMarker = leaf({"Apple Development: Tarnaudio (" + team + ")", team, false, nullptr}, intermediate, intermediateKey);
    m_expired = leaf({"Developer ID Application: Tarnaudio (" + team + ")", team, false, kApplicationMarker,
                      -30L * 24 * 3600, -24L * 3600},
                     intermediate, intermediateKey);
    m_notYetValid = leaf({"Developer ID Application: Tarnaudio (" + team + ")", team, false, kApplicationMarker,
                          24L * 3600, 31L * 24 * 3600},
                         intermediate, intermediateKey);
    m_makerInstaller = leaf({"Developer ID Installer: Tarnaudio (" + team + ")", team, false, kInstallerMarker},
                            intermediate, intermediateKey);
    m_otherTeamInstaller = leaf({"Developer ID Installer: Other (OTHERTEAM1)", kOtherTeam, false, kInstallerMarker},
                                intermediate, intermediateKey);

    const auto foreignRootKey = newKey();
    m_foreignAnchor = makeCertificate({"Foreign Root CA", {}, true, nullptr}, foreignRootKey.get(), nullptr, nullptr);
    const auto foreignIntermediateKey = newKey();
    const auto foreignIntermediate = makeCertificate({"Foreign Developer ID CA", {}, true, kDeveloperMarker},
                                                     foreignIntermediateKey.get(), m_foreignAnchor.get(),
                                                     foreignRootKey.get());
    m_foreign = leaf({"Developer ID Application: Tarnaudio (" + team + ")", team, false, kApplicationMarker},
                     foreignIntermediate, foreignIntermediateKey);

    m_selfSigned.key = newKey();
    m_selfSigned.certificate =
        makeCertificate({"Developer ID Application: Tarnaudio (" + team + ")", team, false, kApplicationMarker},
                        m_selfSigned.key.get(), nullptr, nullptr);

    m_timeStamper = timeStampingAuthority("Hub Test Time-Stamping Authority", &m_timeStampAnchor);
    std::shared_ptr<X509> foreignTimeStampRoot;
    m_foreignTimeStamper = timeStampingAuthority("Foreign Time-Stamping Authority", &foreignTimeStampRoot);
}

QByteArray TestPKI::toPem(X509* certificate)
{
    const OpenSsl::Bio bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_X509(bio.get(), certificate) != 1)
        fail("cannot write PEM");
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, int(length));
}

QByteArray TestPKI::anchorPem() const
{
    return toPem(m_anchor.get());
}

QByteArray TestPKI::timeStampAnchorPem() const
{
    return toPem(m_timeStampAnchor.get());
}

QByteArray TestPKI::foreignAnchorPem() const
{
    return toPem(m_foreignAnchor.get());
}

SigningIdentity SigningIdentity::signedAt(const QDateTime& when) const
{
    SigningIdentity copy = *this;
    copy.signingTime = when;
    return copy;
}

SigningIdentity SigningIdentity::timeStampedBy(const TimeStamper& stamper) const
{
    SigningIdentity copy = *this;
    copy.timeStamper = stamper;
    return copy;
}

TimeStamper TimeStamper::at(const QDateTime& when) const
{
    TimeStamper copy = *this;
    copy.time = when;
    return copy;
}

TimeStamper TimeStamper::overOther() const
{
    TimeStamper copy = *this;
    copy.overOtherBytes = true;
    return copy;
}

SigningIdentity SigningIdentity::signedWithoutTime() const
{
    SigningIdentity copy = *this;
    copy.withoutSigningTime = true;
    return copy;
}

QByteArray signDetached(const QByteArray& content, const SigningIdentity& signer)
{
    const OpenSsl::X509StackView chain(sk_X509_new_null());
    for (const auto& certificate : signer.chain)
        sk_X509_push(chain.get(), certificate.get());
    const OpenSsl::Bio in(BIO_new_mem_buf(content.constData(), int(content.size())));
    // Signed in steps so that a signing time can be set before the signature
    // is made; without one, OpenSSL writes the current time.
    const unsigned flags = CMS_DETACHED | CMS_BINARY | CMS_PARTIAL | (signer.withoutSigningTime ? CMS_NOATTR : 0);
    const OpenSsl::Cms cms(CMS_sign(nullptr, nullptr, chain.get(), nullptr, flags));
    CMS_SignerInfo* info =
        cms ? CMS_add1_signer(cms.get(), signer.certificate.get(), signer.key.get(), EVP_sha256(), flags) : nullptr;
    if (!info)
        fail("CMS_sign failed");
    if (signer.signingTime) {
        const std::unique_ptr<ASN1_TIME, decltype(&ASN1_TIME_free)> when(
            ASN1_TIME_set(nullptr, signer.signingTime->toSecsSinceEpoch()), ASN1_TIME_free);
        if (!when
            || CMS_signed_add1_attr_by_NID(info, NID_pkcs9_signingTime, ASN1_STRING_type(when.get()), when.get(), -1)
                   != 1)
            fail("cannot set the signing time");
    }
    if (CMS_final(cms.get(), in.get(), nullptr, flags) != 1)
        fail("CMS_final failed");
    if (signer.timeStamper) {
        const ASN1_OCTET_STRING* value = CMS_SignerInfo_get0_signature(info);
        const QByteArray signature(reinterpret_cast<const char*>(ASN1_STRING_get0_data(value)), ASN1_STRING_length(value));
        const QByteArray token =
            timeStampToken(signer.timeStamper->overOtherBytes ? "other bytes" + signature : signature, *signer.timeStamper);
        if (CMS_unsigned_add1_attr_by_NID(info, NID_id_smime_aa_timeStampToken, V_ASN1_SEQUENCE, token.constData(),
                                          int(token.size()))
            != 1)
            fail("cannot add the time-stamp token");
    }
    const OpenSsl::Bio out(BIO_new(BIO_s_mem()));
    if (i2d_CMS_bio(out.get(), cms.get()) != 1)
        fail("cannot encode the signature");
    char* data = nullptr;
    const long length = BIO_get_mem_data(out.get(), &data);
    return QByteArray(data, int(length));
}

} // namespace Hub::Test

#include "TestPKI.h"

#include "Catalog/Config.h"
#include "Platform/OpenSslHandles.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
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
        addExtension(cert, signer, NID_ext_key_usage, "codeSigning");
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
    const OpenSsl::Bio out(BIO_new(BIO_s_mem()));
    if (i2d_CMS_bio(out.get(), cms.get()) != 1)
        fail("cannot encode the signature");
    char* data = nullptr;
    const long length = BIO_get_mem_data(out.get(), &data);
    return QByteArray(data, int(length));
}

} // namespace Hub::Test

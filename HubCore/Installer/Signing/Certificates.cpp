#include "Installer/Signing/Certificates.h"

#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

namespace Hub::Certificates {

OpenSsl::Store anchorStore(const TrustAnchors& anchors)
{
    return anchorStore(anchors.pem());
}

OpenSsl::Store anchorStore(const QByteArray& pemText)
{
    OpenSsl::Store store(X509_STORE_new());
    const OpenSsl::Bio pem(BIO_new_mem_buf(pemText.constData(), int(pemText.size())));
    if (!store || !pem)
        return {};
    int count = 0;
    while (X509* anchor = PEM_read_bio_X509(pem.get(), nullptr, nullptr, nullptr)) {
        X509_STORE_add_cert(store.get(), anchor);
        X509_free(anchor);
        ++count;
    }
    if (count == 0)
        return {};
    return store;
}

std::optional<QString> subjectField(X509* certificate, int nid)
{
    if (!certificate)
        return std::nullopt;
    X509_NAME* name = X509_get_subject_name(certificate);
    const int index = X509_NAME_get_index_by_NID(name, nid, -1);
    if (index < 0 || X509_NAME_get_index_by_NID(name, nid, index) >= 0)
        return std::nullopt;
    unsigned char* utf8 = nullptr;
    const int length = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index)));
    if (length < 0)
        return std::nullopt;
    const OpenSsl::Text owner(utf8);
    return QString::fromUtf8(reinterpret_cast<const char*>(utf8), length);
}

bool hasExtension(X509* certificate, const char* oid)
{
    const OpenSsl::Asn1Object object(OBJ_txt2obj(oid, 1));
    return certificate && object && X509_get_ext_by_OBJ(certificate, object.get(), -1) >= 0;
}

} // namespace Hub::Certificates

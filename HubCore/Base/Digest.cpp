#include "Base/Digest.h"

#include <openssl/evp.h>

namespace Hub {

QString sha256Hex(const QByteArray& bytes)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.constData(), static_cast<size_t>(bytes.size()), digest, &length, EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 is not available");
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(digest), int(length)).toHex());
}

QString sha256Hex(const QString& text)
{
    return sha256Hex(text.toUtf8());
}

} // namespace Hub

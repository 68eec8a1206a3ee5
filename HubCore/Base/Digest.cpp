#include "Base/Digest.h"

// Short in-memory values only: QtCore's digest keeps the programs that need
// no other cryptography (`hubtarn --status`) from loading libcrypto.
#include <QCryptographicHash>

namespace Hub {

QString sha256Hex(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QString sha256Hex(const QString& text)
{
    return sha256Hex(text.toUtf8());
}

} // namespace Hub

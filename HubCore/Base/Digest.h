#pragma once

#include <QByteArray>
#include <QString>

namespace Hub {

// Lower-case hexadecimal SHA-256 of the text's UTF-8 bytes.
QString sha256Hex(const QString& text);
QString sha256Hex(const QByteArray& bytes);

} // namespace Hub

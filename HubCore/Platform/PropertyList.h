#pragma once

#include <QByteArray>
#include <QString>
#include <QVariantMap>

#include <optional>

// Bundles describe themselves in an XML property list (Contents/Info.plist).
// This reads and writes the subset bundles use: dict, array, string,
// integer, real, true/false, date (as text) and data (as bytes).
namespace Hub::PropertyList {

// The top-level dictionary; none when the bytes are not an XML property
// list whose top level is a dict.
std::optional<QVariantMap> parse(const QByteArray& xml);
// The file's top-level dictionary; an empty one when the file is missing,
// unreadable or not a dictionary, which is how bundle readers treat it.
QVariantMap readDictionary(const QString& path);
// A text value of the dictionary; none when absent or not text.
std::optional<QString> text(const QVariantMap& dictionary, const QString& key);

QByteArray serialize(const QVariantMap& dictionary);

} // namespace Hub::PropertyList

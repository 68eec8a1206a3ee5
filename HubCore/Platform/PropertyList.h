#pragma once

#include <QByteArray>
#include <QString>
#include <QVariantMap>

#include <optional>

// Bundles describe themselves in a property list (Contents/Info.plist).
// This reads XML and binary lists and writes XML, of the types bundles use:
// dict, array, string, integer, real, true/false, date (as a UTC
// QDateTime, never text) and data (as bytes). A list nested deeper than
// 256 levels, larger than 8 MiB, or whose decoded values would weigh more
// than 32 MiB is refused; an object a binary list refers to from many places
// counts at each, with its weight and with its depth.
namespace Hub::PropertyList {

// The top-level dictionary; none when the bytes are not a property list
// whose top level is a dict.
std::optional<QVariantMap> parse(const QByteArray& xml);
// The file's top-level dictionary; none when the path is not a regular file
// (a named pipe or a device is never opened for reading), is too large, is
// unreadable or holds no dictionary.
std::optional<QVariantMap> load(const QString& path);
// load(), with an empty dictionary for none, which is how bundle readers
// treat it.
QVariantMap readDictionary(const QString& path);
// A text value of the dictionary; none when absent or not text.
std::optional<QString> text(const QVariantMap& dictionary, const QString& key);

QByteArray serialize(const QVariantMap& dictionary);

} // namespace Hub::PropertyList

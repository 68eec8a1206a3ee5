#pragma once

#include <QList>
#include <QString>

#include <compare>
#include <optional>

// Dotted version numbers. Only the leading run of digits and dots counts:
// "2.0b3" and "2.0-rc1" both equal "2.0", and a missing part reads as 0.
namespace Hub::Versions {

QList<qint64> parts(const QString& text);
// less: a is older; equal; greater: a is newer.
std::strong_ordering compare(const QString& a, const QString& b);
bool isNewer(const QString& a, const QString& than);
// True for an absent or empty minimum, else unless `running` is older.
bool macOSSatisfies(const std::optional<QString>& minimum, const QString& running);
// Against this machine's platform version.
bool macOSSatisfies(const std::optional<QString>& minimum);

} // namespace Hub::Versions

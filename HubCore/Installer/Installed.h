#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace Hub {
struct Product;

struct InstalledCopy {
    QString path;
    QString version;

    friend bool operator==(const InstalledCopy&, const InstalledCopy&) = default;
};

// The simple reading of a product's catalog install paths, without scope
// or duplicate checks.
namespace Installed {

// One copy per catalog path whose bundle declares a version, in catalog order.
QList<InstalledCopy> scan(const Product& product, const QString& home);
QList<InstalledCopy> scan(const Product& product);
// "~/x" becomes "<home>/x"; any other path is returned unchanged.
QString expand(const QString& path, const QString& home);
// The highest version; the first of equal ones. None for an empty list.
std::optional<QString> newest(const QList<InstalledCopy>& copies);

} // namespace Installed
} // namespace Hub

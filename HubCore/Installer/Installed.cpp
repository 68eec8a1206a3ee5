#include "Installer/Installed.h"

#include "Base/Config.h"
#include "Base/Versions.h"
#include "Catalog/CatalogRecords.h"
#include "Installer/InstallLocations.h"

using namespace Qt::StringLiterals;

namespace Hub::Installed {

QList<InstalledCopy> scan(const Product& product) { return scan(product, Config::homeFolder()); }

QList<InstalledCopy> scan(const Product& product, const QString& home)
{
    QList<InstalledCopy> copies;
    if (!product.install)
        return copies;
    for (const QString& path : product.install->bundles) {
        const QString expanded = expand(path, home);
        if (auto version = InstallLocations::bundleVersion(expanded))
            copies.push_back({expanded, *version});
    }
    return copies;
}

QString expand(const QString& path, const QString& home)
{
    if (path.startsWith(u"~/"_s))
        return home + path.mid(1);
    return path;
}

std::optional<QString> newest(const QList<InstalledCopy>& copies)
{
    if (copies.isEmpty())
        return std::nullopt;
    QString best = copies.front().version;
    for (qsizetype i = 1; i < copies.size(); ++i)
        if (Versions::isNewer(copies[i].version, best))
            best = copies[i].version;
    return best;
}

} // namespace Hub::Installed

#include "StatusReport.h"

#include "Base/Config.h"
#include "Base/Machine.h"
#include "Catalog/CatalogLoader.h"
#include "Installer/InstallLocations.h"
#include "Platform/ToolPaths.h"

#include <QFileInfo>
#include <QTextStream>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace Hub {

namespace {

// How a local copy fared, in a few words for the report.
QString describe(const LocalCopy& copy)
{
    switch (copy.state) {
    case LocalCopy::State::ok:
        return u"ok"_s;
    case LocalCopy::State::missing:
        return u"not present"_s;
    case LocalCopy::State::unreadable:
        return u"cannot be read: "_s + copy.detail;
    case LocalCopy::State::unusable:
        return u"unusable: "_s + copy.detail;
    }
    return {};
}

QString versionOf(const Product& product)
{
    if (!product.release)
        return product.isComingSoon() ? u"coming soon"_s : u"-"_s;
    return product.release->version;
}

} // namespace

QString statusReport(const CatalogLoader& loader, bool selfUpdates)
{
    QString text;
    QTextStream out(&text);

    out << "Tarnhub " << Config::hubVersion() << " (" << Config::bundleID() << ")\n";
    if (!selfUpdates)
        out << Config::kUpdatesFromPackages << "\n";
    out << "Machine: " << Machine::name() << ", " << Machine::cpu() << "\n";
    out << "Machine identifier: " << Config::hubMachineID().value_or(u"none (no machine-id)"_s) << "\n";

    // Where installs go and where the hub keeps its files; named only,
    // never created here.
    const InstallRoots roots = InstallLocations::real();
    out << "Plug-ins for you: " << InstallLocations::folder(roots, PluginFormat::vst3, InstallScope::user)
        << " (VST3), " << InstallLocations::folder(roots, PluginFormat::au, InstallScope::user) << " (Audio Units)\n";
    out << "Plug-ins for all users: " << InstallLocations::folder(roots, PluginFormat::vst3, InstallScope::allUsers)
        << " (VST3), " << InstallLocations::folder(roots, PluginFormat::au, InstallScope::allUsers)
        << " (Audio Units)\n";
    out << "Applications: " << roots.applications << "\n";
    out << "Support folder: " << roots.support << "\n";
    out << "Downloads: " << Config::downloadsFolder() << "\n";
    out << "Helper tools: " << QFileInfo(ToolPaths::installed().installer).path() << "\n";

    LocalCopies copies;
    const std::optional<LoadedCatalog> loaded = loader.loadLocal(&copies);
    out << "Cached catalog: " << loader.cacheFile() << " (" << describe(copies.cached) << ")\n";
    out << "Built-in catalog: " << describe(copies.bundled) << "\n";
    if (!loaded) {
        out << "Catalog: none could be read\n";
        out.flush();
        return text;
    }

    const Catalog& catalog = loaded->catalog;
    out << "Catalog: " << rawValue(loaded->source) << ", updated "
        << catalog.updated.value_or(u"(no date)"_s) << ", " << catalog.products.size() << " products\n";
    if (catalog.hub && selfUpdates)
        out << "Latest Tarnhub: " << catalog.hub->version << "\n";

    qsizetype idWidth = 0;
    qsizetype nameWidth = 0;
    for (const Product& p : catalog.products) {
        idWidth = std::max(idWidth, p.id.size());
        nameWidth = std::max(nameWidth, p.name.size());
    }
    out << "\nProducts:\n";
    for (const Product& p : catalog.products) {
        out << "  " << p.id.leftJustified(idWidth) << "  " << p.name.leftJustified(nameWidth) << "  "
            << versionOf(p);
        if (p.feed)
            out << " (from its release feed when fetched)";
        out << "\n";
        for (const InstalledFormat& copy : InstallLocations::installed(p, roots))
            out << "    installed " << label(copy.format) << " at " << copy.path << ", version "
                << (copy.version.isEmpty() ? u"unknown"_s : copy.version) << "\n";
    }
    out.flush();
    return text;
}

} // namespace Hub

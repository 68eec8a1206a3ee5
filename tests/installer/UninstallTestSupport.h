#pragma once

#include "BundleFactory.h"
#include "TestFiles.h"

#include "Catalog/CatalogRecords.h"
#include "Installer/AURegistry.h"
#include "Installer/InstallLocations.h"
#include "Platform/Trash.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <QUrl>

#include <mutex>
#include <vector>

// Fixtures shared by the uninstall tests: the product "Echo" with a VST3 and
// an Audio Unit in its catalog release, and bundles laid out like installs.
namespace Hub::Test {

inline const QString kEchoVST3ID = QStringLiteral("com.tarnaudio.echo.vst3");
inline const QString kEchoAUID = QStringLiteral("com.tarnaudio.echo.au");
inline const AUDescriptor kEchoCodes{QStringLiteral("aufx"), QStringLiteral("Echo"), QStringLiteral("Tarn")};

inline Product echoProduct()
{
    Product product;
    product.id = QStringLiteral("echo");
    product.name = QStringLiteral("Echo");
    product.tagline = QStringLiteral("Repeats");
    product.kind = QStringLiteral("plugin");
    product.status = QStringLiteral("free");
    Release release;
    release.version = QStringLiteral("1.0.0");
    Artifact vst3;
    vst3.format = PluginFormat::vst3;
    vst3.url = QStringLiteral("https://tarnaudio.example/echo.vst3.zip");
    vst3.sha256 = QStringLiteral("00");
    vst3.bundle = QStringLiteral("Echo.vst3");
    vst3.bundleID = kEchoVST3ID;
    Artifact au = vst3;
    au.format = PluginFormat::au;
    au.bundle = QStringLiteral("Echo.component");
    au.bundleID = kEchoAUID;
    au.au = kEchoCodes;
    release.artifacts = std::vector<Artifact>{vst3, au};
    product.release = release;
    return product;
}

// An installed Echo bundle of `format` in `roots` for `scope`; the catalog's
// identifier unless another is given.
inline QString installEcho(const InstallRoots& roots, PluginFormat format, InstallScope scope,
                           const QString& bundleID = {})
{
    BundlePlan recipe;
    recipe.name = QStringLiteral("Echo.") + bundleExtension(format);
    recipe.bundleID = !bundleID.isEmpty() ? bundleID : format == PluginFormat::au ? kEchoAUID : kEchoVST3ID;
    if (format == PluginFormat::au)
        recipe.withComponent(kEchoCodes.type, kEchoCodes.subtype, kEchoCodes.manufacturer);
    return BundleFactory::create(InstallLocations::folder(roots, format, scope), recipe);
}

inline QString trashFiles(const QString& home) { return Trash::folder(home) + QStringLiteral("/files"); }

inline QString trashInfoOf(const QString& home, const QString& name)
{
    return QString::fromUtf8(readAll(Trash::folder(home) + QStringLiteral("/info/") + name + QStringLiteral(".trashinfo")));
}

// The Path line the file manager needs to put an item back.
inline QString expectedPathLine(const QString& original)
{
    return QStringLiteral("Path=") + QString::fromLatin1(QUrl::toPercentEncoding(original, "/"));
}

class RecordingRegistry : public AURegistry {
public:
    bool refreshAndWait(const AUDescriptor&, double) override { return true; }
    bool refreshAndWaitGone(const AUDescriptor& descriptor, double timeout) override
    {
        const std::lock_guard lock(m_mutex);
        gone.push_back(descriptor);
        timeouts.push_back(timeout);
        return true;
    }

    std::vector<AUDescriptor> gone;
    std::vector<double> timeouts;

private:
    std::mutex m_mutex;
};

} // namespace Hub::Test

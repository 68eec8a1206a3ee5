#pragma once

#include "Catalog/SharedTypes.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <utility>

namespace Hub::Test {

// One entry of a component's "AudioComponents" list.
struct AudioComponentSpec {
    AUDescriptor codes;
    QString name; // "Maker: Product"
};

// What a fixture bundle holds. Paths of extra files and links are relative
// to the bundle folder.
struct BundlePlan {
    QString name;                   // "Foo.component", "Foo.vst3", "Foo.app"
    QString bundleID = QStringLiteral("com.tarnaudio.fixture");
    std::optional<QString> shortVersion = QStringLiteral("1.0.0");
    std::optional<QString> bundleVersion;
    std::optional<QString> iconFile; // CFBundleIconFile
    QList<AudioComponentSpec> audioComponents;
    QByteArray executable = QByteArrayLiteral("\x7f" "ELF fixture binary\n");
    QList<std::pair<QString, QByteArray>> extraFiles;
    QList<std::pair<QString, QString>> symlinks; // path, target

    BundlePlan& withFile(const QString& path, const QByteArray& content);
    BundlePlan& withSymlink(const QString& path, const QString& target);
    BundlePlan& withComponent(const QString& type, const QString& subtype, const QString& manufacturer,
                              const QString& componentName = QStringLiteral("Tarnaudio: Fixture"));
};

// Writes fixture bundles the way a plug-in build lays them out:
// Contents/Info.plist, Contents/MacOS/<name without extension> (mode 0755),
// then the extra files and links.
namespace BundleFactory {

// Creates `recipe.name` inside `folder` (made when missing) and returns its
// path. Fails the calling test and throws std::runtime_error when a file
// cannot be written.
QString create(const QString& folder, const BundlePlan& recipe);

// The information list alone, for tests that write odd ones.
QByteArray infoPlist(const BundlePlan& recipe);

} // namespace BundleFactory
} // namespace Hub::Test

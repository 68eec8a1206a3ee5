#pragma once

#include "Catalog/SharedTypes.h"

#include <QList>
#include <QString>

#include <optional>

namespace Hub {
struct Product;

// Where each format lives for each scope, which bundle names are acceptable,
// and the scan of a product's installed copies. Nothing here throws except
// makePrivateFolder, and nothing changes a file except makePrivateFolder.
namespace InstallLocations {

// The live roots: the user's home, "/", "/opt" when the current user may
// write to it (else "Applications" in the home folder) and the support
// folder (see Places). The first call moves old cache files into the
// support folder once per process.
InstallRoots real();
// Roots that keep everything under `home`: it is both the home and the
// system root, and the support folder takes its default place there
// whatever the XDG variables say. Moves nothing.
InstallRoots isolatedRoots(const QString& home);
// The same rules over given folders; `systemApplications` is the
// all-users Applications folder tested for writing.
InstallRoots rootsFor(const QString& home, const QString& system, const QString& systemApplications,
                      const QString& support);

// The folder of `format` for `scope`: .vst3 or .components in the home
// (user), usr/local/lib/vst3 or usr/local/lib/components under the system
// root (allUsers); the applications root for apps in both scopes.
QString folder(const InstallRoots& roots, PluginFormat format, InstallScope scope);

// The folders searched for copies of a format, in order (the list may name
// one folder twice).
QList<QString> searchFolders(PluginFormat format, const InstallRoots& roots);

// A bundle file name that may be joined to a folder: a plain component
// whose extension is vst3, component or app in any case.
bool isPlainName(const QString& name);
// Not empty, no leading ".", no "/" or ":", no control character or U+007F.
bool isPlainComponent(const QString& name);

// Creates the folder and its missing parents with mode 0700, then sets 0700
// on the folder again so that an existing one is tightened too. Throws
// FileError, changing nothing, when the path names a file or a link.
void makePrivateFolder(const QString& path);

// Which scope a bundle at `bundlePath` belongs to, by its parent folder;
// none when it lies in no known folder.
std::optional<InstallScope> scope(const QString& bundlePath, PluginFormat format, const InstallRoots& roots);

// A catalog install path ("~/..." under the home, "/..." under the system
// root) as a bundle path; none when it is neither, escapes its root or
// does not end in a plain bundle name.
std::optional<QString> legacyPath(const QString& catalogPath, const InstallRoots& roots);

// The version a bundle declares: CFBundleShortVersionString when it is
// text (even empty), else CFBundleVersion when it is text.
std::optional<QString> bundleVersion(const QString& bundlePath);

// Each installed copy of the product's formats, once, for both scopes:
// VST3 first, then Audio Units, then applications, by path within a format.
QList<InstalledFormat> installed(const Product& product, const InstallRoots& roots);

} // namespace InstallLocations
} // namespace Hub

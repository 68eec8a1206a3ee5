#pragma once

#include "Catalog/CatalogRecords.h"
#include "Installer/InstallLocations.h"

#include <QByteArray>
#include <QString>

// The desktop entries that put installed applications in the desktop's
// menu: what makes an application installed on Linux. One entry per
// product, in the user's applications folder or the system's, following
// the install's scope, and gone with the copy it names.
namespace Hub::ApplicationEntries {

// The folder of entries for copies in `scope`: <data>/applications of the
// user's home, or <system>/usr/local/share/applications.
QString folder(const InstallRoots& roots, InstallScope scope);
// "<hub's bundle id>.<product id>.desktop": one entry per product, named as
// the hub's, so that it never takes another program's place.
QString fileName(const QString& productID);

// The executable inside an application bundle:
// Contents/MacOS/<CFBundleExecutable>, else the bundle's name without
// ".app"; empty when the name would lead out of the bundle.
QString executableOf(const QString& bundle);

// The entry that starts `bundle`'s executable, named `name`, with the
// bundle's own icon when it has one a Linux menu can show (a PNG or SVG
// named by CFBundleIconFile in Contents/Resources). Empty when there is no
// executable to name or a path holds a control character.
QByteArray entry(const QString& name, const QString& bundle);

// Writes the entry of the installed `bundle` for `scope`. An entry for all
// users goes to the system's folder when that can be written, else to the
// user's, so the one who installed it finds it. Failures are logged, never
// thrown: the copy is installed either way.
void add(const Product& product, const QString& bundle, const InstallRoots& roots, InstallScope scope);

// Removes the product's entries (in both folders) that name `bundle`, and
// any entry of ours in the system's folder that names it; an entry naming
// another copy stays.
void remove(const QString& productID, const QString& bundle, const InstallRoots& roots);

// The administrator's side, after it placed `bundle` for all users: the
// entry in the system's folder, named "<hub's bundle id>.app.<the bundle's
// CFBundleIdentifier>.desktop" and built only from the placed copy itself
// (CFBundleName, else the bundle's name), since no text of the caller's may
// reach every user's menu. False, with nothing written, when the identifier
// is not a plain name of letters, digits, '.', '-' and '_' or the entry
// cannot be written.
bool addPlaced(const QString& bundle, const InstallRoots& roots);
// The administrator's side, after `bundle` went to the Trash: every entry
// of ours in the system's folder that names it.
void removePlaced(const QString& bundle, const InstallRoots& roots);

} // namespace Hub::ApplicationEntries

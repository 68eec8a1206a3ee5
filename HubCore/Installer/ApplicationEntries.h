#pragma once

#include "Catalog/CatalogRecords.h"
#include "Installer/InstallLocations.h"

#include <QByteArray>
#include <QString>

// The desktop entries that put installed applications in the desktop's
// menu: what makes an application installed on Linux. One entry per
// installed copy, in the user's applications folder or the system's,
// following the install's scope, and gone with the copy it names. An entry
// is tied to its copy by the copy's path (its X-Tarnhub-Bundle line), so two
// copies of one product or one identifier in two places each keep their own.
namespace Hub::ApplicationEntries {

// The folder of entries for copies in `scope`: <data>/applications of the
// user's home, or <system>/usr/local/share/applications.
QString folder(const InstallRoots& roots, InstallScope scope);
// "<hub's bundle id>.app-<16 hex digits of the SHA-256 of the copy's
// path>.desktop": the name of a new entry for `bundle`, the hub's, so that
// it never takes another program's place, and the copy's, so that it never
// takes another copy's. An entry that already names the copy keeps its name
// (earlier versions named entries "<hub's id>.<product id>.desktop" and
// "<hub's id>.app.<bundle identifier>.desktop").
QString fileName(const QString& bundle);

// The executable inside an application bundle:
// Contents/MacOS/<CFBundleExecutable>, else the bundle's name without
// ".app"; empty when the name would lead out of the bundle.
QString executableOf(const QString& bundle);

// The entry that starts `bundle`'s executable, named `name`, with the
// bundle's own icon when it has one a Linux menu can show (a PNG or SVG
// named by CFBundleIconFile in Contents/Resources). Empty when there is no
// executable to name or any field (name, paths, icon) holds a control
// character (C0, DEL or C1).
QByteArray entry(const QString& name, const QString& bundle);

// Writes the entry of the installed `bundle` for `scope`. An entry for all
// users goes to the system's folder when that can be written, else to the
// user's, so the one who installed it finds it. Failures are logged, never
// thrown: the copy is installed either way.
void add(const Product& product, const QString& bundle, const InstallRoots& roots, InstallScope scope);

// Removes every entry of ours, in both folders, that names `bundle`; an
// entry naming another copy stays.
void remove(const QString& bundle, const InstallRoots& roots);

// The administrator's side, after it placed `bundle` for all users: its
// entry in the system's folder (see fileName), built only from the placed
// copy itself (CFBundleName, else the bundle's name), since no text of the
// caller's may reach every user's menu. False, with nothing written, when
// the bundle's CFBundleIdentifier is not a plain name of letters, digits,
// '.', '-' and '_' or the entry cannot be written.
bool addPlaced(const QString& bundle, const InstallRoots& roots);
// The administrator's side, after `bundle` went to the Trash: every entry
// of ours in the system's folder that names it.
void removePlaced(const QString& bundle, const InstallRoots& roots);

} // namespace Hub::ApplicationEntries

#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

// Makes the program the desktop's handler of `<bundle id>://` links, so the
// browser's redirect at the end of a web sign-in launches it with the
// callback address (which CallbackInbox then hands to the running instance).
namespace Hub::SchemeHandler {

// An Exec argument: quoted when it holds a reserved character, with the
// quoting escapes applied first and the string escapes of the file format
// after (so a backslash ends up as four). "%" is always doubled: a lone one
// would be taken for a field code.
QString execArgument(const QString& argument);

// The installed handler entry's name: "<bundleID>.url-handler.desktop".
// Separate from the launcher entry, so hiding it from menus hides nothing
// else.
QString desktopFileName(const QString& bundleID);
// The entry a program run from the build tree writes for itself:
// "<bundleID>.build-tree.desktop". A name of its own, so that it never
// hides the installed entry (the user's folder comes first).
QString buildTreeFileName(const QString& bundleID);

// The desktop entry that runs `executable` (an absolute path) with the
// address as its one argument for links of the scheme `bundleID`. Empty when
// the path is not absolute or holds a control character, which an entry
// cannot carry.
QByteArray desktopEntry(const QString& bundleID, const QString& executable);

// Makes the written desktop file the default handler of `mimeType`
// ("x-scheme-handler/<scheme>"). Failures are logged, never thrown.
using Registrar = std::function<void(const QString& desktopFileName, const QString& mimeType)>;

// The default registrar: "xdg-mime default <file> <mimeType>" when xdg-mime
// is installed.
void registerWithXdgMime(const QString& desktopFileName, const QString& mimeType);

// Writes the build tree's entry for Config::bundleID() into "applications"
// in the data folder of `home` (see Places) and registers it. False (and logged) when
// the entry could not be written; a failed registration is only logged.
bool installSchemeHandler(const QString& home, const QString& executable);
bool installSchemeHandler(const QString& home, const QString& executable, const Registrar& registrar);

// Where the desktop keeps which program handles a type: the association
// files (mimeapps.list) in the configuration and data folders, and the
// desktop entries' caches (mimeinfo.cache) in the data folders.
struct MimeAppsFolders {
    QString configHome;      // $XDG_CONFIG_HOME, else <home>/.config
    QStringList configDirs;  // $XDG_CONFIG_DIRS, else /etc/xdg
    QString dataHome;        // $XDG_DATA_HOME, else <home>/.local/share
    QStringList dataDirs;    // $XDG_DATA_DIRS, else /usr/local/share:/usr/share
    QStringList desktops;    // $XDG_CURRENT_DESKTOP, lower case, in order
};
// The folders of `home` from the environment (whose XDG_*_HOME values count
// only when `home` is the process's own home).
MimeAppsFolders mimeAppsFolders(const QString& home);

// The desktop file name that handles `mimeType`, read from the files where
// the desktop keeps it, as GLib (whose reader the desktop's openers use)
// reads them; empty for none. Reads files only, so asking costs no process.
// Every folder's defaults come first, then the associations each folder
// adds and no more important one removed (a folder's own caches among
// them); a desktop's own list only names defaults, and a folder's list does
// not reach an entry that a more important folder holds. The first that is
// an entry the desktop would run wins.
QString defaultHandler(const QString& mimeType, const MimeAppsFolders& folders);

// The desktop as the link rules see it.
struct Desktop {
    QString home;
    QStringList systemDataFolders; // $XDG_DATA_DIRS, in order
    // The desktop file name that handles `mimeType` now; empty for none.
    std::function<QString(const QString& mimeType)> query;
    Registrar registrar;
};
// The real desktop of `home`: its association files (defaultHandler) to
// ask, xdg-mime to change them, and $XDG_DATA_DIRS (default
// /usr/local/share:/usr/share).
Desktop systemDesktop(const QString& home);

// Run at every start of the window, so the sign-in's return link reaches a
// program that still exists, an installed one before a build tree; it only
// reads unless the registration must change:
// - a program run from the build tree (not from a bundle's Contents/MacOS)
//   registers itself only when no handler is registered or the registered
//   one is gone (its entry or its program no longer exists), never over
//   another program that exists;
// - an installed program takes the link back from a build tree's entry.
// True when it registered something.
bool claimLinks(const QString& executable, const Desktop& desktop);

} // namespace Hub::SchemeHandler

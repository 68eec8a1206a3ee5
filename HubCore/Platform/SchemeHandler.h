#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// Makes the program the desktop's handler of `<bundle id>://` links, so the
// browser's redirect at the end of a web sign-in launches it with the
// callback address (which CallbackInbox then hands to the running instance).
namespace Hub::SchemeHandler {

// The desktop file's name: "<bundleID>.url-handler.desktop". Separate from
// any launcher entry a package installs, so hiding it from menus hides
// nothing else.
QString desktopFileName(const QString& bundleID);

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

// Writes the entry for Config::bundleID() into "applications" in the data
// folder of `home` (see Places) and registers it. False (and logged) when
// the entry could not be written; a failed registration is only logged.
bool installSchemeHandler(const QString& home, const QString& executable);
bool installSchemeHandler(const QString& home, const QString& executable, const Registrar& registrar);

} // namespace Hub::SchemeHandler

#pragma once

#include <QString>

#include <optional>

// Where everything this system reads or writes lives on a Linux machine:
// one table of places, each a folder under one of four bases. The plug-in
// folders are the ones Linux hosts scan; the per-user data and caches follow
// the XDG base directories.
namespace Hub::Places {

// The bases every place is relative to.
struct Bases {
    QString home;   // the user's home folder
    QString system; // the system root ("/" on a live machine)
    QString data;   // per-user data: $XDG_DATA_HOME, else <home>/.local/share
    QString cache;  // per-user caches: $XDG_CACHE_HOME, else <home>/.cache
};

enum class Place {
    vst3User,             // <home>/.vst3
    vst3AllUsers,         // <system>/usr/local/lib/vst3
    componentsUser,       // <home>/.components
    componentsAllUsers,   // <system>/usr/local/lib/components
    applicationsAllUsers, // <system>/opt (used when writable)
    applicationsUser,     // <home>/Applications
    support,              // <data>/Tarn Hub: the catalog caches, staging and backups
    oldSupport,           // <data>/Tarnaudio Hub: the application's former support folder
    downloads,            // <cache>/Tarn Hub/Downloads
    makerFolder,          // <data>/Tarn Audio: the plug-ins' settings and the report spool
    lockFolder,           // <cache>/com.juce.locks: the lock folder the plug-ins share
    trash,                // <data>/Trash: the desktop's Trash
    desktopEntries,       // <data>/applications
};

// The bases of `home` under the system root `system`. The XDG variables count
// only when `home` is the current user's own home folder and only when they
// hold an absolute path; any other home (an isolated one) gets the defaults
// under it, so that nothing it does lands in the real user's folders.
Bases of(const QString& home, const QString& system = QStringLiteral("/"));
// The defaults under `home`, whatever the environment says.
Bases isolated(const QString& home, const QString& system);

QString path(Place place, const Bases& bases);
// The place for the home `home` (see `of`).
QString path(Place place, const QString& home);

// The place a maker's package means by its install location, which names the
// other platform's folders ("/Library/Audio/Plug-Ins/VST3", "/Applications"):
// the all-users place, or the user's own when the package is installed into a
// home folder (the same folders under "~/Library"). None for a location with
// no place here, which must then be refused rather than written as named.
std::optional<Place> forInstallLocation(const QString& location, bool intoHome);

} // namespace Hub::Places

namespace Hub {

// Whether `path` is `folder` itself or lies inside it. A plain text prefix
// is not enough: "/home/anna" is not inside "/home/ann".
bool isWithin(const QString& path, const QString& folder);

// `path` with the home folder shown as "~" ("~/Music/x"), or unchanged
// when it does not lie inside `home`. The one rule for every "~" path.
QString abbreviatingHome(const QString& path, const QString& home);

} // namespace Hub

#pragma once

#include <QString>
#include <QUrl>

#include <optional>

// The fixed configuration: compiled-in values (CMake options, see
// cmake/HubConfig.cmake) and the folders derived from the user's home.
namespace Hub::Config {

QString bundleID();
QString teamID();
QUrl site();
QUrl accountPage();
QString supportEmail();
// The site's change log, "#" followed by the product identifier (or "hub").
QUrl changelog(const QString& anchor);
QUrl apiBase();
// apiBase with path, query and fragment removed.
QUrl apiOrigin();
QUrl catalogURL();
QString clerkPublishableKey();
QString hubVersion();
// Whether the program updates itself; false in a distribution's package,
// whose package manager owns the program's files.
bool selfUpdates();
// What the program says about its updates when it does not update itself.
inline constexpr char kUpdatesFromPackages[] = "Updates come from your system's packages.";
// This machine's identifier for the maker's service; none without a platform UUID.
std::optional<QString> hubMachineID();

// The current user's home folder.
QString homeFolder();
// "Tarn Hub" in the user's data folder (see Places). The first call in a
// process moves the old cache files in first (see moveOldCaches).
QString supportFolder();
QString supportFolder(const QString& home);
// "Tarn Hub/Downloads" in the user's cache folder (see Places).
QString downloadsFolder();
QString downloadsFolder(const QString& home);

// The identifier of the program running now: the application name that the
// application's entry sets to bundleID(); anything else (a test, a tool)
// is not the application.
QString runningBundleID();

// Moves "catalog.json" and "feeds.json" once from the folder of the
// application's former name, beside the support folder in the user's data
// folder, into supportFolder(home), never overwriting.
// Skipped when `runningBundleID` is not bundleID() or the HUBTARN_SANDBOX
// test switch is set.
void moveOldCaches(const QString& home, const QString& runningBundleID);

// The bundle `executable` runs from: "<bundle>" when it is
// "<bundle>/Contents/MacOS/<name>", as every installed program is; none
// for a program of the build tree.
std::optional<QString> bundleOf(const QString& executable);
// The same for the running process (/proc/self/exe, links resolved).
std::optional<QString> runningBundle();

// A test switch (HUBTARN_SANDBOX, HUBTARN_SERVICE_PROFILE,
// HUBTARN_TEST_DRIVER): its value when it is set and this program honours
// test switches, none otherwise. Only a program outside a bundle (the build
// tree's programs, its tests, scripts/try) honours them: an installed copy
// changes nothing of where it connects, what it trusts or what it loads for
// whoever sets its environment.
std::optional<QString> testSwitch(const char* name);

} // namespace Hub::Config

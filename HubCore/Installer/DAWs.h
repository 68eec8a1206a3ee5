#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// Which digital audio workstations are open, so the app can warn before it
// touches plug-ins they may have loaded.
namespace Hub::DAWs {

// A running program as the system lists it.
struct RunningApp {
    std::optional<QString> bundleID;
    std::optional<QString> name;
};

// The bundle-identifier prefixes that mark a DAW, in the order tested.
const QStringList& prefixes();

// The names of the DAWs among `apps`, in their order: an app whose
// identifier begins with one of the prefixes (case-sensitive), by its name,
// else its identifier. Two instances give the name twice.
QStringList matching(const QList<RunningApp>& apps);

// The running programs this user can see, from `<procRoot>/<pid>/exe`, in
// process-number order. A program that the table of known DAW programs
// names gets that program's identifier and name: by its executable's base
// name, or, run by a Python interpreter, by its script's (from
// `<procRoot>/<pid>/cmdline`).
QList<RunningApp> runningApps(const QString& procRoot);

// matching(runningApps("/proc")).
QStringList running();
QStringList running(const QString& procRoot);

} // namespace Hub::DAWs

#pragma once

#include "AdminChecks.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// How hubtarn-admin takes the bundles it places for all users. The caller
// names a staged bundle and where it goes; everything else is the helper's.
// Each source is read with the caller's own rights, so that nothing the
// caller could not read reaches a place every user reads, and written into
// a folder only root may write: that copy is what is checked and placed,
// whatever becomes of the staged one. The rule the copy must meet (the
// maker's signature for its own identifier) and its version are read from
// the copy, never taken from the caller.
namespace Hub::AdminPlacing {

struct Taken {
    QString folder;         // root's own, holding the copies; remove when done
    QStringList arguments;  // the script's: copy, destination, rule, version
    // Each destination's folder, opened once from "/" without following a
    // link (O_PATH); the script is given the destination as
    // "/proc/self/fd/<descriptor>/<name>", so that it acts on that folder
    // whatever its path comes to name. The script must inherit them.
    std::vector<int> places;
};

// Copies each source, checks the copies and returns the placing script's
// arguments for them; `refusal` says why not, with nothing placed and the
// folder already gone. `ownBundle` is the installed hub's bundle, which
// this step never replaces.
struct Outcome {
    std::optional<Taken> taken;
    QString refusal;
};
Outcome take(const QStringList& arguments, const AdminChecks::Caller& caller, const QString& ownBundle);

// Removes what take() wrote and closes the folders it opened.
void release(const Taken& taken);

} // namespace Hub::AdminPlacing

#pragma once

#include "Installer/Placement/PrivilegedSteps.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

#include <sys/types.h>

// What hubtarn-admin checks before it does anything as root. Each check
// answers none when the request may go on, else the one sentence that says
// why it may not; nothing here changes a file.
namespace Hub::AdminChecks {

// The user whose program asked, as pkexec names them (PKEXEC_UID).
struct Caller {
    uid_t uid = 0;
    gid_t gid = 0;                // the user's primary group
    std::vector<gid_t> groups;    // every group the user is in
    QString home;
};

// The caller pkexec names in `pkexecUid`; none when that is not a user of
// this system.
std::optional<Caller> callerOf(const QByteArray& pkexecUid);

// A user or group id written as plain decimal digits ("0", "65534"), no
// sign, space or leading zero, below the "no id" value; none for any other
// text.
std::optional<uint> plainId(const QByteArray& text);

// The caller's own Trash: "Trash" in the data folder of the caller's home.
QString callersTrash(const Caller& caller);

// Every path the step is given lies where the step may touch it:
// - placing: sources (1st of each four) inside the caller's staging folder
//   ("Tarn Hub/Staging" in the data folder of the caller's home,
//   ~/.local/share), destinations (2nd) directly inside the all-users VST3,
//   Audio Unit or applications place that the bundle's kind belongs in (the
//   3rd and 4th are the helper's own business: see AdminPlacing);
// - the Trash: the caller's own Trash folder (callersTrash) and ids (plain
//   decimal, see plainId), items directly inside a plug-in or applications
//   place of all users or of the caller, never the hub's own bundle;
// - a package: a file inside the caller's downloads folder ("Tarn Hub/
//   Downloads" in the cache folder of the caller's home, ~/.cache), the
//   hub's own team, signed, the release's version always named, and no
//   package identifier but the hub's own, which is never older than this
//   helper's hub.
// A path must be absolute and clean (no "..", no "." or empty component)
// and reached without a symbolic link; a folder of the caller's must be the
// caller's, each one on the way down from "Tarn Hub".
std::optional<QString> refusal(PrivilegedSteps::Step step, const QStringList& arguments, const Caller& caller);

// `path` names an item directly inside one of the caller's own plug-in or
// applications places, reached without a link when checked.
bool isCallersItem(const QString& path, const Caller& caller);

// `path`, each folder above it and, for a link, what it leads to belong to
// root and no one else may write to them (a sticky folder such as /tmp
// only lets others add names of their own).
bool isRootGuarded(const QString& path);

// What exists of `folder` (it need not exist yet) is reached without a
// link and guarded as isRootGuarded says.
bool isRootsPlace(const QString& folder);

} // namespace Hub::AdminChecks

#pragma once

#include "Platform/ToolPaths.h"

#include <QString>
#include <QStringList>

namespace Hub {

// The script that places bundles into the folders shared by all users. It
// runs as root through the installer's privileged hook, as
// "/bin/sh -c <text> hub <arguments>", with the arguments in groups of four:
// source bundle, destination path, signing requirement (empty: intact
// signature only), wanted short version (empty: not checked). Run by the
// installed helper, the source is the helper's own root-only copy and the
// requirement and version are those the helper read from it, whatever the
// caller gave.
//
// It copies every source into a root-only work folder, locks and checks each
// copy there, and only then moves the installed bundles aside and the copies
// into place. A failed move is undone from what lies on the disk; when the
// undo fails too, the work folder with every previous bundle is kept and
// named in the output ("originals preserved at <folder>"). Refusals are one
// line "Tarnhub: <reason>" on standard error with status 1.
namespace AllUsersScript {

// Every program the script runs, and where it makes its work folder. The
// text opens with these as shell assignments, so nothing the script runs is
// looked up in the environment it inherits.
struct Tools {
    QString ditto;
    QString codesign;
    QString plistBuddy;
    QString chmod; // the applet: "-N" strips access-control lists, other modes go to the system's chmod
    QString chown = QStringLiteral("/usr/bin/chown");
    QString mktemp = QStringLiteral("/usr/bin/mktemp");
    QString mkdir = QStringLiteral("/usr/bin/mkdir");
    QString mv = QStringLiteral("/usr/bin/mv"); // GNU mv: "-T" never moves into a folder at the target
    QString rm = QStringLiteral("/usr/bin/rm");
    QString workRoot = QStringLiteral("/var/tmp");

    // The installed applets and the system's tools.
    static Tools installed();
    // The given applets and the system's tools.
    static Tools withApplets(const ToolPaths& applets);
    // Every program the script runs.
    QStringList programs() const;

    friend bool operator==(const Tools&, const Tools&) = default;
};

// The assignments that open the script, one per line, each value in single
// quotes.
QString header(const Tools& tools);

// The whole script: the step's marker line (see PrivilegedSteps), the
// header, then the body.
QString text(const Tools& tools);

} // namespace AllUsersScript
} // namespace Hub

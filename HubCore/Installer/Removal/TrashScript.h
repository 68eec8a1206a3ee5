#pragma once

#include "Platform/ToolPaths.h"

#include <QString>
#include <QStringList>

// The script that moves items the user may not move to the user's Trash,
// run with administrator rights: "$1" the Trash folder (the desktop's
// Trash::folder), "$2" and "$3" the user's numeric user and
// group id, then one path per item. Each item's folder is entered once and
// must be root's or the runner's; the item is moved from there into a
// private work folder, checked there (see Tools), given to the user there
// (never inside the user's own folders, where a swapped symbolic link could
// redirect a root-owned change), then moved into files/ under a free name
// (by a rename only: across file systems it is first copied into a folder
// only root may write, made inside files/) with its info/<name>.trashinfo,
// which the user's own rights claim and write, both only inside folders
// that are the user's. An item whose move into the Trash fails goes back
// into the folder it was taken from, each file with its own owner; when
// that fails too the work folder is kept and named on stderr.
// Refusals are one line "Tarnhub: <reason>" on stderr and status 1.
namespace Hub::TrashScript {

// Every program the script runs, and the folder its private work folder
// goes into. Production values are fixed Debian paths; tests put shims in
// place of one tool or move the work folder into their temporary root.
struct Tools {
    QString mktemp = QStringLiteral("/usr/bin/mktemp");
    QString mv = QStringLiteral("/usr/bin/mv");
    QString cp = QStringLiteral("/usr/bin/cp");
    QString chown = QStringLiteral("/usr/bin/chown");
    QString find = QStringLiteral("/usr/bin/find");
    QString stat = QStringLiteral("/usr/bin/stat");
    QString mkdir = QStringLiteral("/usr/bin/mkdir");
    QString rmdir = QStringLiteral("/usr/bin/rmdir");
    QString rm = QStringLiteral("/usr/bin/rm");
    QString od = QStringLiteral("/usr/bin/od");
    QString tr = QStringLiteral("/usr/bin/tr");
    QString date = QStringLiteral("/usr/bin/date");
    QString dd = QStringLiteral("/usr/bin/dd");
    QString sort = QStringLiteral("/usr/bin/sort");
    QString setpriv = QStringLiteral("/usr/bin/setpriv");
    // With a codesign applet, an item is taken only when its copy in the
    // work folder carries the maker's signature (`requirement`, with the
    // identifier the copy names), and never when that identifier is the
    // hub's own (`hubID`); without one, nothing is checked.
    QString codesign;
    QString plistBuddy;
    QString requirement;
    QString hubID;
    QString workBase = QStringLiteral("/var/tmp");

    // The system's tools, no signature check: for a script run with the
    // user's own rights.
    static Tools installed() { return {}; }
    // The administrator's helper's: the applets of its bundle and the rule
    // for the maker's bundles, which the helper sets itself.
    static Tools withApplets(const ToolPaths& applets);
    // Every program the script runs.
    QStringList programs() const;

    friend bool operator==(const Tools&, const Tools&) = default;
};

// The tool header: one shell assignment per tool, each value single-quoted.
QString header(const Tools& tools);

// The whole script: the step's marker line (see PrivilegedSteps), the
// header, then the fixed body.
QString text(const Tools& tools);

} // namespace Hub::TrashScript

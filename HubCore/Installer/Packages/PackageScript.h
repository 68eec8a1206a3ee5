#pragma once

#include "Platform/ToolPaths.h"

#include <QString>
#include <QStringList>

// The script that installs an installer package with administrator rights.
// It runs as root under /bin/sh with seven arguments: source file, expected
// SHA-256 (lower case), kind ("dmg" or "pkg"), package identifier (may be
// empty), version (may be empty), team identifier, unsigned flag ("0" or
// "1"). The package's own identifier and version are compared with the
// identifier and version when an identifier is given, with the version
// alone when only that is. It repeats every check on a private root-owned
// copy before it calls the installer, because the user-owned download can
// change between the hub's checks and the privileged step. A refusal is one line
// "Tarnhub: <reason>" on standard error and status 1; a write that found no
// room, status kToolExitDiskFull and a line "... the disk is full at <folder>".
namespace Hub::PackageScript {

// Everything the script calls or writes to, named in a header of shell
// assignments at its top. Production values are compiled in; tests put the
// build tree's applets, fault-injecting shims, a temporary folder for the
// work folder, a temporary system root as the target and their own user as
// the owner.
struct Tools {
    QString hdiutil;
    QString spctl;
    QString pkgutil;
    QString installer;
    QString mktemp = QStringLiteral("/usr/bin/mktemp");
    QString sha256 = QStringLiteral("/usr/bin/sha256sum"); // reads standard input, prints "<hex>  -"
    QString xmllint = QStringLiteral("/usr/bin/xmllint");
    QString chown = QStringLiteral("/usr/bin/chown");
    QString chmod = QStringLiteral("/usr/bin/chmod");
    QString cp = QStringLiteral("/usr/bin/cp");
    QString mv = QStringLiteral("/usr/bin/mv");
    QString rm = QStringLiteral("/usr/bin/rm");
    QString mkdir = QStringLiteral("/usr/bin/mkdir");
    QString grep = QStringLiteral("/usr/bin/grep");
    QString head = QStringLiteral("/usr/bin/head");
    QString temporaryFolder = QStringLiteral("/var/tmp"); // where the work folder is made
    QString owner = QStringLiteral("0:0");                // of the staged copies
    QString target = QStringLiteral("/");                 // the installer's target volume
    // The assessment's anchor file (spctl --anchors); empty: the applet's
    // compiled-in anchor. Only a sandboxed run names one.
    QString anchors;

    // The installed applets and the system's own tools.
    static Tools installed();
    // The applets of `paths` and the system's own tools.
    static Tools with(const ToolPaths& paths);
    // Every program the script runs.
    QStringList programs() const;
};

// "NAME='value'" lines, one per tool, each value quoted for the shell.
QString header(const Tools& tools);

// The step's marker line (see PrivilegedSteps), the header, then the
// script's fixed text.
QString script(const Tools& tools);

} // namespace Hub::PackageScript

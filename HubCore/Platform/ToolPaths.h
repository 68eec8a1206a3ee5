#pragma once

#include <QString>

#include <optional>

// Where the stand-ins for the platform's command-line tools live. They are
// applets of the one multi-call `hubtools` executable, reached through links
// named after each tool in one folder: the installed bundle's
// Contents/Helpers beside the running program, else (a program or test run
// from the build tree) the applet folder of the tree it lies in. No path of
// the build is compiled in, so an installed copy runs its own tools only,
// whatever lies where it was built.
namespace Hub {

// The status an applet ends with when the disk had no room for what it
// wrote (ENOSPC, EDQUOT), so that its caller can say so rather than report
// a failure it cannot explain. 28 is ENOSPC's own number.
inline constexpr int kToolExitDiskFull = 28;

struct ToolPaths {
    QString ditto;
    QString codesign;
    QString auval;
    QString plistBuddy;
    QString chmod;
    QString killall;
    QString hdiutil;
    QString spctl;
    QString pkgutil;
    QString installer;

    // The tools of the running program: its bundle's (see helpersFolder),
    // else those of the build tree it lies in (see buildTreeFolder), else
    // links beside it.
    static ToolPaths installed();
    // Every tool as a link of that name inside `folder`.
    static ToolPaths inFolder(const QString& folder);

    // The helpers folder of the bundle `executable` runs from:
    // "<bundle>/Contents/Helpers" when it is "<bundle>/Contents/MacOS/<name>"
    // (see Config::bundleOf), whatever that folder holds; none otherwise.
    // Found from the program's own path, so an installed copy works
    // wherever it was installed and never looks anywhere else.
    static std::optional<QString> helpersFolder(const QString& executable);
    // The same for the running process (/proc/self/exe).
    static std::optional<QString> helpersFolder();
    // The applet folder of the build tree `executable` lies in
    // (HubTools/bin): below the first folder above it that holds CMake's
    // cache and HubTools/hubtools.
    static std::optional<QString> buildTreeFolder(const QString& executable);

    friend bool operator==(const ToolPaths&, const ToolPaths&) = default;
};

} // namespace Hub

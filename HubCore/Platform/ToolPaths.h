#pragma once

#include <QString>

#include <optional>

// Where the stand-ins for the platform's command-line tools live. They are
// applets of the one multi-call `hubtools` executable, reached through links
// named after each tool in one folder: the installed bundle's
// Contents/Helpers beside the running program, else (a program or test run
// from the build tree) the build tree's applet folder.
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

    // The tools of the running program (see helpersFolder), else the build
    // tree's.
    static ToolPaths installed();
    // Every tool as a link of that name inside `folder`.
    static ToolPaths inFolder(const QString& folder);

    // The helpers folder of the bundle `executable` runs from:
    // "<bundle>/Contents/Helpers" when it is "<bundle>/Contents/MacOS/<name>"
    // and that folder holds `hubtools`; none otherwise. Found from the
    // program's own path, so an installed copy works wherever it was
    // installed and whatever became of the tree it was built in.
    static std::optional<QString> helpersFolder(const QString& executable);
    // The same for the running process (/proc/self/exe).
    static std::optional<QString> helpersFolder();

    friend bool operator==(const ToolPaths&, const ToolPaths&) = default;
};

} // namespace Hub

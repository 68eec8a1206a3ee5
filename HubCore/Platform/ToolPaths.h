#pragma once

#include <QString>

// Where the stand-ins for the platform's command-line tools live. They are
// applets of the one multi-call `hubtools` executable, reached through links
// named after each tool in one folder: the packaged location in production
// (the HUB_TOOLS_DIR build option), the build tree's folder in tests.
namespace Hub {

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

    // The compiled-in folder.
    static ToolPaths installed();
    // Every tool as a link of that name inside `folder`.
    static ToolPaths inFolder(const QString& folder);

    friend bool operator==(const ToolPaths&, const ToolPaths&) = default;
};

} // namespace Hub

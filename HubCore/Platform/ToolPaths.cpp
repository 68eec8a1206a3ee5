#include "Platform/ToolPaths.h"

#include <QDir>

using namespace Qt::StringLiterals;

namespace Hub {

ToolPaths ToolPaths::installed() { return inFolder(QString::fromUtf8(HUB_TOOLS_DIR)); }

ToolPaths ToolPaths::inFolder(const QString& folder)
{
    const QDir dir(folder);
    ToolPaths paths;
    paths.ditto = dir.filePath(u"ditto"_s);
    paths.codesign = dir.filePath(u"codesign"_s);
    paths.auval = dir.filePath(u"auval"_s);
    paths.plistBuddy = dir.filePath(u"PlistBuddy"_s);
    paths.chmod = dir.filePath(u"chmod"_s);
    paths.killall = dir.filePath(u"killall"_s);
    paths.hdiutil = dir.filePath(u"hdiutil"_s);
    paths.spctl = dir.filePath(u"spctl"_s);
    paths.pkgutil = dir.filePath(u"pkgutil"_s);
    paths.installer = dir.filePath(u"installer"_s);
    return paths;
}

} // namespace Hub

#include "Platform/ToolPaths.h"

#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace Hub {

ToolPaths ToolPaths::installed()
{
    return inFolder(helpersFolder().value_or(QString::fromUtf8(HUB_BUILD_TOOLS_DIR)));
}

std::optional<QString> ToolPaths::helpersFolder(const QString& executable)
{
    const QFileInfo program(executable);
    const QDir macOS = program.absoluteDir();
    if (macOS.dirName() != "MacOS"_L1 || QFileInfo(macOS.absolutePath()).dir().dirName() != "Contents"_L1)
        return std::nullopt;
    const QString helpers = QDir::cleanPath(macOS.absoluteFilePath(u"../Helpers"_s));
    if (!QFileInfo(QDir(helpers).filePath(u"hubtools"_s)).isExecutable())
        return std::nullopt;
    return helpers;
}

std::optional<QString> ToolPaths::helpersFolder()
{
    static const std::optional<QString> folder = helpersFolder(QFileInfo(u"/proc/self/exe"_s).symLinkTarget());
    return folder;
}

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

#include "Platform/ToolPaths.h"

#include "Base/Config.h"

#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace Hub {

namespace {

QString runningExecutable() { return QFileInfo(u"/proc/self/exe"_s).symLinkTarget(); }

} // namespace

ToolPaths ToolPaths::installed()
{
    static const QString folder = [] {
        const QString executable = runningExecutable();
        if (const std::optional<QString> helpers = helpersFolder(executable))
            return *helpers;
        return buildTreeFolder(executable).value_or(QFileInfo(executable).absolutePath());
    }();
    return inFolder(folder);
}

std::optional<QString> ToolPaths::helpersFolder(const QString& executable)
{
    const std::optional<QString> bundle = Config::bundleOf(executable);
    if (!bundle)
        return std::nullopt;
    return QDir(*bundle).filePath(u"Contents/Helpers"_s);
}

std::optional<QString> ToolPaths::helpersFolder()
{
    static const std::optional<QString> folder = helpersFolder(runningExecutable());
    return folder;
}

std::optional<QString> ToolPaths::buildTreeFolder(const QString& executable)
{
    // Every program of a build tree lies somewhere below the tree's top,
    // which CMake marks with its cache; the applet links sit in bin/ beside
    // the program they name.
    QDir dir = QFileInfo(executable).absoluteDir();
    do {
        if (QFileInfo(dir.filePath(u"CMakeCache.txt"_s)).isFile()
            && QFileInfo(dir.filePath(u"HubTools/hubtools"_s)).isExecutable())
            return dir.filePath(u"HubTools/bin"_s);
    } while (dir.cdUp());
    return std::nullopt;
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

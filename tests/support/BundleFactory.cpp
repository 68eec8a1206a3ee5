#include "BundleFactory.h"

#include "Platform/PropertyList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QVariantList>

#include <stdexcept>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace Hub::Test {

BundlePlan& BundlePlan::withFile(const QString& path, const QByteArray& content)
{
    extraFiles.push_back({path, content});
    return *this;
}

BundlePlan& BundlePlan::withSymlink(const QString& path, const QString& target)
{
    symlinks.push_back({path, target});
    return *this;
}

BundlePlan& BundlePlan::withComponent(const QString& type, const QString& subtype, const QString& manufacturer,
                                      const QString& componentName)
{
    audioComponents.push_back({{type, subtype, manufacturer}, componentName});
    return *this;
}

namespace BundleFactory {

namespace {

[[noreturn]] void failWith(const QString& what)
{
    throw std::runtime_error("bundle factory: " + what.toStdString());
}

void writeFile(const QString& path, const QByteArray& content, QFile::Permissions permissions = {})
{
    if (!QDir().mkpath(QFileInfo(path).path()))
        failWith(u"couldn't create the folder of "_s + path);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        failWith(u"couldn't write "_s + path);
    file.close();
    if (permissions && !file.setPermissions(permissions))
        failWith(u"couldn't set the mode of "_s + path);
}

QString executableName(const QString& bundleName)
{
    const qsizetype dot = bundleName.lastIndexOf(u'.');
    return dot > 0 ? bundleName.left(dot) : bundleName;
}

} // namespace

QByteArray infoPlist(const BundlePlan& recipe)
{
    QVariantMap info;
    info.insert(u"CFBundleIdentifier"_s, recipe.bundleID);
    info.insert(u"CFBundleExecutable"_s, executableName(recipe.name));
    info.insert(u"CFBundleName"_s, executableName(recipe.name));
    if (recipe.shortVersion)
        info.insert(u"CFBundleShortVersionString"_s, *recipe.shortVersion);
    if (recipe.bundleVersion)
        info.insert(u"CFBundleVersion"_s, *recipe.bundleVersion);
    if (recipe.iconFile)
        info.insert(u"CFBundleIconFile"_s, *recipe.iconFile);
    if (!recipe.audioComponents.isEmpty()) {
        QVariantList components;
        for (const AudioComponentSpec& component : recipe.audioComponents) {
            QVariantMap entry;
            entry.insert(u"type"_s, component.codes.type);
            entry.insert(u"subtype"_s, component.codes.subtype);
            entry.insert(u"manufacturer"_s, component.codes.manufacturer);
            entry.insert(u"name"_s, component.name);
            entry.insert(u"version"_s, qlonglong(65536));
            components.push_back(entry);
        }
        info.insert(u"AudioComponents"_s, components);
    }
    return PropertyList::serialize(info);
}

QString create(const QString& folder, const BundlePlan& recipe)
{
    const QString bundle = QDir(folder).filePath(recipe.name);
    writeFile(bundle + u"/Contents/Info.plist"_s, infoPlist(recipe));
    writeFile(bundle + u"/Contents/MacOS/"_s + executableName(recipe.name), recipe.executable,
              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup
                  | QFile::ReadOther | QFile::ExeOther);
    for (const auto& [path, content] : recipe.extraFiles)
        writeFile(QDir(bundle).filePath(path), content);
    for (const auto& [path, target] : recipe.symlinks) {
        const QString link = QDir(bundle).filePath(path);
        QDir().mkpath(QFileInfo(link).path());
        if (::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()) != 0)
            failWith(u"couldn't create the link "_s + link);
    }
    return bundle;
}

} // namespace BundleFactory
} // namespace Hub::Test

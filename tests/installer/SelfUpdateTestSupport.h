#pragma once

#include "BundleFactory.h"
#include "BundleSigner.h"
#include "PackageBuilder.h"
#include "QStringPrinter.h"
#include "TestFiles.h"
#include "TestPKI.h"
#include "ToolsPaths.h"

#include "Base/Config.h"
#include "Base/HubError.h"
#include "Base/Process.h"
#include "Installer/Packages/Installer.h"
#include "Installer/Placement/PrivilegedRunner.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <unistd.h>

namespace Hub::Test {

// The sentence of the HubError `call` throws, "<cancelled>" for a
// cancellation, "no error" when it returns.
template<typename Call>
QString sentenceOf(Call&& call)
{
    try {
        call();
    } catch (const HubError& error) {
        return error.kind() == HubError::Kind::cancelled ? QStringLiteral("<cancelled>") : error.errorDescription();
    }
    return QStringLiteral("no error");
}

// Unlike writeAll, makes no folders: a missing one is a fault of the test.
inline void writeFileOrThrow(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

// A temporary system root, a folder for the script's private work folders,
// and a tools folder: the build tree's applets, with spctl behind a wrapper
// that trusts the test PKI's anchor.
class SelfUpdateFixture : public ::testing::Test {
protected:
    static const TestPKI& pki()
    {
        static const TestPKI instance;
        return instance;
    }

    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        for (const char* name : {"root", "work", "tools", "downloads", "sources", "mounts"})
            ASSERT_TRUE(QDir(m_dir.path()).mkpath(QString::fromLatin1(name)));
        const QString anchor = path("anchor.pem");
        writeFileOrThrow(anchor, pki().anchorPem());
        const QString hubtools = toolsFolder() + QStringLiteral("/../hubtools");
        for (const char* name : {"hdiutil", "pkgutil", "installer"})
            ASSERT_EQ(::symlink(QFile::encodeName(toolsFolder() + u'/' + QString::fromLatin1(name)).constData(),
                                QFile::encodeName(path("tools/") + QString::fromLatin1(name)).constData()),
                      0);
        const QString spctl = path("tools/spctl");
        writeFileOrThrow(spctl, "#!/bin/sh\nexec " + Shell::quoted(hubtools).toUtf8() + " spctl --anchors="
                                    + Shell::quoted(anchor).toUtf8() + " \"$@\"\n");
        ASSERT_TRUE(QFile::setPermissions(spctl, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    QString path(const char* relative) const { return m_dir.filePath(QString::fromUtf8(relative)); }

    ToolPaths tools() const { return ToolPaths::inFolder(path("tools")); }

    PackageScript::Tools scriptTools() const
    {
        PackageScript::Tools script = PackageScript::Tools::with(tools());
        script.temporaryFolder = path("work");
        script.target = path("root");
        script.owner = QString::number(::getuid()) + u':' + QString::number(::getgid());
        return script;
    }

    // The isolated-home runner: the script runs for real, as this user.
    static Installer::Execute runner()
    {
        return [](const QString& script, const QStringList& arguments) {
            return PrivilegedRunner::runAsCurrentUser(QString(), script, arguments);
        };
    }

    // This application's bundle in `version`, signed by the maker.
    QString hubBundle(const QString& version)
    {
        const QString folder = path("sources/") + QString::number(++m_sources);
        BundlePlan recipe;
        recipe.name = QStringLiteral("Tarnhub.app");
        recipe.bundleID = Config::bundleID();
        recipe.shortVersion = version;
        const QString bundle = BundleFactory::create(folder, recipe);
        signBundle(bundle, pki().maker());
        return bundle;
    }

    // A package of the hub in recipe.version (unless `bundleVersion` says
    // otherwise) at downloads/<name>.
    QString package(const PackageSpec& recipe, const QString& name = QStringLiteral("Tarnhub.pkg"))
    {
        const QString file = path("downloads/") + name;
        PackageBuilder::build(file, {hubBundle(recipe.version)}, recipe, pki());
        return file;
    }

    QString installedHub() const { return path("root/opt/Tarnhub.app"); }

    QTemporaryDir m_dir;
    int m_sources = 0;
};

inline constexpr char kPackageID[] = "com.tarnaudio.fixture.pkg";

} // namespace Hub::Test

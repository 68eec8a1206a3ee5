#include "Catalog/CatalogRecords.h"
#include "Base/Config.h"
#include "Installer/InstallLocations.h"
#include "Installer/Installed.h"
#include "Platform/FileMoves.h"

#include "BundleFactory.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace Hub {
void PrintTo(const InstalledFormat& f, std::ostream* out)
{
    *out << rawValue(f.format).toStdString() << " " << f.path.toStdString() << " " << f.version.toStdString();
}
} // namespace Hub

namespace {

namespace Locations = Hub::InstallLocations;
using Hub::InstallRoots;
using Hub::InstallScope;
using Hub::InstalledFormat;
using Hub::PluginFormat;
using Hub::Test::BundlePlan;
namespace BundleFactory = Hub::Test::BundleFactory;

// A temporary machine: a system root and a home inside it.
class Machine : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        const QString home = m_dir.filePath(u"root/home/me"_s);
        m_roots = {home, m_dir.filePath(u"root"_s), m_dir.filePath(u"root/opt"_s), Hub::Config::supportFolder(home)};
    }

    QString place(PluginFormat format, InstallScope scope, BundlePlan recipe)
    {
        return BundleFactory::create(Locations::folder(m_roots, format, scope), recipe);
    }

    static BundlePlan bundle(const QString& name, const QString& version)
    {
        BundlePlan recipe;
        recipe.name = name;
        recipe.shortVersion = version;
        return recipe;
    }

    static Hub::Artifact artifact(PluginFormat format, const QString& bundle)
    {
        Hub::Artifact a;
        a.format = format;
        a.url = u"https://tarnaudio.example/x.zip"_s;
        a.sha256 = QString(64, u'0');
        a.bundle = bundle;
        return a;
    }

    static Hub::Product product(std::vector<Hub::Artifact> artifacts, QStringList installPaths = {})
    {
        Hub::Product p;
        p.id = u"echos"_s;
        p.name = u"Echos"_s;
        Hub::Release release;
        release.version = u"2.0.0"_s;
        release.artifacts = std::move(artifacts);
        p.release = release;
        if (!installPaths.isEmpty())
            p.install = Hub::Install{installPaths};
        return p;
    }

    QTemporaryDir m_dir;
    InstallRoots m_roots;
};

// --- Folders and roots -----------------------------------------------------

// The folders Linux hosts scan, and the same pattern for Audio Units.
TEST_F(Machine, EachFormatHasOneFolderPerScope)
{
    EXPECT_EQ(Locations::folder(m_roots, PluginFormat::vst3, InstallScope::user), m_roots.userHome + u"/.vst3"_s);
    EXPECT_EQ(Locations::folder(m_roots, PluginFormat::vst3, InstallScope::allUsers),
              m_roots.system + u"/usr/local/lib/vst3"_s);
    EXPECT_EQ(Locations::folder(m_roots, PluginFormat::au, InstallScope::user), m_roots.userHome + u"/.components"_s);
    EXPECT_EQ(Locations::folder(m_roots, PluginFormat::au, InstallScope::allUsers),
              m_roots.system + u"/usr/local/lib/components"_s);
    EXPECT_EQ(Locations::folder(m_roots, PluginFormat::app, InstallScope::user), m_roots.applications);
    EXPECT_EQ(Locations::folder(m_roots, PluginFormat::app, InstallScope::allUsers), m_roots.applications);

    EXPECT_EQ(Locations::searchFolders(PluginFormat::au, m_roots),
              (QList<QString>{m_roots.userHome + u"/.components"_s, m_roots.system + u"/usr/local/lib/components"_s}));
    EXPECT_EQ(Locations::searchFolders(PluginFormat::app, m_roots),
              (QList<QString>{m_roots.applications, m_roots.system + u"/opt"_s, m_roots.userHome + u"/Applications"_s}));
}

TEST_F(Machine, ApplicationsIsTheHomeFolderOnesWhenTheSystemOneCannotBeWritten)
{
    const QString system = m_dir.filePath(u"root"_s);
    const QString home = m_dir.filePath(u"home/me"_s);
    const QString opt = system + u"/opt"_s;
    // Missing.
    EXPECT_EQ(Locations::rootsFor(home, system, opt, u"s"_s).applications, home + u"/Applications"_s);
    // A file, not a folder.
    QDir().mkpath(system);
    QFile blocker(opt);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_EQ(Locations::rootsFor(home, system, opt, u"s"_s).applications, home + u"/Applications"_s);
    // A writable folder.
    blocker.remove();
    QDir().mkpath(opt);
    const InstallRoots roots = Locations::rootsFor(home, system, opt, u"s"_s);
    EXPECT_EQ(roots.applications, opt);
    EXPECT_EQ(roots.userHome, home);
    EXPECT_EQ(roots.system, system);
    EXPECT_EQ(roots.support, u"s"_s);
}

// --- Names -------------------------------------------------------------------

TEST(NameRules, PlainNames)
{
    struct Case {
        QString name;
        bool plainName;
        bool plainComponent;
    };
    const Case cases[] = {
        {u"Echos.vst3"_s, true, true},
        {u"Echos.VST3"_s, true, true},
        {u"Echos Pro.component"_s, true, true},
        {u"Échos 🎹.app"_s, true, true},
        {u"Echos.dll"_s, false, true},
        {u"Echos"_s, false, true},
        {u""_s, false, false},
        {u".Echos.vst3"_s, false, false},
        {u"a/Echos.vst3"_s, false, false},
        {u"Echos:1.vst3"_s, false, false},
        {u"Echos\t.vst3"_s, false, false},
        {u"Echos\n.vst3"_s, false, false},
        {u"Echos\u007F.vst3"_s, false, false},
        {u".."_s, false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Locations::isPlainName(c.name), c.plainName) << c.name.toStdString();
        EXPECT_EQ(Locations::isPlainComponent(c.name), c.plainComponent) << c.name.toStdString();
    }
}

TEST_F(Machine, CatalogPathsResolveOnlyInsideTheirRoot)
{
    // A hidden folder on the way is fine; only the bundle's own name must be plain.
    EXPECT_EQ(Locations::legacyPath(u"~/.vst3/X.vst3"_s, m_roots),
              Locations::folder(m_roots, PluginFormat::vst3, InstallScope::user) + u"/X.vst3"_s);
    EXPECT_EQ(Locations::legacyPath(u"/usr/local/lib/components/X.component"_s, m_roots),
              Locations::folder(m_roots, PluginFormat::au, InstallScope::allUsers) + u"/X.component"_s);
    EXPECT_EQ(Locations::legacyPath(u"~/X.app"_s, m_roots), m_roots.userHome + u"/X.app"_s);
    for (const QString& refused : {u".vst3/X.vst3"_s, u"~/.vst3/../X.vst3"_s, u"~/.vst3//X.vst3"_s,
                                   u"~/.vst3/X.vst3/"_s, u"~/.vst3/X.dll"_s, u"~/.vst3/.X.vst3"_s,
                                   u"~/./X.vst3"_s, u"/a:b/X.vst3"_s, u"~/"_s, u"~X.vst3"_s, u""_s})
        EXPECT_EQ(Locations::legacyPath(refused, m_roots), std::nullopt) << refused.toStdString();
}

// --- Scope of a found bundle -------------------------------------------------

TEST_F(Machine, ScopeComesFromTheBundlesParentFolder)
{
    const auto vst3User = Locations::folder(m_roots, PluginFormat::vst3, InstallScope::user);
    const auto vst3All = Locations::folder(m_roots, PluginFormat::vst3, InstallScope::allUsers);
    EXPECT_EQ(Locations::scope(vst3User + u"/X.vst3"_s, PluginFormat::vst3, m_roots), InstallScope::user);
    EXPECT_EQ(Locations::scope(vst3All + u"/X.vst3"_s, PluginFormat::vst3, m_roots), InstallScope::allUsers);
    EXPECT_EQ(Locations::scope(vst3All + u"/./sub/../X.vst3"_s, PluginFormat::vst3, m_roots), InstallScope::allUsers);
    // The folder of another format, or a folder below the right one, is no scope.
    EXPECT_EQ(Locations::scope(vst3User + u"/X.vst3"_s, PluginFormat::au, m_roots), std::nullopt);
    EXPECT_EQ(Locations::scope(vst3User + u"/Sub/X.vst3"_s, PluginFormat::vst3, m_roots), std::nullopt);

    EXPECT_EQ(Locations::scope(m_roots.applications + u"/X.app"_s, PluginFormat::app, m_roots), InstallScope::allUsers);
    EXPECT_EQ(Locations::scope(m_roots.system + u"/opt/X.app"_s, PluginFormat::app, m_roots), InstallScope::allUsers);
    EXPECT_EQ(Locations::scope(m_roots.userHome + u"/Applications/X.app"_s, PluginFormat::app, m_roots),
              InstallScope::user);
    EXPECT_EQ(Locations::scope(m_roots.userHome + u"/X.app"_s, PluginFormat::app, m_roots), std::nullopt);
}

TEST_F(Machine, AnAppInTheHomeApplicationsIsTheUsersEvenWhenThatIsTheApplicationsRoot)
{
    m_roots.applications = m_roots.userHome + u"/Applications"_s;
    EXPECT_EQ(Locations::scope(m_roots.applications + u"/X.app"_s, PluginFormat::app, m_roots), InstallScope::user);
}

// --- The installed-copy scan -------------------------------------------------

TEST_F(Machine, ScanListsEveryCopyOnceSortedByFormatThenPath)
{
    const QString userVST3 = place(PluginFormat::vst3, InstallScope::user, bundle(u"Echos.vst3"_s, u"1.0.0"_s));
    const QString allVST3 = place(PluginFormat::vst3, InstallScope::allUsers, bundle(u"Echos.vst3"_s, u"1.1.0"_s));
    const QString userAU = place(PluginFormat::au, InstallScope::user, bundle(u"Echos.component"_s, u"1.0.0"_s));
    const QString app = BundleFactory::create(m_roots.applications, bundle(u"Echos.app"_s, u"2.0"_s));
    // Present but not part of the product.
    place(PluginFormat::vst3, InstallScope::user, bundle(u"Other.vst3"_s, u"9.0"_s));

    const auto found = Locations::installed(
        product({artifact(PluginFormat::app, u"Echos.app"_s), artifact(PluginFormat::au, u"Echos.component"_s),
                 artifact(PluginFormat::vst3, u"Echos.vst3"_s)}),
        m_roots);
    // root/home/... sorts before root/usr/...: the user's copy comes first.
    const QList<InstalledFormat> expected{
        {PluginFormat::vst3, userVST3, u"1.0.0"_s},
        {PluginFormat::vst3, allVST3, u"1.1.0"_s},
        {PluginFormat::au, userAU, u"1.0.0"_s},
        {PluginFormat::app, app, u"2.0"_s},
    };
    EXPECT_EQ(found, expected);
}

TEST_F(Machine, TheArtifactsFormatDecidesWhereItIsLookedFor)
{
    // Foo.vst3 declared as an Audio Unit: looked for in the Components folders.
    const QString inComponents = place(PluginFormat::au, InstallScope::user, bundle(u"Foo.vst3"_s, u"3.0"_s));
    place(PluginFormat::vst3, InstallScope::user, bundle(u"Foo.vst3"_s, u"4.0"_s));

    const auto found = Locations::installed(product({artifact(PluginFormat::au, u"Foo.vst3"_s)}), m_roots);
    EXPECT_EQ(found, (QList<InstalledFormat>{{PluginFormat::au, inComponents, u"3.0"_s}}));
}

TEST_F(Machine, ABundleReachedTwiceIsListedOnceWithTheFirstFormat)
{
    const QString userVST3 = place(PluginFormat::vst3, InstallScope::user, bundle(u"Echos.vst3"_s, u"1.0"_s));
    const auto found = Locations::installed(product({artifact(PluginFormat::vst3, u"Echos.vst3"_s)},
                                                    {u"~/.vst3/Echos.vst3"_s, u"~/.vst3/./Echos.vst3"_s}),
                                            m_roots);
    EXPECT_EQ(found, (QList<InstalledFormat>{{PluginFormat::vst3, userVST3, u"1.0"_s}}));
}

TEST_F(Machine, ApplicationsRootEqualToTheSystemOneListsTheAppOnce)
{
    const QString app = BundleFactory::create(m_roots.applications, bundle(u"Echos.app"_s, u"2.0"_s));
    ASSERT_EQ(m_roots.applications, Locations::searchFolders(PluginFormat::app, m_roots)[1]);
    const auto found = Locations::installed(product({artifact(PluginFormat::app, u"Echos.app"_s)}), m_roots);
    EXPECT_EQ(found, (QList<InstalledFormat>{{PluginFormat::app, app, u"2.0"_s}}));
}

TEST_F(Machine, OlderInstallPathsAreFoundAndAppsAreAlsoLookedForInApplications)
{
    const QString legacy = place(PluginFormat::au, InstallScope::allUsers, bundle(u"Old Echo.component"_s, u"0.9"_s));
    const QString app = BundleFactory::create(m_roots.applications, bundle(u"Old Echo.app"_s, u"0.8"_s));
    // A path outside every known folder is no install, even when a bundle is there.
    BundleFactory::create(m_roots.userHome + u"/Desktop"_s, bundle(u"Old Echo.vst3"_s, u"0.7"_s));

    const auto found = Locations::installed(
        product({}, {u"/usr/local/lib/components/Old Echo.component"_s, u"/srv/Old Echo.app"_s,
                     u"~/Desktop/Old Echo.vst3"_s, u"~/../../etc/Old Echo.vst3"_s}),
        m_roots);
    EXPECT_EQ(found, (QList<InstalledFormat>{{PluginFormat::au, legacy, u"0.9"_s},
                                             {PluginFormat::app, app, u"0.8"_s}}));
}

TEST_F(Machine, VersionTextFallsBackToTheBundleVersionAndMissingOnesAreSkipped)
{
    const QString vst3 = Locations::folder(m_roots, PluginFormat::vst3, InstallScope::user);
    // The short version as a number does not count; CFBundleVersion does.
    QDir().mkpath(vst3 + u"/Numeric.vst3/Contents"_s);
    QFile plist(vst3 + u"/Numeric.vst3/Contents/Info.plist"_s);
    ASSERT_TRUE(plist.open(QIODevice::WriteOnly));
    plist.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                "<key>CFBundleShortVersionString</key><integer>3</integer>"
                "<key>CFBundleVersion</key><string>1.2</string></dict></plist>\n");
    plist.close();
    BundlePlan empty = bundle(u"Empty.vst3"_s, u""_s);
    const QString emptyPath = BundleFactory::create(vst3, empty);
    BundlePlan none = bundle(u"None.vst3"_s, u"x"_s);
    none.shortVersion.reset();
    BundleFactory::create(vst3, none);
    QDir().mkpath(vst3 + u"/NoPlist.vst3/Contents"_s);

    const auto found = Locations::installed(
        product({artifact(PluginFormat::vst3, u"Numeric.vst3"_s), artifact(PluginFormat::vst3, u"Empty.vst3"_s),
                 artifact(PluginFormat::vst3, u"None.vst3"_s), artifact(PluginFormat::vst3, u"NoPlist.vst3"_s)}),
        m_roots);
    EXPECT_EQ(found, (QList<InstalledFormat>{{PluginFormat::vst3, emptyPath, u""_s},
                                             {PluginFormat::vst3, vst3 + u"/Numeric.vst3"_s, u"1.2"_s}}));
}

TEST_F(Machine, UnusableBundleNamesAndEmptyProductsFindNothing)
{
    place(PluginFormat::vst3, InstallScope::user, bundle(u"Echos.vst3"_s, u"1.0"_s));
    EXPECT_TRUE(Locations::installed(product({artifact(PluginFormat::vst3, u"../VST3/Echos.vst3"_s)}), m_roots).isEmpty());
    EXPECT_TRUE(Locations::installed(product({}), m_roots).isEmpty());
    Hub::Product bare;
    bare.id = u"bare"_s;
    EXPECT_TRUE(Locations::installed(bare, m_roots).isEmpty());
}

// --- The private folder --------------------------------------------------------

TEST_F(Machine, PrivateFoldersAreCreatedAndTightenedTo0700)
{
    const QString deep = m_dir.filePath(u"a/b/c"_s);
    Locations::makePrivateFolder(deep);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(deep).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);

    const QString open = m_dir.filePath(u"open"_s);
    QDir().mkpath(open);
    ::chmod(QFile::encodeName(open).constData(), 0777);
    Locations::makePrivateFolder(open);
    ASSERT_EQ(::stat(QFile::encodeName(open).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);

    QFile file(m_dir.filePath(u"file"_s));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_THROW(Locations::makePrivateFolder(m_dir.filePath(u"file/below"_s)), Hub::FileError);
}

TEST_F(Machine, APrivateFolderIsNeverAFileOrALinkInItsPlace)
{
    const QString folder = m_dir.filePath(u"folder"_s);
    QDir().mkpath(folder);
    ::chmod(QFile::encodeName(folder).constData(), 0755);
    const QString file = m_dir.filePath(u"file"_s);
    Hub::Test::writeFile(file, "mine");
    ::chmod(QFile::encodeName(file).constData(), 0644);
    const QString link = m_dir.filePath(u"link"_s);
    ASSERT_TRUE(QFile::link(folder, link));

    for (const QString& taken : {file, link}) {
        SCOPED_TRACE(taken.toStdString());
        const QStringList before = Hub::Test::treeListing(m_dir.path());
        EXPECT_THROW(Locations::makePrivateFolder(taken), Hub::FileError);
        EXPECT_EQ(Hub::Test::treeListing(m_dir.path()), before);
    }
}

// --- The catalog-path scan ----------------------------------------------------

TEST_F(Machine, InstalledScanReadsCatalogPathsInOrder)
{
    const QString home = m_roots.userHome;
    const QString a = place(PluginFormat::vst3, InstallScope::user, bundle(u"A.vst3"_s, u"1.2"_s));
    BundlePlan bundleVersionOnly = bundle(u"B.component"_s, u"x"_s);
    bundleVersionOnly.shortVersion.reset();
    bundleVersionOnly.bundleVersion = u"7"_s;
    const QString b = BundleFactory::create(m_dir.filePath(u"abs"_s), bundleVersionOnly);

    Hub::Product p = product({}, {u"~/.vst3/A.vst3"_s, u"~/Missing.vst3"_s, b, u"~/.vst3/A.vst3"_s});
    const auto copies = Hub::Installed::scan(p, home);
    EXPECT_EQ(copies, (QList<Hub::InstalledCopy>{{a, u"1.2"_s}, {b, u"7"_s}, {a, u"1.2"_s}}));
    EXPECT_EQ(Hub::Installed::expand(u"~/x"_s, u"/h"_s), u"/h/x"_s);
    EXPECT_EQ(Hub::Installed::expand(u"~x"_s, u"/h"_s), u"~x"_s);
    EXPECT_EQ(Hub::Installed::expand(u"/abs"_s, u"/h"_s), u"/abs"_s);
}

TEST(InstalledNewest, HighestVersionTheFirstOfEqualOnes)
{
    using Hub::InstalledCopy;
    EXPECT_EQ(Hub::Installed::newest({}), std::nullopt);
    EXPECT_EQ(Hub::Installed::newest({{u"a"_s, u"1.2"_s}, {u"b"_s, u"1.10"_s}, {u"c"_s, u"1.10.0"_s}}), u"1.10"_s);
    EXPECT_EQ(Hub::Installed::newest({{u"a"_s, u"2"_s}, {u"b"_s, u"10"_s}, {u"c"_s, u"9.9"_s}}), u"10"_s);
}

} // namespace

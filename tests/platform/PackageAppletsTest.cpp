#include "PackageBuilder.h"
#include "TestFiles.h"
#include "ToolsPaths.h"

#include "BundleFactory.h"

#include "Base/Process.h"
#include "Catalog/CatalogRecords.h"
#include "Installer/InstallLocations.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <archive.h>
#include <archive_entry.h>

#include <memory>

using namespace Qt::StringLiterals;
using namespace Hub;
using Hub::Test::entriesOf;

namespace {

// A zip with links, written by hand since no release tool would make one.
void zipWithLink(const QString& image, const QString& linkName, const QString& target, const QString& throughLink)
{
    const std::unique_ptr<archive, decltype(&archive_write_free)> writer(archive_write_new(), archive_write_free);
    archive_write_set_format_zip(writer.get());
    ASSERT_EQ(archive_write_open_filename(writer.get(), QFile::encodeName(image).constData()), ARCHIVE_OK);
    const auto add = [&](const QString& name, unsigned type, const QByteArray& bytes, const QString& link) {
        const std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(archive_entry_new(),
                                                                                  archive_entry_free);
        archive_entry_set_pathname(entry.get(), QFile::encodeName(name).constData());
        archive_entry_set_filetype(entry.get(), type);
        archive_entry_set_perm(entry.get(), 0644);
        if (type == AE_IFLNK)
            archive_entry_set_symlink(entry.get(), QFile::encodeName(link).constData());
        archive_entry_set_size(entry.get(), bytes.size());
        ASSERT_EQ(archive_write_header(writer.get(), entry.get()), ARCHIVE_OK);
        if (!bytes.isEmpty())
            archive_write_data(writer.get(), bytes.constData(), size_t(bytes.size()));
    };
    add(linkName, AE_IFLNK, {}, target);
    if (!throughLink.isEmpty())
        add(throughLink, AE_IFREG, "written through the link\n", {});
    ASSERT_EQ(archive_write_close(writer.get()), ARCHIVE_OK);
}

class PackageAppletsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    static const Hub::Test::TestPKI& pki()
    {
        static const Hub::Test::TestPKI instance;
        return instance;
    }

    Shell::Result run(const QString& tool, const QStringList& arguments) const
    {
        return Shell::run(Hub::Test::toolsFolder() + u'/' + tool, arguments, 30);
    }
    QString path(const QString& relative) const { return m_dir.filePath(relative); }

    QTemporaryDir m_dir;
};

TEST_F(PackageAppletsTest, DetachRemovesOnlyWhatAttachMade)
{
    const QString image = path(u"image.dmg"_s);
    Hub::Test::PackageBuilder::diskImage(image, {{u"Docs/"_s, {}}, {u"Docs/ReadMe.txt"_s, "hello\n"}, {u"A.pkg"_s, "pkg"}});
    const QString mount = path(u"mount"_s);

    const Shell::Result attached = run(u"hdiutil"_s, {u"attach"_s, u"-nobrowse"_s, u"-readonly"_s, u"-noautoopen"_s,
                                                     u"-mountpoint"_s, mount, image});
    ASSERT_EQ(attached.status, 0) << attached.output.toStdString();
    EXPECT_EQ(entriesOf(mount), QStringList({u"A.pkg"_s, u"Docs"_s}));
    // Read-only, as a mounted image is (by mode: root would write anyway).
    EXPECT_EQ((QFileInfo(mount + u"/A.pkg"_s).permissions() & (QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther)),
              QFile::Permissions());
    EXPECT_EQ((QFileInfo(mount + u"/Docs"_s).permissions() & (QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther)),
              QFile::Permissions());

    // Someone else's file inside the mount point survives, and so does the
    // folder that holds it.
    ASSERT_TRUE(QFile::setPermissions(mount + u"/Docs"_s, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QFile foreign(mount + u"/Docs/Mine.txt"_s);
    ASSERT_TRUE(foreign.open(QIODevice::WriteOnly));
    foreign.close();

    const Shell::Result detached = run(u"hdiutil"_s, {u"detach"_s, u"-force"_s, mount});
    EXPECT_EQ(detached.status, 0) << detached.output.toStdString();
    EXPECT_EQ(entriesOf(mount), QStringList({u"Docs"_s}));
    EXPECT_EQ(entriesOf(mount + u"/Docs"_s), QStringList({u"Mine.txt"_s}));
    EXPECT_EQ(entriesOf(m_dir.path()), QStringList({u"image.dmg"_s, u"mount"_s})) << "the record is gone";

    // Detaching twice is a failure, not a second removal.
    EXPECT_NE(run(u"hdiutil"_s, {u"detach"_s, mount}).status, 0);
}

TEST_F(PackageAppletsTest, AttachRefusesEscapingImagesAndBusyMountPoints)
{
    const QString outside = path(u"outside"_s);
    ASSERT_TRUE(QDir().mkpath(outside));
    const QString escaping = path(u"escaping.dmg"_s);
    zipWithLink(escaping, u"link"_s, outside, u"link/planted.txt"_s);
    const QString mount = path(u"mount"_s);
    const Shell::Result attached = run(u"hdiutil"_s, {u"attach"_s, u"-mountpoint"_s, mount, escaping});
    EXPECT_NE(attached.status, 0);
    EXPECT_TRUE(attached.output.contains(u"hdiutil: attach failed"_s)) << attached.output.toStdString();
    EXPECT_EQ(entriesOf(outside), QStringList());
    EXPECT_FALSE(QFile::exists(mount)) << "a mount point attach made is removed again";

    const QString relative = path(u"relative.dmg"_s);
    zipWithLink(relative, u"up"_s, u"../../outside"_s, {});
    EXPECT_NE(run(u"hdiutil"_s, {u"attach"_s, u"-mountpoint"_s, mount, relative}).status, 0);

    ASSERT_TRUE(QDir().mkpath(mount));
    QFile busy(mount + u"/busy"_s);
    ASSERT_TRUE(busy.open(QIODevice::WriteOnly));
    busy.close();
    const QString good = path(u"good.dmg"_s);
    Hub::Test::PackageBuilder::diskImage(good, {{u"A.pkg"_s, "pkg"}});
    EXPECT_NE(run(u"hdiutil"_s, {u"attach"_s, u"-mountpoint"_s, mount, good}).status, 0);
    EXPECT_EQ(entriesOf(mount), QStringList({u"busy"_s}));
}

TEST_F(PackageAppletsTest, InstallerKeepsThePayloadInsideTheTarget)
{
    const QString root = path(u"root"_s);
    ASSERT_TRUE(QDir().mkpath(root));
    QTemporaryDir source;
    QFile file(source.filePath(u"tool.txt"_s));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();

    // Unsigned packages install (trust is the assessment's business), but
    // never outside the target.
    const QString escaping = path(u"escaping.pkg"_s);
    Hub::Test::PackageSpec recipe;
    recipe.signer = Hub::Test::PackageSpec::Signer::none;
    recipe.installLocation = u"/../../outside"_s;
    Hub::Test::PackageBuilder::build(escaping, {source.filePath(u"tool.txt"_s)}, recipe, pki());
    const Shell::Result refused = run(u"installer"_s, {u"-pkg"_s, escaping, u"-target"_s, root});
    EXPECT_NE(refused.status, 0);
    EXPECT_TRUE(refused.output.contains(u"installer: The install failed."_s)) << refused.output.toStdString();
    EXPECT_FALSE(QFile::exists(path(u"outside"_s)));

    // A folder of no use here is refused by name, before anything is written.
    const QString plain = path(u"plain.pkg"_s);
    recipe.installLocation = u"/Library/Application Support/Tarn"_s;
    Hub::Test::PackageBuilder::build(plain, {source.filePath(u"tool.txt"_s)}, recipe, pki());
    const Shell::Result unplaced = run(u"installer"_s, {u"-pkg"_s, plain, u"-target"_s, root});
    EXPECT_EQ(unplaced.status, 1);
    EXPECT_TRUE(unplaced.output.contains(
        u"The install failed. (the install location /Library/Application Support/Tarn has no place on this system)"_s))
        << unplaced.output.toStdString();
    EXPECT_EQ(entriesOf(root), QStringList());
}

// A maker's package names the other platform's folders; its payload lands in
// the place that stands in for each, where the scan of installed copies
// finds it, for all users under the system root and for the user in $HOME.
TEST_F(PackageAppletsTest, InstallerPutsEachKindWhereTheScanFindsIt)
{
    struct Row {
        const char* location;
        bool intoHome;
        PluginFormat format;
        QString bundle;
        const char* expected; // relative to the test's folder
    };
    const Row rows[] = {
        {"/Library/Audio/Plug-Ins/VST3", false, PluginFormat::vst3, u"Echos.vst3"_s, "root/usr/local/lib/vst3"},
        {"/Library/Audio/Plug-Ins/Components/", false, PluginFormat::au, u"Echos.component"_s,
         "root/usr/local/lib/components"},
        {"/Applications", false, PluginFormat::app, u"Echos.app"_s, "root/opt"},
        {"/Library/Audio/Plug-Ins/VST3", true, PluginFormat::vst3, u"Echos.vst3"_s, "home/.vst3"},
        {"/Library/Audio/Plug-Ins/Components", true, PluginFormat::au, u"Echos.component"_s, "home/.components"},
        {"/applications", true, PluginFormat::app, u"Echos.app"_s, "home/Applications"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.location + std::string(row.intoHome ? " into the home" : " for all users"));
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QString root = dir.filePath(u"root"_s);
        const QString home = dir.filePath(u"home"_s);
        ASSERT_TRUE(QDir().mkpath(root) && QDir().mkpath(home));
        Hub::Test::BundlePlan bundleSpec;
        bundleSpec.name = row.bundle;
        bundleSpec.shortVersion = u"2.0.0"_s;
        const QString bundle = Hub::Test::BundleFactory::create(dir.filePath(u"source"_s), bundleSpec);
        Hub::Test::PackageSpec recipe;
        recipe.installLocation = QString::fromUtf8(row.location);
        const QString package = dir.filePath(u"echos.pkg"_s);
        Hub::Test::PackageBuilder::build(package, {bundle}, recipe, pki());

        QProcess installer;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"HOME"_s, home);
        installer.setProcessEnvironment(environment);
        installer.setProcessChannelMode(QProcess::MergedChannels);
        installer.start(Hub::Test::toolsFolder() + u"/installer"_s,
                        {u"-pkg"_s, package, u"-target"_s, row.intoHome ? u"CurrentUserHomeDirectory"_s : root});
        ASSERT_TRUE(installer.waitForFinished(30000));
        ASSERT_EQ(installer.exitCode(), 0) << installer.readAll().toStdString();

        Product product;
        product.id = u"echos"_s;
        product.name = u"Echos"_s;
        Release release;
        release.version = u"2.0.0"_s;
        Artifact artifact;
        artifact.format = row.format;
        artifact.url = u"https://tarnaudio.example/echos.zip"_s;
        artifact.sha256 = QString(64, u'0');
        artifact.bundle = row.bundle;
        release.artifacts = {artifact};
        product.release = release;
        const InstallRoots roots =
            InstallLocations::rootsFor(home, root, root + u"/opt"_s, dir.filePath(u"support"_s));
        const QString expected = dir.filePath(QString::fromUtf8(row.expected)) + u'/' + row.bundle;
        EXPECT_EQ(InstallLocations::installed(product, roots),
                  (QList<InstalledFormat>{{row.format, expected, u"2.0.0"_s}}));
    }
}

TEST_F(PackageAppletsTest, PkgutilExpandsOnlyIntoANewFolder)
{
    QTemporaryDir source;
    QFile file(source.filePath(u"tool.txt"_s));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    const QString package = path(u"p.pkg"_s);
    Hub::Test::PackageSpec recipe;
    Hub::Test::PackageBuilder::build(package, {source.filePath(u"tool.txt"_s)}, recipe, pki());

    const QString expanded = path(u"expanded"_s);
    EXPECT_EQ(run(u"pkgutil"_s, {u"--expand"_s, package, expanded}).status, 0);
    EXPECT_EQ(entriesOf(expanded), QStringList({u"PackageInfo"_s, u"Payload"_s, u"Signature"_s, u"Ticket"_s}));
    EXPECT_NE(run(u"pkgutil"_s, {u"--expand"_s, package, expanded}).status, 0);
}

} // namespace

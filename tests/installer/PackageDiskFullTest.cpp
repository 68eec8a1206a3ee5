#include "SelfUpdateTestSupport.h"
#include "SmallDisk.h"

#include "Installer/InstallErrors.h"
#include "Installer/PluginInstaller.h"
#include "Model/SystemSeams.h"
#include "TestHttpsServer.h"

#include <QCryptographicHash>

#include <memory>

using namespace Qt::StringLiterals;
using namespace Hub;
using namespace Hub::Test;
namespace SmallDisk = Hub::Test::SmallDisk;

namespace {

// Where a product delivered as a package runs out of room: the installer's
// unpacking of a large payload, attaching a disk image with a large file, or,
// with the disk filled up to a share of the package's size, the script's
// copy of the download (25%) or its expansion of the package (150%).
struct Row {
    const char* name;
    bool diskImage;
    bool large;
    int freePercent; // of the package's size left free; 0: no filling
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

// More than the whole small disk, but next to nothing once compressed, so
// the download and the package copies fit and only unpacking does not.
constexpr qsizetype kLarge = 3 << 20;

class PackageDiskFullTest : public SelfUpdateFixture, public ::testing::WithParamInterface<Row> {
protected:
    void SetUp() override
    {
        if (!SmallDisk::available())
            GTEST_SKIP() << SmallDisk::why().toStdString();
        SelfUpdateFixture::SetUp();
        m_disk = std::make_unique<QTemporaryDir>(SmallDisk::root() + u"/package-XXXXXX"_s);
        ASSERT_TRUE(m_disk->isValid());
        ASSERT_TRUE(QDir(m_disk->path()).mkpath(u"work"_s));
        ASSERT_TRUE(QDir(m_disk->path()).mkpath(u"root"_s));
    }

    QString onDisk(const QString& relative) const { return m_disk->path() + u'/' + relative; }

    PackageScript::Tools smallDiskTools() const
    {
        PackageScript::Tools tools = scriptTools();
        tools.temporaryFolder = onDisk(u"work"_s);
        tools.target = onDisk(u"root"_s);
        return tools;
    }

    // A package of Echo.app in `version` whose one resource is `resource`.
    QString echoPackage(const QString& version, const QByteArray& resource)
    {
        const QString bundle = path("sources/") + version + u"/Echo.app"_s;
        writeFile(bundle + u"/Contents/Info.plist"_s, "<plist><dict><key>CFBundleShortVersionString</key><string>"
                                                          + version.toUtf8() + "</string></dict></plist>\n");
        writeFile(bundle + u"/Contents/Resources/Samples.bin"_s, resource);
        PackageSpec recipe;
        recipe.version = version;
        const QString file = path("downloads/Echo-") + version + u".pkg"_s;
        PackageBuilder::build(file, {bundle}, recipe, pki());
        return file;
    }

    QString installSentence(const QString& file, const QString& version)
    {
        return sentenceOf([&] {
            Installer::install(file, u"Echo"_s, Installer::fileSHA256(file), std::nullopt, version, runner(),
                               smallDiskTools());
        });
    }

    std::unique_ptr<QTemporaryDir> m_disk;
};

TEST_P(PackageDiskFullTest, FailsNamingTheDiskAndLeavesTheEarlierCopyAsItWas)
{
    const Row row = GetParam();
    ASSERT_EQ(installSentence(echoPackage(u"1.0.0"_s, noise(64 * 1024, 1)), u"1.0.0"_s), u"no error"_s);
    const QStringList before = treeListing(onDisk(u"root"_s));
    ASSERT_TRUE(before.join(u'\n').contains(u"opt/Echo.app/Contents/Resources/Samples.bin"_s));

    QString file = echoPackage(u"2.0.0"_s, row.large ? QByteArray(kLarge, '\0') : noise(256 * 1024, 2));
    if (row.freePercent > 0) {
        const long long room = QFileInfo(file).size() * row.freePercent / 100;
        ASSERT_TRUE(SmallDisk::leaveFree(m_disk->path(), room))
            << "the small disk has only " << SmallDisk::freeBytes(m_disk->path()) << " bytes free";
    }
    if (row.diskImage) {
        const QString image = path("downloads/Echo-2.0.0.dmg");
        PackageBuilder::diskImage(image, {{u"Echo.pkg"_s, readAll(file)}, {u"Extras/"_s, {}},
                                          {u"Extras/Samples.bin"_s, QByteArray(kLarge, '\0')}});
        file = image;
    }

    EXPECT_EQ(installSentence(file, u"2.0.0"_s),
              u"The disk at "_s + SmallDisk::root()
                  + u" is full, so Echo 2.0.0 wasn't installed and nothing was changed. Free up some space and try again."_s);
    EXPECT_EQ(treeListing(onDisk(u"root"_s)), before) << "the earlier copy, byte for byte, and nothing beside it";
    EXPECT_EQ(entriesOf(onDisk(u"work"_s)), QStringList()) << "no staging left on the full disk";
}

using PackageFromImageDiskFullTest = PackageDiskFullTest;

TEST_F(PackageFromImageDiskFullTest, APackageThatDoesNotFitBesideTheImageIsAFullDiskNotAMissingPackage)
{
    const QByteArray package = readAll(echoPackage(u"2.0.0"_s, noise(256 * 1024, 3)));
    const QString image = onDisk(u"Echo-2.0.0.dmg"_s);
    PackageBuilder::diskImage(image, {{u"Echo.pkg"_s, package}});
    ASSERT_TRUE(SmallDisk::leaveFree(m_disk->path(), package.size() / 4));

    QString sentence = u"no error"_s;
    try {
        Installer::packageFrom(image, tools(), path("mounts"));
    } catch (...) {
        sentence = errorSentence(std::current_exception());
    }
    EXPECT_EQ(sentence, u"The disk at "_s + SmallDisk::root() + u" is full. Free up some space and try again."_s);
    EXPECT_FALSE(QFile::exists(onDisk(u"Echo-2.0.0.pkg"_s))) << "no partial copy left";
    EXPECT_EQ(entriesOf(path("mounts")), QStringList());
}

// The program's own path for a product's package: the download itself, on
// a home with a quarter of the package's room, fails naming the disk and
// what was kept, not only that the disk is full.
TEST_F(PackageFromImageDiskFullTest, ADownloadThatDoesNotFitSaysNothingWasChanged)
{
    const QByteArray package = readAll(echoPackage(u"2.0.0"_s, noise(256 * 1024, 4)));
    TestHttpsServer server;
    server.get("/Echo.pkg", [package](const httplib::Request&, httplib::Response& response) {
        response.set_content(package.toStdString(), "application/octet-stream");
    });
    Release release;
    release.version = u"2.0.0"_s;
    release.pkgURL = server.url(u"/Echo.pkg"_s).toString();
    release.sha256 = QString::fromLatin1(QCryptographicHash::hash(package, QCryptographicHash::Sha256).toHex());
    release.size = package.size();
    const CorePackageInstaller installer(
        {onDisk(u"home"_s), tools(), smallDiskTools(), pki().anchors(), runner(), server.caBundle()});
    ASSERT_TRUE(SmallDisk::leaveFree(m_disk->path(), package.size() / 4));

    EXPECT_EQ(sentenceOf([&] { installer.install(u"Echo"_s, release, false, [](const InstallStep&) {}, {}); }),
              u"The disk at "_s + SmallDisk::root()
                  + u" is full, so Echo 2.0.0 wasn't installed and nothing was changed. Free up some space and try again."_s);
    EXPECT_EQ(entriesOf(onDisk(u"root"_s)), QStringList()) << "nothing placed";
}

INSTANTIATE_TEST_SUITE_P(Packages, PackageDiskFullTest,
                         ::testing::Values(Row{"payload", false, true, 0}, Row{"diskImage", true, true, 0},
                                           Row{"stagingCopy", false, false, 25},
                                           Row{"packageExpansion", false, false, 150}),
                         [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

} // namespace

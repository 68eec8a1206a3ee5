#include "Base/Config.h"
#include "Base/Digest.h"
#include "Base/Machine.h"
#include "Base/Places.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;
using namespace Hub;
using Hub::Test::readFile;

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

} // namespace

TEST(Digest, KnownVectorsInLowerCaseHex)
{
    EXPECT_EQ(sha256Hex(QString()), u"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"_s);
    EXPECT_EQ(sha256Hex(u"abc"_s), u"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"_s);
    // The text's UTF-8 bytes are hashed, not its UTF-16 code units.
    EXPECT_EQ(sha256Hex(u"\u00e9"_s), sha256Hex(QByteArray("\xc3\xa9")));
}

TEST(Machine, IdentifierDerivedFromPlatformUUID)
{
    EXPECT_EQ(Machine::id(u"tarnaudio-hub|"_s, std::nullopt), std::nullopt);
    EXPECT_EQ(Machine::id(u"tarnaudio-hub|"_s, u""_s), std::nullopt);

    const auto id = Machine::id(u"tarnaudio-hub|"_s, u"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0"_s);
    ASSERT_TRUE(id);
    EXPECT_TRUE(QRegularExpression(u"^[0-9a-f]{32}$"_s).match(*id).hasMatch()) << id->toStdString();
    // Prefix and UUID are joined with nothing between them.
    EXPECT_EQ(*id, sha256Hex(u"tarnaudio-hub|0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0"_s).left(32));
    EXPECT_NE(*id, *Machine::id(u"other|"_s, u"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0"_s));
}

TEST(Machine, AHostWithoutANameIsALinuxComputer)
{
    EXPECT_EQ(Machine::nameForHost(u"studio"_s), u"studio"_s);
    EXPECT_EQ(Machine::nameForHost(QString()), u"Linux computer"_s);
}

TEST(Machine, ProcessorNames)
{
    EXPECT_EQ(Machine::cpuForMachine(u"aarch64"_s), u"arm64"_s);
    EXPECT_EQ(Machine::cpuForMachine(u"arm64"_s), u"arm64"_s);
    EXPECT_EQ(Machine::cpuForMachine(u"x86_64"_s), u"x86_64"_s);
    EXPECT_EQ(Machine::cpuForMachine(u"riscv64"_s), u"x86_64"_s);
    EXPECT_TRUE(Machine::cpu() == "arm64"_L1 || Machine::cpu() == "x86_64"_L1);
}

TEST(Machine, PlatformUUIDHasTheShapeOfAUUID)
{
    const auto uuid = Machine::readPlatformUUID();
    if (!uuid)
        GTEST_SKIP() << "this machine has no machine-id";
    EXPECT_TRUE(QRegularExpression(u"^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"_s)
                    .match(*uuid)
                    .hasMatch())
        << uuid->toStdString();
    EXPECT_EQ(Machine::platformUUID(), uuid);
    EXPECT_EQ(Config::hubMachineID(), Machine::id(u"tarnaudio-hub|"_s, uuid));
}

TEST(Config, AddressesBuiltFromTheSite)
{
    const QString site = Config::site().toString();
    EXPECT_TRUE(site.startsWith("https://"_L1));
    EXPECT_EQ(Config::changelog(u"hub"_s).toString(), site + u"/changelog#hub"_s);
    EXPECT_EQ(Config::changelog(u"glasswing"_s).fragment(), u"glasswing"_s);
    EXPECT_EQ(Config::accountPage().toString(), site + u"/account"_s);
    EXPECT_EQ(Config::catalogURL().toString(), site + u"/catalog.json"_s);

    EXPECT_TRUE(Config::apiBase().path().endsWith(u'/'));
    const QUrl origin = Config::apiOrigin();
    EXPECT_EQ(origin.scheme(), Config::apiBase().scheme());
    EXPECT_EQ(origin.host(), Config::apiBase().host());
    EXPECT_TRUE(origin.path().isEmpty());
    EXPECT_EQ(Config::bundleID(), Config::bundleID().toLower());
    EXPECT_EQ(Config::teamID().size(), 10);
}

TEST(Config, FoldersUnderTheGivenHome)
{
    EXPECT_EQ(Config::supportFolder(u"/home/ann"_s), u"/home/ann/.local/share/Tarn Hub"_s);
    EXPECT_EQ(Config::downloadsFolder(u"/home/ann"_s), u"/home/ann/.cache/Tarn Hub/Downloads"_s);
}

// The one-time move of the caches from the application's former support folder.
class OldCacheMove : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        oldDir = Places::path(Places::Place::oldSupport, home.path());
        newDir = Config::supportFolder(home.path());
        qunsetenv("HUBTARN_SANDBOX");
    }
    void TearDown() override { qunsetenv("HUBTARN_SANDBOX"); }

    QTemporaryDir home;
    QString oldDir;
    QString newDir;
};

TEST_F(OldCacheMove, MovesMissingFilesAndNeverOverwrites)
{
    writeFile(oldDir + u"/catalog.json"_s, "old catalog");
    writeFile(oldDir + u"/feeds.json"_s, "old feeds");
    writeFile(newDir + u"/feeds.json"_s, "new feeds");

    Config::moveOldCaches(home.path(), Config::bundleID());

    EXPECT_EQ(readFile(newDir + u"/catalog.json"_s), "old catalog");
    EXPECT_FALSE(QFile::exists(oldDir + u"/catalog.json"_s));
    // The newer copy is kept and the old one stays where it was.
    EXPECT_EQ(readFile(newDir + u"/feeds.json"_s), "new feeds");
    EXPECT_EQ(readFile(oldDir + u"/feeds.json"_s), "old feeds");
    EXPECT_TRUE(QDir(oldDir).exists());
}

TEST_F(OldCacheMove, CreatesTheNewFolder)
{
    writeFile(oldDir + u"/feeds.json"_s, "old feeds");
    Config::moveOldCaches(home.path(), Config::bundleID());
    EXPECT_EQ(readFile(newDir + u"/feeds.json"_s), "old feeds");
}

TEST_F(OldCacheMove, SkippedInTheSandboxEvenWithAnEmptyValue)
{
    writeFile(oldDir + u"/catalog.json"_s, "old catalog");
    qputenv("HUBTARN_SANDBOX", "");
    Config::moveOldCaches(home.path(), Config::bundleID());
    EXPECT_EQ(readFile(oldDir + u"/catalog.json"_s), "old catalog");
    EXPECT_FALSE(QDir(newDir).exists());
}

TEST_F(OldCacheMove, SkippedForAnyOtherProgram)
{
    writeFile(oldDir + u"/catalog.json"_s, "old catalog");
    Config::moveOldCaches(home.path(), u"catalog_tests"_s);
    Config::moveOldCaches(home.path(), QString());
    EXPECT_EQ(readFile(oldDir + u"/catalog.json"_s), "old catalog");
    EXPECT_FALSE(QDir(newDir).exists());
}

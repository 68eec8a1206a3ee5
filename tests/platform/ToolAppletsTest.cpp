#include "Base/Process.h"

#include "BundleFactory.h"
#include "ToolsPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdint>

#include <sys/stat.h>
#include <sys/xattr.h>

using namespace Qt::StringLiterals;

namespace {

using Hub::Shell::Result;
using Hub::Test::BundlePlan;
namespace BundleFactory = Hub::Test::BundleFactory;

Result run(const QString& tool, const QStringList& arguments) { return Hub::Shell::run(tool, arguments, 30.0); }

// --- PlistBuddy: the version read of the all-users placement ------------------------

class PlistBuddy : public ::testing::Test {
protected:
    void SetUp() override
    {
        BundlePlan recipe;
        recipe.name = u"Echos.component"_s;
        recipe.shortVersion = u"2.1.0"_s;
        recipe.withComponent(u"aufx"_s, u"Echo"_s, u"Tarn"_s);
        m_plist = BundleFactory::create(m_dir.path(), recipe) + u"/Contents/Info.plist"_s;
    }
    Result print(const QString& entry, const QString& file)
    {
        return run(Hub::Test::buildTreeTools().plistBuddy, {u"-c"_s, u"Print "_s + entry, file});
    }

    QTemporaryDir m_dir;
    QString m_plist;
};

TEST_F(PlistBuddy, PrintsAValueWithStatusZero)
{
    EXPECT_EQ(print(u":CFBundleShortVersionString"_s, m_plist), (Result{0, u"2.1.0\n"_s}));
    EXPECT_EQ(print(u":AudioComponents:0:subtype"_s, m_plist), (Result{0, u"Echo\n"_s}));
    EXPECT_EQ(print(u":AudioComponents:0:version"_s, m_plist), (Result{0, u"65536\n"_s}));
}

TEST_F(PlistBuddy, AMissingEntryOrFileIsStatusOneWithNothingOnStandardOutput)
{
    // The placement script discards standard error, so the value it reads is
    // empty; here both share one pipe and the message is all there is.
    const Result missingKey = print(u":CFBundleVersion"_s, m_plist);
    EXPECT_EQ(missingKey.status, 1);
    EXPECT_EQ(missingKey.output, u"Print: Entry, \":CFBundleVersion\", Does Not Exist\n"_s);
    EXPECT_EQ(print(u":AudioComponents:5:type"_s, m_plist).status, 1);
    EXPECT_EQ(print(u":CFBundleShortVersionString"_s, m_dir.filePath(u"none.plist"_s)).status, 1);

    QFile garbage(m_dir.filePath(u"garbage.plist"_s));
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write("<plist><dict><key>CFBundleShortVersionString</key>");
    garbage.close();
    const Result broken = print(u":CFBundleShortVersionString"_s, garbage.fileName());
    EXPECT_EQ(broken.status, 1);
    EXPECT_FALSE(broken.output.contains(u"2.1.0"_s));
}

TEST_F(PlistBuddy, OnlyPrintIsKnown)
{
    EXPECT_EQ(run(Hub::Test::buildTreeTools().plistBuddy, {u"-c"_s, u"Set :CFBundleShortVersionString 9"_s, m_plist}).status,
              1);
    EXPECT_EQ(print(u":CFBundleShortVersionString"_s, m_plist).output, u"2.1.0\n"_s);
}

// --- chmod -N: access-control lists are removed ----------------------------------------

// A POSIX access ACL granting user 65534 write access, in the kernel's
// extended-attribute layout (version 2, then tag/permissions/id entries).
QByteArray aclGrantingNobody()
{
    struct Entry {
        std::uint16_t tag;
        std::uint16_t perm;
        std::uint32_t id;
    };
    const Entry entries[] = {{0x01, 6, 0xFFFFFFFF}, {0x02, 6, 65534}, {0x04, 4, 0xFFFFFFFF},
                             {0x10, 6, 0xFFFFFFFF}, {0x20, 4, 0xFFFFFFFF}};
    const std::uint32_t version = 2;
    QByteArray blob(reinterpret_cast<const char*>(&version), sizeof version);
    blob.append(reinterpret_cast<const char*>(entries), sizeof entries);
    return blob;
}

bool hasAcl(const QString& path, const char* name = "system.posix_acl_access")
{
    char buffer[256];
    return ::lgetxattr(QFile::encodeName(path).constData(), name, buffer, sizeof buffer) > 0;
}

TEST(ChmodApplet, MinusNRemovesEveryAclRecursively)
{
    QTemporaryDir dir;
    const QString bundle = dir.filePath(u"Echos.vst3"_s);
    const QString file = bundle + u"/Contents/MacOS/Echos"_s;
    BundlePlan recipe;
    recipe.name = u"Echos.vst3"_s;
    BundleFactory::create(dir.path(), recipe);
    const QByteArray acl = aclGrantingNobody();
    if (::lsetxattr(QFile::encodeName(file).constData(), "system.posix_acl_access", acl.constData(), size_t(acl.size()), 0)
        != 0)
        GTEST_SKIP() << "the temporary folder's file system has no POSIX ACLs";
    ASSERT_EQ(::lsetxattr(QFile::encodeName(bundle).constData(), "system.posix_acl_default", acl.constData(),
                          size_t(acl.size()), 0),
              0);
    ASSERT_TRUE(hasAcl(file));

    const Result result = run(Hub::Test::buildTreeTools().chmod, {u"-R"_s, u"-N"_s, bundle});
    EXPECT_EQ(result, (Result{0, u""_s}));
    EXPECT_FALSE(hasAcl(file));
    EXPECT_FALSE(hasAcl(bundle, "system.posix_acl_default"));
    // A second run finds nothing to remove and still succeeds.
    EXPECT_EQ(run(Hub::Test::buildTreeTools().chmod, {u"-R"_s, u"-N"_s, bundle}).status, 0);
    EXPECT_NE(run(Hub::Test::buildTreeTools().chmod, {u"-N"_s, dir.filePath(u"missing"_s)}).status, 0);
}

TEST(ChmodApplet, OtherModesAreTheSystemsChmod)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(u"f"_s);
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    ::chmod(QFile::encodeName(file).constData(), 06777);
    ASSERT_EQ(run(Hub::Test::buildTreeTools().chmod, {u"-R"_s, u"go-w"_s, dir.path()}).status, 0);
    ASSERT_EQ(run(Hub::Test::buildTreeTools().chmod, {u"-R"_s, u"ug-s"_s, dir.path()}).status, 0);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
}

// --- killall: only the registrar, and only as a no-op ---------------------------------

TEST(KillallApplet, TheRegistrarRestartSucceedsAndNothingElseIsSignalled)
{
    const QString killall = Hub::Test::buildTreeTools().killall;
    EXPECT_EQ(run(killall, {u"-9"_s, u"AudioComponentRegistrar"_s}), (Result{0, u""_s}));
    const Result other = run(killall, {u"-9"_s, u"sh"_s});
    EXPECT_NE(other.status, 0);
    EXPECT_FALSE(other.output.isEmpty());
}

// --- auval ----------------------------------------------------------------------------

TEST(AuvalApplet, AnswersFromTheComponentsFoldersWithTheValidatorsTexts)
{
    QTemporaryDir dir;
    BundlePlan recipe;
    recipe.name = u"Echos.component"_s;
    recipe.withComponent(u"aumf"_s, u"Ech2"_s, u"Tarn"_s, u"Other: Second"_s)
        .withComponent(u"aufx"_s, u"Echo"_s, u"Tarn"_s, u"Tarnaudio: Echos"_s);
    // Found in the second folder, the first one missing.
    const QString bundle = BundleFactory::create(dir.filePath(u"all-users"_s), recipe);
    const QString auval = Hub::Test::buildTreeTools().auval;
    const QStringList roots{u"--folder"_s, dir.filePath(u"user"_s), u"--folder"_s, dir.filePath(u"all-users"_s)};

    // Codes as eight hexadecimal digits (what the registry passes) or as text;
    // any entry of the list counts.
    Result found = run(auval, roots + QStringList{u"-v"_s, u"61756678"_s, u"4563686F"_s, u"5461726E"_s});
    EXPECT_EQ(found.status, 0);
    EXPECT_TRUE(found.output.contains(u"Manufacturer String: Tarnaudio\n"_s)) << found.output.toStdString();
    EXPECT_TRUE(found.output.contains(u"AudioUnit Name: Echos\n"_s));
    EXPECT_TRUE(found.output.contains(bundle));
    EXPECT_EQ(run(auval, roots + QStringList{u"-v"_s, u"aumf"_s, u"Ech2"_s, u"Tarn"_s}).status, 0);

    const Result missing = run(auval, roots + QStringList{u"-v"_s, u"aufx"_s, u"Echo"_s, u"Othr"_s});
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(missing.output.contains(u"didn't find the component"_s));
    EXPECT_FALSE(missing.output.contains(u"AudioUnit Name:"_s));

    EXPECT_EQ(run(auval, roots + QStringList{u"-v"_s, u"aufx"_s, u"Echo"_s}).status, 2);
    EXPECT_EQ(run(auval, roots + QStringList{u"-v"_s, u"aufx"_s, u"Echo"_s, u"ZZZZZZZZ"_s}).status, 2);
}

// --- The multi-call executable ---------------------------------------------------------

TEST(Hubtools, AppletsAnswerByLinkNameOrAsTheFirstArgument)
{
    const QString hubtools = Hub::Test::toolsFolder() + u"/../hubtools"_s;
    EXPECT_EQ(run(hubtools, {u"killall"_s, u"-9"_s, u"AudioComponentRegistrar"_s}).status, 0);
    EXPECT_EQ(run(hubtools, {u"frobnicate"_s}).status, 2);
    EXPECT_EQ(run(hubtools, {}).status, 2);
    const Hub::ToolPaths tools = Hub::Test::buildTreeTools();
    for (const QString& tool : {tools.ditto, tools.codesign, tools.auval, tools.plistBuddy, tools.chmod, tools.killall})
        EXPECT_TRUE(QFileInfo(tool).isExecutable()) << tool.toStdString();
}

} // namespace

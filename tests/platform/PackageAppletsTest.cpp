#include "PackageBuilder.h"
#include "TestFiles.h"
#include "ToolsPaths.h"

#include "Installer/Shell.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
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

    const QString plain = path(u"plain.pkg"_s);
    recipe.installLocation = u"/usr/local/share"_s;
    Hub::Test::PackageBuilder::build(plain, {source.filePath(u"tool.txt"_s)}, recipe, pki());
    const Shell::Result installed = run(u"installer"_s, {u"-pkg"_s, plain, u"-target"_s, root});
    EXPECT_EQ(installed.status, 0) << installed.output.toStdString();
    EXPECT_TRUE(installed.output.contains(u"installer: The install was successful."_s));
    EXPECT_TRUE(QFile::exists(root + u"/usr/local/share/tool.txt"_s));
    EXPECT_EQ(entriesOf(root + u"/usr/local/share"_s), QStringList({u"tool.txt"_s}));
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

#include "PlacementTestSupport.h"

#include "AsOtherUser.h"
#include "BundleFactory.h"
#include "BundleSigner.h"
#include "QStringPrinter.h"
#include "TestPKI.h"
#include "ToolsPaths.h"

#include "Base/HubError.h"
#include "Catalog/CatalogRecords.h"
#include "Installer/InstallErrors.h"
#include "Installer/InstallLocations.h"
#include "Installer/PluginInstaller.h"
#include "Platform/FileMoves.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace Hub;
using Hub::Test::BundlePlan;
using Hub::Test::chownTree;
using Hub::Test::kNobody;
using Hub::Test::treeListing;

namespace {

constexpr char kSubjectVariable[] = "HUB_PLACEMENT_SUBJECT";

// ---- The subject side: this executable run again as another user ----------

QString outcome(const std::function<void()>& run)
{
    try {
        run();
        return u"ok\n"_s;
    } catch (const InstallRecoveryError& error) {
        return u"recovery\n"_s + error.message;
    } catch (const HubError& error) {
        return u"hub\n"_s + error.errorDescription();
    } catch (const FileError&) {
        return u"file\n"_s + errorSentence(std::current_exception());
    } catch (const std::exception& error) {
        return u"other\n"_s + QString::fromUtf8(error.what());
    }
}

int runSubject(const QString& jobPath)
{
    const QMap<QString, QString> job = Hub::Test::readJob(jobPath);
    PluginInstaller installer(nullptr, false, 5.0);
    installer.tools = Hub::Test::reachableTools();
    installer.anchors = TrustAnchors::fromPem(Hub::Test::readAll(job[u"anchors"_s]));
    QString result;

    if (job[u"subject"_s] == u"place"_s) {
        const InstallRoots roots{job[u"home"_s], job[u"system"_s], job[u"applications"_s], job[u"support"_s]};
        Product product;
        product.id = job[u"product"_s];
        QList<StagedBundle> bundles;
        for (int i = 0; job.contains(u"bundle."_s + QString::number(i)); ++i) {
            const QString n = QString::number(i);
            Artifact artifact;
            artifact.format = *pluginFormatFromRaw(job[u"format."_s + n]);
            artifact.bundle = job[u"bundle."_s + n];
            artifact.bundleID = job[u"bundleID."_s + n];
            bundles.append({artifact, job[u"staged."_s + n]});
        }
        result = outcome([&] { installer.installForUser(bundles, product, roots, job[u"spares"_s]); });
    } else if (job[u"subject"_s] == u"restore"_s) {
        bool keep = false;
        result = outcome([&] {
            PluginInstaller::restoreBackups(std::make_exception_ptr(HubError::message(job[u"first"_s])),
                                            job[u"backups"_s], job[u"work"_s], true, keep);
        });
        result = (keep ? u"keep\n"_s : u"discard\n"_s) + result;
    } else {
        return 2;
    }
    try {
        Hub::Test::writeAll(job[u"result"_s], result.toUtf8());
    } catch (...) {
        return 3;
    }
    return 0;
}

[[maybe_unused]] ::testing::Environment* const kSubject = Hub::Test::addSubjectEnvironment(kSubjectVariable, runSubject);

// ---- The tests --------------------------------------------------------------

const Hub::Test::TestPKI& pki()
{
    static const Hub::Test::TestPKI instance;
    return instance;
}

// Tests whose subject must meet the permission checks an ordinary user
// meets; they run it as user 65534 through setpriv.
class AsAnotherUser : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        base = m_dir.path();
        ASSERT_EQ(::chmod(QFile::encodeName(base).constData(), 0755), 0);
        roots = {base + u"/home"_s, base + u"/system"_s, base + u"/Applications"_s, base + u"/support"_s};
        work = PluginInstaller::stagingRoot(roots) + u"/W"_s;
        QDir().mkpath(work);
        QDir().mkpath(roots.applications);
        Hub::Test::writeAll(base + u"/anchors.pem"_s, pki().anchorPem());
    }

    // The subject's outcome: its kind on the first line, then its sentence.
    QStringList run(QMap<QString, QString> job)
    {
        job[u"anchors"_s] = base + u"/anchors.pem"_s;
        const QString out = base + u"/out"_s;
        QDir().mkpath(out);
        chownTree(out, kNobody);
        job[u"result"_s] = out + u"/result.txt"_s;
        Hub::Test::writeJob(base + u"/job.txt"_s, job);
        const int status = Hub::Test::runSelfAsNobody(kSubjectVariable, base + u"/job.txt"_s);
        EXPECT_EQ(status, 0);
        return QString::fromUtf8(Hub::Test::readAll(out + u"/result.txt"_s)).split(u'\n');
    }

    // The placement of Echo's staged bundles, each given by its format.
    QMap<QString, QString> placeJob(const QList<std::pair<PluginFormat, QString>>& staged) const
    {
        QMap<QString, QString> job{
            {u"subject"_s, u"place"_s},
            {u"home"_s, roots.userHome},
            {u"system"_s, roots.system},
            {u"applications"_s, roots.applications},
            {u"support"_s, roots.support},
            {u"product"_s, u"echo"_s},
            {u"spares"_s, work + u"/spares.txt"_s},
        };
        for (qsizetype i = 0; i < staged.size(); ++i) {
            const QString n = QString::number(i);
            const auto& [format, path] = staged[i];
            job[u"bundle."_s + n] = u"Echo."_s + bundleExtension(format);
            job[u"format."_s + n] = rawValue(format);
            job[u"bundleID."_s + n] = u"com.tarnaudio.echo."_s + rawValue(format);
            job[u"staged."_s + n] = path;
        }
        return job;
    }

    QString makeBundle(const QString& folder, PluginFormat format, const QString& version,
                       const Hub::Test::SigningIdentity& signer)
    {
        BundlePlan recipe;
        recipe.name = u"Echo."_s + bundleExtension(format);
        recipe.bundleID = u"com.tarnaudio.echo."_s + rawValue(format);
        recipe.shortVersion = version;
        const QString path = Hub::Test::BundleFactory::create(folder, recipe);
        Hub::Test::signBundle(path, signer);
        return path;
    }

    QTemporaryDir m_dir;
    QString base;
    InstallRoots roots;
    QString work;
};

TEST_F(AsAnotherUser, RefusedSwapPutsEverythingBack)
{
    // The Components folder is the user's own; the VST3 folder is shared
    // (sticky, world-writable) and its installed bundle belongs to root, so
    // the user may park a spare beside it but not exchange the two.
    const QString vst3Folder = InstallLocations::folder(roots, PluginFormat::vst3, InstallScope::user);
    const QString auFolder = InstallLocations::folder(roots, PluginFormat::au, InstallScope::user);
    makeBundle(vst3Folder, PluginFormat::vst3, u"1.0.0"_s, pki().maker());
    ASSERT_EQ(::chmod(QFile::encodeName(vst3Folder).constData(), 01777), 0);
    makeBundle(auFolder, PluginFormat::au, u"1.0.0"_s, pki().maker());
    chownTree(auFolder, kNobody);
    const QString stagedAU = makeBundle(work + u"/au"_s, PluginFormat::au, u"2.0.0"_s, pki().maker());
    const QString stagedVST3 = makeBundle(work + u"/vst3"_s, PluginFormat::vst3, u"2.0.0"_s, pki().maker());
    chownTree(roots.support, kNobody);

    const QStringList home = treeListing(roots.userHome);
    const QStringList stagedVST3Tree = treeListing(stagedVST3);

    const QStringList result = run(placeJob({{PluginFormat::au, stagedAU}, {PluginFormat::vst3, stagedVST3}}));

    EXPECT_EQ(result, (QStringList{u"hub"_s, u"Couldn't replace Echo.vst3 (Operation not permitted)."_s}));
    EXPECT_EQ(treeListing(roots.userHome), home);
    EXPECT_EQ(treeListing(stagedVST3), stagedVST3Tree); // moved back to where it was staged
    EXPECT_TRUE(Hub::Test::spareNames(vst3Folder).isEmpty());
    EXPECT_TRUE(Hub::Test::spareNames(auFolder).isEmpty());
}

TEST_F(AsAnotherUser, APlugInFolderThatRefusesTheMoveIsTheOneNamed)
{
    // The VST3 folder belongs to root; the staged bundle is the user's.
    const QString vst3Folder = InstallLocations::folder(roots, PluginFormat::vst3, InstallScope::user);
    QDir().mkpath(vst3Folder);
    const QString staged = makeBundle(work + u"/vst3"_s, PluginFormat::vst3, u"2.0.0"_s, pki().maker());
    chownTree(roots.support, kNobody);
    const QStringList stagedTree = treeListing(staged);
    const QStringList folderTree = treeListing(vst3Folder);

    const QStringList result = run(placeJob({{PluginFormat::vst3, staged}}));

    EXPECT_EQ(result, (QStringList{u"file"_s, u"Couldn't change "_s + vst3Folder + u" (Permission denied)."_s}));
    EXPECT_EQ(treeListing(staged), stagedTree);
    EXPECT_EQ(treeListing(vst3Folder), folderTree);
}

TEST_F(AsAnotherUser, ABackupRefusedBeforeAnythingChangedKeepsNothing)
{
    // The backups folder belongs to root, so the user's backup of the
    // installed bundle is refused and the folder stays as it was.
    const QString backups = PluginInstaller::backupsFolder(roots, u"echo"_s);
    Hub::Test::writeAll(backups + u"/1.0.0-vst3.zip"_s, "the archive from before");
    ASSERT_TRUE(PluginInstaller::snapshotBackups(backups, work));
    chownTree(work, kNobody);
    const QStringList backupsTree = treeListing(backups);

    const QString first = u"Couldn't back up the installed Echo.vst3, so nothing was changed."_s;
    const QStringList result = run({{u"subject"_s, u"restore"_s},
                                    {u"backups"_s, backups},
                                    {u"work"_s, work},
                                    {u"first"_s, first}});

    EXPECT_EQ(result, (QStringList{u"discard"_s, u"hub"_s, first}));
    EXPECT_EQ(treeListing(backups), backupsTree);
}

TEST_F(AsAnotherUser, FailedPutBackOfBackupsKeepsBothSentences)
{
    const QString backups = PluginInstaller::backupsFolder(roots, u"echo"_s);
    Hub::Test::writeAll(backups + u"/1.0.0-vst3.zip"_s, "the archive from before");
    ASSERT_TRUE(PluginInstaller::snapshotBackups(backups, work));
    const QString snapshot = work + u"/previous-backups"_s;

    // What the failed install left: a new archive, and an entry the user
    // cannot remove.
    QFile::remove(backups + u"/1.0.0-vst3.zip"_s);
    Hub::Test::writeAll(backups + u"/2.0.0-vst3.zip"_s, "made during the install");
    chownTree(roots.support, kNobody);
    const QStringList snapshotTree = treeListing(snapshot);
    Hub::Test::writeAll(backups + u"/locked/file"_s, "root's");

    const QString first = u"Echo.vst3 isn't signed by Tarnaudio, so the hub won't install it."_s;
    const QStringList result = run({{u"subject"_s, u"restore"_s},
                                    {u"backups"_s, backups},
                                    {u"work"_s, work},
                                    {u"first"_s, first}});

    EXPECT_EQ(result, (QStringList{u"keep"_s, u"recovery"_s,
                                   first + u" Previous backups are preserved at "_s + snapshot
                                       + u"; automatic recovery could not finish."_s}));
    // The snapshot is intact where the sentence says.
    EXPECT_EQ(treeListing(snapshot), snapshotTree);
    EXPECT_EQ(Hub::Test::readAll(snapshot + u"/1.0.0-vst3.zip"_s), "the archive from before");
}

} // namespace

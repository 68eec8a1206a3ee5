#include "PlacementTestSupport.h"

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
#include <QFile>
#include <QTemporaryDir>
#include <QUuid>

#include <atomic>
#include <chrono>
#include <thread>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using namespace Hub;
using Hub::Test::BundlePlan;
using Hub::Test::treeListing;

namespace {

const Hub::Test::TestPKI& pki()
{
    static const Hub::Test::TestPKI instance;
    return instance;
}

// A temporary machine: home, support folder and Applications folder, an
// installer that trusts the test PKI and runs the build tree's applets.
class Placement : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        base = m_dir.path();
        QDir().mkpath(base + u"/home"_s);
        QDir().mkpath(base + u"/Applications"_s);
        roots = InstallLocations::rootsFor(base + u"/home"_s, base + u"/system"_s, base + u"/Applications"_s,
                                           base + u"/support"_s);
        work = PluginInstaller::stagingRoot(roots) + u"/W"_s;
        QDir().mkpath(work);
        spares = work + u"/spares.txt"_s;
        product.id = u"echo"_s;
        product.name = u"Echo"_s;
        installer.anchors = pki().anchors();
        installer.tools = Hub::Test::buildTreeTools();
        installer.trash = PrivilegedRunner::moveInto(base + u"/Trash"_s);
    }

    static Artifact artifact(PluginFormat format, const QString& bundle = {})
    {
        Artifact a;
        a.format = format;
        a.bundle = bundle.isEmpty() ? u"Echo."_s + bundleExtension(format) : bundle;
        a.bundleID = u"com.tarnaudio.echo."_s + rawValue(format);
        return a;
    }

    QString target(const Artifact& a) const
    {
        return QDir(InstallLocations::folder(roots, a.format, InstallScope::user)).filePath(a.bundle);
    }

    // A signed bundle of the artifact at `folder`.
    QString makeBundle(const QString& folder, const Artifact& a, const QString& version,
                       const Hub::Test::SigningIdentity& signer, const QByteArray& payload = "payload")
    {
        BundlePlan recipe;
        recipe.name = a.bundle;
        recipe.bundleID = *a.bundleID;
        recipe.shortVersion = version;
        recipe.withFile(u"Contents/Resources/data.bin"_s, payload + version.toUtf8());
        const QString path = Hub::Test::BundleFactory::create(folder, recipe);
        Hub::Test::signBundle(path, signer);
        return path;
    }

    QString installOld(const Artifact& a, const QString& version = u"1.0.0"_s)
    {
        return makeBundle(InstallLocations::folder(roots, a.format, InstallScope::user), a, version, pki().maker());
    }

    StagedBundle stage(const Artifact& a, const Hub::Test::SigningIdentity& signer, const QString& version = u"2.0.0"_s)
    {
        return {a, makeBundle(work + u'/' + rawValue(a.format), a, version, signer)};
    }

    QString backups() const { return PluginInstaller::backupsFolder(roots, product.id); }

    // The verification's own sentence for a staged bundle, as a placed copy
    // of the same bundle would produce it.
    QString verificationSentence(const StagedBundle& staged) const
    {
        try {
            CodeSignature::verify(staged.bundle, staged.artifact.bundleID, false, pki().anchors());
        } catch (const HubError& error) {
            return error.errorDescription();
        }
        return {};
    }

    QStringList spareLines() const { return QString::fromUtf8(Hub::Test::readAll(spares)).split(u'\n', Qt::SkipEmptyParts); }

    QTemporaryDir m_dir;
    QString base;
    InstallRoots roots;
    QString work;
    QString spares;
    Product product;
    PluginInstaller installer{nullptr, false, 5.0};
};

// Stats every target in a loop while a placement runs, counting the
// moments at which a target path was empty.
class TargetWatcher {
public:
    explicit TargetWatcher(QStringList targets)
        : m_targets(std::move(targets))
        , m_thread([this] { watch(); })
    {
    }
    ~TargetWatcher() { stop(); }

    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    int empties() const { return m_empties; }
    int samples() const { return m_samples; }

private:
    void watch()
    {
        QList<QByteArray> paths;
        for (const QString& target : std::as_const(m_targets))
            paths.append(QFile::encodeName(target));
        do {
            for (const QByteArray& path : std::as_const(paths)) {
                struct stat st {};
                if (::lstat(path.constData(), &st) != 0)
                    ++m_empties;
            }
            ++m_samples;
        } while (!m_stop);
    }

    QStringList m_targets;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_empties{0};
    std::atomic<int> m_samples{0};
    std::thread m_thread;
};

template <typename Error>
QString failureOf(const std::function<void()>& run)
{
    try {
        run();
    } catch (const Error& error) {
        if constexpr (std::is_same_v<Error, HubError>)
            return error.errorDescription();
        else if constexpr (std::is_same_v<Error, InstallRecoveryError>)
            return error.message;
        else
            return QString::fromUtf8(error.what());
    }
    return u"<no error>"_s;
}

// ---- A complete placement -------------------------------------------------

TEST_F(Placement, ReplacesEveryBundleAndKeepsOldCopiesUntilAllAreVerified)
{
    const Artifact vst3 = artifact(PluginFormat::vst3), au = artifact(PluginFormat::au), app = artifact(PluginFormat::app);
    const QString oldVST3 = installOld(vst3);
    installOld(au);
    installOld(app);
    const QStringList oldVST3Tree = treeListing(oldVST3);
    const QList<StagedBundle> staged{stage(vst3, pki().maker()), stage(au, pki().maker()), stage(app, pki().maker())};
    const QStringList newAppTree = treeListing(staged[2].bundle);

    // The backup of the last bundle runs once the first two are swapped: a
    // ditto that copies the VST3 folder aside shows what lay there then.
    const QString seen = base + u"/seen"_s;
    const QString shim = base + u"/ditto"_s;
    Hub::Test::writeAll(shim, "#!/bin/sh\ncase \"$4\" in *Echo.app) cp -a '"
                             + QFile::encodeName(InstallLocations::folder(roots, PluginFormat::vst3, InstallScope::user))
                             + "' '" + QFile::encodeName(seen) + "' ;; esac\nexec '"
                             + QFile::encodeName(Hub::Test::buildTreeTools().ditto) + "' \"$@\"\n");
    ::chmod(QFile::encodeName(shim).constData(), 0755);
    installer.tools.ditto = shim;

    TargetWatcher watcher({target(vst3), target(au), target(app)});
    const QList<InstalledFormat> results = installer.installForUser(staged, product, roots, spares);
    watcher.stop();

    EXPECT_EQ(watcher.empties(), 0);
    EXPECT_GT(watcher.samples(), 0);
    ASSERT_EQ(results.size(), 3);
    EXPECT_EQ(results[0], (InstalledFormat{PluginFormat::vst3, target(vst3), u"2.0.0"_s}));
    EXPECT_EQ(results[1], (InstalledFormat{PluginFormat::au, target(au), u"2.0.0"_s}));
    EXPECT_EQ(results[2], (InstalledFormat{PluginFormat::app, target(app), u"2.0.0"_s}));
    EXPECT_EQ(PluginInstaller::bundleVersion(target(vst3)), u"2.0.0"_s);
    EXPECT_EQ(treeListing(target(app)), newAppTree);

    // While the third bundle was being placed, the old VST3 lay complete
    // under its spare name; once all were verified every spare is gone.
    const QStringList spareThen = Hub::Test::spareNames(seen);
    ASSERT_EQ(spareThen.size(), 1);
    EXPECT_EQ(treeListing(seen + u'/' + spareThen[0]), oldVST3Tree);
    for (const Artifact& a : {vst3, au, app})
        EXPECT_TRUE(Hub::Test::spareNames(QFileInfo(target(a)).path()).isEmpty());

    EXPECT_EQ(QDir(backups()).entryList(QDir::Files | QDir::Hidden, QDir::Name),
              (QStringList{u"1.0.0-app.zip"_s, u"1.0.0-au.zip"_s, u"1.0.0-vst3.zip"_s}));

    // Each spare was listed before it was used, under its own UUID name.
    const QStringList lines = spareLines();
    ASSERT_EQ(lines.size(), 3);
    for (int i = 0; i < 3; ++i) {
        const QString prefix = target(staged[i].artifact) + u".hub-new-"_s;
        ASSERT_TRUE(lines[i].startsWith(prefix)) << lines[i].toStdString();
        const QString uuid = lines[i].mid(prefix.size());
        EXPECT_EQ(uuid, uuid.toUpper());
        EXPECT_FALSE(QUuid::fromString(uuid).isNull());
    }
}

TEST_F(Placement, EmptyListTouchesNothing)
{
    const QStringList before = treeListing(base);
    EXPECT_TRUE(installer.installForUser({}, product, roots, spares).isEmpty());
    EXPECT_EQ(treeListing(base), before);
}

TEST_F(Placement, FreshInstallMakesNoBackupAndLeavesNoSpare)
{
    const Artifact au = artifact(PluginFormat::au);
    const QList<InstalledFormat> results =
        installer.installForUser({stage(au, pki().maker(), u"3.1"_s)}, product, roots, spares);
    EXPECT_EQ(results, (QList<InstalledFormat>{{PluginFormat::au, target(au), u"3.1"_s}}));
    EXPECT_FALSE(QFileInfo::exists(backups()));
    EXPECT_TRUE(Hub::Test::spareNames(QFileInfo(target(au)).path()).isEmpty());
}

TEST_F(Placement, SameBundleNameTwiceGetsTwoSpareNames)
{
    const Artifact vst3 = artifact(PluginFormat::vst3);
    installOld(vst3);
    const StagedBundle first = stage(vst3, pki().maker(), u"2.0.0"_s);
    QDir().rename(first.bundle, work + u"/first.vst3"_s);
    const StagedBundle second = stage(vst3, pki().maker(), u"2.0.1"_s);
    installer.installForUser({{vst3, work + u"/first.vst3"_s}, second}, product, roots, spares);

    const QStringList lines = spareLines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_NE(lines[0], lines[1]);
    EXPECT_EQ(PluginInstaller::bundleVersion(target(vst3)), u"2.0.1"_s);
    EXPECT_TRUE(Hub::Test::spareNames(QFileInfo(target(vst3)).path()).isEmpty());
}

// ---- Nothing lost when a bundle fails ---------------------------------------

// Three installed bundles and three staged ones; the middle one fails in
// the way each test arranges.
class PlacementFailure : public Placement {
protected:
    void SetUp() override
    {
        Placement::SetUp();
        vst3 = artifact(PluginFormat::vst3);
        au = artifact(PluginFormat::au);
        app = artifact(PluginFormat::app);
        for (const Artifact& a : {vst3, au, app})
            installOld(a);
    }

    void stageAll(const Hub::Test::SigningIdentity& middleSigner)
    {
        staged = {stage(vst3, pki().maker()), stage(au, middleSigner), stage(app, pki().maker())};
    }

    // Runs the placement with a watcher on the installed targets and checks
    // that the installed bundles are exactly as before, the third staged
    // bundle untouched, and no spare left. Returns the error's sentence.
    template <typename Error = HubError>
    QString placeExpectingNothingChanged()
    {
        const QStringList home = treeListing(roots.userHome);
        const QStringList apps = treeListing(roots.applications);
        const QStringList third = treeListing(staged[2].bundle);
        QStringList installed;
        for (const Artifact& a : {vst3, au, app})
            if (FileMoves::existsNoFollow(target(a)))
                installed.append(target(a));
        TargetWatcher watcher(installed);
        const QString sentence =
            failureOf<Error>([&] { installer.installForUser(staged, product, roots, spares); });
        watcher.stop();
        EXPECT_EQ(watcher.empties(), 0);
        EXPECT_EQ(treeListing(roots.userHome), home);
        EXPECT_EQ(treeListing(roots.applications), apps);
        EXPECT_EQ(treeListing(staged[2].bundle), third);
        return sentence;
    }

    Artifact vst3, au, app;
    QList<StagedBundle> staged;
};

TEST_F(PlacementFailure, SecondBundleFailingItsSignatureRollsBackTheFirst)
{
    stageAll(pki().otherTeam());
    const QString expected = verificationSentence(staged[1]);
    ASSERT_EQ(expected, u"Echo.component isn't signed by Tarnaudio, so the hub won't install it."_s);
    EXPECT_EQ(placeExpectingNothingChanged(), expected);
    // The rejected bundle and the first new one are gone, not parked.
    EXPECT_FALSE(QFileInfo::exists(staged[0].bundle));
    EXPECT_FALSE(QFileInfo::exists(staged[1].bundle));
}

TEST_F(PlacementFailure, BackupFailureStopsBeforeTheBundleIsTouched)
{
    stageAll(pki().maker());
    // A folder where the archive's partial file must go: ditto cannot write it.
    QDir().mkpath(backups() + u"/.1.0.0-au.zip.partial/blocker"_s);
    EXPECT_EQ(placeExpectingNothingChanged(),
              u"Couldn't back up the installed Echo.component, so nothing was changed."_s);
    EXPECT_TRUE(QFileInfo(staged[1].bundle).isDir()); // never moved
    EXPECT_EQ(spareLines().size(), 1);                // only the first was recorded
}

TEST_F(PlacementFailure, BackupsFolderThatCannotBeMadeStopsEverything)
{
    stageAll(pki().maker());
    Hub::Test::writeAll(base + u"/support/Backups"_s, "a file, not a folder");
    const QStringList home = treeListing(roots.userHome);
    EXPECT_THROW(installer.installForUser(staged, product, roots, spares), FileError);
    EXPECT_EQ(treeListing(roots.userHome), home);
    EXPECT_TRUE(QFileInfo(staged[0].bundle).isDir());
    EXPECT_FALSE(QFileInfo::exists(spares));
}

TEST_F(PlacementFailure, TargetFolderThatIsAFileRollsBackTheFirst)
{
    stageAll(pki().maker());
    const QString components = InstallLocations::folder(roots, PluginFormat::au, InstallScope::user);
    QDir(components).removeRecursively();
    Hub::Test::writeAll(components, "not a folder");
    const QString sentence = placeExpectingNothingChanged<FileError>();
    EXPECT_TRUE(sentence.contains(components)) << sentence.toStdString();
    EXPECT_TRUE(QFileInfo(staged[1].bundle).isDir()); // never moved
}

TEST_F(PlacementFailure, SpareNameTooLongLeavesTheStagedBundleWhereItWas)
{
    // The target's name is legal; with the spare suffix it is not, so the
    // staged bundle cannot be parked.
    au = artifact(PluginFormat::au, QString(220, u'E') + u".component"_s);
    installOld(au);
    stageAll(pki().maker());
    const QStringList stagedAU = treeListing(staged[1].bundle);
    const QString sentence = placeExpectingNothingChanged<FileError>();
    EXPECT_NE(sentence, u"<no error>"_s);
    EXPECT_EQ(treeListing(staged[1].bundle), stagedAU);
}

TEST_F(PlacementFailure, UnwritableSparesListStopsBeforeAnythingMoves)
{
    stageAll(pki().maker());
    QDir().mkpath(spares); // a folder where the list should be
    const QString sentence = placeExpectingNothingChanged<FileError>();
    EXPECT_NE(sentence, u"<no error>"_s);
    EXPECT_TRUE(QFileInfo(staged[0].bundle).isDir());
}

TEST_F(PlacementFailure, FailedRollbackKeepsTheFirstSentenceAndNamesTheSpare)
{
    // The VST3 is a fresh install; the AU fails its signature. During the
    // AU's backup a stand-in ditto puts a file where the VST3's spare name
    // is, so taking the new VST3 back out cannot finish.
    std::filesystem::remove_all(Hub::Test::nativePath(target(vst3)));
    stageAll(pki().otherTeam());
    const QString shim = base + u"/ditto"_s;
    Hub::Test::writeAll(shim, "#!/bin/sh\ncase \"$4\" in *Echo.component) : > \"$(head -n 1 '" + QFile::encodeName(spares)
                             + "')\" ;; esac\nexec '" + QFile::encodeName(Hub::Test::buildTreeTools().ditto) + "' \"$@\"\n");
    ::chmod(QFile::encodeName(shim).constData(), 0755);
    installer.tools.ditto = shim;
    const QStringList oldAU = treeListing(target(au));
    const QString expectedFirst = verificationSentence(staged[1]);

    const QString sentence =
        failureOf<InstallRecoveryError>([&] { installer.installForUser(staged, product, roots, spares); });

    const QString firstSpare = spareLines().value(0);
    EXPECT_EQ(sentence, expectedFirst + u" Previous bundles remain at "_s + firstSpare
                            + u"; recovery could not finish."_s);
    EXPECT_EQ(treeListing(target(au)), oldAU);
    EXPECT_EQ(PluginInstaller::bundleVersion(target(vst3)), u"2.0.0"_s); // left where it was, as said
    EXPECT_TRUE(QFileInfo(firstSpare).isFile());
}

// ---- Rolling back by hand ---------------------------------------------------

TEST_F(Placement, RollbackReportsWhatItCannotPutRightAndGoesOn)
{
    const Artifact vst3 = artifact(PluginFormat::vst3), au = artifact(PluginFormat::au);
    const QString oldVST3 = installOld(vst3);
    const QStringList oldTree = treeListing(oldVST3);
    const PluginInstaller::UserReplacement good =
        installer.prepareReplacement(stage(vst3, pki().maker()).bundle, vst3,
                                     InstallLocations::folder(roots, PluginFormat::vst3, InstallScope::user), spares);
    // A replacement whose old copy has vanished from its spare cannot be undone.
    PluginInstaller::UserReplacement broken;
    broken.artifact = au;
    broken.target = installOld(au, u"9.9"_s);
    broken.spare = broken.target + u".hub-new-00000000-0000-0000-0000-000000000000"_s;
    broken.existed = true;
    const QStringList brokenTree = treeListing(broken.target);

    EXPECT_EQ(installer.rollbackUsers({good, broken}), QStringList{broken.spare});
    EXPECT_EQ(treeListing(target(vst3)), oldTree);
    EXPECT_FALSE(QFileInfo::exists(good.spare));
    EXPECT_EQ(treeListing(broken.target), brokenTree);
}

TEST_F(Placement, SwapSentenceNamesTheBundleAndTheReason)
{
    const QString missing = base + u"/nothing"_s;
    Hub::Test::writeAll(base + u"/Echo.vst3"_s, "x");
    EXPECT_EQ(failureOf<HubError>([&] { PluginInstaller::swap(missing, base + u"/Echo.vst3"_s); }),
              u"Couldn't replace Echo.vst3 (No such file or directory)."_s);
    EXPECT_EQ(Hub::Test::readAll(base + u"/Echo.vst3"_s), "x");
}

// ---- Symbolic links ---------------------------------------------------------

class PlacementLink : public Placement {
protected:
    void SetUp() override
    {
        Placement::SetUp();
        vst3 = artifact(PluginFormat::vst3);
        elsewhere = makeBundle(base + u"/elsewhere"_s, vst3, u"1.0.0"_s, pki().maker());
        elsewhereTree = treeListing(elsewhere);
        QDir().mkpath(QFileInfo(target(vst3)).path());
        ASSERT_TRUE(QFile::link(elsewhere, target(vst3)));
    }

    Artifact vst3;
    QString elsewhere;
    QStringList elsewhereTree;
};

TEST_F(PlacementLink, ReplacedLinkLeavesItsTargetAlone)
{
    installer.installForUser({stage(vst3, pki().maker())}, product, roots, spares);
    EXPECT_FALSE(QFileInfo(target(vst3)).isSymLink());
    EXPECT_EQ(PluginInstaller::bundleVersion(target(vst3)), u"2.0.0"_s);
    EXPECT_EQ(treeListing(elsewhere), elsewhereTree);
    EXPECT_TRUE(Hub::Test::spareNames(QFileInfo(target(vst3)).path()).isEmpty());
}

TEST_F(PlacementLink, RolledBackLinkPointsWhereItDid)
{
    const StagedBundle bad = stage(vst3, pki().otherTeam());
    EXPECT_THROW(installer.installForUser({bad}, product, roots, spares), HubError);
    EXPECT_EQ(QFileInfo(target(vst3)).symLinkTarget(), elsewhere);
    EXPECT_EQ(treeListing(elsewhere), elsewhereTree);
    EXPECT_TRUE(Hub::Test::spareNames(QFileInfo(target(vst3)).path()).isEmpty());
}

// ---- The spares list --------------------------------------------------------

TEST_F(Placement, SparesListIsCreatedThenOnlyAppended)
{
    const QString list = base + u"/list/spares.txt"_s;
    QDir().mkpath(base + u"/list"_s);
    PluginInstaller::record(base + u"/a/../VST3/Echo.vst3.hub-new-1"_s, list);
    EXPECT_EQ(Hub::Test::readAll(list), base.toUtf8() + "/VST3/Echo.vst3.hub-new-1\n");
    PluginInstaller::record(base + u"/VST3/Écho.vst3.hub-new-2"_s, list);
    EXPECT_EQ(Hub::Test::readAll(list),
              base.toUtf8() + "/VST3/Echo.vst3.hub-new-1\n" + base.toUtf8() + "/VST3/\xc3\x89" "cho.vst3.hub-new-2\n");
    EXPECT_EQ(QDir(base + u"/list"_s).entryList(QDir::Files | QDir::Hidden), QStringList{u"spares.txt"_s});
    EXPECT_THROW(PluginInstaller::record(base + u"/x"_s, base + u"/missing/spares.txt"_s), FileError);
}

// ---- Stray spares -----------------------------------------------------------

class Strays : public Placement {
protected:
    QString vst3Folder() const { return InstallLocations::folder(roots, PluginFormat::vst3, InstallScope::user); }
    QString auFolder() const { return InstallLocations::folder(roots, PluginFormat::au, InstallScope::user); }

    static QString uuid() { return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(); }

    QString item(const QString& folder, const QString& name)
    {
        QDir().mkpath(folder + u'/' + name + u"/Contents"_s);
        return folder + u'/' + name;
    }

    QStringList trashed() const { return QDir(base + u"/Trash"_s).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name); }
};

TEST_F(Strays, UnlistedSparesGoToTheTrashListedOnesStay)
{
    const QString unlisted = u"Echo.vst3.hub-new-"_s + uuid();
    const QString listed = u"Echo.vst3.hub-new-"_s + uuid();
    const QString component = u"Echo.component.hub-new-"_s + uuid().toLower();
    const QString app = u"Echo.app.hub-new-"_s + uuid();
    item(vst3Folder(), unlisted);
    item(vst3Folder(), listed);
    item(auFolder(), component);
    item(roots.applications, app);
    // Not strays: no name before the marker, no UUID after it, a plain bundle.
    const QStringList keep{u".hub-new-"_s + uuid(), u"X.hub-new-abc"_s, u"Echo.vst3"_s,
                           u"Echo.vst3.hub-new-"_s + uuid() + u"x"_s};
    for (const QString& name : keep)
        item(vst3Folder(), name);
    PluginInstaller::record(vst3Folder() + u'/' + listed, spares);

    PluginInstaller::cleanStrays(roots, installer.trash);

    QStringList expectedTrash{unlisted, component, app};
    expectedTrash.sort();
    EXPECT_EQ(trashed(), expectedTrash);
    QStringList remaining = keep + QStringList{listed};
    remaining.sort();
    EXPECT_EQ(QDir(vst3Folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name),
              remaining);
}

TEST_F(Strays, ListedSpareGoesOnceItsStagingFolderIsGone)
{
    const QString listed = u"Echo.vst3.hub-new-"_s + uuid();
    item(vst3Folder(), listed);
    PluginInstaller::record(vst3Folder() + u'/' + listed, spares);
    const auto now = std::chrono::system_clock::now();

    // A work folder less than a day old survives the staging clean-up, and
    // so does its spare.
    PluginInstaller::cleanStaging(roots, installer.trash, now + std::chrono::hours(23));
    EXPECT_TRUE(trashed().isEmpty());

    // With the recovery marker it lives 30 days, and its spare with it.
    PluginInstaller::writeRecoveryMarker(work);
    PluginInstaller::cleanStaging(roots, installer.trash, now + std::chrono::hours(29 * 24));
    EXPECT_TRUE(trashed().isEmpty());
    EXPECT_TRUE(QFileInfo::exists(vst3Folder() + u'/' + listed));

    PluginInstaller::cleanStaging(roots, installer.trash, now + std::chrono::hours(31 * 24));
    EXPECT_EQ(trashed(), (QStringList{listed, u"W"_s}));
}

TEST_F(Strays, SpareInsideALinkedPluginFolderIsFoundThroughTheLink)
{
    const QString real = base + u"/real-vst3"_s;
    QDir().mkpath(real);
    QDir().mkpath(QFileInfo(vst3Folder()).path());
    ASSERT_TRUE(QFile::link(real, vst3Folder()));
    const QString stray = u"Echo.vst3.hub-new-"_s + uuid();
    item(real, stray);
    PluginInstaller::cleanStrays(roots, installer.trash);
    EXPECT_EQ(trashed(), QStringList{stray});
    EXPECT_TRUE(QFileInfo(vst3Folder()).isSymLink());
}

} // namespace

#include "PlacementTestSupport.h"

#include "BundleFactory.h"
#include "QStringPrinter.h"
#include "ToolsPaths.h"

#include "Base/HubError.h"
#include "Base/Process.h"
#include "Installer/InstallErrors.h"
#include "Installer/PluginInstaller.h"
#include "Platform/FileMoves.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using namespace Hub;
using Hub::Test::BundlePlan;
using Hub::Test::treeListing;

namespace {

class Backups : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        base = m_dir.path();
        roots = {base + u"/home"_s, base + u"/system"_s, base + u"/Applications"_s, base + u"/support"_s};
        folder = PluginInstaller::backupsFolder(roots, u"echo"_s);
        installer.tools = Hub::Test::buildTreeTools();
    }

    QString bundle(const QString& name, std::optional<QString> shortVersion,
                   std::optional<QString> bundleVersion = std::nullopt)
    {
        BundlePlan recipe;
        recipe.name = name;
        recipe.shortVersion = std::move(shortVersion);
        recipe.bundleVersion = std::move(bundleVersion);
        // Sampled sound does not compress and is archived as it is; the
        // rest is deflated. Either way the archive must give back every byte.
        QByteArray noise(96 * 1024, Qt::Uninitialized);
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
        recipe.withFile(u"Contents/Resources/data.bin"_s, "sound")
            .withFile(u"Contents/Resources/sample.wav"_s, noise)
            .withFile(u"Contents/Resources/notes.txt"_s, QByteArray("la ").repeated(20000))
            .withSymlink(u"Contents/Link"_s, u"Resources"_s);
        return Hub::Test::BundleFactory::create(base + u"/installed"_s, recipe);
    }

    QStringList entries() const
    {
        return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }

    QString failure(const std::function<void()>& run)
    {
        try {
            run();
        } catch (const HubError& error) {
            return error.errorDescription();
        }
        return u"<no error>"_s;
    }

    QTemporaryDir m_dir;
    QString base;
    InstallRoots roots;
    QString folder;
    PluginInstaller installer{nullptr, false, 5.0};
};

// ---- Archive names and contents ---------------------------------------------

TEST_F(Backups, ArchiveHoldsTheBundleUnderItsOwnName)
{
    const QString vst3 = bundle(u"Echo.vst3"_s, u"2.1.0"_s);
    const QString archive = installer.backup(vst3, PluginFormat::vst3, u"echo"_s, roots);
    EXPECT_EQ(archive, folder + u"/2.1.0-vst3.zip"_s);
    EXPECT_EQ(entries(), QStringList{u"2.1.0-vst3.zip"_s});

    const QString out = base + u"/out"_s;
    ASSERT_EQ(Shell::run(installer.tools.ditto, {u"-x"_s, u"-k"_s, archive, out}, 60).status, 0);
    EXPECT_EQ(QDir(out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList{u"Echo.vst3"_s});
    EXPECT_EQ(treeListing(out + u"/Echo.vst3"_s), treeListing(vst3));
}

TEST_F(Backups, NamesFollowVersionAndFormat)
{
    struct Case {
        QString bundle;
        PluginFormat format;
        std::optional<QString> shortVersion;
        std::optional<QString> bundleVersion;
        QString name;
    };
    const QList<Case> cases{
        {u"A.vst3"_s, PluginFormat::vst3, std::nullopt, std::nullopt, u"unknown-vst3.zip"_s},
        {u"B.vst3"_s, PluginFormat::vst3, u"1.0/beta"_s, std::nullopt, u"1.0-beta-vst3.zip"_s},
        {u"C.component"_s, PluginFormat::au, std::nullopt, u"77"_s, u"77-au.zip"_s},
        {u"D.app"_s, PluginFormat::app, u"3.0"_s, u"300"_s, u"3.0-app.zip"_s},
    };
    for (const Case& c : cases) {
        const QString path = installer.backup(bundle(c.bundle, c.shortVersion, c.bundleVersion), c.format,
                                              u"echo"_s, roots);
        EXPECT_EQ(QFileInfo(path).fileName(), c.name) << c.bundle.toStdString();
        EXPECT_TRUE(QFileInfo(path).isFile());
    }
}

TEST_F(Backups, OnlyTheNewestArchiveOfAFormatStays)
{
    for (const char* name : {"1.0.0-vst3.zip", "0.9-vst3.zip", "1.0.0-au.zip", "1.0.0-app.zip", ".0.8-vst3.zip.partial",
                             "notes.txt"})
        Hub::Test::writeAll(folder + u'/' + QString::fromLatin1(name), "old");
    installer.backup(bundle(u"Echo.vst3"_s, u"2.0"_s), PluginFormat::vst3, u"echo"_s, roots);
    EXPECT_EQ(entries(), (QStringList{u".0.8-vst3.zip.partial"_s, u"1.0.0-app.zip"_s, u"1.0.0-au.zip"_s,
                                      u"2.0-vst3.zip"_s, u"notes.txt"_s}));
}

TEST_F(Backups, SameVersionAgainReplacesTheArchiveAndAnyLeftoverPartial)
{
    Hub::Test::writeAll(folder + u"/2.0-vst3.zip"_s, "stale");
    Hub::Test::writeAll(folder + u"/.2.0-vst3.zip.partial"_s, "interrupted");
    const QString archive = installer.backup(bundle(u"Echo.vst3"_s, u"2.0"_s), PluginFormat::vst3, u"echo"_s, roots);
    EXPECT_EQ(entries(), QStringList{u"2.0-vst3.zip"_s});
    EXPECT_NE(Hub::Test::readAll(archive), "stale");
    EXPECT_TRUE(Hub::Test::readAll(archive).startsWith("PK"));
}

// ---- Failures change nothing ------------------------------------------------

TEST_F(Backups, ArchiveThatCannotBeWrittenLeavesNoPartialAndKeepsOlderArchives)
{
    Hub::Test::writeAll(folder + u"/1.0-vst3.zip"_s, "older");
    // ditto refuses a partial path that is a folder it cannot replace.
    Hub::Test::writeAll(folder + u"/.2.0-vst3.zip.partial/keep"_s, "x");
    const QStringList before = treeListing(folder);
    EXPECT_EQ(failure([&] {
                  installer.backup(bundle(u"Echo.vst3"_s, u"2.0"_s), PluginFormat::vst3, u"echo"_s, roots);
              }),
              u"Couldn't back up the installed Echo.vst3, so nothing was changed."_s);
    EXPECT_EQ(treeListing(folder), before);
}

TEST_F(Backups, ArchiverDyingHalfWayLeavesNoPartial)
{
    // A ditto that has written part of the archive when it fails.
    const QString shim = base + u"/ditto"_s;
    Hub::Test::writeAll(shim, "#!/bin/sh\nprintf 'PK half' > \"$5\"\nexit 1\n");
    ASSERT_EQ(::chmod(QFile::encodeName(shim).constData(), 0755), 0);
    installer.tools.ditto = shim;
    Hub::Test::writeAll(folder + u"/1.0-vst3.zip"_s, "older");
    EXPECT_EQ(failure([&] {
                  installer.backup(bundle(u"Echo.vst3"_s, u"2.0"_s), PluginFormat::vst3, u"echo"_s, roots);
              }),
              u"Couldn't back up the installed Echo.vst3, so nothing was changed."_s);
    EXPECT_EQ(entries(), QStringList{u"1.0-vst3.zip"_s});
}

TEST_F(Backups, MissingBundleFailsWithoutALeftover)
{
    EXPECT_EQ(failure([&] {
                  installer.backup(base + u"/installed/Gone.vst3"_s, PluginFormat::vst3, u"echo"_s, roots);
              }),
              u"Couldn't back up the installed Gone.vst3, so nothing was changed."_s);
    EXPECT_TRUE(entries().isEmpty());
}

TEST_F(Backups, UnusableProductIdentifierTouchesNothing)
{
    const QString vst3 = bundle(u"Echo.vst3"_s, u"1.0"_s);
    for (const QString& id : {u"../echo"_s, u".echo"_s, u""_s, u"a/b"_s})
        EXPECT_EQ(failure([&] { installer.backup(vst3, PluginFormat::vst3, id, roots); }),
                  u"The catalog entry "_s + id + u" is invalid."_s);
    EXPECT_FALSE(QFileInfo::exists(roots.support));
}

TEST_F(Backups, BackupsFolderThatCannotBeMadeIsAFileError)
{
    Hub::Test::writeAll(roots.support + u"/Backups"_s, "a file");
    EXPECT_THROW(installer.backup(bundle(u"Echo.vst3"_s, u"1.0"_s), PluginFormat::vst3, u"echo"_s, roots), FileError);
    EXPECT_EQ(Hub::Test::readAll(roots.support + u"/Backups"_s), "a file");
}

// ---- The backups folder around a failed install -----------------------------

class BackupsRecovery : public Backups {
protected:
    void SetUp() override
    {
        Backups::SetUp();
        work = base + u"/support/Staging/W"_s;
        QDir().mkpath(work);
    }

    // Runs the put-back and returns (kind, sentence) of what it threw.
    std::pair<QString, QString> restore(const std::exception_ptr& error, bool existed)
    {
        try {
            PluginInstaller::restoreBackups(error, folder, work, existed, keepWork);
        } catch (const InstallRecoveryError& e) {
            return {u"recovery"_s, e.message};
        } catch (const HubError& e) {
            return {u"hub"_s, e.errorDescription()};
        }
        return {u"returned"_s, {}};
    }

    // An install's backups: the archive of the bundle it replaced.
    void installMadeABackup() { installer.backup(bundle(u"Echo.vst3"_s, u"2.0"_s), PluginFormat::vst3, u"echo"_s, roots); }

    QString work;
    bool keepWork = false;
};

TEST_F(BackupsRecovery, SnapshotOfAMissingFolderIsNothing)
{
    EXPECT_FALSE(PluginInstaller::snapshotBackups(folder, work));
    EXPECT_TRUE(QDir(work).isEmpty());
}

TEST_F(BackupsRecovery, PlainFailurePutsTheFolderBackExactly)
{
    Hub::Test::writeAll(folder + u"/1.0-vst3.zip"_s, "the previous archive");
    Hub::Test::writeAll(folder + u"/1.0-au.zip"_s, "another");
    const QStringList before = treeListing(folder);
    ASSERT_TRUE(PluginInstaller::snapshotBackups(folder, work));
    EXPECT_EQ(treeListing(work + u"/previous-backups"_s), before);
    installMadeABackup(); // deletes 1.0-vst3.zip

    const auto [kind, sentence] =
        restore(std::make_exception_ptr(HubError::message(u"Echo.component isn't signed by Tarnaudio, so the hub won't install it."_s)), true);
    EXPECT_EQ(kind, u"hub"_s);
    EXPECT_EQ(sentence, u"Echo.component isn't signed by Tarnaudio, so the hub won't install it."_s);
    EXPECT_EQ(treeListing(folder), before);
    EXPECT_FALSE(keepWork);
}

TEST_F(BackupsRecovery, SnapshotKeepsAnArchiveThatTheInstallReplaced)
{
    // The snapshot shares the archives' bytes where it can; the archive that
    // the install's backup replaces by rename must still come back whole,
    // also when the staging folder lies on another file system.
    QTemporaryDir elsewhere(u"/dev/shm/backups-test-XXXXXX"_s);
    struct stat here {}, there {};
    const bool otherDevice = elsewhere.isValid() && ::stat(QFile::encodeName(base).constData(), &here) == 0
                             && ::stat(QFile::encodeName(elsewhere.path()).constData(), &there) == 0
                             && here.st_dev != there.st_dev;
    const QString installed = bundle(u"Echo.vst3"_s, u"2.0"_s);
    const QStringList original = treeListing(installed);
    for (const QString& place : {QString(work), elsewhere.path()}) {
        if (place != work && !otherDevice)
            continue;
        SCOPED_TRACE(place.toStdString());
        work = place;
        QDir(folder).removeRecursively();
        QDir(place + u"/previous-backups"_s).removeRecursively();
        const QString archive = installer.backup(installed, PluginFormat::vst3, u"echo"_s, roots);
        const QByteArray bytes = Hub::Test::readAll(archive);
        ASSERT_TRUE(PluginInstaller::snapshotBackups(folder, place));

        Hub::Test::writeAll(installed + u"/Contents/Resources/data.bin"_s, "changed sound");
        ASSERT_EQ(installer.backup(installed, PluginFormat::vst3, u"echo"_s, roots), archive);
        ASSERT_NE(Hub::Test::readAll(archive), bytes);

        EXPECT_EQ(restore(std::make_exception_ptr(HubError::message(u"First."_s)), true).first, u"hub"_s);
        EXPECT_EQ(Hub::Test::readAll(archive), bytes);
        const QString out = place + u"/out"_s;
        ASSERT_EQ(Shell::run(installer.tools.ditto, {u"-x"_s, u"-k"_s, archive, out}, 60).status, 0);
        EXPECT_EQ(treeListing(out + u"/Echo.vst3"_s), original);
        QDir(out).removeRecursively();
        Hub::Test::writeAll(installed + u"/Contents/Resources/data.bin"_s, "sound");
    }
}

TEST_F(BackupsRecovery, FolderMadeByTheFailedInstallIsRemoved)
{
    ASSERT_FALSE(PluginInstaller::snapshotBackups(folder, work));
    installMadeABackup();
    const auto [kind, sentence] = restore(std::make_exception_ptr(HubError::message(u"First."_s)), false);
    EXPECT_EQ(kind, u"hub"_s);
    EXPECT_EQ(sentence, u"First."_s);
    EXPECT_FALSE(FileMoves::existsNoFollow(folder));
    EXPECT_FALSE(keepWork);
}

TEST_F(BackupsRecovery, IncompleteRecoveryKeepsTheNewArchivesAndNamesTheWorkFolder)
{
    Hub::Test::writeAll(folder + u"/1.0-vst3.zip"_s, "the previous archive");
    const QStringList before = treeListing(folder);
    ASSERT_TRUE(PluginInstaller::snapshotBackups(folder, work));
    installMadeABackup();
    const QStringList during = treeListing(folder);

    const QString inner = u"Couldn't replace Echo.vst3 (Operation not permitted). Previous bundles remain at /x/Echo.vst3.hub-new-1; recovery could not finish."_s;
    const auto [kind, sentence] = restore(std::make_exception_ptr(InstallRecoveryError(inner)), true);
    EXPECT_EQ(kind, u"recovery"_s);
    EXPECT_EQ(sentence, inner + u" Recovery files are preserved at "_s + work + u"."_s);
    EXPECT_TRUE(keepWork);
    EXPECT_EQ(treeListing(folder), before);
    EXPECT_EQ(treeListing(work + u"/recovery-backups"_s), during);
}

TEST_F(BackupsRecovery, SnapshotThatCannotGoBackIsNamedAfterTheFirstSentence)
{
    Hub::Test::writeAll(folder + u"/1.0-vst3.zip"_s, "the previous archive");
    ASSERT_TRUE(PluginInstaller::snapshotBackups(folder, work));
    const QStringList snapshot = treeListing(work + u"/previous-backups"_s);
    // Something already holds the recovery copy's name, so the backups
    // folder stays where it is and the snapshot cannot be moved onto it.
    QDir().mkpath(work + u"/recovery-backups"_s);
    Hub::Test::writeAll(work + u"/recovery-backups/taken"_s, "x");
    const QString inner = u"The original remains at /x/Echo.vst3.hub-new-1; recovery could not finish."_s;

    const auto [kind, sentence] = restore(std::make_exception_ptr(InstallRecoveryError(inner)), true);
    EXPECT_EQ(kind, u"recovery"_s);
    EXPECT_EQ(sentence, inner + u" Previous backups are preserved at "_s + work
                            + u"/previous-backups; automatic recovery could not finish."_s);
    EXPECT_TRUE(keepWork);
    EXPECT_EQ(treeListing(work + u"/previous-backups"_s), snapshot);
    EXPECT_EQ(Hub::Test::readAll(folder + u"/1.0-vst3.zip"_s), "the previous archive"); // never removed
}

TEST_F(BackupsRecovery, MarkerHasExactlyItsText)
{
    PluginInstaller::writeRecoveryMarker(work);
    EXPECT_EQ(Hub::Test::readAll(work + u"/PRESERVE-RECOVERY.txt"_s),
              QByteArray("Automatic recovery was incomplete. Keep these originals for manual recovery.\n"));
    EXPECT_EQ(Hub::Test::readAll(work + u"/PRESERVE-RECOVERY.txt"_s).size(), 77);
}

} // namespace

#include "UninstallTestSupport.h"

#include "BundleSigner.h"
#include "QStringPrinter.h"
#include "TestPKI.h"

#include "Base/HubError.h"
#include "Base/Places.h"
#include "Installer/PluginInstaller.h"
#include "Installer/Removal/TrashScript.h"
#include "Platform/FileMoves.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <cerrno>
#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace Hub;
using namespace Hub::Test;

namespace {

const TestPKI& pki()
{
    static const TestPKI instance;
    return instance;
}

struct PrivilegedCall {
    QString prompt;
    QStringList arguments;
};

class Uninstall : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        base = m_dir.path();
        roots = {base + u"/home"_s, base + u"/system"_s, base + u"/Applications"_s, base + u"/support"_s};
        QDir().mkpath(roots.userHome);
        QDir().mkpath(roots.applications);
        QDir().mkpath(base + u"/var-tmp"_s);

        registry = std::make_shared<RecordingRegistry>();
        installer = std::make_unique<PluginInstaller>(registry, false, 0.25);
        installer->anchors = pki().anchors();
        installer->trashTools.workBase = base + u"/var-tmp"_s;
        const QString home = roots.userHome;
        installer->trash = [this, home](const QString& path) -> std::optional<QString> {
            trashed.append(path);
            if (refuseTrash.contains(path))
                throw FileError(refuseTrash.value(path), path);
            return Trash::moveToTrash(path, home);
        };
        installer->privileged = [this](const QString& prompt, const QString& script, const QStringList& arguments) {
            calls.append({prompt, arguments});
            if (cancelPrompt)
                return Shell::Result{1, u"The administrator password dialog was dismissed. (-128)"_s};
            return PrivilegedRunner::runAsCurrentUser(prompt, script, arguments);
        };
    }

    QList<InstalledFormat> uninstall(std::set<PluginFormat> formats, std::set<InstallScope> scopes,
                                     bool removeSettings = false)
    {
        return installer->uninstall(product, UninstallOptions{std::move(formats), removeSettings, std::move(scopes)},
                                    roots);
    }

    // The sentence of the HubError the uninstall throws; empty when it returns.
    QString failure(std::set<PluginFormat> formats, std::set<InstallScope> scopes, bool removeSettings = false)
    {
        try {
            uninstall(std::move(formats), std::move(scopes), removeSettings);
        } catch (const HubError& error) {
            return error.errorDescription();
        }
        return {};
    }

    QString inTrash(const QString& name) const { return trashFiles(roots.userHome) + u'/' + name; }

    QTemporaryDir m_dir;
    QString base;
    InstallRoots roots;
    Product product = echoProduct();
    std::shared_ptr<RecordingRegistry> registry;
    std::unique_ptr<PluginInstaller> installer;
    QStringList trashed;
    QMap<QString, int> refuseTrash; // path -> errno the trash hook throws
    bool cancelPrompt = false;
    QList<PrivilegedCall> calls;
};

// ---- Removal moves to the Trash, never deletes ------------------------------

TEST_F(Uninstall, ChosenCopiesGoToTheTrashWholeWithTheirTrashInfo)
{
    const QString vst3 = installEcho(roots, PluginFormat::vst3, InstallScope::user);
    const QString au = installEcho(roots, PluginFormat::au, InstallScope::user);
    const QStringList vst3Tree = treeListing(vst3);
    const QStringList auTree = treeListing(au);

    EXPECT_TRUE(uninstall({PluginFormat::vst3, PluginFormat::au}, {InstallScope::user}).isEmpty());

    EXPECT_FALSE(FileMoves::existsNoFollow(vst3));
    EXPECT_FALSE(FileMoves::existsNoFollow(au));
    EXPECT_EQ(treeListing(inTrash(u"Echo.vst3"_s)), vst3Tree);
    EXPECT_EQ(treeListing(inTrash(u"Echo.component"_s)), auTree);
    EXPECT_TRUE(trashInfoOf(roots.userHome, u"Echo.vst3"_s).contains(expectedPathLine(vst3)));
    EXPECT_TRUE(trashInfoOf(roots.userHome, u"Echo.component"_s).contains(expectedPathLine(au)));
    // Gone from the registry: the catalog's codes, waited for once.
    ASSERT_EQ(registry->gone.size(), 1u);
    EXPECT_EQ(registry->gone[0], kEchoCodes);
    EXPECT_EQ(registry->timeouts[0], 0.25);
    EXPECT_TRUE(calls.isEmpty());
}

TEST_F(Uninstall, OnlyTheChosenScopeMovesAndBackupsOfARemainingFormatStay)
{
    const QString mine = installEcho(roots, PluginFormat::vst3, InstallScope::user);
    const QString shared = installEcho(roots, PluginFormat::vst3, InstallScope::allUsers);
    const QString backups = PluginInstaller::backupsFolder(roots, u"echo"_s);
    writeAll(backups + u"/1.0.0-vst3.zip"_s, "vst3 backup");
    writeAll(backups + u"/1.0.0-au.zip"_s, "au backup");
    writeAll(backups + u"/notes.txt"_s, "not an archive");

    const QList<InstalledFormat> after = uninstall({PluginFormat::vst3}, {InstallScope::user});

    ASSERT_EQ(after.size(), 1);
    EXPECT_EQ(after[0].path, shared);
    EXPECT_FALSE(FileMoves::existsNoFollow(mine));
    EXPECT_TRUE(FileMoves::existsNoFollow(inTrash(u"Echo.vst3"_s)));
    // VST3 is still installed: its archive stays; the others' formats are gone.
    EXPECT_EQ(entriesOf(backups), (QStringList{u"1.0.0-vst3.zip"_s, u"notes.txt"_s}));
    EXPECT_EQ(readAll(inTrash(u"1.0.0-au.zip"_s)), "au backup");
    EXPECT_TRUE(trashInfoOf(roots.userHome, u"1.0.0-au.zip"_s).contains(expectedPathLine(backups + u"/1.0.0-au.zip"_s)));
}

TEST_F(Uninstall, NoWaitWhileAnAudioUnitRemainsForAllUsers)
{
    installEcho(roots, PluginFormat::au, InstallScope::user);
    const QString shared = installEcho(roots, PluginFormat::au, InstallScope::allUsers);

    const QList<InstalledFormat> after = uninstall({PluginFormat::au}, {InstallScope::user});

    ASSERT_EQ(after.size(), 1);
    EXPECT_EQ(after[0].path, shared);
    EXPECT_TRUE(registry->gone.empty());
}

TEST_F(Uninstall, NothingMatchingMovesNothingButPrunesBackupsOfFormatsNoLongerInstalled)
{
    const QString shared = installEcho(roots, PluginFormat::vst3, InstallScope::allUsers);
    const QString backups = PluginInstaller::backupsFolder(roots, u"echo"_s);
    writeAll(backups + u"/1.0.0-vst3.zip"_s, "vst3");
    writeAll(backups + u"/1.0.0-app.zip"_s, "app");
    const QStringList sharedTree = treeListing(shared);

    const QList<InstalledFormat> after = uninstall({PluginFormat::au}, {InstallScope::user, InstallScope::allUsers});

    EXPECT_EQ(after, (QList<InstalledFormat>{{PluginFormat::vst3, shared, u"1.0.0"_s}}));
    EXPECT_EQ(treeListing(shared), sharedTree);
    EXPECT_EQ(entriesOf(backups), QStringList{u"1.0.0-vst3.zip"_s});
    EXPECT_EQ(readAll(inTrash(u"1.0.0-app.zip"_s)), "app");
}

TEST_F(Uninstall, LastCopyGoneTakesTheWholeBackupsFolderToTheTrash)
{
    installEcho(roots, PluginFormat::vst3, InstallScope::user);
    const QString backups = PluginInstaller::backupsFolder(roots, u"echo"_s);
    writeAll(backups + u"/1.0.0-vst3.zip"_s, "vst3");
    writeAll(backups + u"/odd.bin"_s, "kept with the folder");

    EXPECT_TRUE(uninstall({PluginFormat::vst3}, {InstallScope::user}).isEmpty());

    EXPECT_FALSE(FileMoves::existsNoFollow(backups));
    EXPECT_EQ(entriesOf(inTrash(u"echo"_s)), (QStringList{u"1.0.0-vst3.zip"_s, u"odd.bin"_s}));
    EXPECT_TRUE(trashInfoOf(roots.userHome, u"echo"_s).contains(expectedPathLine(backups)));
}

// ---- Only the maker's bundles are removed ---------------------------------

TEST_F(Uninstall, ABundleThatIsNotTheMakersStaysWithANote)
{
    const QString foreign = installEcho(roots, PluginFormat::vst3, InstallScope::user, u"com.other.echo"_s);
    signBundle(foreign, pki().otherTeam());
    const QString au = installEcho(roots, PluginFormat::au, InstallScope::user);
    const QStringList foreignTree = treeListing(foreign);

    EXPECT_EQ(failure({PluginFormat::vst3, PluginFormat::au}, {InstallScope::user}),
              u"Echo.vst3 in "_s + QFileInfo(foreign).absolutePath()
                  + u" isn't signed by Tarnaudio, so the hub left it there. Move it to the Trash in Files if you want it gone."_s);
    EXPECT_EQ(treeListing(foreign), foreignTree);
    EXPECT_FALSE(trashed.contains(foreign));
    // The rest went on.
    EXPECT_FALSE(FileMoves::existsNoFollow(au));
    EXPECT_TRUE(FileMoves::existsNoFollow(inTrash(u"Echo.component"_s)));
}

TEST_F(Uninstall, TheCatalogIdentifierOrTheMakersSignatureEachSuffice)
{
    // Unsigned, but the catalog's identifier for this bundle name.
    const QString byIdentifier = installEcho(roots, PluginFormat::vst3, InstallScope::user);
    EXPECT_EQ(PluginInstaller::ownershipProblem(byIdentifier, PluginFormat::vst3, product, pki().anchors()),
              std::nullopt);
    // Another identifier, signed by the maker's team.
    const QString bySignature = installEcho(roots, PluginFormat::au, InstallScope::user, u"com.tarnaudio.renamed"_s);
    signBundle(bySignature, pki().maker());
    EXPECT_EQ(PluginInstaller::ownershipProblem(bySignature, PluginFormat::au, product, pki().anchors()),
              std::nullopt);
    // The maker's team from an anchor that is not pinned counts for nothing.
    EXPECT_NE(PluginInstaller::ownershipProblem(bySignature, PluginFormat::au, product,
                                                TrustAnchors::fromPem(pki().foreignAnchorPem())),
              std::nullopt);
    // The catalog's identifier for another bundle name does not vouch for this one.
    const QString swapped = installEcho(roots, PluginFormat::vst3, InstallScope::allUsers, kEchoAUID);
    EXPECT_NE(PluginInstaller::ownershipProblem(swapped, PluginFormat::vst3, product, pki().anchors()), std::nullopt);

    EXPECT_EQ(failure({PluginFormat::vst3, PluginFormat::au}, {InstallScope::user}), QString());
    EXPECT_TRUE(FileMoves::existsNoFollow(inTrash(u"Echo.vst3"_s)));
    EXPECT_TRUE(FileMoves::existsNoFollow(inTrash(u"Echo.component"_s)));
}

// ---- Copies the user may not move go through one administrator prompt -----

TEST_F(Uninstall, ARefusedMoveGoesThroughTheTrashScriptAndLandsInTheTrash)
{
    const QString mine = installEcho(roots, PluginFormat::vst3, InstallScope::user);
    const QString shared = installEcho(roots, PluginFormat::vst3, InstallScope::allUsers);
    const QStringList sharedTree = treeListing(shared);
    refuseTrash.insert(shared, EACCES);

    EXPECT_TRUE(uninstall({PluginFormat::vst3}, {InstallScope::user, InstallScope::allUsers}).isEmpty());

    ASSERT_EQ(calls.size(), 1);
    EXPECT_EQ(calls[0].prompt, u"Tarnhub wants to move echo to the Trash."_s);
    EXPECT_EQ(calls[0].arguments, (QStringList{Trash::folder(roots.userHome), QString::number(::getuid()),
                                               QString::number(::getgid()), shared}));
    EXPECT_FALSE(FileMoves::existsNoFollow(mine));
    EXPECT_FALSE(FileMoves::existsNoFollow(shared));
    // Both are named Echo.vst3: the second gets a new name, never the first's place.
    EXPECT_TRUE(FileMoves::existsNoFollow(inTrash(u"Echo.vst3"_s)));
    EXPECT_EQ(treeListing(inTrash(u"Echo 2.vst3"_s)), sharedTree);
    EXPECT_TRUE(trashInfoOf(roots.userHome, u"Echo 2.vst3"_s).contains(expectedPathLine(shared)));
    EXPECT_TRUE(trashInfoOf(roots.userHome, u"Echo.vst3"_s).contains(expectedPathLine(mine)));
}

TEST_F(Uninstall, ACancelledRetryPromptIsANoteAndTheRestGoesOn)
{
    const QString shared = installEcho(roots, PluginFormat::vst3, InstallScope::allUsers);
    const QString au = installEcho(roots, PluginFormat::au, InstallScope::user);
    const QStringList sharedTree = treeListing(shared);
    refuseTrash.insert(shared, EPERM);
    cancelPrompt = true;

    EXPECT_EQ(failure({PluginFormat::vst3, PluginFormat::au}, {InstallScope::user, InstallScope::allUsers}),
              u"Cancelled."_s);
    EXPECT_EQ(treeListing(shared), sharedTree);
    EXPECT_FALSE(FileMoves::existsNoFollow(au));
}

TEST_F(Uninstall, OtherFailuresOfTheTrashAreNotesWithoutAPrompt)
{
    const QString vst3 = installEcho(roots, PluginFormat::vst3, InstallScope::user);
    const QString au = installEcho(roots, PluginFormat::au, InstallScope::user);
    refuseTrash.insert(vst3, EIO);

    EXPECT_EQ(failure({PluginFormat::vst3, PluginFormat::au}, {InstallScope::user}),
              u"Couldn't move Echo.vst3 to the Trash (Input/output error)."_s);
    EXPECT_TRUE(calls.isEmpty());
    EXPECT_TRUE(FileMoves::existsNoFollow(vst3));
    EXPECT_FALSE(FileMoves::existsNoFollow(au));
}

TEST_F(Uninstall, ACancelledPromptMovesNothingAndIsACancellation)
{
    const QString shared = installEcho(roots, PluginFormat::vst3, InstallScope::allUsers);
    const QStringList systemTree = treeListing(roots.system);
    cancelPrompt = true;

    try {
        installer->trashAsAdministrator({shared}, product, roots);
        ADD_FAILURE() << "returned";
    } catch (const HubError& error) {
        EXPECT_EQ(error, HubError::cancelled());
    }
    EXPECT_EQ(treeListing(roots.system), systemTree);
    EXPECT_TRUE(entriesOf(trashFiles(roots.userHome)).isEmpty());
}

// The sentence quotes the Trash script's own words only, their end without
// splitting a character; a tool's line or a refusal of whatever ran the
// script (naming the administrator's helper's view of a path) is not shown.
TEST_F(Uninstall, AFailedTrashScriptShowsTheEndOfItsOwnWordsOnly)
{
    const QString shared = installEcho(roots, PluginFormat::vst3, InstallScope::allUsers);
    const QString reason = u"Tarnhub: "_s + QString(400, u'x') + u"\U0001F3B9"_s + QString(298, u'y') + u'\n';
    struct Row {
        const char* label;
        QString output;
        QString sentence;
    };
    const Row rows[] = {
        {"a long reason after a tool's line", u"mv: cannot move '/var/tmp/hubtarn.x/1/Echo.vst3'\n"_s + reason,
         u"Couldn't move Echo.vst3 to the Trash.\n"_s + reason.right(301)},
        {"the helper's refusal", u"hubtarn-admin: "_s + shared + u" was refused: it isn't yours.\n"_s,
         u"Couldn't move Echo.vst3 to the Trash."_s},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        installer->privileged = [&](const QString&, const QString&, const QStringList&) {
            return Shell::Result{1, row.output};
        };
        try {
            installer->trashAsAdministrator({shared}, product, roots);
            ADD_FAILURE() << "returned";
        } catch (const HubError& error) {
            EXPECT_EQ(error.errorDescription(), row.sentence);
        }
    }
}

TEST(UninstallPermissionErrors, TellsAccessProblemsFromOthers)
{
    EXPECT_TRUE(PluginInstaller::isPermissionError(FileError(EACCES, u"/x"_s)));
    EXPECT_TRUE(PluginInstaller::isPermissionError(FileError(EPERM, u"/x"_s)));
    EXPECT_FALSE(PluginInstaller::isPermissionError(FileError(ENOENT, u"/x"_s)));
    EXPECT_FALSE(PluginInstaller::isPermissionError(HubError::message(u"Permission denied"_s)));
    EXPECT_TRUE(PluginInstaller::isPermissionError(
        std::filesystem::filesystem_error("x", std::make_error_code(std::errc::permission_denied))));
    // An error wrapping the platform's: its underlying error decides.
    try {
        try {
            throw FileError(EACCES, u"/x"_s);
        } catch (...) {
            std::throw_with_nested(std::runtime_error("move failed"));
        }
    } catch (const std::exception& wrapped) {
        EXPECT_TRUE(PluginInstaller::isPermissionError(wrapped));
    }
    try {
        try {
            throw FileError(ENOSPC, u"/x"_s);
        } catch (...) {
            std::throw_with_nested(std::runtime_error("move failed"));
        }
    } catch (const std::exception& wrapped) {
        EXPECT_FALSE(PluginInstaller::isPermissionError(wrapped));
    }
}

// ---- Settings folders ------------------------------------------------------

TEST(UninstallSettingsFolder, OnlyAPlainFolderBesideTheReportSpool)
{
    const InstallRoots roots{u"/h"_s, u"/s"_s, u"/a"_s, u"/p"_s};
    const auto folder = [&](const QString& text) {
        return PluginInstaller::settingsFolder({u"echo"_s, text}, roots);
    };
    EXPECT_EQ(folder(u"Tarn Audio/Echo"_s), u"/h/.local/share/Tarn Audio/Echo"_s);
    for (const QString& refused :
         {u"Tarn Audio/Reports"_s, u"Tarn Audio/REPORTS"_s, u"Tarn Audio/reports"_s, u"Tarn Audio/../X"_s,
          u"Tarn Audio/.."_s, u"Other/X"_s, u"Tarn Audio/X/Y"_s, u"Tarn Audio/"_s, u"tarn audio/X"_s,
          u"/Tarn Audio/X"_s, u"Tarn Audio/.hidden"_s, u"Tarn Audio/a:b"_s, u"Tarn Audio/a\nb"_s})
        EXPECT_EQ(folder(refused), std::nullopt) << refused.toStdString();
}

TEST_F(Uninstall, SettingsGoToTheTrashOnlyWhenAskedAndOnlyAPlainFolder)
{
    const QString support = Places::path(Places::Place::makerFolder, roots.userHome);
    writeAll(support + u"/Echo/presets/Warm.preset"_s, "warm");
    writeAll(support + u"/Reports/echo/crash.json"_s, "{}");
    product.settingsFolder = u"Tarn Audio/Echo"_s;
    installEcho(roots, PluginFormat::vst3, InstallScope::user);

    uninstall({PluginFormat::vst3}, {InstallScope::user}, false);
    EXPECT_TRUE(FileMoves::existsNoFollow(support + u"/Echo"_s));

    installEcho(roots, PluginFormat::vst3, InstallScope::user);
    EXPECT_EQ(failure({PluginFormat::vst3}, {InstallScope::user}, true), QString());
    EXPECT_FALSE(FileMoves::existsNoFollow(support + u"/Echo"_s));
    EXPECT_EQ(readAll(inTrash(u"Echo/presets/Warm.preset"_s)), "warm");
    EXPECT_TRUE(trashInfoOf(roots.userHome, u"Echo"_s).contains(expectedPathLine(support + u"/Echo"_s)));
    EXPECT_EQ(readAll(support + u"/Reports/echo/crash.json"_s), "{}");

    // Nothing left to remove: no note.
    EXPECT_EQ(installer->removeSettings({u"echo"_s, u"Tarn Audio/Echo"_s}, roots), std::nullopt);
}

TEST_F(Uninstall, SettingsNotesNameWhatWasLeft)
{
    const QString support = Places::path(Places::Place::makerFolder, roots.userHome);
    writeAll(support + u"/Reports/echo/crash.json"_s, "{}");
    writeAll(base + u"/elsewhere/keep.txt"_s, "keep");
    QDir().mkpath(support);
    ASSERT_EQ(::symlink(QFile::encodeName(base + u"/elsewhere"_s).constData(),
                        QFile::encodeName(support + u"/Linked"_s).constData()),
              0);

    EXPECT_EQ(installer->removeSettings({u"echo"_s, u"Tarn Audio/Reports"_s}, roots),
              u"The settings folder of echo (Tarn Audio/Reports) isn't one the hub manages, so it was left alone."_s);
    EXPECT_EQ(installer->removeSettings({u"echo"_s, u"Tarn Audio/Linked"_s}, roots),
              support + u"/Linked isn't a plain folder, so the hub left it there."_s);
    writeAll(support + u"/Echo/settings.xml"_s, "<x/>");
    refuseTrash.insert(support + u"/Echo"_s, EBUSY);
    EXPECT_EQ(installer->removeSettings({u"echo"_s, u"Tarn Audio/Echo"_s}, roots),
              u"Couldn't move Echo settings to the Trash (Device or resource busy)."_s);
    EXPECT_EQ(readAll(base + u"/elsewhere/keep.txt"_s), "keep");
    EXPECT_EQ(readAll(support + u"/Reports/echo/crash.json"_s), "{}");

    // Notes of an uninstall are gathered one per line, in order.
    const QString foreign = installEcho(roots, PluginFormat::vst3, InstallScope::user, u"com.other.echo"_s);
    product.settingsFolder = u"Other/Echo"_s;
    EXPECT_EQ(failure({PluginFormat::vst3}, {InstallScope::user}, true),
              u"Echo.vst3 in "_s + QFileInfo(foreign).absolutePath()
                  + u" isn't signed by Tarnaudio, so the hub left it there. Move it to the Trash in Files if you want it gone.\n"_s
                  + u"The settings folder of echo (Other/Echo) isn't one the hub manages, so it was left alone."_s);
}

} // namespace

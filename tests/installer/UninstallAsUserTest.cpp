#include "UninstallTestSupport.h"

#include "AsOtherUser.h"
#include "QStringPrinter.h"

#include "Base/HubError.h"
#include "Installer/Placement/PrivilegedRunner.h"
#include "Installer/PluginInstaller.h"
#include "Platform/FileMoves.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace Hub;
using namespace Hub::Test;

namespace {

constexpr char kSubjectVariable[] = "HUB_UNINSTALL_SUBJECT";

// ---- The subject side: this executable run again as another user ----------

// Uninstalls Echo's VST3 and Audio Unit copies in both scopes with the
// desktop Trash of the job's home. Its privileged hook records each call
// and then either answers like a dismissed password dialog ("cancel") or
// runs the Trash script with the subject's own rights ("run").
int runSubject(const QString& jobPath)
{
    const QMap<QString, QString> job = readJob(jobPath);
    const InstallRoots roots{job[u"home"_s], job[u"system"_s], job[u"applications"_s], job[u"support"_s]};
    PluginInstaller installer(nullptr, false, 0.1);
    installer.trashTools.workBase = job[u"workbase"_s];
    installer.trash = [home = roots.userHome](const QString& path) -> std::optional<QString> {
        return Trash::moveToTrash(path, home);
    };
    const QString record = job[u"record"_s];
    const bool cancel = job[u"prompt"_s] == u"cancel"_s;
    installer.privileged = [record, cancel](const QString& prompt, const QString& script, const QStringList& arguments) {
        QFile file(record);
        if (file.open(QIODevice::Append))
            file.write((QStringList{prompt} + arguments).join(u'|').toUtf8() + '\n');
        if (cancel)
            return Shell::Result{1, u"The administrator password dialog was dismissed. (-128)"_s};
        return PrivilegedRunner::runAsCurrentUser(prompt, script, arguments);
    };

    QString result;
    try {
        installer.uninstall(echoProduct(), {{PluginFormat::vst3, PluginFormat::au}, false,
                                            {InstallScope::user, InstallScope::allUsers}},
                            roots);
        result = u"ok\n"_s;
    } catch (const HubError& error) {
        result = (error.kind() == HubError::Kind::cancelled ? u"cancelled\n"_s : u"message\n"_s)
                 + error.errorDescription();
    } catch (const std::exception& error) {
        result = u"other\n"_s + QString::fromUtf8(error.what());
    }
    try {
        writeAll(job[u"result"_s], result.toUtf8());
    } catch (...) {
        return 3;
    }
    return 0;
}

[[maybe_unused]] ::testing::Environment* const kSubject = addSubjectEnvironment(kSubjectVariable, runSubject);

constexpr char kSwapperVariable[] = "HUB_TRASH_SWAPPER";

QString bundle(const QString& folder, const QString& name)
{
    BundlePlan recipe;
    recipe.name = name;
    return BundleFactory::create(folder, recipe);
}

// The caller's side of a race: exchanges each pair of names ("a|b|c|d")
// over and over, the way renameat2 swaps two entries at once, until the
// stop file appears (at most five minutes, as long as a race may run).
// Says "swapping" once it has begun.
int runSwapper(const QString& jobPath)
{
    const QMap<QString, QString> job = readJob(jobPath);
    const QStringList names = job[u"pairs"_s].split(u'|');
    const QByteArray stop = QFile::encodeName(job[u"stop"_s]);
    std::vector<QByteArray> encoded;
    for (const QString& name : names)
        encoded.push_back(QFile::encodeName(name));
    const QDeadlineTimer deadline(300'000);
    bool told = false;
    while (!deadline.hasExpired() && ::access(stop.constData(), F_OK) != 0) {
        for (size_t i = 0; i + 1 < encoded.size(); i += 2)
            ::renameat2(AT_FDCWD, encoded[i].constData(), AT_FDCWD, encoded[i + 1].constData(), RENAME_EXCHANGE);
        if (!told) {
            std::puts("swapping");
            std::fflush(stdout);
            told = true;
        }
    }
    return 0;
}

[[maybe_unused]] ::testing::Environment* const kSwapper = addSubjectEnvironment(kSwapperVariable, runSwapper);

// ---- The tests --------------------------------------------------------------

// An ordinary user's uninstall, where the all-users folders belong to root.
class UninstallAsAnotherUser : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "running the subject as another user needs root";
        ASSERT_TRUE(m_dir.isValid());
        base = m_dir.path();
        ASSERT_EQ(::chmod(QFile::encodeName(base).constData(), 0755), 0);
        roots = {base + u"/home"_s, base + u"/system"_s, base + u"/Applications"_s, base + u"/support"_s};
        QDir().mkpath(roots.applications);
        QDir().mkpath(roots.support);
        QDir().mkpath(base + u"/out/var-tmp"_s);

        userVST3 = installEcho(roots, PluginFormat::vst3, InstallScope::user);
        userAU = installEcho(roots, PluginFormat::au, InstallScope::user);
        chownTree(roots.userHome, kNobody);
        chownTree(roots.support, kNobody);
        chownTree(base + u"/out"_s, kNobody);
        sharedVST3 = installEcho(roots, PluginFormat::vst3, InstallScope::allUsers);
    }

    QStringList run(const QString& prompt)
    {
        writeJob(base + u"/job.txt"_s, {{u"home"_s, roots.userHome},
                                        {u"system"_s, roots.system},
                                        {u"applications"_s, roots.applications},
                                        {u"support"_s, roots.support},
                                        {u"workbase"_s, base + u"/out/var-tmp"_s},
                                        {u"record"_s, base + u"/out/record.txt"_s},
                                        {u"result"_s, base + u"/out/result.txt"_s},
                                        {u"prompt"_s, prompt}});
        EXPECT_EQ(runSelfAsNobody(kSubjectVariable, base + u"/job.txt"_s), 0);
        return QString::fromUtf8(readAll(base + u"/out/result.txt"_s)).split(u'\n');
    }

    QStringList recorded() const
    {
        return QString::fromUtf8(readAll(base + u"/out/record.txt"_s)).split(u'\n', Qt::SkipEmptyParts);
    }

    QStringList pluginFolders() const
    {
        return treeListing(InstallLocations::folder(roots, PluginFormat::vst3, InstallScope::user))
               + treeListing(InstallLocations::folder(roots, PluginFormat::au, InstallScope::user))
               + treeListing(roots.system);
    }

    QString promptLine(const QString& path) const
    {
        return QStringList{u"Tarnhub wants to move echo to the Trash."_s, Trash::folder(roots.userHome), u"65534"_s,
                           u"65534"_s, path}
            .join(u'|');
    }

    QTemporaryDir m_dir;
    QString base;
    InstallRoots roots;
    QString userVST3;
    QString userAU;
    QString sharedVST3;
};

TEST_F(UninstallAsAnotherUser, ABundleTheUserCannotMoveAsksOnceAndACancelRemovesNothing)
{
    const QStringList before = pluginFolders();

    EXPECT_EQ(run(u"cancel"_s), (QStringList{u"cancelled"_s, u"Cancelled."_s}));

    EXPECT_EQ(recorded(), QStringList{promptLine(sharedVST3)});
    // Not even the user's own copies moved.
    EXPECT_EQ(pluginFolders(), before);
    EXPECT_TRUE(entriesOf(trashFiles(roots.userHome)).isEmpty());
}

TEST_F(UninstallAsAnotherUser, AScriptWithoutRightsLeavesTheBundleAndSaysWhich)
{
    const QStringList before = pluginFolders();

    const QStringList result = run(u"run"_s);

    // The script's words, not mv's "Permission denied" before them.
    EXPECT_EQ(result, (QStringList{u"message"_s, u"Couldn't move Echo.vst3 to the Trash."_s,
                                   u"Tarnhub: couldn't move "_s + sharedVST3, QString()}));
    EXPECT_EQ(pluginFolders(), before);
    EXPECT_TRUE(entriesOf(base + u"/out/var-tmp"_s).isEmpty());
}

TEST_F(UninstallAsAnotherUser, AMoveRefusedInASharedFolderIsRetriedWithThePrompt)
{
    // A shared, sticky folder: the user may write there, but not move a
    // bundle that another user owns.
    const QString vst3Folder = QFileInfo(userVST3).absolutePath();
    ASSERT_EQ(::lchown(QFile::encodeName(vst3Folder).constData(), 0, 0), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(vst3Folder).constData(), 01777), 0);
    chownTree(userVST3, 0);
    ASSERT_EQ(::chmod(QFile::encodeName(userVST3).constData(), 0777), 0);
    const QStringList rootsCopy = treeListing(userVST3);
    QDir(QFileInfo(sharedVST3).absolutePath()).removeRecursively();

    EXPECT_EQ(run(u"cancel"_s), (QStringList{u"message"_s, u"Cancelled."_s}));

    EXPECT_EQ(recorded(), QStringList{promptLine(userVST3)});
    EXPECT_EQ(treeListing(userVST3), rootsCopy);
    // The user's own Audio Unit went on to the Trash.
    EXPECT_FALSE(FileMoves::existsNoFollow(userAU));
    EXPECT_TRUE(trashInfoOf(roots.userHome, u"Echo.component"_s).contains(expectedPathLine(userAU)));
}

// ---- The administrator's helper against a caller who races it -------------

// The helper as an installed copy runs it (its bundle's helpers folder root's
// alone), asked by kNobody through pkexec's PKEXEC_UID, in a mount namespace
// where kNobody's home is the test's and the all-users VST3 folder a fresh
// tmpfs. kNobody swaps folders of theirs for links while the helper runs,
// hundreds of times: what the helper does as root must never follow them.
class TrashHelperRace : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "running the helper for another user needs root";
        ASSERT_TRUE(m_dir.isValid());
        base = m_dir.path();
        ASSERT_EQ(::chmod(QFile::encodeName(base).constData(), 0755), 0);
        home = base + u"/home"_s;
        trash = Trash::folder(home);
        for (const QString& folder : QStringList{trash + u"/files"_s, trash + u"/info"_s, home + u"/.vst3"_s,
                                                 home + u"/Applications"_s, base + u"/out"_s})
            ASSERT_TRUE(QDir().mkpath(folder));
        chownTree(home, kNobody);
        chownTree(base + u"/out"_s, kNobody);

        // A bundle whose helpers folder and tools only root may change.
        const QString helpers = reachableFolder() + u"/Race.app/Contents/Helpers"_s;
        ASSERT_TRUE(QDir().mkpath(helpers));
        helper = helpers + u"/hubtarn-admin"_s;
        using Copy = std::pair<QString, QString>;
        for (const auto& [from, to] : {Copy{QString::fromUtf8(HUB_ADMIN_HELPER), helper},
                                       Copy{QString::fromUtf8(HUB_TOOLS_PROGRAM), helpers + u"/hubtools"_s}})
            ASSERT_TRUE(FileMoves::existsNoFollow(to) || QFile::copy(from, to)) << to.toStdString();
        for (const QString& applet : {u"codesign"_s, u"PlistBuddy"_s})
            QFile::link(u"hubtools"_s, helpers + u'/' + applet);

        // pkexec names kNobody; their home is the test's.
        QStringList users;
        for (const QString& line : QString::fromUtf8(readAll(u"/etc/passwd"_s)).split(u'\n', Qt::SkipEmptyParts)) {
            QStringList fields = line.split(u':');
            if (fields.size() == 7 && fields[2] == QString::number(kNobody))
                fields[5] = home;
            users.append(fields.join(u':'));
        }
        passwd = base + u"/passwd"_s;
        writeAll(passwd, (users.join(u'\n') + u'\n').toUtf8());
    }

    void TearDown() override
    {
        if (m_swapper.state() != QProcess::NotRunning) {
            writeAll(base + u"/out/stop"_s, "stop");
            m_swapper.waitForFinished(60'000);
        }
    }

    // Starts kNobody's swapping of each pair of names and returns once it
    // has begun.
    void startSwapping(const QStringList& pairs)
    {
        writeJob(base + u"/swap.txt"_s, {{u"pairs"_s, pairs.join(u'|')}, {u"stop"_s, base + u"/out/stop"_s}});
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QString::fromLatin1(kSwapperVariable), base + u"/swap.txt"_s);
        m_swapper.setProcessEnvironment(environment);
        m_swapper.setWorkingDirectory(reachableFolder());
        m_swapper.start(kSetpriv, asNobody({reachableProgram(QFile::decodeName(
                                              std::filesystem::read_symlink("/proc/self/exe").c_str()))}));
        QByteArray said;
        while (!said.contains("swapping\n") && m_swapper.waitForReadyRead(60'000))
            said += m_swapper.readAllStandardOutput();
        ASSERT_TRUE(said.contains("swapping\n")) << said.toStdString();
    }

    // Asks the helper `tries` times to move `items` to kNobody's Trash,
    // stopping early once anything in the all-users plug-in folders is
    // kNobody's; prints that, whatever root's work folders kept, then the
    // number of tries.
    QString race(const QStringList& items, int tries)
    {
        const QString script = uR"(set -u
mount --bind "$1" /etc/passwd && mount -t tmpfs hubtest /usr/local/lib && mount -t tmpfs hubtest /var/tmp || exit 90
mkdir -p /usr/local/lib/vst3 || exit 91
helper=$2
tries=$3
shift 3
n=0
while [ "$n" -lt "$tries" ]; do
  PKEXEC_UID=65534 "$helper" move-to-trash "$@" >/dev/null 2>&1
  n=$((n + 1))
  theirs=$(find /usr/local/lib -user 65534)
  [ -z "$theirs" ] || break
done
printf '%s\n' "$theirs"
ls -A /var/tmp
echo "tries $n"
)"_s;
        QProcess run;
        run.setProcessChannelMode(QProcess::MergedChannels);
        run.start(u"unshare"_s, QStringList{u"--mount"_s, u"sh"_s, u"-c"_s, script, u"sh"_s, passwd, helper,
                                            QString::number(tries), trash, QString::number(kNobody),
                                            QString::number(kNobody)}
                                    + items);
        EXPECT_TRUE(run.waitForFinished(300'000));
        writeAll(base + u"/out/stop"_s, "stop");
        EXPECT_TRUE(m_swapper.waitForFinished(60'000));
        return QString::fromUtf8(run.readAll());
    }

    QTemporaryDir m_dir;
    QProcess m_swapper;
    QString base;
    QString home;
    QString trash;
    QString helper;
    QString passwd;
};

TEST_F(TrashHelperRace, ACallersFolderSwappedForALinkNeverHandsThemWhatIsNotTheirs)
{
    // Another user's private folder, and a bundle of root's outside every
    // place the helper may take from.
    const QString privateFolder = base + u"/private"_s;
    const QString victim = bundle(privateFolder, u"Victim.vst3"_s);
    chownTree(privateFolder, 12345);
    ASSERT_EQ(::chmod(QFile::encodeName(privateFolder).constData(), 0700), 0);
    const QString rootsBundle = bundle(base + u"/roots"_s, u"Root.app"_s);
    const QStringList victimTree = treeListing(privateFolder);
    const QStringList rootsTree = treeListing(base + u"/roots"_s);
    using Link = std::pair<QString, QString>;
    for (const auto& [link, target] : {Link{u"/vst3-link"_s, privateFolder}, Link{u"/apps-link"_s, base + u"/roots"_s}}) {
        ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(home + link).constData()), 0);
        ASSERT_EQ(::lchown(QFile::encodeName(home + link).constData(), kNobody, kNobody), 0);
    }
    startSwapping({home + u"/.vst3"_s, home + u"/vst3-link"_s, home + u"/Applications"_s, home + u"/apps-link"_s});

    const QString out = race({home + u"/.vst3/Victim.vst3"_s, home + u"/Applications/Root.app"_s}, 300);

    EXPECT_EQ(out, u"\ntries 300\n"_s);
    EXPECT_EQ(treeListing(privateFolder), victimTree);
    EXPECT_EQ(treeListing(base + u"/roots"_s), rootsTree);
    EXPECT_TRUE(FileMoves::existsNoFollow(victim) && FileMoves::existsNoFollow(rootsBundle));
    EXPECT_EQ(entriesOf(trash + u"/files"_s), QStringList());
    EXPECT_EQ(entriesOf(trash + u"/info"_s), QStringList());
}

TEST_F(TrashHelperRace, AnItemThatCannotReachTheTrashNeverGoesBackThroughALink)
{
    // Every name the Trash could give the item is taken, so it would go back.
    const QString item = bundle(home + u"/.vst3"_s, u"Evil.vst3"_s);
    for (int number = 1; number <= 10000; ++number)
        writeAll(trash + u"/files/"_s + Trash::candidateName(u"Evil.vst3"_s, number), QByteArray());
    chownTree(home, kNobody);
    ASSERT_EQ(::symlink("/usr/local/lib/vst3", QFile::encodeName(home + u"/vst3-link"_s).constData()), 0);
    ASSERT_EQ(::lchown(QFile::encodeName(home + u"/vst3-link"_s).constData(), kNobody, kNobody), 0);
    startSwapping({home + u"/.vst3"_s, home + u"/vst3-link"_s});

    const QString out = race({home + u"/.vst3/Evil.vst3"_s}, 300);

    // Nothing of the caller's in the all-users folder, and the item where
    // it was, whichever name its folder ended under.
    EXPECT_EQ(out, u"\ntries 300\n"_s);
    EXPECT_TRUE(FileMoves::existsNoFollow(item) || FileMoves::existsNoFollow(home + u"/vst3-link/Evil.vst3"_s));
}

} // namespace

#include "UninstallTestSupport.h"

#include "AsOtherUser.h"
#include "QStringPrinter.h"

#include "Base/HubError.h"
#include "Installer/Placement/PrivilegedRunner.h"
#include "Installer/PluginInstaller.h"
#include "Platform/FileMoves.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

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

} // namespace

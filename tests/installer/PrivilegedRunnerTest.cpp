#include "Base/Config.h"
#include "Base/HubError.h"
#include "Installer/Packages/Installer.h"
#include "Installer/Placement/PrivilegedRunner.h"
#include "Installer/Placement/PrivilegedSteps.h"
#include "Installer/Removal/TrashScript.h"
#include "Platform/FileMoves.h"

#include "AsOtherUser.h"
#include "QStringPrinter.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace Qt::StringLiterals;
using Hub::Test::readFile;
using Hub::Test::writeFile;

namespace {

namespace Runner = Hub::PrivilegedRunner;

// --- The prompt is spliced into script text, so it is cleaned ----------

TEST(PromptCleaning, QuotesBackslashesAndLineBreaksAreDropped)
{
    const QString prompt = u"Tarnhub wants to \"move\"\\ Foo\nto\r\nthe\u2028Trash\u2029.\u0085\u000B\u000C"_s;
    EXPECT_EQ(Runner::cleanedPrompt(prompt), u"Tarnhub wants to move FoototheTrash."_s);
}

TEST(PromptCleaning, EveryOtherCharacterStaysWhole)
{
    const QString prompt = u"Instalar «Échos» 🎹 e\u0301 👩🏽‍💻 'single' & $HOME"_s;
    EXPECT_EQ(Runner::cleanedPrompt(prompt), prompt);
}

// --- The isolated-home runner: /bin/sh -c SCRIPT hub ARGS ---------------

TEST(IsolatedRunner, RunsTheScriptWithHubAsZeroAndTheArgumentsAsData)
{
    const auto result = Runner::runAsCurrentUser(u"ignored"_s, u"printf '%s|' \"$0\" \"$@\"; echo >&2 err; exit 4"_s,
                                                 {u"a b"_s, u"it's; rm -rf /"_s, u"$(id)"_s});
    EXPECT_EQ(result.status, 4);
    EXPECT_EQ(result.output, u"hub|a b|it's; rm -rf /|$(id)|err\n"_s);
}

// --- The administrator runner through pkexec ------------------------------

class PkexecRunner : public ::testing::Test {
protected:
    // A stand-in for pkexec that records its arguments, then behaves as told.
    QString fakePkexec(const QByteArray& behaviour)
    {
        const QString path = m_dir.filePath(u"pkexec"_s);
        writeFile(path,
                  "#!/bin/sh\nfor a in \"$@\"; do printf '<%s>' \"$a\"; done > '" + QFile::encodeName(m_dir.path())
                      + "/args'\n" + behaviour,
                  true);
        return path;
    }
    QByteArray recordedArguments() { return readFile(m_dir.filePath(u"args"_s)); }

    QTemporaryDir m_dir;
};

TEST_F(PkexecRunner, PassesShMinusCScriptHubAndTheArguments)
{
    const QString pkexec = fakePkexec("exec \"$@\"\n");
    const auto result = Runner::runWithPkexec(pkexec, u"echo \"$0:$1:$2\""_s, {u"x y"_s, u"z"_s}, 10.0);
    const QByteArray arguments = recordedArguments();
    EXPECT_TRUE(arguments.startsWith("</bin/sh><-c><")) << arguments.constData();
    EXPECT_TRUE(arguments.endsWith("><hub><echo \"$0:$1:$2\"><x y><z>")) << arguments.constData();
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, u"hub:x y:z\n"_s);
}

// An installed copy runs its one helper, which the polkit policy names, with
// the name of the script's step and the arguments as they are; the text
// stays behind. A script that is no step never reaches pkexec.
TEST_F(PkexecRunner, WithTheInstalledHelperPassesTheStepsNameAndTheArgumentsOnly)
{
    const QString pkexec = fakePkexec("echo done\n");
    const QString helper = QString::fromUtf8(HUB_ADMIN_HELPER);
    const QString script = Hub::TrashScript::text(Hub::TrashScript::Tools::installed());
    const auto result = Runner::runWithPkexec(pkexec, helper, script, {u"x y"_s, u"z"_s}, 10.0);
    EXPECT_EQ(recordedArguments(), "<" + helper.toUtf8() + "><move-to-trash><x y><z>");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, u"done\n"_s);

    QFile::remove(m_dir.filePath(u"args"_s));
    const auto foreign = Runner::runWithPkexec(pkexec, helper, u"echo \"$0:$1:$2\""_s, {u"x y"_s}, 10.0);
    EXPECT_EQ(foreign.status, 2);
    EXPECT_TRUE(foreign.output.startsWith(u"Tarnhub: "_s)) << foreign.output.toStdString();
    EXPECT_FALSE(QFileInfo::exists(m_dir.filePath(u"args"_s))) << "pkexec ran";
}

TEST_F(PkexecRunner, ADismissedDialogReadsAsACancelledPrompt)
{
    const QString pkexec = fakePkexec("echo 'Error executing command as another user: Request dismissed' >&2\nexit 126\n");
    const QString step = Hub::PrivilegedSteps::marker(Hub::PrivilegedSteps::Step::moveToTrash) + u"true"_s;
    for (const QString& helper : {QString(), QString::fromUtf8(HUB_ADMIN_HELPER)}) {
        SCOPED_TRACE(helper.isEmpty() ? "/bin/sh" : "the helper");
        const auto result = Runner::runWithPkexec(pkexec, helper, step, {}, 10.0);
        EXPECT_EQ(result.status, 126);
        EXPECT_TRUE(result.output.startsWith(u"Error executing command as another user: Request dismissed\n"_s));
        EXPECT_TRUE(result.output.contains(u"(-128)"_s));
    }
}

TEST_F(PkexecRunner, ARefusedAuthorisationIsNotACancellation)
{
    const QString pkexec = fakePkexec("echo 'Error executing command as another user: Not authorized' >&2\nexit 127\n");
    const auto result = Runner::runWithPkexec(pkexec, u"true"_s, {}, 10.0);
    EXPECT_EQ(result.status, 127);
    EXPECT_FALSE(result.output.contains(u"(-128)"_s));
}

TEST_F(PkexecRunner, AScriptFailureComesBackUnchanged)
{
    const QString pkexec = fakePkexec("exec \"$@\"\n");
    const auto result = Runner::runWithPkexec(pkexec, u"echo 'Tarnhub: bad arguments' >&2; exit 1"_s, {}, 10.0);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, u"Tarnhub: bad arguments\n"_s);
}

TEST_F(PkexecRunner, AScriptsOwnStatus126Or127NeverReadsAsTheDialog)
{
    // A tool that cannot execute (126) or is missing (127) inside the script,
    // through every runner that takes a script; the installed helper runs
    // its own steps through the same wrapper (shellArguments). The
    // self-update's install is the caller.
    struct Case {
        const char* name;
        QString script;
        QString output;
    };
    const Case cases[] = {
        {"a tool that cannot execute", u"echo 'Tarnhub: helper cannot execute' >&2; exit 126"_s,
         u"Tarnhub: helper cannot execute\n"_s},
        {"a missing tool", u"/nonexistent/helper 2>/dev/null; echo 'Tarnhub: helper missing' >&2; exit 127"_s,
         u"Tarnhub: helper missing\n"_s},
    };
    const QString pkexec = fakePkexec("exec \"$@\"\n");
    const std::pair<const char*, Hub::PrivilegedHook> runners[] = {
        {"isolated home", Runner::runAsCurrentUser},
        {"pkexec", [&](const QString&, const QString& script, const QStringList& arguments) {
             return Runner::runWithPkexec(pkexec, script, arguments, 60.0);
         }}};
    for (const auto& named : runners) {
        const Hub::PrivilegedHook& runner = named.second;
        for (const Case& row : cases) {
            SCOPED_TRACE(std::string(named.first) + ", " + row.name);
            const Hub::Shell::Result result = runner(u"prompt"_s, row.script, {});
            EXPECT_EQ(result.status, 125);
            EXPECT_EQ(result.output, row.output);

            QString sentence = u"no error"_s;
            try {
                Hub::Installer::install(u"/nonexistent/Tarnhub.pkg"_s, u"Tarnhub"_s, QString(64, u'a'), std::nullopt,
                                        std::nullopt, [&](const QString&, const QStringList& arguments) {
                                            return runner(u"prompt"_s, row.script, arguments);
                                        });
            } catch (const Hub::HubError& error) {
                sentence = error.kind() == Hub::HubError::Kind::cancelled ? u"<cancelled>"_s : error.errorDescription();
            }
            EXPECT_EQ(sentence, u"The installer failed.\n"_s + row.output);
        }
    }
}

// --- The helper does nothing but the hub's own steps -----------------------

// The helper run directly, as pkexec would run it for this test's own user,
// with requests no program of the hub makes: each is refused with one
// sentence and status 2 before anything runs, and nothing changes.
TEST(AdministratorsHelper, RefusesScriptsAndPathsOutsideItsPlaces)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // The folder is root's home for the helper (a private mount over /root,
    // which no other test sees): the places it names are root's own.
    const auto inHome = [](const QString& relative) -> QString { return u"/root/"_s + relative; };
    const QString staging = u".local/share/Tarn Hub/Staging"_s;
    const QString staged = inHome(staging + u"/install-1/Echos.vst3"_s);
    writeFile(dir.filePath(staging + u"/install-1/Echos.vst3/Contents/Info.plist"_s), "plist");
    writeFile(dir.filePath(staging + u"/install-3/Echos.vst3/Contents/Info.plist"_s), "plist");
    ASSERT_EQ(::chown(QFile::encodeName(dir.filePath(staging + u"/install-3"_s)).constData(), Hub::Test::kNobody,
                      Hub::Test::kNobody),
              0);
    const QString elsewhere = dir.filePath(u"elsewhere/Tarn Hub/Staging/install-1/Echos.vst3"_s);
    writeFile(elsewhere + u"/Contents/Info.plist"_s, "plist");
    const QString downloads = inHome(u".cache/Tarn Hub/Downloads"_s);
    writeFile(dir.filePath(u".cache/Tarn Hub/Downloads/echos.pkg"_s), "pkg");
    ASSERT_EQ(::symlink("install-1", QFile::encodeName(dir.filePath(staging + u"/install-2"_s)).constData()), 0);
    const QString trash = dir.filePath(u"Trash"_s);
    QDir().mkpath(trash + u"/files"_s);
    QDir().mkpath(trash + u"/info"_s);
    const QString victim = dir.filePath(u"victim"_s);
    writeFile(victim, "keep");
    const QString canary = dir.filePath(u"canary"_s);
    const QString outside = dir.filePath(u"outside/Echos.vst3"_s);
    const QString shared = u"/usr/local/lib/vst3/Echos.vst3"_s;
    const QString uid = QString::number(::getuid());
    const QString gid = QString::number(::getgid());
    const QString sum(64, u'a');
    const QString team = Hub::Config::teamID();

    struct Row {
        const char* what;
        const char* why; // words of the sentence
        QStringList arguments;
        QString pkexecUid = {}; // the test's own user when empty
    };
    const Row rows[] = {
        {"a script", "never a script", {u"touch '"_s + canary + u"'"_s}},
        {"a script behind a step's marker", "never a script",
         {Hub::PrivilegedSteps::marker(Hub::PrivilegedSteps::Step::moveToTrash) + u"touch '"_s + canary + u"'"_s}},
        {"a destination outside the places", "isn't a bundle in the place for all users", {u"place-for-all-users"_s, staged, outside, QString(), QString()}},
        {"a destination climbing out with ..", "isn't a bundle in the place for all users",
         {u"place-for-all-users"_s, staged, u"/usr/local/lib/vst3/../../../.."_s + outside, QString(), QString()}},
        {"a source climbing out with ..", "isn't a plain absolute path",
         {u"place-for-all-users"_s, inHome(staging) + u"/../../../victim"_s, u"/usr/local/lib/vst3/Echos.vst3"_s,
          QString(), QString()}},
        {"a source outside the staging folder", "isn't in your staging folder",
         {u"place-for-all-users"_s, victim, u"/usr/local/lib/vst3/Echos.vst3"_s, QString(), QString()}},
        {"a staging folder outside your data folder", "isn't in your staging folder",
         {u"place-for-all-users"_s, elsewhere, u"/usr/local/lib/vst3/Echos.vst3"_s, QString(), QString()}},
        {"a staging folder of another user", "isn't yours",
         {u"place-for-all-users"_s, inHome(staging + u"/install-3/Echos.vst3"_s), u"/usr/local/lib/vst3/Echos.vst3"_s,
          QString(), QString()}},
        {"a staging folder reached through a link", "a symbolic link leads there",
         {u"place-for-all-users"_s, inHome(staging + u"/install-2/Echos.vst3"_s), u"/usr/local/lib/vst3/Echos.vst3"_s,
          QString(), QString()}},
        {"a bundle put in another kind's place", "isn't a bundle in the place for all users",
         {u"place-for-all-users"_s, staged, u"/usr/local/lib/components/Echos.vst3"_s, QString(), QString()}},
        {"an item to trash outside the places", "isn't a bundle in a plug-in or applications place", {u"move-to-trash"_s, trash, uid, gid, victim}},
        {"a Trash that isn't one", "isn't your Trash", {u"move-to-trash"_s, dir.filePath(u"outside"_s), uid, gid, shared}},
        {"a folder of yours named Trash that isn't your Trash", "isn't your Trash", {u"move-to-trash"_s, trash, uid, gid, shared}},
        {"someone else's ids", "aren't yours", {u"move-to-trash"_s, trash, u"12345"_s, gid, shared}},
        {"your user id with a group you aren't in", "aren't yours", {u"move-to-trash"_s, trash, uid, u"12345"_s, shared}},
        {"a user id with a sign", "aren't yours", {u"move-to-trash"_s, trash, u'+' + uid, gid, shared}},
        {"a user id after a space", "aren't yours", {u"move-to-trash"_s, trash, u' ' + uid, gid, shared}},
        {"a user id with a leading zero", "aren't yours", {u"move-to-trash"_s, trash, u'0' + uid, gid, shared}},
        {"a group id with a leading zero", "aren't yours", {u"move-to-trash"_s, trash, uid, u'0' + gid, shared}},
        {"pkexec's user id with a sign", "runs only through pkexec", {u"move-to-trash"_s, trash, uid, gid, shared}, u'+' + uid},
        {"pkexec's user id with a leading zero", "runs only through pkexec", {u"move-to-trash"_s, trash, uid, gid, shared}, u'0' + uid},
        {"a package without the release's version", "only in the version its release names",
         {u"install-package"_s, downloads + u"/echos.pkg"_s, sum, u"pkg"_s, QString(), QString(), team, u"0"_s}},
        {"an older hub", "never replaced by an older version",
         {u"install-package"_s, downloads + u"/echos.pkg"_s, sum, u"pkg"_s, Hub::Config::bundleID(), u"0.0.1"_s, team,
          u"0"_s}},
        {"a package outside the downloads folder", "isn't in your downloads folder",
         {u"install-package"_s, victim, sum, u"pkg"_s, QString(), QString(), team, u"0"_s}},
        {"a package asked to skip its signature", "signed by the hub's own maker",
         {u"install-package"_s, downloads + u"/echos.pkg"_s, sum, u"pkg"_s, QString(), u"1.0"_s, team, u"1"_s}},
        {"a package of another team", "signed by the hub's own maker",
         {u"install-package"_s, downloads + u"/echos.pkg"_s, sum, u"pkg"_s, QString(), u"1.0"_s, u"OTHER"_s, u"0"_s}},
        // Every path fine: the build tree's helper has no bundle, so no
        // tools that only root may change.
        {"a helper outside an installed bundle", "installed bundle's helpers folder",
         {u"install-package"_s, downloads + u"/echos.pkg"_s, sum, u"pkg"_s, QString(), u"1.0.0"_s, team, u"0"_s}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"PKEXEC_UID"_s, row.pkexecUid.isEmpty() ? uid : row.pkexecUid);
        QProcess helper;
        helper.setProcessEnvironment(environment);
        helper.start(u"unshare"_s, QStringList{u"--mount"_s, u"sh"_s, u"-c"_s,
                                               u"mount --bind \"$0\" /root && exec \"$@\""_s, dir.path(),
                                               QString::fromUtf8(HUB_ADMIN_HELPER)}
                                       + row.arguments);
        ASSERT_TRUE(helper.waitForFinished(60000));
        const QString error = QString::fromUtf8(helper.readAllStandardError());
        EXPECT_EQ(helper.exitCode(), 2) << error.toStdString();
        EXPECT_TRUE(error.startsWith(u"hubtarn-admin: "_s) && error.endsWith(u".\n"_s) && error.count(u'\n') == 1)
            << error.toStdString();
        EXPECT_TRUE(error.contains(QString::fromUtf8(row.why))) << error.toStdString();
        EXPECT_TRUE(helper.readAllStandardOutput().isEmpty());
        EXPECT_FALSE(QFileInfo::exists(canary));
        EXPECT_FALSE(QFileInfo::exists(outside));
        EXPECT_EQ(readFile(victim), "keep");
        EXPECT_EQ(readFile(dir.filePath(staging + u"/install-1/Echos.vst3/Contents/Info.plist"_s)), "plist");
        EXPECT_TRUE(QDir(trash + u"/files"_s).isEmpty());
    }
}

// --- moveInto: a Trash stand-in that never overwrites ---------------------

class MoveInto : public ::testing::Test {
protected:
    QString item(const QString& name, const QByteArray& content)
    {
        const QString path = m_dir.filePath(u"source/"_s + name);
        writeFile(path, content);
        return path;
    }
    QString folder() const { return m_dir.filePath(u"bin/deep"_s); }

    QTemporaryDir m_dir;
};

TEST_F(MoveInto, NameClashesGetNumberedNamesAndNothingIsReplaced)
{
    const auto hook = Runner::moveInto(folder());
    EXPECT_EQ(hook(item(u"Foo.component"_s, "first")), QDir(folder()).filePath(u"Foo.component"_s));
    EXPECT_EQ(hook(item(u"Foo.component"_s, "second")), QDir(folder()).filePath(u"Foo 2.component"_s));
    EXPECT_EQ(hook(item(u"Foo.component"_s, "third")), QDir(folder()).filePath(u"Foo 3.component"_s));
    EXPECT_EQ(hook(item(u"Foo"_s, "plain")), QDir(folder()).filePath(u"Foo"_s));
    EXPECT_EQ(hook(item(u"Foo"_s, "plain again")), QDir(folder()).filePath(u"Foo 2"_s));

    EXPECT_EQ(readFile(QDir(folder()).filePath(u"Foo.component"_s)), "first");
    EXPECT_EQ(readFile(QDir(folder()).filePath(u"Foo 2.component"_s)), "second");
    EXPECT_EQ(readFile(QDir(folder()).filePath(u"Foo 3.component"_s)), "third");
    EXPECT_EQ(readFile(QDir(folder()).filePath(u"Foo 2"_s)), "plain again");
    EXPECT_FALSE(QFileInfo::exists(m_dir.filePath(u"source/Foo.component"_s)));
}

TEST_F(MoveInto, ADanglingLinkTakesItsName)
{
    QDir().mkpath(folder());
    ASSERT_EQ(::symlink("/nonexistent", QFile::encodeName(QDir(folder()).filePath(u"Bar.vst3"_s)).constData()), 0);
    const auto hook = Runner::moveInto(folder());
    EXPECT_EQ(hook(item(u"Bar.vst3"_s, "x")), QDir(folder()).filePath(u"Bar 2.vst3"_s));
    EXPECT_EQ(QFileInfo(QDir(folder()).filePath(u"Bar.vst3"_s)).symLinkTarget(), u"/nonexistent"_s);
}

TEST_F(MoveInto, AFolderMovesWithItsContentsUnderItsOwnName)
{
    // Given plainly, or with the trailing slashes a folder path may carry.
    for (const QString& given : {u"source/Baz.vst3"_s, u"source/Qux.vst3/"_s, u"source/Zap.vst3//"_s}) {
        SCOPED_TRACE(given.toStdString());
        const QString bundle = m_dir.filePath(given);
        writeFile(bundle + u"/Contents/MacOS/Baz"_s, "binary");
        const auto moved = Runner::moveInto(folder())(bundle);
        const QString name = given.split(u'/', Qt::SkipEmptyParts).last();
        EXPECT_EQ(moved, QDir(folder()).filePath(name));
        EXPECT_EQ(readFile(QDir(folder()).filePath(name) + u"/Contents/MacOS/Baz"_s), "binary");
        EXPECT_FALSE(QFileInfo::exists(bundle));
    }
}

TEST_F(MoveInto, FailuresAreThrownAndLeaveTheItem)
{
    // A missing item.
    EXPECT_THROW(Runner::moveInto(folder())(m_dir.filePath(u"source/none.vst3"_s)), Hub::FileError);

    // A folder that cannot be created because a file lies in its way.
    writeFile(m_dir.filePath(u"blocker"_s), "file");
    const QString kept = item(u"Kept.vst3"_s, "kept");
    try {
        Runner::moveInto(m_dir.filePath(u"blocker/inside"_s))(kept);
        ADD_FAILURE() << "expected a FileError";
    } catch (const Hub::FileError& error) {
        EXPECT_FALSE(error.description().isEmpty());
    }
    EXPECT_EQ(readFile(kept), "kept");
}

} // namespace

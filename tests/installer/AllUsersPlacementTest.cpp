#include "PlacementTestSupport.h"

#include "BundleFactory.h"
#include "BundleSigner.h"
#include "QStringPrinter.h"
#include "TestPKI.h"
#include "ToolsPaths.h"

#include "Base/Config.h"
#include "Base/HubError.h"
#include "Base/Process.h"
#include "Catalog/CatalogRecords.h"
#include "Installer/InstallErrors.h"
#include "Installer/InstallLocations.h"
#include "Installer/Placement/AllUsersScript.h"
#include "Installer/Placement/PrivilegedRunner.h"
#include "Installer/PluginInstaller.h"
#include "Platform/FileMoves.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <csignal>
#include <functional>
#include <future>
#include <memory>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace Hub;
using Hub::Test::BundlePlan;
using Hub::Test::treeListing;

namespace {

const QString kBundleID = u"com.tarnaudio.echo"_s;

void writeExecutable(const QString& path, const QString& text)
{
    Hub::Test::writeAll(path, text.toUtf8());
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                    | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
}

// A temporary system root, home and work root; the script's tools are the
// build tree's applets, with a codesign that trusts the test PKI and an mv
// that follows a plan of injected faults.
class AllUsersTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_pki = std::make_unique<Hub::Test::TestPKI>(); }
    static void TearDownTestSuite() { s_pki.reset(); }

    void SetUp() override
    {
        ASSERT_TRUE(m_tmp.isValid());
        const QString base = m_tmp.path();
        roots = {base + u"/home"_s, base + u"/system"_s, base + u"/Applications"_s, base + u"/support"_s};
        workRoot = base + u"/work"_s;
        shims = base + u"/shims"_s;
        staging = base + u"/staging"_s;
        for (const QString& folder : {roots.userHome, roots.system, roots.applications, roots.support, workRoot,
                                      shims, staging})
            ASSERT_TRUE(QDir().mkpath(folder));

        const QString anchors = shims + u"/anchors.pem"_s;
        Hub::Test::writeAll(anchors, s_pki->anchorPem());
        writeExecutable(shims + u"/codesign"_s, u"#!/bin/sh\nexec "_s + Hub::Shell::quoted(Hub::Test::buildTreeTools().codesign)
                                                    + u" --anchors="_s + Hub::Shell::quoted(anchors) + u" \"$@\"\n"_s);
        // One line per planned fault: "fail N" refuses the Nth move, "lie N"
        // makes it and then reports a failure, "refill N" makes it and then
        // puts a non-empty folder back where the moved item was. "hold N"
        // names the script's process in the FIFO "held" before the Nth move
        // and waits for a line in the FIFO "go".
        writeExecutable(shims + u"/mv"_s, u"#!/bin/sh\n"
                                          "dir="_s + Hub::Shell::quoted(shims) + u"\n"
                                          "n=$(( $(cat \"$dir/mv.count\" 2>/dev/null || echo 0) + 1 ))\n"
                                          "echo \"$n\" > \"$dir/mv.count\"\n"
                                          "printf '%s\\n' \"$*\" >> \"$dir/mv.log\"\n"
                                          "planned() { grep -qx \"$1 $n\" \"$dir/mv.plan\" 2>/dev/null; }\n"
                                          "if planned hold; then\n"
                                          "  echo \"$PPID\" > \"$dir/held\"; read go < \"$dir/go\"\n"
                                          "fi\n"
                                          "if planned fail; then echo \"mv: injected failure\" >&2; exit 1; fi\n"
                                          "/usr/bin/mv \"$@\"; status=$?\n"
                                          "if planned lie; then exit 1; fi\n"
                                          "if planned refill; then /usr/bin/mkdir -p \"$2/stray\"; fi\n"
                                          "exit $status\n"_s);

        tools = AllUsersScript::Tools::withApplets(Hub::Test::buildTreeTools());
        tools.codesign = shims + u"/codesign"_s;
        tools.mv = shims + u"/mv"_s;
        tools.workRoot = workRoot;
        // Locking to 0:0 needs root, which CI is; elsewhere the ownership
        // step is stood in for so the rest still runs for real.
        if (::geteuid() != 0) {
            writeExecutable(shims + u"/chown"_s, u"#!/bin/sh\nexit 0\n"_s);
            tools.chown = shims + u"/chown"_s;
        }

        installer = std::make_unique<PluginInstaller>(nullptr, false, 5.0);
        installer->tools = Hub::Test::buildTreeTools();
        installer->anchors = s_pki->anchors();
        installer->scriptTools = tools;
        installer->trashTools.workBase = workRoot;
        installer->trash = PrivilegedRunner::moveInto(base + u"/trash"_s);
        installer->privileged = [this](const QString& prompt, const QString& script, const QStringList& arguments) {
            prompts.append(prompt);
            Shell::Result result = PrivilegedRunner::runAsCurrentUser(prompt, script, arguments);
            if (afterRun)
                afterRun(int(prompts.size()), result);
            return result;
        };

        product.id = u"echo"_s;
        product.name = u"Echo"_s;
    }

    // A signed bundle of the maker (or `signer`) in `folder`.
    QString bundle(const QString& folder, const QString& name, const QString& version,
                   const Hub::Test::SigningIdentity* signer = nullptr)
    {
        BundlePlan layout;
        layout.name = name;
        layout.bundleID = kBundleID;
        layout.shortVersion = version;
        layout.withFile(u"Contents/Resources/version.txt"_s, version.toUtf8());
        const QString path = Hub::Test::BundleFactory::create(folder, layout);
        Hub::Test::signBundle(path, signer ? *signer : s_pki->maker());
        return path;
    }

    QString vst3Folder() const { return InstallLocations::folder(roots, PluginFormat::vst3, InstallScope::allUsers); }
    QString auFolder() const { return InstallLocations::folder(roots, PluginFormat::au, InstallScope::allUsers); }

    QString requirement() const { return CodeSignature::requirement(kBundleID, Config::teamID()); }

    Shell::Result runScript(const QStringList& arguments)
    {
        return PrivilegedRunner::runAsCurrentUser(u"test"_s, AllUsersScript::text(tools), arguments);
    }

    void plan(const QStringList& faults) { Hub::Test::writeAll(shims + u"/mv.plan"_s, faults.join(u'\n').toUtf8() + '\n'); }

    QStringList workFolders() const
    {
        return QDir(workRoot).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }

    // The work folder the script named as kept.
    static QString keptFolder(const QString& output)
    {
        const QString marker = u"originals preserved at "_s;
        const qsizetype at = output.lastIndexOf(marker);
        return at < 0 ? QString() : output.mid(at + marker.size()).section(u'\n', 0, 0);
    }

    static Artifact artifact(PluginFormat format, const QString& name)
    {
        Artifact artifact;
        artifact.format = format;
        artifact.bundle = name;
        artifact.bundleID = kBundleID;
        return artifact;
    }

    static std::unique_ptr<Hub::Test::TestPKI> s_pki;
    QTemporaryDir m_tmp;
    InstallRoots roots;
    QString workRoot;
    QString shims;
    QString staging;
    AllUsersScript::Tools tools;
    std::unique_ptr<PluginInstaller> installer;
    Product product;
    QStringList prompts;
    std::function<void(int call, Shell::Result& result)> afterRun;
};

std::unique_ptr<Hub::Test::TestPKI> AllUsersTest::s_pki;

// ---- The script: nothing is changed before every copy checks out -----------

using AllUsersScriptChecks = AllUsersTest;

TEST_F(AllUsersScriptChecks, BadArgumentsStopBeforeAnyFolderIsMade)
{
    const QString source = bundle(staging, u"Echo.vst3"_s, u"2.0.0"_s);
    const QString dest = vst3Folder() + u"/Echo.vst3"_s;
    const QList<QStringList> cases = {
        {},
        {source, dest, requirement()},
        {source, dest, requirement(), u"2.0.0"_s, source},
        {source, u"vst3/Echo.vst3"_s, requirement(), u"2.0.0"_s},
        {source, dest + u"/"_s, requirement(), u"2.0.0"_s},
    };
    for (const QStringList& arguments : cases) {
        const Shell::Result result = runScript(arguments);
        EXPECT_EQ(result.status, 1) << arguments.join(u' ').toStdString();
        EXPECT_EQ(result.output, u"Tarnhub: bad arguments\n"_s);
    }
    EXPECT_EQ(workFolders(), QStringList());
    EXPECT_FALSE(QFileInfo::exists(vst3Folder()));
}

TEST_F(AllUsersScriptChecks, RefusalInTheCheckPhaseLeavesEveryDestinationUntouched)
{
    bundle(vst3Folder(), u"Echo.vst3"_s, u"1.0.0"_s);
    bundle(auFolder(), u"Echo.component"_s, u"1.0.0"_s);
    const QString goodVST3 = bundle(staging, u"Echo.vst3"_s, u"2.0.0"_s);
    const QString goodAU = bundle(staging + u"/au"_s, u"Echo.component"_s, u"2.0.0"_s);
    const QString otherTeam = bundle(staging + u"/other"_s, u"Echo.component"_s, u"2.0.0"_s, &s_pki->otherTeam());
    // Intact, naming the maker's team, under a certificate of its own.
    const QString selfSigned =
        bundle(staging + u"/self"_s, u"Echo.component"_s, u"2.0.0"_s, &s_pki->selfSigned());
    const QString tampered = bundle(staging + u"/tampered"_s, u"Echo.component"_s, u"2.0.0"_s);
    Hub::Test::writeAll(tampered + u"/Contents/Resources/version.txt"_s, "changed");
    const QString plainFile = staging + u"/file/Echo.component"_s;
    Hub::Test::writeAll(plainFile, "not a bundle");
    // A file whose name holds a line of the script's kind: the check that
    // names it must not speak for the script.
    const QString planted = bundle(staging + u"/planted"_s, u"Echo.component"_s, u"2.0.0"_s);
    Hub::Test::writeAll(planted + u"/Contents/Resources/x\nTarnhub: your password is needed again"_s, "added");

    struct Case {
        QString source;
        QString requirement;
        QString wanted;
        QString reason;
    };
    const QList<Case> cases = {
        {otherTeam, requirement(), u"2.0.0"_s, u"Tarnhub: Echo.component isn't signed by Tarnaudio\n"_s},
        {tampered, QString(), u"2.0.0"_s, u"Tarnhub: Echo.component has a broken signature\n"_s},
        {selfSigned, QString(), u"2.0.0"_s, u"Tarnhub: Echo.component has a broken signature\n"_s},
        {goodAU, requirement(), u"2.1.0"_s, u"Tarnhub: Echo.component is version 2.0.0, not 2.1.0\n"_s},
        {staging + u"/missing/Echo.component"_s, requirement(), u"2.0.0"_s,
         u"Tarnhub: couldn't copy Echo.component\n"_s},
        {plainFile, requirement(), u"2.0.0"_s, u"Tarnhub: Echo.component isn't a bundle\n"_s},
        {planted, QString(), u"2.0.0"_s, u"Tarnhub: Echo.component has a broken signature\n"_s},
    };
    const QStringList vst3Before = treeListing(vst3Folder());
    const QStringList auBefore = treeListing(auFolder());
    for (const Case& c : cases) {
        const Shell::Result result = runScript({goodVST3, vst3Folder() + u"/Echo.vst3"_s, requirement(), u"2.0.0"_s,
                                                c.source, auFolder() + u"/Echo.component"_s, c.requirement, c.wanted});
        EXPECT_EQ(result.status, 1) << c.reason.toStdString();
        EXPECT_EQ(result.output, c.reason);
        EXPECT_EQ(treeListing(vst3Folder()), vst3Before) << c.reason.toStdString();
        EXPECT_EQ(treeListing(auFolder()), auBefore) << c.reason.toStdString();
        EXPECT_EQ(workFolders(), QStringList()) << c.reason.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(shims + u"/mv.log"_s)) << "nothing may be moved before every check passed";
}

TEST_F(AllUsersScriptChecks, ALockingFailureRefusesBeforeAnyMove)
{
    writeExecutable(shims + u"/chown"_s, u"#!/bin/sh\necho 'chown: Operation not permitted' >&2\nexit 1\n"_s);
    tools.chown = shims + u"/chown"_s;
    bundle(vst3Folder(), u"Echo.vst3"_s, u"1.0.0"_s);
    const QStringList before = treeListing(vst3Folder());
    const Shell::Result result =
        runScript({bundle(staging, u"Echo.vst3"_s, u"2.0.0"_s), vst3Folder() + u"/Echo.vst3"_s, requirement(), u"2.0.0"_s});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.output.endsWith(u"Tarnhub: couldn't lock Echo.vst3\n"_s)) << result.output.toStdString();
    EXPECT_EQ(treeListing(vst3Folder()), before);
    EXPECT_EQ(workFolders(), QStringList());
}

// ---- The script: placing, and undoing a swap from what lies on the disk -----

using AllUsersScriptSwap = AllUsersTest;

TEST_F(AllUsersScriptSwap, PlacesLockedCopiesAndLeavesNoWorkFolder)
{
    bundle(vst3Folder(), u"Echo.vst3"_s, u"1.0.0"_s);
    // A link at the destination is replaced as a link: what it points to stays.
    const QString elsewhere = bundle(roots.userHome + u"/elsewhere"_s, u"Echo.component"_s, u"0.9.0"_s);
    QDir().mkpath(auFolder());
    ASSERT_TRUE(QFile::link(elsewhere, auFolder() + u"/Echo.component"_s));
    const QStringList elsewhereBefore = treeListing(elsewhere);

    const Shell::Result result =
        runScript({bundle(staging, u"Echo.vst3"_s, u"2.0.0"_s), vst3Folder() + u"/Echo.vst3"_s, requirement(), u"2.0.0"_s,
                   bundle(staging + u"/au"_s, u"Echo.component"_s, u"2.0.0"_s), auFolder() + u"/Echo.component"_s,
                   requirement(), u"2.0.0"_s,
                   bundle(staging + u"/app"_s, u"Echo.app"_s, u"2.0.0"_s), roots.applications + u"/New/Echo.app"_s,
                   QString(), QString()});
    ASSERT_EQ(result.status, 0) << result.output.toStdString();

    for (const QString& placed : QStringList{vst3Folder() + u"/Echo.vst3"_s, auFolder() + u"/Echo.component"_s,
                                             roots.applications + u"/New/Echo.app"_s}) {
        EXPECT_EQ(PluginInstaller::shortVersion(placed), u"2.0.0"_s) << placed.toStdString();
        EXPECT_NO_THROW(CodeSignature::verify(placed, kBundleID, false, s_pki->anchors()));
        struct stat st {};
        ASSERT_EQ(::lstat(QFile::encodeName(placed).constData(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_mode & (S_IWGRP | S_IWOTH), 0u);
        if (::geteuid() == 0) {
            EXPECT_EQ(st.st_uid, 0u);
        }
    }
    EXPECT_EQ(treeListing(elsewhere), elsewhereBefore);
    EXPECT_EQ(workFolders(), QStringList());
}

TEST_F(AllUsersScriptSwap, AFailedSwapIsUndone)
{
    bundle(vst3Folder(), u"Echo.vst3"_s, u"1.0.0"_s);
    bundle(auFolder(), u"Echo.component"_s, u"1.0.0"_s);
    const QStringList vst3Before = treeListing(vst3Folder());
    const QStringList auBefore = treeListing(auFolder());
    const QStringList arguments{bundle(staging, u"Echo.vst3"_s, u"2.0.0"_s), vst3Folder() + u"/Echo.vst3"_s,
                                requirement(), u"2.0.0"_s,
                                bundle(staging + u"/au"_s, u"Echo.component"_s, u"2.0.0"_s),
                                auFolder() + u"/Echo.component"_s, requirement(), u"2.0.0"_s};

    // Moves: 1 VST3 aside, 2 VST3 placed, 3 AU aside, 4 AU placed.
    for (int failing = 1; failing <= 4; ++failing) {
        QFile::remove(shims + u"/mv.count"_s);
        plan({u"fail "_s + QString::number(failing)});
        const Shell::Result result = runScript(arguments);
        EXPECT_EQ(result.status, 1) << failing;
        EXPECT_TRUE(result.output.endsWith(u"Tarnhub: couldn't put the new copy in place; the previous one was kept\n"_s))
            << result.output.toStdString();
        EXPECT_EQ(treeListing(vst3Folder()), vst3Before) << failing;
        EXPECT_EQ(treeListing(auFolder()), auBefore) << failing;
        EXPECT_EQ(workFolders(), QStringList()) << failing;
    }
}

TEST_F(AllUsersScriptSwap, AFailedUndoKeepsTheWorkFolderAndNamesIt)
{
    bundle(vst3Folder(), u"Echo.vst3"_s, u"1.0.0"_s);
    const QStringList oldVST3 = treeListing(vst3Folder() + u"/Echo.vst3"_s);
    bundle(auFolder(), u"Echo.component"_s, u"1.0.0"_s);
    const QStringList auBefore = treeListing(auFolder());

    // 4: the AU's placing fails; 5: the undo can't take the placed VST3 away.
    plan({u"fail 4"_s, u"fail 5"_s});
    const Shell::Result result =
        runScript({bundle(staging, u"Echo.vst3"_s, u"2.0.0"_s), vst3Folder() + u"/Echo.vst3"_s, requirement(), u"2.0.0"_s,
                   bundle(staging + u"/au"_s, u"Echo.component"_s, u"2.0.0"_s), auFolder() + u"/Echo.component"_s,
                   requirement(), u"2.0.0"_s});
    EXPECT_EQ(result.status, 1);
    const QString kept = keptFolder(result.output);
    ASSERT_FALSE(kept.isEmpty()) << result.output.toStdString();
    EXPECT_TRUE(result.output.contains(u"Tarnhub: couldn't finish recovery; originals preserved at "_s + kept + u'\n'));
    EXPECT_TRUE(kept.startsWith(workRoot + u"/hubtarn."_s));
    EXPECT_EQ(workFolders(), QStringList{QFileInfo(kept).fileName()});
    // The previous VST3 waits in the kept folder, whole; the AU was put back.
    EXPECT_EQ(treeListing(kept + u"/1/old"_s), oldVST3);
    EXPECT_EQ(treeListing(auFolder()), auBefore);
}

// A move that happened but was reported as failed is the case where notes
// taken along the way and the disk disagree: the undo must follow the disk.
TEST_F(AllUsersScriptSwap, AMoveReportedFailedAfterItHappenedNeverLosesTheInstalledBundle)
{
    bundle(vst3Folder(), u"Echo.vst3"_s, u"1.0.0"_s);
    const QStringList vst3Before = treeListing(vst3Folder());
    QDir().mkpath(auFolder());
    const QStringList auBefore = treeListing(auFolder());
    const QStringList arguments{bundle(staging, u"Echo.vst3"_s, u"2.0.0"_s), vst3Folder() + u"/Echo.vst3"_s,
                                requirement(), u"2.0.0"_s,
                                bundle(staging + u"/au"_s, u"Echo.component"_s, u"2.0.0"_s),
                                auFolder() + u"/Echo.component"_s, requirement(), u"2.0.0"_s};

    // Moves: 1 VST3 aside, 2 VST3 placed, 3 AU placed (nothing was there).
    for (int lying = 1; lying <= 3; ++lying) {
        QFile::remove(shims + u"/mv.count"_s);
        plan({u"lie "_s + QString::number(lying)});
        const Shell::Result result = runScript(arguments);
        EXPECT_EQ(result.status, 1) << lying;
        EXPECT_TRUE(result.output.endsWith(u"Tarnhub: couldn't put the new copy in place; the previous one was kept\n"_s))
            << result.output.toStdString();
        EXPECT_EQ(treeListing(vst3Folder()), vst3Before) << lying;
        EXPECT_EQ(treeListing(auFolder()), auBefore) << lying;
        EXPECT_EQ(workFolders(), QStringList()) << lying;
    }
}

// A stop request is a failure like any other: during the checks it leaves
// every destination as it was; once the installed bundle is aside the undo
// puts it back, or the kept folder is named.
TEST_F(AllUsersScriptSwap, AStopRequestEndsTheRunLikeAFailure)
{
    bundle(vst3Folder(), u"Echo.vst3"_s, u"1.0.0"_s);
    const QStringList vst3Before = treeListing(vst3Folder());
    const QStringList oldVST3 = treeListing(vst3Folder() + u"/Echo.vst3"_s);
    const QStringList arguments{bundle(staging, u"Echo.vst3"_s, u"2.0.0"_s), vst3Folder() + u"/Echo.vst3"_s,
                                requirement(), u"2.0.0"_s};
    const QString held = shims + u"/held"_s;
    const QString go = shims + u"/go"_s;
    ASSERT_EQ(::mkfifo(QFile::encodeName(held).constData(), 0600), 0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(go).constData(), 0600), 0);
    const QString checking = tools.codesign;
    const QString holdingCheck = shims + u"/codesign-held"_s;
    writeExecutable(holdingCheck, u"#!/bin/sh\necho \"$PPID\" > "_s + Hub::Shell::quoted(held) + u"\nread go < "_s
                                      + Hub::Shell::quoted(go) + u"\nexec "_s + Hub::Shell::quoted(checking)
                                      + u" \"$@\"\n"_s);

    enum class Outcome { untouched, undone, kept };
    // Moves: 1 VST3 aside, 2 VST3 placed (the request arrives while it is
    // under way), then the undo's 3 placed copy out and 4 previous one back.
    const struct {
        int signal;
        QStringList faults;
        Outcome outcome;
    } cases[] = {
        {SIGTERM, {}, Outcome::untouched},
        {SIGTERM, {u"hold 2"_s}, Outcome::undone},
        {SIGINT, {u"hold 2"_s}, Outcome::undone},
        {SIGHUP, {u"hold 2"_s, u"fail 4"_s}, Outcome::kept},
    };
    for (const auto& c : cases) {
        QFile::remove(shims + u"/mv.count"_s);
        QFile::remove(shims + u"/mv.log"_s);
        plan(c.faults);
        tools.codesign = c.outcome == Outcome::untouched ? holdingCheck : checking;
        std::future<Shell::Result> run = std::async(std::launch::async, [&] { return runScript(arguments); });

        const int heldFd = ::open(QFile::encodeName(held).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(heldFd, 0);
        pollfd ready{heldFd, POLLIN, 0};
        const bool reached = ::poll(&ready, 1, 120'000) == 1;
        char line[32] = {};
        const ssize_t got = reached ? ::read(heldFd, line, sizeof line - 1) : -1;
        ::close(heldFd);
        ASSERT_GT(got, 0) << "the script never reached the held step";
        // From here the shim waits for "go": no early return may leave it waiting.
        const pid_t script = pid_t(std::atol(line));
        EXPECT_GT(script, 1);
        if (script > 1) {
            EXPECT_EQ(::kill(script, c.signal), 0);
        }
        const int goFd = ::open(QFile::encodeName(go).constData(), O_WRONLY | O_CLOEXEC);
        EXPECT_EQ(goFd >= 0 ? ::write(goFd, "\n", 1) : -1, 1);
        ::close(goFd);

        const Shell::Result result = run.get();
        EXPECT_EQ(result.status, 1) << c.signal << result.output.toStdString();
        switch (c.outcome) {
        case Outcome::untouched:
            EXPECT_EQ(result.output, u"Tarnhub: stopped before anything was placed\n"_s);
            EXPECT_FALSE(QFileInfo::exists(shims + u"/mv.log"_s)) << "nothing may be moved";
            break;
        case Outcome::undone:
            EXPECT_TRUE(result.output.endsWith(
                u"Tarnhub: couldn't put the new copy in place; the previous one was kept\n"_s))
                << result.output.toStdString();
            break;
        case Outcome::kept: {
            const QString kept = keptFolder(result.output);
            ASSERT_FALSE(kept.isEmpty()) << result.output.toStdString();
            EXPECT_TRUE(result.output.contains(u"Tarnhub: couldn't finish recovery; originals preserved at "_s + kept));
            EXPECT_EQ(treeListing(kept + u"/1/old"_s), oldVST3);
            continue;
        }
        }
        EXPECT_EQ(treeListing(vst3Folder()), vst3Before) << c.signal;
        EXPECT_EQ(workFolders(), QStringList()) << c.signal;
    }
}

TEST_F(AllUsersScriptSwap, ABundleIsNeverMovedIntoAFolderThatReappearedAtItsPath)
{
    bundle(vst3Folder(), u"Echo.vst3"_s, u"1.0.0"_s);
    const QStringList oldVST3 = treeListing(vst3Folder() + u"/Echo.vst3"_s);

    // Right after the installed bundle is moved aside, a folder is back.
    plan({u"refill 1"_s});
    const Shell::Result result =
        runScript({bundle(staging, u"Echo.vst3"_s, u"2.0.0"_s), vst3Folder() + u"/Echo.vst3"_s, requirement(), u"2.0.0"_s});
    EXPECT_EQ(result.status, 1);
    const QString kept = keptFolder(result.output);
    ASSERT_FALSE(kept.isEmpty()) << result.output.toStdString();
    EXPECT_EQ(QDir(vst3Folder() + u"/Echo.vst3"_s).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{u"stray"_s});
    EXPECT_EQ(treeListing(kept + u"/1/old"_s), oldVST3);
    EXPECT_EQ(PluginInstaller::shortVersion(kept + u"/1/Echo.vst3"_s), u"2.0.0"_s);
}

// ---- The installer: one prompt, results in order, and both failure paths ----

using AllUsersPlacement = AllUsersTest;

TEST_F(AllUsersPlacement, PlacesEveryFormatWithOnePromptAndAnswersInInputOrder)
{
    bundle(vst3Folder(), u"Echo.vst3"_s, u"1.0.0"_s);
    bundle(roots.applications, u"Echo.app"_s, u"1.0.0"_s);
    const QList<StagedBundle> staged{
        {artifact(PluginFormat::app, u"Echo.app"_s), bundle(staging + u"/app"_s, u"Echo.app"_s, u"2.0.0"_s)},
        {artifact(PluginFormat::vst3, u"Echo.vst3"_s), bundle(staging + u"/vst3"_s, u"Echo.vst3"_s, u"2.0.0"_s)},
        {artifact(PluginFormat::au, u"Echo.component"_s), bundle(staging + u"/au"_s, u"Echo.component"_s, u"2.0.0"_s)},
    };
    const QList<InstalledFormat> results =
        installer->installForAllUsers(staged, product, roots, staging + u"/spares.txt"_s);

    const QList<InstalledFormat> expected{
        {PluginFormat::app, roots.applications + u"/Echo.app"_s, u"2.0.0"_s},
        {PluginFormat::vst3, vst3Folder() + u"/Echo.vst3"_s, u"2.0.0"_s},
        {PluginFormat::au, auFolder() + u"/Echo.component"_s, u"2.0.0"_s},
    };
    EXPECT_EQ(results, expected);
    // Where Linux hosts look for every user's plug-ins, and found there again.
    EXPECT_EQ(results[1].path, roots.system + u"/usr/local/lib/vst3/Echo.vst3"_s);
    EXPECT_EQ(InstallLocations::scope(results[1].path, PluginFormat::vst3, roots), InstallScope::allUsers);
    Product scanned = product;
    scanned.release = Release{};
    scanned.release->artifacts = std::vector{staged[1].artifact};
    EXPECT_EQ(InstallLocations::installed(scanned, roots), QList<InstalledFormat>{expected[1]});
    EXPECT_EQ(prompts, QStringList{u"Tarnhub wants to install echo for all users."_s});
    for (const InstalledFormat& placed : expected)
        EXPECT_NO_THROW(CodeSignature::verify(placed.path, kBundleID, false, s_pki->anchors()));
    // The previous application waited under a spare name until the end.
    EXPECT_EQ(Hub::Test::spareNames(roots.applications), QStringList());
    const QString backups = PluginInstaller::backupsFolder(roots, product.id);
    EXPECT_TRUE(QFileInfo::exists(backups + u"/1.0.0-vst3.zip"_s));
    EXPECT_TRUE(QFileInfo::exists(backups + u"/1.0.0-app.zip"_s));
    EXPECT_EQ(workFolders(), QStringList());
}

TEST_F(AllUsersPlacement, AnApplicationAloneInAWritableFolderNeedsNoPrompt)
{
    const QList<StagedBundle> staged{
        {artifact(PluginFormat::app, u"Echo.app"_s), bundle(staging, u"Echo.app"_s, u"2.0.0"_s)}};
    const QList<InstalledFormat> results = installer->installForAllUsers(staged, product, roots, std::nullopt);
    EXPECT_EQ(results, (QList<InstalledFormat>{{PluginFormat::app, roots.applications + u"/Echo.app"_s, u"2.0.0"_s}}));
    EXPECT_EQ(prompts, QStringList());
}

TEST_F(AllUsersPlacement, AnApplicationsFolderThatIsNotWritableGoesThroughTheScript)
{
    // A missing folder fails the writability test, as a root-owned one does.
    roots.applications = m_tmp.path() + u"/Missing Applications"_s;
    const QList<StagedBundle> staged{
        {artifact(PluginFormat::app, u"Echo.app"_s), bundle(staging, u"Echo.app"_s, u"2.0.0"_s)}};
    const QList<InstalledFormat> results = installer->installForAllUsers(staged, product, roots, std::nullopt);
    EXPECT_EQ(results, (QList<InstalledFormat>{{PluginFormat::app, roots.applications + u"/Echo.app"_s, u"2.0.0"_s}}));
    EXPECT_EQ(prompts.size(), 1);
}

using AllUsersPlacementFailure = AllUsersTest;

// An installed application replaced per user plus a VST3 for the script:
// every failure before or inside the script must leave both as they were.
class AllUsersPlacementBeforePlacing : public AllUsersTest {
protected:
    void SetUp() override
    {
        AllUsersTest::SetUp();
        bundle(vst3Folder(), u"Echo.vst3"_s, u"1.0.0"_s);
        bundle(roots.applications, u"Echo.app"_s, u"1.0.0"_s);
        vst3Before = treeListing(vst3Folder());
        appBefore = treeListing(roots.applications);
        staged = {
            {artifact(PluginFormat::app, u"Echo.app"_s), bundle(staging + u"/app"_s, u"Echo.app"_s, u"2.0.0"_s)},
            {artifact(PluginFormat::vst3, u"Echo.vst3"_s), bundle(staging + u"/vst3"_s, u"Echo.vst3"_s, u"2.0.0"_s)},
        };
    }

    void expectUntouched()
    {
        EXPECT_EQ(treeListing(vst3Folder()), vst3Before);
        EXPECT_EQ(treeListing(roots.applications), appBefore);
    }

    QStringList vst3Before;
    QStringList appBefore;
    QList<StagedBundle> staged;
};

TEST_F(AllUsersPlacementBeforePlacing, ACancelledPromptIsCancelledAndRollsBackTheApplication)
{
    installer->privileged = [this](const QString& prompt, const QString&, const QStringList&) {
        prompts.append(prompt);
        return Shell::Result{1, u"0:180: execution error: User canceled. (-128)\n"_s};
    };
    try {
        installer->installForAllUsers(staged, product, roots, staging + u"/spares.txt"_s);
        FAIL() << "no error";
    } catch (const HubError& error) {
        EXPECT_EQ(error.kind(), HubError::Kind::cancelled);
    }
    expectUntouched();
}

TEST_F(AllUsersPlacementBeforePlacing, OnlyTheParenthesisedCodeCountsAsACancellation)
{
    installer->privileged = [](const QString&, const QString&, const QStringList&) {
        return Shell::Result{1, u"Tarnhub: couldn't copy Echo.vst3 (error -128 on read)\n"_s};
    };
    try {
        installer->installForAllUsers(staged, product, roots, std::nullopt);
        FAIL() << "no error";
    } catch (const HubError& error) {
        EXPECT_EQ(error.kind(), HubError::Kind::message);
    }
    expectUntouched();
}

// The script's refusal is the hub's sentence with the script's reason; the
// tool's own line before it, naming the copy in the root-only work folder,
// and the staging folder are not shown.
TEST_F(AllUsersPlacementBeforePlacing, ARefusalOfTheScriptIsTheSentenceWithItsReasonAndNoPath)
{
    staged[1].bundle = bundle(staging + u"/other"_s, u"Echo.vst3"_s, u"2.0.0"_s, &s_pki->otherTeam());
    try {
        installer->installForAllUsers(staged, product, roots, std::nullopt);
        FAIL() << "no error";
    } catch (const HubError& error) {
        EXPECT_EQ(error.errorDescription(), u"The install failed.\nTarnhub: Echo.vst3 isn't signed by Tarnaudio\n"_s);
    }
    expectUntouched();
    EXPECT_EQ(workFolders(), QStringList());
}

// Whatever else the privileged run printed (a tool, pkexec, the
// administrator's helper refusing a path) is not the hub's to show: the
// sentence says the install failed, with the script's own reason when it
// gave one, never a path of the tool's.
TEST_F(AllUsersPlacementBeforePlacing, OutputThatIsNotTheScriptsOwnIsNeverShown)
{
    const QString stagedPath = staged[1].bundle;
    const QString longReason = u"Tarnhub: "_s + QString(400, u'x') + u"\U0001F3B9"_s + QString(298, u'y') + u'\n';
    struct Row {
        const char* label;
        int status;
        QString output;
        QString sentence;
    };
    const Row rows[] = {
        {"the administrator's helper refusing the staged copy", 2,
         u"hubtarn-admin: "_s + stagedPath + u" was refused: it isn't yours.\n"_s, u"The install failed."_s},
        {"pkexec refusing", 127, u"Error executing command as another user: Not authorized\n"_s,
         u"The install failed."_s},
        {"a tool's lines around the script's reason", 1,
         u"/var/tmp/hubtarn.Ab12Cd/2/Echo.vst3: test-requirement: code failed to satisfy\n"
         u"Tarnhub: Echo.vst3 isn't signed by Tarnaudio\nditto: "_s + stagedPath + u": No such file\n"_s,
         u"The install failed.\nTarnhub: Echo.vst3 isn't signed by Tarnaudio\n"_s},
        // 300 characters of the reason, the first of them the keyboard emoji, whole.
        {"a long reason", 1, u"codesign: noise\n"_s + longReason, u"The install failed.\n"_s + longReason.right(301)},
        {"a tool claiming a recovery", 1, u"mv: originals preserved at /tmp/elsewhere\n"_s, u"The install failed."_s},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        installer->privileged = [&](const QString&, const QString&, const QStringList&) {
            return Shell::Result{row.status, row.output};
        };
        try {
            // The plug-in alone: only the script's run decides.
            installer->installForAllUsers({staged[1]}, product, roots, std::nullopt);
            FAIL() << "no error";
        } catch (const HubError& error) {
            EXPECT_EQ(error.errorDescription(), row.sentence);
        }
        expectUntouched();
    }
}

TEST_F(AllUsersPlacementBeforePlacing, AFailedSwapUndoneByTheScriptIsAnInstallFailure)
{
    plan({u"fail 2"_s});
    try {
        installer->installForAllUsers(staged, product, roots, std::nullopt);
        FAIL() << "no error";
    } catch (const HubError& error) {
        EXPECT_TRUE(error.errorDescription().startsWith(u"The install failed.\n"_s));
        EXPECT_TRUE(error.errorDescription().endsWith(
            u"Tarnhub: couldn't put the new copy in place; the previous one was kept\n"_s));
    }
    expectUntouched();
    EXPECT_EQ(Hub::Test::spareNames(roots.applications), QStringList());
}

TEST_F(AllUsersPlacementBeforePlacing, AFailedUndoIsARecoveryErrorNamingTheKeptFolder)
{
    // 1 aside, 2 placed but reported failed, 3 the undo can't take it away.
    plan({u"lie 2"_s, u"fail 3"_s});
    try {
        installer->installForAllUsers(staged, product, roots, std::nullopt);
        FAIL() << "no error";
    } catch (const InstallRecoveryError& error) {
        const QString kept = keptFolder(error.message);
        ASSERT_FALSE(kept.isEmpty()) << error.message.toStdString();
        EXPECT_TRUE(QFileInfo(kept + u"/1/old"_s).isDir());
        EXPECT_EQ(PluginInstaller::shortVersion(kept + u"/1/old"_s), u"1.0.0"_s);
    }
    // The application was the installer's own to put back.
    EXPECT_EQ(treeListing(roots.applications), appBefore);
}

TEST_F(AllUsersPlacementBeforePlacing, ABundleWithoutAUsableIdentifierIsRefusedBeforeThePrompt)
{
    for (const std::optional<QString>& id : {std::optional<QString>(u"com.tarnaudio.echo\"; true"_s),
                                             std::optional<QString>(u""_s), std::optional<QString>(QString(256, u'a'))}) {
        staged[0].bundle = bundle(staging + u"/app"_s, u"Echo.app"_s, u"2.0.0"_s);
        staged[1].artifact.bundleID = id;
        try {
            installer->installForAllUsers(staged, product, roots, std::nullopt);
            FAIL() << "no error";
        } catch (const HubError& error) {
            EXPECT_EQ(error.errorDescription(), u"This release has no usable bundle id, so the hub won't install it."_s);
        }
        expectUntouched();
    }
    EXPECT_EQ(prompts, QStringList());
}

// ---- The installer: a check failing after the run puts the previous back ----

TEST_F(AllUsersPlacementFailure, ACheckFailingAfterTheRunRestoresThePreviousVersions)
{
    bundle(vst3Folder(), u"Echo.vst3"_s, u"1.0.0"_s);
    bundle(roots.applications, u"Echo.app"_s, u"1.0.0"_s);
    const QStringList appBefore = treeListing(roots.applications);
    const QList<StagedBundle> staged{
        {artifact(PluginFormat::vst3, u"Echo.vst3"_s), bundle(staging + u"/vst3"_s, u"Echo.vst3"_s, u"2.0.0"_s)},
        {artifact(PluginFormat::au, u"Echo.component"_s), bundle(staging + u"/au"_s, u"Echo.component"_s, u"2.0.0"_s)},
        {artifact(PluginFormat::app, u"Echo.app"_s), bundle(staging + u"/app"_s, u"Echo.app"_s, u"2.0.0"_s)},
    };
    // Between the run and the check, the placed VST3 changes.
    afterRun = [this](int call, Shell::Result&) {
        if (call == 1)
            Hub::Test::writeAll(vst3Folder() + u"/Echo.vst3/Contents/Resources/version.txt"_s, "changed");
    };
    try {
        installer->installForAllUsers(staged, product, roots, std::nullopt);
        FAIL() << "no error";
    } catch (const InstallRecoveryError& error) {
        FAIL() << error.message.toStdString();
    } catch (const HubError& error) {
        // Everything was put back, so the user sees why.
        EXPECT_EQ(error.kind(), HubError::Kind::message);
        EXPECT_TRUE(error.errorDescription().contains(u"version.txt"_s)) << error.errorDescription().toStdString();
    }
    EXPECT_EQ(prompts, (QStringList{u"Tarnhub wants to install echo for all users."_s,
                                    u"Tarnhub wants to put back the previous echo."_s,
                                    u"Tarnhub wants to move echo to the Trash."_s}));
    EXPECT_EQ(PluginInstaller::shortVersion(vst3Folder() + u"/Echo.vst3"_s), u"1.0.0"_s);
    EXPECT_NO_THROW(CodeSignature::verify(vst3Folder() + u"/Echo.vst3"_s, kBundleID, false, s_pki->anchors()));
    // The fresh Audio Unit went to the Trash; the application was rolled back.
    EXPECT_FALSE(FileMoves::existsNoFollow(auFolder() + u"/Echo.component"_s));
    EXPECT_TRUE(QFileInfo(roots.userHome + u"/.local/share/Trash/files/Echo.component"_s).isDir());
    EXPECT_EQ(treeListing(roots.applications), appBefore);
    EXPECT_EQ(QDir(PluginInstaller::stagingRoot(roots)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList());
    EXPECT_EQ(workFolders(), QStringList());
}

TEST_F(AllUsersPlacementFailure, ARestoreThatCannotFinishIsARecoveryError)
{
    bundle(vst3Folder(), u"Echo.vst3"_s, u"1.0.0"_s);
    const QList<StagedBundle> staged{
        {artifact(PluginFormat::vst3, u"Echo.vst3"_s), bundle(staging + u"/vst3"_s, u"Echo.vst3"_s, u"2.0.0"_s)}};
    // The placed copy changes and its archive is unreadable: nothing to put back.
    afterRun = [this](int call, Shell::Result&) {
        if (call != 1)
            return;
        Hub::Test::writeAll(vst3Folder() + u"/Echo.vst3/Contents/Resources/version.txt"_s, "changed");
        Hub::Test::writeAll(PluginInstaller::backupsFolder(roots, product.id) + u"/1.0.0-vst3.zip"_s, "not a zip");
    };
    try {
        installer->installForAllUsers(staged, product, roots, std::nullopt);
        FAIL() << "no error";
    } catch (const InstallRecoveryError& error) {
        EXPECT_TRUE(error.message.endsWith(u"Installation could not be fully restored. "_s))
            << error.message.toStdString();
    }
    // The copy that failed its check is not left in use.
    EXPECT_FALSE(FileMoves::existsNoFollow(vst3Folder() + u"/Echo.vst3"_s));
    EXPECT_EQ(prompts.size(), 2);
}

} // namespace

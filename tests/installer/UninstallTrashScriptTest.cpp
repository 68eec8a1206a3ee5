#include "UninstallTestSupport.h"

#include "AsOtherUser.h"
#include "BundleSigner.h"
#include "QStringPrinter.h"
#include "ToolsPaths.h"

#include "Base/Config.h"
#include "Base/HubError.h"
#include "Installer/Placement/PrivilegedRunner.h"
#include "Installer/PluginInstaller.h"
#include "Installer/Removal/TrashScript.h"
#include "Installer/Signing/CodeSignature.h"
#include "Platform/FileMoves.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QRegularExpression>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <csignal>

#include <grp.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace Hub;
using namespace Hub::Test;

namespace {

QString bundle(const QString& folder, const QString& name)
{
    BundlePlan recipe;
    recipe.name = name;
    return BundleFactory::create(folder, recipe);
}

// The Trash script run for real: /bin/sh as the current user, the way the
// isolated-home runner runs it, against a temporary system root.
class UninstallTrashScript : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        base = m_dir.path();
        roots = {base + u"/home"_s, base + u"/system"_s, base + u"/Applications"_s, base + u"/support"_s};
        trash = Trash::folder(roots.userHome);
        for (const QString& folder : QStringList{trash + u"/files"_s, trash + u"/info"_s, base + u"/var-tmp"_s})
            QDir().mkpath(folder);
        tools.workBase = base + u"/var-tmp"_s;
        installer.trashTools = tools;
        installer.privileged = PrivilegedRunner::runAsCurrentUser;
    }

    Shell::Result run(const QStringList& arguments) const
    {
        return PrivilegedRunner::runAsCurrentUser(QString(), TrashScript::text(tools), arguments);
    }

    QStringList userArguments() const { return {trash, QString::number(::getuid()), QString::number(::getgid())}; }

    // A stand-in for mv that refuses the moves `refuse` (a shell case
    // pattern over "<source>@<destination>", a relative destination taken
    // from the folder it runs in) and does the rest for real.
    void shimMove(const QString& refuse)
    {
        const QString shim = base + u"/mv-shim"_s;
        writeAll(shim, (u"#!/bin/sh\nfor last; do :; done\neval \"source=\\${$(($# - 1))}\"\n"
                        u"case $last in /*) ;; *) last=$(pwd -P)/$last ;; esac\n"
                        u"case \"$source@$last\" in\n  "_s
                        + refuse + u") echo \"mv: injected failure\" >&2; exit 1 ;;\nesac\nexec /usr/bin/mv \"$@\"\n"_s)
                           .toUtf8());
        ASSERT_EQ(::chmod(QFile::encodeName(shim).constData(), 0755), 0);
        tools.mv = shim;
        installer.trashTools = tools;
    }

    QString failure(const QStringList& paths)
    {
        try {
            installer.trashAsAdministrator(paths, product, roots);
        } catch (const HubError& error) {
            return error.errorDescription();
        }
        return {};
    }

    QTemporaryDir m_dir;
    QString base;
    InstallRoots roots;
    QString trash;
    TrashScript::Tools tools;
    PluginInstaller installer{nullptr, false, 5.0};
    Product product = echoProduct();
};

TEST_F(UninstallTrashScript, NameClashesGetNewNamesAndNothingInTheTrashIsReplaced)
{
    writeAll(trash + u"/files/Echo.vst3"_s, "already in the Trash");
    // A claimed info name counts as taken even without its item.
    writeAll(trash + u"/info/Echo 3.vst3.trashinfo"_s, "someone else's");
    QStringList items;
    for (const QString& folder : {u"a"_s, u"b"_s})
        items.append(bundle(base + u"/system/"_s + folder, u"Echo.vst3"_s));
    items.append(base + u"/system/Foo"_s);
    writeAll(items.last(), "plain");
    writeAll(trash + u"/files/Foo"_s, "older Foo");
    const QStringList first = treeListing(items[0]);

    const Shell::Result result = run(userArguments() + items);

    EXPECT_EQ(result.status, 0) << result.output.toStdString();
    EXPECT_EQ(readAll(trash + u"/files/Echo.vst3"_s), "already in the Trash");
    EXPECT_EQ(treeListing(trash + u"/files/Echo 2.vst3"_s), first);
    EXPECT_TRUE(FileMoves::existsNoFollow(trash + u"/files/Echo 4.vst3"_s));
    EXPECT_EQ(readAll(trash + u"/info/Echo 3.vst3.trashinfo"_s), "someone else's");
    EXPECT_EQ(readAll(trash + u"/files/Foo"_s), "older Foo");
    EXPECT_EQ(readAll(trash + u"/files/Foo 2"_s), "plain");
    for (const QString& item : items)
        EXPECT_FALSE(FileMoves::existsNoFollow(item));
    EXPECT_TRUE(trashInfoOf(roots.userHome, u"Echo 4.vst3"_s).contains(expectedPathLine(items[1])));
    // The private work folder is gone once empty.
    EXPECT_TRUE(entriesOf(tools.workBase).isEmpty());
}

TEST_F(UninstallTrashScript, TrashInfoIsWhatTheFileManagerReads)
{
    const QString item = base + u"/system/Caf\u00e9 & 100% Verb.vst3"_s;
    writeAll(item + u"/Contents/Info.plist"_s, "<plist/>");

    ASSERT_EQ(run(userArguments() + QStringList{item}).status, 0);

    const QStringList lines = trashInfoOf(roots.userHome, u"Caf\u00e9 & 100% Verb.vst3"_s).split(u'\n');
    ASSERT_EQ(lines.size(), 4) << lines.join(u'|').toStdString();
    EXPECT_EQ(lines[0], u"[Trash Info]"_s);
    EXPECT_EQ(lines[1], expectedPathLine(item));
    const QDateTime when = QDateTime::fromString(lines[2].mid(13), u"yyyy-MM-ddTHH:mm:ss"_s);
    EXPECT_TRUE(lines[2].startsWith(u"DeletionDate="_s));
    EXPECT_LE(std::abs(when.secsTo(QDateTime::currentDateTime())), 60);
    EXPECT_EQ(lines[3], QString());
}

TEST_F(UninstallTrashScript, RefusalsAreOneLineAndMoveNothing)
{
    const QString item = bundle(base + u"/system"_s, u"Echo.vst3"_s);
    const QStringList tree = treeListing(item);
    const QString uid = QString::number(::getuid());
    const QString gid = QString::number(::getgid());
    writeAll(base + u"/plain-file"_s, "x");
    ASSERT_EQ(::symlink(QFile::encodeName(trash).constData(), QFile::encodeName(base + u"/linked"_s).constData()), 0);

    struct Case {
        QStringList arguments;
        QString line;
    };
    const Case cases[] = {
        {{trash, uid, gid}, u"Tarnhub: bad arguments"_s},
        {{trash, uid + u"x"_s, gid, item}, u"Tarnhub: bad user"_s},
        {{trash, QString(), gid, item}, u"Tarnhub: bad user"_s},
        {{trash, uid, QString(), item}, u"Tarnhub: bad user"_s},
        {{trash, u"-1"_s, gid, item}, u"Tarnhub: bad user"_s},
        {{base + u"/linked"_s, uid, gid, item}, u"Tarnhub: no Trash folder"_s},
        {{base + u"/plain-file"_s, uid, gid, item}, u"Tarnhub: no Trash folder"_s},
        {{base + u"/missing"_s, uid, gid, item}, u"Tarnhub: no Trash folder"_s},
    };
    for (const Case& c : cases) {
        const Shell::Result result = run(c.arguments);
        EXPECT_EQ(result.status, 1) << c.line.toStdString();
        EXPECT_EQ(result.output, c.line + u'\n');
    }
    EXPECT_EQ(treeListing(item), tree);
    EXPECT_TRUE(entriesOf(tools.workBase).isEmpty());

    // The Trash's own folders must be real folders too.
    QDir(trash + u"/info"_s).removeRecursively();
    ASSERT_EQ(::symlink(QFile::encodeName(base).constData(), QFile::encodeName(trash + u"/info"_s).constData()), 0);
    EXPECT_EQ(run(userArguments() + QStringList{item}).output, u"Tarnhub: no Trash folder\n"_s);
    EXPECT_EQ(treeListing(item), tree);
}

TEST_F(UninstallTrashScript, MissingItemsAreSkippedAndLinksMoveAsLinks)
{
    writeAll(base + u"/target/keep.txt"_s, "keep");
    const QString link = base + u"/system/Echo.vst3"_s;
    QDir().mkpath(base + u"/system"_s);
    ASSERT_EQ(::symlink(QFile::encodeName(base + u"/target"_s).constData(), QFile::encodeName(link).constData()), 0);

    EXPECT_EQ(failure({base + u"/system/Gone.vst3"_s, link}), QString());

    EXPECT_EQ(QFileInfo(trash + u"/files/Echo.vst3"_s).symLinkTarget(), base + u"/target"_s);
    EXPECT_EQ(readAll(base + u"/target/keep.txt"_s), "keep");
}

// ---- With the helper's rule: only the maker's bundles, never the hub -------

// The script as the administrator's helper builds it, its codesign trusting
// the test PKI's anchor in place of the maker's.
TEST_F(UninstallTrashScript, WithTheHelpersRuleOnlyTheMakersBundlesLeaveAndNeverTheHub)
{
    const TestPKI pki;
    const QString anchors = base + u"/anchors.pem"_s;
    writeAll(anchors, pki.anchorPem());
    const TrashScript::Tools helpers = TrashScript::Tools::withApplets(buildTreeTools());
    tools.codesign = base + u"/codesign"_s;
    writeAll(tools.codesign, (u"#!/bin/sh\nexec "_s + Shell::quoted(helpers.codesign) + u" --anchors="_s
                              + Shell::quoted(anchors) + u" \"$@\"\n"_s)
                                 .toUtf8());
    ASSERT_EQ(::chmod(QFile::encodeName(tools.codesign).constData(), 0755), 0);
    tools.plistBuddy = helpers.plistBuddy;
    tools.requirement = helpers.requirement;
    tools.hubID = helpers.hubID;
    ASSERT_EQ(tools.requirement, CodeSignature::requirement(std::nullopt, Config::teamID()));
    ASSERT_EQ(tools.hubID, Config::bundleID());

    const auto made = [&](const QString& name, const QString& identifier, const SigningIdentity* signer) {
        BundlePlan recipe;
        recipe.name = name;
        recipe.bundleID = identifier;
        const QString path = BundleFactory::create(base + u"/system/"_s + name, recipe);
        if (signer)
            signBundle(path, *signer);
        return path;
    };
    const QString makers = made(u"Echo.vst3"_s, u"com.tarnaudio.echo"_s, &pki.maker());
    // Another team; the maker's team under an anchor that isn't pinned; no
    // signature; the hub itself, signed by the maker.
    const QStringList refused = {
        made(u"Other.vst3"_s, u"com.other.plugin"_s, &pki.otherTeam()),
        made(u"Posing.component"_s, u"com.tarnaudio.posing"_s, &pki.foreign()),
        made(u"Plain.vst3"_s, u"com.tarnaudio.plain"_s, nullptr),
        made(u"Tarnhub.app"_s, Config::bundleID(), &pki.maker()),
    };
    QList<QStringList> trees;
    for (const QString& item : refused)
        trees.append(treeListing(item));

    const Shell::Result result = run(userArguments() + QStringList{makers} + refused);

    EXPECT_EQ(result.status, 1);
    QString said;
    for (const QString& item : refused)
        said += u"Tarnhub: "_s + QFileInfo(item).fileName() + u" isn't signed by Tarnaudio, so it stays where it was\n"_s;
    EXPECT_EQ(result.output, said);
    for (qsizetype i = 0; i < refused.size(); ++i)
        EXPECT_EQ(treeListing(refused[i]), trees[i]) << refused[i].toStdString();
    EXPECT_EQ(entriesOf(trash + u"/files"_s), QStringList{u"Echo.vst3"_s});
    EXPECT_EQ(entriesOf(trash + u"/info"_s), QStringList{u"Echo.vst3.trashinfo"_s});
    EXPECT_TRUE(entriesOf(tools.workBase).isEmpty());
}

// ---- As root, for another user: what the user controls leads nowhere -------

// The script as root for kNobody, whose Trash it is; the hostile steps run as
// kNobody, who may change anything in that Trash at any moment.
class UninstallTrashScriptAsRoot : public UninstallTrashScript {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "acting for another user needs root";
        UninstallTrashScript::SetUp();
        ASSERT_EQ(::chmod(QFile::encodeName(base).constData(), 0755), 0);
        chownTree(trash, kNobody);
    }

    QStringList nobodyArguments() const { return {trash, QString::number(kNobody), QString::number(kNobody)}; }

    static uid_t ownerOf(const QString& path)
    {
        struct stat st {};
        return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_uid : uid_t(-1);
    }
};

TEST_F(UninstallTrashScriptAsRoot, TheUserGetsAnItemUnlessAHardLinkLeadsOutOfIt)
{
    const QString plain = bundle(base + u"/system/a"_s, u"Echo.vst3"_s);
    const QString linked = bundle(base + u"/system/b"_s, u"Echo.component"_s);
    const QString outside = base + u"/shadow"_s;
    writeAll(outside, "root's own file");
    ASSERT_EQ(::link(QFile::encodeName(outside).constData(),
                     QFile::encodeName(linked + u"/Contents/shared.bin"_s).constData()),
              0);

    const Shell::Result result = run(nobodyArguments() + QStringList{plain, linked});

    ASSERT_EQ(result.status, 0) << result.output.toStdString();
    EXPECT_EQ(ownerOf(trash + u"/files/Echo.vst3/Contents/Info.plist"_s), kNobody);
    EXPECT_EQ(ownerOf(trash + u"/info/Echo.vst3.trashinfo"_s), kNobody);
    // Given away, the shared file would be the user's outside the item too.
    EXPECT_EQ(ownerOf(outside), 0u);
    EXPECT_EQ(ownerOf(trash + u"/files/Echo.component/Contents/Info.plist"_s), 0u);
    EXPECT_EQ(readAll(trash + u"/files/Echo.component/Contents/shared.bin"_s), "root's own file");
}

TEST_F(UninstallTrashScriptAsRoot, AnInfoFileIsNeverWrittenThroughALinkAtItsName)
{
    const QString item = bundle(base + u"/system"_s, u"Echo.vst3"_s);
    const QString link = trash + u"/info/Echo.vst3.trashinfo"_s;
    ASSERT_EQ(::symlink("/dev/null", QFile::encodeName(link).constData()), 0);

    const Shell::Result result = run(nobodyArguments() + QStringList{item});

    ASSERT_EQ(result.status, 0) << result.output.toStdString();
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), u"/dev/null"_s);
    EXPECT_FALSE(FileMoves::existsNoFollow(trash + u"/files/Echo.vst3"_s));
    EXPECT_TRUE(FileMoves::existsNoFollow(trash + u"/files/Echo 2.vst3/Contents/Info.plist"_s));
    EXPECT_TRUE(trashInfoOf(roots.userHome, u"Echo 2.vst3"_s).contains(expectedPathLine(item)));
}

TEST_F(UninstallTrashScriptAsRoot, TrashFoldersSwappedForLinksAfterTheCheckLeadNowhere)
{
    tools.date = base + u"/date-shim"_s;
    // A folder of root's, and one of the user's own outside their Trash.
    for (const uid_t owner : {uid_t(0), kNobody}) {
        for (const QString& swapped : {u"info"_s, u"files"_s}) {
            SCOPED_TRACE(owner);
            const QString victims = base + u"/victims-"_s + QString::number(owner);
            const QString item = bundle(base + u"/system/"_s + QString::number(owner) + u'/' + swapped, u"Echo.vst3"_s);
            const QStringList tree = treeListing(item);
            const QString victim = victims + u'/' + swapped;
            ASSERT_TRUE(QDir().mkpath(victim));
            chownTree(victims, owner);
            // The date of the info file is read after the checks and before any
            // write: there the user swaps the folder for a link to the victim.
            const QString swap = u"cd "_s + Shell::quoted(trash) + u" && mv "_s + swapped + u' ' + swapped
                                 + u".was && ln -s "_s + Shell::quoted(victim) + u' ' + swapped;
            QStringList hostile;
            for (const QString& word : QStringList{kSetpriv} + asNobody({u"/bin/sh"_s, u"-c"_s, swap}))
                hostile.append(Shell::quoted(word));
            writeAll(tools.date,
                     (u"#!/bin/sh\n"_s + hostile.join(u' ') + u" || exit 1\nexec /usr/bin/date \"$@\"\n"_s).toUtf8());
            ASSERT_EQ(::chmod(QFile::encodeName(tools.date).constData(), 0755), 0);

            const Shell::Result result = run(nobodyArguments() + QStringList{item});

            ASSERT_TRUE(QFileInfo(trash + u'/' + swapped).isSymLink()) << "the swap did not happen";
            EXPECT_EQ(result.status, 1) << swapped.toStdString();
            EXPECT_TRUE(result.output.endsWith(u"Tarnhub: couldn't move Echo.vst3 to the Trash; it stays where it was\n"_s))
                << result.output.toStdString();
            EXPECT_TRUE(entriesOf(victim).isEmpty()) << swapped.toStdString();
            EXPECT_EQ(treeListing(item), tree) << swapped.toStdString();
            // Back as it was; a claimed info file is given up again.
            ASSERT_TRUE(QFile::remove(trash + u'/' + swapped));
            ASSERT_TRUE(QFile::rename(trash + u'/' + swapped + u".was"_s, trash + u'/' + swapped));
            EXPECT_TRUE(entriesOf(trash + u"/info"_s).isEmpty()) << swapped.toStdString();
        }
    }
}

// The Trash on another file system than the work folder, where the move
// into the Trash copies: while root fills the Trash's files/<name>, the user
// keeps renaming it away and putting a link to a folder of root's (standing
// for /etc) in its place, try after try.
TEST_F(UninstallTrashScriptAsRoot, ACopyIntoTheTrashNeverWritesThroughALinkTheUserSwapsIn)
{
    const QString victim = base + u"/etc"_s;
    ASSERT_TRUE(QDir().mkpath(victim));
    ASSERT_EQ(::chmod(QFile::encodeName(victim).constData(), 0755), 0);
    BundlePlan recipe;
    recipe.name = u"Echo.vst3"_s;
    for (int i = 0; i < 24; ++i)
        recipe.withFile(u"Contents/Resources/part-"_s + QString::number(i), QByteArray(4096, 'x'));
    const QString original = BundleFactory::create(base + u"/original"_s, recipe);
    const QString item = base + u"/system/Echo.vst3"_s;
    ASSERT_TRUE(QDir().mkpath(base + u"/system"_s));
    writeAll(base + u"/trash.sh"_s, TrashScript::text(tools).toUtf8());

    const QByteArray made = QFile::encodeName(trash + u"/files/Echo.vst3"_s);
    const QByteArray away = QFile::encodeName(trash + u"/files/away"_s);
    const QByteArray target = QFile::encodeName(victim);
    const pid_t swapper = ::fork();
    ASSERT_NE(swapper, -1);
    if (swapper == 0) {
        // Only system calls between fork and _exit; gone with the test.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::setgroups(0, nullptr) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0
            || ::setresuid(kNobody, kNobody, kNobody) != 0)
            ::_exit(1);
        for (struct stat st {};;) {
            if (::lstat(made.constData(), &st) == 0 && S_ISDIR(st.st_mode)
                && ::rename(made.constData(), away.constData()) == 0)
                ::symlink(target.constData(), made.constData());
        }
    }
    const auto stopSwapping = qScopeGuard([swapper] {
        ::kill(swapper, SIGKILL);
        int status = 0;
        ::waitpid(swapper, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status)) << "the user's side never ran";
    });

    // Each try: the item from its original, the script, then where the item
    // ended: in the Trash, under the name root gave it or the one the user
    // moved it to. Then the user empties their Trash.
    const QString script = uR"sh(set -u
mount -t tmpfs hubtest "$1" || exit 90
original=$2
item=$3
trash=$4
victim=$5
tries=$6
files=$trash/files
whole() {
  [ ! -L "$1" ] && [ -f "$1/Contents/Info.plist" ]
}
n=0
while [ "$n" -lt "$tries" ]; do
  cp -a "$original" "$item" || exit 91
  sh "$7" "$trash" 65534 65534 "$item" >/dev/null 2>&1
  n=$((n + 1))
  [ -z "$(ls -A "$victim")" ] || break
  if [ -e "$item" ]; then
    echo "back in try $n"
    rm -rf "$item"
  elif ! whole "$files/Echo.vst3" && ! whole "$files/away"; then
    echo "lost in try $n"
  fi
  # A second pass for what the user's own renaming moved meanwhile.
  for pass in 1 2; do
    setpriv --reuid=65534 --regid=65534 --clear-groups sh -c 'rm -rf "$1"/files/* "$1"/files/.[!.]* "$1"/info/*' sh "$trash"
  done
  [ -z "$(ls -A "$files")" ] || echo "left in try $n: $(ls -A "$files")"
done
echo "tries $n"
)sh"_s;
    QProcess run;
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(u"unshare"_s, {u"--mount"_s, u"sh"_s, u"-c"_s, script, u"sh"_s, tools.workBase, original, item, trash,
                             victim, u"100"_s, base + u"/trash.sh"_s});
    EXPECT_TRUE(run.waitForFinished(300'000));

    EXPECT_EQ(QString::fromUtf8(run.readAll()), u"tries 100\n"_s);
    EXPECT_EQ(entriesOf(victim), QStringList());
    EXPECT_EQ(ownerOf(victim), 0u);
}

// ---- A failed move never loses the item -----------------------------------

TEST_F(UninstallTrashScript, AFailedMoveIntoTheTrashPutsTheItemBack)
{
    const QString item = bundle(base + u"/system"_s, u"Echo.vst3"_s);
    if (::geteuid() == 0) {
        // Each file keeps its own owner, not the top folder's.
        ASSERT_EQ(::lchown(QFile::encodeName(item + u"/Contents"_s).constData(), 1234, 4321), 0);
        ASSERT_EQ(::lchown(QFile::encodeName(item + u"/Contents/Info.plist"_s).constData(), 5678, 8765), 0);
    }
    const QStringList tree = treeListing(item);
    shimMove(u"*/Trash/files/*"_s);

    const QString sentence = failure({item});

    EXPECT_EQ(sentence, u"Couldn't move Echo.vst3 to the Trash.\n"_s
                            u"Tarnhub: couldn't move Echo.vst3 to the Trash; it stays where it was\n"_s);
    EXPECT_EQ(treeListing(item), tree);
    if (::geteuid() == 0) {
        struct stat st {};
        ASSERT_EQ(::lstat(QFile::encodeName(item + u"/Contents/Info.plist"_s).constData(), &st), 0);
        EXPECT_EQ(st.st_gid, 8765u);
    }
    // The claimed name is given up again.
    EXPECT_TRUE(entriesOf(trash + u"/info"_s).isEmpty());
    EXPECT_TRUE(entriesOf(trash + u"/files"_s).isEmpty());
    EXPECT_TRUE(entriesOf(tools.workBase).isEmpty());
}

TEST_F(UninstallTrashScript, WhenTheMoveBackFailsTooTheWorkFolderIsKeptNamedAndOwnedAsBefore)
{
    const QString item = bundle(base + u"/system"_s, u"Echo.vst3"_s);
    if (::geteuid() == 0) {
        // Someone else's item: the user's ownership must not stick to it.
        for (auto it = std::filesystem::recursive_directory_iterator(nativePath(item)); it != decltype(it)(); ++it)
            ASSERT_EQ(::lchown(it->path().c_str(), kNobody, kNobody), 0);
        ASSERT_EQ(::lchown(QFile::encodeName(item).constData(), kNobody, kNobody), 0);
    }
    const QStringList ownedTree = treeListing(item);
    // Every move out of the private work folder fails: into the Trash and back.
    shimMove(u"*/hubtarn.*/1/Echo.vst3@*"_s);

    const QString sentence = failure({item});

    const QStringList work = entriesOf(tools.workBase);
    ASSERT_EQ(work.size(), 1);
    const QString kept = tools.workBase + u'/' + work[0] + u"/1"_s;
    EXPECT_TRUE(sentence.startsWith(u"Couldn't move Echo.vst3 to the Trash.\n"_s)) << sentence.toStdString();
    EXPECT_TRUE(sentence.endsWith(u"Tarnhub: couldn't move Echo.vst3 to the Trash or back to "_s + item
                                  + u"; it is kept in "_s + kept + u'\n'))
        << sentence.toStdString();
    EXPECT_EQ(treeListing(kept + u"/Echo.vst3"_s), ownedTree);
    EXPECT_FALSE(FileMoves::existsNoFollow(item));
    EXPECT_TRUE(entriesOf(trash + u"/info"_s).isEmpty());
}

TEST_F(UninstallTrashScript, EveryKeptFolderIsNamedHoweverLongTheOutput)
{
    QStringList items;
    for (int i = 0; i < 4; ++i)
        items.append(bundle(base + u"/system/a-rather-long-folder-name-for-this-bundle-"_s + QString::number(i),
                            u"Echo.vst3"_s));
    shimMove(u"*/hubtarn.*/Echo.vst3@*"_s);

    const QString sentence = failure(items);

    const QStringList work = entriesOf(tools.workBase);
    ASSERT_EQ(work.size(), 1);
    for (int i = 1; i <= 4; ++i) {
        const QString kept = tools.workBase + u'/' + work[0] + u'/' + QString::number(i);
        EXPECT_TRUE(FileMoves::existsNoFollow(kept + u"/Echo.vst3"_s));
        EXPECT_TRUE(sentence.contains(u"; it is kept in "_s + kept + u'\n')) << i << sentence.toStdString();
    }
}

TEST_F(UninstallTrashScript, OneFailedItemDoesNotStopTheOthers)
{
    const QString first = bundle(base + u"/system/a"_s, u"Echo.vst3"_s);
    const QString second = bundle(base + u"/system/b"_s, u"Echo.component"_s);
    shimMove(u"*/Echo.vst3@*/Trash/files/*"_s);

    EXPECT_EQ(failure({first, second}), u"Couldn't move Echo.vst3 to the Trash.\n"_s
                                        u"Tarnhub: couldn't move Echo.vst3 to the Trash; it stays where it was\n"_s);
    EXPECT_TRUE(FileMoves::existsNoFollow(first));
    EXPECT_FALSE(FileMoves::existsNoFollow(second));
    EXPECT_TRUE(FileMoves::existsNoFollow(trash + u"/files/Echo.component"_s));
}

TEST_F(UninstallTrashScript, TheTrashIsMadeWhenMissing)
{
    QDir(Trash::folder(roots.userHome)).removeRecursively();
    const QString item = bundle(base + u"/system"_s, u"Echo.vst3"_s);

    EXPECT_EQ(failure({item}), QString());

    EXPECT_TRUE(FileMoves::existsNoFollow(trash + u"/files/Echo.vst3"_s));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(trash).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
}

TEST(UninstallTrashScriptHeader, ValuesReachTheScriptUnchanged)
{
    TrashScript::Tools tools;
    tools.mv = u"/odd path/it's $(touch x) `y` \"z\""_s;
    const Shell::Result result =
        Shell::run(u"/bin/sh"_s, {u"-c"_s, TrashScript::header(tools) + u"printf '%s' \"$mv\""_s}, 10.0);
    EXPECT_EQ(result.output, tools.mv);
}

} // namespace

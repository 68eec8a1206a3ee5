#include "SelfUpdateTestSupport.h"

#include "AsOtherUser.h"

#include "Installer/Packages/PackageArchive.h"
#include "Installer/PluginInstaller.h"
#include "Model/SystemSeams.h"
#include "TestHttpsServer.h"

#include <QCryptographicHash>

#include <QFileInfo>

#include <functional>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using namespace Hub;
using namespace Hub::Test;

namespace {

class SelfUpdateInstallTest : public SelfUpdateFixture {
protected:
    QString installSentence(const QString& file, const QString& version = u"2.0.0"_s,
                            const QString& packageID = QString::fromLatin1(kPackageID))
    {
        return sentenceOf([&] {
            Installer::install(file, u"Tarnhub"_s, Installer::fileSHA256(file), packageID, version, runner(),
                               scriptTools());
        });
    }
};

// ---- A package that is not the maker's release never installs ----------------

struct Refusal {
    const char* name;
    std::function<void(PackageSpec&)> change;
    bool assessmentRefuses; // the unprivileged check before any prompt
    const char* scriptReason;
};

class RefusedPackageTest : public SelfUpdateInstallTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusedPackageTest, IsRefusedWithItsSentenceAndInstallsNothing)
{
    PackageSpec recipe;
    recipe.identifier = QString::fromLatin1(kPackageID);
    GetParam().change(recipe);
    const QString file = package(recipe);

    const QString assessed = sentenceOf([&] { Installer::verify(file, tools()); });
    if (GetParam().assessmentRefuses)
        EXPECT_EQ(assessed, u"This installer isn't signed by Tarnaudio, so the hub won't run it."_s);
    else
        EXPECT_EQ(assessed, u"no error"_s);

    // The privileged script repeats the checks on its own copy whatever the
    // hub decided before, so it is run even where the assessment refused.
    const QString sentence = installSentence(file);
    EXPECT_TRUE(sentence.startsWith(u"The installer failed.\n"_s)) << sentence.toStdString();
    EXPECT_TRUE(sentence.contains(u"Tarnhub: "_s + QString::fromLatin1(GetParam().scriptReason)))
        << sentence.toStdString();
    EXPECT_EQ(entriesOf(path("root")), QStringList());
    EXPECT_EQ(entriesOf(path("work")), QStringList()) << "the private work folder must go";
    EXPECT_TRUE(QFile::exists(file)) << "the download stays for the next clean-up";
}

INSTANTIATE_TEST_SUITE_P(
    SelfUpdate, RefusedPackageTest,
    ::testing::Values(
        Refusal{"Tampered", [](PackageSpec& s) { s.tamper = true; }, true, "package assessment failed"},
        Refusal{"Unsigned", [](PackageSpec& s) { s.signer = PackageSpec::Signer::none; }, true,
                "package assessment failed"},
        Refusal{"OtherTeam", [](PackageSpec& s) { s.signer = PackageSpec::Signer::otherTeam; }, true,
                "package is not signed by Tarnaudio"},
        Refusal{"ApplicationCertificate", [](PackageSpec& s) { s.signer = PackageSpec::Signer::application; }, true,
                "package assessment failed"},
        Refusal{"ForeignAnchor", [](PackageSpec& s) { s.signer = PackageSpec::Signer::foreign; }, true,
                "package assessment failed"},
        Refusal{"NotNotarized", [](PackageSpec& s) { s.ticket = false; }, true, "package is not notarized"},
        Refusal{"WrongIdentity", [](PackageSpec& s) { s.identifier = u"com.other.tool.pkg"_s; }, false,
                "package product or version does not match the release"},
        Refusal{"WrongVersion", [](PackageSpec& s) { s.version = u"1.9.0"_s; }, false,
                "package product or version does not match the release"}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

// ---- The maker's package installs, replacing the old copy whole ----------------

TEST_F(SelfUpdateInstallTest, GoodPackageInstallsIntoTheTargetAndIsTheWantedHub)
{
    // An older copy with a file the new version no longer has: a merge of
    // the two would break the new copy's seal.
    const QString old = hubBundle(u"1.0.0"_s);
    writeFileOrThrow(old + u"/Contents/Stale.txt"_s, "from 1.0.0\n");
    ASSERT_TRUE(QDir().mkpath(path("root/opt")));
    writeFileOrThrow(path("root/opt/Keep.txt"), "someone else's\n");
    ASSERT_TRUE(QDir().rename(old, installedHub()));

    PackageSpec recipe;
    recipe.identifier = QString::fromLatin1(kPackageID);
    const QString file = package(recipe);
    EXPECT_EQ(sentenceOf([&] { Installer::verify(Installer::packageFrom(file, tools()), tools()); }), u"no error"_s);
    EXPECT_EQ(installSentence(file), u"no error"_s);

    EXPECT_EQ(PluginInstaller::shortVersion(installedHub()), u"2.0.0"_s);
    EXPECT_FALSE(QFile::exists(installedHub() + u"/Contents/Stale.txt"_s));
    EXPECT_TRUE(QFile::exists(path("root/opt/Keep.txt")));
    EXPECT_EQ(entriesOf(path("root/opt")), QStringList({u"Keep.txt"_s, u"Tarnhub.app"_s}))
        << "no staging folder or replaced copy is left beside it";
    EXPECT_EQ(sentenceOf([&] { Installer::verifyInstalledHub(installedHub(), u"2.0.0"_s, pki().anchors()); }),
              u"no error"_s);
    EXPECT_EQ(entriesOf(path("work")), QStringList());
}

TEST_F(SelfUpdateInstallTest, WithoutAPackageIdentifierTheVersionIsStillRead)
{
    // A catalog product shipped as a package whose identifier the model does
    // not know: its version is still the release's, and it installs. Without
    // a version to hold it to, no package installs, even the maker's.
    PackageSpec recipe;
    const QString file = package(recipe);
    const QString unversioned = installSentence(file, QString(), QString());
    EXPECT_TRUE(unversioned.contains(u"Tarnhub: bad package arguments"_s)) << unversioned.toStdString();
    EXPECT_EQ(entriesOf(path("root")), QStringList());
    EXPECT_EQ(installSentence(file, recipe.version, QString()), u"no error"_s);
    EXPECT_TRUE(QFileInfo(installedHub()).isDir());
}

// ---- The privileged copy is what is checked -----------------------------------

TEST_F(SelfUpdateInstallTest, ADownloadChangedAfterTheHubsCheckIsRefused)
{
    PackageSpec recipe;
    recipe.identifier = QString::fromLatin1(kPackageID);
    const QString file = package(recipe);
    const QString checked = Installer::fileSHA256(file);
    // Replaced by another maker-signed package between check and prompt.
    PackageSpec other = recipe;
    other.version = u"2.0.1"_s;
    package(other);

    const QString sentence = sentenceOf([&] {
        Installer::install(file, u"Tarnhub"_s, checked, QString::fromLatin1(kPackageID), u"2.0.0"_s, runner(),
                           scriptTools());
    });
    EXPECT_TRUE(sentence.contains(u"Tarnhub: the download changed before installation (checksum mismatch)"_s))
        << sentence.toStdString();
    EXPECT_EQ(entriesOf(path("root")), QStringList());
}

TEST_F(SelfUpdateInstallTest, ALinkInPlaceOfTheDownloadIsRefused)
{
    PackageSpec recipe;
    recipe.identifier = QString::fromLatin1(kPackageID);
    const QString file = package(recipe);
    const QString link = path("downloads/Linked.pkg");
    ASSERT_TRUE(QFile::link(file, link));
    const QString sentence = installSentence(link);
    EXPECT_TRUE(sentence.contains(u"Tarnhub: download is not a regular file"_s)) << sentence.toStdString();
    EXPECT_EQ(entriesOf(path("root")), QStringList());
}

TEST_F(SelfUpdateInstallTest, AFailingToolStopsTheScriptWithItsReason)
{
    // A fault-injecting stand-in for the package expander.
    const QString shim = path("tools/pkgutil");
    QFile::remove(shim);
    writeFileOrThrow(shim, "#!/bin/sh\necho 'pkgutil: injected failure' >&2\nexit 1\n");
    ASSERT_TRUE(QFile::setPermissions(shim, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    PackageSpec recipe;
    const QString file = package(recipe);
    const QString sentence = installSentence(file);
    EXPECT_TRUE(sentence.contains(u"Tarnhub: couldn't inspect package identity"_s)) << sentence.toStdString();
    EXPECT_EQ(entriesOf(path("root")), QStringList());
    EXPECT_EQ(entriesOf(path("work")), QStringList());
}

// ---- Disk images ----------------------------------------------------------------

TEST_F(SelfUpdateInstallTest, ADiskImageGivesItsPackageAndIsAlwaysDetached)
{
    PackageSpec recipe;
    recipe.identifier = QString::fromLatin1(kPackageID);
    const QString pkg = package(recipe, u"inner.pkg"_s);
    QFile inner(pkg);
    ASSERT_TRUE(inner.open(QIODevice::ReadOnly));
    const QByteArray bytes = inner.readAll();
    const QString image = path("downloads/Tarnhub-1234abcd.DMG");
    PackageBuilder::diskImage(image, {{u"ReadMe.txt"_s, "read me\n"}, {u"Tarnhub.PKG"_s, bytes}});

    const QString extracted = Installer::packageFrom(image, tools(), path("mounts"));
    EXPECT_EQ(extracted, path("downloads/Tarnhub-1234abcd.pkg"));
    QFile copy(extracted);
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), bytes);
    EXPECT_EQ(entriesOf(path("mounts")), QStringList()) << "mount point and attach record removed";
}

// The program opens a disk image in this user's private staging folder,
// never in the shared temporary folder, where a step killed before it
// detached would leave the package for every user to read; what a killed
// step left there goes at the next start, and nothing else of the folder.
TEST_F(SelfUpdateInstallTest, ADiskImageIsOpenedInThePrivateStagingFolderAndAKilledOnesGoesAtTheNextStart)
{
    PackageSpec recipe;
    recipe.identifier = QString::fromLatin1(kPackageID);
    const QString image = path("sources/Tarnhub.dmg");
    PackageBuilder::diskImage(image, {{u"Tarnhub.pkg"_s, readAll(package(recipe, u"inner.pkg"_s))}});
    const QByteArray served = readAll(image);
    TestHttpsServer server;
    server.get("/Tarnhub.dmg", [served](const httplib::Request&, httplib::Response& response) {
        response.set_content(served.toStdString(), "application/octet-stream");
    });
    // The tool as it is, behind a shim that notes where it attaches.
    const QString calls = path("hdiutil-calls");
    const QString shim = path("tools/hdiutil");
    QFile::remove(shim);
    writeFileOrThrow(shim, "#!/bin/sh\nprintf '%s\\n' \"$@\" >> " + Shell::quoted(calls).toUtf8() + "\nexec "
                               + Shell::quoted(toolsFolder() + u"/../hubtools"_s).toUtf8() + " hdiutil \"$@\"\n");
    ASSERT_TRUE(QFile::setPermissions(shim, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    Release release;
    release.version = recipe.version;
    release.pkgURL = server.url(u"/Tarnhub.dmg"_s).toString();
    release.sha256 = QString::fromLatin1(QCryptographicHash::hash(served, QCryptographicHash::Sha256).toHex());
    const QString home = path("home");
    const CorePackageInstaller installer({home, tools(), scriptTools(), pki().anchors(), runner(), server.caBundle()});
    sentenceOf([&] { installer.install(u"Tarnhub"_s, release, false, [](const InstallStep&) {}, {}); });

    const QStringList arguments = QString::fromUtf8(readAll(calls)).split(u'\n');
    const qsizetype at = arguments.indexOf(u"-mountpoint"_s);
    ASSERT_GE(at, 0) << "the image was never attached";
    const QString staging = Config::supportFolder(home) + u"/Staging"_s;
    EXPECT_EQ(QFileInfo(arguments.value(at + 1)).path(), staging);
    struct stat folder {};
    ASSERT_EQ(::lstat(QFile::encodeName(staging).constData(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 07777, 0700u) << "this user's alone";
    EXPECT_EQ(entriesOf(staging), QStringList()) << "detached and gone";

    // A step killed after the attach leaves the image, write-protected, and
    // its record; a plug-in install's work folder beside it is not its.
    const QString killed = staging + u"/image-1C0FFEE0-0000-4000-8000-000000000000"_s;
    ASSERT_EQ(Shell::run(tools().hdiutil, {u"attach"_s, u"-mountpoint"_s, killed, image}, 60.0).status, 0);
    ASSERT_TRUE(QDir().mkpath(staging + u"/5E1F0000-0000-4000-8000-000000000000/vst3"_s));
    ASSERT_EQ(entriesOf(staging).size(), 3);
    Installer::cleanImages(home);
    EXPECT_EQ(entriesOf(staging), QStringList{u"5E1F0000-0000-4000-8000-000000000000"_s});
}

TEST_F(SelfUpdateInstallTest, AnOrdinaryUsersDetachRemovesEverythingItsAttachMade)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "running the tool as another user needs root";
    // The attached image is read-only, folders included: an ordinary user
    // can only empty them once they are writable again.
    const QString image = path("downloads/Nested.dmg");
    PackageBuilder::diskImage(image, {{u"Docs/"_s, {}}, {u"Docs/Deep/"_s, {}}, {u"Docs/Deep/ReadMe.txt"_s, "x\n"},
                                      {u"Tarnhub.pkg"_s, "pkg\n"}});
    ASSERT_TRUE(QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                        | QFile::ReadOther | QFile::ExeOther));
    chownTree(path("mounts"), kNobody);
    const QString hdiutil = reachableTools().hdiutil;
    const QString mountPoint = path("mounts/image");

    const Shell::Result attached = Shell::run(
        kSetpriv,
        asNobody({hdiutil, u"attach"_s, u"-nobrowse"_s, u"-readonly"_s, u"-mountpoint"_s, mountPoint, image}), 60);
    ASSERT_EQ(attached.status, 0) << attached.output.toStdString();
    ASSERT_TRUE(QFile::exists(mountPoint + u"/Docs/Deep/ReadMe.txt"_s));

    const Shell::Result detached =
        Shell::run(kSetpriv, asNobody({hdiutil, u"detach"_s, u"-force"_s, mountPoint}), 60);
    EXPECT_EQ(detached.status, 0) << detached.output.toStdString();
    EXPECT_EQ(entriesOf(path("mounts")), QStringList()) << "mount point, contents and attach record removed";
}

TEST_F(SelfUpdateInstallTest, TheScriptInstallsFromAVerifiedDiskImage)
{
    PackageSpec recipe;
    recipe.identifier = QString::fromLatin1(kPackageID);
    const QString pkg = package(recipe, u"inner.pkg"_s);
    QFile inner(pkg);
    ASSERT_TRUE(inner.open(QIODevice::ReadOnly));
    const QString image = path("downloads/Tarnhub.dmg");
    PackageBuilder::diskImage(image, {{u"Tarnhub.pkg"_s, inner.readAll()}});

    EXPECT_EQ(installSentence(image), u"no error"_s);
    EXPECT_EQ(PluginInstaller::shortVersion(installedHub()), u"2.0.0"_s);
    EXPECT_EQ(entriesOf(path("work")), QStringList()) << "the image was detached and the work folder removed";
}

TEST_F(SelfUpdateInstallTest, AnImageWithTwoPackagesPassesTheHubButNotTheScript)
{
    PackageSpec recipe;
    recipe.identifier = QString::fromLatin1(kPackageID);
    QFile inner(package(recipe, u"inner.pkg"_s));
    ASSERT_TRUE(inner.open(QIODevice::ReadOnly));
    const QByteArray bytes = inner.readAll();
    const QString image = path("downloads/Two.dmg");
    PackageBuilder::diskImage(image, {{u"A.pkg"_s, bytes}, {u"B.pkg"_s, bytes}});

    EXPECT_EQ(sentenceOf([&] { Installer::packageFrom(image, tools(), path("mounts")); }), u"no error"_s);
    const QString sentence = installSentence(image);
    EXPECT_TRUE(sentence.contains(u"Tarnhub: the disk image must contain exactly one flat package"_s))
        << sentence.toStdString();
    EXPECT_EQ(entriesOf(path("root")), QStringList());
    EXPECT_EQ(entriesOf(path("work")), QStringList());
}

TEST_F(SelfUpdateInstallTest, ImagesWithoutAPackageOrWithHostilePathsAreRefused)
{
    const QString empty = path("downloads/Empty.dmg");
    PackageBuilder::diskImage(empty, {{u"Folder.pkg/"_s, {}}, {u"ReadMe.txt"_s, "x"}});
    EXPECT_EQ(sentenceOf([&] { Installer::packageFrom(empty, tools(), path("mounts")); }),
              u"The disk image has no installer package."_s);

    const QString hostile = path("downloads/Hostile.dmg");
    PackageBuilder::diskImage(hostile, {{u"../../escaped.pkg"_s, "x"}});
    EXPECT_EQ(sentenceOf([&] { Installer::packageFrom(hostile, tools(), path("mounts")); }),
              u"Couldn't open the disk image."_s);
    EXPECT_FALSE(QFile::exists(path("escaped.pkg")));
    EXPECT_FALSE(QFile::exists(m_dir.path() + u"/../escaped.pkg"_s));
    EXPECT_EQ(entriesOf(path("mounts")), QStringList());

    const QString notImage = path("downloads/Garbage.dmg");
    writeFileOrThrow(notImage, "not an archive");
    EXPECT_EQ(sentenceOf([&] { Installer::packageFrom(notImage, tools(), path("mounts")); }),
              u"Couldn't open the disk image."_s);
    EXPECT_EQ(entriesOf(path("mounts")), QStringList());
}

TEST_F(SelfUpdateInstallTest, APlainPackageIsItsOwnPackage)
{
    const QString file = path("downloads/Some.pkg");
    writeFileOrThrow(file, "x");
    EXPECT_EQ(Installer::packageFrom(file, tools(), path("mounts")), file);
}

// ---- The runner's result -------------------------------------------------------

TEST(SelfUpdateRunnerResult, OnlyTheCancelMarkerIsACancellation)
{
    const QString checksum(64, u'a');
    const auto resultOf = [&](Shell::Result result) {
        return sentenceOf([&] {
            Installer::install(u"/nonexistent/Tarnhub.pkg"_s, u"Tarnhub"_s, checksum, std::nullopt, std::nullopt,
                               [&](const QString&, const QStringList&) { return result; });
        });
    };
    EXPECT_EQ(resultOf({1, u"execution error: User canceled. (-128)"_s}), u"<cancelled>"_s);
    EXPECT_EQ(resultOf({126, u"Error executing command as another user: Request dismissed\n(-128)"_s}),
              u"<cancelled>"_s);
    // A real failure whose text merely holds the number is a failure; a
    // tool's words are never shown, only the script's own.
    EXPECT_EQ(resultOf({1, u"installer: error -128 writing payload"_s}), u"The installer failed."_s);
    EXPECT_EQ(resultOf({0, u"(-128)"_s}), u"no error"_s);

    const QString longOutput = QString(500, u'x') + u"\nTarnhub: package is not notarized\n"_s;
    EXPECT_EQ(resultOf({1, longOutput}), u"The installer failed.\nTarnhub: package is not notarized\n"_s);
    // The last 300 characters of the reasons, the first of them an emoji of
    // two UTF-16 units, whole.
    const QString emojiReason = u"Tarnhub: "_s + QString(400, u'x') + u"\U0001F3B9"_s + QString(298, u'y') + u'\n';
    EXPECT_EQ(resultOf({1, u"/var/tmp/hubtarn-pkg.1/download.pkg: refused\n"_s + emojiReason}),
              u"The installer failed.\n"_s + emojiReason.right(301));
}

TEST(SelfUpdateRunnerResult, AnInvalidChecksumIsRefusedBeforeAnyPrompt)
{
    int calls = 0;
    QStringList passed;
    const Installer::Execute counting = [&](const QString&, const QStringList& arguments) {
        ++calls;
        passed = arguments;
        return Shell::Result{0, {}};
    };
    const QString refused = u"This package has no valid release checksum, so the hub won't install it."_s;
    for (const QString& bad : QStringList{QString(63, u'a'), QString(65, u'a'), QString(63, u'a') + u"g"_s, QString()}) {
        EXPECT_EQ(sentenceOf([&] {
                      Installer::install(u"/x/T.pkg"_s, u"T"_s, bad, std::nullopt, std::nullopt, counting);
                  }),
                  refused)
            << bad.toStdString();
    }
    EXPECT_EQ(calls, 0);

    // Upper case and a trailing line break are the same checksum.
    const QString digest = u"0123456789abcdef"_s.repeated(4);
    EXPECT_EQ(sentenceOf([&] {
                  Installer::install(u"/x/T.DMG"_s, u"T"_s, digest.toUpper() + u"\n"_s, u"id"_s, std::nullopt,
                                     counting);
              }),
              u"no error"_s);
    EXPECT_EQ(passed, QStringList({u"/x/T.DMG"_s, digest, u"dmg"_s, u"id"_s, QString(), Config::teamID(), u"0"_s}));
}

// ---- Assessment output -----------------------------------------------------------

TEST(SelfUpdateAssessment, TrustsOnlyAnAcceptedNotarizedInstallerOfTheTeam)
{
    const QString team = u"ABCDE12345"_s;
    const QString good = u"/x.pkg: accepted\nsource=Notarized Developer ID\n"
                         u"origin=Developer ID Installer: Tarnaudio (ABCDE12345)\n"_s;
    EXPECT_TRUE(Installer::isTrusted(good, team));
    EXPECT_TRUE(Installer::isTrusted(u"  /x.pkg: accepted\t\r\n\t source=Notarized Developer ID \u2028"
                                     u"origin=Developer ID Installer: Tarnaudio (ABCDE12345)  "_s,
                                     team));
    EXPECT_FALSE(Installer::isTrusted(QString(good).replace(u"accepted"_s, u"rejected"_s), team));
    EXPECT_FALSE(Installer::isTrusted(QString(good).replace(u"(ABCDE12345)"_s, u"(OTHERTEAM1)"_s), team));
    EXPECT_FALSE(Installer::isTrusted(QString(good).replace(u"Notarized Developer ID"_s, u"Developer ID"_s), team));
    EXPECT_FALSE(
        Installer::isTrusted(QString(good).replace(u"Developer ID Installer"_s, u"Developer ID Application"_s), team));
    // The first line is the verdict, not a line anywhere.
    EXPECT_FALSE(Installer::isTrusted(u"source=Notarized Developer ID\n/x.pkg: accepted\n"
                                      u"origin=Developer ID Installer: Tarnaudio (ABCDE12345)"_s,
                                      team));
    EXPECT_FALSE(Installer::isTrusted(QString(), team));
}

// ---- The installed hub -----------------------------------------------------------

TEST_F(SelfUpdateInstallTest, TheInstalledHubMustBeThisApplicationInTheWantedVersion)
{
    const QString notFound = u"The installer finished, but Tarnhub 2.0.0 was not found. The current hub will stay open."_s;
    const QString bundle = hubBundle(u"2.0.0"_s);
    EXPECT_EQ(sentenceOf([&] { Installer::verifyInstalledHub(bundle, u"2.0.0"_s, pki().anchors()); }), u"no error"_s);
    EXPECT_EQ(sentenceOf([&] { Installer::verifyInstalledHub(bundle, u"2.0"_s, pki().anchors()); }),
              u"The installer finished, but Tarnhub 2.0 was not found. The current hub will stay open."_s);
    EXPECT_EQ(sentenceOf([&] { Installer::verifyInstalledHub(path("root/Missing.app"), u"2.0.0"_s, pki().anchors()); }),
              notFound);

    BundlePlan other;
    other.name = u"Other.app"_s;
    other.shortVersion = u"2.0.0"_s;
    const QString otherBundle = BundleFactory::create(path("sources/other"), other);
    signBundle(otherBundle, pki().maker());
    EXPECT_EQ(sentenceOf([&] { Installer::verifyInstalledHub(otherBundle, u"2.0.0"_s, pki().anchors()); }), notFound);

    // The right name and version, but changed after signing.
    writeFileOrThrow(bundle + u"/Contents/MacOS/Tarnhub"_s, "patched\n");
    const QString tampered =
        sentenceOf([&] { Installer::verifyInstalledHub(bundle, u"2.0.0"_s, pki().anchors()); });
    EXPECT_NE(tampered, u"no error"_s);
    EXPECT_NE(tampered, notFound);
}

// ---- The package format ---------------------------------------------------------

TEST_F(SelfUpdateInstallTest, MalformedPackagesAreRefusedByEveryTool)
{
    const QByteArray info = "<pkg-info identifier=\"a\" version=\"1\" install-location=\"/\"/>";
    QTemporaryDir payloadSource;
    writeFileOrThrow(payloadSource.filePath(u"file.txt"_s), "x");
    PackageBuilder::writePayload(path("payload.tgz"), {payloadSource.filePath(u"file.txt"_s)});
    QFile payloadFile(path("payload.tgz"));
    ASSERT_TRUE(payloadFile.open(QIODevice::ReadOnly));
    const QByteArray payload = payloadFile.readAll();

    const QList<QList<QPair<QString, QByteArray>>> cases = {
        {{u"PackageInfo"_s, info}, {u"Payload"_s, payload}, {u"Scripts"_s, "#!/bin/sh\n"}},
        {{u"PackageInfo"_s, info}, {u"Payload"_s, payload}, {u"Payload"_s, payload}},
        {{u"PackageInfo"_s, info}},
        // A folder where a member file belongs.
        {{u"PackageInfo/inner"_s, info}, {u"Payload"_s, payload}},
    };
    for (qsizetype i = 0; i < cases.size(); ++i) {
        const QString file = path("downloads/bad") + QString::number(i) + u".pkg"_s;
        PackageBuilder::buildRaw(file, cases[i]);
        const QString expanded = path("expanded") + QString::number(i);
        EXPECT_THROW(PackageArchive::expand(file, expanded), PackageError) << i;
        EXPECT_FALSE(QFile::exists(expanded)) << i;
        EXPECT_EQ(sentenceOf([&] { Installer::verify(file, tools()); }),
                  u"This installer isn't signed by Tarnaudio, so the hub won't run it."_s)
            << i;
    }
    EXPECT_FALSE(QFile::exists(path("PackageInfo")));
}

TEST_F(SelfUpdateInstallTest, APayloadThatLeavesItsLocationInstallsNothing)
{
    // Signed by the maker and notarized, but the payload carries a link out
    // of the install location and a file through it.
    QTemporaryDir source;
    ASSERT_TRUE(QDir(source.path()).mkpath(u"Tarnhub.app/Contents"_s));
    ASSERT_TRUE(QFile::link(u"../../../../etc"_s, source.filePath(u"Tarnhub.app/Contents/Escape"_s)));
    PackageSpec recipe;
    const QString file = path("downloads/Escape.pkg");
    PackageBuilder::build(file, {source.filePath(u"Tarnhub.app"_s)}, recipe, pki());

    // The installer's own words name its staging; the window has the hub's.
    EXPECT_EQ(installSentence(file, u"2.0.0"_s, QString()),
              u"The installer failed.\nTarnhub: the installer couldn't install the package\n"_s);
    EXPECT_EQ(entriesOf(path("root/opt")), QStringList()) << "the staging folder is removed too";
}

// A sandboxed run names the anchor file the plain assessment tool trusts,
// before the script and inside it; without it the tool trusts only the
// build's own anchor, so the same package is refused at both checks.
TEST_F(SelfUpdateInstallTest, TheAnchorFileReachesTheAssessmentBeforeAndInsideTheScript)
{
    PackageSpec recipe;
    recipe.identifier = QString::fromLatin1(kPackageID);
    const QString file = package(recipe);
    PackageScript::Tools plain = scriptTools();
    plain.spctl = buildTreeTools().spctl;
    const QString anchor = path("anchor.pem");

    EXPECT_EQ(sentenceOf([&] { Installer::verify(file, buildTreeTools()); }),
              u"This installer isn't signed by Tarnaudio, so the hub won't run it."_s);
    const QString refused = sentenceOf([&] {
        Installer::install(file, u"Tarnhub"_s, Installer::fileSHA256(file), QString::fromLatin1(kPackageID),
                           u"2.0.0"_s, runner(), plain);
    });
    EXPECT_TRUE(refused.contains(u"Tarnhub: package assessment failed"_s)) << refused.toStdString();
    EXPECT_EQ(entriesOf(path("root")), QStringList());

    plain.anchors = anchor;
    EXPECT_EQ(sentenceOf([&] { Installer::verify(file, buildTreeTools(), anchor); }), u"no error"_s);
    EXPECT_EQ(sentenceOf([&] {
                  Installer::install(file, u"Tarnhub"_s, Installer::fileSHA256(file), QString::fromLatin1(kPackageID),
                                     u"2.0.0"_s, runner(), plain);
              }),
              u"no error"_s);
    EXPECT_EQ(PluginInstaller::shortVersion(installedHub()), u"2.0.0"_s);
}

} // namespace

#include "BundleFactory.h"
#include "BundleSigner.h"
#include "PackageBuilder.h"
#include "QStringPrinter.h"
#include "TestFiles.h"
#include "TestPKI.h"

#include "Base/Config.h"
#include "Platform/PropertyList.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <filesystem>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using Hub::Test::readFile;

namespace {

constexpr int kPatience = 120000; // ms; an install is a second or two

// Address sanitizing names every compiled source by its full path in the
// program's own tables, for its reports. Such a build is never shipped; the
// plain build, which is, has its programs checked for paths of the build.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kProgramsNameTheirSources = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kProgramsNameTheirSources = true;
#else
constexpr bool kProgramsNameTheirSources = false;
#endif
#else
constexpr bool kProgramsNameTheirSources = false;
#endif

struct Ran {
    int status = -1;
    QString out;
    QString err;

    std::string all() const { return QString(out + err).toStdString(); }
};

Ran run(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(kPatience) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

// What a packager runs: `cmake --install <build> <options>`, staged under
// DESTDIR when `destdir` is not empty.
Ran install(const QString& destdir, const QStringList& options)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(u"DESTDIR"_s);
    if (!destdir.isEmpty())
        environment.insert(u"DESTDIR"_s, destdir);
    return run(QString::fromUtf8(HUB_CMAKE), QStringList{u"--install"_s, QString::fromUtf8(HUB_BUILD_DIR)} + options,
               environment);
}

// The applications folder of an install with the prefix /usr: a relative
// one is under the prefix.
const QString kApplications = QDir::isAbsolutePath(QString::fromUtf8(HUB_APPLICATIONS_DIR))
                                  ? QString::fromUtf8(HUB_APPLICATIONS_DIR)
                                  : u"/usr/"_s + QString::fromUtf8(HUB_APPLICATIONS_DIR);
const QString kBundle = kApplications + u"/Tarnhub.app"_s;
const QString kProgram = kBundle + u"/Contents/MacOS/hubtarn"_s;
const QString kWindowProgram = kBundle + u"/Contents/MacOS/hubtarn-window"_s;
const QString kHelpers = kBundle + u"/Contents/Helpers"_s;

// One packager's install, `--prefix /usr --strip` under DESTDIR, shared by
// the tests that only read it.
class PackagedInstall : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_root = new QTemporaryDir;
        const Ran installed = install(s_root->path(), {u"--prefix"_s, u"/usr"_s, u"--strip"_s});
        s_output = QString::fromStdString(installed.all());
        s_status = installed.status;
    }
    static void TearDownTestSuite()
    {
        delete s_root;
        s_root = nullptr;
    }
    void SetUp() override { ASSERT_EQ(s_status, 0) << s_output.toStdString(); }

    static QString staged(const QString& path) { return s_root->path() + path; }
    static QStringList lines(const QString& path) { return QString::fromUtf8(readFile(staged(path))).split(u'\n'); }

    static inline QTemporaryDir* s_root = nullptr;
    static inline QString s_output;
    static inline int s_status = -1;
};

// The bundle the program's own update recognises, its helpers inside it, and
// every path written into a file or a link following the prefix given when
// installing (the build was configured for another).
TEST_F(PackagedInstall, TheBundleTheHelpersAndEveryWrittenPathFollowTheInstallTimePrefix)
{
    const QVariantMap info = Hub::PropertyList::readDictionary(staged(kBundle + u"/Contents/Info.plist"_s));
    EXPECT_EQ(Hub::PropertyList::text(info, u"CFBundleIdentifier"_s), Hub::Config::bundleID());
    EXPECT_EQ(Hub::PropertyList::text(info, u"CFBundleShortVersionString"_s), Hub::Config::hubVersion());
    EXPECT_TRUE(QFileInfo(staged(kProgram)).isExecutable());
    EXPECT_TRUE(QFileInfo(staged(kWindowProgram)).isExecutable());
    EXPECT_TRUE(QFileInfo(staged(kHelpers + u"/hubtarn-admin"_s)).isExecutable());
    EXPECT_TRUE(QFileInfo(staged(kHelpers + u"/hubtools"_s)).isExecutable());
    for (const char* applet : {"ditto", "codesign", "auval", "PlistBuddy", "chmod", "killall", "hdiutil", "spctl",
                               "pkgutil", "installer"})
        EXPECT_EQ(QFileInfo(staged(kHelpers + u'/' + QString::fromUtf8(applet))).symLinkTarget(),
                  staged(kHelpers + u"/hubtools"_s))
            << applet;

    EXPECT_EQ(QFile::symLinkTarget(staged(u"/usr/bin/hubtarn"_s)), kProgram);
    const QString exec = u"Exec=\""_s + kProgram + u"\" %u"_s;
    const QStringList launcher = lines(u"/usr/share/applications/"_s + Hub::Config::bundleID() + u".desktop"_s);
    EXPECT_TRUE(launcher.contains(exec)) << launcher.join(u'\n').toStdString();
    EXPECT_TRUE(launcher.contains(u"MimeType=x-scheme-handler/hubtarn;"_s));
    EXPECT_TRUE(launcher.contains(u"Icon="_s + Hub::Config::bundleID()));
    for (const QString& key : {u"StartupNotify=true"_s, u"X-GNOME-SingleWindow=true"_s})
        EXPECT_TRUE(launcher.contains(key)) << key.toStdString();
    EXPECT_EQ(launcher.filter(QRegularExpression(u"^Keywords=.+;$"_s)).size(), 1);
    const QStringList handler =
        lines(u"/usr/share/applications/"_s + Hub::Config::bundleID() + u".url-handler.desktop"_s);
    EXPECT_TRUE(handler.contains(exec)) << handler.join(u'\n').toStdString();
    EXPECT_TRUE(handler.contains(u"MimeType=x-scheme-handler/"_s + Hub::Config::bundleID() + u';'));
    EXPECT_TRUE(handler.contains(u"NoDisplay=true"_s));

    // Nothing of the build's own prefix, and nothing under the old root.
    EXPECT_FALSE(QFileInfo::exists(staged(u"/usr/local"_s)));
    EXPECT_FALSE(QFileInfo::exists(staged(u"/Applications"_s)));
    // Staged for a package: the desktop database is the package's business.
    EXPECT_FALSE(QFileInfo::exists(staged(u"/usr/share/applications/mimeinfo.cache"_s)));
}

// The desktop's own checks: the entries, the AppStream metainfo and the
// polkit policy validate; the icon exists in every size the theme asks for.
TEST_F(PackagedInstall, TheDesktopsOwnToolsAcceptTheMetadata)
{
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString& entry : QStringList{Hub::Config::bundleID() + u".desktop"_s,
                                            Hub::Config::bundleID() + u".url-handler.desktop"_s}) {
        const Ran validated = run(u"desktop-file-validate"_s, {staged(u"/usr/share/applications/"_s + entry)},
                                  environment);
        EXPECT_EQ(validated.status, 0) << entry.toStdString() << "\n" << validated.all();
        EXPECT_EQ(validated.all(), std::string()) << "no warnings either";
    }
    const QString metainfo = staged(u"/usr/share/metainfo/"_s + Hub::Config::bundleID() + u".metainfo.xml"_s);
    const Ran appstream = run(u"appstreamcli"_s, {u"validate"_s, u"--no-net"_s, u"--pedantic"_s, metainfo}, environment);
    EXPECT_EQ(appstream.status, 0) << appstream.all();

    const QString policy = staged(u"/usr/share/polkit-1/actions/"_s + Hub::Config::bundleID() + u".policy"_s);
    const Ran valid = run(u"xmllint"_s, {u"--noout"_s, u"--dtdvalid"_s, u"/usr/share/polkit-1/policyconfig-1.dtd"_s,
                                          policy},
                          environment);
    EXPECT_EQ(valid.status, 0) << valid.err.toStdString();
    const QString text = QString::fromUtf8(readFile(policy));
    EXPECT_TRUE(text.contains(u"<message>Tarnhub needs your password to change plug-ins for all users.</message>"_s));
    EXPECT_TRUE(text.contains(u"<allow_active>auth_admin_keep</allow_active>"_s));
    EXPECT_TRUE(text.contains(u"<annotate key=\"org.freedesktop.policykit.exec.path\">"_s + kHelpers
                              + u"/hubtarn-admin</annotate>"_s))
        << text.toStdString();

    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        SCOPED_TRACE(size);
        const QByteArray png = readFile(staged(u"/usr/share/icons/hicolor/%1x%1/apps/"_s.arg(size)
                                               + Hub::Config::bundleID() + u".png"_s));
        ASSERT_GE(png.size(), 24);
        EXPECT_TRUE(png.startsWith("\x89PNG\r\n\x1a\n"));
        const auto word = [&](int at) {
            return (uchar(png[at]) << 24) | (uchar(png[at + 1]) << 16) | (uchar(png[at + 2]) << 8) | uchar(png[at + 3]);
        };
        EXPECT_EQ(word(16), size);
        EXPECT_EQ(word(20), size);
    }
    EXPECT_TRUE(QFileInfo::exists(
        staged(u"/usr/share/icons/hicolor/scalable/apps/"_s + Hub::Config::bundleID() + u".svg"_s)));
}

// The installed program runs its own tools, found beside its executable:
// with the build's tools folder hidden (a private mount over it, which no
// other test sees), its status names the bundle's helpers and a package
// installs through them.
TEST_F(PackagedInstall, TheInstalledProgramsToolsWorkWithoutTheBuildTree)
{
    QTemporaryDir scratch;
    ASSERT_TRUE(scratch.isValid());
    const QString home = scratch.filePath(u"home"_s);
    const QString root = scratch.filePath(u"root"_s);
    ASSERT_TRUE(QDir().mkpath(home) && QDir().mkpath(root));
    const Hub::Test::TestPKI pki;
    Hub::Test::BundlePlan bundleSpec;
    bundleSpec.name = u"Echos.vst3"_s;
    const QString bundle = Hub::Test::BundleFactory::create(scratch.filePath(u"source"_s), bundleSpec);
    Hub::Test::PackageSpec recipe;
    recipe.installLocation = u"/Library/Audio/Plug-Ins/VST3"_s;
    const QString package = scratch.filePath(u"echos.pkg"_s);
    Hub::Test::PackageBuilder::build(package, {bundle}, recipe, pki);

    const QString helpers = staged(kHelpers);
    // sh -c: the mount, then the program with the build tree's tools gone.
    const QString withoutBuildTools = u"mount -t tmpfs hubtest \"$0\" && test ! -e \"$0/bin\" && exec \"$@\""_s;
    const QString buildTools = QString::fromUtf8(HUB_BUILD_DIR) + u"/HubTools"_s;
    QProcessEnvironment environment;
    environment.insert(u"HOME"_s, home);
    environment.insert(u"PATH"_s, u"/usr/bin:/bin"_s);
    const Ran status = run(u"unshare"_s, {u"--mount"_s, u"sh"_s, u"-c"_s, withoutBuildTools, buildTools,
                                           staged(kProgram), u"--status"_s},
                           environment);
    ASSERT_EQ(status.status, 0) << status.err.toStdString();
    EXPECT_TRUE(status.out.split(u'\n').contains(u"Helper tools: "_s + helpers)) << status.out.toStdString();

    const Ran installed = run(u"unshare"_s, {u"--mount"_s, u"sh"_s, u"-c"_s, withoutBuildTools, buildTools,
                                              helpers + u"/installer"_s, u"-pkg"_s, package, u"-target"_s, root},
                              environment);
    ASSERT_EQ(installed.status, 0) << installed.all();
    EXPECT_TRUE(QFileInfo(root + u"/usr/local/lib/vst3/Echos.vst3/Contents/Info.plist"_s).isFile());
}

// The installed command starts the window's program beside it, and neither
// honours a test switch: with all three set, a service profile that names a
// foreign anchor (and would be refused for its time-out) and a driver that
// would leave a mark, each runs as an ordinary copy. An instance that holds
// the inbox's lock but takes no link (as one starting up does) lets only
// the window's program get as far as saying so.
TEST_F(PackagedInstall, TheInstalledCopyIgnoresEveryTestSwitch)
{
    QTemporaryDir scratch;
    ASSERT_TRUE(scratch.isValid());
    const QString runtime = scratch.filePath(u"run"_s);
    ASSERT_TRUE(QDir().mkpath(runtime));
    ASSERT_TRUE(QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QString lockPath = runtime + u'/' + Hub::Config::bundleID() + u".sock.lock"_s;
    const int lock = ::open(QFile::encodeName(lockPath).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);

    const Hub::Test::TestPKI pki;
    const QString anchor = scratch.filePath(u"foreign.pem"_s);
    Hub::Test::writeFile(anchor, pki.foreignAnchorPem());
    const QString profile = scratch.filePath(u"profile.json"_s);
    Hub::Test::writeFile(profile, QJsonDocument(QJsonObject{{u"api_base"_s, u"https://127.0.0.1:9/api/v1/"_s},
                                                           {u"catalog"_s, u"https://127.0.0.1:9/catalog.json"_s},
                                                           {u"sign_in"_s, u"https://127.0.0.1:9"_s},
                                                           {u"publishable_key"_s, u"pk_test_foreign"_s},
                                                           {u"tls_root"_s, anchor},
                                                           {u"signing_anchor"_s, anchor},
                                                           {u"download_idle_timeout"_s, 0}})
                                      .toJson());
    const QString marker = scratch.filePath(u"driver-loaded"_s);
    QProcessEnvironment environment;
    environment.insert(u"HOME"_s, scratch.filePath(u"home"_s));
    environment.insert(u"PATH"_s, u"/usr/bin:/bin"_s);
    environment.insert(u"XDG_RUNTIME_DIR"_s, runtime);
    environment.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    environment.insert(u"HUBTARN_SANDBOX"_s, u"1"_s);
    environment.insert(u"HUBTARN_SERVICE_PROFILE"_s, profile);
    environment.insert(u"HUBTARN_TEST_DRIVER"_s, QString::fromUtf8(HUB_MARKER_DRIVER));
    environment.insert(u"HUB_DRIVER_MARKER"_s, marker);
    for (const QString& program : {kProgram, kWindowProgram}) {
        SCOPED_TRACE(program.toStdString());
        const Ran started = run(staged(program), {}, environment);
        EXPECT_EQ(started.status, 1) << started.all();
        EXPECT_EQ(started.err, u"hubtarn: the running instance did not take the link\n"_s) << started.all();
        EXPECT_FALSE(QFileInfo::exists(marker));
    }
    ::close(lock);

    // Its applets trust no anchor a command line names: a bundle sealed
    // under the test's own anchor is no more valid for naming it.
    Hub::Test::BundlePlan plan;
    plan.name = u"Echos.vst3"_s;
    const QString bundle = Hub::Test::BundleFactory::create(scratch.filePath(u"bundles"_s), plan);
    Hub::Test::signBundle(bundle, pki.maker());
    const QString ours = scratch.filePath(u"ours.pem"_s);
    Hub::Test::writeFile(ours, pki.anchorPem());
    const Ran built = run(QString::fromUtf8(HUB_BUILD_DIR) + u"/HubTools/bin/codesign"_s,
                          {u"--verify"_s, u"--anchors="_s + ours, bundle}, environment);
    ASSERT_EQ(built.status, 0) << built.all();
    const Ran installed =
        run(staged(kHelpers + u"/codesign"_s), {u"--verify"_s, u"--anchors="_s + ours, bundle}, environment);
    EXPECT_EQ(installed.status, 2) << installed.all();
    EXPECT_TRUE(installed.err.contains(u"unsupported option --anchors="_s)) << installed.all();
    const Ran assessed = run(staged(kHelpers + u"/spctl"_s),
                             {u"-a"_s, u"-vv"_s, u"-t"_s, u"install"_s, u"--anchors="_s + ours, bundle}, environment);
    EXPECT_EQ(assessed.status, 2) << assessed.all();
    EXPECT_TRUE(assessed.err.contains(u"unsupported option --anchors="_s)) << assessed.all();
}

// No path of the build is written into an installed file, so two builds
// from two folders install the same files, and a program whose bundle lost
// its tools runs none from a look-alike planted where it was built (a
// private mount over the build's tools folder, which no other test sees).
TEST_F(PackagedInstall, AnInstalledCopyRunsToolsFromItsOwnBundleOnly)
{
    QStringList files;
    for (QDirIterator it(s_root->path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();)
        files.append(it.next());
    ASSERT_GT(files.size(), 10);
    // The programs as built, before stripping: their debug information
    // names sources too.
    for (const char* program : {"HubTarn/Shell/hubtarn", "HubTarn/Shell/hubtarn-window", "HubTools/hubtools",
                                "HubTools/hubtarn-admin"}) {
        files.append(QString::fromUtf8(HUB_BUILD_DIR) + u'/' + QString::fromUtf8(program));
        ASSERT_GT(QFileInfo(files.last()).size(), 0) << program;
    }
    for (const QString& file : files) {
        const QByteArray bytes = readFile(file);
        if (kProgramsNameTheirSources && bytes.startsWith("\x7f" "ELF"))
            continue;
        EXPECT_FALSE(bytes.contains(HUB_BUILD_DIR)) << file.toStdString();
        EXPECT_FALSE(bytes.contains(HUB_SOURCE_DIR)) << file.toStdString();
    }

    QTemporaryDir scratch;
    ASSERT_TRUE(scratch.isValid());
    const QString bundle = scratch.filePath(u"Tarnhub.app"_s);
    ASSERT_EQ(run(u"cp"_s, {u"-a"_s, staged(kBundle), bundle}, QProcessEnvironment::systemEnvironment()).status, 0);
    ASSERT_TRUE(QFile::remove(bundle + u"/Contents/Helpers/hubtools"_s));
    const QString marker = scratch.filePath(u"look-alike-ran"_s);
    // sh -c: a look-alike tools folder at the build's, then the program.
    const QString lookAlike =
        u"mount -t tmpfs hubtest \"$0\" && mkdir \"$0/bin\" && printf '#!/bin/sh\\ntouch %s\\n' \"$1\" >\"$0/bin/hubtools\""
        " && chmod 755 \"$0/bin/hubtools\" && for a in ditto codesign auval PlistBuddy chmod killall hdiutil spctl"
        " pkgutil installer; do ln -s hubtools \"$0/bin/$a\"; done && shift && exec \"$@\""_s;
    QProcessEnvironment environment;
    environment.insert(u"HOME"_s, scratch.filePath(u"home"_s));
    environment.insert(u"PATH"_s, u"/usr/bin:/bin"_s);
    const Ran status = run(u"unshare"_s, {u"--mount"_s, u"sh"_s, u"-c"_s, lookAlike,
                                           QString::fromUtf8(HUB_BUILD_DIR) + u"/HubTools"_s, marker,
                                           bundle + u"/Contents/MacOS/hubtarn"_s, u"--status"_s},
                           environment);
    ASSERT_EQ(status.status, 0) << status.all();
    EXPECT_TRUE(status.out.split(u'\n').contains(u"Helper tools: "_s + bundle + u"/Contents/Helpers"_s))
        << status.out.toStdString();
    EXPECT_FALSE(QFileInfo::exists(marker));
}

// The installed helper, run as pkexec runs it for root's own request, in a
// private mount namespace whose plug-in folders and home are fresh tmpfs
// (no other test sees them): it moves no all-users bundle without the
// maker's signature to the caller's Trash, and the application's menu entry
// stays with it; it never moves the hub itself; it takes a staged bundle
// through its own script, with its own tools, as far as the signature
// check, which a bundle without the maker's signature fails with nothing
// placed; and a copy whose helpers folder its
// group or others may write, or with a tool others may write, refuses to
// run anything.
TEST_F(PackagedInstall, TheInstalledHelperRunsItsOwnStepsWithItsOwnToolsOnly)
{
    QTemporaryDir scratch;
    ASSERT_TRUE(scratch.isValid());
    const Hub::Test::TestPKI pki;
    Hub::Test::BundlePlan bundleSpec;
    bundleSpec.name = u"Echos.vst3"_s;
    const QString bundle = Hub::Test::BundleFactory::create(scratch.filePath(u"source"_s), bundleSpec);
    const QString loose = scratch.filePath(u"Loose.app"_s);
    ASSERT_EQ(run(u"cp"_s, {u"-a"_s, staged(kBundle), loose}, QProcessEnvironment::systemEnvironment()).status, 0);
    ASSERT_TRUE(QFile::setPermissions(loose + u"/Contents/Helpers"_s, QFileDevice::Permissions(0x7777)));
    // Each tool must be root's alone, and so must the folder: a tool every
    // user may write in a folder that only root may, and a folder its group
    // may write.
    const QString openTool = scratch.filePath(u"OpenTool.app"_s);
    ASSERT_EQ(run(u"cp"_s, {u"-a"_s, staged(kBundle), openTool}, QProcessEnvironment::systemEnvironment()).status, 0);
    ASSERT_TRUE(QFile::setPermissions(openTool + u"/Contents/Helpers/hubtools"_s, QFileDevice::Permissions(0x7757)));
    const QString groupFolder = scratch.filePath(u"GroupFolder.app"_s);
    ASSERT_EQ(run(u"cp"_s, {u"-a"_s, staged(kBundle), groupFolder}, QProcessEnvironment::systemEnvironment()).status,
              0);
    ASSERT_TRUE(QFile::setPermissions(groupFolder + u"/Contents/Helpers"_s, QFileDevice::Permissions(0x7775)));

    // sh -c SCRIPT HELPER BUNDLE LOOSE-HELPER HUB-BUNDLE-ID HUB OPEN-TOOL-HELPER GROUP-FOLDER-HELPER
    const QString script = uR"(set -u
mount -t tmpfs hubtest /usr/local/lib && mount -t tmpfs hubtest /root || exit 90
trash=/root/.local/share/Trash
staging="/root/.local/share/Tarn Hub/Staging/install-1"
mkdir -p /usr/local/lib/vst3 "$trash/files" "$trash/info" "$staging" || exit 91
cp -a "$1" "$staging/Echos.vst3" && cp -a "$1" /usr/local/lib/vst3/Other.vst3 || exit 92
export PKEXEC_UID=0
"$0" move-to-trash "$trash" 0 0 /usr/local/lib/vst3/Other.vst3 2>&1; echo "trash $?"
test -f /usr/local/lib/vst3/Other.vst3/Contents/Info.plist && echo "left in the place"
left=$(ls -A "$trash/files" && ls -A "$trash/info"); [ -z "$left" ] && echo "nothing in the Trash"
mount -t tmpfs -o mode=755 hubtest /opt && mount -t tmpfs -o mode=755 hubtest /usr/local/share || exit 93
entries=/usr/local/share/applications
mkdir -p /opt/Old.app/Contents "$entries" || exit 94
printf '[Desktop Entry]\nX-Tarnhub-Bundle=/opt/Old.app\n' >"$entries/$3.app.old.desktop"
printf '[Desktop Entry]\nX-Tarnhub-Bundle=/opt/Kept.app\n' >"$entries/$3.app.kept.desktop"
"$0" move-to-trash "$trash" 0 0 /opt/Old.app 2>&1; echo "trash app $?"
ls "$entries"
cp -a "$4" /opt/Tarnhub.app || exit 95
/opt/Tarnhub.app/Contents/Helpers/hubtarn-admin move-to-trash "$trash" 0 0 /opt/Tarnhub.app 2>&1; echo "hub $?"
test -x /opt/Tarnhub.app/Contents/MacOS/hubtarn && echo "hub stays"
"$0" place-for-all-users "$staging/Echos.vst3" /usr/local/lib/vst3/Echos.vst3 "" "" 2>&1; echo "place $?"
test -e /usr/local/lib/vst3/Echos.vst3 || echo "nothing placed"
test -d "$staging/Echos.vst3" && echo "staged copy kept"
mkdir /usr/local/lib/vst3/New.vst3
"$2" move-to-trash "$trash" 0 0 /usr/local/lib/vst3/New.vst3 2>&1; echo "loose $?"
test -d /usr/local/lib/vst3/New.vst3 && echo "left alone"
"$5" place-for-all-users "$staging/Echos.vst3" /usr/local/lib/vst3/Echos.vst3 "" "" 2>&1 | grep -q "/Contents/Helpers/ditto is missing or may be changed by someone other than root, so nothing is run.$"
echo "open tool $?"
"$6" move-to-trash "$trash" 0 0 /usr/local/lib/vst3/New.vst3 2>&1; echo "group folder $?"
test -d /usr/local/lib/vst3/New.vst3 && test ! -e /usr/local/lib/vst3/Echos.vst3 && echo "left alone"
)"_s;
    QProcessEnvironment environment;
    environment.insert(u"PATH"_s, u"/usr/bin:/bin"_s);
    const Ran ran = run(u"unshare"_s, {u"--mount"_s, u"sh"_s, u"-c"_s, script, staged(kHelpers + u"/hubtarn-admin"_s),
                                        bundle, loose + u"/Contents/Helpers/hubtarn-admin"_s, Hub::Config::bundleID(),
                                        staged(kBundle), openTool + u"/Contents/Helpers/hubtarn-admin"_s,
                                        groupFolder + u"/Contents/Helpers/hubtarn-admin"_s},
                        environment);
    ASSERT_EQ(ran.status, 0) << ran.all();
    EXPECT_EQ(ran.out.split(u'\n'), (QStringList{
                                        u"Tarnhub: Other.vst3 isn't signed by Tarnaudio, so it stays where it was"_s,
                                        u"trash 1"_s,
                                        u"left in the place"_s,
                                        u"nothing in the Trash"_s,
                                        u"Tarnhub: Old.app isn't signed by Tarnaudio, so it stays where it was"_s,
                                        u"trash app 1"_s,
                                        Hub::Config::bundleID() + u".app.kept.desktop"_s,
                                        Hub::Config::bundleID() + u".app.old.desktop"_s,
                                        u"hubtarn-admin: /opt/Tarnhub.app was refused: it is the hub itself."_s,
                                        u"hub 2"_s,
                                        u"hub stays"_s,
                                        u"Tarnhub: Echos.vst3 isn't signed by Tarnaudio"_s,
                                        u"place 1"_s,
                                        u"nothing placed"_s,
                                        u"staged copy kept"_s,
                                        u"hubtarn-admin: it runs only from an installed bundle's helpers folder "
                                        "that only root may change."_s,
                                        u"loose 2"_s,
                                        u"left alone"_s,
                                        u"open tool 0"_s,
                                        u"hubtarn-admin: it runs only from an installed bundle's helpers folder "
                                        "that only root may change."_s,
                                        u"group folder 2"_s,
                                        u"left alone"_s,
                                        QString(),
                                    }))
        << ran.all();
}

// --- The installed helper places for another user ---------------------------

// The installed helper as pkexec runs it for an ordinary user (uid 65534,
// whose home lies in the scratch folder: a private mount puts a passwd file
// naming it over the system's), in a private mount namespace with fresh
// plug-in and applications folders and the installed bundle in /opt. Its
// codesign trusts this run's test anchor through a wrapper that calls the
// build tree's, as the installed one trusts the maker's; nothing else of the
// bundle is changed.
class HelperForAnotherUser : public PackagedInstall {
protected:
    void SetUp() override
    {
        PackagedInstall::SetUp();
        ASSERT_TRUE(m_scratch.isValid());
        // The caller's home lies below it.
        ASSERT_TRUE(QFile::setPermissions(m_scratch.path(), QFileDevice::Permissions(0x7755)));
        m_anchor = m_scratch.filePath(u"anchor.pem"_s);
        Hub::Test::writeFile(m_anchor, m_pki.anchorPem());
        m_passwd = m_scratch.filePath(u"passwd"_s);
        Hub::Test::writeFile(m_passwd, "root:x:0:0:root:/root:/bin/sh\nhubcaller:x:65534:65534::"
                                           + QFile::encodeName(home()) + ":/bin/sh\n");
    }

    QString home() const { return m_scratch.filePath(u"home"_s); }

    // A bundle `name` with that identifier and version, sealed by `signer`.
    QString bundle(const QString& folder, const QString& name, const QString& id, const QString& version,
                   const Hub::Test::SigningIdentity& signer)
    {
        Hub::Test::BundlePlan plan;
        plan.name = name;
        plan.bundleID = id;
        plan.shortVersion = version;
        plan.withFile(u"Contents/Resources/made-by"_s, QFile::encodeName(folder));
        const QString made = Hub::Test::BundleFactory::create(m_scratch.filePath(folder), plan);
        Hub::Test::signBundle(made, signer);
        return made;
    }

    // `body` after the shared set-up, with $helper, $staging (the caller's
    // staging folder) and the arguments given as $1, $2, ...
    Ran inNamespace(const QString& body, const QStringList& arguments)
    {
        const QString setUp = uR"sh(set -u
hub=$1 codesign=$2 anchor=$3 passwd=$4 home=$5
shift 5
for place in /usr/local/lib /usr/local/share /opt; do
  mount -t tmpfs -o mode=755 hubtest "$place" || exit 90
done
# The helper's private copies are made here: a test beside this one must
# not see them, nor this one see theirs.
mount -t tmpfs -o mode=1777 hubtest /var/tmp || exit 90
mount --bind "$passwd" /etc/passwd || exit 90
mkdir -p /usr/local/lib/vst3 /usr/local/share/applications || exit 90
cp -a "$hub" /opt/Tarnhub.app || exit 91
wrapper=/opt/Tarnhub.app/Contents/Helpers/codesign
rm "$wrapper" && printf '#!/bin/sh\nexec "%s" --anchors="%s" "$@"\n' "$codesign" "$anchor" >"$wrapper" && chmod 755 "$wrapper" || exit 92
helper=/opt/Tarnhub.app/Contents/Helpers/hubtarn-admin
staging="$home/.local/share/Tarn Hub/Staging"
mkdir -p "$staging" && chown -R 65534:65534 "$home" || exit 93
export PKEXEC_UID=65534
)sh"_s;
        QProcessEnvironment environment;
        environment.insert(u"PATH"_s, u"/usr/bin:/bin:/usr/sbin:/sbin"_s);
        return run(u"unshare"_s,
                   QStringList{u"--mount"_s, u"sh"_s, u"-c"_s, setUp + body, u"sh"_s, staged(kBundle),
                               QString::fromUtf8(HUB_BUILD_DIR) + u"/HubTools/bin/codesign"_s, m_anchor, m_passwd,
                               home()}
                       + arguments,
                   environment);
    }

    QTemporaryDir m_scratch;
    const Hub::Test::TestPKI m_pki;
    QString m_anchor;
    QString m_passwd;
};

// Whatever rule and version the caller names, the helper places only a
// bundle the maker sealed, never the hub's own bundle nor over it, and
// never one older than the copy it replaces; what it places is root's.
TEST_F(HelperForAnotherUser, PlacesOnlyTheMakersBundlesUnderItsOwnRules)
{
    const QString team = Hub::Config::teamID();
    const QString hubID = Hub::Config::bundleID();
    const QString makers = Hub::CodeSignature::requirement(u"com.tarnaudio.echos"_s, team);
    const QString newer = bundle(u"newer"_s, u"Echos.vst3"_s, u"com.tarnaudio.echos"_s, u"2.0"_s, m_pki.maker());
    const QString older = bundle(u"older"_s, u"Echos.vst3"_s, u"com.tarnaudio.echos"_s, u"1.0"_s, m_pki.maker());
    const QString otherTeam =
        bundle(u"other"_s, u"Echos.vst3"_s, u"com.tarnaudio.echos"_s, u"3.0"_s, m_pki.otherTeam());
    const QString selfSigned =
        bundle(u"self"_s, u"Echos.vst3"_s, u"com.tarnaudio.echos"_s, u"3.0"_s, m_pki.selfSigned());
    const QString hubCopy = bundle(u"hub"_s, u"Tarnhub.app"_s, hubID, u"99.0"_s, m_pki.maker());
    const QString app = bundle(u"app"_s, u"Tarnhub.app"_s, u"com.tarnaudio.echos"_s, u"99.0"_s, m_pki.maker());
    const QString echos = u"/usr/local/lib/vst3/Echos.vst3"_s;

    struct Row {
        const char* what;
        QString staged;
        QString destination;
        QString rule;      // the caller's
        QString previous;  // what lies at the destination before, if anything
        bool placed;
        const char* says;  // in the helper's or the script's output
    };
    const Row rows[] = {
        {"the maker's newer bundle", newer, echos, QString(), older, true, ""},
        {"another team's bundle under a rule written for it", otherTeam, echos,
         u"anchor apple generic and certificate leaf[subject.OU] = \"OTHERTEAM1\""_s, QString(), false,
         "Tarnhub: Echos.vst3 isn't signed by Tarnaudio"},
        {"a bundle sealed with a self-signed certificate", selfSigned, echos, makers, QString(), false,
         "Tarnhub: Echos.vst3"},
        {"an older copy of the maker's", older, echos, makers, newer, false, "is older than the 2.0"},
        {"a maker's application over the hub's bundle", app, u"/opt/Tarnhub.app"_s, QString(), QString(), false,
         "only replaced by its own update"},
        {"the hub's own bundle under another name", hubCopy, u"/opt/Other.app"_s, QString(), QString(), false,
         "only replaced by its own update"},
    };
    const QString body = uR"sh(source=$1 name=$2 dest=$3 rule=$4 previous=$5
if [ -n "$previous" ]; then cp -a "$previous" "$dest" || exit 94; fi
hub_info=$(md5sum </opt/Tarnhub.app/Contents/Info.plist)
rm -rf "$staging/install-1" && mkdir "$staging/install-1" && cp -a "$source" "$staging/install-1/$name" || exit 95
chown -R 65534:65534 "$home" || exit 95
"$helper" place-for-all-users "$staging/install-1/$name" "$dest" "$rule" "" 2>&1; echo "status $?"
cmp -s "$source/Contents/Resources/made-by" "$dest/Contents/Resources/made-by" && echo "placed"
if [ -n "$previous" ] && cmp -s "$previous/Contents/Resources/made-by" "$dest/Contents/Resources/made-by"; then echo "kept"; fi
[ "$(md5sum </opt/Tarnhub.app/Contents/Info.plist)" = "$hub_info" ] || echo "hub changed"
find /usr/local/lib /opt ! -user 0 | grep -q . && echo "not root's"
ls /var/tmp | grep -q '^hubtarn-take' && echo "copies left"
true
)sh"_s;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const Ran ran = inNamespace(body, {row.staged, QFileInfo(row.destination).fileName(), row.destination, row.rule,
                                           row.previous});
        ASSERT_EQ(ran.status, 0) << ran.all();
        const QStringList lines = ran.out.split(u'\n', Qt::SkipEmptyParts);
        EXPECT_EQ(lines.contains(u"status 0"_s), row.placed) << ran.all();
        EXPECT_EQ(lines.contains(u"placed"_s), row.placed) << ran.all();
        EXPECT_EQ(lines.contains(u"kept"_s), !row.placed && !row.previous.isEmpty()) << ran.all();
        EXPECT_TRUE(ran.out.contains(QString::fromUtf8(row.says))) << ran.all();
        for (const QString& never : {u"hub changed"_s, u"not root's"_s, u"copies left"_s})
            EXPECT_FALSE(lines.contains(never)) << ran.all();
    }
}

// A name that is no text in the system's encoding is read by the helper as
// another (each stray byte a replacement character): it is refused, and
// nothing of either name appears.
TEST_F(HelperForAnotherUser, RefusesANameThatIsNoText)
{
    const QString staged = bundle(u"app"_s, u"Echos.app"_s, u"com.tarnaudio.echos"_s, u"2.0"_s, m_pki.maker());
    const QString body = uR"sh(mkdir -p "$staging/install-1" && cp -a "$1" "$staging/install-1/Echos.app" || exit 95
chown -R 65534:65534 "$home" || exit 95
"$helper" place-for-all-users "$staging/install-1/Echos.app" "$(printf '/opt/\377\376.app')" "" "" 2>&1; echo "status $?"
ls /opt
)sh"_s;
    const Ran ran = inNamespace(body, {staged});
    ASSERT_EQ(ran.status, 0) << ran.all();
    EXPECT_EQ(ran.out, u"hubtarn-admin: argument 2 isn't a name in the system's encoding.\nstatus 2\nTarnhub.app\n"_s)
        << ran.all();
}

// The caller swaps the staged bundle's folder with a link to a folder only
// root may read, over and over, while asking to place the staged bundle:
// whatever the helper reads, it reads with the caller's rights, so the
// private bundle never reaches a place every user reads, nor moves.
TEST_F(HelperForAnotherUser, AStagedFolderSwappedForALinkNeverLendsRootsReading)
{
    const QString mine = bundle(u"mine"_s, u"Echos.vst3"_s, u"com.tarnaudio.echos"_s, u"2.0"_s, m_pki.maker());
    const QString secret = bundle(u"private/secret"_s, u"Echos.vst3"_s, u"com.tarnaudio.echos"_s, u"2.0"_s, m_pki.maker());
    const QString privateFolder = QFileInfo(secret).path();
    ASSERT_TRUE(QFile::setPermissions(m_scratch.filePath(u"private"_s), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                                           | QFileDevice::ExeOwner));
    const QString swapper = m_scratch.filePath(u"hub_race_swapper"_s);
    ASSERT_TRUE(QFile::copy(QString::fromUtf8(HUB_RACE_SWAPPER), swapper));
    ASSERT_TRUE(QFile::setPermissions(swapper, QFileDevice::Permissions(0x7555)));
    const QString body = uR"sh(mine=$1 private=$2 swapper=$3
mkdir -p "$staging/install-1" && cp -a "$mine" "$staging/install-1/Echos.vst3" && ln -s "$private" "$staging/decoy" || exit 95
chown -R -h 65534:65534 "$home" || exit 95
before=$(find "$private" -exec md5sum {} + 2>/dev/null | sort)
setpriv --reuid=65534 --regid=65534 --clear-groups "$swapper" "$staging/install-1" "$staging/decoy" &
racing=$!
tries=0
end=$(($(date +%s) + 20))
while [ "$tries" -lt 300 ] && [ "$(date +%s)" -lt "$end" ]; do
  tries=$((tries + 1))
  "$helper" place-for-all-users "$staging/install-1/Echos.vst3" /usr/local/lib/vst3/Echos.vst3 "" "" >/dev/null 2>&1
  if grep -qsx private/secret /usr/local/lib/vst3/Echos.vst3/Contents/Resources/made-by; then
    echo "leaked after $tries tries"
    break
  fi
done
kill -0 "$racing" && echo "raced throughout"
kill "$racing"
wait "$racing"
[ "$tries" -ge 50 ] && echo "enough tries"
[ "$(find "$private" -exec md5sum {} + 2>/dev/null | sort)" = "$before" ] && echo "private bundle as it was"
find /usr/local/lib /opt /usr/local/share -user 65534 | grep -q . && echo "the caller's files placed"
true
)sh"_s;
    const Ran ran = inNamespace(body, {mine, privateFolder, swapper});
    ASSERT_EQ(ran.status, 0) << ran.all();
    EXPECT_EQ(ran.out.split(u'\n', Qt::SkipEmptyParts),
              (QStringList{u"raced throughout"_s, u"enough tries"_s, u"private bundle as it was"_s}))
        << ran.all();
}

// Installed for a user's own prefix (no DESTDIR), the desktop database is
// refreshed, so both link schemes resolve to the installed program at once.
TEST(DesktopInstall, InstallingRefreshesTheDesktopDatabase)
{
    QTemporaryDir prefix;
    ASSERT_TRUE(prefix.isValid());
    const Ran installed = install(QString(), {u"--prefix"_s, prefix.path(), u"--component"_s, u"desktop"_s});
    ASSERT_EQ(installed.status, 0) << installed.all();
    const QStringList cache =
        QString::fromUtf8(readFile(prefix.filePath(u"share/applications/mimeinfo.cache"_s))).split(u'\n');
    EXPECT_TRUE(cache.contains(u"x-scheme-handler/hubtarn="_s + Hub::Config::bundleID() + u".desktop;"_s))
        << cache.join(u'\n').toStdString();
    EXPECT_TRUE(cache.contains(u"x-scheme-handler/"_s + Hub::Config::bundleID() + u'=' + Hub::Config::bundleID()
                               + u".url-handler.desktop;"_s))
        << cache.join(u'\n').toStdString();
}

// Every path of ours below `root`, relative to it, sorted.
QStringList pathsBelow(const QString& root)
{
    QStringList paths;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        paths.append(QDir(root).relativeFilePath(it.next()));
    paths.sort();
    return paths;
}

// The way back: the uninstall target's script over an install's manifest,
// under the DESTDIR the install had, takes away every file and folder of
// ours, keeps another program's entry beside ours, and leaves no desktop
// database naming the removed entries. The manifest lists each path once,
// as installed, whatever the staging.
TEST(RemovingAnInstall, LeavesNothingOfOursAndKeepsWhatOthersPutBeside)
{
    struct Row {
        const char* name;
        bool staged;             // through DESTDIR, with --prefix /usr; else into the scratch prefix
        QStringList options;     // after the prefix
        const char* manifest;    // the one the install writes
        bool anotherEntry;       // another program's desktop entry is there before
        QStringList left;        // relative to the scratch folder
    };
    const QString applications = kApplications.mid(1);
    const Row rows[] = {
        {"a package's staging", true, {}, "install_manifest.txt", false,
         {applications, u"usr"_s, u"usr/bin"_s, u"usr/share"_s}},
        {"a user's prefix", false, {u"--component"_s, u"desktop"_s}, "install_manifest_desktop.txt", false,
         {u"share"_s}},
        {"a user's prefix with another program's entry", false, {u"--component"_s, u"desktop"_s},
         "install_manifest_desktop.txt", true,
         {u"share"_s, u"share/applications"_s, u"share/applications/mimeinfo.cache"_s,
          u"share/applications/other.desktop"_s}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir scratch;
        ASSERT_TRUE(scratch.isValid());
        const QString other = scratch.filePath(u"share/applications/other.desktop"_s);
        if (row.anotherEntry) {
            ASSERT_TRUE(QDir().mkpath(QFileInfo(other).path()));
            Hub::Test::writeFile(other, "[Desktop Entry]\nType=Application\nName=Other\nExec=other %u\n"
                                        "MimeType=x-scheme-handler/other;\n");
        }
        const QString prefix = row.staged ? u"/usr"_s : scratch.path();
        const Ran installed =
            install(row.staged ? scratch.path() : QString(), QStringList{u"--prefix"_s, prefix} + row.options);
        ASSERT_EQ(installed.status, 0) << installed.all();

        const QString manifest = QString::fromUtf8(HUB_BUILD_DIR) + u'/' + QString::fromUtf8(row.manifest);
        const QStringList listed = QString::fromUtf8(readFile(manifest)).split(u'\n', Qt::SkipEmptyParts);
        ASSERT_GT(listed.size(), 4);
        for (const QString& path : listed) {
            const QString placed = (row.staged ? scratch.path() : QString()) + path;
            EXPECT_TRUE(QFileInfo::exists(placed) || QFileInfo(placed).isSymLink()) << path.toStdString();
        }

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(u"DESTDIR"_s);
        if (row.staged)
            environment.insert(u"DESTDIR"_s, scratch.path());
        const Ran removed = run(QString::fromUtf8(HUB_CMAKE),
                                {u"-D"_s, u"HUB_MANIFEST="_s + manifest, u"-D"_s, u"HUB_BINDIR=bin"_s, u"-D"_s,
                                 u"HUB_DATADIR=share"_s, u"-P"_s, QString::fromUtf8(HUB_UNINSTALL_SCRIPT)},
                                environment);
        ASSERT_EQ(removed.status, 0) << removed.all();
        EXPECT_EQ(pathsBelow(scratch.path()), row.left);
        if (row.anotherEntry) {
            const QString cache = QString::fromUtf8(readFile(scratch.filePath(u"share/applications/mimeinfo.cache"_s)));
            EXPECT_TRUE(cache.contains(u"x-scheme-handler/other=other.desktop;"_s)) << cache.toStdString();
            EXPECT_FALSE(cache.contains(Hub::Config::bundleID())) << cache.toStdString();
        }
    }
}

// A relative applications folder is a folder under the prefix the install
// is given, not one under the folder cmake was run in.
TEST(RelativeApplicationsFolder, IsTakenUnderTheInstallPrefix)
{
    QTemporaryDir scratch;
    ASSERT_TRUE(scratch.isValid());
    QProcess configure;
    configure.setWorkingDirectory(scratch.path());
    configure.start(QString::fromUtf8(HUB_CMAKE),
                    {u"-S"_s, QString::fromUtf8(HUB_SOURCE_DIR), u"-B"_s, scratch.filePath(u"build"_s), u"-G"_s,
                     u"Ninja"_s, u"-DHUB_APPLICATIONS_DIR=lib/tarnhub"_s});
    ASSERT_TRUE(configure.waitForFinished(kPatience));
    ASSERT_EQ(configure.exitCode(), 0) << configure.readAllStandardError().toStdString();
    const QString rules = QString::fromUtf8(readFile(scratch.filePath(u"build/HubTarn/Shell/cmake_install.cmake"_s)));
    EXPECT_TRUE(rules.contains(u"\"${CMAKE_INSTALL_PREFIX}/lib/tarnhub/Tarnhub.app/Contents/MacOS\""_s));
    EXPECT_TRUE(rules.contains(u"set(HUB_APPLICATIONS_DIR \"lib/tarnhub\")"_s));
    EXPECT_FALSE(rules.contains(scratch.filePath(u"lib/tarnhub"_s))) << "nothing under the folder cmake ran in";
}

// The command in bin/ reaches the bundle by a relative link within one
// top-level folder and by its whole path across them (Debian's rule), so a
// distribution's bundle under /usr/lib/tarnhub passes lintian.
TEST(CommandLink, IsRelativeWithinATopLevelFolderAndAbsoluteAcrossThem)
{
    const struct {
        QString applications;
        QString prefix;
        QString target;
    } table[] = {
        {u"/opt"_s, u"/usr"_s, u"/opt/Tarnhub.app/Contents/MacOS/hubtarn"_s},
        {u"/opt"_s, u"/usr/local"_s, u"/opt/Tarnhub.app/Contents/MacOS/hubtarn"_s},
        {u"lib/tarnhub"_s, u"/usr"_s, u"../lib/tarnhub/Tarnhub.app/Contents/MacOS/hubtarn"_s},
        {u"/usr/lib/tarnhub"_s, u"/usr/"_s, u"../lib/tarnhub/Tarnhub.app/Contents/MacOS/hubtarn"_s},
        {u"/usr/lib/tarnhub"_s, u"/usr/local"_s, u"../../lib/tarnhub/Tarnhub.app/Contents/MacOS/hubtarn"_s},
        {u"Applications"_s, u"/home/me/.local"_s, u"../Applications/Tarnhub.app/Contents/MacOS/hubtarn"_s},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(QString(row.applications + u" under "_s + row.prefix).toStdString());
        QTemporaryDir stage;
        ASSERT_TRUE(stage.isValid());
        QProcess install;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"DESTDIR"_s, stage.path());
        install.setProcessEnvironment(environment);
        install.start(QString::fromUtf8(HUB_CMAKE),
                      {u"-DHUB_PART=program"_s, u"-DHUB_APPLICATIONS_DIR="_s + row.applications,
                       u"-DCMAKE_INSTALL_PREFIX="_s + row.prefix, u"-DHUB_BINDIR=bin"_s, u"-P"_s,
                       QString::fromUtf8(HUB_SOURCE_DIR) + u"/cmake/HubInstall.cmake"_s});
        ASSERT_TRUE(install.waitForFinished(kPatience));
        ASSERT_EQ(install.exitCode(), 0) << install.readAllStandardError().toStdString();
        const QString link = stage.path() + QDir::cleanPath(row.prefix) + u"/bin/hubtarn"_s;
        std::error_code error;
        const std::filesystem::path target = std::filesystem::read_symlink(QFile::encodeName(link).toStdString(), error);
        EXPECT_FALSE(error) << error.message();
        EXPECT_EQ(QFile::decodeName(target.c_str()), row.target);
    }
}

} // namespace

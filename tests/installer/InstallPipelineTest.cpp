#include "BundleFactory.h"
#include "BundleSigner.h"
#include "CraftedArchives.h"
#include "QStringPrinter.h"
#include "TestFiles.h"
#include "TestHttpsServer.h"
#include "TestPKI.h"
#include "ToolsPaths.h"

#include "Base/Config.h"
#include "Base/HubError.h"
#include "Base/Machine.h"
#include "Base/Process.h"
#include "Catalog/CatalogRecords.h"
#include "Installer/ApplicationEntries.h"
#include "Installer/InstallErrors.h"
#include "Installer/InstallLocations.h"
#include "Installer/PluginInstaller.h"
#include "Platform/FileMoves.h"
#include "Platform/PropertyList.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUuid>

#include <archive.h>
#include <archive_entry.h>

#include <filesystem>
#include <memory>
#include <mutex>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using namespace Hub;
using Hub::Test::BundlePlan;
using Hub::Test::readAll;
using Hub::Test::TestHttpsServer;

namespace Hub {
static void PrintTo(const InstallStep& step, std::ostream* out)
{
    static const char* const kNames[] = {"downloading", "verifying", "installing", "registering", "done"};
    *out << kNames[int(step.kind)];
    if (step.kind == InstallStep::Kind::downloading)
        *out << '(' << step.fraction << ')';
}
} // namespace Hub

using Hub::Test::noise;

namespace {

const QString kID = u"com.tarnaudio.echo"_s;

void writeAll(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// Every item under `root` with what identifies its state: a file's digest
// and mode, a link's target, a folder's mode. Paths under `skip` are left out.
QMap<QString, QString> treeState(const QString& root, const QString& skip)
{
    QMap<QString, QString> state;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path == skip || path.startsWith(skip + u'/'))
            continue;
        const QFileInfo info(path);
        QString value;
        if (info.isSymLink())
            value = u"link "_s + info.symLinkTarget();
        else if (info.isDir())
            value = u"folder "_s + QString::number(int(info.permissions()), 16);
        else
            value = u"file "_s + QString::number(int(info.permissions()), 16) + u' '
                    + QString::fromLatin1(QCryptographicHash::hash(readAll(path), QCryptographicHash::Sha256).toHex());
        state.insert(path.mid(root.size()), value);
    }
    return state;
}

class FakeRegistry : public AURegistry {
public:
    bool refreshAndWait(const AUDescriptor& descriptor, double timeout) override
    {
        const std::lock_guard lock(m_mutex);
        asked.push_back(descriptor);
        timeouts.push_back(timeout);
        return listed;
    }

    bool listed = true;
    std::vector<AUDescriptor> asked;
    std::vector<double> timeouts;

private:
    std::mutex m_mutex;
};

// What the server does with one artifact's address.
struct Reply {
    enum class Kind { whole, paced, noLength, cutShort, status, redirect };
    Kind kind = Kind::whole;
    QByteArray body;
    int status = 200;
    std::string location;
};

class InstallPipelineTest : public ::testing::Test {
public:
    static BundlePlan recipe(PluginFormat format, const QString& version = u"2.1.0"_s)
    {
        BundlePlan recipe;
        recipe.name = format == PluginFormat::au ? u"Echo.component"_s : u"Echo.vst3"_s;
        recipe.bundleID = kID;
        recipe.shortVersion = version;
        if (format == PluginFormat::au)
            recipe.withComponent(u"aufx"_s, u"Echo"_s, u"Tarn"_s);
        return recipe;
    }

protected:
    static void SetUpTestSuite() { s_pki = std::make_unique<Hub::Test::TestPKI>(); }
    static void TearDownTestSuite() { s_pki.reset(); }

    void SetUp() override
    {
        ASSERT_TRUE(m_tmp.isValid());
        const QString base = m_tmp.path();
        m_roots = InstallLocations::rootsFor(base + u"/home"_s, base + u"/system"_s, base + u"/system/Applications"_s,
                                             Config::supportFolder(base + u"/home"_s));
        QDir().mkpath(base + u"/system/Applications"_s);
        m_fixtures = base + u"/fixtures"_s;
        m_trash = base + u"/trash"_s;

        m_server.get("/files/(.+)", [this](const httplib::Request& request, httplib::Response& response) {
            const std::lock_guard lock(m_repliesMutex);
            const auto found = m_replies.find(request.matches[1].str());
            if (found == m_replies.end()) {
                response.status = 404;
                return;
            }
            const Reply& reply = found->second;
            switch (reply.kind) {
            case Reply::Kind::whole:
                response.set_content(reply.body.toStdString(), "application/zip");
                break;
            case Reply::Kind::paced: {
                // With a length, in pieces with pauses between them, so the
                // client sees the download in progress.
                const std::string body = reply.body.toStdString();
                response.set_content_provider(
                    body.size(), "application/zip",
                    [this, body](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                        if (!m_server.pause(5ms))
                            return false;
                        return sink.write(body.data() + offset, std::min<std::size_t>(128 * 1024, body.size() - offset));
                    });
                break;
            }
            case Reply::Kind::noLength: {
                const std::string body = reply.body.toStdString();
                response.set_chunked_content_provider(
                    "application/zip", [body](std::size_t offset, httplib::DataSink& sink) {
                        if (offset >= body.size()) {
                            sink.done();
                            return true;
                        }
                        return sink.write(body.data() + offset, std::min<std::size_t>(64 * 1024, body.size() - offset));
                    });
                break;
            }
            case Reply::Kind::cutShort: {
                const std::string half = reply.body.left(reply.body.size() / 2).toStdString();
                response.set_content_provider(std::size_t(reply.body.size()), "application/zip",
                                              [half](std::size_t, std::size_t, httplib::DataSink& sink) {
                                                  sink.write(half.data(), half.size());
                                                  return false; // drops the connection
                                              });
                break;
            }
            case Reply::Kind::status:
                response.status = reply.status;
                response.set_content("unavailable", "text/plain");
                break;
            case Reply::Kind::redirect:
                response.set_redirect(reply.location);
                break;
            }
        });

        m_installer = std::make_unique<PluginInstaller>(
            m_registry, false, 0.25, [this] { return Http::Session{m_server.caBundle(), m_stop.get_token()}; },
            PluginInstaller::URLResolver{}, PrivilegedRunner::moveInto(m_trash), PrivilegedRunner::runAsCurrentUser);
        m_installer->tools = Hub::Test::buildTreeTools();
        m_installer->anchors = s_pki->anchors();

        m_product.id = u"echo"_s;
        m_product.name = u"Echo"_s;
        m_release.version = u"2.1.0"_s;
    }

    // Makes, signs and zips a fixture bundle; the artifact describes it
    // as the catalog would, and the server serves it.
    Artifact artifact(const BundlePlan& bundleSpec, qsizetype padding = 0,
                      const Hub::Test::SigningIdentity* signer = nullptr)
    {
        const QString folder = m_fixtures + u'/' + QUuid::createUuid().toString(QUuid::WithoutBraces);
        BundlePlan withPadding = bundleSpec;
        if (padding > 0)
            withPadding.withFile(u"Contents/Resources/samples.bin"_s, noise(padding, quint32(padding)));
        const QString bundle = Hub::Test::BundleFactory::create(folder, withPadding);
        Hub::Test::signBundle(bundle, signer ? *signer : s_pki->maker());
        const QString zip = folder + u"/archive.zip"_s;
        const Shell::Result zipped =
            Shell::run(Hub::Test::buildTreeTools().ditto, {u"-c"_s, u"-k"_s, u"--keepParent"_s, bundle, zip}, 60);
        EXPECT_EQ(zipped.status, 0) << zipped.output.toStdString();
        return serve(withPadding.name, readAll(zip));
    }

    Artifact serve(const QString& bundleName, const QByteArray& bytes)
    {
        Artifact result;
        result.format = *pluginFormatFromBundleName(bundleName);
        result.bundle = bundleName;
        result.bundleID = kID;
        result.sha256 = QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
        result.size = bytes.size();
        result.archs = QStringList{Machine::cpu()};
        const std::string name = rawValue(result.format).toStdString() + '-' + std::to_string(++m_served) + ".zip";
        result.url = m_server.url(u"/files/"_s + QString::fromStdString(name)).toString();
        const std::lock_guard lock(m_repliesMutex);
        m_replies[name] = Reply{Reply::Kind::whole, bytes, 200, {}};
        return result;
    }

    Reply& replyFor(const Artifact& served)
    {
        const std::string name = QUrl(served.url).path().section(u'/', -1).toStdString();
        return m_replies.at(name);
    }

    QList<InstalledFormat> install(std::vector<Artifact> artifacts, std::set<PluginFormat> formats,
                                   InstallScope scope = InstallScope::user)
    {
        m_release.artifacts = std::move(artifacts);
        return m_installer->install(m_product, m_release, formats, scope, m_roots,
                                    [this](const InstallStep& step) {
                                        const std::lock_guard lock(m_stepsMutex);
                                        m_steps.append(step);
                                    });
    }

    // The sentence an install ends with; "installed" when it succeeds.
    QString outcome(std::vector<Artifact> artifacts, std::set<PluginFormat> formats,
                    InstallScope scope = InstallScope::user)
    {
        try {
            install(std::move(artifacts), std::move(formats), scope);
        } catch (const HubError& error) {
            return error.kind() == HubError::Kind::cancelled ? u"<cancelled>"_s : error.errorDescription();
        } catch (...) {
            return errorSentence(std::current_exception());
        }
        return u"installed"_s;
    }

    QString userFolder(PluginFormat format) const
    {
        return InstallLocations::folder(m_roots, format, InstallScope::user);
    }
    QString stagingRoot() const { return PluginInstaller::stagingRoot(m_roots); }
    QStringList stagingEntries() const
    {
        return QDir(stagingRoot()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }
    QMap<QString, QString> outsideStaging() const { return treeState(m_tmp.path() + u"/home"_s, stagingRoot()); }

    // An older Echo.vst3 in the user's folder and its backup archive.
    void installOlderVersion()
    {
        const QString bundle = Hub::Test::BundleFactory::create(userFolder(PluginFormat::vst3),
                                                                recipe(PluginFormat::vst3, u"2.0.0"_s));
        Hub::Test::signBundle(bundle, s_pki->maker());
        writeAll(PluginInstaller::backupsFolder(m_roots, m_product.id) + u"/1.9.0-vst3.zip"_s, "older backup");
    }

    static inline std::unique_ptr<Hub::Test::TestPKI> s_pki;
    QTemporaryDir m_tmp;
    InstallRoots m_roots;
    QString m_fixtures;
    QString m_trash;
    TestHttpsServer m_server;
    std::mutex m_repliesMutex;
    std::map<std::string, Reply> m_replies;
    int m_served = 0;
    std::shared_ptr<FakeRegistry> m_registry = std::make_shared<FakeRegistry>();
    std::stop_source m_stop;
    std::unique_ptr<PluginInstaller> m_installer;
    Product m_product;
    Release m_release;
    std::mutex m_stepsMutex;
    QList<InstallStep> m_steps;
};

// ---- The progress the app model sees ----

TEST_F(InstallPipelineTest, ProgressRisesByCatalogSizeThenVerifiesInstallsRegistersAndFinishes)
{
    // Three quarters of the bytes are the VST3's.
    const Artifact vst3 = artifact(recipe(PluginFormat::vst3), 3 * 512 * 1024);
    const Artifact au = artifact(recipe(PluginFormat::au), 512 * 1024);
    const double first = double(*vst3.size) / double(*vst3.size + *au.size);
    replyFor(vst3).kind = Reply::Kind::paced;
    replyFor(au).kind = Reply::Kind::paced;

    // The resolver runs just before each download; its marks split the steps.
    m_installer->resolveURL = [this](const QString& product, const Artifact& which, const QString& version) {
        EXPECT_EQ(product, u"echo"_s);
        EXPECT_EQ(version, u"2.1.0"_s);
        const std::lock_guard lock(m_stepsMutex);
        m_steps.append(InstallStep::registering()); // a mark no download step can be
        return QUrl(which.url);
    };
    const QList<InstalledFormat> results = install({au, vst3}, {PluginFormat::au, PluginFormat::vst3});

    ASSERT_EQ(results.size(), 2);
    EXPECT_EQ(results[0].format, PluginFormat::vst3);
    EXPECT_EQ(results[0].path, userFolder(PluginFormat::vst3) + u"/Echo.vst3"_s);
    EXPECT_EQ(results[0].version, u"2.1.0"_s);
    EXPECT_EQ(results[1].format, PluginFormat::au);
    EXPECT_EQ(results[1].path, userFolder(PluginFormat::au) + u"/Echo.component"_s);

    ASSERT_GE(m_steps.size(), 8);
    EXPECT_EQ(m_steps[0], InstallStep::downloading(0.0));
    EXPECT_EQ(m_steps[1], InstallStep::registering()); // resolver, first artifact
    const qsizetype second = m_steps.indexOf(InstallStep::registering(), 2);
    ASSERT_GT(second, 2);
    // The last download may end on 1.0 itself; the pipeline's own 1.0 comes after.
    const qsizetype end = m_steps.lastIndexOf(InstallStep::downloading(1.0));
    ASSERT_GT(end, second);
    // The first download's fractions stay within its share and end on it.
    for (qsizetype i = 2; i < second; ++i) {
        ASSERT_EQ(m_steps[i].kind, InstallStep::Kind::downloading);
        EXPECT_LE(m_steps[i].fraction, first + 1e-9);
        if (i > 2) {
            EXPECT_GE(m_steps[i].fraction, m_steps[i - 1].fraction);
        }
    }
    EXPECT_GT(second - 2, 1) << "the first download reported no intermediate fractions";
    EXPECT_NEAR(m_steps[second - 1].fraction, first, 1e-9);
    for (qsizetype i = second + 1; i < end; ++i) {
        ASSERT_EQ(m_steps[i].kind, InstallStep::Kind::downloading);
        EXPECT_GE(m_steps[i].fraction, first - 1e-9);
        EXPECT_LE(m_steps[i].fraction, 1.0);
    }
    const QList<InstallStep> tail{InstallStep::downloading(1.0), InstallStep::verifying(), InstallStep::installing(),
                                  InstallStep::registering(), InstallStep::done()};
    EXPECT_EQ(m_steps.mid(end), tail);

    // One wait for the one Audio Unit, with the catalog's time-out.
    ASSERT_EQ(m_registry->asked.size(), 1u);
    EXPECT_EQ(m_registry->asked[0], (AUDescriptor{u"aufx"_s, u"Echo"_s, u"Tarn"_s}));
    EXPECT_EQ(m_registry->timeouts[0], 0.25);

    // The placed bundles are the served ones, and nothing is left in staging.
    EXPECT_EQ(PluginInstaller::bundleID(results[1].path), kID);
    EXPECT_NO_THROW(CodeSignature::verify(results[0].path, kID, false, s_pki->anchors()));
    EXPECT_NO_THROW(CodeSignature::verify(results[1].path, kID, false, s_pki->anchors()));
    EXPECT_TRUE(stagingEntries().isEmpty()) << stagingEntries().join(u", "_s).toStdString();
}

TEST_F(InstallPipelineTest, AMissingSizeGivesEveryArtifactAnEqualShare)
{
    Artifact vst3 = artifact(recipe(PluginFormat::vst3), 3 * 512 * 1024);
    vst3.size.reset();
    const Artifact au = artifact(recipe(PluginFormat::au), 256 * 1024);
    install({vst3, au}, {PluginFormat::vst3, PluginFormat::au});

    // The server sends lengths, so each download reports its own end:
    // the first ends on one half.
    QList<double> fractions;
    for (const InstallStep& step : std::as_const(m_steps))
        if (step.kind == InstallStep::Kind::downloading)
            fractions.append(step.fraction);
    EXPECT_TRUE(fractions.contains(0.5));
    EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
    EXPECT_EQ(fractions.last(), 1.0);
}

TEST_F(InstallPipelineTest, ADownloadWithoutALengthStillEndsOnOneBeforeVerifying)
{
    const Artifact vst3 = artifact(recipe(PluginFormat::vst3), 256 * 1024);
    replyFor(vst3).kind = Reply::Kind::noLength;
    install({vst3}, {PluginFormat::vst3});
    const QList<InstallStep> expected{InstallStep::downloading(0.0), InstallStep::downloading(1.0),
                                      InstallStep::verifying(), InstallStep::installing(), InstallStep::done()};
    EXPECT_EQ(m_steps, expected);
}

TEST_F(InstallPipelineTest, VST3AloneHasNoRegistrationStep)
{
    install({artifact(recipe(PluginFormat::vst3))}, {PluginFormat::vst3});
    EXPECT_FALSE(m_steps.contains(InstallStep::registering()));
    EXPECT_EQ(m_steps.last(), InstallStep::done());
    EXPECT_TRUE(m_registry->asked.empty());
}

TEST_F(InstallPipelineTest, AVST3ForTheUserLiesWhereLinuxHostsLookAndIsFoundForTheUser)
{
    const QList<InstalledFormat> results = install({artifact(recipe(PluginFormat::vst3))}, {PluginFormat::vst3});

    const QString expected = m_roots.userHome + u"/.vst3/Echo.vst3"_s;
    EXPECT_EQ(results, (QList<InstalledFormat>{{PluginFormat::vst3, expected, u"2.1.0"_s}}));
    Product scanned = m_product;
    scanned.release = m_release;
    EXPECT_EQ(InstallLocations::installed(scanned, m_roots), results);
    EXPECT_EQ(InstallLocations::scope(expected, PluginFormat::vst3, m_roots), InstallScope::user);
}

// An application is installed on Linux when the desktop's menu shows it:
// an entry with its name, its own icon when it has one a menu can show,
// and its executable, in the applications folder of the install's scope,
// which the desktop's own check accepts; it goes with the copy.
TEST_F(InstallPipelineTest, AnInstalledApplicationIsInTheMenuUntilItGoesToTheTrash)
{
    m_product.name = u"Echo"_s;
    const InstallRoots userPlace = m_roots;
    // The applications place for all users exists and may be written, so
    // applications go there (without the administrator's script).
    const InstallRoots allUsersPlace = InstallLocations::rootsFor(
        m_roots.userHome, m_roots.system, m_roots.system + u"/Applications"_s, m_roots.support);
    struct Row {
        const char* name;
        InstallScope scope;
        InstallRoots roots;
        QString iconFile;          // CFBundleIconFile, with a file of that name in Contents/Resources
        QString iconShown;         // in the entry, relative to the bundle; empty: no Icon line
    };
    const Row rows[] = {
        {"for you, with a PNG icon", InstallScope::user, userPlace, u"Echo.png"_s, u"Contents/Resources/Echo.png"_s},
        {"for all users, with the other platform's icon", InstallScope::allUsers, allUsersPlace, u"Echo.icns"_s,
         QString()},
    };
    const QString validator = QStandardPaths::findExecutable(u"desktop-file-validate"_s);
    ASSERT_FALSE(validator.isEmpty()) << "desktop-file-validate (Debian desktop-file-utils) is needed";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        m_roots = row.roots;
        BundlePlan app;
        app.name = u"Echo.app"_s;
        app.bundleID = kID;
        app.shortVersion = u"2.1.0"_s;
        app.iconFile = row.iconFile;
        app.withFile(u"Contents/Resources/"_s + row.iconFile, "icon");
        const QList<InstalledFormat> installed = install({artifact(app)}, {PluginFormat::app}, row.scope);
        ASSERT_EQ(installed.size(), 1);
        const QString bundle = installed[0].path;
        EXPECT_EQ(InstallLocations::scope(bundle, PluginFormat::app, m_roots), row.scope);

        const QString entry = ApplicationEntries::folder(m_roots, row.scope) + u'/' + ApplicationEntries::fileName(bundle);
        const QStringList lines = QString::fromUtf8(readAll(entry)).split(u'\n');
        EXPECT_TRUE(lines.contains(u"Name=Echo"_s)) << lines.join(u'\n').toStdString();
        EXPECT_TRUE(lines.contains(u"Exec="_s + bundle + u"/Contents/MacOS/Echo"_s)) << lines.join(u'\n').toStdString();
        EXPECT_EQ(lines.filter(QRegularExpression(u"^Icon="_s)),
                  row.iconShown.isEmpty() ? QStringList() : QStringList{u"Icon="_s + bundle + u'/' + row.iconShown});
        const Shell::Result validated = Shell::run(validator, {entry}, 60);
        EXPECT_EQ(validated.status, 0) << validated.output.toStdString();
        EXPECT_EQ(validated.output, QString()) << "no warnings either";

        UninstallOptions options;
        options.formats = {PluginFormat::app};
        options.scopes = {row.scope};
        Product catalogued = m_product;
        catalogued.release = m_release;
        EXPECT_EQ(m_installer->uninstall(catalogued, options, m_roots), QList<InstalledFormat>());
        EXPECT_FALSE(QFileInfo::exists(bundle));
        EXPECT_FALSE(QFileInfo::exists(entry));
    }
}

// A system root and a home, each with its folder of menu entries.
class MenuEntries : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(scratch.isValid());
        roots.system = scratch.filePath(u"system"_s);
        roots.userHome = scratch.filePath(u"home"_s);
        system = ApplicationEntries::folder(roots, InstallScope::allUsers);
        user = ApplicationEntries::folder(roots, InstallScope::user);
    }

    static QStringList entriesIn(const QString& folder) { return QDir(folder).entryList({u"*.desktop"_s}, QDir::Files); }

    QTemporaryDir scratch;
    InstallRoots roots;
    QString system;
    QString user;
};

// An application the administrator's helper placed for all users has the
// one entry the helper wrote from the placed copy, never a second in the
// user's folder or under the product's name, and removing the copy takes
// it; a bundle identifier that would lead out of the folder writes nothing.
TEST_F(MenuEntries, TheHelpersEntryIsTheOnlyOneAndGoesWithTheCopy)
{
    const QString places = scratch.filePath(u"system/opt"_s);

    BundlePlan hostile;
    hostile.name = u"Hostile.app"_s;
    hostile.bundleID = u"../../../../etc/x"_s;
    EXPECT_FALSE(ApplicationEntries::addPlaced(Hub::Test::BundleFactory::create(places, hostile), roots));
    EXPECT_EQ(entriesIn(system), QStringList());

    BundlePlan app;
    app.name = u"Echo.app"_s;
    app.bundleID = u"com.tarnaudio.echo"_s;
    const QString bundle = Hub::Test::BundleFactory::create(places, app);
    ASSERT_TRUE(ApplicationEntries::addPlaced(bundle, roots));
    Product product;
    product.id = u"echo"_s;
    product.name = u"Echo"_s;
    ApplicationEntries::add(product, bundle, roots, InstallScope::allUsers);
    const QString entry = ApplicationEntries::fileName(bundle);
    EXPECT_EQ(entriesIn(system), QStringList{entry});
    EXPECT_EQ(entriesIn(user), QStringList());
    const QStringList lines = QString::fromUtf8(readAll(system + u'/' + entry)).split(u'\n');
    EXPECT_TRUE(lines.contains(u"Exec="_s + bundle + u"/Contents/MacOS/Echo"_s)) << lines.join(u'\n').toStdString();
    const QString validator = QStandardPaths::findExecutable(u"desktop-file-validate"_s);
    ASSERT_FALSE(validator.isEmpty()) << "desktop-file-validate (Debian desktop-file-utils) is needed";
    const Shell::Result validated = Shell::run(validator, {system + u'/' + entry}, 60);
    EXPECT_EQ(validated.status, 0) << validated.output.toStdString();
    EXPECT_EQ(validated.output, QString()) << "no warnings either";

    ASSERT_TRUE(QDir(bundle).removeRecursively());
    ApplicationEntries::remove(bundle, roots);
    EXPECT_EQ(entriesIn(system), QStringList());
}

// Menu entries are tied to the copies they start: two copies of one product
// or one bundle identifier in two places each have their own; putting one
// in place again rewrites its own (under the name an earlier version gave
// it, too) and no other; removing one leaves the other's, still naming its
// copy. Both the administrator's side (the system's folder) and the user's
// (an entry for all users that could only go to the user's folder).
TEST_F(MenuEntries, EachCopyKeepsItsOwnEntryWhateverTheOtherDoes)
{
    // Which copy each entry in `folder` starts, by file name.
    const auto startedBy = [](const QString& folder) {
        QMap<QString, QString> copies;
        for (const QString& name : entriesIn(folder))
            for (const QString& line : QString::fromUtf8(readAll(folder + u'/' + name)).split(u'\n'))
                if (line.startsWith(u"X-Tarnhub-Bundle="_s))
                    copies.insert(name, line.mid(17));
        return copies;
    };
    // An entry file as an earlier version named and wrote it.
    const auto earlierEntry = [](const QString& folder, const QString& name, const QString& bundle) {
        ASSERT_TRUE(QDir().mkpath(folder));
        Hub::Test::writeAll(folder + u'/' + name, ApplicationEntries::entry(u"Echo"_s, bundle));
    };
    BundlePlan app;
    app.name = u"Echo.app"_s;
    app.bundleID = u"com.tarnaudio.echo"_s;
    BundlePlan copy = app;
    copy.name = u"Echo Copy.app"_s;

    {
        SCOPED_TRACE("the system's folder, written by the administrator's helper");
        const QString first = Hub::Test::BundleFactory::create(roots.system + u"/opt"_s, app);
        const QString second = Hub::Test::BundleFactory::create(roots.system + u"/opt"_s, copy);
        const QString earlier = Config::bundleID() + u".app.com.tarnaudio.echo.desktop"_s;
        earlierEntry(system, earlier, first);

        ASSERT_TRUE(ApplicationEntries::addPlaced(second, roots));
        ASSERT_TRUE(ApplicationEntries::addPlaced(first, roots)); // an update of the first
        const QMap<QString, QString> both{{earlier, first}, {ApplicationEntries::fileName(second), second}};
        EXPECT_EQ(startedBy(system), both);

        ASSERT_TRUE(QDir(first).removeRecursively());
        ApplicationEntries::removePlaced(first, roots);
        EXPECT_EQ(startedBy(system), (QMap<QString, QString>{{ApplicationEntries::fileName(second), second}}));
        ASSERT_TRUE(QDir(second).removeRecursively());
        ApplicationEntries::remove(second, roots);
        EXPECT_EQ(entriesIn(system), QStringList());
    }
    {
        SCOPED_TRACE("the user's folder, with an entry for all users that could go nowhere else");
        // The system's folder can't be made: a file lies where it would be.
        ASSERT_TRUE(QDir().mkpath(roots.system + u"/usr/local"_s));
        ASSERT_TRUE(QDir(roots.system + u"/usr/local/share"_s).removeRecursively());
        Hub::Test::writeAll(roots.system + u"/usr/local/share"_s, "a file");
        Product product;
        product.id = u"echo"_s;
        product.name = u"Echo"_s;
        const QString mine = Hub::Test::BundleFactory::create(roots.userHome + u"/Applications"_s, app);
        const QString everyones = Hub::Test::BundleFactory::create(roots.system + u"/opt"_s, app);
        const QString earlier = Config::bundleID() + u".echo.desktop"_s;
        earlierEntry(user, earlier, mine);

        ApplicationEntries::add(product, everyones, roots, InstallScope::allUsers);
        ApplicationEntries::add(product, mine, roots, InstallScope::user); // an update of the user's copy
        EXPECT_EQ(startedBy(user),
                  (QMap<QString, QString>{{earlier, mine}, {ApplicationEntries::fileName(everyones), everyones}}));

        ASSERT_TRUE(QDir(everyones).removeRecursively());
        ApplicationEntries::remove(everyones, roots);
        EXPECT_EQ(startedBy(user), (QMap<QString, QString>{{earlier, mine}}));
        ASSERT_TRUE(QDir(mine).removeRecursively());
        ApplicationEntries::remove(mine, roots);
        EXPECT_EQ(entriesIn(user), QStringList());
    }
}

// No control character (C0, DEL, C1) reaches an entry, from any field the
// bundle gives: its name, its CFBundleName, its icon file; nor does an
// identifier with a final line feed make one.
TEST_F(MenuEntries, ControlCharactersInAnyFieldWriteNoEntry)
{
    struct Row {
        const char* label;
        QString bundleName;
        QString identifier;
        QString shownName; // CFBundleName; empty: none
        QString iconFile;  // CFBundleIconFile, a PNG of that name in Contents/Resources; empty: none
        bool userSide = true; // the user's side reads no identifier
    };
    const QString id = u"com.tarnaudio.echo"_s;
    const Row rows[] = {
        {"a line feed after the identifier", u"Echo.app"_s, id + u'\n', {}, {}, false},
        {"a line feed in the shown name", u"Echo.app"_s, id, u"Echo\nExec=/bin/sh"_s, {}},
        {"a tab in the shown name", u"Echo.app"_s, id, u"Echo\tEcho"_s, {}},
        {"a C1 control in the shown name", u"Echo.app"_s, id, u"Echo\u0085Exec=/bin/sh"_s, {}},
        {"DEL in the icon's file name", u"Echo.app"_s, id, {}, u"Echo\x7f.png"_s},
        {"a C1 control in the icon's file name", u"Echo.app"_s, id, {}, u"Echo\u009b.png"_s},
        {"DEL in the bundle's name", u"Echo\x7f.app"_s, id, {}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        QTemporaryDir places;
        ASSERT_TRUE(places.isValid());
        BundlePlan plan;
        plan.name = row.bundleName;
        plan.bundleID = row.identifier;
        if (!row.iconFile.isEmpty()) {
            plan.iconFile = row.iconFile;
            plan.withFile(u"Contents/Resources/"_s + row.iconFile, "icon");
        }
        const QString bundle = Hub::Test::BundleFactory::create(places.path(), plan);
        if (!row.shownName.isEmpty()) {
            QVariantMap info = PropertyList::readDictionary(bundle + u"/Contents/Info.plist"_s);
            info.insert(u"CFBundleName"_s, row.shownName);
            Hub::Test::writeAll(bundle + u"/Contents/Info.plist"_s, PropertyList::serialize(info));
            ASSERT_EQ(PropertyList::text(PropertyList::readDictionary(bundle + u"/Contents/Info.plist"_s),
                                         u"CFBundleName"_s),
                      row.shownName);
        }
        EXPECT_FALSE(ApplicationEntries::addPlaced(bundle, roots));
        Product product;
        product.id = u"echo"_s;
        product.name = row.shownName.isEmpty() ? u"Echo"_s : row.shownName;
        if (row.userSide)
            ApplicationEntries::add(product, bundle, roots, InstallScope::user);
        EXPECT_EQ(QDir(system).entryList(QDir::Files | QDir::Hidden), QStringList());
        EXPECT_EQ(QDir(user).entryList(QDir::Files | QDir::Hidden), QStringList());
    }
}

TEST_F(InstallPipelineTest, AnUnlistedAudioUnitIsReportedAfterDoneAndStaysInstalled)
{
    m_registry->listed = false;
    Artifact au = artifact(recipe(PluginFormat::au));
    au.au.reset(); // the codes then come from the installed bundle
    try {
        install({au}, {PluginFormat::au});
        FAIL() << "expected AUNotListedYet";
    } catch (const AUNotListedYet& warning) {
        EXPECT_EQ(warning.bundles, QStringList{u"Echo.component"_s});
        ASSERT_EQ(warning.installed.size(), 1);
        EXPECT_EQ(warning.installed[0].path, userFolder(PluginFormat::au) + u"/Echo.component"_s);
        EXPECT_EQ(warning.description(),
                  u"Echo.component installed, but your system hasn't listed it yet. Quit and reopen your DAW; if it's "
                  u"still missing, restart the computer."_s);
    }
    EXPECT_EQ(m_steps.last(), InstallStep::done());
    ASSERT_EQ(m_registry->asked.size(), 1u);
    EXPECT_EQ(m_registry->asked[0], (AUDescriptor{u"aufx"_s, u"Echo"_s, u"Tarn"_s}));
    EXPECT_EQ(PluginInstaller::shortVersion(userFolder(PluginFormat::au) + u"/Echo.component"_s), u"2.1.0"_s);
    EXPECT_TRUE(stagingEntries().isEmpty());
}

TEST_F(InstallPipelineTest, AnUpdateReplacesTheOlderCopyAndLeavesNoWorkFolder)
{
    installOlderVersion();
    const QList<InstalledFormat> results = install({artifact(recipe(PluginFormat::vst3))}, {PluginFormat::vst3});
    ASSERT_EQ(results.size(), 1);
    EXPECT_EQ(PluginInstaller::shortVersion(results[0].path), u"2.1.0"_s);
    EXPECT_TRUE(QFile::exists(PluginInstaller::backupsFolder(m_roots, m_product.id) + u"/2.0.0-vst3.zip"_s));
    EXPECT_TRUE(stagingEntries().isEmpty());
    // Only the new bundle is left in the folder: no spare, no partial file.
    EXPECT_EQ(QDir(userFolder(PluginFormat::vst3)).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{u"Echo.vst3"_s});
}

// ---- Every refusal: its sentence, nothing outside staging touched, no work folder ----

class InstallRefusalTest;

struct Refusal {
    const char* name;
    std::function<void(InstallRefusalTest&, Artifact&)> arrange;
    QString sentence;
};

void PrintTo(const Refusal& refusal, std::ostream* out) { *out << refusal.name; }

class InstallRefusalTest : public InstallPipelineTest, public ::testing::WithParamInterface<Refusal> {
public:
    Artifact serveBytes(const QString& name, const QByteArray& bytes) { return serve(name, bytes); }
    Artifact make(const BundlePlan& bundleSpec, const Hub::Test::SigningIdentity* signer = nullptr)
    {
        return artifact(bundleSpec, 0, signer);
    }
    Reply& reply(const Artifact& served) { return replyFor(served); }
    static const Hub::Test::TestPKI& pki() { return *s_pki; }
    TestHttpsServer& server() { return m_server; }
};

// A zip whose second entry tries to climb out of the unpack folder.
QByteArray hostileZip()
{
    std::vector<char> buffer(1 << 20);
    std::size_t used = 0;
    archive* zip = archive_write_new();
    archive_write_set_format_zip(zip);
    archive_write_open_memory(zip, buffer.data(), buffer.size(), &used);
    const auto add = [zip](const char* path, const QByteArray& content) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, path);
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_perm(entry, 0644);
        archive_entry_set_size(entry, content.size());
        archive_write_header(zip, entry);
        archive_write_data(zip, content.constData(), std::size_t(content.size()));
        archive_entry_free(entry);
    };
    add("Echo.component/Contents/Info.plist", Hub::Test::BundleFactory::infoPlist([] {
            BundlePlan recipe;
            recipe.name = u"Echo.component"_s;
            recipe.bundleID = kID;
            recipe.shortVersion = u"2.1.0"_s;
            return recipe;
        }()));
    add("../../../../../escaped.txt", "climbed out");
    archive_write_close(zip);
    archive_write_free(zip);
    return QByteArray(buffer.data(), qsizetype(used));
}

const Refusal kRefusals[] = {
    {"OneFlippedByte",
     [](InstallRefusalTest& t, Artifact& au) {
         Reply& reply = t.reply(au);
         reply.body[reply.body.size() / 2] = char(reply.body[reply.body.size() / 2] ^ 0x20);
     },
     u"The AU download is damaged (checksum mismatch). Try again."_s},
    {"WrongSize", [](InstallRefusalTest&, Artifact& au) { au.size = *au.size + 1; },
     u"The AU download is damaged (wrong size). Try again."_s},
    {"TruncatedBody",
     [](InstallRefusalTest& t, Artifact& au) {
         t.reply(au).kind = Reply::Kind::cutShort;
     },
     u"Download failed. Check your connection and try again."_s},
    {"MoreBytesThanDeclared",
     [](InstallRefusalTest& t, Artifact& au) { t.reply(au).body.append(4096, 'x'); },
     u"The AU download is damaged (wrong size). Try again."_s},
    {"ServiceUnavailable",
     [](InstallRefusalTest& t, Artifact& au) {
         Reply& reply = t.reply(au);
         reply.kind = Reply::Kind::status;
         reply.status = 503;
     },
     u"Download failed (503). Try again later."_s},
    {"HttpToARemoteHost", [](InstallRefusalTest&, Artifact& au) { au.url = u"http://downloads.invalid/echo.zip"_s; },
     u"The hub only downloads over https."_s},
    {"RedirectToHttp",
     [](InstallRefusalTest& t, Artifact& au) {
         Reply& reply = t.reply(au);
         reply.kind = Reply::Kind::redirect;
         reply.location = "http://127.0.0.1:1/echo.zip";
     },
     u"The hub only downloads over https."_s},
    {"NotAnAddress", [](InstallRefusalTest&, Artifact& au) { au.url = u"http://[broken"_s; },
     u"The download address of Echo.component is invalid."_s},
    {"WrongBundleIdentifier",
     [](InstallRefusalTest& t, Artifact& au) {
         auto& test = t;
         BundlePlan other = InstallPipelineTest::recipe(PluginFormat::au);
         other.bundleID = u"com.tarnaudio.impostor"_s;
         au = test.make(other);
     },
     u"Echo.component is com.tarnaudio.impostor, not com.tarnaudio.echo, so the hub won't install it."_s},
    {"WrongVersion",
     [](InstallRefusalTest& t, Artifact& au) {
         au = t.make(InstallPipelineTest::recipe(PluginFormat::au, u"2.0.9"_s));
     },
     u"Echo.component is version 2.0.9, not 2.1.0. Try again later."_s},
    {"AnotherTeamsSignature",
     [](InstallRefusalTest& t, Artifact& au) {
         au = t.make(InstallPipelineTest::recipe(PluginFormat::au),
                                                       &InstallRefusalTest::pki().otherTeam());
     },
     u"Echo.component isn't signed by Tarnaudio, so the hub won't install it."_s},
    {"HostileArchive",
     [](InstallRefusalTest& t, Artifact& au) {
         au = t.serveBytes(u"Echo.component"_s, hostileZip());
     },
     u"Couldn't unpack the AU download. Try again."_s},
    // Two files that claim 4.3 GB each: refused from the headers, nothing
    // unpacked.
    {"ClaimsMoreThanAnyProductUnpacksTo",
     [](InstallRefusalTest& t, Artifact& au) {
         au = t.serveBytes(u"Echo.component"_s,
                           Hub::Test::craftedZip({{"Echo.component/Contents/a.bin", "a", 0xfffffffeu},
                                                  {"Echo.component/Contents/b.bin", "b", 0xfffffffeu}}));
     },
     u"The AU download unpacks to more than 8 GB, so the hub won't install it."_s},
    // 96 MiB of zeros, honestly deflated to about 100 kB: well under the
    // cap, and the disk has room, but no plug-in packs that tight, so it is
    // refused before a byte is written rather than by the signature after.
    {"UnpacksToFarMoreThanItsDownload",
     [](InstallRefusalTest& t, Artifact& au) {
         au = t.serveBytes(u"Echo.component"_s,
                           Hub::Test::craftedZip({{"Echo.component/Contents/a.bin", QByteArray(96 << 20, '\0'),
                                                   quint32(96 << 20)}}));
     },
     u"The AU download claims to unpack to over 200 times its size, which no plug-in does, so the hub won't install it."_s},
    // States a kilobyte and inflates to 8 MB.
    {"AFileHoldsMoreThanItStates",
     [](InstallRefusalTest& t, Artifact& au) {
         au = t.serveBytes(u"Echo.component"_s, Hub::Test::craftedZip({{"Echo.component/Contents/Info.plist",
                                                                        QByteArray(8 << 20, ' '), 1024}}));
     },
     u"The AU download is damaged (a file holds more than its stated size), so the hub won't install it."_s},
};

TEST_P(InstallRefusalTest, IsRefusedWithItsSentenceAndChangesNothing)
{
    installOlderVersion();
    // The VST3 comes first and is fine, so its download and unpacked copy
    // are in the work folder when the AU is refused.
    const Artifact vst3 = artifact(recipe(PluginFormat::vst3));
    Artifact au = artifact(recipe(PluginFormat::au));
    GetParam().arrange(*this, au);
    const QMap<QString, QString> before = outsideStaging();

    EXPECT_EQ(outcome({vst3, au}, {PluginFormat::vst3, PluginFormat::au}), GetParam().sentence);

    EXPECT_EQ(outsideStaging(), before);
    EXPECT_TRUE(stagingEntries().isEmpty()) << stagingEntries().join(u", "_s).toStdString();
    EXPECT_FALSE(QFileInfo::exists(m_tmp.path() + u"/escaped.txt"_s));
    EXPECT_FALSE(m_steps.contains(InstallStep::installing()));
    EXPECT_TRUE(m_registry->asked.empty());
}

INSTANTIATE_TEST_SUITE_P(Downloads, InstallRefusalTest, ::testing::ValuesIn(kRefusals),
                         [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

// The bundles are unpacked and checked side by side; when both are refused,
// the sentence is the first artifact's, as when they were checked in turn.
TEST_F(InstallPipelineTest, WhenEveryBundleIsRefusedTheFirstOnesSentenceIsShown)
{
    installOlderVersion();
    const Artifact vst3 = artifact(recipe(PluginFormat::vst3, u"2.0.8"_s));
    const Artifact au = artifact(recipe(PluginFormat::au, u"2.0.9"_s));
    const QMap<QString, QString> before = outsideStaging();

    EXPECT_EQ(outcome({vst3, au}, {PluginFormat::vst3, PluginFormat::au}),
              u"Echo.vst3 is version 2.0.8, not 2.1.0. Try again later."_s);
    EXPECT_EQ(outsideStaging(), before);
    EXPECT_TRUE(stagingEntries().isEmpty()) << stagingEntries().join(u", "_s).toStdString();
}

// ---- A failed placement puts everything back ----

TEST_F(InstallPipelineTest, APlacementFailureAfterOneSwapLeavesPluginsAndBackupsAsBefore)
{
    installOlderVersion();
    // The Audio Unit's folder cannot be made: its place is taken by a file.
    writeAll(userFolder(PluginFormat::au), "not a folder");
    const Artifact vst3 = artifact(recipe(PluginFormat::vst3));
    const Artifact au = artifact(recipe(PluginFormat::au));
    const QMap<QString, QString> before = outsideStaging();

    const QString sentence = outcome({vst3, au}, {PluginFormat::vst3, PluginFormat::au});
    EXPECT_NE(sentence, u"installed"_s);

    // The VST3 had been backed up and swapped in; now the old one is back,
    // its new backup archive is gone and the older one restored.
    EXPECT_EQ(outsideStaging(), before);
    EXPECT_EQ(PluginInstaller::shortVersion(userFolder(PluginFormat::vst3) + u"/Echo.vst3"_s), u"2.0.0"_s);
    EXPECT_TRUE(stagingEntries().isEmpty()) << stagingEntries().join(u", "_s).toStdString();
    EXPECT_TRUE(m_steps.contains(InstallStep::installing()));
    EXPECT_FALSE(m_steps.contains(InstallStep::done()));
}

TEST_F(InstallPipelineTest, ARemoteHttpAddressIsRefusedBeforeAnyConnection)
{
    Artifact vst3 = artifact(recipe(PluginFormat::vst3));
    vst3.url = u"http://downloads.invalid/echo.zip"_s;
    EXPECT_EQ(outcome({vst3}, {PluginFormat::vst3}), u"The hub only downloads over https."_s);
    EXPECT_TRUE(m_server.requests().empty());
    // The only step reported is the start: nothing was downloaded.
    EXPECT_EQ(m_steps, QList<InstallStep>{InstallStep::downloading(0.0)});
}

TEST_F(InstallPipelineTest, TheResolversAnswerIsCheckedAndItsErrorPassesThrough)
{
    const Artifact vst3 = artifact(recipe(PluginFormat::vst3));
    m_installer->resolveURL = [](const QString&, const Artifact&, const QString&) -> QUrl {
        return QUrl(u"http://downloads.invalid/signed.zip"_s);
    };
    EXPECT_EQ(outcome({vst3}, {PluginFormat::vst3}), u"The hub only downloads over https."_s);

    m_installer->resolveURL = [](const QString&, const Artifact&, const QString&) -> QUrl {
        throw HubError::api(u"unauthorized"_s, u"Sign in again."_s);
    };
    try {
        install({vst3}, {PluginFormat::vst3});
        FAIL() << "expected the resolver's error";
    } catch (const HubError& error) {
        EXPECT_EQ(error, HubError::api(u"unauthorized"_s, u"Sign in again."_s));
    }
    EXPECT_TRUE(stagingEntries().isEmpty());
}

TEST_F(InstallPipelineTest, ACancelledDownloadEndsTheInstallAsCancelledAndChangesNothing)
{
    installOlderVersion();
    const Artifact vst3 = artifact(recipe(PluginFormat::vst3), 4 * 1024 * 1024);
    const QMap<QString, QString> before = outsideStaging();
    m_installer->resolveURL = [this](const QString&, const Artifact& which, const QString&) {
        m_stop.request_stop();
        return QUrl(which.url);
    };
    EXPECT_EQ(outcome({vst3}, {PluginFormat::vst3}), u"<cancelled>"_s);
    EXPECT_EQ(outsideStaging(), before);
    EXPECT_TRUE(stagingEntries().isEmpty());
}

TEST_F(InstallPipelineTest, AnUnusableProductIdentifierIsRefusedBeforeStagingIsTouched)
{
    const Artifact vst3 = artifact(recipe(PluginFormat::vst3));
    for (const QString& id : {QString(), u".echo"_s, u"ec/ho"_s, u"ec:ho"_s, u"ec\nho"_s, u"ec\u0001ho"_s}) {
        m_product.id = id;
        EXPECT_EQ(outcome({vst3}, {PluginFormat::vst3}), u"Invalid product identifier."_s) << id.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(stagingRoot()));
    EXPECT_TRUE(m_server.requests().empty());
}

// ---- What the user reads when recovery fails too ----

TEST(InstallErrorSentences, ARecoverySentenceFollowsTheFailureThatCausedIt)
{
    const auto first = std::make_exception_ptr(HubError::message(u"Couldn't replace Echo.vst3 (Permission denied)."_s));
    const InstallRecoveryError both = InstallRecoveryError::after(
        errorSentence(first), u"Previous bundles remain at /x/Echo.vst3.hub-new-1; recovery could not finish."_s);
    EXPECT_EQ(both.description(), u"Couldn't replace Echo.vst3 (Permission denied). Previous bundles remain at "
                                  u"/x/Echo.vst3.hub-new-1; recovery could not finish."_s);
    EXPECT_STREQ(both.what(), both.message.toUtf8().constData());
    EXPECT_EQ(InstallRecoveryError::after(QString(), u"Only this."_s).message, u"Only this."_s);

    EXPECT_EQ(errorSentence(std::make_exception_ptr(FileError(EACCES, u"/p/VST3"_s))),
              u"Couldn't change /p/VST3 (Permission denied)."_s);
    EXPECT_EQ(errorSentence(std::make_exception_ptr(both)), both.message);
}

// ---- Choosing the artifacts ----

Artifact catalogArtifact(PluginFormat format, const QString& bundle, std::optional<QStringList> archs,
                         const QString& url = u"https://example.invalid/a.zip"_s)
{
    Artifact a;
    a.format = format;
    a.bundle = bundle;
    a.archs = std::move(archs);
    a.url = url;
    return a;
}

QString chooseSentence(const Release& release, const std::set<PluginFormat>& formats, const QString& cpu)
{
    Product product;
    product.id = u"echo"_s;
    product.name = u"Echo"_s;
    try {
        PluginInstaller::choose(product, release, formats, cpu);
    } catch (const HubError& error) {
        return error.errorDescription();
    }
    return u"chosen"_s;
}

TEST(ChooseArtifacts, RefusesWithTheSentenceOfTheFirstFailingFormat)
{
    Release release;
    release.version = u"2.1.0"_s;
    EXPECT_EQ(chooseSentence(release, {PluginFormat::vst3}, u"arm64"_s),
              u"echo 2.1.0 installs with its package, not per format."_s);
    release.artifacts = std::vector<Artifact>{};
    EXPECT_EQ(chooseSentence(release, {}, u"arm64"_s), u"echo 2.1.0 installs with its package, not per format."_s);

    release.artifacts = std::vector<Artifact>{catalogArtifact(PluginFormat::vst3, u"Echo.vst3"_s, std::nullopt),
                                              catalogArtifact(PluginFormat::au, u"Echo.vst3"_s, std::nullopt)};
    EXPECT_EQ(chooseSentence(release, {}, u"arm64"_s), u"Choose at least one format to install."_s);
    // No processor list means Arm only.
    EXPECT_EQ(chooseSentence(release, {PluginFormat::vst3}, u"arm64"_s), u"chosen"_s);
    EXPECT_EQ(chooseSentence(release, {PluginFormat::vst3}, u"x86_64"_s),
              u"echo 2.1.0 has no VST3 download for this computer."_s);
    EXPECT_EQ(chooseSentence(release, {PluginFormat::au, PluginFormat::vst3}, u"arm64"_s),
              u"The catalog entry for echo AU is invalid (Echo.vst3)."_s);
    EXPECT_EQ(chooseSentence(release, {PluginFormat::app}, u"arm64"_s),
              u"echo 2.1.0 has no App download for this computer."_s);

    release.artifacts = std::vector<Artifact>{catalogArtifact(PluginFormat::vst3, u"../Echo.vst3"_s, std::nullopt)};
    EXPECT_EQ(chooseSentence(release, {PluginFormat::vst3}, u"arm64"_s),
              u"The catalog entry for echo VST3 is invalid (../Echo.vst3)."_s);
}

TEST(ChooseArtifacts, TakesTheFirstFittingArtifactPerFormatInFormatOrder)
{
    Release release;
    release.version = u"2.1.0"_s;
    release.artifacts = std::vector<Artifact>{
        catalogArtifact(PluginFormat::au, u"Echo.component"_s, QStringList{u"arm64"_s}, u"https://a.invalid/1"_s),
        catalogArtifact(PluginFormat::vst3, u"Echo.vst3"_s, QStringList{u"x86_64"_s}, u"https://a.invalid/2"_s),
        catalogArtifact(PluginFormat::vst3, u"Echo.vst3"_s, QStringList{u"arm64"_s, u"x86_64"_s}, u"https://a.invalid/3"_s),
        catalogArtifact(PluginFormat::vst3, u"Echo.vst3"_s, QStringList{u"arm64"_s}, u"https://a.invalid/4"_s),
    };
    Product product;
    product.id = u"echo"_s;
    product.name = u"Echo"_s;
    const auto chosen = PluginInstaller::choose(product, release, {PluginFormat::au, PluginFormat::vst3}, u"arm64"_s);
    ASSERT_EQ(chosen.size(), 2u);
    EXPECT_EQ(chosen[0].url, u"https://a.invalid/3"_s);
    EXPECT_EQ(chosen[1].url, u"https://a.invalid/1"_s);
}

// ---- Staging clean-up ----

class StagingCleanupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QString base = m_tmp.path();
        m_roots = InstallLocations::rootsFor(base + u"/home"_s, base + u"/system"_s, base + u"/system/Applications"_s,
                                             Config::supportFolder(base + u"/home"_s));
        m_trash = [this](const QString& path) -> std::optional<QString> {
            m_trashed.append(path.section(u'/', -1));
            return PrivilegedRunner::moveInto(m_tmp.path() + u"/trash"_s)(path);
        };
    }

    QString entry(const QString& name, bool marker)
    {
        const QString path = PluginInstaller::stagingRoot(m_roots) + u'/' + name;
        EXPECT_TRUE(QDir().mkpath(path + u"/recovery-backups"_s));
        if (marker)
            writeAll(path + u'/' + PluginInstaller::kRecoveryMarker, PluginInstaller::kRecoveryMarkerText);
        return path;
    }

    // The clean-up as it would run `offset` after the entries were made.
    void cleanAfter(std::chrono::system_clock::duration offset)
    {
        PluginInstaller::cleanStaging(m_roots, m_trash, std::chrono::system_clock::now() + offset);
    }

    QTemporaryDir m_tmp;
    InstallRoots m_roots;
    TrashHook m_trash;
    QStringList m_trashed;
};

TEST_F(StagingCleanupTest, ARecoveryFolderStaysThirtyDaysThenGoesToTheTrash)
{
    const QString kept = entry(u"KEPT"_s, true);
    cleanAfter(24h * 29);
    EXPECT_TRUE(QFileInfo::exists(kept + u"/recovery-backups"_s));
    EXPECT_TRUE(m_trashed.isEmpty());

    cleanAfter(24h * 31);
    EXPECT_FALSE(QFileInfo::exists(kept));
    EXPECT_EQ(m_trashed, QStringList{u"KEPT"_s});
    EXPECT_TRUE(QFileInfo::exists(m_tmp.path() + u"/trash/KEPT/PRESERVE-RECOVERY.txt"_s));
}

TEST_F(StagingCleanupTest, AnOrdinaryWorkFolderStaysADayThenIsRemoved)
{
    const QString work = entry(u"WORK"_s, false);
    cleanAfter(23h);
    EXPECT_TRUE(QFileInfo::exists(work));
    cleanAfter(25h);
    EXPECT_FALSE(QFileInfo::exists(work));
    EXPECT_TRUE(m_trashed.isEmpty()) << "removed for good, not trashed";
}

TEST_F(StagingCleanupTest, ASymlinkedEntryIsRemovedAsALinkNeverThroughIt)
{
    const QString outside = m_tmp.path() + u"/precious"_s;
    writeAll(outside + u"/keep.txt"_s, "keep");
    QDir().mkpath(PluginInstaller::stagingRoot(m_roots));
    const QString link = PluginInstaller::stagingRoot(m_roots) + u"/LINK"_s;
    ASSERT_EQ(::symlink(QFile::encodeName(outside).constData(), QFile::encodeName(link).constData()), 0);
    cleanAfter(48h);
    EXPECT_FALSE(QFileInfo(link).isSymLink());
    EXPECT_EQ(readAll(outside + u"/keep.txt"_s), "keep");
}

TEST_F(StagingCleanupTest, AStraySpareListedByASurvivingWorkFolderIsKept)
{
    const QString folder = InstallLocations::folder(m_roots, PluginFormat::vst3, InstallScope::user);
    const QString listed = folder + u"/Echo.vst3.hub-new-"_s + PluginInstaller::newUUID();
    const QString unlisted = folder + u"/Echo.vst3.hub-new-"_s + PluginInstaller::newUUID();
    writeAll(listed + u"/Contents/Info.plist"_s, "old");
    writeAll(unlisted + u"/Contents/Info.plist"_s, "old");
    const QString work = entry(u"RUNNING"_s, false);
    writeAll(work + u"/spares.txt"_s, (listed + u'\n').toUtf8());

    cleanAfter(1h);
    EXPECT_TRUE(QFileInfo::exists(listed));
    EXPECT_FALSE(QFileInfo::exists(unlisted));
    EXPECT_EQ(m_trashed, QStringList{unlisted.section(u'/', -1)});
}

} // namespace

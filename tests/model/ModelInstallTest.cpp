// One install through the real installer, and the application's own update
// through the real package path, from the HTTPS test server into an
// isolated home, seen only through what the model publishes.
#include "ModelTestSupport.h"
#include "SelfUpdateTestSupport.h"

#include "Model/SystemSeams.h"

#include <QSignalSpy>

#include "BundleFactory.h"
#include "BundleSigner.h"
#include "TestFiles.h"
#include "TestHttpsServer.h"
#include "TestPKI.h"
#include "ToolsPaths.h"

#include "Base/Machine.h"
#include "Base/Process.h"
#include "Installer/Placement/PrivilegedRunner.h"

#include <QCryptographicHash>

#include <atomic>

using namespace Qt::StringLiterals;
using namespace Hub;
using namespace Hub::Test;

namespace {

// No Audio Unit is installed here; any wait would be a fault.
struct NoWaitRegistry : AURegistry {
    bool refreshAndWait(const AUDescriptor&, double) override
    {
        ADD_FAILURE() << "no Audio Unit to wait for";
        return true;
    }
};

class ModelInstallTest : public ModelFixture {
protected:
    static void SetUpTestSuite() { s_pki = std::make_unique<TestPKI>(); }
    static void TearDownTestSuite() { s_pki.reset(); }

    // A signed Echo.vst3 in `version`, zipped as the maker ships it; the
    // server answers its download address with these bytes.
    Artifact serve(const QString& version)
    {
        BundlePlan recipe;
        recipe.name = u"Echo.vst3"_s;
        recipe.bundleID = u"com.tarnaudio.echo"_s;
        recipe.shortVersion = version;
        const QString folder = m_home.filePath(u"fixtures/"_s + version);
        const QString bundle = BundleFactory::create(folder, recipe);
        signBundle(bundle, s_pki->maker());
        const QString zip = folder + u"/Echo.zip"_s;
        const Shell::Result zipped =
            Shell::run(buildTreeTools().ditto, {u"-c"_s, u"-k"_s, u"--keepParent"_s, bundle, zip}, 60);
        EXPECT_EQ(zipped.status, 0) << zipped.output.toStdString();
        const QByteArray bytes = readAll(zip);
        m_server.get("/files/echo/vst3.zip", [bytes](const httplib::Request&, httplib::Response& response) {
            response.set_content(bytes.toStdString(), "application/zip");
        });

        Artifact artifact;
        artifact.format = PluginFormat::vst3;
        artifact.url = u"https://tarnaudio.example/not-this-one.zip"_s;
        artifact.bundle = recipe.name;
        artifact.bundleID = recipe.bundleID;
        artifact.sha256 = QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
        artifact.size = bytes.size();
        artifact.archs = QStringList{Machine::cpu()};
        return artifact;
    }

    static inline std::unique_ptr<TestPKI> s_pki;
    TestHttpsServer m_server;
};

TEST_F(ModelInstallTest, AnInstallFromTheServerLandsInTheIsolatedHomeAndInThePublishedState)
{
    Catalog catalog;
    Product echo = plugin(u"echo"_s, u"2.1.0"_s);
    echo.name = u"Echo"_s;
    echo.release->artifacts = std::vector<Artifact>{serve(u"2.1.0"_s)};
    catalog.products = {echo};

    realInstaller = std::make_shared<PluginInstaller>(std::make_shared<NoWaitRegistry>(), false, 5.0,
                                                      PluginInstaller::SessionFactory{}, PluginInstaller::URLResolver{},
                                                      PrivilegedRunner::moveInto(m_home.filePath(u"trash"_s)),
                                                      PrivilegedRunner::runAsCurrentUser);
    realInstaller->tools = buildTreeTools();
    realInstaller->anchors = s_pki->anchors();
    caBundle = m_server.caBundle();
    cpu = Machine::cpu();
    service->downloadBase = m_server.url(u"/files/"_s);
    signInStored();
    build(catalog);
    startToFirstScreen();
    ASSERT_EQ(model->rowAction(echo), RowAction::install);

    model->requestInstall(echo, {PluginFormat::vst3}, InstallScope::user);
    ASSERT_TRUE(eventually([this] { return !stateOf(u"echo"_s).job.isWorking(); }));
    ASSERT_EQ(stateOf(u"echo"_s).job, Job::done(u"echo 2.1.0 is installed."_s));
    const QList<InstalledFormat> installed = stateOf(u"echo"_s).installed;
    ASSERT_EQ(installed.size(), 1);
    EXPECT_EQ(installed[0].format, PluginFormat::vst3);
    EXPECT_EQ(installed[0].version, u"2.1.0"_s);
    EXPECT_TRUE(installed[0].path.startsWith(m_home.path() + u'/')) << installed[0].path.toStdString();
    EXPECT_EQ(model->placeName(installed[0]), u"just for you"_s);
    EXPECT_EQ(model->caption(echo).text, u"installed 2.1.0"_s);
    EXPECT_EQ(model->pluginSections().onMac, QStringList{u"echo"_s});
    EXPECT_EQ(m_server.count("/files/echo/vst3.zip"), 1);
}

// The installer tests' package bed (a temporary system root, the build
// tree's applets, a spctl that trusts the test PKI), as a helper object.
struct PackageBed : SelfUpdateFixture {
    PackageBed() { SetUp(); }
    void TestBody() override {}
    using SelfUpdateFixture::installedHub;
    using SelfUpdateFixture::package;
    using SelfUpdateFixture::pki;
    using SelfUpdateFixture::runner;
    using SelfUpdateFixture::scriptTools;
    using SelfUpdateFixture::tools;
};

TEST_F(ModelInstallTest, TheOwnUpdateInstallsTheVerifiedPackageThenAsksToStartTheNewProgram)
{
    PackageBed bed;
    PackageSpec recipe;
    recipe.identifier = Config::bundleID();
    recipe.version = u"99.0.0"_s;
    const QByteArray bytes = readAll(bed.package(recipe));
    m_server.get("/Tarnhub.pkg", [bytes](const httplib::Request&, httplib::Response& response) {
        response.set_content(bytes.toStdString(), "application/octet-stream");
    });
    Catalog catalog;
    catalog.hub = Release{};
    catalog.hub->version = recipe.version;
    catalog.hub->pkgURL = m_server.url(u"/Tarnhub.pkg"_s).toString();
    catalog.hub->sha256 = QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    catalog.hub->size = bytes.size();
    realPackages = std::make_shared<CorePackageInstaller>(CorePackageInstaller::Setup{
        m_home.path(), bed.tools(), bed.scriptTools(), bed.pki().anchors(), bed.runner(), m_server.caBundle()});
    build(catalog);
    startToFirstScreen();
    ASSERT_TRUE(model->hubUpdate().has_value());

    QSignalSpy restart(model.get(), &HubModel::restartRequested);
    model->updateHub();
    EXPECT_TRUE(model->busy());
    ASSERT_TRUE(eventually([&] { return restart.count() == 1 || model->hubJob().kind == Job::Kind::failed; }))
        << model->hubJob().message.toStdString();
    ASSERT_EQ(restart.count(), 1) << model->hubJob().message.toStdString();
    EXPECT_EQ(restart.at(0).at(0).toString(), bed.installedHub() + u"/Contents/MacOS/hubtarn"_s);
    EXPECT_EQ(PluginInstaller::shortVersion(bed.installedHub()), u"99.0.0"_s);
    EXPECT_TRUE(model->restarting());
    EXPECT_EQ(m_server.count("/Tarnhub.pkg"), 1);
}

// A package installs what it holds, whatever the feed named. Whether the
// package says so itself or only the application it placed does, a release
// the package does not hold ends in the version sentence and a report,
// never "installed" (and the update offered for ever after).
TEST_F(ModelInstallTest, APackageThatDoesNotHoldTheReleaseFailsWithTheVersionSentence)
{
    PackageBed bed;
    const struct {
        QString id;
        QString packageVersion; // what the package's own information claims
        QString sentence;
        qsizetype placed;
    } rows[] = {
        {u"glasswing"_s, u"1.5.0"_s, u"glasswing is version 1.5.0, not 9.9.9. Try again later."_s, 0},
        {u"loom"_s, u"9.9.9"_s, u"Loom.app is version 1.5.0, not 9.9.9. Try again later."_s, 1},
    };
    Catalog catalog;
    for (const auto& row : rows) {
        const QString name = row.id.at(0).toUpper() + row.id.mid(1) + u".app"_s;
        BundlePlan app;
        app.name = name;
        app.bundleID = u"com.tarnaudio."_s + row.id;
        app.shortVersion = u"1.5.0"_s;
        const QString bundle = BundleFactory::create(m_home.filePath(u"fixtures/"_s + row.id), app);
        signBundle(bundle, bed.pki().maker());
        PackageSpec recipe;
        recipe.identifier = app.bundleID + u".pkg"_s;
        recipe.version = row.packageVersion;
        const QString file = m_home.filePath(u"fixtures/"_s + row.id + u".pkg"_s);
        PackageBuilder::build(file, {bundle}, recipe, bed.pki());
        const QByteArray bytes = readAll(file);
        m_server.get("/" + row.id.toStdString() + ".pkg", [bytes](const httplib::Request&, httplib::Response& response) {
            response.set_content(bytes.toStdString(), "application/octet-stream");
        });

        Product product;
        product.id = row.id;
        product.name = row.id;
        product.tagline = u"A standalone app"_s;
        product.kind = u"app"_s;
        product.formats = QStringList{u"App"_s};
        product.status = u"available"_s;
        product.release = Release{};
        product.release->version = u"9.9.9"_s;
        product.release->pkgURL = m_server.url(u"/"_s + row.id + u".pkg"_s).toString();
        product.release->sha256 = QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
        product.release->size = bytes.size();
        product.release->archs = QStringList{u"arm64"_s, u"x86_64"_s};
        product.install = Install{{u"/Applications/"_s + name}};
        catalog.products.push_back(product);
    }
    PackageScript::Tools script = bed.scriptTools();
    script.target = m_home.path();
    realPackages = std::make_shared<CorePackageInstaller>(CorePackageInstaller::Setup{
        m_home.path(), bed.tools(), script, bed.pki().anchors(), bed.runner(), m_server.caBundle()});
    realInstaller = std::make_shared<PluginInstaller>(std::make_shared<NoWaitRegistry>(), false, 5.0);
    build(catalog);
    startToFirstScreen();

    for (const auto& row : rows) {
        SCOPED_TRACE(row.id.toStdString());
        const Product* product = model->product(row.id);
        ASSERT_NE(product, nullptr);
        model->requestInstall(*product, {}, InstallScope::user);
        ASSERT_TRUE(eventually([&] { return stateOf(row.id).job.kind == Job::Kind::failed || stateOf(row.id).job.kind == Job::Kind::done; }));
        EXPECT_EQ(stateOf(row.id).job, Job::failed(row.sentence));
        EXPECT_EQ(stateOf(row.id).installed.size(), row.placed);
    }
    // Each failure leaves its report with the sentence.
    const auto reported = [this] {
        QStringList messages;
        for (const ReportFile& file : model->problems())
            if (file.report.code == u"hub.install.installing"_s)
                messages.append(file.report.message.value_or(QString()));
        messages.sort();
        return messages;
    };
    EXPECT_TRUE(eventually([&] { return reported().size() == 2; }));
    EXPECT_EQ(reported(), (QStringList{rows[1].sentence, rows[0].sentence}));
}

// A catalog that drips a byte now and then keeps no idle limit busy; the
// refresh ends at the fetch deadline with the copy it has, and the account
// is checked all the same (the account button's dot goes).
TEST_F(ModelInstallTest, ACatalogThatDripsEndsTheRefreshAtItsDeadlineAndTheAccountIsChecked)
{
    Catalog catalog;
    catalog.products = {plugin(u"echo"_s, u"1.0"_s)};
    Catalog newer = catalog;
    newer.products[0].release->version = u"2.0"_s;
    m_server.drip("/catalog.json", newer.toJson().toStdString(), std::chrono::milliseconds(200));
    catalogURL = m_server.url(u"/catalog.json"_s);
    caBundle = m_server.caBundle();
    httpLimits.fetchDeadline = 1.0;
    signInStored();
    build(catalog);
    startToFirstScreen();
    EXPECT_EQ(model->catalogSource(), CatalogSource::bundled);
    EXPECT_EQ(model->product(u"echo"_s)->release->version, u"1.0"_s);
    EXPECT_TRUE(log->calls().contains(u"account tok-1"_s));
    EXPECT_EQ(m_server.count("/catalog.json"), 1);
}

// The account is checked beside the catalog, not behind it: a catalog that
// takes its time holds neither a stored session's account nor that of a
// sign-in made meanwhile, and the sign-in joins the refresh under way
// instead of fetching the catalog and the feeds all over again.
TEST_F(ModelInstallTest, TheAccountIsCheckedBesideACatalogThatTakesItsTime)
{
    Catalog catalog;
    catalog.products = {plugin(u"echo"_s, u"1.0"_s)};
    std::atomic<bool> released = false;
    // Blanks, which a JSON document may start with, keep the idle limit
    // happy until the test lets the document itself come.
    m_server.get("/catalog.json", [this, &released, body = catalog.toJson().toStdString()](
                                      const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider("application/json", [this, &released, body](std::size_t,
                                                                                          httplib::DataSink& sink) {
            if (released) {
                sink.write(body.data(), body.size());
                sink.done();
                return true;
            }
            return m_server.pause(std::chrono::milliseconds(100)) && sink.write(" ", 1);
        });
    });
    catalogURL = m_server.url(u"/catalog.json"_s);
    caBundle = m_server.caBundle();
    const auto accountChecks = [this] { return log->calls().filter(u"account "_s).size(); };

    for (const bool stored : {true, false}) {
        SCOPED_TRACE(stored ? "a stored session" : "a sign-in during the refresh");
        released = false;
        const int fetchedBefore = m_server.count("/catalog.json");
        const qsizetype checkedBefore = accountChecks();
        if (stored)
            signInStored();
        build(catalog);
        model->start();
        clock->advance(HubModel::kSplashSeconds);
        ASSERT_TRUE(eventually([this] { return model->screen() != Screen::splash; }));
        if (!stored) {
            ASSERT_EQ(model->screen(), Screen::login);
            model->signIn(u"ada@example.com"_s, u"secret"_s);
        }
        ASSERT_TRUE(eventually([this] { return model->account().has_value(); }));
        EXPECT_TRUE(model->loading()) << "the catalog is still on its way";
        released = true;
        ASSERT_TRUE(eventually([this] { return !model->loading(); }));
        EXPECT_EQ(model->catalogSource(), CatalogSource::live);
        EXPECT_EQ(m_server.count("/catalog.json") - fetchedBefore, 1);
        EXPECT_EQ(accountChecks() - checkedBefore, 1);
        model->shutdown();
        model.reset();
        devices->stored = DeviceLoad::none();
    }
}

} // namespace

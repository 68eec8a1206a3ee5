// What a redraw of the plug-ins and updates tabs costs the model, what a
// refresh that changes nothing costs the model's thread, and how long the
// start-up scan of installed copies takes, on a catalog of 2,000 products
// with 500 installed. The redraw is timed twice: the first pass after a new
// catalog, which works out every row's facts, and a later pass, which finds
// them cached. The refresh is timed as processor time of the model's
// thread from the call to its end, the decoding, the comparison and the
// scan being the pool's. Each figure is printed with its ratio to an anchor
// measured in the same run: a deep copy of the catalog's products for the
// redraw passes and the refresh, and reading the 500 installed bundles'
// information lists for the scan.
#include "BenchCatalog.h"

#include "Base/Machine.h"
#include "Catalog/CatalogLoader.h"
#include "Installer/InstallLocations.h"
#include "Installer/PluginInstaller.h"
#include "Model/HubModel.h"
#include "Model/HubModelServices.h"
#include "Platform/PropertyList.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <ctime>

using namespace Qt::StringLiterals;
using namespace Hub;

namespace {

// `--products N` (default 2,000), a quarter of them installed.
int g_products = 2000;
int g_installed = 500;
constexpr int kPasses = 200;

// Every fourth product has a VST3 copy, one in three of them older than
// the catalog's release.
QStringList installBundles(const Catalog& catalog, const InstallRoots& roots)
{
    QStringList infoLists;
    const QString folder = InstallLocations::folder(roots, PluginFormat::vst3, InstallScope::user);
    for (int i = 0; i < g_products && infoLists.size() < g_installed; i += g_products / g_installed) {
        const Product& p = catalog.products[std::size_t(i)];
        const QString contents = folder + u'/' + p.name + u".vst3/Contents"_s;
        QDir().mkpath(contents);
        const QString version = i % 3 == 0 ? u"1.0.0"_s : p.release->version;
        QFile plist(contents + u"/Info.plist"_s);
        if (!plist.open(QIODevice::WriteOnly))
            qFatal("cannot write a fixture bundle");
        QVariantMap info;
        info.insert(u"CFBundleIdentifier"_s, QString(u"com.tarnaudio."_s + p.id));
        info.insert(u"CFBundleShortVersionString"_s, version);
        plist.write(PropertyList::serialize(info));
        infoLists.append(plist.fileName());
    }
    return infoLists;
}

struct NoService : HubService {
    DeviceSession registerDevice(const QString&, const QString&, const QString&) const override { return {}; }
    AccountReply account(const DeviceSession&, const QString&) const override { return {}; }
    void feedback(const DeviceSession&, const QString&, const QString&, FeedbackKind, const QString&) const override {}
    QUrl downloadURL(const DeviceSession&, const QString&, PluginFormat, const QString&) const override { return {}; }
    QUrl siteLink(const DeviceSession&) const override { return {}; }
    void signOut(const DeviceSession&) const noexcept override {}
};

struct NoIdentity : IdentityProvider, IdentityCodeVerifying {
    QString signIn(const QString&, const QString&, std::stop_token) const override { return {}; }
    QString signIn(OAuthProvider, std::stop_token) const override { return {}; }
    std::optional<std::vector<OAuthProvider>> socialProviders(std::stop_token) const override { return {}; }
    void signOut(std::stop_token) const noexcept override {}
    QString verify(const QString&, std::stop_token) const override { return {}; }
};

struct NoDevices : DeviceStoring {
    DeviceLoad loadResult() const override { return DeviceLoad::none(); }
    bool save(const DeviceSession&) override { return true; }
    void clear() override {}
};

struct NoAU : AURegistry {
    bool refreshAndWait(const AUDescriptor&, double) override { return true; }
};

struct StillClock : Clock {
    QDateTime now() const override { return QDateTime::currentDateTimeUtc(); }
    void sleep(double, QObject*, std::function<void()>) override {}
};

struct Online : NetworkMonitor {
    bool online() const override { return true; }
    void watch(QObject*, std::function<void(bool)>) override {}
};

struct Nowhere : Workspace {
    void openURL(const QUrl&) override {}
    void openApplication(const QString&) override {}
    void reveal(const QStringList&, std::function<void(const QString&)>) override {}
    void openFolder(const QString&, std::function<void(const QString&)>) override {}
};

// This thread's processor time in milliseconds.
double cpuNow()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// One redraw of the plug-ins and updates tabs: every value a row shows.
std::size_t redrawPass(const HubModel& model)
{
    std::size_t sink = 0;
    const PluginSections sections = model.pluginSections();
    for (const QStringList* list : {&sections.onMac, &sections.add})
        for (const QString& id : *list)
            if (const Product* p = model.product(id)) {
                sink += model.rowAction(*p).has_value();
                sink += std::size_t(model.caption(*p).text.size());
                sink += std::size_t(model.rowContext(*p).text.size());
                sink += std::size_t(model.spoken(*p).size());
                sink += model.hasUpdate(*p);
            }
    for (const Product& p : model.updates())
        sink += std::size_t(model.spoken(p).size());
    return sink;
}

void print(const char* what, double ms, double anchorMs, const char* goal)
{
    std::printf("%-58s %9.3f ms  (%6.2fx anchor)  goal %s\n", what, ms, ms / anchorMs, goal);
}

} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--products") == 0)
            g_products = std::max(4, std::atoi(argv[i + 1]));
    g_installed = g_products / 4;
    QCoreApplication app(argc, argv);
    QTemporaryDir home;
    const Catalog catalog = Bench::generatedCatalog(g_products);
    const QString bundled = home.filePath(u"catalog.json"_s);
    {
        QFile file(bundled);
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write the catalog");
        file.write(catalog.toJson());
    }
    const InstallRoots roots = HubModel::isolatedRoots(home.path());
    const QStringList infoLists = installBundles(catalog, roots);

    auto installer = std::make_shared<PluginInstaller>(std::make_shared<NoAU>(), false, 5.0);
    HubModelServices services;
    services.service = std::make_shared<NoService>();
    auto identity = std::make_shared<NoIdentity>();
    services.identity = identity;
    services.codes = identity;
    services.devices = std::make_shared<NoDevices>();
    services.installerFor = [installer](PluginInstaller::URLResolver, std::stop_token) {
        return std::shared_ptr<const PluginInstalling>(installer);
    };
    services.uninstaller = installer;
    services.network = std::make_shared<Online>();
    services.clock = std::make_shared<StillClock>();
    services.workspace = std::make_shared<Nowhere>();
    services.runningDAWs = [] { return QStringList(); };
    services.catalog = {QString(), QUrl(u"https://127.0.0.1:1/catalog.json"_s), bundled};
    services.home = home.path();
    services.cpu = Machine::cpu();
    services.macOSVersion = u"14.0.0"_s;
    services.sandboxed = true;

    // Start-up: the catalog from the local copies, then the scan; then the
    // first redraw, with nothing cached yet.
    std::vector<double> loads;
    std::vector<double> starts;
    std::vector<double> firstPasses;
    std::unique_ptr<HubModel> model;
    std::size_t sink = 0;
    for (int i = 0; i < 9; ++i) {
        QElapsedTimer timer;
        timer.start();
        const CatalogLoader loader({roots.support, services.catalog.catalogURL, bundled});
        const std::optional<LoadedCatalog> local = loader.loadLocal();
        loads.push_back(double(timer.nsecsElapsed()) / 1e6);
        timer.restart();
        if (model)
            model->shutdown();
        model = std::make_unique<HubModel>(services);
        starts.push_back(double(timer.nsecsElapsed()) / 1e6);
        timer.restart();
        sink += redrawPass(*model);
        firstPasses.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::vector<double> reads;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer timer;
        timer.start();
        for (const QString& path : infoLists)
            (void)PropertyList::readDictionary(path);
        reads.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    const double scan = median(starts) - median(loads);

    // Later redraws of the plug-ins and updates tabs.
    std::vector<double> copies;
    std::vector<double> passes;
    for (int i = 0; i < kPasses; ++i) {
        QElapsedTimer timer;
        timer.start();
        const std::vector<Product> copied = catalog.products;
        sink += copied.size();
        copies.push_back(double(timer.nsecsElapsed()) / 1e6);

        timer.restart();
        sink += redrawPass(*model);
        passes.push_back(double(timer.nsecsElapsed()) / 1e6);
    }

    // Refreshes that find the same catalog (the live one is unreachable,
    // the local copy answers) and the same copies.
    std::vector<double> refreshes;
    for (int i = 0; i < 9; ++i) {
        const double cpu = cpuNow();
        model->refresh(true);
        while (model->loading())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        refreshes.push_back(cpuNow() - cpu);
    }

    std::printf("model_bench: %d products, %zu installed, %zu with an update (sink %zu)\n", g_products,
                std::size_t(model->pluginSections().onMac.size()), model->updates().size(), sink);
    print("anchor: deep copy of the catalog's products", median(copies), median(copies), "-");
    print("first redraw pass after a new catalog (nothing cached)", median(firstPasses), median(copies), "< 5 ms");
    print("later redraw pass (sections, row values, updates tab)", median(passes), median(copies), "< 5 ms");
    print("refresh that changes nothing, the model's thread", median(refreshes), median(copies), "nothing per row");
    print("anchor: reading the installed bundles' Info.plist", median(reads), median(reads), "-");
    print("start-up scan of installed copies (model build - load)", scan, median(reads), "< 100 ms");
    model->shutdown();
    return 0;
}

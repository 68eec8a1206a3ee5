#pragma once

#include "QStringPrinter.h"

#include "Base/HubError.h"
#include "Catalog/CatalogRecords.h"
#include "Installer/InstallLocations.h"
#include "Model/HubModel.h"
#include "Model/HubModelServices.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace Hub {
inline void PrintTo(const Caption& caption, std::ostream* out)
{
    *out << "{tag " << caption.tag.value_or(QStringLiteral("-")).toStdString() << ", \"" << caption.text.toStdString()
         << "\", " << (caption.strong ? "strong" : "plain") << "}";
}
inline void PrintTo(const RowContext& context, std::ostream* out)
{
    *out << "{\"" << context.text.toStdString() << "\", kind " << int(context.kind) << ", spoken "
         << context.spoken.value_or(QStringLiteral("-")).toStdString() << "}";
}
} // namespace Hub

// In-process fakes of every service the model is built over, and a fixture
// that builds a model on them in an isolated home.
namespace Hub::Test {

// Spins the event loop until `condition` holds; the limit is generous so a
// loaded machine does not fail the test, and only a hang reaches it.
inline bool eventually(const std::function<bool()>& condition)
{
    return QTest::qWaitFor(condition, 60000);
}

// Holds a worker at a point the test chooses until the test opens it.
class Gate {
public:
    void pass()
    {
        std::unique_lock lock(m_mutex);
        ++m_reached;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_open; });
    }
    void open()
    {
        const std::lock_guard lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }
    int reached() const
    {
        const std::lock_guard lock(m_mutex);
        return m_reached;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = false;
    int m_reached = 0;
};

// One ordered record of what the fakes were asked, shared by all of them,
// so tests can check the order of calls across services.
class CallLog {
public:
    void add(const QString& call)
    {
        const std::lock_guard lock(m_mutex);
        m_calls.append(call);
    }
    QStringList calls() const
    {
        const std::lock_guard lock(m_mutex);
        return m_calls;
    }

private:
    mutable std::mutex m_mutex;
    QStringList m_calls;
};

struct FakeService : HubService {
    explicit FakeService(std::shared_ptr<CallLog> log) : log(std::move(log)) {}

    DeviceSession registerDevice(const QString& jwt, const QString& machineID, const QString& name) const override
    {
        log->add(u"register "_qs + jwt + u' ' + machineID + u' ' + name);
        return DeviceSession{u"device-"_qs + jwt, u"dev-1"_qs, {u"u1"_qs, u"ada@example.com"_qs, u"Ada"_qs}};
    }
    AccountReply account(const DeviceSession& device, const QString&) const override
    {
        log->add(u"account "_qs + device.token);
        if (accountGate)
            accountGate->pass();
        const std::lock_guard lock(mutex);
        if (accountError)
            throw *accountError;
        return reply;
    }
    void feedback(const DeviceSession&, const QString& product, const QString& version, FeedbackKind kind,
                  const QString& message) const override
    {
        log->add(u"feedback "_qs + product + u' ' + version + u' ' + rawValue(kind) + u' ' + message);
        if (feedbackGate)
            feedbackGate->pass();
        const std::lock_guard lock(mutex);
        if (feedbackError)
            throw *feedbackError;
    }
    QUrl downloadURL(const DeviceSession& device, const QString& product, PluginFormat format,
                     const QString& version) const override
    {
        log->add(u"download "_qs + device.token + u' ' + product + u' ' + rawValue(format) + u' ' + version);
        return downloadBase.resolved(QUrl(product + u'/' + rawValue(format) + u".zip"_qs));
    }
    QUrl siteLink(const DeviceSession&) const override
    {
        if (siteGate)
            siteGate->pass();
        return QUrl(u"https://tarnaudio.example/account?t=1"_qs);
    }
    void signOut(const DeviceSession& device) const noexcept override { log->add(u"service signOut "_qs + device.token); }

    std::shared_ptr<CallLog> log;
    mutable std::mutex mutex;
    AccountReply reply;
    std::optional<HubError> accountError;
    std::optional<HubError> feedbackError;
    std::shared_ptr<Gate> accountGate;
    std::shared_ptr<Gate> siteGate;
    std::shared_ptr<Gate> feedbackGate; // holds a feedback call before it answers
    QUrl downloadBase = QUrl(u"https://127.0.0.1/files/"_qs);
};

struct FakeIdentity : IdentityProvider, IdentityCodeVerifying {
    explicit FakeIdentity(std::shared_ptr<CallLog> log) : log(std::move(log)) {}

    QString signIn(const QString& email, const QString&, std::stop_token) const override
    {
        log->add(u"signIn "_qs + email);
        return answer(u"jwt-password"_qs);
    }
    QString signIn(OAuthProvider provider, std::stop_token) const override
    {
        log->add(u"signIn "_qs + rawValue(provider));
        return answer(u"jwt-"_qs + rawValue(provider));
    }
    std::optional<std::vector<OAuthProvider>> socialProviders(std::stop_token) const override
    {
        return std::vector<OAuthProvider>{OAuthProvider::apple};
    }
    void signOut(std::stop_token) const noexcept override { log->add(u"identity signOut"_qs); }
    QString verify(const QString& code, std::stop_token) const override
    {
        log->add(u"verify "_qs + code);
        return answer(u"jwt-code"_qs);
    }

    QString answer(const QString& token) const
    {
        if (gate)
            gate->pass();
        const std::lock_guard lock(mutex);
        if (!errors.empty()) {
            const HubError error = errors.front();
            errors.erase(errors.begin());
            throw error;
        }
        return token;
    }

    std::shared_ptr<CallLog> log;
    mutable std::mutex mutex;
    mutable std::vector<HubError> errors; // thrown in order, one per call
    std::shared_ptr<Gate> gate;
};

struct FakeDevices : DeviceStoring {
    explicit FakeDevices(std::shared_ptr<CallLog> log) : log(std::move(log)) {}

    DeviceLoad loadResult() const override
    {
        if (loadGate)
            loadGate->pass();
        const std::lock_guard lock(mutex);
        return stored;
    }
    bool save(const DeviceSession& session) override
    {
        log->add(u"store save"_qs);
        const std::lock_guard lock(mutex);
        if (saveWorks)
            stored = DeviceLoad::found(session);
        return saveWorks;
    }
    void clear() override
    {
        log->add(u"store clear"_qs);
        const std::lock_guard lock(mutex);
        stored = DeviceLoad::none();
    }

    std::shared_ptr<CallLog> log;
    mutable std::mutex mutex;
    DeviceLoad stored = DeviceLoad::none();
    bool saveWorks = true;
    std::shared_ptr<Gate> loadGate;
};

// The installer: copies by product, steps scripted per install, and an
// optional gate that holds an install between its steps and its end.
struct FakeInstaller : PluginInstalling, PluginUninstalling {
    explicit FakeInstaller(std::shared_ptr<CallLog> log) : log(std::move(log)) {}

    QList<InstalledFormat> installed(const Product& product, const InstallRoots&) const override
    {
        if (scanGate)
            scanGate->pass();
        QList<InstalledFormat> found;
        {
            const std::lock_guard lock(mutex);
            if (const auto entry = copies.find(product.id); entry != copies.end())
                found = entry->second;
        }
        if (scanned)
            scanned(product);
        return found;
    }
    QList<InstalledFormat> install(const Product& product, const Release& release, const std::set<PluginFormat>& formats,
                                   InstallScope scope, const InstallRoots& roots,
                                   const InstallProgress& progress) const override
    {
        QString chosen;
        for (PluginFormat format : formats)
            chosen += rawValue(format) + u' ';
        log->add(u"install "_qs + product.id + u' ' + chosen + rawValue(scope));
        if (resolver && release.artifacts)
            for (const Artifact& artifact : *release.artifacts)
                resolver(product.id, artifact, release.version);
        for (const InstallStep& step : steps) {
            progress(step);
            if (afterStep)
                afterStep(step);
        }
        if (const auto held = gates.find(product.id); held != gates.end())
            held->second->pass();
        const std::lock_guard lock(mutex);
        if (failure)
            std::rethrow_exception(failure);
        QList<InstalledFormat> placed;
        for (PluginFormat format : formats)
            placed.append({format,
                           InstallLocations::folder(roots, format, scope) + u'/' + product.name + u'.'
                               + bundleExtension(format),
                           release.version});
        copies[product.id] = placed;
        return placed;
    }
    QList<InstalledFormat> uninstall(const Product& product, const UninstallOptions& options,
                                     const InstallRoots& roots) const override
    {
        QString what;
        for (PluginFormat format : options.formats)
            what += rawValue(format) + u' ';
        for (InstallScope scope : options.scopes)
            what += rawValue(scope) + u' ';
        log->add(u"uninstall "_qs + product.id + u' ' + what + (options.removeSettings ? u"settings"_qs : u"kept"_qs));
        if (const auto held = gates.find(product.id); held != gates.end())
            held->second->pass();
        const std::lock_guard lock(mutex);
        if (failure)
            std::rethrow_exception(failure);
        // Only the asked formats in the asked places go, as on disk.
        QList<InstalledFormat>& left = copies[product.id];
        left.removeIf([&](const InstalledFormat& copy) {
            const std::optional<InstallScope> scope = InstallLocations::scope(copy.path, copy.format, roots);
            return options.formats.contains(copy.format) && scope && options.scopes.contains(*scope);
        });
        return {};
    }

    std::shared_ptr<CallLog> log;
    mutable std::mutex mutex;
    mutable std::map<QString, QList<InstalledFormat>> copies;
    std::vector<InstallStep> steps = {InstallStep::downloading(0.5), InstallStep::verifying(),
                                      InstallStep::installing(), InstallStep::done()};
    std::exception_ptr failure;
    std::map<QString, std::shared_ptr<Gate>> gates; // holds that product's install or uninstall before it ends
    std::shared_ptr<Gate> scanGate;                  // holds every scan of installed copies
    std::function<void(const InstallStep&)> afterStep;
    std::function<void(const Product&)> scanned; // after a scan has read the copies
    PluginInstaller::URLResolver resolver; // set per install by the model
};

struct FakePackages : PackageInstalling {
    explicit FakePackages(std::shared_ptr<CallLog> log) : log(std::move(log)) {}

    QString install(const QString& name, const Release& release, bool hub, const InstallProgress& progress,
                    std::stop_token) const override
    {
        log->add(u"package "_qs + name + u' ' + release.version + (hub ? u" hub"_qs : u""_qs));
        progress(InstallStep::downloading(1.0));
        progress(InstallStep::installing());
        if (failure)
            throw *failure;
        return hub ? u"/opt/Applications/Tarnhub.app"_qs : QString();
    }

    std::shared_ptr<CallLog> log;
    std::optional<HubError> failure;
};

struct FakeNetwork : NetworkMonitor {
    bool online() const override { return up; }
    void watch(QObject* context, std::function<void(bool)> changed) override
    {
        watcher = context;
        notify = std::move(changed);
    }
    void set(bool online)
    {
        up = online;
        if (watcher && notify)
            notify(online);
    }

    bool up = true;
    QPointer<QObject> watcher;
    std::function<void(bool)> notify;
};

// Time moves only when the test says so.
struct FakeClock : Clock {
    struct Sleeper {
        QDateTime due;
        QPointer<QObject> context;
        std::function<void()> wake;
    };

    QDateTime now() const override { return current; }
    void sleep(double seconds, QObject* context, std::function<void()> wake) override
    {
        sleepers.push_back({current.addMSecs(qint64(std::max(seconds, 0.0) * 1000.0)), context, std::move(wake)});
    }
    // Moves the clock on and wakes, in order, every sleeper due by then.
    void advance(double seconds)
    {
        current = current.addMSecs(qint64(seconds * 1000.0));
        for (bool woke = true; woke;) {
            woke = false;
            for (auto it = sleepers.begin(); it != sleepers.end(); ++it)
                if (it->due <= current) {
                    const Sleeper sleeper = *it;
                    sleepers.erase(it);
                    if (sleeper.context)
                        sleeper.wake();
                    woke = true;
                    break;
                }
        }
    }
    std::vector<double> pending() const
    {
        std::vector<double> seconds;
        for (const Sleeper& sleeper : sleepers)
            seconds.push_back(double(current.msecsTo(sleeper.due)) / 1000.0);
        return seconds;
    }

    QDateTime current = QDateTime(QDate(2030, 1, 2), QTime(3, 4, 5), Qt::UTC);
    std::vector<Sleeper> sleepers;
};

struct FakeWorkspace : Workspace {
    void openURL(const QUrl& url) override { opened.append(url.toString()); }
    void openApplication(const QString& path) override { opened.append(u"app "_qs + path); }
    void reveal(const QStringList& paths, std::function<void(const QString&)> failed) override
    {
        opened.append(u"reveal "_qs + paths.join(u','));
        // Like a desktop with no file manager: nothing opens the folder.
        if (noFileManager)
            failed(QFileInfo(paths.first()).path());
    }
    void openFolder(const QString& path, std::function<void(const QString&)> failed) override
    {
        opened.append(u"folder "_qs + path);
        if (noFileManager)
            failed(path);
    }

    QStringList opened;
    bool noFileManager = false;
};

// A model in an isolated home over the fakes, with the catalog the test
// wrote as its built-in copy.
class ModelFixture : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_home.isValid()); }
    void TearDown() override
    {
        // A test that failed while holding a worker must not hang the run.
        for (const auto& [id, gate] : installer->gates)
            gate->open();
        for (const std::shared_ptr<Gate>& gate : {service->accountGate, service->siteGate, service->feedbackGate, identity->gate,
                                                  devices->loadGate, installer->scanGate, reportGate})
            if (gate)
                gate->open();
        if (model)
            model->shutdown();
    }

    static Product plugin(const QString& id, const QString& version)
    {
        Product product;
        product.id = id;
        product.name = id.at(0).toUpper() + id.mid(1);
        product.tagline = u"The "_qs + id + u" tagline"_qs;
        product.kind = u"plugin"_qs;
        product.status = u"available"_qs;
        product.formats = QStringList{u"VST3"_qs, u"AU"_qs};
        Release release;
        release.version = version;
        Artifact vst3;
        vst3.format = PluginFormat::vst3;
        vst3.url = u"https://tarnaudio.example/"_qs + id + u".vst3.zip"_qs;
        vst3.sha256 = QString(64, u'a');
        vst3.bundle = product.name + u".vst3"_qs;
        vst3.archs = QStringList{u"arm64"_qs, u"x86_64"_qs};
        Artifact au = vst3;
        au.format = PluginFormat::au;
        au.bundle = product.name + u".component"_qs;
        release.artifacts = std::vector<Artifact>{vst3, au};
        product.release = release;
        return product;
    }

    InstalledFormat copy(PluginFormat format, const QString& version, InstallScope scope = InstallScope::user,
                         const QString& name = u"X"_qs) const
    {
        const InstallRoots roots = HubModel::isolatedRoots(m_home.path());
        return {format, InstallLocations::folder(roots, format, scope) + u'/' + name + u'.' + bundleExtension(format),
                version};
    }

    // Builds the model; `catalog` becomes its built-in copy.
    void build(const Catalog& catalog)
    {
        const QString bundled = m_home.filePath(u"bundled-catalog.json"_qs);
        QFile file(bundled);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(catalog.toJson());
        file.close();

        HubModelServices services;
        services.service = service;
        services.identity = identity;
        services.codes = identity;
        services.devices = devices;
        services.installerFor = [this](PluginInstaller::URLResolver resolve, std::stop_token) {
            if (resolve)
                installer->resolver = resolve;
            return std::shared_ptr<const PluginInstalling>(installer);
        };
        services.uninstaller = installer;
        if (realInstaller) {
            services.installerFor = [this](PluginInstaller::URLResolver resolve, std::stop_token stop) {
                auto copy = std::make_shared<PluginInstaller>(*realInstaller);
                copy->resolveURL = std::move(resolve);
                copy->configuration = [ca = caBundle, stop] { return Http::Session{ca, stop}; };
                return std::shared_ptr<const PluginInstalling>(copy);
            };
            services.uninstaller = realInstaller;
        }
        services.packages = realPackages ? realPackages : std::shared_ptr<const PackageInstalling>(packages);
        services.network = network;
        services.clock = clock;
        services.workspace = workspace;
        services.runningDAWs = [this] { return daws; };
        services.catalog = {QString(), catalogURL, bundled};
        services.caBundle = caBundle;
        services.httpLimits = httpLimits;
        services.reports.transport = [this](const QJsonObject&, const QString&) {
            log->add(u"report upload"_qs);
            if (reportGate)
                reportGate->pass();
            if (reportError)
                throw *reportError;
            return QJsonObject{{u"ok"_qs, true}};
        };
        services.home = m_home.path();
        services.cpu = cpu;
        services.macOSVersion = u"14.0.0"_qs;
        services.machineID = u"machine-1"_qs;
        services.computerName = u"studio"_qs;
        services.sandboxed = true;
        services.signInAvailable = signInAvailable;
        services.launched = launched;
        services.selfUpdates = selfUpdates;
        model = std::make_unique<HubModel>(std::move(services));
    }

    // Starts the model and lets the splash pass; waits for the first refresh.
    void startToFirstScreen()
    {
        model->start();
        clock->advance(HubModel::kSplashSeconds);
        ASSERT_TRUE(eventually([this] { return model->screen() != Screen::splash; }));
        ASSERT_TRUE(eventually([this] { return !model->loading(); }));
    }

    void signInStored()
    {
        devices->stored = DeviceLoad::found(
            DeviceSession{u"tok-1"_qs, u"dev-1"_qs, {u"u1"_qs, u"ada@example.com"_qs, u"Ada"_qs}});
    }

    ProductState stateOf(const QString& id) const
    {
        const auto found = model->states().find(id);
        return found == model->states().end() ? ProductState{} : found->second;
    }

    QTemporaryDir m_home;
    std::shared_ptr<CallLog> log = std::make_shared<CallLog>();
    std::shared_ptr<FakeService> service = std::make_shared<FakeService>(log);
    std::shared_ptr<FakeIdentity> identity = std::make_shared<FakeIdentity>(log);
    std::shared_ptr<FakeDevices> devices = std::make_shared<FakeDevices>(log);
    std::shared_ptr<FakeInstaller> installer = std::make_shared<FakeInstaller>(log);
    std::shared_ptr<FakePackages> packages = std::make_shared<FakePackages>(log);
    std::shared_ptr<FakeNetwork> network = std::make_shared<FakeNetwork>();
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<FakeWorkspace> workspace = std::make_shared<FakeWorkspace>();
    // When set, installs and scans go through this installer instead of the fake.
    std::shared_ptr<PluginInstaller> realInstaller;
    std::shared_ptr<const PackageInstalling> realPackages;
    QString caBundle;
    Http::Limits httpLimits;
    // The live catalog; nothing answers here unless a test serves it.
    QUrl catalogURL = QUrl(u"https://127.0.0.1:1/catalog.json"_qs);
    QString cpu = u"x86_64"_qs;
    bool signInAvailable = true; // false: a build without a sign-in key
    std::optional<QDateTime> launched; // when the program was launched; unset: at build()
    bool selfUpdates = true;     // false: a distribution's package
    QStringList daws;
    std::shared_ptr<Gate> reportGate;       // holds each report upload
    std::optional<HubError> reportError;    // thrown by each report upload
    std::unique_ptr<HubModel> model;
};

} // namespace Hub::Test

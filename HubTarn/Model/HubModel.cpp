#include "Model/HubModel.h"
#include "Model/HubModelPrivate.h"

#include "Base/Config.h"
#include "Installer/InstallErrors.h"
#include "Installer/InstallLocations.h"
#include "Installer/Packages/Installer.h"
#include "Reports/SystemInfo.h"

#include <QDir>
#include <QThread>

using namespace Qt::StringLiterals;

namespace Hub {

namespace {

const QString kInstallAU = u"InstallAU"_s;
const QString kInstallVST3 = u"InstallVST3"_s;
const QString kInstallScope = u"InstallScope"_s;
const QString kCheckAtOpen = u"CheckAtOpen"_s;
const QString kAutoUpdate = u"AutoUpdate"_s;
const QString kSendReports = u"SendReports"_s;

} // namespace

// What one refresh found, handed from the pool to the main thread.
struct HubModel::RefreshResult {
    std::optional<LoadedCatalog> loaded;
    bool catalogLive = false;
    std::optional<AccountReply> account;
    std::optional<HubError> accountError;
    std::map<QString, QList<InstalledFormat>> installed;
    std::vector<ReportFile> problems;
};

InstallRoots HubModel::isolatedRoots(const QString& home)
{
    return InstallLocations::isolatedRoots(home);
}

HubModel::HubModel(HubModelServices services, QObject* parent)
    : QObject(parent)
    , m_services(std::move(services))
{
    // The work here waits on the network, the disk and child processes, not
    // on the processor: sized by cores, two long installs on a two-core
    // machine would hold back a refresh or a sign-in until one ended.
    m_pool.setMaxThreadCount(std::max(16, QThread::idealThreadCount()));
    const QString home = m_services.home.value_or(Config::homeFolder());
    m_roots = m_services.home ? isolatedRoots(home) : InstallLocations::real();
    m_settings = m_services.home
                     ? std::make_unique<QSettings>(home + u"/.config/"_s + Config::bundleID() + u".conf"_s,
                                                   QSettings::IniFormat)
                     : std::make_unique<QSettings>();
    loadSettings();

    CatalogLoader::Locations locations = m_services.catalog;
    locations.supportFolder = m_roots.support;
    m_loader = std::make_unique<CatalogLoader>(locations);
    m_spool = std::make_unique<ReportSpool>(home);
    m_services.reports.session.stop = m_stop.get_token();
    m_launched = m_services.clock->now();

    if (std::optional<LoadedCatalog> local = m_loader->loadLocal()) {
        setCatalog(std::move(local->catalog));
        m_catalogSource = local->source;
        const std::shared_ptr<const PluginInstalling> scanner = m_services.installerFor({}, m_stop.get_token());
        for (const Product& product : m_catalog->products) {
            QList<InstalledFormat> installed = scanner->installed(product, m_roots);
            if (!installed.isEmpty())
                m_states[product.id].installed = std::move(installed);
        }
    }
}

HubModel::~HubModel()
{
    shutdown();
}

void HubModel::shutdown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    m_stop.request_stop();
    if (m_signInStop)
        m_signInStop->request_stop();
    m_pool.waitForDone(kShutdownWaitMs);
}

// ---- Settings -------------------------------------------------------------

void HubModel::loadSettings()
{
    m_installAU = m_settings->value(kInstallAU, true).toBool();
    m_installVST3 = m_settings->value(kInstallVST3, true).toBool();
    if (!m_installAU && !m_installVST3) {
        // Both off would make every install sheet start empty.
        m_installAU = true;
        m_installVST3 = true;
    }
    m_scope = installScopeFromRaw(m_settings->value(kInstallScope).toString()).value_or(InstallScope::user);
    m_checkAtOpen = m_settings->value(kCheckAtOpen, true).toBool();
    m_autoUpdate = m_settings->value(kAutoUpdate, false).toBool();
    m_sendReports = ReportSender::optedIn(*m_settings);
}

void HubModel::store(const QString& key, const QVariant& value)
{
    m_settings->setValue(key, value);
    m_settings->sync();
}

void HubModel::setInstallAU(bool on)
{
    store(kInstallAU, on);
    assign(m_installAU, on, &HubModel::installAUChanged);
}

void HubModel::setInstallVST3(bool on)
{
    store(kInstallVST3, on);
    assign(m_installVST3, on, &HubModel::installVST3Changed);
}

void HubModel::setScope(InstallScope scope)
{
    store(kInstallScope, rawValue(scope));
    assign(m_scope, scope, &HubModel::scopeChanged);
}

void HubModel::setCheckAtOpen(bool on)
{
    store(kCheckAtOpen, on);
    assign(m_checkAtOpen, on, &HubModel::checkAtOpenChanged);
}

void HubModel::setAutoUpdate(bool on)
{
    store(kAutoUpdate, on);
    assign(m_autoUpdate, on, &HubModel::autoUpdateChanged);
}

void HubModel::setSendReports(bool on)
{
    ReportSender::setOptedIn(*m_settings, on);
    const bool switchedOn = on && !m_sendReports;
    assign(m_sendReports, on, &HubModel::sendReportsChanged);
    if (switchedOn)
        sendProblems();
}

// ---- Navigation -----------------------------------------------------------

void HubModel::setScreen(Screen screen)
{
    assign(m_screen, screen, &HubModel::screenChanged);
    if (screen == Screen::main)
        replayLink(!m_loading);
}

void HubModel::setTab(Tab tab) { assign(m_tab, tab, &HubModel::tabChanged); }
void HubModel::setPage(const std::optional<QString>& page) { assign(m_page, page, &HubModel::pageChanged); }
void HubModel::setSheet(const std::optional<Sheet>& sheet) { assign(m_sheet, sheet, &HubModel::sheetChanged); }
void HubModel::setAccountMenu(bool open) { assign(m_accountMenu, open, &HubModel::accountMenuChanged); }
void HubModel::setLoginNote(const std::optional<QString>& note) { assign(m_loginNote, note, &HubModel::loginNoteChanged); }

void HubModel::clearDAWWarning()
{
    if (!m_dawWarning)
        return;
    m_dawWarning.reset();
    Q_EMIT dawWarningChanged();
}

void HubModel::open(const QUrl& url)
{
    if (url.scheme() != "hubtarn"_L1)
        return;
    // The product comes first after the scheme in both forms: the host of
    // "hubtarn://echo/whatsnew", the path's first part of "hubtarn:echo/whatsnew".
    QString path = url.host().isEmpty() ? url.path() : url.host();
    while (path.startsWith(u'/'))
        path.remove(0, 1);
    const QString id = path.section(u'/', 0, 0);
    if (id.isEmpty())
        return;
    m_waitingLink = id;
    if (m_screen == Screen::main)
        replayLink(!m_loading);
}

void HubModel::replayLink(bool lastChance)
{
    if (!m_waitingLink)
        return;
    // The running refresh may still bring the product: a live catalog that
    // has it, or the account that shares it.
    if (!lastChance && !product(*m_waitingLink))
        return;
    const QString id = *std::exchange(m_waitingLink, std::nullopt);
    if (product(id))
        setPage(id);
}

// ---- Start-up and refresh -------------------------------------------------

void HubModel::start()
{
    if (m_started)
        return;
    m_started = true;
    m_services.network->watch(this, [this](bool online) {
        const bool cameBack = online && !m_networkOnline;
        m_networkOnline = online;
        if (!online) {
            assign(m_offline, true, &HubModel::offlineChanged);
        } else if (cameBack && m_screen != Screen::splash) {
            // A refresh that is running began without the network and will
            // end offline, so one more follows it.
            if (m_loading)
                m_refreshAgain = true;
            else
                refresh(true);
        }
    });
    // Read after watching starts, so no change falls between the two; the
    // main screen must not offer network actions while the first refresh runs.
    m_networkOnline = m_services.network->online();
    assign(m_offline, !m_networkOnline, &HubModel::offlineChanged);
    // The spool is a folder plug-ins write too: whatever lies there is read
    // on the pool, never while the window waits to appear.
    const quint64 problemsBefore = m_problemLoads;
    submit(Keep::always, [spool = *m_spool] { return spool.load(); },
           [this, problemsBefore](Outcome<std::vector<ReportFile>> outcome) {
               if (outcome.value && m_problemLoads == problemsBefore)
                   publishProblems(std::move(*outcome.value));
           });
    if (!m_services.sandboxed) {
        const QString home = m_services.home.value_or(Config::homeFolder());
        submit(Keep::always, [home] { Installer::cleanDownloads(home); }, [](Outcome<std::monostate>) {});
    }
    submit(Keep::always, [devices = m_services.devices] { return devices->loadResult(); },
           [this](Outcome<DeviceLoad> outcome) { sessionLoaded(outcome.value.value_or(DeviceLoad::unreadable())); });
    const double shown = double(m_launched.msecsTo(m_services.clock->now())) / 1000.0;
    m_services.clock->sleep(kSplashSeconds - shown, this, [this] {
        m_splashOver = true;
        showFirstScreen();
    });
}

void HubModel::sessionLoaded(const DeviceLoad& load)
{
    if (load.kind == DeviceLoad::Kind::found)
        m_session = load.session;
    else if (load.kind == DeviceLoad::Kind::unreadable)
        record(u"hub"_s, u"hub.keychain.read"_s, u"The saved sign-in couldn't be read."_s);
    m_sessionRead = true;
    showFirstScreen();
}

void HubModel::showFirstScreen()
{
    if (!m_sessionRead || !m_splashOver || m_screen != Screen::splash)
        return;
    // The refresh starts first, so a waiting link can wait for what it brings.
    if (!m_signInAgain)
        refresh(m_checkAtOpen);
    setScreen(m_session ? Screen::main : Screen::login);
    scheduleRefresh();
}

void HubModel::pause(double seconds, QObject* context, std::function<void()> resume)
{
    m_services.clock->sleep(seconds, context, std::move(resume));
}

QDateTime HubModel::now() const { return m_services.clock->now(); }

void HubModel::scheduleRefresh()
{
    m_services.clock->sleep(kRefreshInterval, this, [this] {
        if (!m_signInAgain)
            refresh(true);
        scheduleRefresh();
    });
}

void HubModel::refresh(bool catalog)
{
    if (m_loading || m_shutDown)
        return;
    assign(m_loading, true, &HubModel::loadingChanged);
    const quint64 generation = m_generation;
    const quint64 rescansBefore = m_rescans;
    std::optional<Catalog> known = m_catalog;
    const std::shared_ptr<const PluginInstalling> scanner = m_services.installerFor({}, m_stop.get_token());
    submit(
        Keep::always,
        [catalog, known = std::move(known), loader = *m_loader, http = Http::Session{m_services.caBundle,
                                                                                       m_stop.get_token()},
         service = m_services.service, session = m_session, machineID = m_services.machineID, scanner,
         roots = m_roots, spool = *m_spool]() {
            RefreshResult result;
            if (catalog) {
                result.loaded = loader.load(http);
                result.catalogLive = result.loaded && result.loaded->source == CatalogSource::live;
            }
            if (session) {
                try {
                    result.account = service->account(*session, machineID);
                } catch (const HubError& error) {
                    result.accountError = error;
                }
            }
            const Catalog* scanned = result.loaded ? &result.loaded->catalog : known ? &*known : nullptr;
            if (scanned)
                for (const Product& product : scanned->products)
                    result.installed[product.id] = scanner->installed(product, roots);
            result.problems = spool.load();
            return result;
        },
        [this, generation, rescansBefore](Outcome<RefreshResult> outcome) {
            applyRefresh(outcome.value ? std::move(*outcome.value) : RefreshResult{}, generation, rescansBefore);
        });
}

void HubModel::applyRefresh(RefreshResult result, quint64 generation, quint64 rescansBefore)
{
    if (result.loaded) {
        m_catalogSource = result.loaded->source;
        if (m_catalog != result.loaded->catalog) {
            setCatalog(std::move(result.loaded->catalog));
            Q_EMIT catalogChanged();
        }
    }
    // The whole scan is applied before anyone hears of it, and the views
    // hear of it once: each change would otherwise redraw every tab.
    QStringList rescanned;
    for (auto& [id, installed] : result.installed) {
        // A job's own scan is newer than this one, and copies seen while a
        // job works may be half placed.
        if (isWorking(id) || m_rescanned.value(id) > rescansBefore)
            continue;
        const auto found = m_states.find(id);
        if (found == m_states.end() && installed.isEmpty())
            continue;
        if (found != m_states.end() && found->second.installed == installed)
            continue;
        m_states[id].installed = std::move(installed);
        forgetFacts(id);
        rescanned.append(id);
    }
    for (const QString& id : std::as_const(rescanned))
        Q_EMIT productStateChanged(id);
    if (!rescanned.isEmpty())
        Q_EMIT statesChanged();
    publishProblems(std::move(result.problems));

    const bool accountAnswered =
        result.account || (result.accountError && !result.accountError->isOffline()
                           && result.accountError->kind() != HubError::Kind::cancelled);
    const bool answered = result.catalogLive || accountAnswered;
    const bool attempted = result.loaded.has_value() || result.account || result.accountError;
    if (answered)
        assign(m_lastChecked, std::optional(m_services.clock->now()), &HubModel::lastCheckedChanged);
    assign(m_offline, !m_networkOnline || (attempted && !answered), &HubModel::offlineChanged);

    const bool sameSession = generation == m_generation;
    if (sameSession && m_session) {
        if (result.account) {
            assign(m_account,
                   std::optional(AccountInfo{m_session->user, result.account->betas, result.account->products,
                                             m_services.clock->now()}),
                   &HubModel::accountChanged);
        } else if (result.accountError && result.accountError->isUnauthorized()) {
            signOutHere(true);
        } else if (result.accountError && !result.accountError->isOffline()
                   && result.accountError->kind() != HubError::Kind::cancelled) {
            record(u"hub"_s, u"hub.account"_s, result.accountError->errorDescription());
        }
    }
    assign(m_loading, false, &HubModel::loadingChanged);
    if (std::exchange(m_refreshAgain, false) && !m_shutDown) {
        refresh(true);
        return;
    }
    if (m_screen == Screen::main)
        replayLink(true);
    if (!sameSession || m_shutDown)
        return;

    if (m_autoUpdate && answered && m_services.runningDAWs().isEmpty()) {
        std::vector<InstallRequest> queue;
        for (const Product& product : updates())
            queue.push_back(updateRequest(product));
        runUpdates(std::move(queue));
    }
    if (m_sendReports)
        sendProblems();
}

void HubModel::setCatalog(Catalog catalog)
{
    m_catalog = std::move(catalog);
    m_facts.assign(m_catalog->products.size(), std::nullopt);
    m_productIndex.clear();
    for (qsizetype i = qsizetype(m_catalog->products.size()) - 1; i >= 0; --i)
        m_productIndex.insert(m_catalog->products[std::size_t(i)].id, i); // the first of equal identifiers wins
}

const Product* HubModel::catalogProduct(const QString& id) const
{
    const auto found = m_productIndex.constFind(id);
    return found == m_productIndex.constEnd() ? nullptr : &m_catalog->products[std::size_t(*found)];
}

void HubModel::reloadProblems()
{
    publishProblems(m_spool->load());
}

void HubModel::publishProblems(std::vector<ReportFile> problems)
{
    ++m_problemLoads;
    if (problems == m_problems)
        return;
    m_problems = std::move(problems);
    Q_EMIT problemsChanged();
}

void HubModel::record(const QString& product, const QString& code, const QString& message)
{
    Report report;
    report.product = product;
    report.code = code;
    report.format = u"hub"_s;
    report.host = u"Tarnhub "_s + Config::hubVersion();
    report.reporter = u"hub"_s;
    report.os = SystemInfo::os();
    report.arch = m_services.cpu;
    if (!m_services.machineID.isEmpty())
        report.machineID = m_services.machineID;
    if (product == "hub"_L1) {
        report.version = Config::hubVersion();
    } else if (const Product* known = this->product(product)) {
        report.version = installedVersion(*known);
    }
    report.message = message;
    m_spool->record(report);
    reloadProblems();
}

// ---- Reports --------------------------------------------------------------

void HubModel::sendProblems()
{
    reloadProblems();
    if (m_problems.empty() || m_sendingReports)
        return;
    m_sendingReports = true;
    Q_EMIT sendingReportsChanged();
    submit(
        Keep::always,
        [files = m_problems, spool = *m_spool, client = m_services.reports] {
            return ReportSender::send(files, spool, client);
        },
        [this](Outcome<qsizetype> outcome) {
            m_sendingReports = false;
            QString note;
            if (outcome.value) {
                const qsizetype sent = *outcome.value;
                note = u"Sent "_s + QString::number(sent) + u" report"_s + (sent == 1 ? u""_s : u"s"_s)
                       + u". Thank you."_s;
            } else {
                note = u"Couldn't send the reports now: "_s + errorSentence(outcome.error);
            }
            assign(m_reportNote, std::optional(note), &HubModel::reportNoteChanged);
            reloadProblems();
            Q_EMIT sendingReportsChanged();
        });
}

void HubModel::clearProblems()
{
    m_spool->deleteFiles(m_problems);
    reloadProblems();
    assign(m_reportNote, std::optional<QString>(), &HubModel::reportNoteChanged);
}

} // namespace Hub

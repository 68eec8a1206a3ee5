#include "Model/HubModel.h"
#include "Model/HubModelPrivate.h"

#include "Base/Config.h"
#include "Installer/InstallErrors.h"
#include "Installer/InstallLocations.h"
#include "Installer/Packages/Installer.h"
#include "Reports/SystemInfo.h"

#include <QDir>
#include <QSet>
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

// What one refresh found, handed from the pool to the main thread, which
// only swaps it in: a catalog of thousands is decoded, compared and weighed
// on the pool.
struct HubModel::RefreshResult {
    // A catalog that differs from the one shown, with all the model keeps
    // for it, worked out against the scan's copies.
    struct NewCatalog {
        std::shared_ptr<const std::optional<Catalog>> catalog;
        QHash<QString, qsizetype> index;
        bool repeatedIDs = false;
        std::vector<std::optional<Facts>> facts;
        // Products that came, went or differ.
        QStringList changed;
    };

    std::optional<CatalogSource> source; // set when a catalog was loaded
    bool catalogLive = false;
    std::optional<NewCatalog> catalog;
    // The copies that differ from what the model held when it began.
    std::map<QString, QList<InstalledFormat>> installed;
};

namespace {

// The catalog's products by identifier, the first of equal ones winning;
// true in `repeated` when one is listed twice.
QHash<QString, qsizetype> indexOf(const Catalog& catalog, bool& repeated)
{
    QHash<QString, qsizetype> index;
    index.reserve(qsizetype(catalog.products.size()));
    repeated = false;
    for (qsizetype i = qsizetype(catalog.products.size()) - 1; i >= 0; --i) {
        const QString& id = catalog.products[std::size_t(i)].id;
        repeated = repeated || index.contains(id);
        index.insert(id, i);
    }
    return index;
}

// The identifiers whose product `now` lists differently from `before`:
// new, gone or changed.
QStringList changedProducts(const Catalog* before, const QHash<QString, qsizetype>& beforeIndex, const Catalog& now,
                            const QHash<QString, qsizetype>& nowIndex)
{
    QStringList changed;
    for (auto it = nowIndex.cbegin(); it != nowIndex.cend(); ++it) {
        const qsizetype old = before ? beforeIndex.value(it.key(), -1) : -1;
        if (old < 0 || before->products[std::size_t(old)] != now.products[std::size_t(it.value())])
            changed.append(it.key());
    }
    if (before)
        for (auto it = beforeIndex.cbegin(); it != beforeIndex.cend(); ++it)
            if (!nowIndex.contains(it.key()))
                changed.append(it.key());
    return changed;
}

} // namespace

InstallRoots HubModel::isolatedRoots(const QString& home)
{
    return InstallLocations::isolatedRoots(home);
}

HubModel::HubModel(HubModelServices services, QObject* parent)
    : QObject(parent)
    , d(std::make_unique<Private>(std::move(services)))
{
    // The work here waits on the network, the disk and child processes, not
    // on the processor: sized by cores, two long installs on a two-core
    // machine would hold back a refresh or a sign-in until one ended.
    d->pool.setMaxThreadCount(std::max(16, QThread::idealThreadCount()));
    d->spoolQueue.setMaxThreadCount(1);
    const QString home = d->services.home.value_or(Config::homeFolder());
    d->roots = d->services.home ? isolatedRoots(home) : InstallLocations::real();
    d->settings = d->services.home
                     ? std::make_unique<QSettings>(home + u"/.config/"_s + Config::bundleID() + u".conf"_s,
                                                   QSettings::IniFormat)
                     : std::make_unique<QSettings>();
    loadSettings();

    CatalogLoader::Locations locations = d->services.catalog;
    locations.supportFolder = d->roots.support;
    d->loader = std::make_unique<CatalogLoader>(locations);
    d->spool = std::make_unique<ReportSpool>(home);
    d->services.reports.session.stop = d->stop.get_token();
    d->launched = d->services.launched.value_or(d->services.clock->now());

    if (std::optional<LoadedCatalog> local = d->loader->loadLocal()) {
        setCatalog(std::move(local->catalog));
        d->catalogSource = local->source;
        const std::shared_ptr<const PluginInstalling> scanner = d->services.installerFor({}, d->stop.get_token());
        for (const Product& product : (*d->catalog)->products) {
            QList<InstalledFormat> installed = scanner->installed(product, d->roots);
            if (!installed.isEmpty())
                d->setInstalled(product.id, installed);
        }
    }
}

HubModel::~HubModel()
{
    shutdown();
}

Screen HubModel::screen() const { return d->screen; }
Tab HubModel::tab() const { return d->tab; }
const std::optional<QString>& HubModel::page() const { return d->page; }
const std::optional<Sheet>& HubModel::sheet() const { return d->sheet; }
bool HubModel::accountMenu() const { return d->accountMenu; }
const std::optional<DAWWarning>& HubModel::dawWarning() const { return d->dawWarning; }
const std::optional<Catalog>& HubModel::catalog() const { return *d->catalog; }
const std::optional<QStringList>& HubModel::productsChanged() const { return d->productsChanged; }
std::optional<CatalogSource> HubModel::catalogSource() const { return d->catalogSource; }
const std::optional<AccountInfo>& HubModel::account() const { return d->account; }
const ProductStates& HubModel::states() const { return d->states; }
bool HubModel::loading() const { return d->loading; }
bool HubModel::offline() const { return d->offline; }
const std::optional<QDateTime>& HubModel::lastChecked() const { return d->lastChecked; }
const Job& HubModel::hubJob() const { return d->hubJob; }
const std::vector<ReportFile>& HubModel::problems() const { return d->problems; }
const QStringList& HubModel::unreadableProblems() const { return d->unreadableProblems; }
const std::optional<QString>& HubModel::reportNote() const { return d->reportNote; }
bool HubModel::sendingReports() const { return d->sendingReports; }
const std::optional<QString>& HubModel::loginNote() const { return d->loginNote; }
bool HubModel::signInAgain() const { return d->signInAgain; }
bool HubModel::installAU() const { return d->installAU; }
bool HubModel::installVST3() const { return d->installVST3; }
InstallScope HubModel::scope() const { return d->scope; }
bool HubModel::checkAtOpen() const { return d->checkAtOpen; }
bool HubModel::autoUpdate() const { return d->autoUpdate; }
bool HubModel::sendReports() const { return d->sendReports; }
const HubModel::OAuthProviders& HubModel::signInProviders() const { return d->providers; }
bool HubModel::codeNeeded() const { return d->codeNeeded; }
bool HubModel::signingIn() const { return d->signingIn; }
bool HubModel::signInAvailable() const { return d->services.signInAvailable; }
bool HubModel::selfUpdates() const { return d->services.selfUpdates; }
const std::optional<DeviceSession>& HubModel::session() const { return d->session; }
const InstallRoots& HubModel::roots() const { return d->roots; }
const QString& HubModel::cpu() const { return d->services.cpu; }
const QString& HubModel::macOSVersion() const { return d->services.macOSVersion; }
bool HubModel::restarting() const { return d->restarting; }

void HubModel::shutdown()
{
    if (d->shutDown)
        return;
    d->shutDown = true;
    d->stop.request_stop();
    if (d->signInStop)
        d->signInStop->request_stop();
    d->pool.waitForDone(kShutdownWaitMs);
    d->spoolQueue.waitForDone(kShutdownWaitMs);
}

// ---- Settings -------------------------------------------------------------

void HubModel::loadSettings()
{
    // No Linux host loads an Audio Unit, so a new user starts without them;
    // a stored choice stands.
    d->installAU = d->settings->value(kInstallAU, false).toBool();
    d->installVST3 = d->settings->value(kInstallVST3, true).toBool();
    if (!d->installAU && !d->installVST3) {
        // Both off would make every install sheet start empty.
        d->installAU = true;
        d->installVST3 = true;
    }
    d->scope = installScopeFromRaw(d->settings->value(kInstallScope).toString()).value_or(InstallScope::user);
    d->checkAtOpen = d->settings->value(kCheckAtOpen, true).toBool();
    d->autoUpdate = d->settings->value(kAutoUpdate, false).toBool();
    d->sendReports = ReportSender::optedIn(*d->settings);
}

void HubModel::store(const QString& key, const QVariant& value)
{
    d->settings->setValue(key, value);
    d->settings->sync();
}

void HubModel::setInstallAU(bool on)
{
    store(kInstallAU, on);
    assign(d->installAU, on, &HubModel::installAUChanged);
}

void HubModel::setInstallVST3(bool on)
{
    store(kInstallVST3, on);
    assign(d->installVST3, on, &HubModel::installVST3Changed);
}

void HubModel::setScope(InstallScope scope)
{
    store(kInstallScope, rawValue(scope));
    assign(d->scope, scope, &HubModel::scopeChanged);
}

void HubModel::setCheckAtOpen(bool on)
{
    store(kCheckAtOpen, on);
    assign(d->checkAtOpen, on, &HubModel::checkAtOpenChanged);
}

void HubModel::setAutoUpdate(bool on)
{
    store(kAutoUpdate, on);
    assign(d->autoUpdate, on, &HubModel::autoUpdateChanged);
}

void HubModel::setSendReports(bool on)
{
    ReportSender::setOptedIn(*d->settings, on);
    const bool switchedOn = on && !d->sendReports;
    assign(d->sendReports, on, &HubModel::sendReportsChanged);
    if (switchedOn)
        sendProblems();
}

// ---- Navigation -----------------------------------------------------------

void HubModel::setScreen(Screen screen)
{
    assign(d->screen, screen, &HubModel::screenChanged);
    if (screen == Screen::main)
        replayLink(!d->loading);
}

void HubModel::setTab(Tab tab) { assign(d->tab, tab, &HubModel::tabChanged); }
void HubModel::setPage(const std::optional<QString>& page) { assign(d->page, page, &HubModel::pageChanged); }
void HubModel::setSheet(const std::optional<Sheet>& sheet) { assign(d->sheet, sheet, &HubModel::sheetChanged); }
void HubModel::setAccountMenu(bool open) { assign(d->accountMenu, open, &HubModel::accountMenuChanged); }
void HubModel::setLoginNote(const std::optional<QString>& note) { assign(d->loginNote, note, &HubModel::loginNoteChanged); }

void HubModel::clearDAWWarning()
{
    if (!d->dawWarning)
        return;
    d->dawWarning.reset();
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
    d->waitingLink = id;
    if (d->screen == Screen::main)
        replayLink(!d->loading);
}

void HubModel::replayLink(bool lastChance)
{
    if (!d->waitingLink)
        return;
    // The running refresh may still bring the product: a live catalog that
    // has it, or the account that shares it.
    if (!lastChance && !product(*d->waitingLink))
        return;
    const QString id = *std::exchange(d->waitingLink, std::nullopt);
    if (product(id))
        setPage(id);
}

// ---- Start-up and refresh -------------------------------------------------

void HubModel::start()
{
    if (d->started)
        return;
    d->started = true;
    d->services.network->watch(this, [this](bool online) {
        const bool cameBack = online && !d->networkOnline;
        d->networkOnline = online;
        if (!online) {
            assign(d->offline, true, &HubModel::offlineChanged);
        } else if (cameBack && d->screen != Screen::splash) {
            // A refresh that is running began without the network and will
            // end offline, so one more follows it.
            if (d->loading)
                d->refreshAgain = true;
            else
                refresh(true);
        }
    });
    // Read after watching starts, so no change falls between the two; the
    // main screen must not offer network actions while the first refresh runs.
    d->networkOnline = d->services.network->online();
    assign(d->offline, !d->networkOnline, &HubModel::offlineChanged);
    // The spool is a folder plug-ins write too: whatever lies there is read
    // on the spool's queue, never while the window waits to appear.
    reloadProblems();
    if (!d->services.sandboxed) {
        const QString home = d->services.home.value_or(Config::homeFolder());
        submit(
            Keep::always,
            [home] {
                Installer::cleanDownloads(home);
                // No job runs yet: whatever a disk-image step left is a
                // killed one's.
                Installer::cleanImages(home);
            },
            [](Outcome<std::monostate>) {});
    }
    submit(Keep::always, [devices = d->services.devices] { return devices->loadResult(); },
           [this](Outcome<DeviceLoad> outcome) { sessionLoaded(outcome.value.value_or(DeviceLoad::unreadable())); });
    const double shown = double(d->launched.msecsTo(d->services.clock->now())) / 1000.0;
    d->services.clock->sleep(kSplashSeconds - shown, this, [this] {
        d->splashOver = true;
        showFirstScreen();
    });
}

void HubModel::sessionLoaded(const DeviceLoad& load)
{
    if (load.kind == DeviceLoad::Kind::found)
        d->session = load.session;
    else if (load.kind == DeviceLoad::Kind::unreadable)
        record(u"hub"_s, u"hub.keychain.read"_s, u"The saved sign-in couldn't be read."_s);
    d->sessionRead = true;
    showFirstScreen();
}

void HubModel::showFirstScreen()
{
    if (!d->sessionRead || !d->splashOver || d->screen != Screen::splash)
        return;
    // The refresh starts first, so a waiting link can wait for what it brings.
    if (!d->signInAgain)
        refresh(d->checkAtOpen);
    setScreen(d->session ? Screen::main : Screen::login);
    scheduleRefresh();
}

void HubModel::pause(double seconds, QObject* context, std::function<void()> resume)
{
    d->services.clock->sleep(seconds, context, std::move(resume));
}

QDateTime HubModel::now() const { return d->services.clock->now(); }

void HubModel::scheduleRefresh()
{
    d->services.clock->sleep(kRefreshInterval, this, [this] {
        if (!d->signInAgain)
            refresh(true);
        scheduleRefresh();
    });
}

void HubModel::refresh(bool catalog)
{
    if (d->loading || d->shutDown)
        return;
    assign(d->loading, true, &HubModel::loadingChanged);
    d->refreshParts = 1;
    d->refreshAnswered = false;
    d->refreshAttempted = false;
    d->refreshGeneration = d->generation;
    // The account is checked beside the catalog: a catalog or feed that
    // takes its time must not hold the account, or a sign-in, with it.
    if (d->session)
        checkAccount();
    const quint64 rescansBefore = d->rescans;
    const std::shared_ptr<const PluginInstalling> scanner = d->services.installerFor({}, d->stop.get_token());
    // The catalog, its index and the copies are shared, not copied: nothing
    // here may cost the window a walk over thousands of products.
    submit(
        Keep::always,
        [catalog, known = d->catalog, knownIndex = d->productIndex, held = d->installed, loader = *d->loader,
         http = Http::Session{d->services.caBundle, d->stop.get_token(), d->services.httpLimits}, scanner,
         roots = d->roots, cpu = d->services.cpu, osVersion = d->services.macOSVersion]() mutable {
            RefreshResult result;
            std::optional<LoadedCatalog> loaded;
            if (catalog) {
                loaded = loader.load(http);
                result.source = loaded ? std::optional(loaded->source) : std::nullopt;
                result.catalogLive = loaded && loaded->source == CatalogSource::live;
            }
            const Catalog* scanned = loaded ? &loaded->catalog : *known ? &**known : nullptr;
            std::map<QString, QList<InstalledFormat>> found;
            if (scanned)
                for (const Product& product : scanned->products)
                    found[product.id] = scanner->installed(product, roots);
            if (loaded && (!*known || **known != loaded->catalog)) {
                RefreshResult::NewCatalog fresh;
                fresh.index = indexOf(loaded->catalog, fresh.repeatedIDs);
                fresh.changed = changedProducts(*known ? &**known : nullptr, knownIndex, loaded->catalog, fresh.index);
                fresh.facts.resize(loaded->catalog.products.size());
                for (std::size_t i = 0; i < loaded->catalog.products.size(); ++i) {
                    const Product& product = loaded->catalog.products[i];
                    computeFacts(product, found[product.id], cpu, osVersion, fresh.facts[i].emplace());
                }
                fresh.catalog = std::make_shared<const std::optional<Catalog>>(std::move(loaded->catalog));
                result.catalog = std::move(fresh);
            }
            for (auto& [id, copies] : found)
                if (held.value(id) != copies)
                    result.installed.emplace(id, std::move(copies));
            // The model's state is let go before the model hears back, so
            // its next change copies nothing.
            known.reset();
            knownIndex = {};
            held = {};
            return result;
        },
        [this, rescansBefore](Outcome<RefreshResult> outcome) {
            applyRefresh(outcome.value ? std::move(*outcome.value) : RefreshResult{}, rescansBefore);
        });
}

void HubModel::applyRefresh(RefreshResult result, quint64 rescansBefore)
{
    if (result.source)
        d->catalogSource = *result.source;
    if (result.catalog) {
        // The old catalog and what was kept for it are freed on the pool:
        // thousands of products take the window tens of milliseconds to free.
        submit(Keep::always,
               [old = std::exchange(d->catalog, std::move(result.catalog->catalog)),
                index = std::exchange(d->productIndex, std::move(result.catalog->index)),
                facts = std::exchange(d->facts, std::move(result.catalog->facts))]() mutable {
                   old.reset();
                   index = {};
                   facts = {};
               },
               [](Outcome<std::monostate>) {});
        d->repeatedIDs = result.catalog->repeatedIDs;
    }
    // The whole scan is applied before anyone hears of it, and the views
    // hear of it once: each change would otherwise redraw every tab.
    QStringList rescanned;
    for (auto& [id, installed] : result.installed) {
        // A job's own scan is newer than this one, and copies seen while a
        // job works may be half placed.
        if (isWorking(id) || d->rescanned.value(id) > rescansBefore)
            continue;
        const auto found = d->states.find(id);
        if (found == d->states.end() && installed.isEmpty())
            continue;
        if (found != d->states.end() && found->second.installed == installed)
            continue;
        d->setInstalled(id, installed);
        forgetFacts(id);
        rescanned.append(id);
    }
    if (result.catalog) {
        // The new catalog's facts were weighed with the scan's copies; a
        // product whose copies the scan did not set must be weighed again.
        for (const auto& [id, state] : d->states)
            if (state.job.isWorking() || d->rescanned.value(id) > rescansBefore)
                forgetFacts(id);
        d->productsChanged = result.catalog->changed + rescanned;
        Q_EMIT catalogChanged();
        d->productsChanged.reset();
    }
    for (const QString& id : std::as_const(rescanned))
        Q_EMIT productStateChanged(id);
    if (!rescanned.isEmpty())
        Q_EMIT statesChanged();
    reloadProblems();

    refreshPartDone(result.catalogLive, result.source.has_value());
}

void HubModel::refreshPartDone(bool answered, bool attempted)
{
    d->refreshAnswered = d->refreshAnswered || answered;
    d->refreshAttempted = d->refreshAttempted || attempted;
    if (--d->refreshParts > 0)
        return;
    answered = d->refreshAnswered;
    if (answered)
        assign(d->lastChecked, std::optional(d->services.clock->now()), &HubModel::lastCheckedChanged);
    assign(d->offline, !d->networkOnline || (d->refreshAttempted && !answered), &HubModel::offlineChanged);

    const bool sameSession = d->refreshGeneration == d->generation;
    assign(d->loading, false, &HubModel::loadingChanged);
    if (std::exchange(d->refreshAgain, false) && !d->shutDown) {
        refresh(true);
        return;
    }
    if (d->screen == Screen::main)
        replayLink(true);
    if (!sameSession || d->shutDown)
        return;

    if (d->autoUpdate && answered && d->services.runningDAWs().isEmpty()) {
        std::vector<InstallRequest> queue;
        for (const Product& product : updates())
            queue.push_back(updateRequest(product));
        runUpdates(std::move(queue));
    }
    if (d->sendReports)
        sendProblems();
}

void HubModel::setCatalog(Catalog catalog)
{
    d->productIndex = indexOf(catalog, d->repeatedIDs);
    d->facts.assign(catalog.products.size(), std::nullopt);
    d->catalog = std::make_shared<const std::optional<Catalog>>(std::move(catalog));
}

std::optional<QStringList> HubModel::productsChangedBy(const std::optional<AccountInfo>& before,
                                                       const std::optional<AccountInfo>& now)
{
    if (!before || !now || before->user != now->user)
        return std::nullopt;
    // Shared products come and go, betas change a row's words.
    QStringList changed;
    for (const auto& [was, is] : {std::pair{&before->products, &now->products}, std::pair{&before->betas, &now->betas}}) {
        const QSet<QString> old(was->begin(), was->end());
        const QSet<QString> fresh(is->begin(), is->end());
        for (const QString& id : old)
            if (!fresh.contains(id))
                changed.append(id);
        for (const QString& id : fresh)
            if (!old.contains(id))
                changed.append(id);
    }
    return changed;
}

const Product* HubModel::catalogProduct(const QString& id) const
{
    const auto found = d->productIndex.constFind(id);
    return found == d->productIndex.constEnd() ? nullptr : &(*d->catalog)->products[std::size_t(*found)];
}

void HubModel::reloadProblems()
{
    changeSpool({});
}

void HubModel::changeSpool(std::function<void(const ReportSpool&)> change)
{
    submitTo(
        d->spoolQueue, Keep::always,
        [spool = *d->spool, change = std::move(change)] {
            if (change)
                change(spool);
            return spool.contents();
        },
        [this](Outcome<SpoolContents> outcome) {
            if (outcome.value)
                publishProblems(std::move(*outcome.value));
        });
}

void HubModel::publishProblems(SpoolContents contents)
{
    QStringList unreadable;
    for (const UnreadableReport& entry : contents.unreadable)
        unreadable << ReportSpool::unreadableSentence(abbreviatingHome(entry.path, d->roots.userHome), entry.reason);
    if (contents.reports == d->problems && unreadable == d->unreadableProblems)
        return;
    d->problems = std::move(contents.reports);
    d->unreadableProblems = std::move(unreadable);
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
    report.arch = d->services.cpu;
    if (!d->services.machineID.isEmpty())
        report.machineID = d->services.machineID;
    if (product == "hub"_L1) {
        report.version = Config::hubVersion();
    } else if (const Product* known = this->product(product)) {
        report.version = installedVersion(*known);
    }
    report.message = message;
    changeSpool([report](const ReportSpool& spool) { spool.record(report); });
}

// ---- Reports --------------------------------------------------------------

void HubModel::sendProblems()
{
    if (d->sendingReports)
        return;
    d->sendingReports = true;
    Q_EMIT sendingReportsChanged();
    // On the spool's queue: what is sent is read then (the list shown may
    // not hold what plug-ins wrote since), and what stays is read right
    // after, with no report recorded in between.
    submitTo(
        d->spoolQueue, Keep::always,
        [spool = *d->spool, client = d->services.reports] {
            const std::vector<ReportFile> files = spool.load();
            const std::optional<qsizetype> sent =
                files.empty() ? std::nullopt : std::optional(ReportSender::send(files, spool, client));
            return std::pair(sent, spool.contents());
        },
        [this](Outcome<std::pair<std::optional<qsizetype>, SpoolContents>> outcome) {
            d->sendingReports = false;
            std::optional<QString> note;
            if (!outcome.value) {
                note = u"Couldn't send the reports now: "_s + errorSentence(outcome.error);
                reloadProblems();
            } else {
                if (const std::optional<qsizetype> sent = outcome.value->first)
                    note = u"Sent "_s + QString::number(*sent) + u" report"_s + (*sent == 1 ? u""_s : u"s"_s)
                           + u". Thank you."_s;
                publishProblems(std::move(outcome.value->second));
            }
            if (note)
                assign(d->reportNote, note, &HubModel::reportNoteChanged);
            Q_EMIT sendingReportsChanged();
        });
}

void HubModel::clearProblems()
{
    // The list goes at once; the files it showed go on the spool's queue.
    const std::vector<ReportFile> shown = d->problems;
    if (!shown.empty()) {
        d->problems.clear();
        Q_EMIT problemsChanged();
    }
    changeSpool([shown](const ReportSpool& spool) { spool.deleteFiles(shown); });
    assign(d->reportNote, std::optional<QString>(), &HubModel::reportNoteChanged);
}

} // namespace Hub

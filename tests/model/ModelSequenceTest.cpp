// The model's behaviour over time, against fakes: start-up, refreshes,
// jobs, sign-in and sign-out, the application's own update.
#include "ModelTestSupport.h"
#include "TestHttpsServer.h"

#include "Reports/ReportSpool.h"

#include <QFileInfo>
#include <QSettings>
#include <QSignalSpy>

#include <atomic>
#include <mutex>
#include <thread>

using namespace Qt::StringLiterals;
using namespace Hub;
using namespace Hub::Test;

namespace {

class ModelSequenceTest : public ModelFixture {
protected:
    void SetUp() override
    {
        ModelFixture::SetUp();
        Product echo = plugin(u"echo"_s, u"2.0"_s);
        Product notes = plugin(u"notes"_s, u"1.1"_s);
        Product reverb = plugin(u"reverb"_s, u"1.0"_s);
        Product secret = plugin(u"secret"_s, u"1.0"_s);
        secret.status = u"invite"_s; // shown only when the account shares it
        m_catalog.products = {echo, notes, reverb, secret};
        m_catalog.hub = Release{};
        m_catalog.hub->version = u"999.0"_s;
        m_catalog.hub->pkgURL = u"https://tarnaudio.example/Tarnhub.pkg"_s;
        m_catalog.hub->sha256 = QString(64, u'c');
        installer->copies[u"echo"_s] = {copy(PluginFormat::vst3, u"1.0"_s)};
        installer->copies[u"notes"_s] = {copy(PluginFormat::vst3, u"1.0"_s)};
    }

    Product product(const QString& id) const { return *m_catalog.product(id); }

    // A started model with echo's install held before it ends; null on
    // failure. With `viaUpdateAll` echo heads an update-all queue, notes next.
    std::shared_ptr<Gate> echoInstallHeld(bool viaUpdateAll = false)
    {
        build(m_catalog);
        model->start();
        clock->advance(HubModel::kSplashSeconds);
        if (!eventually([this] { return model->screen() != Screen::splash && !model->loading(); }))
            return nullptr;
        auto held = std::make_shared<Gate>();
        installer->gates[u"echo"_s] = held;
        if (viaUpdateAll)
            model->requestUpdateAll();
        else
            model->requestInstall(product(u"echo"_s), {PluginFormat::vst3}, InstallScope::user);
        return eventually([&] { return held->reached() == 1; }) ? held : nullptr;
    }

    // Every job the product went through, as the views saw it.
    std::shared_ptr<std::vector<Job>> watchJobs(const QString& id)
    {
        auto jobs = std::make_shared<std::vector<Job>>();
        QObject::connect(model.get(), &HubModel::productStateChanged, model.get(), [this, id, jobs](const QString& changed) {
            if (changed == id && (jobs->empty() || jobs->back() != stateOf(id).job))
                jobs->push_back(stateOf(id).job);
        });
        return jobs;
    }

    std::vector<ReportFile> reports(const QString& code) const
    {
        std::vector<ReportFile> found;
        for (const ReportFile& file : model->problems())
            if (file.report.code == code)
                found.push_back(file);
        return found;
    }

    Catalog m_catalog;
};

TEST_F(ModelSequenceTest, StartUpHoldsTheSplashThenShowsTheScreenTheStoredSessionCallsFor)
{
    struct Row {
        const char* name;
        DeviceLoad stored;
        Screen screen;
        int keychainReports;
    };
    const DeviceSession session{u"tok-1"_s, u"dev-1"_s, {u"u1"_s, u"ada@example.com"_s, u"Ada"_s}};
    const std::vector<Row> rows = {
        {"signed in", DeviceLoad::found(session), Screen::main, 0},
        {"nothing stored", DeviceLoad::none(), Screen::login, 0},
        {"unreadable keychain", DeviceLoad::unreadable(), Screen::login, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        devices->stored = row.stored;
        auto reading = std::make_shared<Gate>();
        devices->loadGate = reading;
        build(m_catalog);
        model->start();
        ASSERT_TRUE(eventually([&] { return reading->reached() == 1; }));
        // Time is nearly up, but the stored session is not known yet.
        clock->advance(0.79);
        EXPECT_EQ(model->screen(), Screen::splash);
        reading->open();
        if (row.keychainReports > 0) {
            // The session is known now, but the splash has not had its 0.8 s.
            ASSERT_TRUE(eventually([this] { return !model->problems().empty(); }));
            EXPECT_EQ(model->screen(), Screen::splash);
        }
        clock->advance(0.01);
        ASSERT_TRUE(eventually([&] { return model->screen() == row.screen; }));
        ASSERT_TRUE(eventually([this] { return !model->loading(); }));
        EXPECT_EQ(reports(u"hub.keychain.read"_s).size(), std::size_t(row.keychainReports));
        EXPECT_EQ(model->session().has_value(), row.screen == Screen::main);
        // The next refresh waits six hours on the clock.
        EXPECT_EQ(clock->pending(), std::vector<double>{HubModel::kRefreshInterval});
        model->shutdown();
        model.reset();
        clock->sleepers.clear();
    }
}

// The splash's minimum counts from the user's launch, not from when the
// model was made: what the program did before is time the splash showed.
TEST_F(ModelSequenceTest, TheSplashMinimumCountsFromTheLaunch)
{
    signInStored();
    launched = clock->now().addMSecs(-500);
    build(m_catalog);
    model->start();
    ASSERT_TRUE(eventually([this] { return model->session().has_value(); }));
    clock->advance(0.29);
    QCoreApplication::processEvents();
    EXPECT_EQ(model->screen(), Screen::splash) << "0.79 s since the launch";
    clock->advance(0.01);
    EXPECT_TRUE(eventually([this] { return model->screen() == Screen::main; })) << "0.8 s since the launch";
    model->shutdown();
}

TEST_F(ModelSequenceTest, RefreshesSetOfflineAndTheAccountFromTheirOutcome)
{
    signInStored();
    service->reply = AccountReply{{u"echo"_s}, {}};
    network->up = false;
    service->accountError = HubError::api(u"offline"_s, u"Couldn't reach Tarnaudio."_s);
    build(m_catalog);
    startToFirstScreen();
    EXPECT_TRUE(model->offline());
    EXPECT_FALSE(model->account().has_value());
    EXPECT_FALSE(model->lastChecked().has_value());
    EXPECT_TRUE(reports(u"hub.account"_s).empty()) << "being offline is no problem to report";

    // The network comes back: a refresh runs by itself.
    service->accountError.reset();
    network->set(true);
    ASSERT_TRUE(eventually([this] { return model->account().has_value() && !model->loading(); }));
    EXPECT_FALSE(model->offline());
    EXPECT_EQ(model->lastChecked(), clock->now());
    EXPECT_EQ(model->account()->onlineAt, clock->now());
    EXPECT_EQ(model->account()->user.email, u"ada@example.com"_s);
    EXPECT_TRUE(model->isBeta(product(u"echo"_s)));

    // A server failure is reported; six hours later the loop checks again.
    service->accountError = HubError::api(u"server_error"_s, u"Tarnaudio is unavailable right now."_s);
    const qsizetype before = log->calls().count(u"account tok-1"_s);
    clock->advance(HubModel::kRefreshInterval);
    ASSERT_TRUE(eventually([&] { return log->calls().count(u"account tok-1"_s) == before + 1 && !model->loading(); }));
    ASSERT_TRUE(eventually([this] { return reports(u"hub.account"_s).size() == 1u; }));
    EXPECT_EQ(reports(u"hub.account"_s)[0].report.message, u"Tarnaudio is unavailable right now."_s);

    // The network comes back while a refresh that began without it still
    // runs: that one ends offline, so another follows it.
    service->accountError = HubError::api(u"offline"_s, u"Couldn't reach Tarnaudio."_s);
    network->set(false);
    auto held = std::make_shared<Gate>();
    service->accountGate = held;
    const qsizetype calls = log->calls().count(u"account tok-1"_s);
    model->refresh(false);
    ASSERT_TRUE(eventually([&] { return held->reached() == 1; }));
    network->set(true);
    held->open();
    ASSERT_TRUE(eventually([&] { return log->calls().count(u"account tok-1"_s) == calls + 2 && !model->loading(); }));
}

TEST_F(ModelSequenceTest, QuietUpdatesRunOnlyWhenOnAnsweredAndNoDAWIsOpen)
{
    struct Row {
        const char* name;
        bool autoUpdate;
        bool answered;
        QStringList daws;
        qsizetype installs;
    };
    const std::vector<Row> rows = {
        {"all set", true, true, {}, 2},
        {"setting off", false, true, {}, 0},
        {"no answer", true, false, {}, 0},
        {"a DAW is open", true, true, {u"REAPER"_s}, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        signInStored();
        installer->copies[u"echo"_s] = {copy(PluginFormat::vst3, u"1.0"_s)};
        installer->copies[u"notes"_s] = {copy(PluginFormat::vst3, u"1.0"_s)};
        if (row.answered)
            service->accountError.reset();
        else
            service->accountError = HubError::api(u"offline"_s, u"Couldn't reach Tarnaudio."_s);
        daws = row.daws;
        build(m_catalog);
        model->setAutoUpdate(row.autoUpdate);
        const qsizetype before = log->calls().filter(u"install "_s).size();
        startToFirstScreen();
        // The quiet updates start, if at all, as the refresh ends.
        if (row.installs > 0) {
            ASSERT_TRUE(eventually([this] {
                return stateOf(u"echo"_s).job.kind == Job::Kind::done && stateOf(u"notes"_s).job.kind == Job::Kind::done;
            }));
        } else {
            EXPECT_EQ(stateOf(u"echo"_s).job, Job::idle());
            EXPECT_EQ(stateOf(u"notes"_s).job, Job::idle());
        }
        EXPECT_EQ(log->calls().filter(u"install "_s).size() - before, row.installs);
        EXPECT_FALSE(model->dawWarning().has_value()) << "quiet updates never ask";
        model->shutdown();
        model.reset();
    }
}

TEST_F(ModelSequenceTest, AnInstallGoesThroughEveryJobStateInOrder)
{
    signInStored();
    build(m_catalog);
    startToFirstScreen();
    const auto jobs = watchJobs(u"reverb"_s);
    // The installer goes on only once the views have seen each step.
    installer->afterStep = [this, jobs](const InstallStep& step) {
        if (step.kind == InstallStep::Kind::done)
            return;
        const Job expected = Job::from(step);
        while (true) {
            bool seen = false;
            QMetaObject::invokeMethod(model.get(), [&] { seen = stateOf(u"reverb"_s).job == expected; },
                                      Qt::BlockingQueuedConnection);
            if (seen)
                break;
            std::this_thread::yield();
        }
    };
    // The row as the views hold it, read before, during and after.
    const Product& row = *model->product(u"reverb"_s);
    EXPECT_EQ(model->caption(row).text, u"VST3 · AU"_s);
    installer->gates[u"reverb"_s] = std::make_shared<Gate>();
    model->requestInstall(product(u"reverb"_s), {PluginFormat::vst3}, InstallScope::user);
    ASSERT_TRUE(eventually([this] { return installer->gates[u"reverb"_s]->reached() == 1; }));
    EXPECT_EQ(model->spoken(row), u"reverb, installing"_s);
    installer->gates[u"reverb"_s]->open();
    ASSERT_TRUE(eventually([this] { return stateOf(u"reverb"_s).job.kind == Job::Kind::done; }));
    EXPECT_EQ(model->caption(row).text, u"installed 1.0"_s);
    EXPECT_EQ(model->spoken(row), u"reverb, installed 1.0"_s);
    EXPECT_EQ(model->rowContext(row).text, u"reverb 1.0 is installed."_s);
    EXPECT_TRUE(model->pluginSections().onMac.contains(u"reverb"_s));
    EXPECT_EQ(*jobs, (std::vector<Job>{Job::downloading(0.0), Job::downloading(0.5), Job::verifying(),
                                       Job::installing(), Job::done(u"reverb 1.0 is installed."_s)}));
    EXPECT_EQ(stateOf(u"reverb"_s).installed.size(), 1);
    // The download address came from the maker's service with the session.
    EXPECT_TRUE(log->calls().contains(u"download tok-1 reverb vst3 1.0"_s));
}

TEST_F(ModelSequenceTest, ABurstOfProgressReachesTheViewsOnlyPerWholePercent)
{
    build(m_catalog);
    startToFirstScreen();
    installer->steps.clear();
    for (int i = 0; i <= 5000; ++i)
        installer->steps.push_back(InstallStep::downloading(i / 5000.0));
    const auto jobs = watchJobs(u"reverb"_s);
    model->requestInstall(product(u"reverb"_s), {PluginFormat::vst3}, InstallScope::user);
    ASSERT_TRUE(eventually([this] { return stateOf(u"reverb"_s).job.kind == Job::Kind::done; }));
    ASSERT_GE(jobs->size(), 2u);
    EXPECT_LE(jobs->size(), 102u);
    for (std::size_t i = 1; i + 1 < jobs->size(); ++i)
        EXPECT_GT((*jobs)[i].percent(), (*jobs)[i - 1].percent()) << i;

    // A refresh that finds several products changed tells each product's
    // row, and the views as a whole once.
    installer->copies.erase(u"echo"_s);
    installer->copies.erase(u"notes"_s);
    QSignalSpy states(model.get(), &HubModel::statesChanged);
    QSignalSpy products(model.get(), &HubModel::productStateChanged);
    model->refresh(false);
    ASSERT_TRUE(eventually([this] { return !model->loading(); }));
    EXPECT_EQ(states.count(), 1);
    ASSERT_EQ(products.count(), 2);
    EXPECT_EQ(products.at(0).at(0).toString(), u"echo"_s);
    EXPECT_EQ(products.at(1).at(0).toString(), u"notes"_s);
    EXPECT_TRUE(stateOf(u"echo"_s).installed.isEmpty());
}

TEST_F(ModelSequenceTest, AFailedInstallIsReportedWithItsStepAndSentence)
{
    signInStored();
    build(m_catalog);
    startToFirstScreen();
    const QString sentence = u"The download was cut short, so the hub won't install it."_s;
    installer->failure = std::make_exception_ptr(HubError::message(sentence));
    installer->steps = {InstallStep::downloading(0.3)};
    model->requestInstall(product(u"reverb"_s), {PluginFormat::vst3}, InstallScope::user);
    ASSERT_TRUE(eventually([this] { return stateOf(u"reverb"_s).job.kind == Job::Kind::failed; }));
    EXPECT_EQ(stateOf(u"reverb"_s).job, Job::failed(sentence));
    EXPECT_EQ(model->rowContext(product(u"reverb"_s)).text, u"Failed: "_s + sentence);
    ASSERT_TRUE(eventually([this] { return !reports(u"hub.install.downloading"_s).empty(); }));
    const std::vector<ReportFile> found = reports(u"hub.install.downloading"_s);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].report.product, u"reverb"_s);
    EXPECT_EQ(found[0].report.message, sentence);
    EXPECT_TRUE(model->session().has_value());

    // A download address the service refuses signs the user out here.
    installer->failure = std::make_exception_ptr(HubError::api(u"unauthorized"_s, u"Sign in again."_s));
    installer->steps.clear();
    model->requestInstall(product(u"reverb"_s), {PluginFormat::vst3}, InstallScope::user);
    ASSERT_TRUE(eventually([this] { return !model->session().has_value(); }));
    EXPECT_TRUE(model->signInAgain());
    EXPECT_TRUE(eventually([this] { return reports(u"hub.install"_s).size() == 1u; }));
}

TEST_F(ModelSequenceTest, UnauthorizedDuringARefreshSignsOutHereAndStaysOnMain)
{
    signInStored();
    service->accountError = HubError::api(u"unauthorized"_s, u"Sign in again."_s);
    build(m_catalog);
    startToFirstScreen();
    ASSERT_TRUE(eventually([this] { return model->signInAgain(); }));
    EXPECT_EQ(model->screen(), Screen::main);
    EXPECT_FALSE(model->session().has_value());
    EXPECT_FALSE(model->account().has_value());
    ASSERT_TRUE(eventually([this] { return devices->loadResult() == DeviceLoad::none(); }));
    EXPECT_TRUE(reports(u"hub.account"_s).empty());
    // Periodic checks wait for the user to sign in again.
    const qsizetype accountCalls = log->calls().filter(u"account"_s).size();
    clock->advance(HubModel::kRefreshInterval);
    QCoreApplication::processEvents();
    EXPECT_FALSE(model->loading());
    EXPECT_EQ(log->calls().filter(u"account"_s).size(), accountCalls);
    // The network coming back still refreshes: nothing else would clear
    // `offline` until the user signs in.
    network->set(false);
    EXPECT_TRUE(model->offline());
    network->set(true);
    EXPECT_TRUE(model->loading());
    ASSERT_TRUE(eventually([this] { return !model->loading(); }));
}

TEST_F(ModelSequenceTest, TheDAWWarningsRunStartsTheWorkExactlyOnce)
{
    build(m_catalog);
    startToFirstScreen();
    daws = QStringList{u"Bitwig Studio"_s};
    model->requestInstall(product(u"reverb"_s), {PluginFormat::vst3, PluginFormat::au}, InstallScope::user);
    ASSERT_TRUE(model->dawWarning().has_value());
    EXPECT_EQ(model->dawWarning()->daws, QStringList{u"Bitwig Studio"_s});
    EXPECT_EQ(model->dawWarning()->confirm, u"Continue anyway"_s);
    EXPECT_EQ(model->dawWarning()->message,
              u"Close it first so it loads the new version. Plug-ins are replaced while it stays open, and it may keep "
              u"using the old one until you restart it."_s);
    EXPECT_TRUE(log->calls().filter(u"install "_s).isEmpty());
    const std::function<void()> run = model->dawWarning()->run;
    run();
    run();
    model->clearDAWWarning();
    ASSERT_TRUE(eventually([this] { return stateOf(u"reverb"_s).job.kind == Job::Kind::done; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(log->calls().filter(u"install reverb"_s).size(), 1);

    // Removing: the uninstall's texts; legacy removal says so.
    struct Row {
        bool legacy;
        QString confirm;
    };
    for (const Row& row : {Row{false, u"Uninstall anyway"_s}, Row{true, u"Remove anyway"_s}}) {
        model->requestUninstall(product(u"echo"_s), UninstallOptions{{PluginFormat::vst3}, false, {InstallScope::user}},
                                row.legacy);
        ASSERT_TRUE(model->dawWarning().has_value());
        EXPECT_EQ(model->dawWarning()->confirm, row.confirm);
        EXPECT_EQ(model->dawWarning()->message,
                  u"Close it first. An open DAW keeps the removed plug-in loaded until you quit it."_s);
        model->clearDAWWarning();
    }
    EXPECT_TRUE(log->calls().filter(u"uninstall"_s).isEmpty()) << "cancelling runs nothing";
}

TEST_F(ModelSequenceTest, UpdateAllSkipsAProductWhoseJobIsWorking)
{
    struct Row {
        const char* name;
        bool earlierUpdateAll; // echo heads an earlier queue with notes after it
    };
    for (const Row& row : {Row{"a user's install runs", false}, Row{"an earlier update all waits", true}}) {
        SCOPED_TRACE(row.name);
        const qsizetype before = log->calls().filter(u"install "_s).size();
        const std::shared_ptr<Gate> held = echoInstallHeld(row.earlierUpdateAll);
        ASSERT_TRUE(held);
        model->requestUpdateAll();
        ASSERT_TRUE(eventually([this] { return stateOf(u"notes"_s).job.kind == Job::Kind::done; }));
        EXPECT_TRUE(stateOf(u"echo"_s).job.isWorking());
        held->open();
        ASSERT_TRUE(eventually([this] { return stateOf(u"echo"_s).job.kind == Job::Kind::done; }));
        // The earlier queue goes on to notes, which is up to date by now.
        EXPECT_EQ(stateOf(u"notes"_s).job.kind, Job::Kind::done);
        ASSERT_TRUE(eventually([this] { return !model->busy(); }));
        const QStringList installs = log->calls().filter(u"install "_s).mid(before);
        EXPECT_EQ(installs.filter(u"install echo"_s).size(), 1);
        EXPECT_EQ(installs.filter(u"install notes"_s).size(), 1);
        model->shutdown();
        model.reset();
        installer->copies[u"echo"_s] = {copy(PluginFormat::vst3, u"1.0"_s)};
        installer->copies[u"notes"_s] = {copy(PluginFormat::vst3, u"1.0"_s)};
        installer->gates.clear();
        clock->sleepers.clear();
    }
}

TEST_F(ModelSequenceTest, SignOutClearsTheStoredSessionBeforeTellingTheService)
{
    signInStored();
    build(m_catalog);
    startToFirstScreen();
    model->setAccountMenu(true);
    model->signOut();
    // At once: signed out here, on the sign-in screen.
    EXPECT_EQ(model->screen(), Screen::login);
    EXPECT_FALSE(model->session().has_value());
    EXPECT_FALSE(model->account().has_value());
    EXPECT_FALSE(model->accountMenu());
    ASSERT_TRUE(eventually([this] { return log->calls().contains(u"identity signOut"_s); }));
    const QStringList calls = log->calls();
    const qsizetype cleared = calls.indexOf(u"store clear"_s);
    const qsizetype told = calls.indexOf(u"service signOut tok-1"_s);
    ASSERT_GE(cleared, 0);
    ASSERT_GE(told, 0);
    EXPECT_LT(cleared, told);
    EXPECT_LT(told, calls.indexOf(u"identity signOut"_s));
}

TEST_F(ModelSequenceTest, ALateAccountResultAfterSignOutIsDropped)
{
    signInStored();
    service->reply = AccountReply{{u"echo"_s}, {}};
    auto held = std::make_shared<Gate>();
    service->accountGate = held;
    build(m_catalog);
    model->start();
    clock->advance(HubModel::kSplashSeconds);
    ASSERT_TRUE(eventually([&] { return held->reached() == 1; }));
    model->signOut();
    held->open();
    ASSERT_TRUE(eventually([this] { return !model->loading(); }));
    EXPECT_FALSE(model->account().has_value());
    EXPECT_FALSE(model->signInAgain());
    EXPECT_EQ(model->screen(), Screen::login);

    // An install of an earlier session that the service refuses after the
    // user signed out and in again: its failure shows, the new session stays.
    model->submitCode(u"1"_s);
    ASSERT_TRUE(eventually([this] { return model->session().has_value() && !model->loading(); }));
    auto installing = std::make_shared<Gate>();
    installer->gates[u"reverb"_s] = installing;
    installer->failure = std::make_exception_ptr(HubError::api(u"unauthorized"_s, u"Sign in again."_s));
    installer->steps.clear();
    model->requestInstall(product(u"reverb"_s), {PluginFormat::vst3}, InstallScope::user);
    ASSERT_TRUE(eventually([&] { return installing->reached() == 1; }));
    model->signOut();
    model->submitCode(u"2"_s);
    ASSERT_TRUE(eventually([this] { return model->session().has_value(); }));
    installing->open();
    ASSERT_TRUE(eventually([this] { return stateOf(u"reverb"_s).job.kind == Job::Kind::failed; }));
    EXPECT_EQ(stateOf(u"reverb"_s).job.message, u"Sign in again."_s);
    EXPECT_TRUE(model->session().has_value());
    EXPECT_FALSE(model->signInAgain());
    EXPECT_EQ(model->screen(), Screen::main);
}

// Also when the refresh brings a new catalog, whose rows' facts the pool
// worked out from that older scan.
TEST_F(ModelSequenceTest, ARefreshScanOlderThanAJobsOwnNeverReplacesIt)
{
    TestHttpsServer server;
    std::mutex servedMutex;
    std::string served;
    server.get("/catalog.json", [&](const httplib::Request&, httplib::Response& response) {
        std::lock_guard lock(servedMutex);
        response.set_content(served, "application/json");
    });
    Catalog newer = m_catalog;
    newer.products[1].release->version = u"1.2"_s; // notes
    for (const bool newCatalog : {false, true}) {
        SCOPED_TRACE(newCatalog ? "with a new catalog" : "without a catalog");
        if (model)
            model->shutdown();
        installer->copies.erase(u"reverb"_s);
        {
            std::lock_guard lock(servedMutex);
            served = m_catalog.toJson().toStdString();
        }
        catalogURL = server.url(u"/catalog.json"_s);
        caBundle = server.caBundle();
        build(m_catalog);
        startToFirstScreen();
        // The refresh's scan of reverb reads "nothing installed", then waits.
        auto held = std::make_shared<Gate>();
        auto first = std::make_shared<std::atomic<bool>>(true);
        installer->scanned = [held, first](const Product& scanned) {
            if (scanned.id == "reverb"_L1 && first->exchange(false))
                held->pass();
        };
        {
            std::lock_guard lock(servedMutex);
            served = newer.toJson().toStdString();
        }
        model->refresh(newCatalog);
        ASSERT_TRUE(eventually([&] { return held->reached() == 1; }));
        model->requestInstall(product(u"reverb"_s), {PluginFormat::vst3}, InstallScope::user);
        ASSERT_TRUE(eventually([this] { return stateOf(u"reverb"_s).job.kind == Job::Kind::done; }));
        held->open();
        ASSERT_TRUE(eventually([this] { return !model->loading(); }));
        installer->scanned = nullptr;
        EXPECT_EQ(model->product(u"notes"_s)->release->version, newCatalog ? u"1.2"_s : u"1.1"_s);
        EXPECT_EQ(stateOf(u"reverb"_s).installed.size(), 1);
        const Product& row = *model->product(u"reverb"_s);
        EXPECT_EQ(model->caption(row).text, u"installed 1.0"_s);
        EXPECT_EQ(model->rowAction(row), std::nullopt);
    }
}

TEST_F(ModelSequenceTest, TheOwnUpdateWaitsForARunningInstallThenRestarts)
{
    // Echo's update is held; notes waits behind it in the same queue.
    const std::shared_ptr<Gate> held = echoInstallHeld(true);
    ASSERT_TRUE(held);

    QSignalSpy restart(model.get(), &HubModel::restartRequested);
    model->updateHub();
    ASSERT_TRUE(eventually([this] { return model->hubJob() == Job::waitingForRestart(); }));
    EXPECT_TRUE(log->calls().contains(u"package Tarnhub 999.0 hub"_s));
    EXPECT_EQ(restart.count(), 0);
    EXPECT_TRUE(model->busy());

    held->open();
    ASSERT_TRUE(restart.wait(60000));
    EXPECT_EQ(restart.at(0).at(0).toString(), u"/opt/Applications/Tarnhub.app/Contents/MacOS/hubtarn"_s);
    EXPECT_TRUE(model->restarting());
    EXPECT_EQ(stateOf(u"echo"_s).job.kind, Job::Kind::done);
    // Nothing new starts once the program is on its way out.
    EXPECT_EQ(stateOf(u"notes"_s).job, Job::idle());
    EXPECT_TRUE(log->calls().filter(u"install notes"_s).isEmpty());
}

// A distribution's package: its package manager owns the program's files,
// so a newer release in the catalog is neither offered nor fetched.
TEST_F(ModelSequenceTest, APackagedProgramNeverOffersNorInstallsItsOwnUpdate)
{
    selfUpdates = false;
    build(m_catalog);
    startToFirstScreen();
    ASSERT_TRUE(model->catalog() && model->catalog()->hub);
    EXPECT_FALSE(model->selfUpdates());
    EXPECT_EQ(model->hubUpdate(), std::nullopt);
    model->updateHub();
    EXPECT_EQ(model->hubJob(), Job::idle());
    EXPECT_FALSE(model->busy());
    EXPECT_TRUE(log->calls().filter(u"package Tarnhub"_s).isEmpty()) << log->calls().join(u'\n').toStdString();
}

TEST_F(ModelSequenceTest, AFailedOwnUpdateLeavesItsSentence)
{
    build(m_catalog);
    startToFirstScreen();
    packages->failure = HubError::message(u"The installer finished, but Tarnhub 999.0 was not found. The current hub will stay open."_s);
    QSignalSpy restart(model.get(), &HubModel::restartRequested);
    model->updateHub();
    ASSERT_TRUE(eventually([this] { return model->hubJob().kind == Job::Kind::failed; }));
    EXPECT_EQ(model->hubJob().message, packages->failure->errorDescription());
    EXPECT_EQ(restart.count(), 0);
    EXPECT_FALSE(model->busy());
    // Recorded like any install, with the step it failed in.
    ASSERT_TRUE(eventually([this] { return !reports(u"hub.install.installing"_s).empty(); }));
    const std::vector<ReportFile> found = reports(u"hub.install.installing"_s);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].report.product, u"hub"_s);
    EXPECT_EQ(found[0].report.message, packages->failure->errorDescription());
}

TEST_F(ModelSequenceTest, SignInRegistersSavesLoadsTheAccountAndOpensAWaitingLink)
{
    build(m_catalog);
    startToFirstScreen();
    ASSERT_EQ(model->screen(), Screen::login);
    model->open(QUrl(u"hubtarn:echo/whatsnew"_s));
    EXPECT_FALSE(model->page().has_value()) << "held until the main screen";

    identity->errors = {HubError::api(u"needs_code"_s, u"Type the code from your authenticator app."_s)};
    model->signIn(u"ada@example.com"_s, u"secret"_s);
    ASSERT_TRUE(eventually([this] { return model->codeNeeded(); }));
    EXPECT_EQ(model->loginNote(), u"Type the code from your authenticator app."_s);
    EXPECT_EQ(model->screen(), Screen::login);

    devices->saveWorks = false;
    model->submitCode(u"424242"_s);
    ASSERT_TRUE(eventually([this] { return model->screen() == Screen::main; }));
    EXPECT_TRUE(log->calls().contains(u"register jwt-code machine-1 studio"_s));
    EXPECT_EQ(model->session()->token, u"device-jwt-code"_s);
    EXPECT_TRUE(eventually([this] { return reports(u"hub.keychain.save"_s).size() == 1u; }))
        << "signed in for this run all the same";
    EXPECT_EQ(model->page(), u"echo"_s);
    ASSERT_TRUE(eventually([this] { return model->account().has_value(); }));
    EXPECT_FALSE(model->loginNote().has_value());

    // A link to a product that only the account shares waits for the
    // account to load; one to an unknown product is dropped once it has.
    service->reply = AccountReply{{}, {u"secret"_s}};
    for (const QString& link : {u"hubtarn:secret"_s, u"hubtarn:nothing"_s}) {
        SCOPED_TRACE(link.toStdString());
        model->signOut();
        model->setPage(std::nullopt);
        model->open(QUrl(link));
        model->submitCode(u"1"_s);
        ASSERT_TRUE(eventually([this] { return model->account().has_value() && !model->loading(); }));
        EXPECT_EQ(model->page(), link == "hubtarn:secret"_L1 ? std::optional(u"secret"_s) : std::nullopt);
        ASSERT_NE(model->product(u"secret"_s), nullptr);
    }
}

TEST_F(ModelSequenceTest, ASignInDuringTheFirstRefreshStillLoadsTheAccount)
{
    build(m_catalog);
    auto scanning = std::make_shared<Gate>();
    installer->scanGate = scanning;
    model->start();
    clock->advance(HubModel::kSplashSeconds);
    ASSERT_TRUE(eventually([&] { return scanning->reached() >= 1; }));
    ASSERT_TRUE(model->loading());
    model->signIn(u"ada@example.com"_s, u"secret"_s);
    ASSERT_TRUE(eventually([this] { return model->screen() == Screen::main; }));
    scanning->open();
    ASSERT_TRUE(eventually([this] { return model->account().has_value(); }));
    EXPECT_EQ(model->account()->user.email, u"ada@example.com"_s);
}

TEST_F(ModelSequenceTest, SignInFailuresLeaveTheirSentenceAndDropAProviderThatIsOff)
{
    build(m_catalog);
    startToFirstScreen();
    EXPECT_EQ(model->signInProviders(), (HubModel::OAuthProviders{OAuthProvider::google, OAuthProvider::apple}));
    // The identity provider offers only Apple.
    model->loadSignInProviders();
    ASSERT_TRUE(eventually([this] { return model->signInProviders() == HubModel::OAuthProviders{OAuthProvider::apple}; }));
    struct Row {
        const char* name;
        HubError error;
        std::optional<QString> note;
        HubModel::OAuthProviders providers;
    };
    const std::vector<Row> rows = {
        {"wrong password", HubError::api(u"form_password_incorrect"_s, u"That password isn't right."_s),
         u"That password isn't right."_s, {OAuthProvider::apple}},
        {"closed the browser", HubError::cancelled(), std::nullopt, {OAuthProvider::apple}},
        {"provider off", HubError::api(u"provider_off"_s, u"Apple sign-in isn't switched on yet. Use your e-mail and password."_s),
         u"Apple sign-in isn't switched on yet. Use your e-mail and password."_s, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        identity->errors = {row.error};
        model->signIn(OAuthProvider::apple);
        ASSERT_TRUE(eventually([this] { return !model->signingIn(); }));
        EXPECT_EQ(model->loginNote(), row.note);
        EXPECT_EQ(model->signInProviders(), row.providers);
        EXPECT_EQ(model->screen(), Screen::login);
    }
    // A sign-in the user cancels never lands, even when it later succeeds.
    auto held = std::make_shared<Gate>();
    identity->gate = held;
    model->signIn(OAuthProvider::apple);
    ASSERT_TRUE(eventually([&] { return held->reached() == 1; }));
    model->cancelSignIn();
    held->open();
    model->shutdown();
    QCoreApplication::processEvents(); // delivers the late result, if any
    EXPECT_EQ(model->screen(), Screen::login);
    EXPECT_FALSE(model->session().has_value());
    EXPECT_FALSE(log->calls().contains(u"store save"_s));
}

TEST_F(ModelSequenceTest, RemovingOldCopiesForAllUsersReportsItsOutcome)
{
    installer->copies[u"echo"_s] = {copy(PluginFormat::vst3, u"2.0"_s), copy(PluginFormat::vst3, u"1.0"_s, InstallScope::allUsers),
                                    copy(PluginFormat::au, u"1.0"_s, InstallScope::allUsers)};
    build(m_catalog);
    startToFirstScreen();
    // Only the VST3 has a copy of the user's own beside the old one.
    model->requestRemoveLegacy(product(u"echo"_s));
    ASSERT_TRUE(eventually([this] { return stateOf(u"echo"_s).job.kind == Job::Kind::done; }));
    EXPECT_TRUE(log->calls().contains(u"uninstall echo vst3 allUsers kept"_s));
    // The old AU stays: only the old VST3 is said to be gone.
    EXPECT_EQ(stateOf(u"echo"_s).job, Job::done(u"echo's VST3 is in the Trash."_s));
    EXPECT_EQ(stateOf(u"echo"_s).installed.size(), 2);

    // Nothing old left: nothing to do.
    model->requestRemoveLegacy(product(u"echo"_s));
    EXPECT_EQ(log->calls().filter(u"uninstall"_s).size(), 1);

    const QString sentence = u"Couldn't move Notes.vst3 to the Trash, so the hub left it there."_s;
    installer->failure = std::make_exception_ptr(HubError::message(sentence));
    model->requestUninstall(product(u"notes"_s), UninstallOptions{{PluginFormat::vst3}, true, {InstallScope::user}}, false);
    ASSERT_TRUE(eventually([this] { return stateOf(u"notes"_s).job.kind == Job::Kind::failed; }));
    EXPECT_EQ(stateOf(u"notes"_s).job.message, sentence);
    ASSERT_TRUE(eventually([this] { return reports(u"hub.uninstall"_s).size() == 1u; }));
    EXPECT_EQ(reports(u"hub.uninstall"_s)[0].report.message, sentence);
}

// The job's sentence names what went; the whole name only when nothing is left.
TEST_F(ModelSequenceTest, ARemovalSaysWhichFormatsWentToTheTrash)
{
    build(m_catalog);
    startToFirstScreen();
    const struct {
        std::set<PluginFormat> formats;
        QString sentence;
        qsizetype left;
    } rows[] = {
        {{PluginFormat::au}, u"echo's AU is in the Trash."_s, 1},
        {{PluginFormat::vst3, PluginFormat::au}, u"echo is in the Trash."_s, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.sentence.toStdString());
        installer->copies[u"echo"_s] = {copy(PluginFormat::vst3, u"1.0"_s), copy(PluginFormat::au, u"1.0"_s)};
        model->refresh(false);
        ASSERT_TRUE(eventually([this] { return !model->loading() && stateOf(u"echo"_s).installed.size() == 2; }));
        model->requestUninstall(product(u"echo"_s), UninstallOptions{row.formats, false, {InstallScope::user}}, false);
        ASSERT_TRUE(eventually([&] {
            return stateOf(u"echo"_s).job.kind == Job::Kind::done && stateOf(u"echo"_s).installed.size() == row.left;
        }));
        EXPECT_EQ(stateOf(u"echo"_s).job.message, row.sentence);
    }
}

TEST_F(ModelSequenceTest, FeedbackNeedsASessionAndUnauthorizedSignsOut)
{
    build(m_catalog);
    startToFirstScreen();
    std::optional<std::optional<HubError>> outcome;
    const auto send = [&] {
        outcome.reset();
        model->sendFeedback(product(u"echo"_s), FeedbackKind::idea, u"More presets"_s,
                            [&](std::optional<HubError> error) { outcome = error; });
        return eventually([&] { return outcome.has_value(); });
    };
    ASSERT_TRUE(send());
    EXPECT_EQ(*outcome, HubError::message(u"Sign in to send feedback."_s));

    model->submitCode(u"1"_s);
    ASSERT_TRUE(eventually([this] { return model->session().has_value() && !model->loading(); }));
    ASSERT_TRUE(send());
    EXPECT_EQ(*outcome, std::nullopt);
    // The installed version goes with it.
    EXPECT_TRUE(log->calls().contains(u"feedback echo 1.0 idea More presets"_s));

    service->feedbackError = HubError::api(u"unauthorized"_s, u"Sign in again."_s);
    ASSERT_TRUE(send());
    EXPECT_EQ(*outcome, service->feedbackError);
    EXPECT_FALSE(model->session().has_value());
    EXPECT_TRUE(model->signInAgain());
}

// No Linux host loads an Audio Unit: a new user's install sheet starts with
// VST3 alone, and a choice stored before stands.
TEST_F(ModelSequenceTest, AudioUnitsStartOffForANewUserAndAStoredChoiceStands)
{
    const QString file = m_home.filePath(u".config/"_s + Config::bundleID() + u".conf"_s);
    const struct {
        const char* name;
        std::optional<bool> stored;
        std::set<PluginFormat> formats;
    } table[] = {
        {"new user", std::nullopt, {PluginFormat::vst3}},
        {"stored on", true, {PluginFormat::vst3, PluginFormat::au}},
        {"stored off", false, {PluginFormat::vst3}},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.name);
        {
            QSettings stored(file, QSettings::IniFormat);
            stored.clear();
            if (row.stored)
                stored.setValue(u"InstallAU"_s, *row.stored);
        }
        ASSERT_NO_FATAL_FAILURE(build(m_catalog));
        EXPECT_EQ(model->installAU(), row.stored.value_or(false));
        EXPECT_TRUE(model->installVST3());
        EXPECT_EQ(model->defaultFormats(product(u"reverb"_s)), row.formats);
        model->shutdown();
        model.reset();
        EXPECT_EQ(QSettings(file, QSettings::IniFormat).contains(u"InstallAU"_s), row.stored.has_value())
            << "reading the default stores nothing";
    }
}

TEST_F(ModelSequenceTest, SettingsAreStoredAtOnceUnderTheirKeys)
{
    const QString file = m_home.filePath(u".config/"_s + Config::bundleID() + u".conf"_s);
    {
        QSettings stored(file, QSettings::IniFormat);
        stored.setValue(u"InstallAU"_s, false);
        stored.setValue(u"InstallVST3"_s, false);
        stored.setValue(u"InstallScope"_s, u"allUsers"_s);
        stored.setValue(u"CheckAtOpen"_s, false);
    }
    build(m_catalog);
    EXPECT_TRUE(model->installAU());
    EXPECT_TRUE(model->installVST3());
    EXPECT_EQ(model->scope(), InstallScope::allUsers);
    EXPECT_FALSE(model->checkAtOpen());
    EXPECT_FALSE(model->autoUpdate());
    EXPECT_FALSE(model->sendReports());

    model->setInstallVST3(false);
    model->setScope(InstallScope::user);
    model->setAutoUpdate(true);
    model->setCheckAtOpen(true);
    const QSettings reread(file, QSettings::IniFormat);
    EXPECT_EQ(reread.value(u"InstallVST3"_s).toBool(), false);
    EXPECT_EQ(reread.value(u"InstallScope"_s).toString(), u"user"_s);
    EXPECT_EQ(reread.value(u"AutoUpdate"_s).toBool(), true);
    EXPECT_EQ(reread.value(u"CheckAtOpen"_s).toBool(), true);

    // Opting in sends what is spooled at once.
    installer->failure = std::make_exception_ptr(HubError::message(u"No room left on the disk."_s));
    installer->steps.clear();
    model->requestInstall(product(u"reverb"_s), {PluginFormat::vst3}, InstallScope::user);
    ASSERT_TRUE(eventually([this] { return model->problems().size() == 1; }));
    model->setSendReports(true);
    ASSERT_TRUE(eventually([this] { return model->reportNote().has_value(); }));
    EXPECT_EQ(model->reportNote(), u"Sent 1 report. Thank you."_s);
    EXPECT_TRUE(model->problems().empty());
    EXPECT_EQ(QSettings(file, QSettings::IniFormat).value(u"SendReports"_s).toBool(), true);
}

TEST_F(ModelSequenceTest, OnlyWebAddressesAndTheSupportMailLeaveTheProgram)
{
    build(m_catalog);
    startToFirstScreen();
    struct Row {
        QString url;
        bool opened;
    };
    const std::vector<Row> rows = {
        {u"https://tarnaudio.example/echo"_s, true},
        {u"http://tarnaudio.example/echo"_s, true},
        {u"mailto:"_s + Config::supportEmail(), true},
        {u"mailto:someone@evil.example"_s, false},
        {u"mailto:"_s + Config::supportEmail() + u"?attach=/etc/passwd"_s, false},
        {u"file:///etc/passwd"_s, false},
        {u"javascript:alert(1)"_s, false},
        {u"hubtarn:echo"_s, false},
        {u"smb://server/share"_s, false},
        {u"https:///nohost"_s, false},
    };
    for (const Row& row : rows) {
        workspace->opened.clear();
        model->openLink(QUrl(row.url));
        EXPECT_EQ(workspace->opened.size(), row.opened ? 1 : 0) << row.url.toStdString();
    }

    // The account page: the signed-in link from the service, else the plain page.
    workspace->opened.clear();
    model->openAccountPage();
    EXPECT_EQ(workspace->opened, QStringList{Config::accountPage().toString()});
    model->submitCode(u"1"_s);
    ASSERT_TRUE(eventually([this] { return model->account().has_value() && !model->loading(); }));
    workspace->opened.clear();
    model->openAccountPage();
    ASSERT_TRUE(eventually([this] { return !workspace->opened.isEmpty(); }));
    EXPECT_EQ(workspace->opened, QStringList{u"https://tarnaudio.example/account?t=1"_s});

    // Revealing shows every copy; a product with none opens nothing.
    workspace->opened.clear();
    model->reveal(product(u"reverb"_s));
    model->reveal(product(u"echo"_s));
    EXPECT_EQ(workspace->opened, QStringList{u"reveal "_s + copy(PluginFormat::vst3, u"1.0"_s).path});
    // With nothing to show them, the product's job line names the folder.
    workspace->noFileManager = true;
    model->reveal(product(u"echo"_s));
    EXPECT_EQ(model->state(product(u"echo"_s)).job,
              Job::warning(u"Couldn't open the folder "_s
                           + model->abbreviated(QFileInfo(copy(PluginFormat::vst3, u"1.0"_s).path).path())
                           + u": no file manager answered."_s));
}

} // namespace

namespace {

TEST_F(ModelSequenceTest, AnInstallIsRefusedOnlyWhenItWouldReplaceANewerCopyOfAChosenFormat)
{
    enum class Via { install, rowUpdate, updateAll, quietUpdate };
    struct Row {
        const char* name;
        QList<InstalledFormat> installed; // echo's copies; the release is 2.0
        Via via;
        std::set<PluginFormat> formats; // for Via::install
        QString refusal;                // the job's sentence; empty: installed
    };
    const QList<InstalledFormat> newerVST3 = {copy(PluginFormat::vst3, u"3.0"_s), copy(PluginFormat::au, u"1.0"_s)};
    const std::vector<Row> rows = {
        {"another format of the version installed", {copy(PluginFormat::vst3, u"2.0"_s)}, Via::install,
         {PluginFormat::vst3, PluginFormat::au}, {}},
        {"the row's update beside a newer VST3", newerVST3, Via::rowUpdate, {}, {}},
        {"update all beside a newer VST3", newerVST3, Via::updateAll, {}, {}},
        {"a quiet update beside a newer VST3", newerVST3, Via::quietUpdate, {}, {}},
        {"over a newer copy of a chosen format", newerVST3, Via::install, {PluginFormat::vst3, PluginFormat::au},
         u"This computer has echo 3.0, newer than 2.0, so the hub left it there."_s},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        signInStored();
        installer->copies[u"echo"_s] = row.installed;
        build(m_catalog);
        model->setAutoUpdate(row.via == Via::quietUpdate);
        const qsizetype before = log->calls().filter(u"install echo"_s).size();
        startToFirstScreen();
        const Product echo = product(u"echo"_s);
        if (row.via == Via::rowUpdate) {
            ASSERT_TRUE(model->hasUpdate(echo));
            ASSERT_EQ(model->updateFormats(echo), std::set<PluginFormat>{PluginFormat::au});
            model->requestInstall(echo, model->updateFormats(echo), InstallScope::user);
        } else if (row.via == Via::updateAll) {
            model->requestUpdateAll();
        } else if (row.via == Via::install) {
            model->requestInstall(echo, row.formats, InstallScope::user);
        }
        ASSERT_TRUE(eventually([this] {
            const Job::Kind kind = stateOf(u"echo"_s).job.kind;
            return kind == Job::Kind::done || kind == Job::Kind::failed;
        }));
        const QStringList installs = log->calls().filter(u"install echo"_s).mid(before);
        if (row.refusal.isEmpty()) {
            EXPECT_EQ(stateOf(u"echo"_s).job.kind, Job::Kind::done) << stateOf(u"echo"_s).job.message.toStdString();
            EXPECT_EQ(installs.size(), 1);
        } else {
            EXPECT_EQ(stateOf(u"echo"_s).job.kind, Job::Kind::failed);
            EXPECT_EQ(stateOf(u"echo"_s).job.message, row.refusal);
            EXPECT_TRUE(installs.isEmpty()) << "the installer is never asked";
        }
        model->shutdown();
        model.reset();
        clock->sleepers.clear();
    }
}

TEST_F(ModelSequenceTest, AnUninstallNeverStartsWhileAnInstallOfTheProductRuns)
{
    const std::shared_ptr<Gate> held = echoInstallHeld();
    ASSERT_TRUE(held);
    UninstallOptions options;
    options.formats = {PluginFormat::vst3};
    options.scopes = {InstallScope::user};
    model->requestUninstall(product(u"echo"_s), options, false);
    EXPECT_NE(stateOf(u"echo"_s).job.kind, Job::Kind::removing);
    held->open();
    ASSERT_TRUE(eventually([this] { return !stateOf(u"echo"_s).job.isWorking(); }));
    EXPECT_EQ(stateOf(u"echo"_s).job.kind, Job::Kind::done);
    EXPECT_EQ(stateOf(u"echo"_s).installed.size(), 1);
    EXPECT_TRUE(log->calls().filter(u"uninstall"_s).isEmpty());
}

TEST_F(ModelSequenceTest, AnAccountPageLinkOfASessionSignedOutMeanwhileNeverOpens)
{
    for (const bool signedOut : {false, true}) {
        SCOPED_TRACE(signedOut ? "signed out meanwhile" : "still signed in");
        signInStored();
        auto asked = std::make_shared<Gate>();
        service->siteGate = asked;
        build(m_catalog);
        startToFirstScreen();
        model->openAccountPage();
        ASSERT_TRUE(eventually([&] { return asked->reached() == 1; }));
        if (signedOut)
            model->signOut();
        asked->open();
        // Shutting down waits for the pool, so every outcome is posted by
        // then and is handed over here.
        model->shutdown();
        QCoreApplication::sendPostedEvents();
        EXPECT_EQ(workspace->opened,
                  signedOut ? QStringList() : QStringList{u"https://tarnaudio.example/account?t=1"_s});
        model.reset();
        workspace->opened.clear();
        clock->sleepers.clear();
    }
}

TEST_F(ModelSequenceTest, StartUpShowsOfflineAtOnceAndReadsTheSpoolOnThePool)
{
    Report report;
    report.product = u"echo"_s;
    report.code = u"hub.install"_s;
    ASSERT_TRUE(ReportSpool(m_home.path()).record(report).recorded());
    signInStored();
    network->up = false;
    build(m_catalog);
    EXPECT_TRUE(model->problems().empty()) << "building the model reads nothing of the spool";
    auto scanning = std::make_shared<Gate>();
    installer->scanGate = scanning;
    model->start();
    EXPECT_TRUE(model->offline());
    ASSERT_TRUE(eventually([this] { return model->problems().size() == 1; }));
    clock->advance(HubModel::kSplashSeconds);
    ASSERT_TRUE(eventually([&] { return model->screen() == Screen::main && scanning->reached() >= 1; }));
    EXPECT_TRUE(model->loading());
    EXPECT_TRUE(model->offline()) << "network actions stay off while the first refresh runs";
    scanning->open();
    ASSERT_TRUE(eventually([this] { return !model->loading(); }));
    EXPECT_TRUE(model->offline());
}

TEST_F(ModelSequenceTest, ALinkNamesItsProductFirstInEitherForm)
{
    signInStored();
    build(m_catalog);
    startToFirstScreen();
    const std::vector<std::pair<QString, std::optional<QString>>> rows = {
        {u"hubtarn:echo"_s, u"echo"_s},
        {u"hubtarn:echo/whatsnew"_s, u"echo"_s},
        {u"hubtarn://echo"_s, u"echo"_s},
        {u"hubtarn://echo/whatsnew"_s, u"echo"_s},
        {u"hubtarn://notes/echo"_s, u"notes"_s},
        {u"hubtarn:///notes/echo"_s, u"notes"_s},
        {u"hubtarn://nothing/echo"_s, std::nullopt},
        {u"https://echo/whatsnew"_s, std::nullopt},
    };
    for (const auto& [link, page] : rows) {
        SCOPED_TRACE(link.toStdString());
        model->setPage(std::nullopt);
        model->open(QUrl(link));
        EXPECT_EQ(model->page(), page);
    }
}

} // namespace

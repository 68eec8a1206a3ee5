// The plug-ins and updates tabs over a generated catalog (`--products N`,
// default 2,000; a quarter of them installed, a third of those with an
// update), offscreen, in rounds (`--rounds R`, default 5), each figure
// printed as the median and the worst of its rounds:
// - a sign-in, as the window meets it: the sign-in screen is up over the
//   few products of the local copy, and the refresh the sign-in starts
//   brings the whole catalog, the account and the scan of the installed
//   copies, while the main view the window makes for the main screen shows
//   the plug-ins tab; to every row made, with the longest time the
//   window's thread went without turning its event loop (a stall: what a
//   person sees as a freeze);
// - a refresh that changes nothing (the same catalog, the account's last
//   contact renewed) into that full tab: the window thread's processor
//   time and the longest stall;
// - a catalog arriving, as a refresh delivers it, into the plug-ins tab
//   already shown with a few products: from the model's news to the next
//   paint, and until every row is made;
// - building the plug-ins tab over the whole catalog to its first paint,
//   and switching to the updates tab to its first paint;
// - the longest stall during each of those, the updates tab's also paired
//   with the anchor;
// - scrolling the plug-ins tab end to end (each frame: one scroll step and
//   its paint);
// - 100 progress ticks of one product's download (each tick: the model's
//   signal, the row's update and the paint it causes, with the rows
//   painted counted).
// The stalls of the sign-in and of the refresh are paired, round by round
// and in alternating order, with an anchor measured the same way in the
// same run: one event that deep-copies the catalog's products, the
// cheapest walk over every product there is; the ratios are printed as
// the minimum and the median of the pairs.
//
// Run by hand: build/bench/tabs_bench [--products N] [--rounds R]
#include "BenchCatalog.h"
#include "PairStats.h"
#include "ModelTestSupport.h"
#include "TestHttpsServer.h"

#include "Catalog/CatalogLoader.h"
#include "Kit/Animation.h"
#include "Kit/Theme.h"
#include "Views/Common/RowList.h"
#include "Views/Frame/MainView.h"
#include "Views/Frame/TabBody.h"
#include "Views/Plugins/ProductRow.h"

#include "Model/HubModel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QScrollArea>
#include <QScrollBar>
#include <QSemaphore>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <set>
#include <string>
#include <vector>

using namespace Qt::StringLiterals;
using namespace Hub;

namespace {

constexpr int kTicks = 100;
constexpr int kScrollStep = 48;
constexpr int kFewProducts = 12;
constexpr int kPatienceMs = 600000;

// The model tests' fixture, used outside a test: the fakes, an isolated
// home and a signed-in model over the bench catalog.
class Setup : public Test::ModelFixture {
public:
    void TestBody() override {}
    void start(const Catalog& bundled, const QUrl& live, const QString& ca, bool signedIn = true)
    {
        SetUp();
        catalogURL = live;
        caBundle = ca;
        if (signedIn)
            signInStored();
        build(bundled);
        startToFirstScreen();
    }
    void stop() { TearDown(); }
    using ModelFixture::clock;
    using ModelFixture::copy;
    using ModelFixture::installer;
    using ModelFixture::model;
};

// Paints of widgets, counted while `counting` is on.
class PaintCounter : public QObject {
public:
    bool counting = false;
    std::set<QObject*> painted;
    int paints = 0;

    void reset(bool on)
    {
        painted.clear();
        paints = 0;
        counting = on;
    }

protected:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (counting && event->type() == QEvent::Paint) {
            ++paints;
            painted.insert(object);
        }
        return false;
    }
};

// The longest gap between two turns of the event loop while it runs: a
// timer of no interval fires once a turn.
class StallWatch {
public:
    StallWatch()
    {
        m_beat.setInterval(0);
        QObject::connect(&m_beat, &QTimer::timeout, &m_beat, [this] { beat(); });
    }
    void start()
    {
        m_longest = 0;
        m_clock.start();
        m_last = 0;
        m_beat.start();
    }
    double stop()
    {
        beat();
        m_beat.stop();
        return m_longest;
    }

private:
    void beat()
    {
        const double now = double(m_clock.nsecsElapsed()) / 1e6;
        m_longest = std::max(m_longest, now - m_last);
        m_last = now;
    }
    QTimer m_beat;
    QElapsedTimer m_clock;
    double m_last = 0;
    double m_longest = 0;
};

struct Figures {
    double median = 0;
    double worst = 0;
};

Figures figures(std::vector<double> ms)
{
    if (ms.empty())
        return {};
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.back()};
}

void print(const char* what, const std::vector<double>& ms, const char* goal = "")
{
    const Figures f = figures(ms);
    std::printf("  %-44s median %8.1f ms, worst %8.1f ms   %s\n", what, f.median, f.worst, goal);
}

// The ratio of each pair, as its minimum and median.
void printRatio(const char* what, const std::vector<double>& ms, const std::vector<double>& anchorMs)
{
    std::vector<double> ratios;
    for (std::size_t i = 0; i < ms.size() && i < anchorMs.size(); ++i)
        ratios.push_back(ms[i] / anchorMs[i]);
    const ::Bench::Stats r = ::Bench::stats(ratios);
    std::printf("  %-44s min %6.2fx, median %6.2fx of the anchor\n", what, r.min, r.median);
}

double since(const QElapsedTimer& timer) { return double(timer.nsecsElapsed()) / 1e6; }

// This thread's processor time in milliseconds: on a loaded machine the
// wall clock also counts the time other programs had the processor.
double cpuNow()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6;
}

// Turns the event loop until `done`, never sleeping between turns (a
// sleep would count as a stall); a slow timer wakes it to look again.
void waitFor(const std::function<bool()>& done, const char* what)
{
    QTimer wake;
    wake.start(50);
    QElapsedTimer patience;
    patience.start();
    while (!done()) {
        if (patience.elapsed() > kPatienceMs)
            qFatal("%s never happened", what);
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

// Every list of the tab has made and read all its rows. The lists are
// looked up once per tab: a search of thousands of rows would itself
// hold the window up.
bool settled(QWidget* body)
{
    static QPointer<QWidget> searched;
    static QList<QPointer<Views::RowList>> lists;
    QWidget* tab = body->findChild<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    if (auto* tabs = qobject_cast<Views::TabBody*>(body))
        tab = tabs->content();
    if (searched != tab) {
        searched = tab;
        lists.clear();
        for (Views::RowList* list : tab->findChildren<Views::RowList*>())
            lists.append(list);
    }
    return std::all_of(lists.begin(), lists.end(), [](const QPointer<Views::RowList>& list) {
        return !list || list->pending() == 0;
    });
}

int option(int argc, char** argv, const char* name, int fallback)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0)
            return std::max(1, std::atoi(argv[i + 1]));
    return fallback;
}

} // namespace

int main(int argc, char** argv)
{
    const int products = option(argc, argv, "--products", 2000);
    const int rounds = option(argc, argv, "--rounds", 5);
    const int installed = std::max(1, products / 4);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Kit::Theme::install(app);
    Kit::Animation::setEnabled(false);

    const Catalog catalog = Hub::Bench::generatedCatalog(products);
    Catalog few = catalog;
    few.products.resize(std::size_t(std::min(products, kFewProducts)));
    // The live catalog the next refresh gets: the whole one or the few.
    std::mutex servedMutex;
    std::string served;
    const std::string whole = catalog.toJson().toStdString();
    const std::string small = few.toJson().toStdString();
    // The application refuses a larger catalog: the sign-in would never
    // bring the whole of it, and the bench would wait for it in vain.
    if (qint64(whole.size()) > CatalogLoader::kMaxCatalogBytes)
        qFatal("%d products make a catalog of %.1f MB, more than the %.1f MB the application accepts", products,
               double(whole.size()) / 1048576.0, double(CatalogLoader::kMaxCatalogBytes) / 1048576.0);
    Test::TestHttpsServer server;
    server.get("/catalog.json", [&](const httplib::Request&, httplib::Response& response) {
        std::lock_guard lock(servedMutex);
        response.set_content(served, "application/json");
    });

    const auto serve = [&](const std::string& body) {
        std::lock_guard lock(servedMutex);
        served = body;
    };
    const auto install = [&](Setup& setup) {
        for (int i = 0; i < installed; ++i)
            setup.installer->copies[catalog.products[std::size_t(i * (products / installed))].id] = {
                setup.copy(PluginFormat::vst3, u"1.0.0"_s)};
    };
    StallWatch stalls;
    std::size_t sink = 0;
    // The anchor: the stall of one event that deep-copies the products.
    const auto anchor = [&] {
        QCoreApplication::processEvents();
        bool copied = false;
        stalls.start();
        QTimer::singleShot(0, [&] {
            const std::vector<Product> copy = catalog.products;
            sink += copy.size();
            copied = true;
        });
        waitFor([&] { return copied; }, "the anchor's copy");
        return stalls.stop();
    };

    // 1. Sign-ins, then a refresh that changes nothing, each paired with
    // the anchor.
    std::vector<double> signedIn, signInStall, signInAnchor, quietCPU, quietStall, quietAnchor;
    for (int round = 0; round < rounds; ++round) {
        const bool anchorFirst = round % 2 == 1;
        Setup signing;
        install(signing);
        serve(small);
        signing.start(few, server.url(u"/catalog.json"_s), server.caBundle(), false);
        HubModel* model = signing.model.get();
        if (model->screen() != Screen::login)
            qFatal("the sign-in screen never showed");
        // As the window does: the main view is made when the main screen shows.
        std::unique_ptr<Views::MainView> view;
        QObject::connect(model, &HubModel::screenChanged, model, [&] {
            if (model->screen() != Screen::main || view)
                return;
            view = std::make_unique<Views::MainView>(model);
            view->resize(1000, 700);
            view->show();
        });
        const auto full = [&] {
            return view && !model->loading() && model->account()
                   && model->products().size() == std::size_t(products) && settled(view->tabBody());
        };

        if (anchorFirst)
            signInAnchor.push_back(anchor());
        serve(whole);
        QCoreApplication::processEvents();
        QElapsedTimer timer;
        stalls.start();
        timer.start();
        model->signIn(u"ada@example.com"_s, u"secret"_s);
        waitFor(full, "the full tab after a sign-in");
        signedIn.push_back(since(timer));
        signInStall.push_back(stalls.stop());
        if (!anchorFirst)
            signInAnchor.push_back(anchor());

        // The same catalog again, a minute later: the account's last
        // contact moves on. First its processor time, with no probe
        // turning the loop, then its stall.
        const auto refreshed = [&] { return !model->loading() && settled(view->tabBody()); };
        signing.clock->advance(60);
        QCoreApplication::processEvents();
        const double cpu = cpuNow();
        model->refresh(true);
        waitFor(refreshed, "a refresh that changes nothing");
        quietCPU.push_back(cpuNow() - cpu);
        if (anchorFirst)
            quietAnchor.push_back(anchor());
        signing.clock->advance(60);
        QCoreApplication::processEvents();
        stalls.start();
        model->refresh(true);
        waitFor(refreshed, "a refresh that changes nothing");
        quietStall.push_back(stalls.stop());
        if (!anchorFirst)
            quietAnchor.push_back(anchor());
        view.reset();
        signing.stop();
    }

    Setup setup;
    install(setup);
    serve(small);
    setup.start(few, server.url(u"/catalog.json"_s), server.caBundle());
    HubModel* model = setup.model.get();

    PaintCounter counter;
    app.installEventFilter(&counter);

    const auto refreshWith = [&](const std::string& body) {
        serve(body);
        model->refresh(true);
    };

    std::vector<double> toPaint, toSettled, arrivalStall;
    bool arriving = false;
    QElapsedTimer arrival;
    // Connected before the tab exists, so it runs before the tab's own.
    QObject::connect(model, &HubModel::catalogChanged, model, [&] {
        if (!arriving)
            return;
        arriving = false;
        counter.reset(true);
        arrival.start();
    });
    // 2. A catalog arriving into the shown tab: the few first, then all.
    auto* body = new Views::TabBody(model);

    body->resize(1000, 700);
    body->show();
    waitFor([&] { return QTest::qWaitForWindowExposed(body, 1000); }, "the tab's first paint");
    for (int round = 0; round < rounds; ++round) {
        refreshWith(small);
        waitFor([&] { return !model->loading() && model->products().size() == few.products.size() && settled(body); },
                "the few products' arrival");
        QCoreApplication::processEvents();
        arriving = true;
        stalls.start();
        refreshWith(whole);
        waitFor([&] { return !arriving && counter.paints > 0; }, "a paint after the catalog arrived");
        toPaint.push_back(since(arrival));
        waitFor([&] { return !model->loading() && settled(body); }, "every row made");
        toSettled.push_back(since(arrival));
        arrivalStall.push_back(stalls.stop());
        counter.reset(false);
    }
    const PluginSections sections = model->pluginSections();
    std::printf("tabs_bench: %d products, %lld on this computer, %lld to add, %zu updates; offscreen; %d rounds\n",
                products, static_cast<long long>(sections.onMac.size()), static_cast<long long>(sections.add.size()),
                model->updates().size(), rounds);
    std::printf("  anchor: one event deep-copying the products   median %8.1f ms (sink %zu)\n",
                figures(signInAnchor).median, sink);
    print("sign-in, to every row of the plug-ins tab", signedIn);
    print("  longest stall meanwhile", signInStall, "goal < 100 ms");
    printRatio("  longest stall meanwhile", signInStall, signInAnchor);
    print("a refresh that changes nothing: processor", quietCPU, "goal: nothing per row");
    print("  longest stall meanwhile", quietStall, "goal < 100 ms");
    printRatio("  longest stall meanwhile", quietStall, quietAnchor);
    print("catalog arrives, to the next paint", toPaint, "goal < 1,000 ms");
    print("catalog arrives, to every row made", toSettled);
    print("  longest stall meanwhile", arrivalStall, "goal < 100 ms");

    // 3. Building each tab over the whole catalog to its first paint.
    std::vector<double> built, builtCPU, buildStall, updates, updatesStall, updatesAnchor;
    for (int round = 0; round < rounds; ++round) {
        const bool anchorFirst = round % 2 == 1;
        delete body;
        model->setTab(Tab::plugins);
        QCoreApplication::processEvents();
        stalls.start();
        QElapsedTimer timer;
        const double cpu = cpuNow();
        timer.start();
        counter.reset(true);
        body = new Views::TabBody(model);
        body->resize(1000, 700);
        body->show();
        waitFor([&] { return counter.paints > 0; }, "the tab's first paint");
        built.push_back(since(timer));
        builtCPU.push_back(cpuNow() - cpu);
        waitFor([&] { return settled(body); }, "every row made");
        buildStall.push_back(stalls.stop());

        if (anchorFirst)
            updatesAnchor.push_back(anchor());
        QCoreApplication::processEvents();
        stalls.start();
        counter.reset(true);
        timer.start();
        model->setTab(Tab::updates);
        waitFor([&] { return counter.paints > 0; }, "the updates tab's first paint");
        updates.push_back(since(timer));
        waitFor([&] { return settled(body); }, "every update row made");
        updatesStall.push_back(stalls.stop());
        counter.reset(false);
        if (!anchorFirst)
            updatesAnchor.push_back(anchor());
    }
    print("plug-ins tab built, to its first paint", built, "goal < 300 ms");
    print("  processor", builtCPU);
    print("  longest stall until every row is made", buildStall, "goal < 100 ms");
    print("updates tab shown, to its first paint", updates, "goal < 300 ms");
    print("  longest stall until every row is made", updatesStall, "goal < 100 ms");
    printRatio("  longest stall until every row is made", updatesStall, updatesAnchor);

    // 4. Scroll the plug-ins tab end to end, one step a frame.
    model->setTab(Tab::plugins);
    waitFor([&] { return settled(body); }, "the plug-ins tab's rows");
    QCoreApplication::processEvents();
    QScrollBar* bar = body->verticalScrollBar();
    std::vector<double> frames;
    for (int value = 0; value <= bar->maximum(); value += kScrollStep) {
        QElapsedTimer frame;
        frame.start();
        bar->setValue(value);
        QCoreApplication::processEvents();
        frames.push_back(since(frame));
    }
    std::printf("  scroll %d px in %zu frames of %d px\n", bar->maximum(), frames.size(), kScrollStep);
    print("  a frame", frames, "goal < 16 ms");

    // 5. 100 ticks of an installed product's download, near the top, each
    // measured from the model's signal to the end of the paint it causes.
    // The first handler is connected before the rows' own, so it runs
    // before them; the second after. The installer waits after each step
    // until the window has drawn it.
    bar->setValue(0);
    QCoreApplication::processEvents();
    const QString id = model->pluginSections().onMac.front();
    bool ticking = false;
    QElapsedTimer tick;
    std::vector<double> ticks;
    std::vector<int> rowsPainted;
    QSemaphore drawn;
    QObject::connect(model, &HubModel::productStateChanged, model, [&](const QString& changed) {
        if (!ticking || changed != id)
            return;
        counter.reset(true);
        tick.start();
    });
    delete body;
    body = new Views::TabBody(model);
    body->resize(1000, 700);
    body->show();
    waitFor([&] { return QTest::qWaitForWindowExposed(body, 1000) && settled(body); }, "the tab's rows");
    QObject::connect(model, &HubModel::productStateChanged, model, [&](const QString& changed) {
        if (!ticking || changed != id)
            return;
        QCoreApplication::processEvents();
        ticks.push_back(since(tick));
        counter.counting = false;
        int rows = 0;
        for (QObject* widget : counter.painted)
            if (qobject_cast<Views::ProductRow*>(widget))
                ++rows;
        rowsPainted.push_back(rows);
        drawn.release();
    });
    std::vector<InstallStep> steps;
    // A new whole percent each: the model passes on only news.
    for (int i = 1; i <= kTicks; ++i)
        steps.push_back(InstallStep::downloading((double(i) - 0.5) / kTicks));
    setup.installer->steps = steps;
    setup.installer->afterStep = [&drawn](const InstallStep&) { drawn.tryAcquire(1, 10000); };
    ticking = true;
    model->requestInstall(*model->product(id), {PluginFormat::vst3}, InstallScope::user);
    waitFor([&] { return ticks.size() >= std::size_t(kTicks); }, "a hundred download ticks");
    ticking = false;
    drawn.release(kTicks * 4);
    waitFor([&] { return !model->state(*model->product(id)).job.isWorking(); }, "the download's end");
    // The first tick also starts the job (a new step for the lists); the
    // rest are what a download is made of.
    const std::vector<double> steady(ticks.begin() + 1, ticks.end());
    const Figures ticked = figures(steady);
    std::printf("  %zu download ticks: median %6.3f ms, worst %6.3f ms   goal each < 1 ms\n", steady.size(),
                ticked.median, ticked.worst);
    std::printf("  rows repainted per tick: at most %d; the first tick (the job starts): %6.2f ms\n",
                *std::max_element(rowsPainted.begin() + 1, rowsPainted.end()), ticks.front());
    delete body;
    setup.stop();
    return 0;
}

// The plug-ins tab with a 2,000-product catalog, 500 of them installed,
// offscreen: building the tab to its first paint, scrolling it end to end
// (each frame: one scroll step and its paint), and 100 progress ticks of
// one product's download (each tick: the model's signal, the row's update
// and the paint it causes, with the widgets painted counted).
//
// Run by hand: build/bench/tabs_bench
#include "BenchCatalog.h"
#include "ModelTestSupport.h"

#include "Kit/Animation.h"
#include "Kit/Theme.h"
#include "Views/Frame/TabBody.h"
#include "Views/Plugins/ProductRow.h"

#include "Model/HubModel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QSemaphore>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <set>
#include <vector>

using namespace Qt::StringLiterals;
using namespace Hub;

namespace {

constexpr int kProducts = 2000;
constexpr int kInstalled = 500;
constexpr int kTicks = 100;
constexpr int kScrollStep = 48;

// The model tests' fixture, used outside a test: the fakes, an isolated
// home and a signed-in model over the bench catalog.
class Setup : public Test::ModelFixture {
public:
    void TestBody() override {}
    void start(const Catalog& catalog)
    {
        SetUp();
        signInStored();
        build(catalog);
        startToFirstScreen();
    }
    void stop() { TearDown(); }
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

struct Figures {
    double median = 0;
    double worst = 0;
};

Figures figures(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.back()};
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

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Kit::Theme::install(app);
    Kit::Animation::setEnabled(false);

    Setup setup;
    const Catalog catalog = Bench::generatedCatalog(kProducts);
    for (int i = 0; i < kInstalled; ++i)
        setup.installer->copies[catalog.products[std::size_t(i * (kProducts / kInstalled))].id] = {
            setup.copy(PluginFormat::vst3, u"1.0.0"_s)};
    setup.start(catalog);
    HubModel* model = setup.model.get();
    const PluginSections sections = model->pluginSections();
    std::printf("tabs_bench: %d products, %lld on this computer, %lld to add; offscreen\n", kProducts,
                static_cast<long long>(sections.onMac.size()), static_cast<long long>(sections.add.size()));

    PaintCounter counter;
    app.installEventFilter(&counter);

    // One product's download ticks, each measured from the model's signal
    // to the end of the paint it causes. The first handler is connected
    // before the tab exists, so it runs before the views' own; the second
    // after, so it runs after them.
    const QString id = sections.onMac.front();
    bool ticking = false;
    QElapsedTimer tick;
    std::vector<double> ticks;
    std::vector<double> tickCPU;
    double tickStart = 0;
    std::vector<int> rowsPainted;
    std::vector<int> paints;
    QSemaphore drawn;
    QObject::connect(model, &HubModel::productStateChanged, model, [&](const QString& changed) {
        if (!ticking || changed != id)
            return;
        counter.painted.clear();
        counter.paints = 0;
        counter.counting = true;
        tickStart = cpuNow();
        tick.start();
    });

    // Build: the tab body makes the plug-ins tab; then its first paint.
    QElapsedTimer timer;
    const double buildCPU = cpuNow();
    timer.start();
    auto* body = new Views::TabBody(model);
    const double built = since(timer);
    body->resize(1000, 700);
    counter.counting = true;
    body->show();
    if (!QTest::qWaitFor([&] { return counter.paints > 0; }, 60000))
        qFatal("the tab never painted");
    QCoreApplication::processEvents();
    counter.counting = false;
    const double shown = since(timer);
    const double shownCPU = cpuNow() - buildCPU;
    std::printf("  build the tab                      %8.1f ms\n", built);
    std::printf("  build and first paint              %8.1f ms (processor %.1f ms)   goal < 300 ms\n", shown,
                shownCPU);

    // Scroll end to end, one step a frame.
    QScrollBar* bar = body->verticalScrollBar();
    std::vector<double> frames;
    std::vector<double> frameCPU;
    for (int value = 0; value <= bar->maximum(); value += kScrollStep) {
        QElapsedTimer frame;
        const double cpu = cpuNow();
        frame.start();
        bar->setValue(value);
        QCoreApplication::processEvents();
        frames.push_back(since(frame));
        frameCPU.push_back(cpuNow() - cpu);
    }
    const Figures scroll = figures(frames);
    const Figures scrollCPU = figures(frameCPU);
    std::printf("  scroll %d px in %zu frames of %d px   goal every frame < 16 ms\n", bar->maximum(), frames.size(),
                kScrollStep);
    std::printf("    wall:      median %6.2f ms, worst %6.2f ms\n", scroll.median, scroll.worst);
    std::printf("    processor: median %6.2f ms, worst %6.2f ms\n", scrollCPU.median, scrollCPU.worst);

    // 100 ticks of an installed product's download, near the top. The
    // installer waits after each step until the window has drawn it.
    bar->setValue(0);
    QCoreApplication::processEvents();
    QObject::connect(model, &HubModel::productStateChanged, model, [&](const QString& changed) {
        if (!ticking || changed != id)
            return;
        QCoreApplication::processEvents();
        ticks.push_back(since(tick));
        tickCPU.push_back(cpuNow() - tickStart);
        counter.counting = false;
        int rows = 0;
        for (QObject* widget : counter.painted)
            if (qobject_cast<Views::ProductRow*>(widget))
                ++rows;
        rowsPainted.push_back(rows);

        paints.push_back(counter.paints);
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
    if (!QTest::qWaitFor([&] { return ticks.size() >= std::size_t(kTicks); }, 120000))
        qFatal("the download never ticked %d times", kTicks);
    ticking = false;
    drawn.release(kTicks * 4);
    if (!QTest::qWaitFor([&] { return !model->state(*model->product(id)).job.isWorking(); }, 120000))
        qFatal("the download never ended");

    // The first tick also starts the job (a new step for the lists); the
    // rest are what a download is made of.
    const std::vector<double> steady(ticks.begin() + 1, ticks.end());
    const Figures ticked = figures(steady);
    const Figures tickedCPU = figures(std::vector<double>(tickCPU.begin() + 1, tickCPU.end()));
    const int mostRows = *std::max_element(rowsPainted.begin() + 1, rowsPainted.end());
    const int mostPaints = *std::max_element(paints.begin() + 1, paints.end());
    std::printf("  %zu download ticks   goal each < 1 ms\n", steady.size());
    std::printf("    wall:      median %6.3f ms, worst %6.3f ms\n", ticked.median, ticked.worst);
    std::printf("    processor: median %6.3f ms, worst %6.3f ms\n", tickedCPU.median, tickedCPU.worst);
    std::printf("  rows repainted per tick: at most %d (paint events at most %d: the row, its progress line and the"
                " widgets behind them)\n",
                mostRows, mostPaints);
    std::printf("  first tick (the job starts, the lists are checked): %6.2f ms\n", ticks.front());
    delete body;
    setup.stop();
    return 0;
}

// From process start to the window's first paint with a 2,000-product
// cached catalog, and one full repaint of the window on its main screen,
// offscreen. Each beside an anchor measured in the same run: the same steps
// for a bare window of the same size.
//
// Run by hand: build/bench/window_bench
#include "BenchCatalog.h"
#include "ModelTestSupport.h"

#include "Base/Machine.h"
#include "Installer/PluginInstaller.h"
#include "Installer/SystemAURegistry.h"
#include "Kit/Theme.h"
#include "Model/SystemSeams.h"
#include "Shell/Application.h"
#include "Shell/MainWindow.h"
#include "Views/Frame/MainView.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace Hub;

namespace {

constexpr int kProducts = 2000;
constexpr int kRepaints = 50;

// Milliseconds since the kernel started this process (10 ms steps).
double sinceProcessStart()
{
    QFile stat(u"/proc/self/stat"_s);
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    // Field 22, counted after the command name's closing parenthesis.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    const double startTicks = fields.value(19).toDouble();
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return (double(now.tv_sec) + double(now.tv_nsec) / 1e9) * 1000.0 - startTicks * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

// Time from now until `window` first paints.
class FirstPaint : public QObject {
public:
    explicit FirstPaint(QWidget* window)
        : m_window(window)
    {
        qApp->installEventFilter(this);
        m_clock.start();
    }
    bool done() const { return m_ms >= 0; }
    double ms() const { return m_ms; }

protected:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (m_ms < 0 && event->type() == QEvent::Paint && object->isWidgetType()
            && static_cast<QWidget*>(object)->window() == m_window)
            m_ms = double(m_clock.nsecsElapsed()) / 1e6;
        return false;
    }

private:
    QWidget* m_window;
    QElapsedTimer m_clock;
    double m_ms = -1;
};

double showAndWaitForPaint(QWidget* window)
{
    FirstPaint paint(window);
    window->show();
    if (!QTest::qWaitFor([&] { return paint.done(); }, 60000))
        qFatal("the window never painted");
    return paint.ms();
}

double medianRepaint(QWidget* window)
{
    std::vector<double> times;
    for (int i = 0; i < kRepaints; ++i) {
        QElapsedTimer timer;
        timer.start();
        window->repaint();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void print(const char* what, double ms, double anchorMs, const char* goal)
{
    std::printf("%-62s %9.2f ms  (%6.2fx anchor)  goal %s\n", what, ms, ms / anchorMs, goal);
}

} // namespace

int main(int argc, char** argv)
{
    const double beforeMain = sinceProcessStart();
    QElapsedTimer sinceMain;
    sinceMain.start();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Kit::Theme::install(app);
    const double toApplication = double(sinceMain.nsecsElapsed()) / 1e6;

    // The fixture, not timed: an isolated home with the cached catalog.
    QTemporaryDir home;
    const InstallRoots roots = HubModel::isolatedRoots(home.path());
    QDir().mkpath(roots.support);
    {
        QFile file(QDir(roots.support).filePath(u"catalog.json"_s));
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write the catalog");
        Catalog catalog = Bench::generatedCatalog(kProducts);
        catalog.updated = u"2030-01-01T00:00:00Z"_s;
        file.write(catalog.toJson());
    }
    auto log = std::make_shared<Test::CallLog>();
    auto identity = std::make_shared<Test::FakeIdentity>(log);
    auto devices = std::make_shared<Test::FakeDevices>(log);
    devices->stored = DeviceLoad::found(DeviceSession{u"tok"_s, u"dev"_s, {u"u1"_s, u"ada@example.com"_s, u"Ada"_s}});

    // The anchor: a bare window of the same size.
    QWidget bare;
    bare.resize(1040, 720);
    const double bareFirstPaint = showAndWaitForPaint(&bare);
    const double bareRepaint = medianRepaint(&bare);
    bare.hide();

    QElapsedTimer build;
    build.start();
    auto installer = std::make_shared<PluginInstaller>(std::make_shared<SystemAURegistry>(), false, 5.0);
    HubModelServices services;
    services.service = std::make_shared<Test::FakeService>(log);
    services.identity = identity;
    services.codes = identity;
    services.devices = devices;
    services.installerFor = [installer](PluginInstaller::URLResolver, std::stop_token) {
        return std::shared_ptr<const PluginInstalling>(installer);
    };
    services.uninstaller = installer;
    services.packages = std::make_shared<Test::FakePackages>(log);
    services.network = std::make_shared<Test::FakeNetwork>();
    services.clock = makeSystemClock();
    services.workspace = std::make_shared<Test::FakeWorkspace>();
    services.runningDAWs = [] { return QStringList(); };
    services.catalog = {QString(), QUrl(u"https://127.0.0.1:1/catalog.json"_s), home.filePath(u"none.json"_s)};
    services.home = home.path();
    services.cpu = Machine::cpu();
    services.macOSVersion = u"14.0.0"_s;
    services.sandboxed = true;
    HubModel model(std::move(services));
    if (!model.catalog() || model.catalog()->products.size() != std::size_t(kProducts))
        qFatal("the cached catalog was not used");
    // The main screen as the program makes it.
    Shell::Application shell(&model, nullptr,
                             [&model](QWidget* parent) { return new Views::MainView(&model, parent); });
    const double modelAndWindow = double(build.nsecsElapsed()) / 1e6;
    const double firstPaint = showAndWaitForPaint(shell.window());

    model.setScreen(Screen::main);
    QCoreApplication::processEvents();
    const double repaint = medianRepaint(shell.window());

    const double total = beforeMain + toApplication + modelAndWindow + firstPaint;
    std::printf("window_bench: %d products in the cached catalog, window %dx%d offscreen\n", kProducts,
                shell.window()->width(), shell.window()->height());
    std::printf("  process start to main %.0f ms, QApplication and theme %.1f ms, model and window %.1f ms,"
                " show to first paint %.1f ms\n",
                beforeMain, toApplication, modelAndWindow, firstPaint);
    print("process start to the window's first paint", total, bareFirstPaint, "< 600 ms");
    print("anchor: show to first paint of a bare window", bareFirstPaint, bareFirstPaint, "-");
    print("one full repaint of the window on its main screen (median)", repaint, bareRepaint, "< 16 ms");
    print("anchor: one repaint of a bare window (median)", bareRepaint, bareRepaint, "-");
    model.shutdown();
    return 0;
}

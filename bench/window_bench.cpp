// From process start to the first paint of the signed-in main window on its
// plug-ins tab, with a 2,000-product cached catalog, beside an empty
// QMainWindow program's first paint; then one full repaint of each. Every
// figure is a fresh process: the window side is this program run as a child
// (the shell, the model and the views the program runs, over the model
// tests' fakes for the service and the sign-in), the anchor side
// window_bench_anchor. The two run in turn, the order alternating, and the
// ratio is taken pair by pair. Offscreen.
//
// The splash stays up at least 0.8 s on purpose; the child's clock skips
// that wait, so the figure is the work alone.
//
// Run by hand: build/bench/window_bench [pairs]
#include "BenchCatalog.h"
#include "ModelTestSupport.h"
#include "PairStats.h"

#include "Base/Machine.h"
#include "Installer/PluginInstaller.h"
#include "Installer/SystemAURegistry.h"
#include "Kit/Theme.h"
#include "Shell/Application.h"
#include "Shell/CommandLine.h"
#include "Shell/MainWindow.h"
#include "Views/Frame/MainView.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <functional>
#include <ctime>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace Qt::StringLiterals;
using namespace Hub;

namespace {

constexpr int kProducts = 2000;
constexpr int kRepaints = 50;
constexpr int kDefaultPairs = 11;
constexpr char kChild[] = "--child";

std::int64_t monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// The moment the last widget of `root`'s first paint pass painted (a pass
// paints every dirty widget in one go); then `after` runs, once.
class FirstPaint : public QObject {
public:
    FirstPaint(std::function<QWidget*()> root, std::function<void()> after)
        : m_root(std::move(root))
        , m_after(std::move(after))
    {
        qApp->installEventFilter(this);
    }
    std::int64_t at() const { return m_at; }

protected:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (event->type() != QEvent::Paint || !object->isWidgetType())
            return false;
        QWidget* root = m_root();
        auto* widget = static_cast<QWidget*>(object);
        if (!root || (widget != root && !root->isAncestorOf(widget)))
            return false;
        if (m_at == 0)
            QTimer::singleShot(0, qApp, m_after);
        m_at = monotonicNs();
        return false;
    }

private:
    std::function<QWidget*()> m_root;
    std::function<void()> m_after;
    std::int64_t m_at = 0;
};

double medianRepaint(QWidget* window)
{
    std::vector<double> times;
    for (int i = 0; i < kRepaints; ++i) {
        QElapsedTimer timer;
        timer.start();
        window->repaint();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    return ::Bench::stats(times).median;
}

// The child: the window as the program builds it, signed in, over the
// cached catalog in `home`. Prints when its main screen first painted and
// its median full repaint.
int windowChild(int argc, char** argv, const QString& home)
{
    QApplication app(argc, argv);
    Shell::setIdentity();
    Kit::Theme::install(app);

    auto log = std::make_shared<Test::CallLog>();
    auto identity = std::make_shared<Test::FakeIdentity>(log);
    auto devices = std::make_shared<Test::FakeDevices>(log);
    devices->stored = DeviceLoad::found(DeviceSession{u"tok"_s, u"dev"_s, {u"u1"_s, u"ada@example.com"_s, u"Ada"_s}});
    auto clock = std::make_shared<Test::FakeClock>();
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
    services.clock = clock;
    services.workspace = std::make_shared<Test::FakeWorkspace>();
    services.runningDAWs = [] { return QStringList(); };
    services.catalog = {QString(), QUrl(u"https://127.0.0.1:1/catalog.json"_s), QDir(home).filePath(u"none.json"_s)};
    services.home = home;
    services.cpu = Machine::cpu();
    services.macOSVersion = u"14.0.0"_s;
    services.sandboxed = true;
    HubModel model(std::move(services));
    if (!model.catalog() || model.catalog()->products.size() != std::size_t(kProducts))
        qFatal("the cached catalog was not used");

    QWidget* mainView = nullptr;
    Shell::Application shell(&model, nullptr, [&](QWidget* parent) {
        mainView = new Views::MainView(&model, parent);
        return mainView;
    });
    double repaint = 0;
    FirstPaint paint([&] { return mainView; },
                     [&] {
                         repaint = medianRepaint(shell.window());
                         QCoreApplication::quit();
                     });
    shell.window()->show(); // starts the model
    clock->advance(HubModel::kSplashSeconds);
    QTimer::singleShot(60000, qApp, [] { qFatal("the main screen never painted"); });
    QApplication::exec();

    std::printf("%lld %.4f\n", static_cast<long long>(paint.at()), repaint);
    model.shutdown();
    return 0;
}

struct Run {
    double toFirstPaintMs = 0;
    double repaintMs = 0;
};

// Runs `argv` with `home` as its home folder; its one line of output is
// "<monotonic ns at first paint> <median repaint ms>".
Run runChild(const std::vector<std::string>& arguments, const QString& home)
{
    int out[2];
    if (::pipe(out) != 0)
        qFatal("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    qputenv("HOME", QFile::encodeName(home));
    pid_t pid = 0;
    const std::int64_t started = monotonicNs();
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        qFatal("cannot start %s", argv[0]);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    std::string line;
    char chunk[256];
    for (ssize_t got; (got = ::read(out[0], chunk, sizeof chunk)) > 0;)
        line.append(chunk, std::size_t(got));
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    long long paintedAt = 0;
    double repaint = 0;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || std::sscanf(line.c_str(), "%lld %lf", &paintedAt, &repaint) != 2)
        qFatal("%s failed: %s", argv[0], line.c_str());
    return {double(paintedAt - started) / 1e6, repaint};
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc == 3 && std::strcmp(argv[1], kChild) == 0)
        return windowChild(argc, argv, QString::fromLocal8Bit(argv[2]));
    const int pairs = argc > 1 ? std::max(1, std::atoi(argv[1])) : kDefaultPairs;

    // The fixture, made once: an isolated home with the cached catalog.
    QTemporaryDir home;
    const InstallRoots roots = HubModel::isolatedRoots(home.path());
    QDir().mkpath(roots.support);
    {
        QFile file(QDir(roots.support).filePath(u"catalog.json"_s));
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write the catalog");
        Catalog catalog = Hub::Bench::generatedCatalog(kProducts);
        catalog.updated = u"2030-01-01T00:00:00Z"_s;
        file.write(catalog.toJson());
    }
    const QString runtime = home.filePath(u"run"_s);
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    const std::string self = QFile::encodeName(QFileInfo(u"/proc/self/exe"_s).symLinkTarget()).toStdString();
    const std::string anchor = QFile::encodeName(QFileInfo(QString::fromStdString(self)).dir().filePath(
                                                     u"window_bench_anchor"_s))
                                   .toStdString();
    const std::string homePath = QFile::encodeName(home.path()).toStdString();

    std::vector<double> window, bare, ratio, windowRepaint, bareRepaint, repaintRatio;
    for (int i = 0; i < pairs; ++i) {
        Run a, b;
        if (i % 2 == 0) {
            a = runChild({self, kChild, homePath}, home.path());
            b = runChild({anchor}, home.path());
        } else {
            b = runChild({anchor}, home.path());
            a = runChild({self, kChild, homePath}, home.path());
        }
        window.push_back(a.toFirstPaintMs);
        bare.push_back(b.toFirstPaintMs);
        ratio.push_back(a.toFirstPaintMs / b.toFirstPaintMs);
        windowRepaint.push_back(a.repaintMs);
        bareRepaint.push_back(b.repaintMs);
        repaintRatio.push_back(a.repaintMs / b.repaintMs);
    }

    const auto row = [](const char* what, const std::vector<double>& values, const char* unit, const char* goal) {
        const ::Bench::Stats s = ::Bench::stats(values);
        std::printf("  %-66s min %8.2f%s  median %8.2f%s  %s\n", what, s.min, unit, s.median, unit, goal);
    };
    std::printf("window_bench: %d products in the cached catalog, signed in, window 1040x720 offscreen; %d pairs,"
                " each process new, the order alternating\n",
                kProducts, pairs);
    row("process start to the main window's first paint (plug-ins tab)", window, " ms", "");
    row("anchor: process start to an empty QMainWindow's first paint", bare, " ms", "");
    row("ratio, pair by pair", ratio, "x  ", "");
    row("one full repaint of the main window (median of 50)", windowRepaint, " ms", "goal < 16 ms");
    row("anchor: one repaint of the empty QMainWindow (median of 50)", bareRepaint, " ms", "");
    row("ratio, pair by pair", repaintRatio, "x  ", "");
    return 0;
}

// The window's start as a person meets it: the real program (hubtarn, which
// starts hubtarn-window) run sandboxed against the local maker's service, as
// scripts/try runs it, from process start through the splash and the
// sign-in screen to the signed-in main window with its full plug-ins tab;
// beside an empty QMainWindow program's first paint (window_bench_anchor).
// A probe loaded into the program the way the end-to-end driver is
// (window_bench_probe) signs in the moment the sign-in screen shows and
// notes when each screen painted and the memory once the full tab is idle.
//
// The window's own work is the time from start to the full tab less what is
// not the window's: the splash's fixed minimum (0.8 s, on purpose) and the
// sign-in's round trip to the service (the button pressed to the main
// screen chosen). Every figure is a fresh process; the two programs run in
// turn, the order alternating, and the ratios are taken pair by pair.
//
// Goals: the window's own work within 2x the anchor's first paint, and the
// signed-in window's idle memory within 1.5x the anchor's, medians.
//
// Needs a display: run by hand under a virtual one,
//   xvfb-run -a -s "-screen 0 1280x800x24" build/bench/window_bench [pairs]
#include "PairStats.h"
#include "ProcessFigures.h"

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace Qt::StringLiterals;

namespace {

constexpr int kDefaultPairs = 11;
constexpr double kSplashMs = 800; // the splash's minimum, from the launch

using Bench::monotonicNs;

std::vector<char*> pointers(std::vector<std::string>& strings)
{
    std::vector<char*> list;
    for (std::string& s : strings)
        list.push_back(s.data());
    list.push_back(nullptr);
    return list;
}

// The local service, started in `folder`; ready once it said where its
// profile is (it writes the profile before it says so).
class LocalService {
public:
    explicit LocalService(const QString& folder)
    {
        int out[2];
        if (::pipe(out) != 0)
            qFatal("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<std::string> arguments{HUB_LOCAL_SERVICE, QFile::encodeName(folder).toStdString()};
        std::vector<char*> argv = pointers(arguments);
        if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            qFatal("cannot start %s", HUB_LOCAL_SERVICE);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        std::string said;
        char chunk[512];
        for (ssize_t got; said.find("Service profile:") == std::string::npos
             && ((got = ::read(out[0], chunk, sizeof chunk)) > 0 || (got < 0 && errno == EINTR));) {
            if (got > 0)
                said.append(chunk, std::size_t(got));
        }
        m_output = out[0]; // kept open: the service may still write
        if (said.find("Service profile:") == std::string::npos)
            qFatal("the local service ended before it was ready: %s", said.c_str());
    }
    ~LocalService()
    {
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
        ::close(m_output);
    }

private:
    pid_t m_pid = 0;
    int m_output = -1;
};

// Runs `program` with exactly `environment`, waits for it, and gives the
// numbers it wrote to `out`; `started` is when it was started.
std::vector<long long> run(const std::string& program, std::vector<std::string> environment, const QString& out,
                           long long* started)
{
    QFile::remove(out);
    std::vector<std::string> arguments{program};
    std::vector<char*> argv = pointers(arguments);
    std::vector<char*> envp = pointers(environment);
    pid_t pid = 0;
    *started = monotonicNs();
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0)
        qFatal("cannot start %s", program.c_str());
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    QFile file(out);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !file.open(QIODevice::ReadOnly))
        qFatal("%s ended with status %d and no figures", program.c_str(), status);
    std::vector<long long> numbers;
    for (const QByteArray& word : file.readAll().simplified().split(' '))
        numbers.push_back(word.toLongLong());
    return numbers;
}

void copyTree(const QString& from, const QString& to)
{
    for (QDirIterator it(from, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
         it.hasNext();) {
        const QString path = it.next();
        const QString target = QDir(to).filePath(QDir(from).relativeFilePath(path));
        if (it.fileInfo().isDir())
            QDir().mkpath(target);
        else if (!QDir().mkpath(QFileInfo(target).path()) || !QFile::copy(path, target))
            qFatal("cannot copy %s", qPrintable(path));
    }
}

std::string variable(const char* name, const QString& value)
{
    return std::string(name) + '=' + QFile::encodeName(value).toStdString();
}

} // namespace

int main(int argc, char** argv)
{
    const int pairs = argc > 1 ? std::max(1, std::atoi(argv[1])) : kDefaultPairs;
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "window_bench needs a display; run it under xvfb-run -a -s \"-screen 0 1280x800x24\"\n");
        return 2;
    }
    QTemporaryDir scratch;
    if (!scratch.isValid())
        qFatal("no scratch folder");
    const QString serviceFolder = scratch.filePath(u"service"_s);
    const LocalService service(serviceFolder);

    // An account that asks for no code: the sign-in is one round trip.
    QString email, password;
    {
        QFile file(QDir(serviceFolder).filePath(u"accounts.json"_s));
        if (!file.open(QIODevice::ReadOnly))
            qFatal("the local service wrote no accounts");
        for (const QJsonValue& value : QJsonDocument::fromJson(file.readAll()).array()) {
            const QJsonObject account = value.toObject();
            if (!account.contains(u"code"_s)) {
                email = account.value(u"email"_s).toString();
                password = account.value(u"password"_s).toString();
                break;
            }
        }
        if (email.isEmpty())
            qFatal("the local service has no account without a code");
    }

    // The home scripts/try gives a new user: an older product installed.
    const QString home = scratch.filePath(u"home"_s);
    const QString runtime = QDir(home).filePath(u"run"_s);
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    copyTree(QDir(serviceFolder).filePath(u"home-seed"_s), home);
    const QString out = scratch.filePath(u"figures"_s);

    // The session scripts/try gives the program, and nothing else of this one.
    std::vector<std::string> common{
        variable("PATH", qEnvironmentVariable("PATH")),
        variable("HOME", home),
        variable("XDG_RUNTIME_DIR", runtime),
        "LANG=C.UTF-8",
        variable("DBUS_SESSION_BUS_ADDRESS", u"unix:path="_s + QDir(home).filePath(u"no-bus"_s)),
        variable("DISPLAY", qEnvironmentVariable("DISPLAY")),
        variable("XAUTHORITY", qEnvironmentVariable("XAUTHORITY")),
        "QT_QPA_PLATFORM=xcb",
        variable("WINDOW_BENCH_OUT", out),
    };
    std::vector<std::string> windowEnvironment = common;
    for (const std::string& more : {variable("HUBTARN_SANDBOX", u"1"_s),
                                    variable("HUBTARN_SERVICE_PROFILE", QDir(serviceFolder).filePath(u"profile.json"_s)),
                                    variable("HUBTARN_TEST_DRIVER", QString::fromUtf8(WINDOW_BENCH_PROBE)),
                                    variable("WINDOW_BENCH_EMAIL", email), variable("WINDOW_BENCH_PASSWORD", password)})
        windowEnvironment.push_back(more);

    std::vector<double> toFirst, toLogin, roundTrip, toMainPaint, toFull, total, own, bare, ratio, windowKiB, bareKiB,
        memoryRatio, firstRatio;
    const auto window = [&] {
        long long started = 0;
        const std::vector<long long> n = run(HUB_PROGRAM, windowEnvironment, out, &started);
        if (n.size() != 7 || n[0] == 0 || n[5] == 0)
            qFatal("the probe's figures are incomplete");
        const auto ms = [](long long from, long long to) { return double(to - from) / 1e6; };
        toFirst.push_back(ms(started, n[0]));
        toLogin.push_back(ms(started, n[1]));
        roundTrip.push_back(ms(n[2], n[3]));
        toMainPaint.push_back(ms(n[3], n[4]));
        toFull.push_back(ms(n[4], n[5]));
        total.push_back(ms(started, n[5]));
        own.push_back(total.back() - kSplashMs - roundTrip.back());
        windowKiB.push_back(double(n[6]));
    };
    const auto anchor = [&] {
        long long started = 0;
        const std::vector<long long> n = run(WINDOW_BENCH_ANCHOR, common, out, &started);
        if (n.size() != 2)
            qFatal("the anchor's figures are incomplete");
        bare.push_back(double(n[0] - started) / 1e6);
        bareKiB.push_back(double(n[1]));
    };
    window(); // the warm-up: the page cache and the font cache
    anchor();
    toFirst.clear(), toLogin.clear(), roundTrip.clear(), toMainPaint.clear(), toFull.clear(), total.clear(), own.clear();
    bare.clear(), windowKiB.clear(), bareKiB.clear();
    for (int i = 0; i < pairs; ++i) {
        if (i % 2 == 0) {
            window();
            anchor();
        } else {
            anchor();
            window();
        }
        ratio.push_back(own.back() / bare.back());
        firstRatio.push_back(toFirst.back() / bare.back());
        memoryRatio.push_back(windowKiB.back() / bareKiB.back());
    }

    const auto row = [](const char* what, std::vector<double> values, double scale, const char* unit,
                        const char* goal = "") {
        for (double& value : values)
            value *= scale;
        const ::Bench::Stats s = ::Bench::stats(values);
        std::printf("  %-72s min %8.2f%s  median %8.2f%s  %s\n", what, s.min, unit, s.median, unit, goal);
    };
    std::printf("window_bench: the real program, sandboxed, against the local service; signed in as %s the moment"
                " the sign-in screen shows; %d pairs, each process new, the order alternating\n",
                qPrintable(email), pairs);
    row("start to the window's first paint (the splash)", toFirst, 1, " ms");
    row("start to the sign-in screen painted (the splash's 800 ms inside)", toLogin, 1, " ms");
    row("sign-in round trip (Sign In pressed to the main screen)", roundTrip, 1, " ms");
    row("main screen chosen to its first paint", toMainPaint, 1, " ms");
    row("first paint to the full plug-ins tab painted", toFull, 1, " ms");
    row("start to the full plug-ins tab", total, 1, " ms");
    row("the window's own work (less the splash's 800 ms and the round trip)", own, 1, " ms");
    row("anchor: start to an empty QMainWindow's first paint", bare, 1, " ms");
    row("the window's own work / the anchor's first paint, pair by pair", ratio, 1, "x  ", "goal <= 2x");
    row("the splash's first paint / the anchor's, pair by pair", firstRatio, 1, "x  ");
    row("signed-in window's memory, idle after the full tab (VmRSS)", windowKiB, 1.0 / 1024, " MiB");
    row("anchor: the empty QMainWindow's, idle after its first paint", bareKiB, 1.0 / 1024, " MiB");
    row("memory / the anchor's, pair by pair", memoryRatio, 1, "x  ", "goal <= 1.5x");
    return 0;
}

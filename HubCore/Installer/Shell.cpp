#include "Installer/Shell.h"

#include <QFile>

#include <cerrno>
#include <chrono>
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace Qt::StringLiterals;

namespace Hub::Shell {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How long a group asked to terminate gets before it is killed, and how long
// output is still read after the child exited while something else keeps
// the pipe open.
constexpr milliseconds kTerminateGrace{2000};
constexpr milliseconds kDrainAfterExit{500};
// Without a process descriptor the exit is noticed by polling this often.
constexpr milliseconds kExitPollInterval{20};

class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }
    int get() const { return m_fd; }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

// The spawn attributes and file actions, released on every path.
struct SpawnSetup {
    posix_spawnattr_t attributes{};
    posix_spawn_file_actions_t actions{};
    bool ready = false;

    explicit SpawnSetup(int writeEnd)
    {
        if (posix_spawnattr_init(&attributes) != 0)
            return;
        if (posix_spawn_file_actions_init(&actions) != 0) {
            posix_spawnattr_destroy(&attributes);
            return;
        }
        ready = true;
        // Its own process group, so a time-out reaches the scripts' helpers too.
        posix_spawnattr_setpgroup(&attributes, 0);
        // The child starts with no blocked signals and default dispositions for
        // those this process may ignore or handle (SIGPIPE for one).
        sigset_t empty;
        sigemptyset(&empty);
        posix_spawnattr_setsigmask(&attributes, &empty);
        sigset_t defaults;
        sigemptyset(&defaults);
        for (int signal : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGCHLD, SIGUSR1, SIGUSR2, SIGALRM})
            sigaddset(&defaults, signal);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        posix_spawn_file_actions_adddup2(&actions, writeEnd, STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, writeEnd, STDERR_FILENO);
    }
    ~SpawnSetup()
    {
        if (ready) {
            posix_spawn_file_actions_destroy(&actions);
            posix_spawnattr_destroy(&attributes);
        }
    }
};

Result launchFailure(const QString& executable, int error)
{
    return {-1, u"Couldn't run "_s + executable + u": "_s + QString::fromLocal8Bit(std::strerror(error))};
}

int openProcessDescriptor(pid_t pid)
{
#ifdef SYS_pidfd_open
    const long fd = ::syscall(SYS_pidfd_open, pid, 0);
    if (fd >= 0) {
        ::fcntl(int(fd), F_SETFD, FD_CLOEXEC);
        return int(fd);
    }
#else
    (void)pid;
#endif
    return -1;
}

int remainingMs(Clock::time_point now, std::optional<Clock::time_point> until)
{
    if (!until)
        return -1;
    if (*until <= now)
        return 0;
    return int(std::chrono::ceil<milliseconds>(*until - now).count());
}

} // namespace

Result run(const QString& executable, const QStringList& arguments, double timeout)
{
    if (std::isnan(timeout))
        return {-1, u"Couldn't run "_s + executable + u": the time-out is not a number"_s};

    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
        return launchFailure(executable, errno);
    Fd readEnd(pipeEnds[0]);
    Fd writeEnd(pipeEnds[1]);

    const QByteArray path = QFile::encodeName(executable);
    std::vector<QByteArray> encoded;
    encoded.reserve(size_t(arguments.size()) + 1);
    encoded.push_back(path);
    for (const QString& argument : arguments)
        encoded.push_back(argument.toUtf8());
    std::vector<char*> argv;
    for (QByteArray& a : encoded)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = -1;
    {
        SpawnSetup setup(writeEnd.get());
        if (!setup.ready)
            return launchFailure(executable, ENOMEM);
        // posix_spawn reports a failed exec (missing file, no permission) as
        // its own result, so a launch failure never looks like a child's exit.
        const int error = ::posix_spawn(&pid, path.constData(), &setup.actions, &setup.attributes, argv.data(),
                                        environ);
        if (error != 0)
            return launchFailure(executable, error);
    }
    writeEnd.reset();

    Fd processFd(openProcessDescriptor(pid));
    const Clock::time_point start = Clock::now();
    // Positive infinity waits as long as the child runs; anything below zero
    // has already passed.
    std::optional<Clock::time_point> deadline;
    if (timeout != HUGE_VAL) {
        const double seconds = std::clamp(timeout, 0.0, 365.0 * 24 * 3600);
        deadline = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    }

    QByteArray output;
    bool pipeOpen = true;
    bool exited = false;
    int waitStatus = 0;
    bool timedOut = false;
    std::optional<Clock::time_point> killAt;
    std::optional<Clock::time_point> drainUntil;
    std::optional<Clock::time_point> abandonAt;
    bool abandoned = false;

    auto reap = [&](bool block) {
        if (exited)
            return;
        for (;;) {
            const pid_t r = ::waitpid(pid, &waitStatus, block ? 0 : WNOHANG);
            if (r == pid) {
                exited = true;
                return;
            }
            if (r < 0 && errno == EINTR)
                continue;
            if (r < 0) {
                // Reaped elsewhere: nothing to report but the signal we sent.
                exited = true;
                waitStatus = timedOut ? SIGTERM : 0;
            }
            return;
        }
    };

    char buffer[65536];
    while (pipeOpen || !exited) {
        const Clock::time_point now = Clock::now();
        if (!exited && !timedOut && deadline && now >= *deadline) {
            reap(false);
            if (!exited) {
                timedOut = true;
                ::kill(-pid, SIGTERM);
                killAt = now + kTerminateGrace;
            }
        }
        if (killAt && now >= *killAt) {
            // Whoever still runs in the group ignored the request.
            ::kill(-pid, SIGKILL);
            killAt.reset();
            abandonAt = now + kTerminateGrace;
        }
        if (abandonAt && now >= *abandonAt && !exited) {
            // A child we may not signal (one that changed its user): report the
            // time-out and leave its exit to a reaper of its own.
            std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
            abandoned = true;
            break;
        }
        if (exited && pipeOpen) {
            if (!drainUntil)
                drainUntil = now + kDrainAfterExit;
            if (now >= *drainUntil && !killAt)
                break;
        }

        std::optional<Clock::time_point> wake;
        auto earliest = [&](std::optional<Clock::time_point> t) {
            if (t && (!wake || *t < *wake))
                wake = t;
        };
        if (!timedOut && !exited)
            earliest(deadline);
        earliest(killAt);
        if (!exited)
            earliest(abandonAt);
        if (exited)
            earliest(drainUntil);
        if (!exited && processFd.get() < 0)
            earliest(now + kExitPollInterval);

        pollfd fds[2];
        nfds_t count = 0;
        int pipeIndex = -1;
        int processIndex = -1;
        if (pipeOpen) {
            pipeIndex = int(count);
            fds[count++] = {readEnd.get(), POLLIN, 0};
        }
        if (!exited && processFd.get() >= 0) {
            processIndex = int(count);
            fds[count++] = {processFd.get(), POLLIN, 0};
        }
        const int ready = ::poll(fds, count, remainingMs(now, wake));
        if (ready < 0 && errno != EINTR) {
            if (!exited)
                ::kill(-pid, SIGKILL);
            break;
        }
        if (ready > 0 && pipeIndex >= 0 && fds[pipeIndex].revents) {
            const ssize_t n = ::read(readEnd.get(), buffer, sizeof buffer);
            if (n > 0) {
                output.append(buffer, n);
                // Trimmed in large steps, so that a chatty child costs no
                // quadratic copying.
                if (output.size() > 2 * kMaxOutputBytes)
                    output.remove(0, output.size() - kMaxOutputBytes);
            }
            else if (n == 0 || (errno != EINTR && errno != EAGAIN))
                pipeOpen = false;
        }
        if (!exited && (processIndex < 0 || (ready > 0 && fds[processIndex].revents)))
            reap(false);
    }
    readEnd.reset();
    if (!abandoned)
        reap(true);

    if (output.size() > kMaxOutputBytes) {
        output.remove(0, output.size() - kMaxOutputBytes);
        // Start at a whole character rather than with a replacement character.
        qsizetype skip = 0;
        while (skip < 3 && skip < output.size() && (static_cast<unsigned char>(output[skip]) & 0xC0) == 0x80)
            ++skip;
        output.remove(0, skip);
    }

    std::int32_t status = 0;
    if (timedOut)
        status = SIGTERM;
    else if (WIFEXITED(waitStatus))
        status = WEXITSTATUS(waitStatus);
    else if (WIFSIGNALED(waitStatus))
        status = WTERMSIG(waitStatus);
    return {status, QString::fromUtf8(output)};
}

QString quoted(const QString& text)
{
    QString inner = text;
    inner.replace(u"'"_s, u"'\\''"_s);
    return u'\'' + inner + u'\'';
}

QString assignments(std::initializer_list<std::pair<QLatin1StringView, const QString*>> lines)
{
    QString text;
    for (const auto& [name, value] : lines)
        text += name + u'=' + quoted(*value) + u'\n';
    return text;
}

} // namespace Hub::Shell

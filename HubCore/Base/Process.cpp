#include "Base/Process.h"

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
#include <utility>
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
    int release() { return std::exchange(m_fd, -1); }
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

// `timeout` seconds from `start`: none for positive infinity; anything below
// zero has already passed.
std::optional<Clock::time_point> deadlineAfter(Clock::time_point start, double timeout)
{
    if (timeout == HUGE_VAL)
        return std::nullopt;
    const double seconds = std::clamp(timeout, 0.0, 365.0 * 24 * 3600);
    return start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// Starts `path` with `arguments`, its output and errors into `writeEnd`;
// 0 with `pid` set, or the reason it could not start.
int spawn(const QByteArray& path, const QStringList& arguments, int writeEnd, pid_t& pid)
{
    std::vector<QByteArray> encoded;
    encoded.reserve(size_t(arguments.size()) + 1);
    encoded.push_back(path);
    for (const QString& argument : arguments)
        encoded.push_back(argument.toUtf8());
    std::vector<char*> argv;
    for (QByteArray& a : encoded)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    SpawnSetup setup(writeEnd);
    if (!setup.ready)
        return ENOMEM;
    // posix_spawn reports a failed exec (missing file, no permission) as its
    // own result, so a launch failure never looks like a child's exit.
    return ::posix_spawn(&pid, path.constData(), &setup.actions, &setup.attributes, argv.data(), environ);
}

// Keeps only the last kMaxOutputBytes, starting at a whole character rather
// than with a replacement character.
void keepTail(QByteArray& output)
{
    if (output.size() <= kMaxOutputBytes)
        return;
    output.remove(0, output.size() - kMaxOutputBytes);
    qsizetype skip = 0;
    while (skip < 3 && skip < output.size() && (static_cast<unsigned char>(output[skip]) & 0xC0) == 0x80)
        ++skip;
    output.remove(0, skip);
}

// One started child, watched until it and its pipe are done with: the output
// read, the deadline enforced, the exit reaped.
class ChildWatch {
public:
    // Takes `readEnd`, the pipe's read end, to close.
    ChildWatch(pid_t pid, int readEnd, std::optional<Clock::time_point> deadline)
        : m_pid(pid), m_readEnd(readEnd), m_processFd(openProcessDescriptor(pid)), m_deadline(deadline)
    {
    }

    Result await()
    {
        while (m_pipeOpen || !m_exited) {
            const Clock::time_point now = Clock::now();
            if (!advanceTimers(now) || !waitForEvents(now))
                break;
        }
        m_readEnd.reset();
        if (!m_abandoned)
            reap(true);
        keepTail(m_output);
        return {status(), QString::fromUtf8(m_output)};
    }

private:
    // Acts on whichever point in time has come: the deadline, the kill, the
    // abandonment, the end of the drain. False when the watch is over.
    bool advanceTimers(Clock::time_point now)
    {
        if (!m_exited && !m_timedOut && m_deadline && now >= *m_deadline) {
            reap(false);
            if (!m_exited) {
                m_timedOut = true;
                ::kill(-m_pid, SIGTERM);
                m_killAt = now + kTerminateGrace;
            }
        }
        if (m_killAt && now >= *m_killAt) {
            // Whoever still runs in the group ignored the request.
            ::kill(-m_pid, SIGKILL);
            m_killAt.reset();
            m_abandonAt = now + kTerminateGrace;
        }
        if (m_abandonAt && now >= *m_abandonAt && !m_exited) {
            // A child we may not signal (one that changed its user): report the
            // time-out and leave its exit to a reaper of its own.
            std::thread([pid = m_pid] { ::waitpid(pid, nullptr, 0); }).detach();
            m_abandoned = true;
            return false;
        }
        if (m_exited && m_pipeOpen) {
            if (!m_drainUntil)
                m_drainUntil = now + kDrainAfterExit;
            if (now >= *m_drainUntil && !m_killAt)
                return false;
        }
        return true;
    }

    // The next point in time advanceTimers() acts on; none to wait for events only.
    std::optional<Clock::time_point> nextWake(Clock::time_point now) const
    {
        std::optional<Clock::time_point> wake;
        auto earliest = [&](std::optional<Clock::time_point> t) {
            if (t && (!wake || *t < *wake))
                wake = t;
        };
        if (!m_timedOut && !m_exited)
            earliest(m_deadline);
        earliest(m_killAt);
        if (!m_exited)
            earliest(m_abandonAt);
        if (m_exited)
            earliest(m_drainUntil);
        if (!m_exited && m_processFd.get() < 0)
            earliest(now + kExitPollInterval);
        return wake;
    }

    // Waits for output, the child's exit or the next wake, and takes what
    // came. False when polling itself failed.
    bool waitForEvents(Clock::time_point now)
    {
        pollfd fds[2];
        nfds_t count = 0;
        int pipeIndex = -1;
        int processIndex = -1;
        if (m_pipeOpen) {
            pipeIndex = int(count);
            fds[count++] = {m_readEnd.get(), POLLIN, 0};
        }
        if (!m_exited && m_processFd.get() >= 0) {
            processIndex = int(count);
            fds[count++] = {m_processFd.get(), POLLIN, 0};
        }
        const int ready = ::poll(fds, count, remainingMs(now, nextWake(now)));
        if (ready < 0 && errno != EINTR) {
            if (!m_exited)
                ::kill(-m_pid, SIGKILL);
            return false;
        }
        if (ready > 0 && pipeIndex >= 0 && fds[pipeIndex].revents)
            readOutput();
        if (!m_exited && (processIndex < 0 || (ready > 0 && fds[processIndex].revents)))
            reap(false);
        return true;
    }

    void readOutput()
    {
        char buffer[65536];
        const ssize_t n = ::read(m_readEnd.get(), buffer, sizeof buffer);
        if (n > 0) {
            m_output.append(buffer, n);
            // Trimmed in large steps, so that a chatty child costs no
            // quadratic copying.
            if (m_output.size() > 2 * kMaxOutputBytes)
                m_output.remove(0, m_output.size() - kMaxOutputBytes);
        }
        else if (n == 0 || (errno != EINTR && errno != EAGAIN))
            m_pipeOpen = false;
    }

    void reap(bool block)
    {
        if (m_exited)
            return;
        for (;;) {
            const pid_t r = ::waitpid(m_pid, &m_waitStatus, block ? 0 : WNOHANG);
            if (r == m_pid) {
                m_exited = true;
                return;
            }
            if (r < 0 && errno == EINTR)
                continue;
            if (r < 0) {
                // Reaped elsewhere: nothing to report but the signal we sent.
                m_exited = true;
                m_waitStatus = m_timedOut ? SIGTERM : 0;
            }
            return;
        }
    }

    std::int32_t status() const
    {
        if (m_timedOut)
            return SIGTERM;
        if (WIFEXITED(m_waitStatus))
            return WEXITSTATUS(m_waitStatus);
        if (WIFSIGNALED(m_waitStatus))
            return WTERMSIG(m_waitStatus);
        return 0;
    }

    const pid_t m_pid;
    Fd m_readEnd;
    Fd m_processFd;
    const std::optional<Clock::time_point> m_deadline;
    QByteArray m_output;
    bool m_pipeOpen = true;
    bool m_exited = false;
    int m_waitStatus = 0;
    bool m_timedOut = false;
    bool m_abandoned = false;
    std::optional<Clock::time_point> m_killAt;
    std::optional<Clock::time_point> m_drainUntil;
    std::optional<Clock::time_point> m_abandonAt;
};

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

    pid_t pid = -1;
    if (const int error = spawn(QFile::encodeName(executable), arguments, writeEnd.get(), pid); error != 0)
        return launchFailure(executable, error);
    writeEnd.reset();

    const std::optional<Clock::time_point> deadline = deadlineAfter(Clock::now(), timeout);
    return ChildWatch(pid, readEnd.release(), deadline).await();
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

#include "Reports/ReportSpool.h"
#include "Reports/SpoolLock.h"

#include "ReportsTestSupport.h"

#include <QFileInfo>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <utility>
#include <string>

#include <fcntl.h>
#include <time.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

using Hub::RecordResult;
using Hub::Report;
namespace SpoolLock = Hub::SpoolLock;
using Clock = std::chrono::steady_clock;

// After fork() in a threaded test process the child may only make
// async-signal-safe calls: open, fcntl, read, write, _exit.
bool lockWhole(int fd, short type, int command)
{
    struct flock request{};
    request.l_type = type;
    request.l_whence = SEEK_SET;
    request.l_start = 0;
    request.l_len = 0;
    return ::fcntl(fd, command, &request) == 0;
}

// Another process holding the spool's lock file until released, the way a
// plug-in does.
class OtherProcessHolding {
public:
    explicit OtherProcessHolding(const std::string& lockPath)
    {
        int ready[2];
        int release[2];
        if (::pipe(ready) != 0 || ::pipe(release) != 0)
            throw std::runtime_error("pipe");
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(ready[0]);
            ::close(release[1]);
            // Polled rather than F_SETLKW, so a lock this process never
            // releases fails the test instead of hanging it.
            const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT, 0666);
            bool locked = false;
            for (int i = 0; fd >= 0 && i < 300 && !(locked = lockWhole(fd, F_WRLCK, F_SETLK)); ++i) {
                const timespec pause{0, 10'000'000};
                ::nanosleep(&pause, nullptr);
            }
            const char ok = locked ? 'y' : 'n';
            (void)!::write(ready[1], &ok, 1);
            char byte;
            (void)!::read(release[0], &byte, 1); // until the parent writes or dies
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        m_release = release[1];
        char ok = 'n';
        m_locked = ::read(ready[0], &ok, 1) == 1 && ok == 'y';
        ::close(ready[0]);
    }

    ~OtherProcessHolding() { stop(); }

    bool locked() const { return m_locked; }

    void stop()
    {
        if (m_pid <= 0)
            return;
        (void)!::write(m_release, "x", 1);
        ::close(m_release);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
    }

private:
    pid_t m_pid = -1;
    int m_release = -1;
    bool m_locked = false;
};

// Whether another process can take the lock on `path` right now.
bool otherProcessCanLock(const std::string& path)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::open(path.c_str(), O_RDWR);
        ::_exit(fd >= 0 && lockWhole(fd, F_WRLCK, F_SETLK) ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class SpoolLockTest : public Hub::Test::SpoolFixture {
protected:
    QString lockPath() const { return QDir(spool.lockFolders().first()).filePath(SpoolLock::name()); }
    std::string lockPathBytes() const { return QFile::encodeName(lockPath()).toStdString(); }
};

TEST_F(SpoolLockTest, LockFileLivesInTheSharedJuceLockFolderUnderTheHome)
{
    ASSERT_TRUE(spool.record(makeReport(u"hub"_s, u"install"_s)).recorded());
    EXPECT_EQ(spool.lockFolders(),
              (QStringList{home.filePath(u".cache/com.juce.locks"_s), u"/tmp/com.juce.locks"_s}));
    // The maker's reverse-domain prefix, as the plug-ins name it.
    const QString bundle = Hub::Config::bundleID();
    EXPECT_EQ(SpoolLock::name(), bundle.left(bundle.lastIndexOf(u'.')) + u".reports"_s);
    EXPECT_TRUE(QFileInfo(lockPath()).isFile());
    EXPECT_EQ(QFileInfo(lockPath()).size(), 0);
}

TEST_F(SpoolLockTest, RecordGivesUpWaitingAfterAboutASecondAndStillWrites)
{
    QDir().mkpath(spool.lockFolders().first());
    OtherProcessHolding plugin(lockPathBytes());
    ASSERT_TRUE(plugin.locked());

    // On a thread, so that a spool that would wait forever fails the test
    // (the holder then lets go and the thread ends) instead of hanging it.
    auto recording = std::async(std::launch::async, [this] {
        const auto start = Clock::now();
        const RecordResult result = spool.record(makeReport(u"hub"_s, u"install"_s));
        return std::make_pair(result, Clock::now() - start);
    });
    if (recording.wait_for(30s) != std::future_status::ready)
        ADD_FAILURE() << "record still waits for the other process after 30 s";
    plugin.stop();
    const auto [result, elapsed] = recording.get();

    EXPECT_TRUE(result.recorded());
    EXPECT_TRUE(QFileInfo::exists(reportPath(u"hub"_s, u"hub.install"_s)));
    EXPECT_GE(elapsed, 950ms) << "it must wait for the other process first";
    EXPECT_LT(elapsed, 10s) << "it must not wait for the other process forever";
}

TEST_F(SpoolLockTest, TheLockIsTakenAsSoonAsTheOtherProcessLetsGo)
{
    ASSERT_TRUE(spool.record(makeReport(u"hub"_s, u"first"_s)).recorded()); // creates the lock file
    OtherProcessHolding plugin(lockPathBytes());
    ASSERT_TRUE(plugin.locked());

    // A wait far longer than any load could stretch the bound below, so that
    // only the other process letting go can end it in time.
    auto opening = std::async(std::launch::async, [this] {
        const std::lock_guard guard(SpoolLock::local());
        const auto start = Clock::now();
        const int fd = SpoolLock::open(spool.lockFolders(), 60s);
        return std::make_pair(fd, Clock::now() - start);
    });
    plugin.stop();
    const auto [fd, elapsed] = opening.get();

    ASSERT_GE(fd, 0);
    EXPECT_FALSE(otherProcessCanLock(lockPathBytes())) << "the lock must be held, not given up on";
    SpoolLock::release(fd);
    EXPECT_LT(elapsed, 10s);
}

TEST_F(SpoolLockTest, OtherProcessesAreShutOutWhileTheSpoolWritesAndLetInAfter)
{
    ASSERT_TRUE(spool.record(makeReport(u"hub"_s, u"install"_s)).recorded());
    const std::string path = lockPathBytes();

    bool excludedInside = false;
    SpoolLock::with(spool.lockFolders(), SpoolLock::kTimeout, [&] { excludedInside = !otherProcessCanLock(path); });
    EXPECT_TRUE(excludedInside) << "the body must run under the file lock";
    EXPECT_TRUE(otherProcessCanLock(path)) << "the file lock must be released after the body";

    spool.deleteFiles(spool.load());
    EXPECT_TRUE(otherProcessCanLock(path)) << "delete must release the file lock too";
}

TEST_F(SpoolLockTest, BodyPassesItsExceptionAndReleasesBothLocks)
{
    ASSERT_TRUE(spool.record(makeReport(u"hub"_s, u"install"_s)).recorded());
    EXPECT_THROW(SpoolLock::with(spool.lockFolders(), SpoolLock::kTimeout, []() -> int { throw std::runtime_error("x"); }),
                 std::runtime_error);
    EXPECT_TRUE(otherProcessCanLock(lockPathBytes()));
    EXPECT_TRUE(SpoolLock::local().try_lock());
    SpoolLock::local().unlock();
}

TEST_F(SpoolLockTest, UsesTheNextFolderWhenTheFirstCannotBeCreated)
{
    // The cache folder is a file, so the first lock folder cannot exist.
    const QString first = spool.lockFolders().first();
    Hub::Test::writeBytes(QFileInfo(first).path(), "not a folder");
    const QString fallback = home.filePath(u"fallback-locks"_s);
    const QStringList folders{first, fallback};

    const int fd = SpoolLock::open(folders, SpoolLock::kTimeout);
    ASSERT_GE(fd, 0);
    const std::string path = QFile::encodeName(QDir(fallback).filePath(SpoolLock::name())).toStdString();
    EXPECT_FALSE(otherProcessCanLock(path));
    SpoolLock::release(fd);
    EXPECT_TRUE(otherProcessCanLock(path));
}

TEST_F(SpoolLockTest, NoUsableFolderStillRunsTheBody)
{
    Hub::Test::writeBytes(home.filePath(u"blocked"_s), "file");
    const QStringList folders{home.filePath(u"blocked/a"_s), home.filePath(u"blocked/b"_s)};
    EXPECT_EQ(SpoolLock::open(folders, 100ms), -1);
    EXPECT_EQ(SpoolLock::with(folders, 100ms, [] { return 7; }), 7);
}

TEST_F(SpoolLockTest, ASymlinkPlantedAsTheLockFileIsNotFollowed)
{
    const QString folder = home.filePath(u"locks"_s);
    QDir().mkpath(folder);
    const QString target = home.filePath(u"victim"_s);
    ASSERT_TRUE(QFile::link(target, QDir(folder).filePath(SpoolLock::name())));
    const int fd = SpoolLock::open({folder}, 100ms);
    SpoolLock::release(fd);
    EXPECT_EQ(fd, -1);
    EXPECT_FALSE(QFileInfo::exists(target)) << "the link's target must not be created";
}

} // namespace

#include "Base/Process.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

using Hub::Shell::Result;
using Clock = std::chrono::steady_clock;

Result sh(const QString& script, double timeout = 10.0)
{
    return Hub::Shell::run(u"/bin/sh"_s, {u"-c"_s, script}, timeout);
}

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// --- Output: everything the child wrote, in order, whole ---------------

TEST(ShellOutput, StandardOutputAndErrorShareOnePipeInTheOrderWritten)
{
    const Result result = sh(u"echo one; echo two >&2; echo three; echo four >&2"_s);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, u"one\ntwo\nthree\nfour\n"_s);
}

TEST(ShellOutput, MoreThanAPipeBufferCompletesWhole)
{
    // 300 000 bytes: several times any pipe buffer; the child blocks unless
    // the runner reads while it waits.
    const Result result = sh(u"i=0; while [ $i -lt 3000 ]; do printf '%099d\\n' $i; i=$((i+1)); done"_s);
    ASSERT_EQ(result.status, 0);
    ASSERT_EQ(result.output.size(), 300000);
    EXPECT_TRUE(result.output.startsWith(QString(98, u'0') + u"0\n"_s));
    EXPECT_TRUE(result.output.endsWith(QString(95, u'0') + u"2999\n"_s));
}

TEST(ShellOutput, AnOutputPastTheCapKeepsItsTailFromAWholeCharacter)
{
    // 9 000 005 bytes of "é\n" lines: the cut falls inside a character.
    const Result result = sh(u"yes \u00e9 | head -n 3000000; echo TAIL"_s);
    ASSERT_EQ(result.status, 0);
    const QByteArray bytes = result.output.toUtf8();
    EXPECT_LE(bytes.size(), Hub::Shell::kMaxOutputBytes);
    EXPECT_GE(bytes.size(), Hub::Shell::kMaxOutputBytes - 3);
    EXPECT_TRUE(result.output.endsWith(u"é\nTAIL\n"_s));
    EXPECT_FALSE(result.output.contains(QChar::ReplacementCharacter));
}

TEST(ShellOutput, InvalidUtf8BecomesReplacementCharacters)
{
    const Result result = sh(u"printf 'caf\\303\\251 \\377!'"_s);
    EXPECT_EQ(result.output, u"café \uFFFD!"_s);
}

TEST(ShellOutput, ArgumentsReachTheProgramUnchanged)
{
    const Result result = Hub::Shell::run(u"/bin/sh"_s,
                                          {u"-c"_s, u"printf '[%s]' \"$@\""_s, u"hub"_s, u"two words"_s,
                                           u"it's \"quoted\" $HOME"_s, u""_s},
                                          10.0);
    EXPECT_EQ(result.output, u"[two words][it's \"quoted\" $HOME][]"_s);
}

// --- Status: the child's, or -1 when it never ran ----------------------

TEST(ShellStatus, ExitCodeIsReportedAsItIs)
{
    EXPECT_EQ(sh(u"exit 0"_s).status, 0);
    EXPECT_EQ(sh(u"exit 1"_s).status, 1);
    EXPECT_EQ(sh(u"exit 126"_s).status, 126);
}

TEST(ShellStatus, AChildEndedByASignalReportsTheSignalNumber)
{
    EXPECT_EQ(sh(u"kill -9 $$"_s).status, 9);
}

TEST(ShellStatus, AMissingProgramGivesMinusOneAndAReason)
{
    const Result result = Hub::Shell::run(u"/nonexistent/tarnhub-tool"_s, {u"-v"_s}, 5.0);
    EXPECT_EQ(result.status, -1);
    EXPECT_TRUE(result.output.contains(u"/nonexistent/tarnhub-tool"_s)) << result.output.toStdString();
    EXPECT_TRUE(result.output.contains(u"No such file"_s)) << result.output.toStdString();
}

TEST(ShellStatus, AFileThatIsNotExecutableGivesMinusOne)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"not-a-program"_s);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\necho ran\n");
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);

    const Result result = Hub::Shell::run(path, {}, 5.0);
    EXPECT_EQ(result.status, -1);
    EXPECT_FALSE(result.output.isEmpty());
    EXPECT_FALSE(result.output.contains(u"ran"_s));
}

TEST(ShellStatus, NoSearchPathIsUsed)
{
    EXPECT_EQ(Hub::Shell::run(u"sh"_s, {u"-c"_s, u"true"_s}, 5.0).status, -1);
}

// --- Time-out: the call always returns, reporting status 15 -------------

TEST(ShellTimeout, ASleepingChildIsEndedWithStatus15AndKeepsItsOutput)
{
    const auto start = Clock::now();
    const Result result = sh(u"echo started; exec sleep 30"_s, 0.3);
    EXPECT_EQ(result.status, 15);
    EXPECT_EQ(result.output, u"started\n"_s);
    EXPECT_GE(secondsSince(start), 0.3);
    EXPECT_LT(secondsSince(start), 10.0);
}

TEST(ShellTimeout, AGrandchildHoldingThePipeDoesNotKeepTheCallWaiting)
{
    // The shell forks sleep, which inherits the pipe: a terminate request to
    // the shell alone would leave the read waiting for 30 seconds.
    const auto start = Clock::now();
    const Result result = sh(u"echo before; sleep 30; echo after"_s, 0.3);
    EXPECT_EQ(result.status, 15);
    EXPECT_EQ(result.output, u"before\n"_s);
    // Long before the grandchild's own end.
    EXPECT_LT(secondsSince(start), 10.0);
}

TEST(ShellTimeout, AGroupThatIgnoresTheTerminateRequestIsKilled)
{
    // An ignored SIGTERM is inherited by the sleep too; only SIGKILL ends them.
    const auto start = Clock::now();
    const Result result = sh(u"trap '' TERM; sleep 30; echo survived"_s, 0.2);
    EXPECT_EQ(result.status, 15);
    EXPECT_FALSE(result.output.contains(u"survived"_s));
    EXPECT_LT(secondsSince(start), 20.0);
}

TEST(ShellTimeout, AChildThatExitsCleanlyOnTheRequestStillReportsTheTimeOut)
{
    // A tool that catches SIGTERM and exits 0 did not finish its work; a
    // status of 0 would read as success.
    const Result result = sh(u"trap 'exit 0' TERM; sleep 30 & wait"_s, 0.3);
    EXPECT_EQ(result.status, 15);
}

TEST(ShellTimeout, AChildFinishedInTimeIsNotTouched)
{
    const Result result = sh(u"sleep 0.1; echo done; exit 3"_s, 5.0);
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.output, u"done\n"_s);
}

TEST(ShellTimeout, InfinityMeansNoTimeOutAndNaNStartsNothing)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString marker = dir.filePath(u"ran"_s);
    const QString script = u"sleep 0.2; touch '"_s + marker + u"'; echo done"_s;

    const Result endless = sh(script, HUGE_VAL);
    EXPECT_EQ(endless, (Result{0, u"done\n"_s}));
    ASSERT_TRUE(QFile::remove(marker));

    const Result refused = sh(script, std::nan(""));
    EXPECT_EQ(refused.status, -1);
    EXPECT_EQ(refused.output, u"Couldn't run /bin/sh: the time-out is not a number"_s);
    EXPECT_FALSE(QFile::exists(marker)) << "nothing may run with a time-out that means nothing";
}

TEST(ShellTimeout, AHelperLeftRunningAfterTheChildExitsDoesNotHoldTheResult)
{
    const auto start = Clock::now();
    const Result result = sh(u"sleep 30 & echo bye"_s, 60.0);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, u"bye\n"_s);
    EXPECT_LT(secondsSince(start), 10.0);
}

TEST(ShellTimeout, ManyCallsAtOnceEachGetTheirOwnResult)
{
    std::vector<std::thread> threads;
    std::vector<Result> results(8);
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([i, &results] {
            results[size_t(i)] = sh(u"echo %1; exit %1"_s.arg(i), 10.0);
        });
    for (auto& thread : threads)
        thread.join();
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(results[size_t(i)].status, i);
        EXPECT_EQ(results[size_t(i)].output, QString::number(i) + u'\n');
    }
}

} // namespace

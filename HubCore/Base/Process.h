#pragma once

#include <QLatin1StringView>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <initializer_list>
#include <utility>

// Runs external programs: the platform tools, the embedded scripts.
namespace Hub::Shell {

struct Result {
    // The exit code; the signal's number for a child ended by a signal
    // (15 after a time-out); -1 when the program could not be started.
    std::int32_t status = -1;
    // Standard output and standard error together, in the order written,
    // as UTF-8 (invalid bytes become U+FFFD); only the last kMaxOutputBytes
    // bytes of a longer output; the reason when the launch failed.
    QString output;

    friend bool operator==(const Result&, const Result&) = default;
};

// How much of a child's output run() keeps: the tail, since callers read
// the end (the last lines of a failed script, a tool's final verdict).
inline constexpr qsizetype kMaxOutputBytes = 4 * 1024 * 1024;

// Runs `executable` (an absolute path, no search path, no shell) with
// `arguments` and waits for it; environment, working folder and standard
// input are this process's. Blocks the calling thread; never throws.
//
// `timeout` is in seconds; positive infinity means none. NaN is refused:
// nothing is started and the result is status -1 with the reason.
//
// The child leads its own process group. When `timeout` seconds pass, the
// whole group is asked to terminate (SIGTERM) and, after a short grace
// period, killed (SIGKILL), and the result reports status 15. Once the child
// has exited, the output of helpers it left running is read for a short
// grace period only, so a grandchild holding the pipe never keeps the call
// from returning.
Result run(const QString& executable, const QStringList& arguments, double timeout);

// `text` as one single-quoted /bin/sh word: nothing inside is expanded, and
// each quote becomes '\''.
QString quoted(const QString& text);

// One "name='value'" line per pair, in order: the header of tool paths an
// embedded script starts with, since it runs as root and must never look a
// tool up on the search path.
QString assignments(std::initializer_list<std::pair<QLatin1StringView, const QString*>> lines);

} // namespace Hub::Shell

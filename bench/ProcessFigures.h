#pragma once

// Shared by window_bench, its probe and its anchor: figures that three
// processes take the same way, so that they compare.
#include <QByteArray>
#include <QFile>
#include <QString>

#include <ctime>

namespace Bench {

// The system's monotonic clock in nanoseconds: one clock for every process.
inline long long monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// This process's resident set in KiB, as the kernel counts it; -1 unknown.
inline long long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

} // namespace Bench

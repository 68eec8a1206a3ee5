#pragma once

// Shared by the benchmarks: wall-clock timing and the summary of a series
// of per-pair figures.
#include <algorithm>
#include <chrono>
#include <vector>

namespace Bench {

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Stats {
    double min = 0;
    double median = 0;
};

inline Stats stats(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return {values.front(), values[values.size() / 2]};
}

} // namespace Bench

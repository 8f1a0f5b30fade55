// What the benchmark programs share: a deterministic generator of input, a sink that keeps
// results from being optimised away, and the median of repeated timed runs.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace remitrax::bench {

using Clock = std::chrono::steady_clock;

// Results land here so that no stage can be optimised away.
inline volatile std::uint64_t g_sink = 0;

// splitmix64: deterministic, so every run generates the same input.
class SplitMix {
  public:
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15u);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        return z ^ (z >> 31);
    }

  private:
    std::uint64_t state_ = 0x835835835u;
};

inline double seconds(Clock::time_point t0, Clock::time_point t1) {
    return std::chrono::duration<double>(t1 - t0).count();
}

// The median of `runs` runs of `run` after one warm-up run; `run` returns its own timing.
template <class Run>
double median_seconds(int runs, Run run) {
    run();
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        times.push_back(run());
    }
    std::sort(times.begin(), times.end());
    const std::size_t m = times.size() / 2;
    return times.size() % 2 == 1 ? times[m] : (times[m - 1] + times[m]) / 2;
}

// Reads a positive count given on the command line.
inline bool parse_count(const char* text, long& out) {
    char* end = nullptr;
    out = std::strtol(text, &end, 10);
    return *text != '\0' && *end == '\0' && out > 0;
}

}  // namespace remitrax::bench

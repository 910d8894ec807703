// What the benchmarks share to measure a run: CPU clocks, units, and the image they carry.
#pragma once

#include <time.h>

#include <cstddef>
#include <cstdint>

inline constexpr double kPercent = 100.0;
inline constexpr double kMsPerSecond = 1000.0;
inline constexpr double kSecondsPerNs = 1e-9;
inline constexpr int kDecimal = 10;  // the base of sizes given on the command line

// The random image every benchmark carries, so that their figures compare.
inline constexpr std::uint32_t kImageSeed = 20240501;
// The image of a smoke run: enough blocks to exercise the loop, quick even under sanitizers.
inline constexpr std::size_t kSmokeImageSize = std::size_t{16} * 1024;

// The CPU time of a clock (CLOCK_PROCESS_CPUTIME_ID, CLOCK_THREAD_CPUTIME_ID), in seconds.
inline double CpuSeconds(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * kSecondsPerNs;
}

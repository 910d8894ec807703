// Terminal detection over COM2..COM100: with no port present (every open fails at once), and
// with one present but silent port, which costs a full 512-byte read time-out (5.17 s) in each
// of the two passes.
//
// Usage: bench_detect [--runs N] [--smoke]
//   --smoke: only the no-port case, a few runs; fails only on a wrong result.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "download/process_exit.h"
#include "serial/com_mapping_posix.h"
#include "serial/serial_port.h"
#include "serial/terminal_detection.h"
#include "sim/simulator.h"

namespace {

using Clock = std::chrono::steady_clock;

double TimeDetection(std::uint16_t& result) {
  const Clock::time_point start = Clock::now();
  result = DetectTerminal();
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  EndProcessOnSignals();  // a stop mid-run releases the port
  constexpr int kRuns = 50;
  int runs = kRuns;
  bool smoke = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--smoke") {
      smoke = true;
      runs = 3;
    } else if (arg == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr, "usage: %s [--runs N] [--smoke]\n", argv[0]);
      return 2;
    }
  }
  bool ok = true;

  // No port present: an empty COM directory.
  char dir[] = "/tmp/corvanel-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  setenv(kComDirVariable, dir, 1);
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    std::uint16_t result = 0;
    times.push_back(TimeDetection(result));
    ok = ok && result == DETECT_NONE && !g_terminalPort.IsOpen();
  }
  std::sort(times.begin(), times.end());
  std::printf("none present, COM2..COM100, two passes (%d runs):\n", runs);
  std::printf("  min %.3f ms, median %.3f ms, max %.3f ms (target under 50 ms)\n", times.front(),
              times[times.size() / 2], times.back());
  std::fflush(stdout);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);

  if (!smoke) {
    // One silent device on COM5.
    sim::CSimulator simulator;
    sim::DeviceConfig config;
    constexpr int kSilentPort = 5;  // an early port: every later one is scanned after it
    config.comNumber = kSilentPort;
    config.model.reset();
    config.maker.reset();
    simulator.Add(config);
    std::string error;
    if (!simulator.Start(error)) {
      std::fprintf(stderr, "simulator: %s\n", error.c_str());
      return 1;
    }
    setenv(kComDirVariable, simulator.ComDir().c_str(), 1);
    std::uint16_t result = 0;
    const double ms = TimeDetection(result);
    ok = ok && result == DETECT_NONE && !g_terminalPort.IsOpen();
    std::printf("one silent port (COM5), two passes:\n");
    std::printf("  %.3f ms (two read time-outs: 2 x 5170 = 10340 ms)\n", ms);

    // And, for comparison, a terminal that answers on COM100, the last port of pass 1.
    simulator.Stop();
    sim::CSimulator second;
    sim::DeviceConfig answering;
    answering.comNumber = kLastCandidatePort;
    second.Add(answering);
    if (!second.Start(error)) {
      std::fprintf(stderr, "simulator: %s\n", error.c_str());
      return 1;
    }
    setenv(kComDirVariable, second.ComDir().c_str(), 1);
    const double found = TimeDetection(result);
    ok = ok && result == DETECT_FOUND && g_terminalPort.IsOpen();
    CloseTerminalPort();
    std::printf("terminal on COM100, found in pass 1:\n");
    std::printf("  %.3f ms (its answer plus the 50 ms gap)\n", found);
    second.Stop();
  }
  unsetenv(kComDirVariable);
  std::printf("result: %s\n", ok ? "ok" : "FAILED");
  return ok ? 0 : 1;
}

// corvanel-cli station on a bench of simulated terminals, paced at 230400 baud: N units at once
// (16, 32 and 64 unless --units N), each carrying the same 200 KB image.
//
// For each bench size:
// - the station with --once against N terminals there from the start: every image byte for
//   byte, the whole station's time against one download's floor (the identification
//   exchange, the AT check, the dial, the transfer: transfer_floor.h; the unit's own probe
//   is one more identification exchange, in the measured time), and the CPU of the station and
//   its units together (their rusage) as a share of one core over that time;
// - the station started with no terminal, then the N terminals plugged in 50 ms apart: the time
//   from each plug (the COMn link in place) to the first AT request the terminal receives,
//   median and worst.
// The simulator runs in this process and is not counted. --smoke: 2 units, a 16 KB image, once.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_image.h"
#include "bench/measure.h"
#include "bench/transfer_floor.h"
#include "download/download_worker.h"
#include "serial/com_mapping_posix.h"
#include "serial/terminal_detection.h"
#include "sim/simulator.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::size_t kImageSize = std::size_t{200} * 1000;
constexpr double kMicrosPerSecond = 1e6;
constexpr int kFirstCom = 2;
constexpr auto kPlugInterval = 50ms;
constexpr double kTargetRatio16 = 1.02, kTargetRatio64 = 1.04;
constexpr double kTargetCpu16 = 10, kTargetCpu64 = 30;  // % of one core

struct Bench {
  sim::CSimulator sim;
  bool Start(int units, bool plugged) {
    for (int i = 0; i < units; ++i) {
      sim::DeviceConfig config;
      config.comNumber = kFirstCom + i;
      config.pacing = true;
      config.plugged = plugged;
      sim.Add(config);
    }
    std::string error;
    if (!sim.Start(error)) {
      std::fprintf(stderr, "bench_station: %s\n", error.c_str());
      return false;
    }
    setenv(kComDirVariable, sim.ComDir().c_str(), 1);
    return true;
  }
};

pid_t StartStation(const std::vector<std::string>& args) {
  std::vector<std::string> all = {CORVANEL_CLI_EXE, "station"};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  argv.reserve(all.size() + 1);
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Waits for the station and adds its CPU (and its units', which it waited for) to `cpu`.
int WaitStation(pid_t pid, double& cpu) {
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  cpu += static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / kMicrosPerSecond;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// One download's floor: identification, AT check, dial, transfer.
double DownloadFloor(const std::vector<std::uint8_t>& image) {
  const sim::DeviceConfig config;
  const auto exchange = [](std::size_t request, std::size_t reply) {
    return LineSeconds(request) + LineSeconds(reply) + kReadGapSeconds;
  };
  return exchange(std::strlen("AT+CGMM\r\n"), config.model->size()) +
         exchange(std::strlen("AT\r\n"), config.check->size()) +
         std::max(kDialPauseMs / kMsPerSecond,
                  LineSeconds(std::strlen("ATD**60\r\n")) + LineSeconds(config.dial->size())) +
         kReadGapSeconds + TransferFloor(PlannedTransfer(image));
}

bool RunOnce(int units, const CBenchImage& image, bool smoke) {
  Bench bench;
  if (!bench.Start(units, true)) return false;
  const double floor = DownloadFloor(image.Bytes());
  const Clock::time_point start = Clock::now();
  const pid_t station = StartStation({image.Path(), "--once", "--no-record"});
  double cpu = 0;
  const int code = station > 0 ? WaitStation(station, cpu) : -1;
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  int whole = 0;
  // Where the time went: from the station's start to each unit's first request, and from its
  // first request to its end request.
  double firstAsked = std::numeric_limits<double>::max(), lastAsked = 0, longest = 0;
  for (const auto& line : bench.sim.Terminals()) {
    const sim::DeviceStats stats = line->Stats();
    whole += stats.image == image.Bytes() && stats.endFcsMatched ? 1 : 0;
    if (stats.atCommands.empty() || stats.exchanges.empty()) continue;
    const double asked =
        std::chrono::duration<double>(stats.atCommands.front().time - start).count();
    firstAsked = std::min(firstAsked, asked);
    lastAsked = std::max(lastAsked, asked);
    longest = std::max(longest, std::chrono::duration<double>(stats.exchanges.back().time -
                                                              stats.atCommands.front().time)
                                    .count());
  }
  bench.sim.Stop();
  const double share = cpu / wall * kPercent;
  std::printf("%2d units, --once: %d of %d byte for byte, exit code %d\n", units, whole, units,
              code);
  std::printf("  station %.3f s, one download's floor %.3f s: ratio %.4f", wall, floor,
              wall / floor);
  if (!smoke && (units == 16 || units == 64)) {
    std::printf(" (target %.2f or less)", units == 16 ? kTargetRatio16 : kTargetRatio64);
  }
  std::printf(
      "\n  first requests %.0f to %.0f ms after the start; the longest unit %.3f s from its "
      "first request to its end request",
      firstAsked * kMsPerSecond, lastAsked * kMsPerSecond, longest);
  std::printf("\n  station and units: %.2f s of CPU, %.1f %% of one core", cpu, share);
  if (!smoke && (units == 16 || units == 64)) {
    std::printf(" (target under %.0f %%)", units == 16 ? kTargetCpu16 : kTargetCpu64);
  }
  std::printf("\n");
  return code == 0 && whole == units;
}

bool RunPlugs(int units, const CBenchImage& image) {
  Bench bench;
  if (!bench.Start(units, false)) return false;
  const pid_t station = StartStation({image.Path(), "--no-record"});
  std::this_thread::sleep_for(500ms);  // the station's first look at the ports is behind it
  for (const auto& line : bench.sim.Terminals()) {
    line->Plug();
    std::this_thread::sleep_for(kPlugInterval);
  }
  std::vector<double> delays;
  for (const auto& line : bench.sim.Terminals()) {
    line->WaitFor([](const sim::DeviceStats& s) { return !s.atCommands.empty(); }, 30s);
    const sim::DeviceStats stats = line->Stats();
    if (stats.atCommands.empty()) continue;
    delays.push_back(
        std::chrono::duration<double>(stats.atCommands.front().time - stats.pluggedAt).count());
  }
  for (const auto& line : bench.sim.Terminals()) {
    line->WaitFor([](const sim::DeviceStats& s) { return s.endReceived; }, 600s);
  }
  kill(station, SIGTERM);
  double cpu = 0;
  WaitStation(station, cpu);
  bench.sim.Stop();
  std::sort(delays.begin(), delays.end());
  if (delays.empty()) {
    std::printf("  plugged in: no terminal was asked anything\n");
    return false;
  }
  std::printf(
      "  plugged in one by one: first AT request %.0f ms after the plug (median), %.0f "
      "ms at worst, %zu of %d asked (target under 1000 ms)\n",
      delays[delays.size() / 2] * kMsPerSecond, delays.back() * kMsPerSecond, delays.size(), units);
  return delays.size() == static_cast<std::size_t>(units) && delays.back() < 1.0;
}

}  // namespace

int main(int argc, char** argv) {
  bool smoke = false;
  std::vector<int> sizes = {16, 32, 64};
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--smoke") == 0) {
      smoke = true;
      sizes = {2};
    } else if (std::strcmp(argv[i], "--units") == 0 && i + 1 < argc) {
      sizes = {std::atoi(argv[++i])};
    } else {
      std::fprintf(stderr, "usage: bench_station [--smoke] [--units N]\n");
      return 2;
    }
  }
  CBenchImage image(smoke ? kSmokeImageSize : kImageSize, false);
  if (!image.Written()) return 1;
  bool ok = true;
  for (const int units : sizes) {
    if (units < 1 || units > kLastCandidatePort - kFirstCom + 1) {
      std::fprintf(stderr, "bench_station: --units takes 1 to 99\n");
      return 2;
    }
    ok = RunOnce(units, image, smoke) && ok;
    ok = RunPlugs(units, image) && ok;
  }
  return ok ? 0 : 1;
}

// The largest upgrade image (819,200 random bytes, 800 blocks) carried by RunTransfer through
// the simulated terminal and handset, timed against the protocol's floor.
//
// The floor of one exchange is the request frame's line time, the reply frame's line time and
// the 50 ms gap that ends the read after the reply's last byte; line time is bytes x 10 bits at
// 230400 baud. The frame sizes are those BuildFrame makes for this very image and those the
// handset answers with. Also measured over the transfer: process and transfer-thread CPU time
// as a share of wall time, and the allocations made on the transfer thread (operator new
// counted by tests/support/allocation_counter; the simulator's thread is not counted).
//
// Usage: bench_transfer [--paced | --unpaced] [--size BYTES] [--smoke]
//   default: a paced run (the line at 230400 baud, about 82 s) and an unpaced one (about 41 s).
//   --smoke: one short unpaced run of 16 KiB that fails only on a wrong result or allocations.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_image.h"
#include "bench/measure.h"
#include "bench/transfer_floor.h"
#include "download/block_transfer.h"
#include "download/process_exit.h"
#include "download/window_link.h"
#include "protocol/frame_codec.h"
#include "serial/com_mapping_posix.h"
#include "serial/serial_port.h"
#include "sim/simulator.h"
#include "tests/support/allocation_counter.h"
#include "tests/support/quiet_link.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kGapSeconds = kReadGapSeconds;
constexpr double kMedian = 0.5;
constexpr double kHighPercentile = 0.99;
constexpr int kComNumber = 9;

struct RunResult {
  bool ok = false;
  double wall = 0, floor = 0, gapsOnly = 0, cpuProcess = 0, cpuThread = 0;
  std::uint64_t allocations = 0;
  std::size_t exchanges = 0;
  std::size_t retries = 0;       // requests sent again after a failed attempt
  std::vector<double> excessMs;  // per exchange: time to the next request minus its floor
                                 // (unpaced: minus the 50 ms gap alone)
};

RunResult RunOnce(bool pacing, const std::vector<std::uint8_t>& image, const std::string& path) {
  RunResult r;
  const std::vector<FrameExchange> plan = PlannedTransfer(image);
  r.floor = TransferFloor(plan);
  r.gapsOnly = kGapSeconds * static_cast<double>(plan.size());

  sim::CSimulator simulator;
  sim::DeviceConfig config;
  config.comNumber = kComNumber;
  config.pacing = pacing;
  sim::CPtyLine& terminal = simulator.Add(config);
  std::string error;
  if (!simulator.Start(error)) {
    std::fprintf(stderr, "simulator: %s\n", error.c_str());
    return r;
  }
  setenv(kComDirVariable, simulator.ComDir().c_str(), 1);
  const std::string name = "\\\\.\\COM" + std::to_string(kComNumber);
  if (OpenTerminalPort(name.c_str()) != PORT_OK) {
    std::fprintf(stderr, "cannot open %s\n", name.c_str());
    return r;
  }
  const char dial[] = "ATD**60\r\n";
  WriteTerminal(reinterpret_cast<const std::uint8_t*>(dial), sizeof dial - 1);
  const std::uint16_t n = ReadTerminal(g_replyBuffer.data());
  if (std::string(reinterpret_cast<const char*>(g_replyBuffer.data()), n).find("CONNECT") ==
      std::string::npos) {
    std::fprintf(stderr, "no CONNECT\n");
    return r;
  }

  static char fileBuffer[BUFSIZ];  // the file's stdio buffer, as the worker gives it one
  g_upgradeFile = std::fopen(path.c_str(), "rb");
  if (g_upgradeFile == nullptr) {
    std::fprintf(stderr, "cannot open %s\n", path.c_str());
    return r;
  }
  std::setvbuf(g_upgradeFile, fileBuffer, _IOFBF, sizeof fileBuffer);
  g_sizeCounter = static_cast<std::uint32_t>(image.size() >> kBlockShift);
  CQuietLink link;
  SetMainWindowLink(&link);

  const double cpuProcess0 = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
  const double cpuThread0 = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
  const Clock::time_point start = Clock::now();
  std::uint16_t result = 0;
  {
    const CScopedAllocationCounter counter;
    result = RunTransfer();
    r.allocations = counter.Count();
  }
  const Clock::time_point stop = Clock::now();
  r.cpuThread = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - cpuThread0;
  r.cpuProcess = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpuProcess0;
  r.wall = std::chrono::duration<double>(stop - start).count();

  SetMainWindowLink(nullptr);
  std::fclose(g_upgradeFile);
  g_upgradeFile = nullptr;
  CloseTerminalPort();
  const sim::DeviceStats stats = terminal.Stats();
  simulator.Stop();
  unsetenv(kComDirVariable);

  r.exchanges = stats.frames;
  r.retries = stats.retries + stats.beginRepeats;
  r.ok =
      result == TRANSFER_OK && stats.rejected == 0 && stats.endFcsMatched && stats.image == image;
  if (!r.ok) {
    std::fprintf(stderr,
                 "transfer result %u, %zu frames (%zu planned), %zu retries, %zu rejected, "
                 "end FCS %s, image %s\n",
                 result, stats.frames, plan.size(), stats.retries, stats.rejected,
                 stats.endFcsMatched ? "matched" : "wrong",
                 stats.image == image ? "equal" : "different");
  }
  // A repeated request means the attempt before it failed: say when, for the reasons below.
  for (std::size_t i = 1; i < stats.exchanges.size(); ++i) {
    const sim::Exchange& e = stats.exchanges[i];
    if (e.attempt > 1) {
      const double after =
          std::chrono::duration<double, std::milli>(e.time - stats.exchanges[i - 1].time).count();
      std::printf("  retry: exchange %zu (%s %u, attempt %u) %.1f ms after the one before\n",
                  e.index, e.kind == sim::ExchangeKind::Data ? "block" : "request",
                  static_cast<unsigned>(e.sequence), e.attempt, after);
    }
  }
  // Time from one request's arrival at the handset to the next one's, against its floor.
  for (std::size_t i = 0; i + 1 < stats.exchanges.size() && i + 1 < plan.size(); ++i) {
    const double took =
        std::chrono::duration<double>(stats.exchanges[i + 1].time - stats.exchanges[i].time)
            .count();
    const double floor = pacing ? plan[i].Floor() : kGapSeconds;
    r.excessMs.push_back((took - floor) * kMsPerSecond);
  }
  return r;
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) {
    return 0;
  }
  std::sort(values.begin(), values.end());
  const auto at = static_cast<std::size_t>(std::lround(p * static_cast<double>(values.size() - 1)));
  return values[std::min(at, values.size() - 1)];
}

void Print(const char* title, bool pacing, const RunResult& r) {
  std::printf("%s\n", title);
  std::printf("  exchanges              %zu (%zu of them retries)\n", r.exchanges, r.retries);
  std::printf("  measured               %.3f s\n", r.wall);
  if (pacing) {
    std::printf("  protocol floor         %.3f s (line time of every frame + 50 ms per read)\n",
                r.floor);
    std::printf("  ratio                  %.4f (target 1.01 or less)\n", r.wall / r.floor);
  } else {
    std::printf("  floor without line     %.3f s (50 ms per read)\n", r.gapsOnly);
    std::printf("  ratio                  %.4f\n", r.wall / r.gapsOnly);
  }
  std::printf("  excess per exchange    median %.3f ms, 99%% %.3f ms, max %.3f ms\n",
              Percentile(r.excessMs, kMedian), Percentile(r.excessMs, kHighPercentile),
              Percentile(r.excessMs, 1.0));
  std::printf("  CPU, whole process     %.3f s = %.3f %% of wall (simulator included)\n",
              r.cpuProcess, kPercent * r.cpuProcess / r.wall);
  std::printf("  CPU, transfer thread   %.3f s = %.3f %% of wall (target below 1 %%)\n",
              r.cpuThread, kPercent * r.cpuThread / r.wall);
  std::printf("  allocations            %llu on the transfer thread (must be 0)\n",
              static_cast<unsigned long long>(r.allocations));
  std::printf("  result                 %s\n", r.ok ? "ok" : "FAILED");
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  EndProcessOnSignals();  // a stop mid-run releases the port
  bool paced = true;
  bool unpaced = true;
  std::size_t size = kImageBufferSize;
  if (!ParseBenchArgs(argc, argv,
                      {{"--paced", [&] { unpaced = false; }},
                       {"--unpaced", [&] { paced = false; }},
                       {"--smoke",
                        [&] {
                          paced = false;
                          size = kSmokeImageSize;
                        }}},
                      size, "[--paced | --unpaced] [--size BYTES] [--smoke]")) {
    return 2;
  }

  CBenchImage file(size, false);
  if (!file.Written()) {
    return 1;
  }
  const std::vector<std::uint8_t>& image = file.Bytes();
  const std::string& path = file.Path();
  std::printf("image: %zu random bytes, %zu whole blocks\n", size, size >> kBlockShift);

  bool ok = true;
  if (paced) {
    const RunResult r = RunOnce(true, image, path);
    Print("paced (230400 baud, 10 bits a byte, both directions):", true, r);
    ok = ok && r.ok && r.allocations == 0;
  }
  if (unpaced) {
    const RunResult r = RunOnce(false, image, path);
    Print("unpaced (the simulator answers at once):", false, r);
    ok = ok && r.ok && r.allocations == 0;
  }
  return ok ? 0 : 1;
}

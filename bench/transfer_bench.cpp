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
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "download/block_transfer.h"
#include "download/frame_codec.h"
#include "download/process_exit.h"
#include "download/window_link.h"
#include "serial/serial_port.h"
#include "serial/serial_posix.h"
#include "sim/simulator.h"
#include "tests/support/allocation_counter.h"
#include "tests/support/quiet_link.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kBaud = 230400.0;
constexpr double kBitsPerByte = 10.0;
constexpr double kGapSeconds = 0.050;  // the read's inter-byte time-out
constexpr int kComNumber = 9;

double CpuSeconds(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double LineSeconds(std::size_t bytes) { return static_cast<double>(bytes) * kBitsPerByte / kBaud; }

struct Exchange {
  std::size_t request = 0;  // frame bytes on the wire, flags included
  std::size_t reply = 0;
};

// The exchanges of a transfer that succeeds at every first attempt, with their frame sizes.
std::vector<Exchange> PlannedExchanges(const std::vector<std::uint8_t>& image) {
  std::vector<Exchange> plan;
  const std::size_t ack = sim::BuildFrame(sim::AckPacket()).size();
  SetFrameHeader();
  BuildControlPacket(CMD_BEGIN);
  plan.push_back({BuildFrame(g_packetArea.bytes.data(), kControlPacketSize), ack});
  std::uint16_t sequence = 0;
  for (std::size_t at = 0;; at += kBlockSize, ++sequence) {
    const std::size_t n = std::min(kBlockSize, image.size() - at);
    BuildDataPacket(CMD_DATA, sequence, image.data() + at, static_cast<std::uint16_t>(n));
    const std::uint16_t frame =
        BuildFrame(g_packetArea.bytes.data(), static_cast<std::uint16_t>(n + kPacketHeaderSize));
    plan.push_back({frame, sim::BuildFrame(sim::DataAckPacket(sequence)).size()});
    if (n < kBlockSize) {
      break;  // the short (possibly empty) last block ends the data phase, as end-of-file does
    }
  }
  g_imageFcs = ImageFcs(image.data(), static_cast<std::uint32_t>(image.size()));
  BuildControlPacket(CMD_END);
  plan.push_back({BuildFrame(g_packetArea.bytes.data(), kEndPacketSize), ack});
  return plan;
}

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
  const std::vector<Exchange> plan = PlannedExchanges(image);
  for (const Exchange& e : plan) {
    r.floor += LineSeconds(e.request) + LineSeconds(e.reply) + kGapSeconds;
  }
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
  WriteTerminal(reinterpret_cast<const std::uint8_t*>(dial), 9);
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
  r.ok = result == 0 && stats.rejected == 0 && stats.endFcsMatched && stats.image == image;
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
    const double floor =
        pacing ? LineSeconds(plan[i].request) + LineSeconds(plan[i].reply) + kGapSeconds
               : kGapSeconds;
    r.excessMs.push_back((took - floor) * 1000.0);
  }
  return r;
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) {
    return 0;
  }
  std::sort(values.begin(), values.end());
  const auto at = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
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
              Percentile(r.excessMs, 0.5), Percentile(r.excessMs, 0.99),
              Percentile(r.excessMs, 1.0));
  std::printf("  CPU, whole process     %.3f s = %.3f %% of wall (simulator included)\n",
              r.cpuProcess, 100.0 * r.cpuProcess / r.wall);
  std::printf("  CPU, transfer thread   %.3f s = %.3f %% of wall (target below 1 %%)\n",
              r.cpuThread, 100.0 * r.cpuThread / r.wall);
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
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--paced") {
      unpaced = false;
    } else if (arg == "--unpaced") {
      paced = false;
    } else if (arg == "--smoke") {
      paced = false;
      size = 16 * 1024;
    } else if (arg == "--size" && i + 1 < argc) {
      size = std::strtoul(argv[++i], nullptr, 10);
    } else {
      std::fprintf(stderr, "usage: %s [--paced | --unpaced] [--size BYTES] [--smoke]\n", argv[0]);
      return 2;
    }
  }
  if (size > kImageBufferSize) {
    std::fprintf(stderr, "at most %zu bytes\n", kImageBufferSize);
    return 2;
  }

  std::vector<std::uint8_t> image(size);
  std::mt19937 rng(20240501);
  for (auto& b : image) {
    b = static_cast<std::uint8_t>(rng());
  }
  char dir[] = "/tmp/corvanel-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string path = std::string(dir) + "/image.ldr";
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(image.data(), 1, image.size(), f);
    std::fclose(f);
  }
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
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return ok ? 0 : 1;
}

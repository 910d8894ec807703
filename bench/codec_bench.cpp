// Throughput of the frame codec on full 1,024-byte payloads: building a data frame, decoding a
// reply of that size, and the FCS-16. Random payloads escape about one byte in seven; the
// "escaped" variants use a payload in which every byte needs an escape (the worst case).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "bench/measure.h"
#include "protocol/frame_codec.h"

namespace {

constexpr std::uint16_t kPayload = static_cast<std::uint16_t>(kMaxPayload);

std::vector<std::uint8_t> Payload(bool escaped) {
  std::vector<std::uint8_t> bytes(kPayload, kFrameFlag);
  if (!escaped) {
    std::mt19937 rng(kImageSeed);
    for (auto& b : bytes) {
      b = static_cast<std::uint8_t>(rng());
    }
  }
  return bytes;
}

void BM_BuildFrame(benchmark::State& state) {
  const std::vector<std::uint8_t> payload = Payload(state.range(0) != 0);
  SetFrameHeader();
  BuildDataPacket(CMD_DATA, 0, payload.data(), kPayload);
  const auto length = static_cast<std::uint16_t>(kPayload + kPacketHeaderSize);
  std::uint16_t frame = 0;
  for (auto _ : state) {
    frame = BuildFrame(g_packetArea.bytes.data(), length);
    benchmark::DoNotOptimize(frame);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * length);
  state.counters["frame_bytes"] = frame;
}

void BM_ParseReply(benchmark::State& state) {
  const std::vector<std::uint8_t> payload = Payload(state.range(0) != 0);
  SetFrameHeader();
  BuildDataPacket(CMD_DATA, 0, payload.data(), kPayload);
  const std::uint16_t frameLength = BuildFrame(
      g_packetArea.bytes.data(), static_cast<std::uint16_t>(kPayload + kPacketHeaderSize));
  const std::vector<std::uint8_t> frame(g_frameBuffer.begin(), g_frameBuffer.begin() + frameLength);
  for (auto _ : state) {
    std::uint16_t count = frameLength;
    benchmark::DoNotOptimize(ParseReply(frame.data(), count));
    benchmark::DoNotOptimize(CheckReply(g_decodedReply.packet.data(), CMD_DATA, 0));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * frameLength);
}

void BM_Fcs16(benchmark::State& state) {
  const std::vector<std::uint8_t> payload = Payload(false);
  for (auto _ : state) {
    benchmark::DoNotOptimize(Fcs16(kFcsInitial, payload.data(), kPayload));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kPayload);
}

BENCHMARK(BM_BuildFrame)->ArgName("escaped")->Arg(0)->Arg(1);
BENCHMARK(BM_ParseReply)->ArgName("escaped")->Arg(0)->Arg(1);
BENCHMARK(BM_Fcs16);

}  // namespace

BENCHMARK_MAIN();

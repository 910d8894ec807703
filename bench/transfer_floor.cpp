#include "bench/transfer_floor.h"

#include <algorithm>

#include "download/block_transfer.h"
#include "protocol/frame_codec.h"
#include "sim/frame_reader.h"

double LineSeconds(std::size_t bytes) {
  return static_cast<double>(bytes) * kLineBitsPerByte / kLineBaud;
}

std::vector<FrameExchange> PlannedTransfer(const std::vector<std::uint8_t>& image) {
  std::vector<FrameExchange> plan;
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

double TransferFloor(const std::vector<FrameExchange>& plan) {
  double floor = 0;
  for (const FrameExchange& e : plan) {
    floor += e.Floor();
  }
  return floor;
}

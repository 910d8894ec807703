// libFuzzer target: the simulator's frame reader on arbitrary line bytes.
//
// The first input byte picks how the rest is split into pushes; the events must not depend on
// the split. Every accepted frame must hold a consistent packet, and the packet re-framed by
// BuildFrame must come back through a fresh reader unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "sim/frame_reader.h"

namespace {

void Require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

bool SameEvents(const std::vector<sim::FrameEvent>& a, const std::vector<sim::FrameEvent>& b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].accepted != b[i].accepted || a[i].wireBytes != b[i].wireBytes ||
        a[i].packet != b[i].packet || (!a[i].accepted && a[i].reason != b[i].reason)) {
      return false;
    }
  }
  return true;
}

void CheckRoundTrip(const std::vector<std::uint8_t>& packet) {
  const std::vector<std::uint8_t> frame = sim::BuildFrame(packet);
  sim::CFrameReader reader;
  std::vector<sim::FrameEvent> events;
  reader.Push(frame.data(), frame.size(), events);
  Require(events.size() == 1 && events[0].accepted && events[0].packet == packet &&
          events[0].wireBytes == frame.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const std::size_t step = (data[0] % 16) + 1;
  const std::vector<std::uint8_t> line(data + 1, data + size);

  sim::CFrameReader whole;
  std::vector<sim::FrameEvent> once;
  whole.Push(line.data(), line.size(), once);

  sim::CFrameReader split;
  std::vector<sim::FrameEvent> pieces;
  for (std::size_t at = 0; at < line.size(); at += step) {
    const std::size_t n = line.size() - at < step ? line.size() - at : step;
    std::vector<std::uint8_t> piece(line.begin() + static_cast<std::ptrdiff_t>(at),
                                    line.begin() + static_cast<std::ptrdiff_t>(at + n));
    split.Push(piece.data(), piece.size(), pieces);
  }
  Require(SameEvents(once, pieces));

  std::size_t wire = 0;
  for (const sim::FrameEvent& event : once) {
    wire += event.wireBytes;
    if (!event.accepted) {
      Require(event.reason < sim::RejectReason::UnknownCode);  // the reader's own reasons only
      continue;
    }
    Require(event.packet.size() >= sim::kControlPacketSize);
    Require(event.packet.size() + 4 <= sim::kMaxFrameBody);
    const std::size_t length = (std::size_t{event.packet[2]} << 8) | event.packet[3];
    Require(length == event.packet.size());
    CheckRoundTrip(event.packet);
  }
  // A closing flag opens the next frame, so it is counted twice at most once per event.
  Require(wire <= line.size() + once.size());

  // The input as a packet with a correct length field always passes.
  if (line.size() >= sim::kControlPacketSize && line.size() + 4 <= sim::kMaxFrameBody) {
    std::vector<std::uint8_t> packet = line;
    packet[2] = static_cast<std::uint8_t>(packet.size() >> 8);
    packet[3] = static_cast<std::uint8_t>(packet.size() & 0xFF);
    CheckRoundTrip(packet);
  }

  // After Reset the reader hunts for a flag again: a good frame after any junk is still taken.
  whole.Reset();
  const std::vector<std::uint8_t> ack = sim::BuildFrame(sim::AckPacket());
  std::vector<sim::FrameEvent> after;
  whole.Push(ack.data(), ack.size(), after);
  Require(after.size() == 1 && after[0].accepted && after[0].packet == sim::AckPacket());
  return 0;
}

// The simulated handset in its download mode, without any I/O: it decodes the PC's frames,
// acknowledges begin, data and end requests, stores the image and checks the image FCS that the
// end request carries.
//
// Contract:
// - Fed byte by byte by the AT terminal while the line is in handset mode; it writes what it saw
//   into the device's stats and appends its answers. Not thread-safe: its owner locks.
// - Every request frame is checked; a frame that fails a check is counted with its reason and not
//   answered, unless the fault plan names it.
// - Taking the end request puts the device back in AT mode (the handset goes off to burn).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "sim/device.h"
#include "sim/frame_reader.h"

namespace sim {

class CHandset {
 public:
  // Both outlive the handset: they belong to the device that owns it.
  CHandset(const DeviceConfig& config, DeviceStats& stats) : m_config(config), m_stats(stats) {}

  // Feeds one byte the PC wrote; `inputEnd` is its offset plus one in the current input.
  void OnByte(std::uint8_t byte, std::size_t inputEnd, Clock::time_point now,
              std::vector<Output>& outputs);
  // Forgets any half-read frame (a new connection, a closed port, a hang-up).
  void ResetLink() { m_reader.Reset(); }

 private:
  void OnFrame(const FrameEvent& event, std::size_t inputEnd, Clock::time_point now,
               std::vector<Output>& outputs);
  // Fills `exchange` and returns the right reply packet, or none when the frame is not answered.
  std::optional<std::vector<std::uint8_t>> TakePacket(const std::vector<std::uint8_t>& packet,
                                                      Exchange& exchange);
  void TakeData(std::uint16_t sequence, const std::uint8_t* payload, std::size_t size);
  void Reject(RejectReason reason, Exchange& exchange);

  const DeviceConfig& m_config;
  DeviceStats& m_stats;
  CFrameReader m_reader;
  FrameEvent m_event;
  std::vector<std::pair<std::size_t, std::size_t>> m_blockSpans;  // offset and size in the image
  bool m_dataSinceBegin = false;
  std::size_t m_beginAttempts = 0, m_endAttempts = 0;
  std::vector<unsigned> m_dataAttempts;  // per sequence number, over the device's life
};

}  // namespace sim

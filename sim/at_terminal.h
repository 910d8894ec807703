// The simulated terminal's AT side, without any I/O: it answers the AT commands and, once a dial
// answer holding "CONNECT" has gone out, hands the bytes that follow to the handset behind it.
//
// Contract:
// - CAtTerminal is fed the bytes the PC wrote and says what to send back and when; CPtyLine
//   (pty_line.h) does the I/O and the timing. Not thread-safe: its owner locks.
// - AT mode: input is buffered until "\r\n"; each whole line is one command.
// - Handset mode lasts until the end request has been taken (the handset goes off to burn its
//   flash), the port is closed by the PC, or the line is hung up; then AT mode again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/device.h"
#include "sim/handset.h"

namespace sim {

class CAtTerminal final : public CLineDevice {
 public:
  explicit CAtTerminal(DeviceConfig config);

  const DeviceConfig& Config() const { return m_config; }

  // Handles what the PC wrote and appends the answers in order.
  void OnInput(const std::uint8_t* data, std::size_t size, Clock::time_point now,
               std::vector<Output>& outputs) override;
  // The PC's port closed, or the line was hung up: back to AT mode with nothing half-read.
  void ResetLink() override;

 private:
  void OnLine(const std::string& line, std::size_t inputEnd, Clock::time_point now,
              std::vector<Output>& outputs);

  DeviceConfig m_config;
  std::string m_line;
  CHandset m_handset{m_config, m_stats};  // declared after what it refers to
};

}  // namespace sim

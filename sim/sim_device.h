// What one simulated device decides, without any I/O: the terminal's AT answers, then, after
// CONNECT, the handset behind it.
//
// Contract:
// - CSimDevice is fed the bytes the PC wrote and says what to send back and when; CSimTerminal
//   (sim_terminal.h) does the I/O and the timing. Not thread-safe: its owner locks.
// - AT mode: input is buffered until "\r\n"; each whole line is one command. A dial answer that
//   holds "CONNECT" switches to handset mode for the bytes that follow.
// - Handset mode lasts until the end request has been taken (the handset goes off to burn its
//   flash), the port is closed by the PC, or the line is hung up; then AT mode again.
// - Every request frame is checked; a frame that fails a check is counted with its reason and not
//   answered, unless the fault plan names it.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/fault_plan.h"
#include "sim/sim_frame.h"

namespace sim {

using SimClock = std::chrono::steady_clock;

// Configuration of one device. An answer of none means the device stays silent.
struct SimDeviceConfig {
  int comNumber = 9;
  std::optional<std::string> model = std::string("\r\nTARVENIX-9505\r\n\r\nOK\r\n");  // AT+CGMM
  std::optional<std::string> maker = std::string("\r\nKestra\r\n\r\nOK\r\n");         // AT+GMI
  std::optional<std::string> check = std::string("\r\nOK\r\n");                       // AT
  std::optional<std::string> dial = std::string("\r\nCONNECT 9600\r\n");              // ATD**60
  std::optional<std::string> other = std::string("\r\nERROR\r\n");  // any other line
  std::vector<SimFault> faults;
  bool pacing = false;            // 230400 baud, 10 bits a byte, both directions
  bool replugAfterHangUp = true;  // a fresh pty behind the same COMn after a hang-up
};

enum class SimMode : std::uint8_t { At, Handset };

enum class SimExchangeKind : std::uint8_t { Begin, Data, End, Rejected };

// One frame received in handset mode.
struct SimExchange {
  std::size_t index = 0;  // 1-based
  SimExchangeKind kind = SimExchangeKind::Rejected;
  SimReject reason = SimReject::Garbage;  // Rejected only
  std::uint16_t sequence = 0;             // Data: sequence number; End: the image FCS it carries
  unsigned attempt = 0;                   // attempts of this kind (and block) so far
  std::size_t payloadSize = 0;            // Data only
  SimFaultKind answer = SimFaultKind::Answer;  // what was done (Silence for an unanswered reject)
  SimClock::time_point time{};
};

struct SimAtCommand {
  std::string line;      // without "\r\n"
  unsigned attempt = 0;  // how many times this line has come, this one included
  SimClock::time_point time{};
};

// Everything a test may read back.
struct SimStats {
  SimMode mode = SimMode::At;
  std::vector<SimAtCommand> atCommands;
  std::size_t discardedLineBytes = 0;  // AT input beyond the line buffer, or cut off by a close
  std::size_t frames = 0;              // frames received in handset mode, good or bad
  std::size_t rejected = 0;            // frames that failed a check
  std::array<std::size_t, kRejectKinds> rejects{};  // by reason
  std::size_t garbageBytes = 0;                     // bytes outside any frame
  std::size_t beginFrames = 0, dataFrames = 0, endFrames = 0;
  std::size_t retries = 0;              // data frames that repeat a sequence number
  std::size_t beginRepeats = 0;         // begin frames with no data frame since the last begin
  std::size_t transfers = 0;            // begin requests that started a new image
  std::vector<std::string> violations;  // protocol faults of the PC side
  std::vector<SimExchange> exchanges;
  std::vector<std::uint8_t> image;  // the image of the current or last transfer
  std::size_t blocks = 0;           // distinct data blocks in it
  bool endReceived = false;         // of the current or last transfer
  std::uint16_t endFcs = 0;         // the FCS the end request carried
  std::uint16_t imageFcs = 0;       // the FCS of the image as received
  bool endFcsMatched = false;
  std::size_t opens = 0, closes = 0;  // opens and closes of the port by the PC
  std::size_t hangUps = 0;

  std::size_t Rejects(SimReject reason) const { return rejects[static_cast<std::size_t>(reason)]; }
};

// One answer to send: the bytes, when, and how.
struct SimOutput {
  std::size_t inputEnd = 0;  // the answer follows the input byte before this offset
  std::vector<std::uint8_t> bytes;
  std::chrono::milliseconds delay{0};
  std::optional<std::size_t> cutAt;  // pause after this many bytes
  std::chrono::milliseconds pause{0};
  bool hangUp = false;  // after the bytes (if any)
};

class CSimDevice {
 public:
  explicit CSimDevice(SimDeviceConfig config);

  const SimDeviceConfig& Config() const { return m_config; }
  const SimStats& Stats() const { return m_stats; }
  SimStats& MutableStats() { return m_stats; }

  // Handles what the PC wrote and appends the answers in order.
  void OnInput(const std::uint8_t* data, std::size_t size, SimClock::time_point now,
               std::vector<SimOutput>& outputs);
  // The PC's port closed, or the line was hung up: back to AT mode with nothing half-read.
  void ResetLink();

 private:
  void OnLine(const std::string& line, std::size_t inputEnd, SimClock::time_point now,
              std::vector<SimOutput>& outputs);
  void OnFrame(const SimFrameEvent& event, std::size_t inputEnd, SimClock::time_point now,
               std::vector<SimOutput>& outputs);
  // Fills `exchange` and returns the right reply packet, or none when the frame is not answered.
  std::optional<std::vector<std::uint8_t>> TakePacket(const std::vector<std::uint8_t>& packet,
                                                      SimExchange& exchange);
  void TakeData(std::uint16_t sequence, const std::uint8_t* payload, std::size_t size);
  void Reject(SimReject reason, SimExchange& exchange);

  SimDeviceConfig m_config;
  SimStats m_stats;
  std::string m_line;
  CSimFrameReader m_reader;
  std::vector<std::pair<std::size_t, std::size_t>> m_blockSpans;  // offset and size in the image
  bool m_dataSinceBegin = false;
  std::size_t m_beginAttempts = 0, m_endAttempts = 0;
  std::vector<unsigned> m_dataAttempts;  // per sequence number, over the device's life
};

// Most AT input kept while waiting for "\r\n"; the rest of an overlong line is dropped.
inline constexpr std::size_t kMaxAtLine = 512;
// Largest image the handset keeps; a PC that sends more is recorded as a violation.
inline constexpr std::size_t kMaxImage = 16u * 1024u * 1024u;
// Most exchanges kept in the log (the counters go on counting).
inline constexpr std::size_t kMaxExchangeLog = 100000;

}  // namespace sim

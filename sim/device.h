// What one simulated device is configured with and what it records, shared by its two halves:
// the AT terminal (at_terminal.h) and the handset behind it (handset.h).
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/fault_plan.h"
#include "sim/frame_reader.h"

namespace sim {

using Clock = std::chrono::steady_clock;

inline constexpr int kDefaultComNumber = 9;  // where a device sits unless told otherwise

// Configuration of one device. An answer of none means the device stays silent.
struct DeviceConfig {
  int comNumber = kDefaultComNumber;
  std::optional<std::string> model = std::string("\r\nTARVENIX-9505\r\n\r\nOK\r\n");  // AT+CGMM
  std::optional<std::string> maker = std::string("\r\nKestra\r\n\r\nOK\r\n");         // AT+GMI
  std::optional<std::string> check = std::string("\r\nOK\r\n");                       // AT
  std::optional<std::string> dial = std::string("\r\nCONNECT 9600\r\n");              // ATD**60
  std::optional<std::string> other = std::string("\r\nERROR\r\n");  // any other line
  std::vector<Fault> faults;
  bool pacing = false;            // 230400 baud, 10 bits a byte, both directions
  bool replugAfterHangUp = true;  // a fresh pty behind the same COMn after a hang-up
  bool plugged = true;            // COMn is there from the start (else: at the first Plug)
};

enum class Mode : std::uint8_t { At, Handset };

enum class ExchangeKind : std::uint8_t { Begin, Data, End, Rejected };

// One frame received in handset mode.
struct Exchange {
  std::size_t index = 0;  // 1-based
  ExchangeKind kind = ExchangeKind::Rejected;
  RejectReason reason = RejectReason::Garbage;  // Rejected only
  std::uint16_t sequence = 0;            // Data: sequence number; End: the image FCS it carries
  unsigned attempt = 0;                  // attempts of this kind (and block) so far
  std::size_t payloadSize = 0;           // Data only
  FaultKind answer = FaultKind::Answer;  // what was done (Silence for an unanswered reject)
  Clock::time_point time{};
};

struct AtCommand {
  std::string line;      // without "\r\n"
  unsigned attempt = 0;  // how many times this line has come, this one included
  Clock::time_point time{};
};

// Everything a test may read back.
struct DeviceStats {
  Mode mode = Mode::At;
  std::vector<AtCommand> atCommands;
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
  std::vector<Exchange> exchanges;
  std::vector<std::uint8_t> image;  // the image of the current or last transfer
  std::size_t blocks = 0;           // distinct data blocks in it
  bool endReceived = false;         // of the current or last transfer
  std::uint16_t endFcs = 0;         // the FCS the end request carried
  std::uint16_t imageFcs = 0;       // the FCS of the image as received
  bool endFcsMatched = false;
  std::size_t opens = 0, closes = 0;  // opens and closes of the port by the PC
  std::size_t hangUps = 0;
  std::size_t plugs = 0, unplugs = 0;  // by CPtyLine::Plug and Unplug
  Clock::time_point pluggedAt{};       // the last Plug's link in place

  std::size_t Rejects(RejectReason reason) const {
    return rejects[static_cast<std::size_t>(reason)];
  }
};

// One answer to send: the bytes, when, and how.
struct Output {
  std::size_t inputEnd = 0;  // the answer follows the input byte before this offset
  std::vector<std::uint8_t> bytes;
  std::chrono::milliseconds delay{0};
  std::optional<std::size_t> cutAt;  // pause after this many bytes
  std::chrono::milliseconds pause{0};
  bool hangUp = false;  // after the bytes (if any)
};

// Most AT input kept while waiting for "\r\n"; the rest of an overlong line is dropped.
inline constexpr std::size_t kMaxAtLine = 512;
// Largest image the handset keeps; a PC that sends more is recorded as a violation.
inline constexpr std::size_t kMaxImage = std::size_t{16} * 1024 * 1024;
// Most exchanges kept in the log (the counters go on counting).
inline constexpr std::size_t kMaxExchangeLog = 100000;

// What answers on a line (pty_line.h): fed the bytes the PC wrote, it says what to send back and
// when. The AT terminal with its handset is one; a replay of a trace (replay.h) is another. Not
// thread-safe: the line locks around every call.
class CLineDevice {
 public:
  CLineDevice() = default;
  virtual ~CLineDevice() = default;
  CLineDevice(const CLineDevice&) = delete;
  CLineDevice& operator=(const CLineDevice&) = delete;

  // Handles what the PC wrote and appends the answers in order.
  virtual void OnInput(const std::uint8_t* data, std::size_t size, Clock::time_point now,
                       std::vector<Output>& outputs) = 0;
  // The PC's port closed, or the line was hung up.
  virtual void ResetLink() = 0;

  const DeviceStats& Stats() const { return m_stats; }
  DeviceStats& MutableStats() { return m_stats; }

 protected:
  DeviceStats m_stats;
};

// Applies a fault of the kinds every exchange knows to the right answer in `out`; false for the
// kinds only a handset frame can take (another code, another sequence number).
bool ApplyFault(const Fault& fault, Output& out);

}  // namespace sim

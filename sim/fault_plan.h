// The simulator's fault plan: what the simulated terminal and handset do instead of the right
// answer, chosen per exchange.
//
// Fault knobs (text form `WHEN=WHAT[+WHAT]`, as `corvanel-sim --fault` and ParseFault take it):
//   WHEN  begin | end | data | data:N  a request frame of that kind (N: sequence number)
//         model | maker | at | dial    the answer to AT+CGMM, AT+GMI, AT, ATD**60
//         ...#K                        only its K-th attempt (counted over the device's life)
//         #K                           the K-th frame received in handset mode, good or bad
//   WHAT  silence                      no answer at all
//         garbage[:HEX]                these bytes instead of the answer (default 55 AA 13 37 ...)
//         text:TEXT                    this text instead of the answer (\r \n \t \\ \xHH)
//         code[:C]                     a reply frame with another packet code C
//         seq[:N]                      an RSP_DATA_ACK for sequence number N (default: one less)
//         cut[:K[:MS]]                 the right answer, paused MS ms (default 120) after K bytes
//         delay:MS                     wait MS ms before answering (combines with the others)
//         hangup                       the device goes away: the port sees a hang-up
// A frame that fails the reader's or the handset's checks is not answered, unless a `#K` entry
// names it. The first entry that matches an exchange decides it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

enum class FaultTarget : std::uint8_t {
  Begin,     // CMD_BEGIN
  Data,      // CMD_DATA, any or one sequence number
  End,       // CMD_END
  Exchange,  // the K-th frame in handset mode, whatever it holds
  AtModel,   // "AT+CGMM\r\n"
  AtMaker,   // "AT+GMI\r\n"
  AtCheck,   // "AT\r\n"
  AtDial,    // "ATD**60\r\n"
};

enum class FaultKind : std::uint8_t {
  Answer,    // the right answer (possibly delayed)
  Silence,   // nothing
  Bytes,     // `bytes` instead of the answer
  Code,      // a reply frame with packet code `value`
  Sequence,  // an RSP_DATA_ACK for sequence number `value`
  Cut,       // the right answer with a pause of `pause` after `cutAt` bytes
  HangUp,    // close the line
};

inline constexpr std::chrono::milliseconds kDefaultCutPause{120};  // well above the 50 ms gap

struct Fault {
  FaultTarget target = FaultTarget::Begin;
  std::optional<std::uint16_t> sequence;  // Data only: which block; none means every block
  unsigned attempt = 0;                   // 1-based; 0 means every attempt
  std::size_t exchange = 0;               // Exchange only: 1-based frame index
  FaultKind kind = FaultKind::Answer;
  std::vector<std::uint8_t> bytes;                     // Bytes
  std::optional<std::uint16_t> value;                  // Code or Sequence; none means the default
  std::optional<std::size_t> cutAt;                    // Cut; none means half the answer
  std::chrono::milliseconds pause = kDefaultCutPause;  // Cut
  std::chrono::milliseconds delay{0};                  // before the answer, with any kind
};

// The bytes `garbage` sends by default: no flag among them, so no reader takes them for a frame.
std::vector<std::uint8_t> DefaultGarbage();

// Parses one knob in the text form above. On failure returns false and says why in `error`.
bool ParseFault(std::string_view text, Fault& fault, std::string& error);
// Turns a text with the escapes \r \n \t \0 \\ \xHH into its bytes.
bool ParseText(std::string_view text, std::string& out, std::string& error);

// What an exchange is, for matching against the plan.
struct ExchangeKey {
  FaultTarget target = FaultTarget::Begin;  // Exchange when the frame was rejected
  std::uint16_t sequence = 0;               // Data only
  unsigned attempt = 0;      // attempts of this kind (and block) so far, this one included
  std::size_t exchange = 0;  // handset frames so far, this one included; 0 for AT
};

// The first entry of the plan that matches, or none.
const Fault* FindFault(const std::vector<Fault>& plan, const ExchangeKey& key);

}  // namespace sim

// A replay of a port trace (download/port_trace.h gives the format): terminals that answer as the
// trace shows the real ones did, and the upgrade file rebuilt from the trace's data frames.
//
// Contract:
// - ParseTrace reads the lines of corvanel-cli's --trace and of a record's trace alike (open,
//   close, refused, write, read, fail, lost); a line of another kind is an error, so that a file
//   that is no trace is not replayed as an empty one.
// - BuildReplay turns the events into exchanges: each write with the reads that follow it. A
//   read's bytes are sent as one burst timed so that the tool's read ends when the traced one
//   did (kReadGap after the burst, or at once when it filled the reply buffer); a read of nothing
//   that ended well before the read's time-out means the line was gone: the replay hangs up
//   there, and the writes the tool made to the dead line until its next open are not expected.
//   A traced read of nothing after a whole time-out needs no answer: silence is the default.
// - CReplayScript is shared by the lines of all the ports the trace opened, each calling it with
//   its own lock held; it has a lock of its own and calls back into nothing. The first write that
//   differs from the trace (other bytes, another port, or a write past the trace's end) stops the
//   replay: from then on nothing is answered and Divergence() says where.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <istream>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/device.h"

namespace sim {

// The tool's read: at most this many bytes, ended this long after the last byte, or after the
// whole time-out when nothing came.
inline constexpr std::uint32_t kReadCapacity = 512;
inline constexpr std::chrono::milliseconds kReadGap{50};
inline constexpr std::chrono::milliseconds kSilentRead{5170};
// A read of nothing that ended sooner than this after its write found the line gone; a silent
// line costs the whole kSilentRead (plus the dial's 400 ms pause before its read).
inline constexpr std::chrono::milliseconds kGoneBefore{4000};
// The traced times already hold the line's own latency and the read's wake-up after its gap (a
// millisecond or so per exchange); a burst goes out this much earlier, or a replay of 800
// exchanges would run a second slower than its download.
inline constexpr std::chrono::milliseconds kTracedLatency{2};

enum class TraceKind : std::uint8_t { Open, Close, Refused, Gone, Write, Read, Fail, Lost };

struct TraceEvent {
  std::size_t line = 0;  // 1-based line of the file
  double ms = 0;         // the line's time
  TraceKind kind = TraceKind::Write;
  std::string port;                 // Open, Close, Refused, Gone: the name as the tool gave it
  std::uint32_t count = 0;          // Write, Read: the whole count; Lost: the events lost
  std::vector<std::uint8_t> bytes;  // Write, Read: the bytes shown (all but beyond 4096)
  std::string rest;                 // Refused, Gone, Fail: the rest of the line
};

// Reads a whole trace. False with the line and why in `error` when a line is not a trace's.
bool ParseTrace(std::istream& in, std::vector<TraceEvent>& events, std::string& error);

// The COM number a traced port name stands for: "\\.\COM12" and "COM12" give 12; the devices
// of the Linux map give theirs (/dev/ttyS0 is COM1, /dev/ttyUSB0 COM33, /dev/ttyACM0 COM67);
// anything else none.
std::optional<int> ComNumberOf(const std::string& name);

struct ReplyBurst {
  std::chrono::microseconds after{0};  // after the write's last byte
  std::vector<std::uint8_t> bytes;
  bool hangUp = false;  // after the bytes
};

struct ReplayExchange {
  std::size_t index = 0;  // 1-based among the trace's writes
  std::size_t line = 0;   // of the write
  double ms = 0;
  int comNumber = 0;
  std::string port;                    // as traced
  std::uint32_t count = 0;             // bytes written
  std::vector<std::uint8_t> expected;  // those the trace shows (the first 4096)
  std::vector<ReplyBurst> replies;
  bool reachable = true;  // false: written to a line already gone, never seen by the device
};

struct Replay {
  std::vector<ReplayExchange> exchanges;
  std::vector<int> comNumbers;     // every port the trace opened, ascending
  std::vector<std::string> notes;  // what the replay cannot reproduce (lost events, other ports)
};

Replay BuildReplay(const std::vector<TraceEvent>& events);

// The upgrade file as the trace's data frames carried it.
struct ExtractedImage {
  std::vector<std::uint8_t> bytes;
  std::size_t blocks = 0;   // data blocks acknowledged or not: every block sent
  bool complete = false;    // an end request followed the blocks
  bool fcsMatched = false;  // and the FCS it carried is that of the bytes
  std::uint16_t endFcs = 0;
};
// False with why in `error` when the frames cannot give a file (a frame cut short in the trace,
// a block out of order, a block resent with other bytes).
bool ExtractImage(const std::vector<TraceEvent>& events, ExtractedImage& image, std::string& error);

// Where the tool stopped writing what the trace shows.
struct Divergence {
  std::size_t exchange = 0;  // 1-based; past the last for a write the trace does not have
  std::size_t line = 0;      // of the expected write; 0 when there is none
  double ms = 0;
  std::string why;
  std::size_t offset = 0;  // the first byte that differs
  std::vector<std::uint8_t> expected;
  std::vector<std::uint8_t> written;
};

// Divergence as text: exchange, trace line, why, and the expected and written bytes in hex around
// the first difference. Several lines, each ending in '\n'.
std::string DescribeDivergence(const Divergence& divergence);

class CReplayScript {
 public:
  explicit CReplayScript(Replay replay);

  // Takes what the tool wrote on COM `comNumber` and appends the answers the trace shows.
  void OnInput(int comNumber, const std::uint8_t* data, std::size_t size,
               std::vector<Output>& outputs);

  const Replay& Plan() const { return m_replay; }
  std::optional<Divergence> Diverged() const;
  // Exchanges the tool has written whole, and those it could reach in all.
  std::size_t Done() const;
  // The index of the exchange awaited next (past the last when the trace is done).
  std::size_t Next() const;
  std::size_t Reachable() const;
  // Waits until every reachable exchange is done or the replay diverged, or `timeout` passes.
  bool WaitForEnd(std::chrono::milliseconds timeout) const;

 private:
  void Diverge(const ReplayExchange* expected, std::string why, const std::uint8_t* rest,
               std::size_t restSize);
  void SkipUnreachable();

  const Replay m_replay;
  mutable std::mutex m_mutex;
  mutable std::condition_variable m_changed;
  std::size_t m_next = 0;     // the exchange being written
  std::size_t m_matched = 0;  // its bytes written so far
  std::size_t m_done = 0;
  std::optional<Divergence> m_divergence;
};

// The device on one port of a replay.
class CReplayDevice final : public CLineDevice {
 public:
  CReplayDevice(int comNumber, CReplayScript& script) : m_comNumber(comNumber), m_script(script) {}
  void OnInput(const std::uint8_t* data, std::size_t size, Clock::time_point now,
               std::vector<Output>& outputs) override;
  void ResetLink() override {}

 private:
  const int m_comNumber;
  CReplayScript& m_script;
};

}  // namespace sim

// One download's port traffic, kept in memory as it happens and written out as trace lines by
// another thread (the download record's writer), so that the thread on the port never waits for
// a disk and never allocates.
//
// Contract:
// - Append is called by one thread at a time (the UI thread's second scan, then the worker; the
//   start gate orders them). It copies the event into a ring allocated up front and returns: no
//   lock, no allocation, no file. An event that does not fit (the writer has fallen far behind)
//   is counted as lost, never waited for.
// - WriteOut is called by one other thread, concurrently with Append.
// - Port and Answer are read once the appends are over, by the last appending thread or one
//   ordered after it.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "record/port_trace.h"
#include "serial/serial_port.h"

// The ring's size: the line carries about 23 KB a second at 230400 baud (an unpaced simulator
// about twice that), and the writer empties the ring several times a second, so the ring holds
// some twenty seconds of a writer held up.
inline constexpr std::size_t kTraceRingBytes = std::size_t{1} << 20;

class CTraceRecorder {
 public:
  using Clock = std::chrono::steady_clock;

  // `start` is time 0 of the trace's lines.
  explicit CTraceRecorder(Clock::time_point start);

  void Append(PortEvent event, const char* name, const std::uint8_t* bytes, std::uint32_t count);

  // Formats every event appended so far into trace lines and writes them to `out` (flushed);
  // with a null `out` they are dropped. False when writing failed.
  bool WriteOut(std::FILE* out);
  // Events that did not fit the ring.
  std::uint64_t Lost() const { return m_lost.load(std::memory_order_relaxed); }

  // The name the port was last opened with, and the first reply read after that open: the
  // terminal's answer to detection's identification request, which is the first thing detection
  // asks of every port it opens. Empty when the port was never opened.
  std::string Port() const;
  std::string Answer() const;
  // Time 0 of the trace's lines.
  Clock::time_point Start() const { return m_start; }
  // Since `start`, the last write or read on the port; zero when there was none.
  Clock::duration LastTraffic() const { return std::chrono::nanoseconds(m_lastTraffic); }

 private:
  struct EventHeader {
    std::int64_t nanoseconds;  // since `start`
    std::uint32_t count;       // the event's whole count
    std::uint32_t stored;      // bytes that follow: the name, or the first kMaxTracedBytes
    PortEvent event;
  };
  void Put(std::uint64_t position, const void* bytes, std::size_t count);
  void Get(std::uint64_t position, void* bytes, std::size_t count) const;

  const Clock::time_point m_start;
  std::unique_ptr<std::uint8_t[]> m_ring;
  std::atomic<std::uint64_t> m_head{0};  // bytes ever appended (written by Append)
  std::atomic<std::uint64_t> m_tail{0};  // bytes ever written out (written by WriteOut)
  std::atomic<std::uint64_t> m_lost{0};

  // The appending thread's own.
  std::array<char, kTracedNameCapacity> m_port{};
  std::array<std::uint8_t, kReplyBufferSize> m_answer{};
  std::uint32_t m_answerCount = 0;
  bool m_answerPending = false;
  std::int64_t m_lastTraffic = 0;  // nanoseconds since `start`

  // The writing thread's own.
  std::array<std::uint8_t, kMaxTracedBytes + 1> m_payload{};
  std::array<char, kTraceLineCapacity> m_line{};
};

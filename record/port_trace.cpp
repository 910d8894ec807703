#include "record/port_trace.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <utility>

#include "record/trace_recorder.h"
#include "text/json_text.h"

namespace {

using Clock = std::chrono::steady_clock;

std::FILE* g_trace = nullptr;
Clock::time_point g_start;
// Filled on the thread that uses the port; the port's own order keeps them apart.
std::array<char, kTracedNameCapacity> g_openName{};
std::array<std::uint8_t, kReplyBufferSize> g_lastReply{};
std::uint32_t g_lastReplyCount = 0;
std::array<char, kTraceLineCapacity> g_line{};
std::atomic<CTraceRecorder*> g_recorder{nullptr};
std::vector<PortRefusal> g_refusals;

// Keeps the port's latest refusal, one entry per port.
void KeepRefusal(const char* name, const std::uint8_t* reason, std::uint32_t count) {
  std::string text(reinterpret_cast<const char*>(reason), count);
  for (PortRefusal& refusal : g_refusals) {
    if (refusal.port == name) {
      refusal.reason = std::move(text);
      return;
    }
  }
  g_refusals.push_back({name, std::move(text)});
}

const char* Direction(PortEvent event) {
  switch (event) {
    case PortEvent::Open:
      return "open";
    case PortEvent::Write:
      return "write";
    case PortEvent::Read:
      return "read";
    case PortEvent::Close:
      return "close";
    case PortEvent::Refused:
      return "refused";
    case PortEvent::Lost:
      return "gone";
  }
  return "?";
}

void OnPortEvent(PortEvent event, const char* name, const std::uint8_t* bytes,
                 std::uint32_t count) {
  if (event == PortEvent::Open) {
    std::strncpy(g_openName.data(), name, g_openName.size() - 1);
  } else if (event == PortEvent::Read) {
    g_lastReplyCount = count < g_lastReply.size() ? count : g_lastReply.size();
    std::memcpy(g_lastReply.data(), bytes, g_lastReplyCount);
  } else if (event == PortEvent::Refused) {
    KeepRefusal(name, bytes, count);
  }
  if (CTraceRecorder* recorder = g_recorder.load(std::memory_order_acquire)) {
    recorder->Append(event, name, bytes, count);
  }
  if (g_trace != nullptr) {
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - g_start).count();
    const std::size_t length = FormatTraceLine(g_line.data(), ms, event, name, bytes, count);
    std::fwrite(g_line.data(), 1, length, g_trace);
    std::fflush(g_trace);
  }
}

}  // namespace

std::size_t FormatTraceLine(char* out, double ms, PortEvent event, const char* name,
                            const std::uint8_t* bytes, std::uint32_t count) {
  // The time without the C library's locale: a desktop's would write a decimal comma.
  char time[kTraceTimeWidth + 1];
  FormatFixed(time, sizeof time, ms, 3, kTraceTimeWidth);
  if (EventNamesThePort(event)) {
    const int n =
        std::snprintf(out, kTraceLineCapacity, "%s %-5s %s\n", time, Direction(event), name);
    if (EventCarriesReason(event) && n > 0) {
      // The reason before the line's end (cut, like bytes, at kMaxTracedBytes: both fit).
      const std::size_t at = static_cast<std::size_t>(n) - 1;
      const std::uint32_t shown = std::min<std::uint32_t>(count, kMaxTracedBytes);
      const int r = std::snprintf(out + at, kTraceLineCapacity - at, " %.*s\n",
                                  static_cast<int>(shown), reinterpret_cast<const char*>(bytes));
      return r > 0 ? at + static_cast<std::size_t>(r) : 0;
    }
    return n > 0 ? static_cast<std::size_t>(n) : 0;
  }
  char* const begin = out;
  char* const end = out + kTraceLineCapacity;
  out += std::snprintf(out, kTraceLineCapacity, "%s %-5s %5u ", time, Direction(event),
                       static_cast<unsigned>(count));
  const std::uint32_t shown = count < kMaxTracedBytes ? count : kMaxTracedBytes;
  constexpr char kHex[] = "0123456789ABCDEF";
  for (std::uint32_t i = 0; i < shown && end - out > 4; ++i) {
    *out++ = ' ';
    *out++ = kHex[bytes[i] >> 4];
    *out++ = kHex[bytes[i] & 0x0F];
  }
  if (end - out > 4) {
    *out++ = ' ';
    *out++ = ' ';
    *out++ = '|';
  }
  for (std::uint32_t i = 0; i < shown && end - out > 2; ++i) {
    const std::uint8_t b = bytes[i];
    *out++ = b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '.';
  }
  *out++ = '|';
  *out++ = '\n';
  return static_cast<std::size_t>(out - begin);
}

void StartPortTrace(std::FILE* trace) {
  g_trace = trace;
  g_start = Clock::now();
  SetTerminalPortObserver(OnPortEvent);
}

void TraceFailure(const FailureDetail& failure, std::optional<std::uint16_t> result) {
  if (g_trace == nullptr || !failure.Failed()) {
    return;
  }
  char time[kTraceTimeWidth + 1];
  FormatFixed(time, sizeof time,
              std::chrono::duration<double, std::milli>(Clock::now() - g_start).count(), 3,
              kTraceTimeWidth);
  std::fprintf(g_trace, "%s %-5s stage %s", time, "fail", StageName(failure.stage));
  if (failure.block) {
    std::fprintf(g_trace, " block %u", static_cast<unsigned>(*failure.block));
  }
  if (failure.attempt != 0) {
    std::fprintf(g_trace, " attempt %u", static_cast<unsigned>(failure.attempt));
  }
  if (failure.reason != FailureReason::None) {
    std::fprintf(g_trace, " reason %s", ReasonName(failure.reason));
  }
  if (result) {
    std::fprintf(g_trace, " result %u", static_cast<unsigned>(*result));
  }
  std::fputc('\n', g_trace);
  std::fflush(g_trace);
}

std::string LastOpenedPort() { return g_openName.data(); }

std::vector<PortRefusal> RefusedPorts() { return g_refusals; }

std::string LastReply() {
  return std::string(reinterpret_cast<const char*>(g_lastReply.data()), g_lastReplyCount);
}

void SetPortTraceRecorder(CTraceRecorder* recorder) {
  g_recorder.store(recorder, std::memory_order_release);
  SetTerminalPortObserver(OnPortEvent);
}

bool ClearPortTraceRecorder(CTraceRecorder* expected) {
  return g_recorder.compare_exchange_strong(expected, nullptr, std::memory_order_acq_rel);
}

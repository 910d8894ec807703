#include "cli/port_trace.h"

#include <array>
#include <chrono>
#include <cstring>

#include "serial/serial_port.h"

namespace {

using Clock = std::chrono::steady_clock;

// Largest escaped frame: every byte of the largest packet escaped, with flags and FCS.
constexpr std::size_t kMaxEventBytes = 4096;
// Room for one line: time, direction and count, three characters a byte in hex, one as text.
constexpr std::size_t kLineCapacity = 64 + kMaxEventBytes * 4;

std::FILE* g_trace = nullptr;
Clock::time_point g_start;
// Filled on the thread that uses the port; the port's own order keeps them apart.
std::array<char, 256> g_openName{};
std::array<std::uint8_t, kReplyBufferSize> g_lastReply{};
std::uint32_t g_lastReplyCount = 0;
std::array<char, kLineCapacity> g_line{};

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
  }
  return "?";
}

void WriteLine(PortEvent event, const char* name, const std::uint8_t* bytes, std::uint32_t count) {
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - g_start).count();
  char* out = g_line.data();
  char* const end = out + g_line.size();
  if (event == PortEvent::Open || event == PortEvent::Close) {
    std::snprintf(out, g_line.size(), "%10.3f %-5s %s\n", ms, Direction(event), name);
    std::fputs(out, g_trace);
    std::fflush(g_trace);
    return;
  }
  out += std::snprintf(out, g_line.size(), "%10.3f %-5s %5u ", ms, Direction(event),
                       static_cast<unsigned>(count));
  const std::uint32_t shown = count < kMaxEventBytes ? count : kMaxEventBytes;
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
  std::fwrite(g_line.data(), 1, static_cast<std::size_t>(out - g_line.data()), g_trace);
  std::fflush(g_trace);
}

void OnPortEvent(PortEvent event, const char* name, const std::uint8_t* bytes,
                 std::uint32_t count) {
  if (event == PortEvent::Open) {
    std::strncpy(g_openName.data(), name, g_openName.size() - 1);
  } else if (event == PortEvent::Read) {
    g_lastReplyCount = count < g_lastReply.size() ? count : g_lastReply.size();
    std::memcpy(g_lastReply.data(), bytes, g_lastReplyCount);
  }
  if (g_trace != nullptr) {
    WriteLine(event, name, bytes, count);
  }
}

}  // namespace

void StartPortTrace(std::FILE* trace) {
  g_trace = trace;
  g_start = Clock::now();
  SetTerminalPortObserver(OnPortEvent);
}

void TraceFailure(const FailureDetail& failure, std::optional<std::uint16_t> result) {
  if (g_trace == nullptr || !failure.Failed()) {
    return;
  }
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - g_start).count();
  std::fprintf(g_trace, "%10.3f %-5s stage %s", ms, "fail", StageName(failure.stage));
  if (failure.block) {
    std::fprintf(g_trace, " block %u", static_cast<unsigned>(*failure.block));
  }
  if (failure.attempt != 0) {
    std::fprintf(g_trace, " attempt %u", static_cast<unsigned>(failure.attempt));
  }
  std::fprintf(g_trace, " reason %s", ReasonName(failure.reason));
  if (result) {
    std::fprintf(g_trace, " result %u", static_cast<unsigned>(*result));
  }
  std::fputc('\n', g_trace);
  std::fflush(g_trace);
}

std::string LastOpenedPort() { return g_openName.data(); }

std::string LastReply() {
  return std::string(reinterpret_cast<const char*>(g_lastReply.data()), g_lastReplyCount);
}

// The terminal port's traffic as the front-ends see it: the process's one observer of the port
// (SetTerminalPortObserver). It
// - keeps the name the port was last opened with and the last reply, for a front-end's report;
// - writes every event at once to the trace file given to StartPortTrace (corvanel-cli's
//   --trace), flushed line by line so that nothing is lost when a signal ends the process;
// - hands every event to the trace of the download being recorded, if any (trace_recorder.h),
//   which keeps it in memory and leaves the writing to a thread of its own.
//
// Line format of both traces (one event per line):
//   TIME_MS DIRECTION COUNT HEX... |TEXT|
// TIME_MS is monotonic, in milliseconds since the trace began, with three decimals; DIRECTION is
// "open", "write", "read" or "close" (open and close give the port name instead of bytes); TEXT
// shows printable ASCII as it is and every other byte as '.'. At most kMaxTracedBytes bytes of
// one event are shown; COUNT is always the whole count. A port passed by although its device is
// there (its line settings refused, or held by another program), and a port whose device went
// away while open, give its name and why:
//   TIME_MS refused NAME REASON
//   TIME_MS gone  NAME REASON
// e.g. "   812.345 refused \\.\COM2 line settings refused: asked 230400, got 9600",
//      "  4711.042 gone  \\.\COM33 device gone (EIO)".
// A failed download ends corvanel-cli's --trace with where it failed, after the port's close:
//   TIME_MS fail  stage STAGE [block N] [attempt N] [reason REASON] [result N]
// (the names of protocol/failure_detail.h; a block for the data stage only, an attempt and a
// reason where an exchange failed, a result where the transfer ran; a scan that found no
// terminal is "stage scan" alone). The record keeps the same in its line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "protocol/failure_detail.h"
#include "serial/serial_port.h"

class CTraceRecorder;

// Most bytes of one event a trace line shows: more than the largest frame, escaped.
inline constexpr std::size_t kMaxTracedBytes = 4096;
// A port's name as traced and recorded: a device path may be long.
inline constexpr std::size_t kTracedNameCapacity = 256;
// Room for one line: time, direction and count, three characters a byte in hex, one as text.
inline constexpr std::size_t kTraceLineCapacity = 64 + kMaxTracedBytes * 4;
// A line's time: milliseconds with three decimals, right-aligned in this many characters.
inline constexpr int kTraceTimeWidth = 10;

// Starts watching the terminal port; `trace` (may be null) receives the lines. Call once, before
// the port is used. Watching without a trace file costs a copy of each reply.
void StartPortTrace(std::FILE* trace);

// Writes the failure's line to the trace file (nothing without one or without a failure).
// `result` is RunTransfer's, or none when the download failed before the transfer.
void TraceFailure(const FailureDetail& failure, std::optional<std::uint16_t> result);

// The name the terminal port was last opened with (whole, also a long device path).
std::string LastOpenedPort();
// The bytes of the last read from the terminal port.
std::string LastReply();

// A port whose open was refused although its device is there (PortEvent::Refused), and why.
struct PortRefusal {
  std::string port;    // the name it was opened with
  std::string reason;  // "line settings refused: asked 230400, got 9600", "held by another program"
};
// The ports refused since the watching began, each once with its latest reason, in the order
// they were first refused. Read on the thread that uses the port, or one ordered after it.
std::vector<PortRefusal> RefusedPorts();

// Hands every event from now on to `recorder` as well (null: to none), watching the port if
// StartPortTrace has not. Set by the thread that uses the port next, before it does; the
// recorder must outlive its time here.
void SetPortTraceRecorder(CTraceRecorder* recorder);
// Replaces `expected` with null; false when another recorder has taken its place meanwhile.
bool ClearPortTraceRecorder(CTraceRecorder* expected);

// Events whose line gives the port's name instead of bytes, and those of them that add a reason.
constexpr bool EventCarriesReason(PortEvent event) {
  return event == PortEvent::Refused || event == PortEvent::Lost;
}
constexpr bool EventNamesThePort(PortEvent event) {
  return event == PortEvent::Open || event == PortEvent::Close || EventCarriesReason(event);
}

// One event as one trace line, '\n' included, into `out` (kTraceLineCapacity bytes); returns
// its length. `name` is the port's name for an open, a close or a refusal, else unused.
std::size_t FormatTraceLine(char* out, double ms, PortEvent event, const char* name,
                            const std::uint8_t* bytes, std::uint32_t count);

// The port trace of corvanel-cli: every open, write, read and close of the terminal port, one line
// each, for support to see what went over the wire. It also keeps the last reply and the name of
// the port last opened, for the command's own report.
//
// Line format (one event per line, flushed at once so that nothing is lost when the process is
// ended by a signal):
//   TIME_MS DIRECTION COUNT HEX... |TEXT|
// TIME_MS is monotonic, in milliseconds since the start, with three decimals; DIRECTION is
// "open", "write", "read" or "close" (open and close give the port name instead of bytes); TEXT
// shows printable ASCII as it is and every other byte as '.'. A failed download ends the trace
// with where it failed, after the port's close:
//   TIME_MS fail  stage STAGE [block N] [attempt N] reason REASON [result N]
// (the names of download/failure_detail.h; a block for the data stage only, an attempt where an
// exchange failed, a result where the transfer ran).
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "download/failure_detail.h"

// Starts watching the terminal port; `trace` (may be null) receives the lines. Call once, before
// the port is used.
void StartPortTrace(std::FILE* trace);

// Writes the failure's line (nothing without a trace or a failure). `result` is RunTransfer's, or
// none when the download failed before the transfer.
void TraceFailure(const FailureDetail& failure, std::optional<std::uint16_t> result);

// The name the terminal port was last opened with (whole, also a long device path).
std::string LastOpenedPort();
// The bytes of the last read from the terminal port.
std::string LastReply();

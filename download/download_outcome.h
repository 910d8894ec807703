// How a download ended, and everything the system says of each ending in one table: its stable
// word (corvanel-cli --json and the record), what the operator was last told, the stage it
// stopped at when the worker tells none, and corvanel-cli's exit code for it.
#pragma once

#include <cstdint>

// How a press of Download ended, told once at its very end to a front-end that asks (the
// command line takes its exit code from it). The window learns the same from its texts.
enum class DownloadOutcome : std::uint8_t {
  FileNotOpened,     // "Please enter the software file.": the path did not open
  FileRefused,       // the invalid-file box: not an upgrade file
  NoWorker,          // no worker thread could be started
  FileReopenFailed,  // the second open failed; the process ends with code 1 right after
  NoTerminal,        // the second scan found no terminal, so the AT check failed
  TerminalNotReady,  // no "OK" from the terminal
  DialFailed,        // no "CONNECT"
  TransferFailed,    // RunTransfer failed with `transferResult`
  Completed,         // the handset took the whole file
  NoWindow,          // no main window to report in: nothing was sent, file and port released
};

struct OutcomeFacts {
  DownloadOutcome outcome;
  const char* name;    // "completed", "transfer-failed", ...
  const char* status;  // the status text the operator was last shown of it ("" when none)
  // Where it stopped when the worker's failure detail tells no stage ("file", "start",
  // "window", "scan", ...); null for a completed download.
  const char* stage;
  int exitCode;  // corvanel-cli's, as its --help lists them
};

// The row of `outcome` (a value outside the enumeration gets a row of its own, "unknown").
const OutcomeFacts& FactsOf(DownloadOutcome outcome);

// corvanel-cli's exit code for a command line it cannot take (no outcome of a download).
inline constexpr int kExitUsage = 2;

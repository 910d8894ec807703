// The command line of corvanel-cli: what it is asked to do, parsed without side effects.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

inline constexpr std::size_t kDefaultHistoryCount = 10;  // records `history` shows unasked

enum class CliCommand { Help, Version, Detect, Download, History, Station, Doctor };

struct CliOptions {
  CliCommand command = CliCommand::Help;
  std::string file;                // download: the upgrade file
  std::string port;                // "\\.\COMn" or a device path; empty: scan COM2 to COM100
  std::vector<std::string> ports;  // station: every --port given; empty: COM2 to COM100
  std::string tracePath;           // empty: no trace
  bool json = false;
  bool events = false;     // download: event lines on standard output (cli/events.h)
  bool unit = false;       // download: as a station's unit (see main.cpp)
  bool once = false;       // station: end when the terminals there at the start are done
  bool wait = false;       // download: wait for a terminal to be plugged in
  bool probe = false;      // doctor: run the detection too
  double waitSeconds = 0;  // ... at most this long; 0: without end
  bool record = true;      // download: a record and a trace in the state folder
  std::size_t historyCount = kDefaultHistoryCount;  // history: the last records shown
};

// Parses argv; false with a one-line reason in `error` on a usage error.
bool ParseCliOptions(int argc, const char* const argv[], CliOptions& options, std::string& error);

// The --help text, exit codes included. The manual page corvanel-cli(1) is made from it by
// help2man (packaging/linux/man): "Usage:" and "  or:" lines, "Heading:" lines over indented lists.
const char* CliHelpText();

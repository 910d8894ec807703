#include "cli/cli_options.h"

#include <algorithm>
#include <string_view>

#include "text/json_text.h"

namespace {

// COM numbers the tool knows: the port names "\\.\COM1" to "\\.\COM100"; on Windows, where a
// PC with many devices gives numbers above 100, up to COM256 (the scan stays COM2 to COM100).
constexpr unsigned long kFirstComNumber = 1;
#ifdef _WIN32
constexpr unsigned long kLastComNumber = 256;
#else
constexpr unsigned long kLastComNumber = 100;
#endif

// The digits of "N", "COMN" or "comN"; empty when `text` is not of that form.
std::string_view ComDigits(std::string_view text) {
  if (text.size() > 3 && (text.substr(0, 3) == "COM" || text.substr(0, 3) == "com")) {
    text.remove_prefix(3);
  }
  if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) {
    return {};
  }
  return text;
}

// The port name "\\.\COMN" for the digits of a COM number from 1 to 100; empty for any other
// number (a leading zero included).
std::string ComPortName(std::string_view digits) {
  if (digits.empty() || digits.size() > 3 || digits[0] == '0') {
    return {};
  }
  unsigned long n = 0;
  for (const char c : digits) {
    constexpr unsigned long kDecimal = 10;
    n = n * kDecimal + static_cast<unsigned long>(c - '0');
  }
  if (n < kFirstComNumber || n > kLastComNumber) {
    return {};
  }
  return "\\\\.\\COM" + std::to_string(n);
}

// A count of records: digits only, at least 1 (a larger one than there are shows them all).
bool HistoryCount(std::string_view digits, std::size_t& count) {
  constexpr std::size_t kMaxDigits = 9;
  if (digits.empty() || digits.size() > kMaxDigits ||
      digits.find_first_not_of("0123456789") != std::string_view::npos) {
    return false;
  }
  count = 0;
  for (const char c : digits) {
    constexpr std::size_t kDecimal = 10;
    count = count * kDecimal + static_cast<std::size_t>(c - '0');
  }
  return count > 0;
}

// Seconds to wait: a number from 0 (0: without end).
bool WaitSeconds(std::string_view text, double& seconds) {
  constexpr double kMostSeconds = 1e9;
  return !text.empty() && text.find_first_not_of("0123456789.") == std::string_view::npos &&
         ParseJsonNumber(text, seconds) && seconds >= 0 && seconds < kMostSeconds;
}

}  // namespace

bool ParseCliOptions(int argc, const char* const argv[], CliOptions& options, std::string& error) {
  options = CliOptions{};
  std::string command;
  bool haveCommand = false;
  bool haveCount = false;
  bool onlyOperands = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool isOption = !onlyOperands && arg.size() > 1 && arg[0] == '-';
    if (isOption && arg == "--") {
      onlyOperands = true;
      continue;
    }
    if (isOption) {
      std::string_view name = arg;
      std::string_view value;
      bool inlineValue = false;
      if (const auto eq = arg.find('='); arg.substr(0, 2) == "--" && eq != std::string_view::npos) {
        name = arg.substr(0, eq);
        value = arg.substr(eq + 1);
        inlineValue = true;
      }
      auto takeValue = [&]() -> bool {
        if (inlineValue) {
          return true;
        }
        if (i + 1 >= argc) {
          error = std::string(name) + " needs a value";
          return false;
        }
        value = argv[++i];
        return true;
      };
      if (name == "-h" || name == "--help") {
        options.command = CliCommand::Help;
        return true;
      }
      if (name == "--version") {
        options.command = CliCommand::Version;
        return true;
      }
      if (name == "--json" && !inlineValue) {
        options.json = true;
      } else if (name == "--no-record" && !inlineValue) {
        options.record = false;
      } else if (name == "--events" && !inlineValue) {
        options.events = true;
      } else if (name == "--unit" && !inlineValue) {
        options.unit = true;
        options.events = true;
      } else if (name == "--probe" && !inlineValue) {
        options.probe = true;
      } else if (name == "--once" && !inlineValue) {
        options.once = true;
      } else if (name == "--wait") {
        options.wait = true;
        // The seconds are optional: --wait=S, or --wait S when S is a number.
        const bool next =
            !inlineValue && i + 1 < argc && WaitSeconds(argv[i + 1], options.waitSeconds);
        if (next) {
          ++i;
        } else if (inlineValue && !WaitSeconds(value, options.waitSeconds)) {
          error = "--wait=" + std::string(value) + ": not a number of seconds";
          return false;
        }
      } else if (name == "--port") {
        if (!takeValue()) {
          return false;
        }
        // A COM number is one of the tool's ports or a usage error; anything else is a device.
        const std::string_view digits = ComDigits(value);
        if (!digits.empty() || value.empty()) {
          options.port = ComPortName(digits);
          if (options.port.empty()) {
            error = "--port " + std::string(value) + ": not a COM number from 1 to " +
                    std::to_string(kLastComNumber);
            return false;
          }
        } else {
          options.port = std::string(value);
        }
        if (std::find(options.ports.begin(), options.ports.end(), options.port) ==
            options.ports.end()) {
          options.ports.push_back(options.port);
        }
      } else if (name == "--trace") {
        if (!takeValue()) {
          return false;
        }
        if (value.empty()) {
          error = "--trace needs a file name";
          return false;
        }
        options.tracePath = std::string(value);
      } else {
        error = "unknown option " + std::string(arg);
        return false;
      }
      continue;
    }
    if (!haveCommand) {
      command = std::string(arg);
      haveCommand = true;
      if (command == "detect") {
        options.command = CliCommand::Detect;
      } else if (command == "download") {
        options.command = CliCommand::Download;
      } else if (command == "history") {
        options.command = CliCommand::History;
      } else if (command == "station") {
        options.command = CliCommand::Station;
      } else if (command == "doctor") {
        options.command = CliCommand::Doctor;
      } else {
        error = "unknown command " + command;
        return false;
      }
    } else if ((options.command == CliCommand::Download ||
                options.command == CliCommand::Station) &&
               options.file.empty()) {
      if (arg.empty()) {
        error = command + " needs a file name";
        return false;
      }
      options.file = std::string(arg);
    } else if (options.command == CliCommand::History && !haveCount) {
      if (!HistoryCount(arg, options.historyCount)) {
        error = "history " + std::string(arg) + ": not a count of records from 1";
        return false;
      }
      haveCount = true;
    } else {
      error = "unexpected argument " + std::string(arg);
      return false;
    }
  }
  if (!haveCommand) {
    error = "no command given";
    return false;
  }
  if ((options.command == CliCommand::Download || options.command == CliCommand::Station) &&
      options.file.empty()) {
    error = command + " needs a file name";
    return false;
  }
  const bool download = options.command == CliCommand::Download;
  const bool station = options.command == CliCommand::Station;
  if ((options.events || options.wait) && !download) {
    error = std::string(options.wait ? "--wait" : "--events") + " is for download only";
    return false;
  }
  if (options.unit && options.port.empty()) {
    error = "--unit needs --port";
    return false;
  }
  if (options.probe && options.command != CliCommand::Doctor) {
    error = "--probe is for doctor only";
    return false;
  }
  if (options.once && !station) {
    error = "--once is for station only";
    return false;
  }
  if (station && !options.tracePath.empty()) {
    error = "station takes no --trace: each unit's record keeps its trace";
    return false;
  }
  if (!station && options.command != CliCommand::Doctor && options.ports.size() > 1) {
    error = "--port is given once, except for station and doctor";
    return false;
  }
  return true;
}

const char* CliHelpText() {
  return R"(Usage: corvanel-cli [OPTIONS] detect
  or:  corvanel-cli [OPTIONS] download FILE
  or:  corvanel-cli [OPTIONS] station FILE
  or:  corvanel-cli [--json] history [N]
  or:  corvanel-cli [OPTIONS] doctor

Upgrades the software of an ISDN handset behind a satellite terminal, over the same code as the
Corvanel window.

Commands:
  detect           find the terminal (COM2 to COM100, asked with AT+CGMM, then AT+GMI) and show
                   its port, the device it maps to and its answer; when none answers, name on
                   standard error each port whose device refused the line settings, and why
  download FILE    download the upgrade file FILE (.ldr) to the handset: the file checks, the
                   scan, the AT check, the dial and the transfer, with the stage texts of the
                   window; a live progress line when the output is a terminal. Each download
                   is recorded (see Records below)
  station FILE     upgrade every handset on the bench: the file checks once, then every
                   terminal on COM2 to COM100 (or on the --port values given) gets its download,
                   all at once, each in a process of its own exactly as download does it (record
                   included). Ports that appear later are asked as they come, so a terminal
                   plugged in starts at once; one whose download ended starts again only after
                   its port has gone and come back. A live table when the output is a terminal
                   (else a line per event), the failed units at the end. Ctrl-C stops the running
                   downloads as the window's close does
  doctor           list the serial ports the scan would try (COM number, device, driver, USB
                   IDs) and everything on this PC that would stop a download on one of them,
                   each with its fix in one line: no right to open the device (and the group
                   that gives it), the port held by another program (its pid and name),
                   ModemManager probing a USB terminal (the udev rule that stops it, filled in),
                   brltty's rules claiming a USB adapter, a UART that cannot run at 230400 (the
                   setserial fix), on Windows a port above COM100. Opens no port another
                   program holds and sends nothing, unless --probe asks for the detection too.
                   Exit code 0 when nothing stands in the way, 8 when something does
  history [N]      show the last N records (10 unless given) as a table, oldest first; with
                   --json the records' own JSON lines

Options:
  --port N|DEVICE  use only COM port N (or COMN, N from 1 to 100; on Windows to 256), or the
                   device path DEVICE (e.g. /dev/serial/by-id/...); it must still answer as a
                   terminal. station: repeat it to name the bench's ports
  --probe          doctor: then run the detection as detect does
  --once           station: end when the terminals there at the start are done, instead of
                   waiting for more until Ctrl-C
  --wait [SECONDS] download: when no terminal answers, wait (at most SECONDS, or without end)
                   for one to be plugged in, then download to it
  --events         download: print event lines on standard output as things happen (found,
                   stage, progress, end: the --json object with "event":"end"), as station --json
                   does for every unit; the stage lines then go to standard error
  --trace FILE     write every open, write, read and close of the port to FILE: the time in ms
                   since the start, the direction, the byte count, the bytes in hex and as text;
                   a port whose device refused the line settings gives a "refused" line that
                   says why; a failed download ends it with a "fail" line that says where
  --no-record      download: leave no record and no trace in the state folder
  --json           print one JSON object on standard output at the end (outcome, port, bytes,
                   blocks, retries, result code of the transfer, failure, seconds); the stage
                   lines then go to standard error. The failure, null after a success, names
                   where the download failed: its stage (scan, terminal-check, dial, begin,
                   data, end), the data block, the attempt and what was wrong with the last reply
                   (no-reply, cut-reply, bad-frame, other-sequence, other-code, other-answer,
                   port-lost for a device unplugged, or a file-too-large, file-unreadable or
                   file-changed upgrade file). Texts are UTF-8; each byte XX of a file name
                   that is not valid UTF-8 is written as the escape \udcXX (a lone byte 0xFF
                   as \udcff), which gives the name's bytes back as Python's surrogateescape
                   does
                   station: the event lines of every unit as they happen (each with a "port"),
                   a "gone" line for a port that went away, and a "summary" line at the end
                   (succeeded, failed, running, exit_code, failures); the lines have a
                   "version" and follow docs/events.schema.json
  -h, --help       show this help and exit
  --version        show the version and exit

Records:
  Every download, from this program and from the Corvanel window alike, is recorded in the
  state folder, $XDG_STATE_HOME/corvanel (by default ~/.local/state/corvanel; on Windows
  %LOCALAPPDATA%\Corvanel): one JSON line in upgrades.jsonl (start time in UTC, program and
  version, port and device, the terminal's answer, the file's path, size and FCS-16, the outcome
  with its text and code, where a failure happened, retries, seconds) and the download's trace
  as --trace writes it in trace-<time>.txt, the last 20 kept. Nothing is sent anywhere. After a
  failure, send support the record's line and the trace it names. A folder that cannot be
  written costs the record, never the download, and is said once on standard error.

Exit codes:
  0        success (detect: a terminal was found; station: every unit succeeded)
  1        the file could not be opened a second time
  2        usage error
  3        file refused (it cannot be opened, is not an upgrade file, or is too large)
  4        no terminal found (station --once: none on the bench)
  5        terminal not ready (no "OK")
  6        dial failed (no "CONNECT")
  7        transfer failed (station: any unit failed)
  8        doctor: something on this PC stands in the way of a download
  128+N    ended by signal N: 130 for Ctrl-C, 143 for SIGTERM
)";
}

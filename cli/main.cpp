// corvanel-cli: the download of the Corvanel window from a command line, for service benches and
// automation. It drives the very same StartDownload and DownloadWorker through a console window
// link, and takes its exit code from the worker's outcome report.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "cli/cli_options.h"
#include "cli/console.h"
#include "cli/console_link.h"
#include "cli/doctor.h"
#include "cli/events.h"
#include "cli/history.h"
#include "cli/station.h"
#include "cli/unit_process.h"
#include "download/block_transfer.h"
#include "download/download_worker.h"
#include "download/messages.h"
#include "download/process_exit.h"
#include "record/download_record.h"
#include "record/port_trace.h"
#include "record/record_platform.h"
#include "serial/port_watch.h"
#include "serial/serial_backend.h"
#include "serial/serial_port.h"
#include "serial/terminal_detection.h"
#include "text/json_text.h"

namespace {

using Clock = std::chrono::steady_clock;

// Exit codes of the command line's own; a download's come from its outcome (FactsOf).
constexpr int kExitOk = 0;
constexpr int kExitNoTerminal = 4;  // detect's, as a download's without a terminal

// A reply for a person: printable ASCII as it is, the rest as escapes.
std::string Printable(const std::string& bytes) {
  std::string out;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (b >= 0x20 && b < 0x7F) {
      out += c;
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", b);
      out += escape;
    }
  }
  return out;
}

// The device behind a port name, and where a link leads, for the operator.
std::string DeviceText(const std::string& port) {
  std::string device = PortDevice(port);
  if (device.empty()) {
    return "no device";
  }
  std::error_code ec;
  const std::filesystem::path real = std::filesystem::canonical(device, ec);
  if (!ec && real.string() != device) {
    return device + " -> " + real.string();
  }
  return device;
}

// After no terminal was found: the ports passed by because their devices refused the line
// settings, one line each, for an operator who expected the terminal on one of them, and where
// to look next.
void PrintRefusals(std::FILE* out) {
  for (const PortRefusal& refusal : RefusedPorts()) {
    PrintText(out, "%s (device %s): %s\n", refusal.port.c_str(), DeviceText(refusal.port).c_str(),
              refusal.reason.c_str());
  }
  PrintText(out, "corvanel-cli doctor shows what on this PC may stand in the way.\n");
  std::fflush(out);
}

// The same as a JSON array of {"port", "device", "reason"}.
std::string RefusalsJson() {
  std::string json = "[";
  for (const PortRefusal& refusal : RefusedPorts()) {
    const std::string device = PortDevice(refusal.port);
    json += (json.size() > 1 ? ",{\"port\":" : "{\"port\":") + JsonString(refusal.port) +
            ",\"device\":" + (device.empty() ? "null" : JsonString(device)) +
            ",\"reason\":" + JsonString(refusal.reason) + "}";
  }
  return json + "]";
}

// A record that could not be written costs the record, not the download: said once.
void WarnOfRecord(const char* text) {
  PrintText(stderr, "corvanel-cli: %s\n", text);
  std::fflush(stderr);
}

// The same for a station's unit, whose station shows it.
void WarnOfRecordAsEvent(const char* text) {
  EmitEvent(EventStart("warning", "") + ",\"text\":" + JsonString(text) + "}");
}

// One download, from the command line's view.
struct Run {
  CliOptions options;
  std::FILE* out = stdout;  // stage lines
  CConsoleLink* link = nullptr;
  std::uint64_t fileSize = 0;
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  int exitCode = FactsOf(DownloadOutcome::TransferFailed).exitCode;
};

Run* g_run = nullptr;

// The end object of --json, without its braces; its fields mean what the record's of the same
// name mean (record/record_line.h), and the failure is the record's own writer's.
std::string EndFields(const Run& run, const char* outcome, int exitCode, const std::string& port,
                      std::uint64_t bytes, const DownloadReport& report) {
  constexpr std::size_t kCountsCapacity = 160;  // more than the counts below ever take
  char counts[kCountsCapacity];
  std::snprintf(counts, sizeof counts,
                ",\"bytes\":%llu,\"blocks\":%u,\"retries\":%u,\"result\":%u,\"failure\":",
                static_cast<unsigned long long>(bytes), report.blocks, report.retries,
                report.transferResult);
  return "\"outcome\":" + JsonString(outcome) + ",\"exit_code\":" + std::to_string(exitCode) +
         ",\"file\":" + JsonString(run.options.file) +
         ",\"file_bytes\":" + std::to_string(report.fileBytes.value_or(run.fileSize)) +
         ",\"port\":" + (port.empty() ? "null" : JsonString(port)) +
         ",\"device\":" + (port.empty() ? "null" : JsonString(PortDevice(port))) + counts +
         FailureJson(FailureOf(report)) + ",\"seconds\":" + FixedText(report.seconds, 3);
}

// The worker's last word: on the thread that ended the download, with the port closed.
void OnDownloadReport(const DownloadReport& report) {
  Run& run = *g_run;
  run.link->EndProgressLine();
  const OutcomeFacts& outcome = FactsOf(report.outcome);
  const bool transferRan = report.outcome == DownloadOutcome::TransferFailed ||
                           report.outcome == DownloadOutcome::Completed;
  const bool portUsed = transferRan || report.outcome == DownloadOutcome::TerminalNotReady ||
                        report.outcome == DownloadOutcome::DialFailed;
  const std::uint32_t blocks = report.blocks;
  const std::uint64_t bytes =
      std::min<std::uint64_t>(static_cast<std::uint64_t>(blocks) * kBlockSize, run.fileSize);
  TraceFailure(report.failure,
               transferRan ? std::optional<std::uint16_t>(report.transferResult) : std::nullopt);
  // A station's unit on a port with no terminal is no unit: it ends without a word.
  const bool quiet = run.options.unit && report.outcome == DownloadOutcome::NoTerminal;
  if (report.outcome == DownloadOutcome::NoTerminal && !quiet) {
    PrintRefusals(stderr);
  }
  const std::string fields = EndFields(run, outcome.name, outcome.exitCode,
                                       portUsed ? LastOpenedPort() : std::string(), bytes, report);
  if (run.options.events && !quiet) {
    EmitEvent(EventStart("end", "") + "," + fields + ",\"status\":" + JsonString(outcome.status) +
              "}");
  } else if (run.options.json) {
    PrintText(stdout, "{%s}\n", fields.c_str());
    std::fflush(stdout);
  }
  if (report.outcome == DownloadOutcome::FileReopenFailed) {
    return;  // the worker ends the process with its own code 1 right after this
  }
  // Notified under the lock: the waiting thread may end the run (and destroy the condition)
  // as soon as it can see `finished`, so nothing may touch the condition after the unlock.
  std::lock_guard<std::mutex> lock(run.mutex);
  run.exitCode = quiet && !RefusedPorts().empty() ? kExitUnitPortRefused : outcome.exitCode;
  run.finished = true;
  run.done.notify_all();
}

int RunDownload(Run& run) {
  run.fileSize = FileSizeOf(run.options.file);

  CConsoleLink link(run.out, run.out != nullptr && IsTerminal(run.out), run.options.file,
                    run.fileSize);
  CEventLink events(link);
  run.link = &link;
  g_run = &run;
  SetMainWindowLink(run.options.events ? static_cast<CWindowLink*>(&events) : &link);
  SetDownloadReportHook(OnDownloadReport);

  StartDownload();  // the press of the Download button
  std::unique_lock<std::mutex> lock(run.mutex);
  run.done.wait(lock, [&run] { return run.finished; });
  return run.exitCode;
}

// Asks the one port whether a terminal is there, as detection does, and closes it again.
bool ProbePort(const std::string& port, std::string& answer) {
  SetDetectionPort(port.c_str());
  const bool found = DetectTerminal() == DETECT_FOUND;
  answer = found ? LastReply() : std::string();
  CloseTerminalPort();
  return found;
}

// download --wait: the scan as a download's, and when it finds no terminal, the ports that
// appear (or come back) are asked until one answers or the time is up. On return the download's
// own scan asks the terminal's port alone, or every port again when none answered.
void WaitForTerminal(const CliOptions& options, std::FILE* out) {
  const std::vector<std::string> names = NamedOrCandidatePorts(options.ports);
  CPortWatcher watcher(names);  // before the scan: a port that comes during it is not missed
  PortSnapshot known = PresentPorts(names);
  if (DetectTerminal() == DETECT_FOUND) {
    const std::string port = LastOpenedPort();
    CloseTerminalPort();
    SetDetectionPort(port.c_str());
    return;
  }
  if (out != nullptr) {
    PrintText(out, "Waiting for a terminal to be plugged in...\n");
    std::fflush(out);
  }
  const bool endless = options.waitSeconds <= 0;
  const Clock::time_point until =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(
                         std::chrono::duration<double>(options.waitSeconds));
  constexpr std::chrono::milliseconds kLook{1000};
  while (endless || Clock::now() < until) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
    watcher.Wait(endless ? kLook : std::clamp(left, std::chrono::milliseconds(0), kLook));
    const PortSnapshot now = PresentPorts(names);
    for (const auto& [port, identity] : now) {
      const auto before = known.find(port);
      std::string answer;
      if ((before == known.end() || before->second != identity) && ProbePort(port, answer)) {
        SetDetectionPort(port.c_str());
        return;
      }
    }
    known = now;
  }
  SetDetectionPort(options.port.empty() ? nullptr : options.port.c_str());
}

int RunDetect(const CliOptions& options, std::FILE* out) {
  const Clock::time_point start = Clock::now();
  const bool found = DetectTerminal() == DETECT_FOUND;
  const std::string port = found ? LastOpenedPort() : std::string();
  const std::string answer = found ? LastReply() : std::string();
  CloseTerminalPort();
  if (found) {
    // The window's own words for it, then what only a command line shows.
    const std::string_view connected(kConnectedMessage);
    PrintText(out, "%s\nPort: %s (device %s)\nAnswer: %s\n",
              std::string(connected.substr(0, connected.find('\n'))).c_str(), port.c_str(),
              DeviceText(port).c_str(), Printable(answer).c_str());
  } else {
    PrintText(out, "%s\n", kNoTerminalMessage);
  }
  std::fflush(out);
  if (!found) {
    PrintRefusals(stderr);
  }
  if (options.json) {
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    PrintText(stdout,
              "{\"outcome\":%s,\"exit_code\":%d,\"port\":%s,\"device\":%s,\"answer\":%s,"
              "\"refused\":%s,\"seconds\":%s}\n",
              found ? "\"found\"" : "\"no-terminal\"", found ? kExitOk : kExitNoTerminal,
              found ? JsonString(port).c_str() : "null",
              found ? JsonString(PortDevice(port)).c_str() : "null",
              found ? JsonString(answer).c_str() : "null", RefusalsJson().c_str(),
              FixedText(seconds, 3).c_str());
    std::fflush(stdout);
  }
  return found ? kExitOk : kExitNoTerminal;
}

}  // namespace

int main(int argc, char* argv[]) {
  CliOptions options;
  std::string error;
  // Paths in UTF-8 on Windows too, as the core opens them.
  const std::vector<std::string> arguments = CommandLineArguments(argc, argv);
  std::vector<const char*> args;
  args.reserve(arguments.size());
  for (const std::string& argument : arguments) {
    args.push_back(argument.c_str());
  }
  if (!ParseCliOptions(static_cast<int>(args.size()), args.data(), options, error)) {
    PrintText(stderr, "corvanel-cli: %s\nTry 'corvanel-cli --help'.\n", error.c_str());
    return kExitUsage;
  }
  if (options.command == CliCommand::Help) {
    WriteText(stdout, CliHelpText());
    return kExitOk;
  }
  if (options.command == CliCommand::Version) {
    PrintText(stdout, "corvanel-cli %s\n", CorvanelVersion());
    return kExitOk;
  }
  if (options.command == CliCommand::History) {
    PrintHistory(options.historyCount, options.json);
    return kExitOk;
  }
  if (options.command == CliCommand::Doctor && !options.probe) {
    return RunDoctor(options);
  }
  if (options.command == CliCommand::Station) {
    KeepRunningWhenOutputCloses();
    return RunStation(options);
  }

  // Ctrl-C and SIGTERM end the process at once with the port closed: nothing more reaches the
  // handset.
  EndProcessOnSignals();
  // The download matters more than its report: a reader that goes away (`| head -1`) costs the
  // lines it would have read, not the handset's software.
  KeepRunningWhenOutputCloses();

  std::FILE* trace = nullptr;
  if (!options.tracePath.empty()) {
    trace = OpenForWriting(options.tracePath);
    if (trace == nullptr) {
      PrintText(stderr, "corvanel-cli: cannot write the trace file %s\n",
                options.tracePath.c_str());
      return kExitUsage;
    }
  }
  StartPortTrace(trace);
  if (!options.port.empty()) {
    SetDetectionPort(options.port.c_str());
  }
  // With --json or --events, standard output holds the JSON alone; a station's unit shows no
  // stage lines (its station shows its events).
  std::FILE* out = options.unit ? nullptr : options.json || options.events ? stderr : stdout;
  if (options.unit) {
    EndWithStation();  // a unit goes with its station
  } else if (options.wait) {
    WaitForTerminal(options, out);
  }
  if (options.command == CliCommand::Download && options.record) {
    // A station's unit asks a port that may hold no terminal: that leaves no record.
    SetDownloadRecording("corvanel-cli", options.unit ? WarnOfRecordAsEvent : WarnOfRecord,
                         options.unit ? RecordScope::TerminalFound : RecordScope::Every);
  }

  int code = kExitOk;
  if (options.command == CliCommand::Doctor) {
    // --probe: the findings, then the detection as detect runs it (on its own lines).
    code = RunDoctor(options);
    const int found = RunDetect(options, options.json ? stderr : stdout);
    code = code != kExitOk ? code : found;
  } else if (options.command == CliCommand::Detect) {
    code = RunDetect(options, out);
  } else {
    Run run;
    run.options = options;
    run.out = out;
    code = RunDownload(run);
  }
  // The process's own end: the port closed, nothing waits for a thread.
  EndProcess(code);
}

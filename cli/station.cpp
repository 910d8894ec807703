#include "cli/station.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/console.h"
#include "cli/console_link.h"
#include "cli/events.h"
#include "cli/unit_process.h"
#include "download/download_outcome.h"
#include "download/download_worker.h"
#include "download/messages.h"
#include "download/process_exit.h"
#include "serial/port_watch.h"
#include "text/json_text.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kRescan{1000};  // the watcher looks again at least this often
// A terminal switched on with its cable in shows its port while it still boots, and answers no
// AT command yet: a port plugged in during the run that gave no answer is asked again after a
// pause, for this long after it came.
constexpr std::chrono::seconds kBootAllowance{30};
constexpr std::chrono::seconds kAskAgainPause{2};
constexpr std::chrono::milliseconds kDrawInterval{1000 / kProgressEventsPerSecond};
constexpr int kExitOk = 0;
constexpr int kExitNoTerminal = 4;
constexpr int kExitFailed = 7;
constexpr int kQuarter = 25;              // line mode: progress shown each quarter
constexpr long long kFull = 100;          // percent
constexpr std::size_t kDeviceWidth = 10;  // table: the device's name, cut to this
constexpr std::size_t kNarrowest = 40;    // columns a table row is cut to at the least

struct Message {
  enum class Kind { Ports, Line, Ended, Stop };
  Kind kind = Kind::Ports;
  PortSnapshot ports;
  std::size_t unit = 0;
  std::string text;
  int code = 0;
};

// What the station's threads (the watcher, each unit's reader, the stop watch) tell the loop.
class CMailbox {
 public:
  // The station's one mailbox. It lives as long as the process, not the station: the stop watch
  // is a thread of its own that may post a second signal after the station has ended.
  static CMailbox& OfProcess() {
    static CMailbox* const mailbox = new CMailbox;
    return *mailbox;
  }
  void Post(Message message) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_queue.push_back(std::move(message));
    m_posted.notify_one();
  }
  bool Take(Message& message, Clock::time_point until) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_posted.wait_until(lock, until, [this] { return !m_queue.empty(); })) {
      return false;
    }
    message = std::move(m_queue.front());
    m_queue.pop_front();
    return true;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_posted;
  std::deque<Message> m_queue;
};

// One download on one port, as its unit's events tell it.
struct Unit {
  std::string port;
  std::unique_ptr<CUnitProcess> process;
  std::thread reader;
  bool running = true;
  bool found = false;
  std::string device;
  std::string model;  // the terminal's answer, its first line
  std::string stage = "scan";
  long long block = 0, blocks = 0, percent = 0, retries = 0;
  double rate = 0;
  int lastQuarter = 0;
  std::string outcome;               // "" while it runs
  std::string status;                // the window's words for its end
  std::string failure;               // "stage data, block 40, attempt 3, port-lost"
  std::string failureJson = "null";  // the end object's failure, as it came
  int exitCode = 0;
};

std::string Text(const JsonObject& object, const char* key) {
  const auto it = object.find(key);
  return it == object.end() || it->second.kind == JsonValue::Kind::Null ? std::string()
                                                                        : it->second.text;
}

long long Number(const JsonObject& object, const char* key) {
  double value = 0;
  return ParseJsonNumber(Text(object, key), value) ? static_cast<long long>(value) : 0;
}

// The first line of a reply with text in it.
std::string FirstLine(const std::string& answer) {
  std::size_t at = 0;
  while (at < answer.size()) {
    const std::size_t end = std::min(answer.find_first_of("\r\n", at), answer.size());
    if (end > at) {
      return answer.substr(at, end - at);
    }
    at = end + 1;
  }
  return {};
}

// "stage data, block 40, attempt 3, port-lost" from an end object's failure.
std::string FailureText(const std::string& source) {
  JsonObject failure;
  if (!ReadJsonObject(source, failure)) {
    return {};
  }
  std::string text = "stage " + Text(failure, "stage");
  for (const char* key : {"block", "attempt"}) {
    if (!Text(failure, key).empty()) {
      text += std::string(", ") + key + " " + Text(failure, key);
    }
  }
  if (!Text(failure, "reason").empty()) {
    text += ", " + Text(failure, "reason");
  }
  return text;
}

// The window's status text as a stage begins, for the lines without a terminal.
const char* StageText(const std::string& stage) {
  if (stage == "terminal-check") return kStatusChecking;
  if (stage == "dial") return kStatusDialling;
  if (stage == "begin") return kStatusTransferring;
  return nullptr;
}

class CStation {
 public:
  explicit CStation(const CliOptions& options)
      : m_options(options),
        m_json(options.json),
        m_table(!options.json && CanRedrawInPlace(stdout)),
        m_lines(options.json ? stderr : stdout) {}

  int Run();

 private:
  void OnPorts(const PortSnapshot& ports);
  void Start(const std::string& port);
  void OnLine(Unit& unit, const std::string& line);
  void OnEnded(std::size_t index, int code);
  void StopAll();
  void AskAgainWhenDue();
  Clock::time_point NextWake(Clock::time_point nextDraw) const;
  bool Finished() const;
  int ExitCode() const;
  void Say(const std::string& text);  // line mode
  void Draw(bool last);
  void Summary();

  const CliOptions& m_options;
  const bool m_json;
  const bool m_table;
  std::FILE* const m_lines;
  CMailbox& m_mailbox = CMailbox::OfProcess();
  std::vector<std::unique_ptr<Unit>> m_units;
  std::map<std::string, std::string> m_known;           // port -> identity when last plugged in
  std::map<std::string, std::size_t> m_latest;          // port -> its latest unit
  std::map<std::string, bool> m_restart;                // port replugged while its unit still ran
  std::map<std::string, Clock::time_point> m_cameAt;    // port -> when plugged in during the run
  std::map<std::string, Clock::time_point> m_askAgain;  // port -> when to ask it again
  bool m_firstPorts = false;
  int m_signal = 0;
  bool m_dirty = false;
  std::size_t m_drawnLines = 0;
};

int CStation::Run() {
  const std::vector<std::string> names = NamedOrCandidatePorts(m_options.ports);
  WatchStopRequests([](int signal) {
    Message stop;
    stop.kind = Message::Kind::Stop;
    stop.code = signal;
    CMailbox::OfProcess().Post(std::move(stop));
  });
  CPortWatcher watcher(names);
  std::atomic<bool> watching{true};
  std::thread watch([&] {
    PortSnapshot last;
    bool first = true;
    while (watching) {
      PortSnapshot now = PresentPorts(names);
      if (first || now != last) {
        Message ports;
        ports.ports = now;
        m_mailbox.Post(std::move(ports));
        last = std::move(now);
        first = false;
      }
      watcher.Wait(kRescan);
    }
  });

  Clock::time_point nextDraw = Clock::now();
  while (!Finished()) {
    Message message;
    if (m_mailbox.Take(message, NextWake(nextDraw))) {
      switch (message.kind) {
        case Message::Kind::Ports:
          OnPorts(message.ports);
          break;
        case Message::Kind::Line:
          OnLine(*m_units[message.unit], message.text);
          break;
        case Message::Kind::Ended:
          OnEnded(message.unit, message.code);
          break;
        case Message::Kind::Stop:
          if (m_signal == 0) {
            m_signal = message.code;
            m_askAgain.clear();
            StopAll();
          }
          break;
      }
    }
    AskAgainWhenDue();
    if (m_table && Clock::now() >= nextDraw) {
      if (m_dirty) {
        Draw(false);
      }
      nextDraw = Clock::now() + kDrawInterval;
    }
  }
  watching = false;
  watcher.Wake();
  watch.join();
  Summary();
  return ExitCode();
}

void CStation::OnPorts(const PortSnapshot& ports) {
  for (const auto& [port, identity] : ports) {
    const auto known = m_known.find(port);
    if (known != m_known.end() && known->second == identity) {
      continue;
    }
    m_known[port] = identity;
    m_askAgain.erase(port);
    if (m_firstPorts) {
      m_cameAt[port] = Clock::now();
    }
    // With --once only the terminals there at the start count.
    if (m_signal == 0 && (!m_options.once || !m_firstPorts)) {
      Start(port);
    }
  }
  for (auto it = m_known.begin(); it != m_known.end();) {
    if (ports.count(it->first) != 0) {
      ++it;
      continue;
    }
    const auto latest = m_latest.find(it->first);
    if (latest != m_latest.end() && m_units[latest->second]->found) {
      if (m_json) {
        EmitEvent(EventStart("gone", it->first) + "}");
      }
      Say(ShortPortName(it->first) + ": pulled out");
    }
    m_restart.erase(it->first);
    m_askAgain.erase(it->first);
    m_cameAt.erase(it->first);
    it = m_known.erase(it);
  }
  m_firstPorts = true;
}

void CStation::Start(const std::string& port) {
  const auto latest = m_latest.find(port);
  if (latest != m_latest.end() && m_units[latest->second]->running) {
    m_restart[port] = true;  // a new terminal there once the old download has let go
    return;
  }
  auto unit = std::make_unique<Unit>();
  unit->port = port;
  unit->process = std::make_unique<CUnitProcess>();
  std::vector<std::string> arguments = {"download", m_options.file, "--port", port, "--unit"};
  if (!m_options.record) {
    arguments.emplace_back("--no-record");
  }
  std::string error;
  if (!unit->process->Start(arguments, error)) {
    PrintText(stderr, "corvanel-cli: %s: %s\n", ShortPortName(port).c_str(), error.c_str());
    return;
  }
  const std::size_t index = m_units.size();
  CUnitProcess* process = unit->process.get();
  unit->reader = std::thread([this, index, process] {
    std::string line;
    while (process->ReadLine(line)) {
      Message message;
      message.kind = Message::Kind::Line;
      message.unit = index;
      message.text = line;
      m_mailbox.Post(std::move(message));
    }
    Message ended;
    ended.kind = Message::Kind::Ended;
    ended.unit = index;
    ended.code = process->Wait();
    m_mailbox.Post(std::move(ended));
  });
  m_units.push_back(std::move(unit));
  m_latest[port] = index;
}

void CStation::OnLine(Unit& unit, const std::string& line) {
  JsonObject event;
  if (!ReadJsonObject(line, event)) {
    return;  // not an event of ours
  }
  const std::string kind = Text(event, "event");
  if (m_json && kind != "warning") {
    EmitEvent(line);
  }
  m_dirty = true;
  const std::string port = ShortPortName(unit.port);
  if (kind == "found") {
    unit.found = true;
    unit.device = Text(event, "device");
    unit.model = FirstLine(Text(event, "answer"));
    Say(port + " (" + unit.device + "): terminal found, " + unit.model);
  } else if (kind == "stage") {
    unit.stage = Text(event, "stage");
    if (const char* text = StageText(unit.stage)) {
      Say(port + ": " + text);
    }
  } else if (kind == "progress") {
    unit.block = Number(event, "block");
    unit.blocks = Number(event, "blocks");
    unit.percent = Number(event, "percent");
    unit.retries = Number(event, "retries");
    double rate = 0;
    unit.rate = ParseJsonNumber(Text(event, "bytes_per_second"), rate) ? rate : 0;
    const int quarter = static_cast<int>(unit.percent / kQuarter);
    if (quarter > unit.lastQuarter && unit.percent < kFull) {
      unit.lastQuarter = quarter;
      Say(port + ": " + std::to_string(unit.percent) + "%, block " + std::to_string(unit.block) +
          " of " + std::to_string(unit.blocks));
    }
  } else if (kind == "end") {
    unit.outcome = Text(event, "outcome");
    unit.status = Text(event, "status");
    unit.exitCode = static_cast<int>(Number(event, "exit_code"));
    unit.retries = Number(event, "retries");
    const auto failure = event.find("failure");
    if (failure != event.end() && failure->second.kind == JsonValue::Kind::Object) {
      unit.failure = FailureText(failure->second.text);
      unit.failureJson = failure->second.text;
    }
    if (unit.outcome == "completed") {
      unit.percent = kFull;
      unit.block = unit.blocks;
    }
    Say(port + ": " + unit.status + (unit.failure.empty() ? "" : " (" + unit.failure + ")"));
  } else if (kind == "warning") {
    PrintText(stderr, "corvanel-cli: %s: %s\n", port.c_str(), Text(event, "text").c_str());
    if (m_json) {
      EmitEvent(line);
    }
  }
}

void CStation::OnEnded(std::size_t index, int code) {
  Unit& unit = *m_units[index];
  unit.reader.join();
  unit.running = false;
  m_dirty = true;
  if (unit.found && unit.outcome.empty()) {
    // Ended without its report: stopped with the station, or it died.
    unit.outcome = m_signal != 0 ? "stopped" : "crashed";
    unit.status = m_signal != 0 ? "Stopped." : "The download's process ended unexpectedly.";
    unit.exitCode = code;
    if (m_json) {
      EmitEvent(EventStart("end", unit.port) + ",\"outcome\":" + JsonString(unit.outcome) +
                ",\"exit_code\":" + std::to_string(code) +
                ",\"status\":" + JsonString(unit.status) + "}");
    }
    Say(ShortPortName(unit.port) + ": " + unit.status + " (exit code " + std::to_string(code) +
        ")");
  } else if (!unit.found && code != kExitNoTerminal && code != kExitUnitPortRefused &&
             m_signal == 0) {
    PrintText(stderr, "corvanel-cli: %s: the probe ended with code %d\n",
              ShortPortName(unit.port).c_str(), code);
  } else if (!unit.found && code == kExitNoTerminal && m_signal == 0 &&
             m_known.count(unit.port) != 0 && m_restart.count(unit.port) == 0) {
    const auto came = m_cameAt.find(unit.port);
    if (came != m_cameAt.end() && Clock::now() - came->second < kBootAllowance) {
      m_askAgain[unit.port] = Clock::now() + kAskAgainPause;
    }
  }
  const auto restart = m_restart.find(unit.port);
  if (restart != m_restart.end()) {
    m_restart.erase(restart);
    if (m_signal == 0 && m_known.count(unit.port) != 0) {
      Start(unit.port);
    }
  }
}

void CStation::StopAll() {
  for (const auto& unit : m_units) {
    if (unit->running) {
      unit->process->Stop();
    }
  }
}

void CStation::AskAgainWhenDue() {
  const Clock::time_point now = Clock::now();
  for (auto it = m_askAgain.begin(); it != m_askAgain.end();) {
    if (it->second > now) {
      ++it;
      continue;
    }
    const std::string port = it->first;
    it = m_askAgain.erase(it);
    Start(port);
  }
}

Clock::time_point CStation::NextWake(Clock::time_point nextDraw) const {
  Clock::time_point wake = m_table ? nextDraw : Clock::now() + kRescan;
  for (const auto& entry : m_askAgain) {
    wake = std::min(wake, entry.second);
  }
  return wake;
}

bool CStation::Finished() const {
  const bool running =
      std::any_of(m_units.begin(), m_units.end(), [](const auto& unit) { return unit->running; });
  if (running || !m_restart.empty() || !m_askAgain.empty()) {
    return false;
  }
  return m_signal != 0 || (m_options.once && m_firstPorts);
}

int CStation::ExitCode() const {
  if (m_signal != 0) {
    return SignalExitCode(m_signal);
  }
  bool any = false;
  for (const auto& unit : m_units) {
    if (unit->found) {
      any = true;
      if (unit->outcome != "completed") {
        return kExitFailed;
      }
    }
  }
  return any ? kExitOk : kExitNoTerminal;
}

void CStation::Say(const std::string& text) {
  if (m_table) {
    return;
  }
  WriteText(m_lines, text + "\n");
  std::fflush(m_lines);
}

void CStation::Draw(bool last) {
  // Each row is cut to the terminal's width: a row that wrapped would take two lines, and the
  // next drawing would start too low.
  const std::size_t width = std::max<std::size_t>(TerminalColumns(stdout), kNarrowest) - 1;
  const auto fit = [width](std::string row) {
    if (row.size() > width) {
      std::size_t cut = width;
      constexpr unsigned kTopBits = 0xC0, kContinuation = 0x80;  // 10xxxxxx: inside a sequence
      while (cut > 0 && (static_cast<unsigned char>(row[cut]) & kTopBits) == kContinuation) {
        --cut;  // not inside a UTF-8 sequence
      }
      row.resize(cut);
    }
    return row + "\x1b[K\n";
  };
  std::string screen;
  if (m_drawnLines > 0) {
    screen += "\x1b[" + std::to_string(m_drawnLines) + "F";  // back to the table's top
  }
  constexpr std::size_t kRowCapacity = 512;
  char row[kRowCapacity];
  std::snprintf(row, sizeof row, "%-6s %-*s %-15s %12s %7s %7s  %s", "PORT",
                static_cast<int>(kDeviceWidth), "DEVICE", "STAGE", "PROGRESS", "RETRIES", "BYTES/S",
                "OUTCOME");
  screen += fit(row);
  std::size_t lines = 1;
  int succeeded = 0, failed = 0, running = 0;
  std::vector<std::pair<std::string, std::size_t>> rows(m_latest.begin(), m_latest.end());
  std::sort(rows.begin(), rows.end(),
            [](const auto& a, const auto& b) { return PortBefore(a.first, b.first); });
  for (const auto& [port, index] : rows) {
    const Unit& unit = *m_units[index];
    if (!unit.found) {
      continue;
    }
    // The device's own name (ttyUSB0, or the link's); the whole path is in the lines above.
    std::string device = unit.device.substr(unit.device.find_last_of("/\\") + 1);
    if (device.size() > kDeviceWidth) {
      device = device.substr(0, kDeviceWidth);
    }
    const std::string progress = std::to_string(unit.percent) + "% " + std::to_string(unit.block) +
                                 "/" + std::to_string(unit.blocks);
    std::snprintf(row, sizeof row, "%-6s %-*s %-15s %12s %7lld %7.0f  %s",
                  ShortPortName(port).c_str(), static_cast<int>(kDeviceWidth), device.c_str(),
                  unit.running ? unit.stage.c_str() : unit.outcome.c_str(), progress.c_str(),
                  unit.retries, unit.rate, unit.status.c_str());
    screen += fit(row);
    ++lines;
  }
  for (const auto& unit : m_units) {
    if (!unit->found) continue;
    if (unit->running) {
      ++running;
    } else if (unit->outcome == "completed") {
      ++succeeded;
    } else {
      ++failed;
    }
  }
  std::snprintf(row, sizeof row, "%d succeeded, %d failed, %d running%s", succeeded, failed,
                running, last ? "" : "  (Ctrl-C stops)");
  screen += fit(row);
  ++lines;
  WriteText(stdout, screen);
  std::fflush(stdout);
  m_drawnLines = lines;
  m_dirty = false;
}

void CStation::Summary() {
  int succeeded = 0, failed = 0, running = 0;
  std::string failures = "[";
  std::string failedLines;
  for (const auto& unit : m_units) {
    if (!unit->found) continue;
    if (unit->running) {
      ++running;
      continue;
    }
    if (unit->outcome == "completed") {
      ++succeeded;
      continue;
    }
    ++failed;
    failures +=
        std::string(failures.size() > 1 ? "," : "") + "{\"port\":" + JsonString(unit->port) +
        ",\"outcome\":" + JsonString(unit->outcome) + ",\"failure\":" + unit->failureJson + "}";
    failedLines += "  " + ShortPortName(unit->port) + " (" + unit->device + "): " + unit->status +
                   (unit->failure.empty() ? "" : " (" + unit->failure + ")") + "\n";
  }
  failures += "]";
  const int code = ExitCode();
  std::string failedText = failedLines.empty() ? "" : "Failed:\n" + failedLines;
  if (code == kExitNoTerminal) {
    failedText = std::string(kNoTerminalMessage) + "\n";  // the window's words for it
  }
  if (m_table) {
    Draw(true);
    WriteText(stdout, failedText);
    std::fflush(stdout);
  } else {
    WriteText(m_lines, failedText + std::to_string(succeeded) + " succeeded, " +
                           std::to_string(failed) + " failed, " + std::to_string(running) +
                           " running\n");
    std::fflush(m_lines);
  }
  if (m_json) {
    EmitEvent(EventStart("summary", "") + ",\"succeeded\":" + std::to_string(succeeded) +
              ",\"failed\":" + std::to_string(failed) + ",\"running\":" + std::to_string(running) +
              ",\"exit_code\":" + std::to_string(code) + ",\"failures\":" + failures + "}");
  }
}

}  // namespace

int RunStation(const CliOptions& options) {
  // The file checks once, up front, as a download's would.
  const DownloadOutcome check = CheckUpgradeFile(options.file.c_str());
  if (check != DownloadOutcome::Completed) {
    const bool refused = check == DownloadOutcome::FileRefused;
    PrintText(stderr, "%s: %s\n", refused ? kBoxInvalidFileCaption : "Error",
              ConsoleText(refused ? kBoxInvalidFile : kBoxEnterSoftwareFile).c_str());
    const int code = FactsOf(check).exitCode;
    if (options.json) {
      EmitEvent(EventStart("summary", "") + ",\"succeeded\":0,\"failed\":0,\"running\":0," +
                "\"exit_code\":" + std::to_string(code) +
                ",\"failures\":[],\"refused\":" + JsonString(FactsOf(check).name) + "}");
    }
    return code;
  }
  CStation station(options);
  return station.Run();
}

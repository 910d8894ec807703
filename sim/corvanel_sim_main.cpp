// corvanel-sim: runs simulated terminals and handsets on pseudo-terminals behind a fresh
// CORVANEL_COM_DIR, then either runs a command with that variable set, or prints it and waits
// for SIGINT or SIGTERM. Prints a short report at the end and saves the received image if asked.
// With --replay the terminals answer as a port trace shows (sim/replay.h).
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/plug_plan.h"
#include "sim/replay.h"
#include "sim/simulator.h"

namespace {

constexpr int kUsageError = 2;      // bad options
constexpr int kSetupError = 3;      // the simulator could not start
constexpr int kNoCommand = 127;     // the command could not be started
constexpr int kReplayDiverged = 9;  // the command wrote what the replayed trace does not show

// How often the main thread looks whether a replay has stopped, while the command runs.
constexpr long kReplayCheckNs = 50'000'000;
// How long the lines get, once the command has ended, to take in what it last wrote.
constexpr std::chrono::milliseconds kReplaySettle{1000};

// The --help text; the manual page corvanel-sim(1) is made from it by help2man
// (packaging/linux/man), which reads "Heading:" lines over indented lists.
constexpr const char* kUsage = R"(Usage: corvanel-sim [options] [-- command [args...]]

Runs simulated satellite terminals (and the handset behind each) on pseudo-terminals linked as
COMn in a fresh temporary directory. With a command, runs it with CORVANEL_COM_DIR set to that
directory and exits with its status; without one, prints CORVANEL_COM_DIR=... and waits for
SIGINT or SIGTERM. At the end it prints a report on stderr and saves the images asked for.

Options:
  --quiet             no report
  --terminals N       N more terminals (1 to 200), on the lowest COM numbers from 2 that no --com
                      takes, each with the device options given before any --com
  --plug-plan PLAN    pull terminals out and put them back in over time: PLAN is a comma list of
                      COMn-SECONDS (COMn and its pty go away, as a USB terminal pulled out) and
                      COMn+SECONDS (a fresh pty behind COMn again), in seconds from the start; a
                      terminal whose first item is a plug starts pulled out
                      (e.g. --plug-plan COM3-2.5,COM3+4,COM6+1)
  --random-plugs N:SEED[:SECONDS]
                      N pulls of random terminals within SECONDS (default 20), each put back
                      0.5 to 3 s later; the plan is printed, for --plug-plan to repeat it
  -h, --help          show this help and exit

Device options apply to the device of the last --com; given before any --com they apply to every
device. Without --com there is one terminal on COM9.

Device options:
  --com N             a simulated device on COM N (1 to 255; repeatable)
  --model TEXT        answer to AT+CGMM  (default "\r\nTARVENIX-9505\r\n\r\nOK\r\n")
  --maker TEXT        answer to AT+GMI   (default "\r\nKestra\r\n\r\nOK\r\n")
  --ok TEXT           answer to AT       (default "\r\nOK\r\n")
  --connect TEXT      answer to ATD**60  (default "\r\nCONNECT 9600\r\n"; an answer holding
                      CONNECT switches the device to the handset)
  --other TEXT        answer to any other line (default "\r\nERROR\r\n")
  --fault WHEN=WHAT   a fault (repeatable; the first that matches an exchange decides it)
  --pace              pace both directions at 230400 baud, 10 bits a byte
  --no-pace           do not pace (the default)
  --no-replug         after a hang-up the device stays gone (default: back at once)
  --save-image PATH   save the image this device received to PATH

TEXT takes \r \n \t \0 \\ \xHH; the word "silence" means no answer.

Replay options (no device options with them):
  --replay TRACE      terminals that answer as the trace TRACE shows the real ones did (a trace
                      of corvanel-cli --trace, or one from the record folder, of the window or
                      the CLI): one on each port the trace opened, each write of the tool
                      answered by the reads that followed it in the trace, at the same times
                      (silence until the read's time-out, a hang-up where the port was lost).
                      The first write that differs from the trace stops the replay: the
                      command is ended and the exchange, the expected and the written bytes
                      are shown (exit code 9). A command that stops short of the trace's
                      writes is a difference too
  --extract-image OUT rebuild the upgrade file from the trace's data frames into OUT before
                      the replay (without a command: only that); a download that failed gives
                      the blocks it sent, which is all a replay of it reads
  e.g. corvanel-sim --replay trace.txt --extract-image img.ldr -- corvanel-cli download img.ldr

Faults (--fault WHEN=WHAT):
  WHEN    begin | end | data | data:N | model | maker | at | dial, optionally #K for the
          K-th attempt only; or #K alone for the K-th frame received in handset mode
  WHAT    silence | garbage[:HEX] | text:TEXT | code[:C] | seq[:N] | cut[:K[:MS]] | hangup,
          optionally +delay:MS (or delay:MS alone)
  e.g. --fault begin=silence --fault data:4#1=seq:3 --fault at#1=silence

Exit codes:
  0        ended by SIGINT or SIGTERM, when no command was given
  2        usage error
  3        the simulator could not start, or the trace cannot be read
  9        a replay stopped: the command wrote other bytes than the trace shows
  127      the command could not be run
  other    the command's own exit code (128+N when signal N ended it)
)";

struct DeviceOptions {
  sim::DeviceConfig config;
  std::string savePath;
};

int UsageError(const std::string& message) {
  std::cerr << "corvanel-sim: " << message << "\n(see corvanel-sim --help)\n";
  return kUsageError;
}

bool ParseAnswer(const std::string& value, std::optional<std::string>& answer, std::string& error) {
  if (value == "silence") {
    answer.reset();
    return true;
  }
  std::string text;
  if (!sim::ParseText(value, text, error)) return false;
  answer = text;
  return true;
}

std::string Hex16(std::uint16_t v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%04X", v);
  return buf;
}

void Report(const sim::CPtyLine& terminal, const std::string& savePath, bool quiet) {
  const sim::DeviceStats s = terminal.Stats();
  const std::string tag = "corvanel-sim: COM" + std::to_string(terminal.ComNumber()) + ": ";
  bool saved = false;
  if (!savePath.empty() && s.transfers > 0) {
    std::ofstream out(savePath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(s.image.data()),
              static_cast<std::streamsize>(s.image.size()));
    saved = static_cast<bool>(out);
    if (!saved) std::cerr << tag << "cannot save the image to " << savePath << "\n";
  }
  if (quiet) return;
  std::cerr << tag << s.atCommands.size() << " AT commands, " << s.frames << " frames ("
            << s.rejected << " rejected), " << s.retries << " retries, " << s.transfers
            << " transfers, " << s.opens << " opens, " << s.hangUps << " hang-ups\n";
  if (s.transfers > 0) {
    std::cerr << tag << "image " << s.image.size() << " bytes in " << s.blocks << " blocks, FCS "
              << Hex16(sim::ImageFcs(s.image.data(), s.image.size())) << "; ";
    if (s.endReceived) {
      std::cerr << "end request FCS " << Hex16(s.endFcs)
                << (s.endFcsMatched ? " matched\n" : " did NOT match\n");
    } else {
      std::cerr << "no end request\n";
    }
  }
  std::string reasons;
  for (std::size_t i = 0; i < sim::kRejectKinds; ++i) {
    if (s.rejects[i] == 0) continue;
    if (!reasons.empty()) reasons += ", ";
    reasons += std::string(sim::RejectName(static_cast<sim::RejectReason>(i))) + " " +
               std::to_string(s.rejects[i]);
  }
  if (!reasons.empty()) std::cerr << tag << "rejected: " << reasons << "\n";
  for (const std::string& v : s.violations) std::cerr << tag << "violation: " << v << "\n";
  if (saved) std::cerr << tag << "image saved to " << savePath << "\n";
  if (!savePath.empty() && s.transfers == 0)
    std::cerr << tag << "no image received, nothing saved\n";
}

// Saves the upgrade file rebuilt from the trace's data frames; false (said) when it cannot.
bool SaveExtractedImage(const std::vector<sim::TraceEvent>& events, const std::string& path) {
  sim::ExtractedImage image;
  std::string error;
  if (!sim::ExtractImage(events, image, error)) {
    std::cerr << "corvanel-sim: cannot rebuild the image from the trace: " << error << "\n";
    return false;
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(image.bytes.data()),
            static_cast<std::streamsize>(image.bytes.size()));
  out.close();
  if (!out) {
    std::cerr << "corvanel-sim: cannot save the image to " << path << "\n";
    return false;
  }
  std::cerr << "corvanel-sim: image of " << image.bytes.size() << " bytes in " << image.blocks
            << " blocks saved to " << path;
  if (image.complete) {
    std::cerr << "; the end request's FCS " << Hex16(image.endFcs)
              << (image.fcsMatched ? " matches it\n" : " does NOT match it\n");
  } else if (image.blocks == 0) {
    std::cerr << "; the trace holds no data frame, so the file is empty (enough to replay it)\n";
  } else {
    std::cerr << "; the transfer stopped before its end request: only the blocks sent are in it "
                 "(enough to replay it)\n";
  }
  return true;
}

// Says how a replay ended; the exit code it calls for, or none when it went as the trace.
std::optional<int> ReportReplay(const sim::CReplayScript& script, bool quiet) {
  if (const std::optional<sim::Divergence> d = script.Diverged()) {
    std::cerr << "corvanel-sim: replay stopped at " << sim::DescribeDivergence(*d);
    return kReplayDiverged;
  }
  const std::vector<sim::ReplayExchange>& all = script.Plan().exchanges;
  if (script.Next() < all.size()) {
    const sim::ReplayExchange& x = all[script.Next()];
    std::cerr << "corvanel-sim: replay stopped at exchange " << x.index << " (trace line " << x.line
              << "): the tool never wrote it; " << script.Done() << " of " << script.Reachable()
              << " writes were as the trace shows\n";
    return kReplayDiverged;
  }
  if (!quiet) {
    std::cerr << "corvanel-sim: replay: all " << script.Done()
              << " writes the device could see were as the trace shows\n";
  }
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  DeviceOptions common;
  std::vector<DeviceOptions> devices;
  std::vector<std::string> command;
  bool quiet = false;
  std::string replayPath, extractPath;
  bool deviceOptions = false;
  int terminals = 0;
  std::vector<sim::PlugEvent> plugPlan;
  std::string randomPlugs;

  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") {
      for (int j = i + 1; j < argc; ++j) command.emplace_back(argv[j]);
      if (command.empty()) return UsageError("'--' needs a command after it");
      break;
    }
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    }
    DeviceOptions& target = devices.empty() ? common : devices.back();
    if (arg != "--quiet" && arg != "--replay" && arg != "--extract-image") deviceOptions = true;
    if (arg == "--quiet") {
      quiet = true;
    } else if (arg == "--terminals" || arg == "--plug-plan" || arg == "--random-plugs") {
      if (i + 1 >= argc) return UsageError(arg + " needs a value");
      const std::string value = argv[++i];
      std::string error;
      constexpr long kMostTerminals = 200;
      if (arg == "--terminals") {
        char* end = nullptr;
        const long n = std::strtol(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0' || n < 1 || n > kMostTerminals) {
          return UsageError("--terminals takes a number from 1 to 200, not '" + value + "'");
        }
        terminals = static_cast<int>(n);
      } else if (arg == "--plug-plan") {
        if (!sim::ParsePlugPlan(value, plugPlan, error)) return UsageError("--plug-plan: " + error);
      } else {
        randomPlugs = value;
      }
    } else if (arg == "--replay" || arg == "--extract-image") {
      if (i + 1 >= argc) return UsageError(arg + " needs a value");
      (arg == "--replay" ? replayPath : extractPath) = argv[++i];
    } else if (arg == "--pace") {
      target.config.pacing = true;
    } else if (arg == "--no-pace") {
      target.config.pacing = false;
    } else if (arg == "--no-replug") {
      target.config.replugAfterHangUp = false;
    } else if (arg == "--com" || arg == "--model" || arg == "--maker" || arg == "--ok" ||
               arg == "--connect" || arg == "--other" || arg == "--fault" ||
               arg == "--save-image") {
      if (i + 1 >= argc) return UsageError(arg + " needs a value");
      const std::string value = argv[++i];
      std::string error;
      if (arg == "--com") {
        char* end = nullptr;
        errno = 0;
        const long n = std::strtol(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0' || errno != 0 || n < 1 || n > 255) {
          return UsageError("--com takes a number from 1 to 255, not '" + value + "'");
        }
        for (const DeviceOptions& d : devices) {
          if (d.config.comNumber == n) return UsageError("COM" + value + " is given twice");
        }
        devices.push_back(common);
        devices.back().config.comNumber = static_cast<int>(n);
      } else if (arg == "--fault") {
        sim::Fault fault;
        if (!sim::ParseFault(value, fault, error)) return UsageError("--fault: " + error);
        target.config.faults.push_back(fault);
      } else if (arg == "--save-image") {
        target.savePath = value;
      } else {
        std::optional<std::string>& answer = arg == "--model"     ? target.config.model
                                             : arg == "--maker"   ? target.config.maker
                                             : arg == "--ok"      ? target.config.check
                                             : arg == "--connect" ? target.config.dial
                                                                  : target.config.other;
        if (!ParseAnswer(value, answer, error)) {
          std::string why = arg;
          why += ": ";
          why += error;
          return UsageError(why);
        }
      }
    } else {
      return UsageError("unknown option '" + arg + "'");
    }
  }
  if (!extractPath.empty() && replayPath.empty()) {
    return UsageError("--extract-image needs --replay TRACE");
  }
  if (!replayPath.empty() && deviceOptions) {
    return UsageError("--replay takes no device options: the trace decides the devices");
  }
  std::vector<sim::TraceEvent> events;
  std::unique_ptr<sim::CReplayScript> script;
  if (!replayPath.empty()) {
    std::ifstream in(replayPath, std::ios::binary);
    std::string error;
    if (!in) {
      std::cerr << "corvanel-sim: cannot open the trace " << replayPath << "\n";
      return kSetupError;
    }
    if (!sim::ParseTrace(in, events, error)) {
      std::cerr << "corvanel-sim: " << replayPath << " is no trace: " << error << "\n";
      return kSetupError;
    }
    if (!extractPath.empty() && !SaveExtractedImage(events, extractPath)) return kSetupError;
    if (!extractPath.empty() && command.empty()) return 0;
    sim::Replay replay = sim::BuildReplay(events);
    if (replay.comNumbers.empty()) {
      std::cerr << "corvanel-sim: the trace " << replayPath << " opens no port\n";
      return kSetupError;
    }
    for (const std::string& note : replay.notes)
      std::cerr << "corvanel-sim: replay: " << note << "\n";
    script = std::make_unique<sim::CReplayScript>(std::move(replay));
  } else {
    // --terminals: the lowest COM numbers from 2 that are still free.
    for (int com = 2; terminals > 0; ++com) {
      const bool taken = std::any_of(devices.begin(), devices.end(), [com](const DeviceOptions& d) {
        return d.config.comNumber == com;
      });
      if (taken) continue;
      devices.push_back(common);
      devices.back().config.comNumber = com;
      --terminals;
    }
    if (devices.empty()) devices.push_back(common);
  }
  if (!randomPlugs.empty()) {
    unsigned count = 0, seed = 0;
    constexpr double kDefaultSpan = 20;  // seconds
    double span = kDefaultSpan;
    const int fields = std::sscanf(randomPlugs.c_str(), "%u:%u:%lf", &count, &seed, &span);
    if (fields < 2 || span <= 0) {
      return UsageError("--random-plugs takes N:SEED[:SECONDS], not '" + randomPlugs + "'");
    }
    std::vector<int> coms;
    coms.reserve(devices.size());
    for (const DeviceOptions& d : devices) coms.push_back(d.config.comNumber);
    const std::vector<sim::PlugEvent> random = sim::RandomPlugPlan(count, seed, span, coms);
    plugPlan.insert(plugPlan.end(), random.begin(), random.end());
    std::stable_sort(
        plugPlan.begin(), plugPlan.end(),
        [](const sim::PlugEvent& a, const sim::PlugEvent& b) { return a.seconds < b.seconds; });
    std::cerr << "corvanel-sim: --plug-plan " << sim::FormatPlugPlan(random) << "\n";
  }
  for (const sim::PlugEvent& event : plugPlan) {
    auto device = std::find_if(devices.begin(), devices.end(), [&](const DeviceOptions& d) {
      return d.config.comNumber == event.comNumber;
    });
    if (device == devices.end()) {
      return UsageError("--plug-plan: COM" + std::to_string(event.comNumber) + " is no terminal");
    }
  }
  for (DeviceOptions& d : devices) {
    // A terminal whose plan begins with a plug starts pulled out.
    for (const sim::PlugEvent& event : plugPlan) {
      if (event.comNumber == d.config.comNumber) {
        d.config.plugged = !event.plug;
        break;
      }
    }
  }

  // The signals are taken synchronously; block them before any thread starts.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGCHLD);
  sigset_t oldMask;
  pthread_sigmask(SIG_BLOCK, &signals, &oldMask);

  sim::CSimulator simulator;
  for (const DeviceOptions& d : devices) simulator.Add(d.config);
  if (script) {
    for (const int com : script->Plan().comNumbers) {
      sim::DeviceConfig config;
      config.comNumber = com;
      simulator.Add(config, std::make_unique<sim::CReplayDevice>(com, *script));
    }
  }
  std::string error;
  if (!simulator.Start(error)) {
    std::cerr << "corvanel-sim: cannot start: " << error << "\n";
    return kSetupError;
  }
  if (!quiet) {
    for (const auto& t : simulator.Terminals()) {
      const std::string slave = t->SlavePath();
      std::cerr << "corvanel-sim: COM" << t->ComNumber() << " is "
                << (slave.empty() ? std::string("pulled out") : slave) << "\n";
    }
  }
  std::optional<sim::CPlugger> plugger;
  if (!plugPlan.empty()) {
    plugger.emplace(
        simulator, plugPlan, quiet ? nullptr : +[](const sim::PlugEvent& event) {
          std::fprintf(stderr, "corvanel-sim: COM%d %s\n", event.comNumber,
                       event.plug ? "plugged in" : "pulled out");
        });
  }

  int status = 0;
  if (command.empty()) {
    std::cout << "CORVANEL_COM_DIR=" << simulator.ComDir() << std::endl;
    int sig = 0;
    do {
      sigwait(&signals, &sig);
    } while (sig == SIGCHLD);
  } else {
    const pid_t child = fork();
    if (child == 0) {
      pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
      setenv("CORVANEL_COM_DIR", simulator.ComDir().c_str(), 1);
      std::vector<char*> args;
      args.reserve(command.size() + 1);
      for (std::string& a : command) args.push_back(a.data());
      args.push_back(nullptr);
      execvp(args[0], args.data());
      std::fprintf(stderr, "corvanel-sim: cannot run %s: %s\n", args[0], std::strerror(errno));
      _exit(kNoCommand);
    }
    if (child < 0) {
      std::cerr << "corvanel-sim: fork: " << std::strerror(errno) << "\n";
      status = kSetupError;
    } else {
      bool stopped = false;
      for (;;) {
        int sig = 0;
        if (script) {
          // A replay that has stopped ends the command; look every so often.
          const timespec interval{0, kReplayCheckNs};
          sig = sigtimedwait(&signals, nullptr, &interval);
          if (sig < 0) {
            if (!stopped && script->Diverged()) {
              stopped = true;
              kill(child, SIGTERM);
            }
            continue;
          }
        } else {
          sigwait(&signals, &sig);
        }
        if (sig != SIGCHLD) {
          kill(child, sig);  // the command decides how to end; its status is ours
          continue;
        }
        int wstatus = 0;
        const pid_t done = waitpid(child, &wstatus, WNOHANG);
        if (done == child) {
          status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
          break;
        }
      }
    }
  }

  if (script && !command.empty()) script->WaitForEnd(kReplaySettle);
  plugger.reset();
  simulator.Stop();
  for (std::size_t i = 0; i < devices.size(); ++i) {
    Report(*simulator.Terminals()[i], devices[i].savePath, quiet);
  }
  if (script) {
    if (const std::optional<int> stop = ReportReplay(*script, quiet)) return *stop;
  }
  return status;
}

// corvanel_soak: downloads through corvanel-cli against corvanel-sim, many at once, and what they
// came to. Used by scripts/soak (the whole run) and by ctest (a short sample).
//
//   --rows fast|all     every row of the fault table (tests/e2e/fault_table.h) and the rows of
//                       the AT stages; "all" adds the silent ones (a read time-out per attempt)
//   --random N          N random fault plans from --seed S (printed, so a run can be repeated)
//   --replay            replay every download's trace with --extract-image and compare: exit
//                       code, failure line, the bytes the tool wrote; and replay the largest
//                       image's download no slower than it ran
//   --paced N           N fault-free downloads on a paced line (the pty path): no retry
//   --busy B            B busy loops beside the downloads; --jobs J downloads at once
//
// A plan's expected end comes from walking its faults through the tool's attempt budgets (three
// for the AT check, the dial, the begin request and each block, one for the end request): no
// false success (a success where every attempt of some exchange fails, or an image the handset
// did not get whole), no hang (each download ends within the time its faults add up to), and a
// failure at the stage and block where the faults use up the attempts. Prints one table row per
// path and exits with 1 when any download broke one of these, or a replay differed.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/fault_plan.h"
#include "sim/replay.h"
#include "tests/e2e/fault_table.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Attempt budgets of the tool.
constexpr unsigned kAtTries = 3;
constexpr unsigned kBlockTries = 3;
constexpr unsigned kEndTries = 1;
constexpr std::size_t kBlockSize = 1024;
// Costs of one attempt, generously: an answered exchange, a silent read, the dial's pause.
constexpr milliseconds kExchangeCost{150};
constexpr milliseconds kSilentCost{5400};
constexpr milliseconds kDialPause{450};
// What every download costs besides its exchanges (start, scan of COM2 to COM100, close), and
// the margin on the bound, for a machine also running busy loops.
constexpr milliseconds kBaseCost{4000};
constexpr double kBoundFactor = 2.0;
// A download still running this long past its bound is ended.
constexpr milliseconds kKillAfter{30000};
// A replay may be this much slower than its download (scheduling noise) and still count as not
// slower. Both are timed by the tool's own trace, from its start to its last event: the
// simulators' own start (a replay first reads the whole trace) is no part of the download.
constexpr double kReplaySlack = 0.005;
constexpr double kReplaySlackFloorMs = 100;
// The largest image a transfer carries; paced downloads use a small one.
constexpr std::size_t kLargestImage = 819200;
constexpr std::size_t kPacedImage = 16 * 1024;
constexpr std::size_t kRowImage = kImageSize;
constexpr std::size_t kMaxRandomBlocks = 6;
constexpr long kMsPerSecond = 1000;
constexpr long kHalfSecondMs = 500;

struct Plan {
  std::string name;
  std::vector<std::string> knobs;
  std::size_t imageSize = kRowImage;
  bool paced = false;
  bool timed = false;  // the largest image: its replay must be no slower
};

struct Exchange {
  std::string stage;  // as the failure line names it
  std::optional<std::uint16_t> block;
  sim::FaultTarget target;
  unsigned budget;
};

// What a plan may come to, and its time limit. A reply cut by a pause fails its attempt and the
// next read (which gets the rest) only when the reads split it there: a cut after the fields the
// tool tests, or a reader held up past the pause, takes it whole. So a plan with a cut is walked
// twice, the cut failing and not; either end is right, and so is a failure at any exchange from
// the first cut to the end where cuts do not fail.
struct Expectation {
  bool successAllowed = true;
  std::vector<std::size_t> failures;  // indexes into `exchanges` where a failure is right
  bool scanFails = false;             // the plan leaves no terminal to find
  std::vector<Exchange> exchanges;
  milliseconds bound{0};
};

int ExitCodeOf(const std::string& stage) {
  if (stage == "scan") return 4;
  if (stage == "terminal-check") return 5;
  if (stage == "dial") return 6;
  return 7;
}

std::string Where(const Exchange& x) {
  return x.stage + (x.block ? " block " + std::to_string(*x.block) : "");
}

// One walk of the plan through the attempt budgets: the exchange where it fails (none for a
// success), the first exchange with a cut, and the time it may take.
struct Walk {
  std::optional<std::size_t> failure;
  std::optional<std::size_t> firstCut;
  milliseconds cost{0};
};

Walk WalkPlan(const std::vector<sim::Fault>& faults, const std::vector<Exchange>& exchanges,
              bool cutsFail) {
  Walk w;
  bool polluted = false;  // the next read holds the rest of a cut reply
  for (std::size_t i = 0; i < exchanges.size() && !w.failure; ++i) {
    const Exchange& x = exchanges[i];
    bool ok = false;
    bool gone = false;
    for (unsigned k = 1; k <= x.budget && !ok && !gone; ++k) {
      sim::ExchangeKey key;
      key.target = x.target;
      key.attempt = k;
      key.sequence = x.block.value_or(0);
      const sim::Fault* f = sim::FindFault(faults, key);
      w.cost +=
          kExchangeCost + (x.target == sim::FaultTarget::AtDial ? kDialPause : milliseconds(0));
      bool fails = polluted;
      polluted = false;
      if (f != nullptr) {
        w.cost += f->delay;
        switch (f->kind) {
          case sim::FaultKind::Answer:
            break;
          case sim::FaultKind::Silence:
            w.cost += kSilentCost;
            fails = true;
            break;
          case sim::FaultKind::Cut:
            w.cost += f->pause;
            if (!w.firstCut) w.firstCut = i;
            fails = fails || cutsFail;
            polluted = cutsFail;
            break;
          case sim::FaultKind::HangUp:
            gone = true;
            fails = true;
            break;
          default:
            fails = true;
            break;
        }
      }
      ok = !fails;
    }
    if (!ok) w.failure = i;
  }
  return w;
}

Expectation Expect(const Plan& plan) {
  std::vector<sim::Fault> faults;
  for (const std::string& k : plan.knobs) {
    sim::Fault f;
    std::string error;
    if (!sim::ParseFault(k, f, error)) {
      std::cerr << "corvanel_soak: bad knob " << k << ": " << error << "\n";
      std::exit(2);
    }
    faults.push_back(f);
  }
  Expectation e;
  e.exchanges.push_back({"terminal-check", std::nullopt, sim::FaultTarget::AtCheck, kAtTries});
  e.exchanges.push_back({"dial", std::nullopt, sim::FaultTarget::AtDial, kAtTries});
  e.exchanges.push_back({"begin", std::nullopt, sim::FaultTarget::Begin, kBlockTries});
  const std::size_t blocks = plan.imageSize / kBlockSize + 1;
  for (std::size_t b = 0; b < blocks; ++b) {
    e.exchanges.push_back(
        {"data", static_cast<std::uint16_t>(b), sim::FaultTarget::Data, kBlockTries});
  }
  e.exchanges.push_back({"end", std::nullopt, sim::FaultTarget::End, kEndTries});

  milliseconds cost = kBaseCost + plan.imageSize / kBlockSize * milliseconds(plan.paced ? 100 : 60);
  // The scan: AT+CGMM, then AT+GMI when the model word is missing.
  auto answerFails = [&](sim::FaultTarget target) {
    sim::ExchangeKey key;
    key.target = target;
    key.attempt = 1;
    const sim::Fault* f = sim::FindFault(faults, key);
    if (f == nullptr) return false;
    if (f->kind == sim::FaultKind::Silence) cost += kSilentCost;
    cost += f->delay;
    return f->kind != sim::FaultKind::Answer;
  };
  if (answerFails(sim::FaultTarget::AtModel) && answerFails(sim::FaultTarget::AtMaker)) {
    e.successAllowed = false;
    e.scanFails = true;
    e.bound = milliseconds(static_cast<long>(cost.count() * kBoundFactor));
    return e;
  }
  const Walk failing = WalkPlan(faults, e.exchanges, true);
  const Walk passing = WalkPlan(faults, e.exchanges, false);
  e.successAllowed = !passing.failure;
  if (failing.failure) e.failures.push_back(*failing.failure);
  if (failing.firstCut) {
    const std::size_t last = passing.failure.value_or(e.exchanges.size() - 1);
    for (std::size_t i = *failing.firstCut; i <= last; ++i) e.failures.push_back(i);
  } else if (passing.failure) {
    e.failures.push_back(*passing.failure);
  }
  cost += std::max(failing.cost, passing.cost);
  e.bound = milliseconds(static_cast<long>(cost.count() * kBoundFactor));
  return e;
}

// A random plan: one to three faults on the AT check, the dial, the begin request, a block or
// the end request; silence seldom (it costs a read time-out), no delay beside a cut (a late reply
// behind a cut one would shift every later reply by one read).
Plan RandomPlan(std::mt19937& rng, std::size_t index) {
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  Plan plan;
  plan.name = "random-" + std::to_string(index);
  plan.imageSize = static_cast<std::size_t>(pick(static_cast<int>(kMaxRandomBlocks * kBlockSize)));
  const std::size_t blocks = plan.imageSize / kBlockSize + 1;
  const int count = 1 + pick(3);
  bool cut = false;
  bool delay = false;
  for (int n = 0; n < count; ++n) {
    const int where = pick(10);
    std::string when;
    bool frame = true;
    if (where == 0) {
      when = "at";
      frame = false;
    } else if (where == 1) {
      when = "dial";
      frame = false;
    } else if (where == 2) {
      when = "begin";
    } else if (where == 3) {
      when = "end";
    } else {
      when = "data:" + std::to_string(pick(static_cast<int>(blocks)));
    }
    const unsigned maxAttempt = when == "end" ? 1 : 3;
    const int attempt = pick(static_cast<int>(maxAttempt) + 1);  // 0: every attempt
    if (attempt != 0) when += "#" + std::to_string(attempt);
    std::string what;
    const int kind = pick(frame ? 40 : 30);
    if (kind == 0) {
      what = "silence";
    } else if (kind < 8) {
      what = "garbage";
    } else if (kind < 14) {
      what = "hangup";
    } else if (kind < 22) {
      if (cut) continue;
      what = "delay:" + std::to_string(50 + pick(1500));
      delay = true;
    } else if (kind < 30) {
      what = frame ? "code" : "text:\\r\\nERROR\\r\\n";
    } else if (kind < 35) {
      what = "seq";
    } else {
      if (delay) continue;
      what = "cut:" + std::to_string(1 + pick(8)) + ":" + std::to_string(150 + pick(900));
      cut = true;
    }
    plan.knobs.push_back(when + "=" + what);
  }
  return plan;
}

std::vector<Plan> Rows(bool all) {
  std::vector<Plan> rows;
  for (const FaultRow& row : FaultRows()) rows.push_back({row.name, row.knobs});
  const std::vector<std::pair<std::string, std::vector<std::string>>> more = {
      {"AtGarbage", {"at=garbage"}},
      {"AtOnce", {"at#1=text:\\r\\nERROR\\r\\n"}},
      {"AtHangUp", {"at=hangup"}},
      {"DialError", {"dial=text:\\r\\nNO CARRIER\\r\\n"}},
      {"DialLate", {"dial#1=delay:1500"}},
      {"DialHangUp", {"dial=hangup"}},
      {"ModelUnknown", {"model=text:\\r\\nX\\r\\n"}},
      {"NoTerminal", {"model=garbage", "maker=garbage"}},
  };
  for (const auto& [name, knobs] : more) rows.push_back({name, knobs});
  if (all) {
    for (const char* k : {"begin=silence", "data:1=silence", "end=silence", "at=silence",
                          "dial=silence", "data:2#2=silence"}) {
      rows.push_back({std::string("Silence-") + k, {k}});
    }
  }
  return rows;
}

struct RunResult {
  int exitCode = -1;
  milliseconds elapsed{0};
  bool killed = false;
};

// Runs `args` with stdout and stderr into `out`; ends it once `limit` has passed.
RunResult Run(const std::vector<std::string>& args, const std::vector<std::string>& env,
              const std::string& out, milliseconds limit) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  RunResult r;
  const Clock::time_point start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd >= 0) {
      ::dup2(fd, 1);
      ::dup2(fd, 2);
    }
    ::setpgid(0, 0);  // ended as a group: the simulator and the tool under it
    ::execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  if (pid < 0) return r;
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (!r.killed && Clock::now() - start > limit) {
      r.killed = true;
      ::kill(-pid, SIGKILL);
    }
    std::this_thread::sleep_for(milliseconds(5));  // polling the child's end, not a timing
  }
  r.elapsed = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

struct TraceSummary {
  std::string fail;         // the failure line without its time
  std::string writes;       // every write's bytes, one line each
  std::size_t retries = 0;  // writes that repeat the one before
  double lastMs = 0;        // the last line's time: the tool's own, from its start
  bool read = false;
};

TraceSummary Summarize(const std::string& path) {
  TraceSummary s;
  std::ifstream in(path);
  std::vector<sim::TraceEvent> events;
  std::string error;
  if (!in || !sim::ParseTrace(in, events, error)) return s;
  s.read = true;
  const sim::TraceEvent* last = nullptr;
  for (const sim::TraceEvent& e : events) {
    s.lastMs = e.ms;
    if (e.kind == sim::TraceKind::Fail) s.fail = e.rest;
    if (e.kind != sim::TraceKind::Write) continue;
    if (last != nullptr && last->bytes == e.bytes) ++s.retries;
    for (const std::uint8_t b : e.bytes) s.writes += static_cast<char>(b);
    s.writes += "\n" + std::to_string(e.count) + "\n";
    last = &e;
  }
  return s;
}

struct Tally {
  std::size_t downloads = 0, succeeded = 0, falseSuccess = 0, hangs = 0, misclassified = 0,
              retries = 0, replays = 0, replayDiffers = 0;
  milliseconds time{0};
  milliseconds largestDownload{0}, largestReplay{0};
};

struct Options {
  std::string sim, cli, rows;
  std::size_t random = 0, paced = 0, busy = 0, jobs = 4;
  unsigned seed = 33;
  bool replay = false;
};

std::vector<std::uint8_t> ImageBytes(std::size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> bytes(size);
  for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(rng());
  if (!bytes.empty() && bytes[0] == ':') bytes[0] = 'L';  // ':' marks a file that is refused
  return bytes;
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class CSoak {
 public:
  CSoak(Options options, std::string base) : m_o(std::move(options)), m_base(std::move(base)) {
    for (char** e = environ; *e != nullptr; ++e) {
      if (std::strncmp(*e, "XDG_STATE_HOME=", 15) != 0) m_env.emplace_back(*e);
    }
  }

  void RunAll(const std::vector<Plan>& plans, Tally& tally) {
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> workers;
    const Clock::time_point start = Clock::now();
    for (std::size_t j = 0; j < std::max<std::size_t>(1, m_o.jobs); ++j) {
      workers.emplace_back([&] {
        for (std::size_t i = next++; i < plans.size(); i = next++) One(plans[i], i, tally);
      });
    }
    for (std::thread& w : workers) w.join();
    tally.time += std::chrono::duration_cast<milliseconds>(Clock::now() - start);
  }

  bool Failed() const { return m_failed; }

 private:
  void Problem(const Plan& plan, const std::string& what, const std::string& dir) {
    std::lock_guard lock(m_mutex);
    m_failed = true;
    std::cout << "PROBLEM " << plan.name << " [";
    for (std::size_t i = 0; i < plan.knobs.size(); ++i)
      std::cout << (i ? " " : "") << plan.knobs[i];
    std::cout << "] image " << plan.imageSize << ": " << what << " (files in " << dir << ")"
              << std::endl;
  }

  void One(const Plan& plan, std::size_t index, Tally& tally) {
    const std::string dir = m_base + "/" + std::to_string(index) + "-" + plan.name;
    ::mkdir(dir.c_str(), 0700);
    std::vector<std::string> env = m_env;
    env.push_back("XDG_STATE_HOME=" + dir + "/state");
    const std::vector<std::uint8_t> image =
        ImageBytes(plan.imageSize, static_cast<unsigned>(index) + m_o.seed);
    const std::string file = dir + "/image.ldr";
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
    const Expectation e = Expect(plan);

    // The simulator's report goes with the download's output, for a look at a problem.
    std::vector<std::string> args = {m_o.sim, "--save-image", dir + "/received"};
    if (plan.paced) args.emplace_back("--pace");
    for (const std::string& k : plan.knobs) {
      args.emplace_back("--fault");
      args.push_back(k);
    }
    for (const char* a : {"--", "", "--no-record", "--trace", "", "download", ""})
      args.emplace_back(a);
    args[args.size() - 6] = m_o.cli;
    args[args.size() - 3] = dir + "/trace.txt";
    args.back() = file;
    const RunResult r = Run(args, env, dir + "/download.out", e.bound + kKillAfter);
    const TraceSummary t = Summarize(dir + "/trace.txt");

    bool clean = true;
    auto problem = [&](const std::string& what) {
      clean = false;
      Problem(plan, what, dir);
    };
    std::unique_lock<std::mutex> countLock(m_countMutex);
    ++tally.downloads;
    tally.retries += t.retries;
    // A hang is timed by the tool's own trace: the simulator's start and end around it are no
    // part of the download. One the runner had to end is a hang whatever its trace says.
    if (r.killed || t.lastMs > static_cast<double>(e.bound.count())) {
      ++tally.hangs;
      problem("ran " + std::to_string(static_cast<long>(t.lastMs)) + " ms by its trace (" +
              std::to_string(r.elapsed.count()) + " ms in all), bound " +
              std::to_string(e.bound.count()) + " ms");
    }
    std::string want;
    for (const std::size_t i : e.failures)
      want += (want.empty() ? "" : " or ") + Where(e.exchanges[i]);
    if (e.scanFails) want = "scan";
    if (r.exitCode == 0) {
      ++tally.succeeded;
      const bool whole = ReadFile(dir + "/received") == image;
      if (!e.successAllowed || !whole) {
        ++tally.falseSuccess;
        problem(whole ? "succeeded where it must fail at " + want
                      : "succeeded, but the handset did not get the image whole");
      }
    } else {
      bool allowed =
          e.scanFails && r.exitCode == ExitCodeOf("scan") && t.fail.rfind("stage scan", 0) == 0;
      for (const std::size_t i : e.failures) {
        const Exchange& x = e.exchanges[i];
        allowed = allowed || (r.exitCode == ExitCodeOf(x.stage) &&
                              t.fail.rfind("stage " + Where(x) + " ", 0) == 0);
      }
      if (!allowed) {
        ++tally.misclassified;
        problem("exit " + std::to_string(r.exitCode) + ", failure '" + t.fail + "', expected " +
                (want.empty() ? std::string("success") : "a failure at " + want));
      }
    }
    if (plan.paced && t.retries > 0)
      problem(std::to_string(t.retries) + " retries on a fault-free line");
    if (!m_o.replay) {
      if (clean) Cleanup(dir);
      return;
    }
    countLock.unlock();
    // The replay, from the trace alone: the image is rebuilt from it.
    std::vector<std::string> again = {m_o.sim,
                                      "--quiet",
                                      "--replay",
                                      dir + "/trace.txt",
                                      "--extract-image",
                                      dir + "/extracted.ldr",
                                      "--",
                                      m_o.cli,
                                      "--no-record",
                                      "--trace",
                                      dir + "/replay.txt",
                                      "download",
                                      dir + "/extracted.ldr"};
    const RunResult rr = Run(again, env, dir + "/replay.out", e.bound + kKillAfter);
    const TraceSummary rt = Summarize(dir + "/replay.txt");
    countLock.lock();
    ++tally.replays;
    std::string differs;
    if (rr.exitCode != r.exitCode) {
      differs = "exit " + std::to_string(rr.exitCode) + " against " + std::to_string(r.exitCode);
    } else if (rt.fail != t.fail) {
      differs = "failure '" + rt.fail + "' against '" + t.fail + "'";
    } else if (rt.writes != t.writes) {
      differs = "other bytes written";
    }
    if (plan.timed) {
      tally.largestDownload = milliseconds(static_cast<long>(t.lastMs));
      tally.largestReplay = milliseconds(static_cast<long>(rt.lastMs));
      if (rt.lastMs > t.lastMs + std::max(kReplaySlackFloorMs, t.lastMs * kReplaySlack)) {
        differs = "replay took " + std::to_string(rt.lastMs) + " ms, the download " +
                  std::to_string(t.lastMs) + " ms";
      }
    }
    if (!differs.empty()) {
      ++tally.replayDiffers;
      problem("replay differs: " + differs);
    }
    if (clean) Cleanup(dir);
  }

  void Cleanup(const std::string& dir) {
    const std::vector<std::string> rm = {"/bin/rm", "-rf", dir};
    Run(rm, m_env, "/dev/null", milliseconds(60000));
  }

  const Options m_o;
  const std::string m_base;
  std::vector<std::string> m_env;
  std::mutex m_mutex, m_countMutex;
  bool m_failed = false;
};

// Whole seconds, which scripts/soak adds up over several runs.
std::string Duration(milliseconds ms) {
  return std::to_string((ms.count() + kHalfSecondMs) / kMsPerSecond) + " s";
}

void PrintRow(const std::string& path, const Tally& t) {
  std::printf("| %-28s | %9zu | %9zu | %15zu | %5zu | %13zu | %7zu | %8s |\n", path.c_str(),
              t.downloads, t.succeeded, t.falseSuccess, t.hangs, t.misclassified, t.retries,
              Duration(t.time).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::cerr << "corvanel_soak: " << a << " needs a value\n";
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--sim")
      o.sim = value();
    else if (a == "--cli")
      o.cli = value();
    else if (a == "--rows")
      o.rows = value();
    else if (a == "--random")
      o.random = std::stoul(value());
    else if (a == "--seed")
      o.seed = static_cast<unsigned>(std::stoul(value()));
    else if (a == "--paced")
      o.paced = std::stoul(value());
    else if (a == "--busy")
      o.busy = std::stoul(value());
    else if (a == "--jobs")
      o.jobs = std::stoul(value());
    else if (a == "--replay")
      o.replay = true;
    else {
      std::cerr << "corvanel_soak: unknown option " << a << "\n";
      return 2;
    }
  }
  if (o.sim.empty() || o.cli.empty()) {
    std::cerr << "corvanel_soak: --sim and --cli are needed\n";
    return 2;
  }
  const char* tmp = std::getenv("TMPDIR");
  std::string base =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/corvanel-soak-XXXXXX";
  if (::mkdtemp(base.data()) == nullptr) {
    std::perror("mkdtemp");
    return 3;
  }
  bool failed = false;
  CSoak soak(o, base);
  std::printf("corvanel_soak: seed %u, %zu jobs, %zu busy loops%s\n", o.seed, o.jobs, o.busy,
              o.replay ? ", every download replayed" : "");
  std::fflush(stdout);
  std::vector<std::pair<std::string, Tally>> rows;
  Tally tableRows;
  if (o.replay && o.rows == "all") {
    // The largest image's download and its replay alone, before the busy loops start: their
    // times are compared, and nothing else may weigh on one of them more than on the other.
    Options alone = o;
    alone.jobs = 1;
    CSoak quiet(alone, base);
    quiet.RunAll({Plan{"Largest", {}, kLargestImage, false, true}}, tableRows);
    std::printf(
        "corvanel_soak: largest image, by the tool's trace: download %.1f s, replay %.1f s\n",
        static_cast<double>(tableRows.largestDownload.count()) / 1000,
        static_cast<double>(tableRows.largestReplay.count()) / 1000);
    failed = failed || quiet.Failed();
  }

  std::atomic<bool> stop{false};
  std::vector<std::thread> busy;
  for (std::size_t b = 0; b < o.busy; ++b) {
    busy.emplace_back([&] {
      volatile unsigned long spin = 0;
      while (!stop.load(std::memory_order_relaxed)) spin = spin + 1;
    });
  }
  if (!o.rows.empty()) {
    soak.RunAll(Rows(o.rows == "all"), tableRows);
    rows.emplace_back("pty, fault-table rows", tableRows);
    if (o.replay) {
      std::printf("corvanel_soak: rows: %zu replays, %zu differ\n", tableRows.replays,
                  tableRows.replayDiffers);
    }
  }
  if (o.random > 0) {
    std::mt19937 rng(o.seed);
    std::vector<Plan> plans;
    for (std::size_t i = 0; i < o.random; ++i) plans.push_back(RandomPlan(rng, i));
    Tally t;
    soak.RunAll(plans, t);
    rows.emplace_back("pty, random fault plans", t);
    if (o.replay)
      std::printf("corvanel_soak: random: %zu replays, %zu differ\n", t.replays, t.replayDiffers);
  }
  if (o.paced > 0) {
    std::vector<Plan> plans(o.paced, Plan{"paced", {}, kPacedImage, true});
    Tally t;
    soak.RunAll(plans, t);
    rows.emplace_back("pty, paced, fault-free", t);
  }
  stop = true;
  for (std::thread& b : busy) b.join();
  ::rmdir(base.c_str());

  std::printf("| %-28s | %9s | %9s | %15s | %5s | %13s | %7s | %8s |\n", "path", "downloads",
              "succeeded", "false successes", "hangs", "misclassified", "retries", "time");
  std::printf(
      "|%s|%s|%s|%s|%s|%s|%s|%s|\n", std::string(30, '-').c_str(), std::string(11, '-').c_str(),
      std::string(11, '-').c_str(), std::string(17, '-').c_str(), std::string(7, '-').c_str(),
      std::string(15, '-').c_str(), std::string(9, '-').c_str(), std::string(10, '-').c_str());
  for (const auto& [path, t] : rows) PrintRow(path, t);
  return failed || soak.Failed() ? 1 : 0;
}

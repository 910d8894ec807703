// The whole download as the operator waits for it: from the press of the Download button to the
// final box, through the real main window (offscreen), its Qt window link, StartDownload with its
// second scan, the worker's AT check and dial, and the transfer, against the paced simulator.
//
// The floor is computed for the same run: the found port's identification exchange (the ports
// before it are absent and cost nothing), the AT check's exchange, the dial's 400 ms pause and
// 50 ms gap, and every transfer exchange (see transfer_floor.h). The excess is split by where
// the simulator saw each request arrive, so that it shows which stage it goes to.
//
// The download runs twice, each against a simulator of its own: without its record, then with it
// (the record and trace going to a temporary state folder), so that the two compare.
//
// Usage: bench_download [--size BYTES] [--zeros] [--unpaced] [--record | --no-record] [--smoke]
//   default: the largest image (819,200 random bytes) at 230400 baud, both runs: about 170 s.
//   --record, --no-record: only the run with the record, or only the one without.
//   --zeros: an image of zero bytes (each one escaped: about twice the line time).
//   --smoke: a short unpaced run of 16 KiB that fails only on a wrong result.
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QMessageBox>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "bench/bench_image.h"
#include "bench/measure.h"
#include "bench/transfer_floor.h"
#include "download/block_transfer.h"
#include "download/control_ids.h"
#include "download/download_worker.h"
#include "download/messages.h"
#include "download/process_exit.h"
#include "record/download_record.h"
#include "serial/com_mapping_posix.h"
#include "serial/serial_port.h"
#include "sim/simulator.h"
#include "ui/download_dlg.h"
#include "ui/qt/window_link_qt.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kComNumber = sim::kDefaultComNumber;
constexpr std::chrono::seconds kBoxDeadlineSlack{120};  // beyond twice the floor: a hang
constexpr double kHighPercentile = 0.99;
constexpr int kHandBackPollMs = 5;  // after the box: until the window is handed back

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Sees the final box appear, notes when, and presses its OK as the operator would.
class CBoxWatcher : public QObject {
 public:
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() == QEvent::Show && !m_seen) {
      if (auto* box = qobject_cast<QMessageBox*>(object)) {
        m_seen = true;
        m_time = Clock::now();
        m_text = box->text().toStdString();
        if (m_loop != nullptr) m_loop->quit();
        QTimer::singleShot(0, box, [box] {
          if (QAbstractButton* ok = box->button(QMessageBox::Ok)) ok->click();
        });
      }
    }
    return QObject::eventFilter(object, event);
  }
  QEventLoop* m_loop = nullptr;  // ended when the box shows
  bool m_seen = false;
  Clock::time_point m_time{};
  std::string m_text;
};

// One stage of the run: from one request's arrival at the simulator to the next stage's.
struct Stage {
  const char* name;
  Clock::time_point from{}, to{};
  double floor = 0;
};

// When the simulator received the last of the AT command `line` (the scan at start-up sent the
// identification command once already).
Clock::time_point LastCommand(const sim::DeviceStats& stats, const std::string& line) {
  Clock::time_point at{};
  for (const sim::AtCommand& c : stats.atCommands) {
    if (c.line == line) at = c.time;
  }
  return at;
}

std::size_t Length(const std::optional<std::string>& answer) { return answer ? answer->size() : 0; }

// What every run shares: the image, its planned exchanges, the simulated terminal's settings.
struct Setup {
  std::vector<std::uint8_t> image;
  std::string path;
  std::vector<FrameExchange> plan;
  double zeroFloor = 0;
  bool pacing = true;
  sim::DeviceConfig config;
};

// The main window and what watches it.
struct Window {
  CDownloadDlg* dlg = nullptr;
  QAbstractButton* download = nullptr;
  CBoxWatcher* watcher = nullptr;
};

// A simulator of its own for each run, its COM folder set for the port code.
std::unique_ptr<sim::CSimulator> StartSimulator(const sim::DeviceConfig& config) {
  auto simulator = std::make_unique<sim::CSimulator>();
  simulator->Add(config);
  std::string error;
  if (!simulator->Start(error)) {
    std::fprintf(stderr, "simulator: %s\n", error.c_str());
    return nullptr;
  }
  setenv(kComDirVariable, simulator->ComDir().c_str(), 1);
  return simulator;
}

struct RunResult {
  bool ok = false;
  double wall = 0;   // press to final box
  double floor = 0;  // the whole floor
};

// Where a recorded run's record goes: a folder of its own, removed afterwards.
class CRecordFolder {
 public:
  CRecordFolder() {
    char pattern[] = "/tmp/corvanel-bench-state-XXXXXX";
    if (const char* made = mkdtemp(pattern)) m_path = made;
  }
  ~CRecordFolder() {
    std::error_code ec;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
  }
  CRecordFolder(const CRecordFolder&) = delete;
  CRecordFolder& operator=(const CRecordFolder&) = delete;
  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
};

// The record a recorded run left: its line's size and its trace's; false when there is none.
bool PrintRecord(const std::string& home) {
  const std::filesystem::path folder = std::filesystem::path(home) / "corvanel";
  std::error_code ec;
  std::uintmax_t traceBytes = 0;
  std::size_t traces = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    if (entry.path().filename().string().starts_with("trace-")) {
      traceBytes += entry.file_size(ec);
      ++traces;
    }
  }
  const std::uintmax_t lineBytes = std::filesystem::file_size(folder / kRecordFileName, ec);
  if (ec || traces != 1) {
    std::printf("  record                 MISSING (%zu traces)\n", traces);
    return false;
  }
  std::printf("  record                 %ju bytes of upgrades.jsonl, a trace of %ju bytes\n",
              lineBytes, traceBytes);
  return true;
}

// One download through the window, from the press to the final box, with or without its
// record; prints where the time went.
RunResult RunOnce(const Setup& setup, const Window& window, sim::CSimulator& simulator,
                  std::atomic<double>& workerCpu, bool record) {
  const std::vector<FrameExchange>& plan = setup.plan;
  const sim::DeviceConfig& config = setup.config;
  const bool pacing = setup.pacing;
  CBoxWatcher& watcher = *window.watcher;
  sim::CPtyLine& terminal = *simulator.Find(kComNumber);
  CRecordFolder stateHome;
  if (record) {
    setenv("XDG_STATE_HOME", stateHome.Path().c_str(), 1);
    SetDownloadRecording("corvanel", nullptr);
  }
  watcher.m_seen = false;
  workerCpu = -1.0;
  window.dlg->Link().SetItemText(IDC_PATH, setup.path.c_str());
  window.dlg->Link().EnableItem(IDC_DOWNLOAD, true);  // as Browse leaves it
  QCoreApplication::processEvents();

  std::printf("recording %s:\n", record ? "on" : "off");
  std::fflush(stdout);
  const double cpuProcess0 = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
  const double cpuUi0 = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
  const Clock::time_point press = Clock::now();
  window.download->click();  // StartDownload: checks, starts the worker, scans again
  const auto limit = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::duration<double>(2 * (TransferFloor(plan) + 1)) + kBoxDeadlineSlack);
  QEventLoop waitForBox;
  watcher.m_loop = &waitForBox;
  QTimer::singleShot(limit, &waitForBox, &QEventLoop::quit);
  if (!watcher.m_seen) waitForBox.exec();
  watcher.m_loop = nullptr;
  const double cpuProcess = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpuProcess0;
  const double cpuUi = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - cpuUi0;
  // Then OK, and the window back to the operator; the worker ends after that (and with it the
  // record).
  const Clock::time_point deadline = Clock::now() + kBoxDeadlineSlack;
  while (watcher.m_seen && (!window.download->isEnabled() || workerCpu < 0) &&
         Clock::now() < deadline) {
    QEventLoop pause;
    QTimer::singleShot(kHandBackPollMs, &pause, &QEventLoop::quit);
    pause.exec();
  }
  const double afterBox = Seconds(Clock::now() - watcher.m_time);
  CloseTerminalPort();
  const sim::DeviceStats stats = terminal.Stats();
  if (record) {
    SetDownloadRecording(nullptr, nullptr);
    unsetenv("XDG_STATE_HOME");
  }

  RunResult run;
  run.ok = watcher.m_seen &&
           watcher.m_text == CQtWindowLink::DisplayText(kBoxTransferDone).toStdString() &&
           stats.endFcsMatched && stats.image == setup.image && stats.rejected == 0;
  const std::size_t retries = stats.retries + stats.beginRepeats;
  if (!watcher.m_seen) {
    std::printf("  no box before the deadline\n");
    std::printf("  result                 FAILED\n");
    run.ok = false;
    return run;
  }

  // Where the time went, stage by stage, as the simulator saw the requests arrive. Unpaced,
  // the line costs nothing and only the gaps and the dial's pause remain.
  const auto line = [pacing](std::size_t bytes) { return pacing ? LineSeconds(bytes) : 0.0; };
  const auto exchange = [&line](std::size_t request, std::size_t reply) {
    return line(request) + line(reply) + kReadGapSeconds;
  };
  const double idFloor = exchange(std::strlen("AT+CGMM\r\n"), Length(config.model));
  const double checkFloor = exchange(std::strlen("AT\r\n"), Length(config.check));
  const double dialFloor = std::max(kDialPauseMs / kMsPerSecond,
                                    line(std::strlen("ATD**60\r\n")) + line(Length(config.dial))) +
                           kReadGapSeconds;
  double transferFloor = 0;
  for (std::size_t i = 0; i + 1 < plan.size(); ++i) {
    transferFloor += exchange(plan[i].request, plan[i].reply);
  }
  const double endFloor = exchange(plan.back().request, plan.back().reply);
  const Clock::time_point idAt = LastCommand(stats, "AT+CGMM");
  const Clock::time_point checkAt = LastCommand(stats, "AT");
  const Clock::time_point dialAt = LastCommand(stats, "ATD**60");
  const Clock::time_point beginAt =
      stats.exchanges.empty() ? watcher.m_time : stats.exchanges.front().time;
  const Clock::time_point endAt =
      stats.exchanges.empty() ? watcher.m_time : stats.exchanges.back().time;
  const Stage stages[] = {
      {"press to the scan's request", press, idAt, 0.0},
      {"second scan (found port)", idAt, checkAt, idFloor},
      {"AT check", checkAt, dialAt, checkFloor},
      {"dial", dialAt, beginAt, dialFloor},
      {"transfer up to the end", beginAt, endAt, transferFloor},
      {"end request to the box", endAt, watcher.m_time, endFloor},
  };
  double floor = 0;
  for (const Stage& s : stages) floor += s.floor;
  const double wall = Seconds(watcher.m_time - press);
  run.wall = wall;
  run.floor = floor;

  std::printf("  press to final box     %.3f s\n", wall);
  std::printf("  whole floor            %.3f s (transfer alone %.3f s)\n", floor,
              transferFloor + endFloor);
  if (pacing) {
    std::printf("  ratio                  %.4f (target 1.01 or less)\n", wall / floor);
  }
  std::printf("  excess                 %.3f s, by stage:\n", wall - floor);
  for (const Stage& s : stages) {
    const double took = Seconds(s.to - s.from);
    std::printf("    %-26s %9.3f s  floor %9.3f s  excess %7.1f ms\n", s.name, took, s.floor,
                (took - s.floor) * kMsPerSecond);
  }
  // The transfer's excess exchange by exchange: even (a cost every exchange pays) or in spikes
  // (the scheduler holding a thread up).
  std::vector<double> excessMs;
  for (std::size_t i = 0; i + 1 < stats.exchanges.size() && i + 1 < plan.size(); ++i) {
    const double took = Seconds(stats.exchanges[i + 1].time - stats.exchanges[i].time);
    excessMs.push_back((took - exchange(plan[i].request, plan[i].reply)) * kMsPerSecond);
  }
  std::sort(excessMs.begin(), excessMs.end());
  if (!excessMs.empty()) {
    double spikes = 0;
    for (double ms : excessMs) spikes += std::max(0.0, ms - excessMs[excessMs.size() / 2]);
    std::printf(
        "  transfer excess        median %.2f ms, 99%% %.2f ms, max %.1f ms per exchange;\n"
        "                         %.3f s of it above the median (held-up threads)\n",
        excessMs[excessMs.size() / 2],
        excessMs[static_cast<std::size_t>(static_cast<double>(excessMs.size() - 1) *
                                          kHighPercentile)],
        excessMs.back(), spikes / kMsPerSecond);
  }
  std::printf("  exchanges              %zu (%zu of them retries)\n", stats.frames, retries);
  std::printf("  CPU, whole process     %.3f s = %.3f %% of wall (simulator included)\n",
              cpuProcess, kPercent * cpuProcess / wall);
  std::printf("  CPU, UI thread         %.3f s = %.3f %% of wall\n", cpuUi,
              kPercent * cpuUi / wall);
  if (workerCpu >= 0) {
    std::printf("  CPU, worker thread     %.3f s = %.3f %% of wall (to its end)\n",
                workerCpu.load(), kPercent * workerCpu / wall);
  }
  // The zero image's whole floor, paced: the same exchanges before the transfer, at line rate.
  const double leadPaced = LineSeconds(std::strlen("AT+CGMM\r\n")) +
                           LineSeconds(Length(config.model)) + LineSeconds(std::strlen("AT\r\n")) +
                           LineSeconds(Length(config.check)) + 2 * kReadGapSeconds + dialFloor;
  std::printf(
      "  zero image, paced      whole floor %.3f s, transfer alone %.3f s (every byte\n"
      "                         escaped; this image's transfer floor, paced: %.3f s)\n",
      leadPaced + setup.zeroFloor, setup.zeroFloor, TransferFloor(plan));
  std::printf("  box to the worker's end %.1f ms (the window handed back%s)\n",
              afterBox * kMsPerSecond, record ? ", the record written" : "");
  if (record && !PrintRecord(stateHome.Path())) run.ok = false;
  std::printf("  result                 %s\n", run.ok ? "ok" : "FAILED");
  std::fflush(stdout);
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
  EndProcessOnSignals();  // a stop mid-run releases the port
  Setup setup;
  bool zeros = false;
  bool withRecord = true;
  bool withoutRecord = true;
  std::size_t size = kImageBufferSize;
  if (!ParseBenchArgs(argc, argv,
                      {{"--zeros", [&] { zeros = true; }},
                       {"--unpaced", [&] { setup.pacing = false; }},
                       {"--record", [&] { withoutRecord = false; }},
                       {"--no-record", [&] { withRecord = false; }},
                       {"--smoke",
                        [&] {
                          setup.pacing = false;
                          size = kSmokeImageSize;
                        }}},
                      size,
                      "[--size BYTES] [--zeros] [--unpaced] [--record | --no-record] [--smoke]") ||
      (!withRecord && !withoutRecord)) {
    return 2;
  }
  int qtArgc = 1;
  QApplication app(qtArgc, argv);

  CBenchImage file(size, zeros);
  if (!file.Written()) return 1;
  setup.image = file.Bytes();
  setup.path = file.Path();

  // The floors, before the codec's areas are used for real.
  setup.plan = PlannedTransfer(setup.image);
  setup.zeroFloor = TransferFloor(PlannedTransfer(std::vector<std::uint8_t>(size, 0)));
  setup.config.comNumber = kComNumber;
  setup.config.pacing = setup.pacing;
  std::unique_ptr<sim::CSimulator> simulator = StartSimulator(setup.config);
  if (!simulator) return 1;

  // The worker's own CPU time, taken as it ends (the real worker, started the default way).
  std::atomic<double> workerCpu{-1.0};
  SetWorkerStarter([&workerCpu](std::function<void()> body) {
    try {
      std::thread([&workerCpu, body = std::move(body)] {
        body();
        workerCpu = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
      }).detach();
      return true;
    } catch (const std::system_error&) {
      return false;
    }
  });

  // The main window as the application makes it; its start-up scan finds the terminal.
  auto* dlg = new CDownloadDlg(nullptr);
  SetMainWindow(dlg);
  SetMainWindowLink(&dlg->Link());
  if (!dlg->Create()) {
    std::fprintf(stderr, "the main window could not be built\n");
    return 1;
  }
  dlg->ShowWindow(true);
  auto* download = qobject_cast<QAbstractButton*>(QtDlgItem(*dlg, IDC_DOWNLOAD));
  if (download == nullptr || !g_terminalPort.IsOpen()) {
    std::fprintf(stderr, "no Download button or no terminal found at start-up\n");
    return 1;
  }
  CBoxWatcher watcher;
  app.installEventFilter(&watcher);
  const Window window{dlg, download, &watcher};

  std::printf("image: %zu %s bytes, %zu whole blocks, %s\n", size, zeros ? "zero" : "random",
              size >> kBlockShift, setup.pacing ? "paced at 230400 baud" : "unpaced");
  // Without the record first, then with it, each against a simulator of its own.
  std::vector<bool> runs;
  if (withoutRecord) runs.push_back(false);
  if (withRecord) runs.push_back(true);
  std::vector<RunResult> results;
  bool ok = true;
  for (const bool record : runs) {
    if (!simulator) simulator = StartSimulator(setup.config);
    if (!simulator) return 1;
    results.push_back(RunOnce(setup, window, *simulator, workerCpu, record));
    ok = ok && results.back().ok;
    simulator->Stop();
    simulator.reset();
  }
  SetMainWindowLink(nullptr);
  unsetenv(kComDirVariable);
  file.Remove();
  if (results.size() == 2 && setup.pacing) {
    std::printf(
        "recording off against on: ratio %.4f and %.4f to the whole floor, %+.3f s (%+.2f %%)\n",
        results[0].wall / results[0].floor, results[1].wall / results[1].floor,
        results[1].wall - results[0].wall,
        kPercent * (results[1].wall - results[0].wall) / results[0].wall);
  }
  std::printf("result                   %s\n", ok ? "ok" : "FAILED");
  // The main window lives to the end of the process, as in the application: no teardown.
  std::fflush(stdout);
  std::_Exit(ok ? 0 : 1);
}

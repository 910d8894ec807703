#include "download/download_worker.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "download/block_transfer.h"
#include "download/control_ids.h"
#include "download/fine_timer.h"
#include "download/messages.h"
#include "download/process_exit.h"
#include "download/upgrade_file.h"
#include "download/window_link.h"
#include "protocol/frame_codec.h"
#include "serial/serial_port.h"
#include "serial/terminal_detection.h"
#include "text/utf8_text.h"

std::array<char, kDownloadPathBytes> g_downloadPath{};
std::uint16_t g_triesLeft = 0;
std::array<std::uint8_t, kDialCommandLength> g_dialCommand{};
std::uint16_t g_dialCommandLength = 0;

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char kAtCommand[] = "AT\r\n";
constexpr const char kDialText[] = "ATD**60\r\n";
constexpr const char kWordOk[] = "OK";
constexpr const char kWordConnect[] = "CONNECT";

// The upgrade file's own stdio buffer, so that reading it allocates nothing during a transfer.
char g_upgradeFileBuffer[BUFSIZ];

// Opened by StartDownload as it returns; the worker waits here before it changes the window
// or touches the port, so detection on the UI thread is over by then.
class StartGate {
 public:
  void Open() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_open = true;
    }
    m_changed.notify_all();
  }
  void Wait() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_open; });
  }
  // The second scan's finding, set before the gate opens and read after it.
  bool m_terminalFound = true;
  // This download's, as its start told the listeners, and the moment Download was pressed.
  std::uint64_t m_id = 0;
  Clock::time_point m_pressed = Clock::now();

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_open = false;
};

// Waits at the gate of a worker that StartDownload started; one called directly has none.
void PassStartGate(StartGate* gate) {
  if (gate != nullptr) {
    gate->Wait();
  }
}

// Downloads between their last box and the end of their report.
struct Ending {
  std::mutex mutex;
  std::condition_variable changed;
  int count = 0;
};
Ending g_ending;

// Marks one download as ending for as long as it lives.
class EndingMark {
 public:
  EndingMark() {
    std::lock_guard<std::mutex> lock(g_ending.mutex);
    ++g_ending.count;
  }
  ~EndingMark() {
    {
      std::lock_guard<std::mutex> lock(g_ending.mutex);
      --g_ending.count;
    }
    g_ending.changed.notify_all();
  }
  EndingMark(const EndingMark&) = delete;
  EndingMark& operator=(const EndingMark&) = delete;
};

FileOpener g_fileOpener = nullptr;
std::atomic<DownloadReportHook> g_reportHook{nullptr};
std::vector<CDownloadListener*> g_listeners;  // changed only while no download runs
std::atomic<std::uint64_t> g_lastDownloadId{0};

// What every report of one download carries beyond its outcome.
struct ReportBasis {
  std::uint64_t id = 0;
  Clock::time_point pressed = Clock::now();
  std::optional<std::uint64_t> fileBytes;
};

// The report of an outcome decided now: the seconds run to this moment, before the operator's
// box.
DownloadReport MakeReport(const ReportBasis& basis, DownloadOutcome outcome,
                          const FailureDetail& failure = {}) {
  DownloadReport report;
  report.id = basis.id;
  report.outcome = outcome;
  report.failure = failure;
  report.fileBytes = basis.fileBytes;
  report.seconds = std::chrono::duration<double>(Clock::now() - basis.pressed).count();
  return report;
}

void Report(const DownloadReport& report) {
  for (CDownloadListener* listener : g_listeners) {
    listener->OnDownloadReport(report);
  }
  const DownloadReportHook hook = g_reportHook.load();
  if (hook != nullptr) {
    hook(report);
  }
}

void Report(const ReportBasis& basis, DownloadOutcome outcome) {
  Report(MakeReport(basis, outcome));
}

// The basis of a worker's reports: its gate's download, or one of its own without a gate.
ReportBasis BasisOf(const StartGate* gate) {
  ReportBasis basis;
  if (gate != nullptr) {
    basis.id = gate->m_id;
    basis.pressed = gate->m_pressed;
  }
  return basis;
}

// Whether the second scan of this worker's download found a terminal (true without a gate).
bool TerminalFound(const StartGate* gate) { return gate == nullptr || gate->m_terminalFound; }

// Opens a file for reading, measured. Only a regular file counts: a directory cannot be read as
// one, and a FIFO or a device could hold the UI thread or never end; the open never waits.
std::FILE* OpenForReading(const char* path, const char* mode, FileMeasure& measure) {
  std::FILE* file =
      g_fileOpener != nullptr ? g_fileOpener(path, mode) : OpenRegularFile(path, mode);
  if (file != nullptr && !MeasureOpenFile(file, measure)) {
    std::fclose(file);
    return nullptr;
  }
  return file;
}

void CloseUpgradeFile() {
  if (g_upgradeFile != nullptr) {
    std::fclose(g_upgradeFile);
    g_upgradeFile = nullptr;
  }
}

bool DefaultStarter(std::function<void()> body) {
  try {
    std::thread(std::move(body)).detach();
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

WorkerStarter& Starter() {
  static WorkerStarter starter = DefaultStarter;
  return starter;
}

const auto* Bytes(const char* text) { return reinterpret_cast<const std::uint8_t*>(text); }

// The last failed attempt at the AT check or the dial (the third, or the one that found the
// port's device gone), and what its reply was.
FailureDetail FailedAttempts(DownloadStage stage, std::uint16_t count) {
  const bool lost = TerminalPortLost();
  return FailureDetail{stage, std::nullopt,
                       static_cast<std::uint16_t>(kTerminalTries - g_triesLeft + 1),
                       AnswerFault(count, lost)};
}

// Whether the AT check or the dial may try again: not after its third attempt, nor once the
// port's device is gone.
bool TryAgain() { return --g_triesLeft != 0 && !TerminalPortLost(); }

// The AT check: "AT\r\n" until the reply holds "OK", three attempts with no pause between them.
bool CheckTerminal(CWindowLink& link, FailureDetail& failure) {
  g_triesLeft = kTerminalTries;
  link.OnStage(DownloadStage::TerminalCheck);
  link.SetItemText(IDC_STATUS, kStatusChecking);
  for (;;) {
    WriteTerminal(Bytes(kAtCommand), static_cast<std::uint16_t>(std::strlen(kAtCommand)));
    const std::uint16_t count = ReadTerminal(g_replyBuffer.data());
    if (ReplyContainsWord(g_replyBuffer.data(), count, kWordOk)) {
      link.SetItemText(IDC_STATUS, kStatusReady);
      return true;
    }
    failure = FailedAttempts(DownloadStage::TerminalCheck, count);
    if (!TryAgain()) {
      return false;
    }
  }
}

// The dial: the dial command until the reply holds "CONNECT", each read 400 ms after its write.
bool DialHandset(CWindowLink& link, FailureDetail& failure) {
  link.OnStage(DownloadStage::Dial);
  link.SetItemText(IDC_STATUS, kStatusDialling);
  std::memcpy(g_dialCommand.data(), kDialText, g_dialCommand.size());
  g_dialCommandLength = static_cast<std::uint16_t>(g_dialCommand.size());
  g_triesLeft = kTerminalTries;
  for (;;) {
    WriteTerminal(g_dialCommand.data(), g_dialCommandLength);
    std::this_thread::sleep_for(std::chrono::milliseconds(kDialPauseMs));
    const std::uint16_t count = ReadTerminal(g_replyBuffer.data());
    if (ReplyContainsWord(g_replyBuffer.data(), count, kWordConnect)) {
      link.SetItemText(IDC_STATUS, kStatusConnected);
      link.SetItemText(IDC_MESSAGE, kPaneConnected);
      return true;
    }
    failure = FailedAttempts(DownloadStage::Dial, count);
    if (!TryAgain()) {
      return false;
    }
  }
}

// Gives the window back to the operator. The file and the port are closed first, so that a
// download started the moment the buttons come back never meets this worker's close.
void HandBack(CWindowLink& link, const char* caption, const char* pane = nullptr) {
  CloseUpgradeFile();
  CloseTerminalPort();
  link.SetItemText(IDC_DOWNLOAD, caption);
  if (pane != nullptr) {
    link.SetItemText(IDC_MESSAGE, pane);
  }
  link.EnableItem(IDC_DOWNLOAD, true);
  link.EnableItem(IDC_BROWSE, true);
}

}  // namespace

void SetWorkerStarter(WorkerStarter starter) {
  Starter() = starter ? std::move(starter) : WorkerStarter(DefaultStarter);
}

void SetFileOpener(FileOpener opener) { g_fileOpener = opener; }

void SetDownloadReportHook(DownloadReportHook hook) { g_reportHook.store(hook); }

void AddDownloadListener(CDownloadListener* listener) {
  if (listener != nullptr &&
      std::find(g_listeners.begin(), g_listeners.end(), listener) == g_listeners.end()) {
    g_listeners.push_back(listener);
  }
}

void RemoveDownloadListener(CDownloadListener* listener) {
  g_listeners.erase(std::remove(g_listeners.begin(), g_listeners.end(), listener),
                    g_listeners.end());
}

bool WaitForDownloadEnding(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(g_ending.mutex);
  return g_ending.changed.wait_for(lock, limit, [] { return g_ending.count == 0; });
}

DownloadOutcome CheckUpgradeFile(const char* path) {
  // The file must open.
  FileMeasure measure;
  std::FILE* probe = OpenForReading(path, "rt", measure);
  if (probe == nullptr) {
    return DownloadOutcome::FileNotOpened;
  }
  // A file that begins with ':' is a text image, not an upgrade file; one that cannot fit the
  // image buffer is no upgrade file either, and the terminal need not hear of it.
  char first = 0;
  const bool gotByte = std::fread(&first, 1, 1, probe) == 1;
  std::fclose(probe);
  if ((gotByte && first == kInvalidFirstByte) || measure.size > kImageBufferSize) {
    return DownloadOutcome::FileRefused;
  }
  return DownloadOutcome::Completed;
}

void StartDownload() {
  // The press: the refusals below report from here, a started download from its worker.
  const ReportBasis press;
  CWindowLink* link = GetMainWindowLink();
  if (link == nullptr) {
    Report(press, DownloadOutcome::NoWindow);
    return;
  }
  // The path, in UTF-8. One longer than the path area holds (299 characters, however many bytes
  // each takes) is refused whole rather than cut into the name of a different file.
  const std::string text = link->GetItemText(IDC_PATH);
  const bool fits = Utf8CharacterCount(text) < kDownloadPathCapacity &&
                    text.size() < g_downloadPath.size() && text.find('\0') == std::string::npos;
  std::memset(g_downloadPath.data(), 0, g_downloadPath.size());
  if (fits) {
    std::memcpy(g_downloadPath.data(), text.data(), text.size());
  }

  const DownloadOutcome check =
      fits ? CheckUpgradeFile(g_downloadPath.data()) : DownloadOutcome::FileNotOpened;
  if (check == DownloadOutcome::FileNotOpened) {
    ShowMessageBox(*link, BoxOwner::None, kBoxEnterSoftwareFile);
    link->SetItemText(IDC_PATH, "");
    Report(press, DownloadOutcome::FileNotOpened);
    return;
  }
  if (check == DownloadOutcome::FileRefused) {
    ShowMessageBox(*link, BoxOwner::MainWindow, kBoxInvalidFile, kBoxInvalidFileCaption);
    link->EnableItem(IDC_DOWNLOAD, true);
    link->EnableItem(IDC_BROWSE, true);
    Report(press, DownloadOutcome::FileRefused);
    return;
  }

  // The download begins: its listeners hear of it before the worker and the second scan run.
  // The worker is held at its gate until this handler has returned.
  auto gate = std::make_shared<StartGate>();
  gate->m_id = ++g_lastDownloadId;
  gate->m_pressed = press.pressed;
  const DownloadStart start{gate->m_id, g_downloadPath.data()};
  for (CDownloadListener* listener : g_listeners) {
    listener->OnDownloadStart(start);
  }
  const bool started = Starter()([gate] { DownloadWorker(gate.get()); });
  if (!started) {
    ShowMessageBox(*link, BoxOwner::MainWindow, kBoxNoThread);
    Report(BasisOf(gate.get()), DownloadOutcome::NoWorker);
    return;
  }

  // Busy.
  link->SetItemText(IDC_DOWNLOAD, kCaptionBusy);
  link->EnableItem(IDC_DOWNLOAD, false);
  link->EnableItem(IDC_BROWSE, false);

  // The second scan, which leaves the port open on the terminal for the worker.
  link->OnStage(DownloadStage::Scan);
  if (DetectTerminal() != DETECT_FOUND) {
    link->SetItemText(IDC_STATUS, kStatusNotReady);
    link->SetItemText(IDC_MESSAGE, kNoTerminalMessage);
    link->EnableItem(IDC_DOWNLOAD, false);
    gate->m_terminalFound = false;
  }
  gate->Open();
}

std::uint32_t DownloadWorker(void* argument) {
  auto* const gate = static_cast<StartGate*>(argument);
  // Each reply ends 50 ms after its last byte, not at the next timer tick after that.
  const CFineTimer fineTimer;
  CWindowLink* link = GetMainWindowLink();
  ReportBasis basis = BasisOf(gate);

  // The file must still open.
  FileMeasure measure;
  std::FILE* probe = OpenForReading(g_downloadPath.data(), "rt", measure);
  if (probe == nullptr) {
    PassStartGate(gate);
    if (link != nullptr) {
      ShowMessageBox(*link, BoxOwner::None, kBoxEnterSoftwareFile);
      link->SetItemText(IDC_PATH, "");
    }
    Report(basis, DownloadOutcome::FileNotOpened);
    return 0;
  }
  // The upgrade file, bytes as they are.
  std::fclose(probe);
  g_upgradeFile = OpenForReading(g_downloadPath.data(), "rb", measure);
  if (g_upgradeFile == nullptr) {
    PassStartGate(gate);
    if (link != nullptr) {
      ShowMessageBox(*link, BoxOwner::None, kBoxEnterLdrFile);
    }
    Report(basis, DownloadOutcome::FileReopenFailed);
    EndProcess(1);
  }
  std::setvbuf(g_upgradeFile, g_upgradeFileBuffer, _IOFBF, sizeof g_upgradeFileBuffer);
  // The whole-block count, and the measure the transfer holds the file to, both taken from
  // the open stream: what is sent is the file as it was here.
  g_upgradeFileMeasure = UpgradeFileMeasure{g_upgradeFile, measure};
  g_sizeCounter = static_cast<std::uint32_t>(measure.size >> kBlockShift);
  basis.fileBytes = measure.size;

  PassStartGate(gate);
  if (link == nullptr) {
    // Nobody to tell: the download cannot go on, and it must leave nothing held behind it (the
    // port the second scan opened included), nor a caller waiting for its end.
    CloseUpgradeFile();
    CloseTerminalPort();
    Report(basis, DownloadOutcome::NoWindow);
    return 0;
  }

  // The AT check.
  FailureDetail failure;
  if (!CheckTerminal(*link, failure)) {
    // Without a terminal the check asked nothing of any port: the scan is where it failed.
    const DownloadReport report =
        TerminalFound(gate)
            ? MakeReport(basis, DownloadOutcome::TerminalNotReady, failure)
            : MakeReport(basis, DownloadOutcome::NoTerminal,
                         FailureDetail{DownloadStage::Scan, std::nullopt, 0, FailureReason::None});
    link->SetItemText(IDC_STATUS, kStatusNotReady);
    ShowMessageBox(*link, BoxOwner::None, kBoxNotResponding);
    const EndingMark ending;
    CloseUpgradeFile();
    CloseTerminalPort();
    Report(report);
    return 0;
  }
  // The dial.
  if (!DialHandset(*link, failure)) {
    const DownloadReport report = MakeReport(basis, DownloadOutcome::DialFailed, failure);
    link->SetItemText(IDC_STATUS, kStatusDialFailed);
    ShowMessageBox(*link, BoxOwner::None, kBoxNotInDownloadMode);
    const EndingMark ending;
    HandBack(*link, kCaptionAfterDial, kBoxNotInDownloadMode);
    Report(report);
    return 0;
  }
  // The transfer and its report, taken before the box (its seconds end with the last exchange)
  // and before the window goes back (a press right after that resets the transfer's counts).
  const std::uint16_t result = RunTransfer();
  DownloadReport report = MakeReport(
      basis, result != TRANSFER_OK ? DownloadOutcome::TransferFailed : DownloadOutcome::Completed,
      g_transferFailure);
  report.transferResult = result;
  report.blocks = g_transferCounts.acknowledged;
  report.retries = g_transferCounts.retries;
  if (result == TRANSFER_OK) {
    report.imageBytes = g_sizeCounter;
    report.imageFcs = g_imageFcs;
  }
  if (result != TRANSFER_OK) {
    link->SetItemText(IDC_STATUS, kStatusTransferFailed);
    link->SetItemText(IDC_MESSAGE, kPaneTransferFailed);
    ShowMessageBox(*link, BoxOwner::None, kBoxTransferFailed, kBoxTransferFailedCaption);
  } else {
    link->SetProgressPos(IDC_PROGRESS, static_cast<std::int32_t>(g_sizeCounter));
    link->SetItemText(IDC_STATUS, kStatusTransferDone);
    link->SetItemText(IDC_MESSAGE, kPaneTransferDone);
    ShowMessageBox(*link, BoxOwner::None, kBoxTransferDone, kBoxTransferDoneCaption);
  }
  const EndingMark ending;
  HandBack(*link, kCaptionAfterTransfer);
  Report(report);
  return 0;
}

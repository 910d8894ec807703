#include "download/download_worker.h"

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

#include "download/block_transfer.h"
#include "download/control_ids.h"
#include "download/download_record.h"
#include "download/fine_timer.h"
#include "download/frame_codec.h"
#include "download/messages.h"
#include "download/process_exit.h"
#include "download/upgrade_file.h"
#include "download/utf8_text.h"
#include "download/window_link.h"
#include "serial/serial_port.h"
#include "serial/terminal_detection.h"

std::array<char, kDownloadPathBytes> g_downloadPath{};
std::uint16_t g_triesLeft = 0;
std::array<std::uint8_t, kDialCommandLength> g_dialCommand{};
std::uint16_t g_dialCommandLength = 0;

namespace {

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

DownloadReport MakeReport(DownloadOutcome outcome, const FailureDetail& failure = {}) {
  DownloadReport report;
  report.outcome = outcome;
  report.failure = failure;
  return report;
}

void Report(const DownloadReport& report) {
  EndDownloadRecord(report);
  const DownloadReportHook hook = g_reportHook.load();
  if (hook != nullptr) {
    hook(report);
  }
}

void Report(DownloadOutcome outcome) { Report(MakeReport(outcome)); }

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

bool WaitForDownloadEnding(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(g_ending.mutex);
  return g_ending.changed.wait_for(lock, limit, [] { return g_ending.count == 0; });
}

void StartDownload() {
  CWindowLink* link = GetMainWindowLink();
  if (link == nullptr) {
    Report(DownloadOutcome::NoWindow);
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

  // The file must open.
  FileMeasure measure;
  std::FILE* probe = fits ? OpenForReading(g_downloadPath.data(), "rt", measure) : nullptr;
  if (probe == nullptr) {
    ShowMessageBox(*link, BoxOwner::None, kBoxEnterSoftwareFile);
    link->SetItemText(IDC_PATH, "");
    Report(DownloadOutcome::FileNotOpened);
    return;
  }
  // A file that begins with ':' is a text image, not an upgrade file; one that cannot fit the
  // image buffer is no upgrade file either, and the terminal need not hear of it.
  char first = 0;
  const bool gotByte = std::fread(&first, 1, 1, probe) == 1;
  std::fclose(probe);
  if ((gotByte && first == kInvalidFirstByte) || measure.size > kImageBufferSize) {
    ShowMessageBox(*link, BoxOwner::MainWindow, kBoxInvalidFile, kBoxInvalidFileCaption);
    link->EnableItem(IDC_DOWNLOAD, true);
    link->EnableItem(IDC_BROWSE, true);
    Report(DownloadOutcome::FileRefused);
    return;
  }

  // The worker, held at its gate until this handler has returned. The download's record begins
  // here, and the thread that reports its end ends it.
  auto gate = std::make_shared<StartGate>();
  const DownloadRecording record = BeginDownloadRecord(g_downloadPath.data());
  const bool started = Starter()([gate, record] {
    AdoptDownloadRecord(record);
    DownloadWorker(gate.get());
  });
  if (!started) {
    ShowMessageBox(*link, BoxOwner::MainWindow, kBoxNoThread);
    AdoptDownloadRecord(record);
    Report(DownloadOutcome::NoWorker);
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

  // The file must still open.
  FileMeasure measure;
  std::FILE* probe = OpenForReading(g_downloadPath.data(), "rt", measure);
  if (probe == nullptr) {
    PassStartGate(gate);
    if (link != nullptr) {
      ShowMessageBox(*link, BoxOwner::None, kBoxEnterSoftwareFile);
      link->SetItemText(IDC_PATH, "");
    }
    Report(DownloadOutcome::FileNotOpened);
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
    Report(DownloadOutcome::FileReopenFailed);
    EndProcess(1);
  }
  std::setvbuf(g_upgradeFile, g_upgradeFileBuffer, _IOFBF, sizeof g_upgradeFileBuffer);
  // The whole-block count, and the measure the transfer holds the file to, both taken from
  // the open stream: what is sent is the file as it was here.
  g_upgradeFileMeasure = UpgradeFileMeasure{g_upgradeFile, measure};
  g_sizeCounter = static_cast<std::uint32_t>(measure.size >> kBlockShift);

  PassStartGate(gate);
  if (link == nullptr) {
    // Nobody to tell: the download cannot go on, and it must leave nothing held behind it (the
    // port the second scan opened included), nor a caller waiting for its end.
    CloseUpgradeFile();
    CloseTerminalPort();
    Report(DownloadOutcome::NoWindow);
    return 0;
  }

  // The AT check.
  FailureDetail failure;
  if (!CheckTerminal(*link, failure)) {
    link->SetItemText(IDC_STATUS, kStatusNotReady);
    ShowMessageBox(*link, BoxOwner::None, kBoxNotResponding);
    const EndingMark ending;
    CloseUpgradeFile();
    CloseTerminalPort();
    // Without a terminal the check asked nothing of any port: the scan is where it failed.
    Report(TerminalFound(gate) ? MakeReport(DownloadOutcome::TerminalNotReady, failure)
                               : MakeReport(DownloadOutcome::NoTerminal,
                                            FailureDetail{DownloadStage::Scan, std::nullopt, 0,
                                                          FailureReason::None}));
    return 0;
  }
  // The dial.
  if (!DialHandset(*link, failure)) {
    link->SetItemText(IDC_STATUS, kStatusDialFailed);
    ShowMessageBox(*link, BoxOwner::None, kBoxNotInDownloadMode);
    const EndingMark ending;
    HandBack(*link, kCaptionAfterDial, kBoxNotInDownloadMode);
    Report(MakeReport(DownloadOutcome::DialFailed, failure));
    return 0;
  }
  // The transfer and its report.
  const std::uint16_t result = RunTransfer();
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
  // The report is taken before the window goes back: a press right after it starts a transfer
  // that resets these.
  DownloadReport report = MakeReport(
      result != TRANSFER_OK ? DownloadOutcome::TransferFailed : DownloadOutcome::Completed,
      g_transferFailure);
  report.transferResult = result;
  report.blocks = g_transferCounts.acknowledged;
  report.retries = g_transferCounts.retries;
  if (result == TRANSFER_OK) {
    report.imageBytes = g_sizeCounter;
    report.imageFcs = g_imageFcs;
  }
  HandBack(*link, kCaptionAfterTransfer);
  Report(report);
  return 0;
}

// The download worker: one whole download from the press of the Download button to the
// operator's report.
//
// Contract:
// - StartDownload runs on the UI thread (the Download button's handler). It refuses a path it
//   cannot open or a file whose first byte is ':', starts one detached worker thread, marks the
//   window busy and runs detection again before it returns.
// - DownloadWorker runs on that thread. It touches g_terminalPort and the reply buffer only
//   after StartDownload has returned: StartDownload opens the worker's start gate as it
//   returns, and the worker waits at that gate before its first window change.
// - Every window change goes through the main window's link and is synchronous.
//
// The worker's process-wide objects (each touched by one thread at a time; those of the transfer,
// from g_upgradeFile on, are listed in block_transfer.h):
//   object                written by                          read by
//   g_downloadPath        StartDownload (UI thread, before    DownloadWorker (its opens)
//                         the worker's start gate opens)
//   g_triesLeft           CheckTerminal, DialHandset          the same (attempts left)
//   g_dialCommand(Length) DialHandset                         DialHandset (each write)
//   g_terminalPort and    DetectTerminal (UI thread, before   the worker: AT check, dial,
//   g_replyBuffer         the gate opens), then the worker    transfer; closed by HandBack
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "download/download_outcome.h"
#include "protocol/failure_detail.h"
#include "text/utf8_text.h"

// The path box's text is taken up to 299 characters (as the operator counts them) and a
// terminator; the path is kept in UTF-8, up to four bytes a character.
inline constexpr std::size_t kDownloadPathCapacity = 300;
inline constexpr std::size_t kDownloadPathBytes =
    (kDownloadPathCapacity - 1) * kMaxUtf8SequenceBytes + 1;
inline constexpr std::uint16_t kTerminalTries = 3;  // the AT check and the dial each
inline constexpr unsigned kDialPauseMs = 400;       // between each dial and its read
inline constexpr char kInvalidFirstByte = ':';      // a text image, not an upgrade file

extern std::array<char, kDownloadPathBytes> g_downloadPath;
extern std::uint16_t g_triesLeft;
inline constexpr std::size_t kDialCommandLength = 9;  // "ATD**60\r\n" without a terminator
extern std::array<std::uint8_t, kDialCommandLength> g_dialCommand;
extern std::uint16_t g_dialCommandLength;

void StartDownload();
// The checks StartDownload makes of the file before anything reaches a port: it opens as a
// regular file, does not begin with ':' and fits the image buffer. FileNotOpened or FileRefused
// when it fails one, Completed when it passes them all.
DownloadOutcome CheckUpgradeFile(const char* path);
// The worker thread's body. `argument` is the start gate StartDownload made for this download
// (it waits there before its first window change, and learns there what the second scan found);
// null when the worker is called directly, with no gate to wait at. Returns 0 (it ends the
// process with code 1 when the second open of the file fails).
std::uint32_t DownloadWorker(void* argument);

// A press of Download whose file passed its checks, told to the listeners on the UI thread
// before the worker starts and before the second scan.
struct DownloadStart {
  std::uint64_t id = 0;  // this download's, as its report carries it
  std::string file;      // the upgrade file's path as the operator gave it (UTF-8 on Windows)
};

// Everything a listener needs of a download's end: it reads nothing of the worker's or the
// transfer's globals.
struct DownloadReport {
  std::uint64_t id = 0;  // the DownloadStart's; 0 for an end that had no start (a refusal)
  DownloadOutcome outcome = DownloadOutcome::Completed;
  std::uint16_t transferResult = 0;  // RunTransfer's result; 0 when it did not run
  // Where the scan, the AT check, the dial or the transfer failed (stage None for the other
  // outcomes). A scan that found no terminal is stage Scan with no attempt and no reason.
  FailureDetail failure;
  // What the transfer did, taken before the window is handed back (a next press resets the
  // transfer's counts): data blocks acknowledged and frames sent again; 0 when it did not run.
  std::uint32_t blocks = 0;
  std::uint32_t retries = 0;
  // After a completed transfer, exactly what the handset took: the image's bytes and FCS-16.
  std::optional<std::uint64_t> imageBytes;
  std::optional<std::uint16_t> imageFcs;
  // The upgrade file's size as the worker measured it at its open; none when it did not open.
  std::optional<std::uint64_t> fileBytes;
  // From the press of Download to the download's last exchange with the terminal (the time the
  // operator leaves the final box open is not the download's).
  double seconds = 0;
};

// Hears of each download: its start and its report. The record of every download is one such
// listener, attached by the program that wants a record; the worker knows none of them.
class CDownloadListener {
 public:
  virtual ~CDownloadListener() = default;
  // On the UI thread, as StartDownload starts a worker.
  virtual void OnDownloadStart(const DownloadStart& start) = 0;
  // On the thread that ends the download (the UI thread for StartDownload's refusals), after
  // the operator's box, with the file and the port closed.
  virtual void OnDownloadReport(const DownloadReport& report) = 0;
};
// Listeners are told in the order they were added, before the report hook. Add and remove them
// while no download runs.
void AddDownloadListener(CDownloadListener* listener);
void RemoveDownloadListener(CDownloadListener* listener);
// Waits, at most `limit`, until no download is between its last box and the end of its report
// (the file and port closed, the window handed back, the record written, the hook told): a
// program that ends the moment the operator has pressed OK would otherwise cut that short.
// False when one still was after `limit`.
bool WaitForDownloadEnding(std::chrono::milliseconds limit);
inline constexpr std::chrono::seconds kDownloadEndingWait{1};  // the window's Close waits this

// Called on the thread that ends the download (the UI thread for StartDownload's refusals),
// after the operator's box, after the file and the port are closed and after every listener
// (the record among them) has had the report. Set it before the first download; null removes it.
using DownloadReportHook = void (*)(const DownloadReport& report);
void SetDownloadReportHook(DownloadReportHook hook);

// Starts `body` on a new detached thread; false when no thread could be created. Tests replace
// it to see that failure.
using WorkerStarter = std::function<bool(std::function<void()> body)>;
void SetWorkerStarter(WorkerStarter starter);  // an empty one restores the default

// Opens the download path; fopen unless a test puts another in its place (to see a second open
// fail after a first one succeeded, which no file can be made to do on its own).
using FileOpener = std::FILE* (*)(const char* path, const char* mode);
void SetFileOpener(FileOpener opener);  // null restores fopen

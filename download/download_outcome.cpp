#include "download/download_outcome.h"

#include "download/messages.h"

namespace {

// corvanel-cli's exit codes; 1 is the window program's own code for a failed second open.
enum : int {
  kExitOk = 0,
  kExitReopenFailed = 1,
  kExitFileRefused = 3,
  kExitNoTerminal = 4,
  kExitNotReady = 5,
  kExitDialFailed = 6,
  kExitTransferFailed = 7,
};

constexpr OutcomeFacts kOutcomes[] = {
    {DownloadOutcome::FileNotOpened, "file-not-opened", kBoxEnterSoftwareFile, "file",
     kExitFileRefused},
    {DownloadOutcome::FileRefused, "file-refused", kBoxInvalidFile, "file", kExitFileRefused},
    {DownloadOutcome::NoWorker, "no-worker", kBoxNoThread, "start", kExitTransferFailed},
    {DownloadOutcome::FileReopenFailed, "file-reopen-failed", kBoxEnterLdrFile, "file",
     kExitReopenFailed},
    {DownloadOutcome::NoTerminal, "no-terminal", kStatusNotReady, "scan", kExitNoTerminal},
    {DownloadOutcome::TerminalNotReady, "terminal-not-ready", kStatusNotReady, "terminal-check",
     kExitNotReady},
    {DownloadOutcome::DialFailed, "dial-failed", kStatusDialFailed, "dial", kExitDialFailed},
    {DownloadOutcome::TransferFailed, "transfer-failed", kStatusTransferFailed, "transfer",
     kExitTransferFailed},
    {DownloadOutcome::Completed, "completed", kStatusTransferDone, nullptr, kExitOk},
    {DownloadOutcome::NoWindow, "no-window", "", "window", kExitTransferFailed},
};
constexpr OutcomeFacts kUnlisted = {DownloadOutcome::TransferFailed, "unknown", "", "unknown",
                                    kExitTransferFailed};

}  // namespace

const OutcomeFacts& FactsOf(DownloadOutcome outcome) {
  for (const OutcomeFacts& facts : kOutcomes) {
    if (facts.outcome == outcome) {
      return facts;
    }
  }
  return kUnlisted;
}

// The stages of one download, in their order: what a front-end is told as a download enters
// each (CWindowLink::OnStage), and where a failure happened (FailureDetail). Each has a stable
// lower-case name for reports and records.
#pragma once

#include <cstdint>

enum class DownloadStage : std::uint8_t {
  None,           // no stage: nothing has failed
  Scan,           // the second scan for the terminal, as Download is pressed (UI thread)
  TerminalCheck,  // "AT\r\n" until the reply holds "OK"
  Dial,           // the dial command until the reply holds "CONNECT"
  Begin,          // the begin request
  Data,           // the data blocks
  End,            // the end request
};

// "scan", "terminal-check", "dial", "begin", "data", "end"; "none" for None.
constexpr const char* StageName(DownloadStage stage) {
  switch (stage) {
    case DownloadStage::None:
      return "none";
    case DownloadStage::Scan:
      return "scan";
    case DownloadStage::TerminalCheck:
      return "terminal-check";
    case DownloadStage::Dial:
      return "dial";
    case DownloadStage::Begin:
      return "begin";
    case DownloadStage::Data:
      return "data";
    case DownloadStage::End:
      return "end";
  }
  return "none";
}

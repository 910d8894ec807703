// One line of upgrades.jsonl: the record of one download as JSON, written and read back, and the
// failure object that corvanel-cli's --json writes the same way. Numbers are written without the
// C library's locale (text/json_text.h).
//
// Field names mean the same in a record and in corvanel-cli's --json where both have them:
// `outcome`, `port`, `device`, `file_bytes` (the upgrade file's size as the download measured
// it), `blocks`, `retries`, `failure` (one writer, FailureJson) and `seconds` (from the press of
// Download to the last exchange with the terminal). The transfer's result is `code` in a record
// and `result` in --json.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "download/download_worker.h"

// Where a failed download stopped: the worker's failure detail where it tells one, else the
// stage of its outcome (download/download_outcome.h).
struct RecordFailure {
  std::string stage;  // "scan", "terminal-check", "dial", "begin", "data", "end", "file", ...
  std::optional<std::uint32_t> block;
  std::optional<std::uint32_t> attempt;
  std::string reason;  // empty: not told
};

// Where the report's download failed; none for a completed one.
std::optional<RecordFailure> FailureOf(const DownloadReport& report);
// The failure as a JSON object ("null" for none): {"stage":..,"block":..,"attempt":..,"reason":..}.
std::string FailureJson(const std::optional<RecordFailure>& failure);

// One line of upgrades.jsonl. Strings are bytes as the core keeps them (see text/json_text.h).
struct DownloadRecord {
  std::string start;    // UTC, ISO 8601 with milliseconds: "2025-01-02T03:04:05.678Z"
  std::string program;  // "corvanel" or "corvanel-cli"
  std::string version;
  std::string port;    // as opened; empty when no terminal was reached
  std::string device;  // the device the port name opens here
  std::string answer;  // the terminal's identification answer, as read
  std::string file;    // the upgrade file's absolute path
  std::optional<std::uint64_t> fileBytes;
  std::optional<std::uint16_t> fileFcs;  // its FCS-16, as the end request carries it
  std::string outcome;                   // the outcome's stable word
  std::string status;                    // what the operator was last told of it
  std::uint16_t code = 0;                // RunTransfer's result; 0 when it did not run
  std::optional<RecordFailure> failure;  // none for a completed download
  std::uint32_t blocks = 0;              // data blocks acknowledged
  std::uint32_t retries = 0;             // frames sent again in the transfer
  double seconds = 0;                    // from the press to the last exchange on the port
  std::string trace;                     // the trace's file name beside it; empty: none
};

std::string FormatRecordLine(const DownloadRecord& record);  // one line, without its '\n'
// False when `line` is no record (not JSON, torn by a full disk, or without start and outcome).
bool ReadRecordLine(std::string_view line, DownloadRecord& record);

// The version of the programs, as their records and --version give it.
const char* CorvanelVersion();

// The record of every download, from the window and from corvanel-cli alike, for the service
// shop's books and for support after a failure in the field: one JSON line per download
// appended to upgrades.jsonl in the user's state folder (record_platform.h), and the download's
// wire trace beside it (trace-<UTC time>.txt, the lines of port_trace.h; the last kKeptTraces
// are kept). Nothing is sent anywhere.
//
// Contract:
// - Off until SetDownloadRecording names the program; each front-end turns it on at its start.
// - BeginDownloadRecord runs on the UI thread as StartDownload starts a worker. From then on the
//   port's traffic goes into the download's trace in memory (trace_recorder.h), and a writer
//   thread of the record's own writes it out as it goes.
// - AdoptDownloadRecord hands the record to the thread that will end the download;
//   EndDownloadRecord, from the worker's report on that thread, completes it: the writer writes
//   the rest of the trace and the record's line, and EndDownloadRecord waits for that (at most
//   kRecordFinishTimeout) so that a program may end right after it.
// - The download never pays for its record: the thread on the port only copies each event into
//   memory allocated up front. A folder that cannot be made, a full disk or a writer that does
//   not finish in time costs the record only; the warning function (corvanel-cli's standard
//   error; the window has none) hears of it once per process.
// - A download ended with the process (the title bar's close, a signal) leaves the trace written
//   so far and no line; the window's Close waits a moment for a download past its last box
//   (WaitForDownloadEnding in download_worker.h), so that its line is written.
// - Numbers are written without the C library's locale (json_text.h); lines are appended whole
//   or not at all (record_platform.h AppendWholeLine) and a reader passes by a torn one.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "download/download_worker.h"

inline constexpr std::size_t kKeptTraces = 20;  // traces kept in the state folder, newest first
inline constexpr std::chrono::milliseconds kTraceWriteInterval{100};  // writer's pace
inline constexpr std::chrono::seconds kRecordFinishTimeout{10};  // the end's wait for the writer
inline constexpr const char* kRecordFileName = "upgrades.jsonl";

// Where a failed download stopped. The stage comes from the outcome; the block (a data block's
// sequence number), the attempt (1 to 3) and the reason (a stable lower-case word such as
// "no-reply") when the worker's report tells them.
struct RecordFailure {
  // The stage of download/download_stage.h where the worker tells it (StageName), else the
  // outcome's: "file", "start", "window", "scan", "terminal-check", "dial", "transfer".
  std::string stage;
  std::optional<std::uint32_t> block;
  std::optional<std::uint32_t> attempt;
  std::string reason;  // empty: not told
};

// One line of upgrades.jsonl. Strings are bytes as the core keeps them (see json_text.h).
struct DownloadRecord {
  std::string start;    // UTC, ISO 8601 with milliseconds: "2025-01-02T03:04:05.678Z"
  std::string program;  // "corvanel" or "corvanel-cli"
  std::string version;
  std::string port;    // as opened; empty when no terminal was reached
  std::string device;  // the device the port name opens here
  std::string answer;  // the terminal's identification answer, as read
  std::string file;    // the upgrade file's path as given
  std::optional<std::uint64_t> fileBytes;
  std::optional<std::uint16_t> fileFcs;  // its FCS-16, as the end request carries it
  std::string outcome;                   // a stable word, as corvanel-cli --json names it
  std::string status;                    // what the operator was last told of it
  std::uint16_t code = 0;                // RunTransfer's result; 0 when it did not run
  std::optional<RecordFailure> failure;  // none for a completed download
  std::uint32_t blocks = 0;              // data blocks acknowledged
  std::uint32_t retries = 0;             // frames sent again in the transfer
  double seconds = 0;                    // from the press to the last exchange on the port
  std::string trace;                     // the trace's file name beside it; empty: none
};

std::string FormatRecordLine(const DownloadRecord& record);  // one line, without its '\n'
bool ReadRecordLine(std::string_view line, DownloadRecord& record);

// The outcome's stable word ("completed", "transfer-failed", ...).
const char* OutcomeName(DownloadOutcome outcome);
// The version of the programs, as their records and --version give it.
const char* CorvanelVersion();

using RecordWarning = void (*)(const char* text);
// Turns recording on for `program` (null: off); `warning` (may be null) hears of a lost record.
void SetDownloadRecording(const char* program, RecordWarning warning);

class CRecordSession;
using DownloadRecording = std::shared_ptr<CRecordSession>;
// Null when recording is off. `file` is the upgrade file's path as the operator gave it; the
// record keeps it absolute.
DownloadRecording BeginDownloadRecord(const std::string& file);
void AdoptDownloadRecord(DownloadRecording recording);
// Does nothing on a thread that has adopted no record (a refusal before any worker started).
void EndDownloadRecord(const DownloadReport& report);

// The last `count` records of upgrades.jsonl (fewer when there are fewer), oldest first, as their
// lines: only lines that read as records count (a line torn by a full disk is passed by);
// `folder` is where they were looked for. False when the environment names no state folder.
bool LastRecordLines(std::size_t count, std::vector<std::string>& lines, std::string& folder);

// The record of every download, from the window and from corvanel-cli alike, for the service
// shop's books and for support after a failure in the field: one JSON line per download
// appended to upgrades.jsonl in the user's state folder (record_line.h, record_store.h), and the
// download's wire trace beside it (the lines of port_trace.h). Nothing is sent anywhere.
//
// Contract:
// - Off until SetDownloadRecording names the program; each front-end turns it on at its start.
//   The record is then a listener of the download worker (CDownloadListener): it hears of each
//   download's start and its report and reads nothing else of the worker or the transfer.
// - At the start (the UI thread, as StartDownload starts a worker) the port's traffic goes into
//   the download's trace in memory (trace_recorder.h), and a writer thread of the record's own
//   writes it out as it goes. At the report (the thread that ends the download) the writer
//   writes the rest of the trace and the line, and the report waits for that (at most
//   kRecordFinishTimeout) so that a program may end right after it.
// - The download never pays for its record: the thread on the port only copies each event into
//   memory allocated up front. A folder that cannot be made, a full disk or a writer that does
//   not finish in time costs the record only; the warning function (corvanel-cli's standard
//   error; the window has none) hears of it once per process.
// - A download ended with the process (the title bar's close, a signal) leaves the trace written
//   so far and no line; the window's Close waits a moment for a download past its last box
//   (WaitForDownloadEnding in download_worker.h), so that its line is written.
#pragma once

#include <chrono>

#include "record/record_line.h"
#include "record/record_store.h"

inline constexpr std::chrono::milliseconds kTraceWriteInterval{100};  // writer's pace
inline constexpr std::chrono::seconds kRecordFinishTimeout{10};  // the end's wait for the writer

using RecordWarning = void (*)(const char* text);
// Which downloads leave a record: every one, or only those that found a terminal (a station's
// unit asks a port that may hold none; its trace is then removed and no line written).
enum class RecordScope { Every, TerminalFound };
// Turns recording on for `program` (null: off); `warning` (may be null) hears of a lost record.
// Call it while no download runs.
void SetDownloadRecording(const char* program, RecordWarning warning,
                          RecordScope scope = RecordScope::Every);
// The listener that SetDownloadRecording attaches to the worker (a test may tell it of a
// download directly).
CDownloadListener& DownloadRecorder();

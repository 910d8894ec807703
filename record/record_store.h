// The state folder's files of the records: upgrades.jsonl, one line per download, and the
// traces beside it (trace-<UTC>.txt, the last kKeptTraces kept). Lines are appended whole or not
// at all, by any number of programs at once (record_platform.h AppendWholeLine); a reader passes
// by a line that does not read.
#pragma once

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

inline constexpr std::size_t kKeptTraces = 20;  // traces kept in the state folder, newest first
inline constexpr const char* kRecordFileName = "upgrades.jsonl";
inline constexpr std::size_t kFileReadBytes = std::size_t{64} * 1024;  // files are read in pieces

// An errno value in words, for the warning of a lost record.
std::string ErrorText(int error);

// Makes the folder (and its parents) and keeps it the user's alone; false with the reason in
// `problem` when it cannot be.
bool MakeRecordFolder(const std::filesystem::path& folder, std::string& problem);
// A new trace in `folder` named for `stamp` (a compact UTC time): "trace-<stamp>.txt", or
// "trace-<stamp>_N.txt" when a trace of the same millisecond has the name. Null with the reason
// in `problem` when none can be made; `name` is then empty.
std::FILE* NewTraceFile(const std::filesystem::path& folder, const std::string& stamp,
                        std::string& name, std::string& problem);
// Removes the oldest traces beyond kKeptTraces, `own` (this download's) never among them, nor a
// trace that another download still writes.
void PruneTraces(const std::filesystem::path& folder, const std::string& own);
// Appends one record line (without its '\n') to the folder's upgrades.jsonl; 0 or an errno.
int AppendRecordLine(const std::filesystem::path& folder, const std::string& line);

// The last `count` records of upgrades.jsonl (fewer when there are fewer), oldest first, as their
// lines: only lines that read as records count (a line torn by a full disk is passed by);
// `folder` is where they were looked for. False when the environment names no state folder.
bool LastRecordLines(std::size_t count, std::vector<std::string>& lines, std::string& folder);

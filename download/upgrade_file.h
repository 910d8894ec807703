// The platform seam for the upgrade file: an open that can never block, and a measure taken on
// the open handle (one file per platform: upgrade_file_posix.cpp, upgrade_file_win32.cpp).
//
// Contract:
// - OpenRegularFile opens without waiting on anything (a FIFO or a device swapped in under the
//   path is opened non-blocking), then checks on the open handle that it is a regular file, so
//   no check-then-open gap remains. Null when the path cannot be opened or is anything else.
// - MeasureOpenFile tells the file's size and change marks from the open handle. Two measures
//   of one file are equal only when nothing wrote to it, truncated it or set its times between.
#pragma once

#include <cstdint>
#include <cstdio>

struct FileMeasure {
  std::uint64_t size = 0;
  std::int64_t modified = 0;  // last write, in the platform's finest unit
  std::int64_t changed = 0;   // last change of data or status; no program can set it back
  bool operator==(const FileMeasure&) const = default;
};

// `path` is UTF-8 on Windows (opened with the wide calls) and the file name's own bytes on
// POSIX; `mode` is fopen's: "rt" or "rb".
std::FILE* OpenRegularFile(const char* path, const char* mode);
// False when the file cannot be measured or is not a regular file.
bool MeasureOpenFile(std::FILE* file, FileMeasure& measure);

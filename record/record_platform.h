// What the download record needs of the platform, one file per platform
// (record_platform_posix.cpp, record_platform_win32.cpp): the user's state folder, paths made
// from the core's texts, files opened by such paths, and the device behind a port name.
//
// Texts are the core's: a path's own bytes on POSIX, UTF-8 on Windows (opened with the wide
// calls, so that a folder with letters outside the ANSI code page works).
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

// The folder for Corvanel's state: $XDG_STATE_HOME/corvanel, by default
// ~/.local/state/corvanel, on POSIX; %LOCALAPPDATA%\Corvanel on Windows. Empty when the
// environment names no such place. Not made here.
std::filesystem::path StateFolder();

// A path for a text of the core's, and the text of a path.
std::filesystem::path NativePath(const std::string& text);
std::string PathText(const std::filesystem::path& path);

// A new file for writing, private to the user; null when it exists already (errno EEXIST) or
// cannot be made. While it is open it counts as written (RemoveUnlessWritten leaves it), for
// every process.
std::FILE* CreateNewFile(const std::filesystem::path& path);
// Removes a file unless a process still has it open from CreateNewFile; false when it stays.
bool RemoveUnlessWritten(const std::filesystem::path& path);

// Appends `line` (its '\n' included) to the file at `path`, made private to the user when
// missing, as one whole line or not at all, also with other processes appending at once:
// - one append-only write, so that two writers never overwrite each other;
// - a write that comes up short (a full disk) is cut back off the file, unless another
//   writer has appended since;
// - when the file does not end with a line feed (a fragment some earlier writer left), the line
//   is written after one, so that it reads whole.
// A link in the last place of `path` is not followed. Returns 0, or the errno-style reason.
int AppendWholeLine(const std::filesystem::path& path, std::string_view line);
// A file opened for appending (made when missing), or for reading ("rb"); null when it cannot be.
std::FILE* OpenFile(const std::filesystem::path& path, const char* mode);

// Lowers the calling thread's priority below the other threads' (the record's writer yields to
// the threads on the port and the window); nothing when the system does not allow it.
void LowerThreadPriority();

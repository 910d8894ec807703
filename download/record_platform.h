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

// The folder for Corvanel's state: $XDG_STATE_HOME/corvanel, by default
// ~/.local/state/corvanel, on POSIX; %LOCALAPPDATA%\Corvanel on Windows. Empty when the
// environment names no such place. Not made here.
std::filesystem::path StateFolder();

// A path for a text of the core's, and the text of a path.
std::filesystem::path NativePath(const std::string& text);
std::string PathText(const std::filesystem::path& path);

// A new file for writing; null when it exists already (errno EEXIST) or cannot be made.
std::FILE* CreateNewFile(const std::filesystem::path& path);
// A file opened for appending (made when missing), or for reading ("rb"); null when it cannot be.
std::FILE* OpenFile(const std::filesystem::path& path, const char* mode);

// Lowers the calling thread's priority below the other threads' (the record's writer yields to
// the threads on the port and the window); nothing when the system does not allow it.
void LowerThreadPriority();

// The platform seam of corvanel-cli: one file per platform (console_posix.cpp,
// console_win32.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// A reader that goes away (the other end of a pipe closed) must not end the download: writes to
// a closed output then fail quietly instead of ending the process (SIGPIPE ignored on POSIX).
void KeepRunningWhenOutputCloses();

// The command line's arguments as the core takes paths: the bytes given on POSIX, UTF-8 made
// from the wide command line on Windows (so that a name outside the ANSI code page survives).
std::vector<std::string> CommandLineArguments(int argc, char* argv[]);

// The size in bytes of the file at `path` (as CommandLineArguments gives it); 0 when unknown.
std::uint64_t FileSizeOf(const std::string& path);

// Opens a file for writing at `path` (as CommandLineArguments gives it); null when it cannot.
std::FILE* OpenForWriting(const std::string& path);

// Whether `stream` writes to an interactive terminal (where a live progress line makes sense).
bool IsTerminal(std::FILE* stream);
// Whether `stream` is a terminal that takes the cursor movements of a table drawn again in place
// ("\x1b[nF", "\x1b[J"): any POSIX terminal; a Windows console once it has been switched to
// them (Windows 10 and later).
bool CanRedrawInPlace(std::FILE* stream);
// The width in columns of the terminal `stream` writes to; 80 when it cannot be told.
std::size_t TerminalColumns(std::FILE* stream);

// Writes UTF-8 text to `stream` so that it reads right where it goes: as it is to a file, a pipe
// or a POSIX terminal; to a Windows console with the wide console calls (a console shows its
// own code page, in which UTF-8 bytes come out garbled). The stream is flushed first.
void WriteText(std::FILE* stream, std::string_view text);
// printf to `stream` through WriteText.
[[gnu::format(printf, 2, 3)]] void PrintText(std::FILE* stream, const char* format, ...);

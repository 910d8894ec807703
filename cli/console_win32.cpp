// <windows.h> first: <shellapi.h> builds on its types.
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on
#include <io.h>

#include <cstdio>

#include "cli/console.h"
#include "text/wide_text_win32.h"

std::vector<std::string> CommandLineArguments(int argc, char* argv[]) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr || count != argc) {
    if (wide != nullptr) LocalFree(wide);
    return std::vector<std::string>(argv, argv + argc);
  }
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) {
    args.push_back(Utf8(wide[i]));
  }
  LocalFree(wide);
  return args;
}

std::uint64_t FileSizeOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(Utf16(path).c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::FILE* OpenForWriting(const std::string& path) { return _wfopen(Utf16(path).c_str(), L"w"); }

// A write to a closed pipe fails with an error here; no signal ends the process.
void KeepRunningWhenOutputCloses() {}

namespace {

// The console behind `stream`; null when it writes to a file, a pipe or a device such as NUL.
HANDLE ConsoleOf(std::FILE* stream) {
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0 ? handle : nullptr;
}

}  // namespace

bool IsTerminal(std::FILE* stream) { return ConsoleOf(stream) != nullptr; }

std::size_t TerminalColumns(std::FILE* stream) {
  const HANDLE console = ConsoleOf(stream);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  constexpr std::size_t kUsual = 80;
  if (console == nullptr || GetConsoleScreenBufferInfo(console, &info) == 0) {
    return kUsual;
  }
  return static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1);
}

bool CanRedrawInPlace(std::FILE* stream) {
  const HANDLE console = ConsoleOf(stream);
  DWORD mode = 0;
  return console != nullptr && GetConsoleMode(console, &mode) != 0 &&
         SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

void WriteText(std::FILE* stream, std::string_view text) {
  const HANDLE console = ConsoleOf(stream);
  if (console == nullptr) {
    std::fwrite(text.data(), 1, text.size(), stream);
    return;
  }
  std::fflush(stream);  // what the runtime holds goes first
  const std::wstring wide = Utf16(std::string(text));
  DWORD written = 0;
  (void)WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}

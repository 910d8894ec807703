#include <io.h>
#include <windows.h>

#include "cli/console.h"

// A write to a closed pipe fails with an error here; no signal ends the process.
void KeepRunningWhenOutputCloses() {}

bool IsTerminal(std::FILE* stream) {
  // A console, not merely a character device such as NUL.
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

std::string PortDevice(const std::string& name) { return name; }

#include "download/process_exit.h"

#include <cstdio>
#include <cstdlib>

#include "serial/serial_port.h"

[[noreturn]] void EndProcess(int exitCode) {
  CloseTerminalPort();
  std::fflush(nullptr);
  std::_Exit(exitCode);
}

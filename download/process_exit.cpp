#include "download/process_exit.h"

#include <cstdio>
#include <cstdlib>

#include "serial/held_ports.h"

[[noreturn]] void EndProcess(int exitCode) {
  // Called from the UI thread while the worker may be inside a read or a write on the port: the
  // device's holds are released, but the port is not closed under the worker (the descriptor and
  // g_terminalPort stay as they are); the process's end closes it.
  ReleaseHeldPortsForExit();
  std::fflush(nullptr);
  std::_Exit(exitCode);
}

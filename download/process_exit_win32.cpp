// The console's stop events end the process like the title bar's close: the handler (run by the
// system on a thread of its own) releases the port and ends the process at once. A window
// program without a console never receives them.
#include <windows.h>

#include <csignal>

#include "download/process_exit.h"
#include "serial/held_ports.h"

namespace {

constexpr int kSignalBreak = 21;  // SIGBREAK of the Windows runtime
constexpr int kSignalHangUp = 1;  // SIGHUP's number on POSIX systems; the runtime has none

int SignalOf(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
      return SIGINT;
    case CTRL_BREAK_EVENT:
      return kSignalBreak;
    case CTRL_CLOSE_EVENT:
      return kSignalHangUp;  // the console went away
    default:
      return SIGTERM;  // log-off and shut-down
  }
}

BOOL WINAPI EndOnConsoleEvent(DWORD event) {
  ReleaseHeldPortsForExit();
  // No DLL detach and no static destructors under threads still blocked in the port.
  (void)TerminateProcess(GetCurrentProcess(), static_cast<UINT>(SignalExitCode(SignalOf(event))));
  return TRUE;
}

}  // namespace

void EndProcessOnSignals() { (void)SetConsoleCtrlHandler(EndOnConsoleEvent, TRUE); }

// Start-up and shutdown on Windows: the entry routine of a window program. The terminal port
// exists closed before the application runs, its close is registered for process exit, the
// common controls (the progress bar's class) are registered, and the program ends when the
// application object's initialisation returns. The command line is not read.
// <windows.h> first: <commctrl.h> builds on its types, and include sorting must not move it.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <cstdlib>

#include "app/download_app.h"
#include "download/process_exit.h"
#include "serial/serial_port.h"

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int /*show*/) {
  std::atexit(CloseTerminalPort);
  // A stop request from outside ends the program like the title bar's close.
  EndProcessOnSignals();
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
  ::InitCommonControlsEx(&controls);
  theApp.InitInstance();
  // A worker that is still running ends with the process; nothing waits for it.
  EndProcess(0);
}

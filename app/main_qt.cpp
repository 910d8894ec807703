// Start-up and shutdown on Linux: the terminal port exists closed before the application runs,
// its close is registered for process exit, and the program ends when the application object's
// initialisation returns.
#include <QApplication>
#include <cstdlib>

#include "app/download_app.h"
#include "download/messages.h"
#include "download/process_exit.h"
#include "serial/serial_port.h"

int main(int argc, char* argv[]) {
  std::atexit(CloseTerminalPort);
  // A stop request from outside ends the program like the title bar's close.
  EndProcessOnSignals();
  // No command-line option is read: Qt sees the program name only.
  int qtArgc = argc > 0 ? 1 : 0;
  QApplication application(qtArgc, argv);
  QApplication::setApplicationName(QString::fromUtf8(kAppName));
  theApp.InitInstance();
  // A worker that is still running ends with the process; nothing waits for it, and nothing is
  // torn down under it.
  EndProcess(0);
}

// SIGTERM, SIGINT and SIGHUP end the process like the title bar's close: the handler does only
// async-signal-safe work (release the exclusive hold, leaving the fd to the end) and then _exit.
#include <signal.h>
#include <unistd.h>

#include "download/process_exit.h"
#include "serial/held_ports.h"

namespace {

constexpr int kEndSignals[] = {SIGTERM, SIGINT, SIGHUP};

extern "C" void EndOnSignal(int signal) {
  ReleaseHeldPortsForExit();
  ::_exit(SignalExitCode(signal));
}

}  // namespace

void EndProcessOnSignals() {
  struct sigaction action {};
  action.sa_handler = EndOnSignal;
  // A second stop request while the first is handled waits; the process ends before it runs.
  sigemptyset(&action.sa_mask);
  for (const int signal : kEndSignals) {
    sigaddset(&action.sa_mask, signal);
  }
  for (const int signal : kEndSignals) {
    (void)::sigaction(signal, &action, nullptr);
  }
}

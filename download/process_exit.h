// The process's own ends: the title bar's close (code 0) and the failed second open of the
// upgrade file (code 1). Both release the terminal port's exclusive hold (the port itself is
// not closed under a worker that may be reading it; the process's end closes it) and end the
// process at once, from whichever thread, without running static destructors under a thread
// that is still blocked in the port or the window: nothing waits for the worker, and nothing
// crashes.
//
// A request to stop from outside ends the process the same way: EndProcessOnSignals makes
// SIGTERM, SIGINT and SIGHUP (on Windows the console's Ctrl-C, Ctrl-Break and close events)
// release every port the process holds and end it with code 128 + the signal number (130 for
// Ctrl-C), sending nothing more to the device. Every program that holds a port calls it first.
#pragma once

[[noreturn]] void EndProcess(int exitCode);

void EndProcessOnSignals();

// The exit code of a process ended by signal number signal.
inline constexpr int SignalExitCode(int signal) { return 128 + signal; }

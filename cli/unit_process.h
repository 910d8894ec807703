// The station's units: each download runs in a process of its own (this program again, as
// `download FILE --port PORT --unit`), so that a crash, a hang or the process-wide state of one
// download never touches another. Its event lines come back through a pipe. One file per
// platform (unit_process_posix.cpp, unit_process_win32.cpp).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

class CUnitProcess {
 public:
  CUnitProcess();
  ~CUnitProcess();  // a process still running is stopped and waited for
  CUnitProcess(const CUnitProcess&) = delete;
  CUnitProcess& operator=(const CUnitProcess&) = delete;

  // Starts this program with `arguments` (UTF-8, without the program's name); its standard output
  // comes into a pipe, its standard error is the station's. False with a reason when it cannot.
  bool Start(const std::vector<std::string>& arguments, std::string& error);
  // The next line of its output, without the line feed; false once it has closed its output.
  // Blocks; for one reader thread.
  bool ReadLine(std::string& line);
  // Waits for the end; the exit code (128+N when signal N ended it). Once only.
  int Wait();
  // Ends it as the window's title-bar close ends a download: nothing more is sent and its port
  // is released (POSIX: SIGTERM, which it handles so; Windows: the process is ended, which closes
  // its handles). Harmless once it has ended.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

// Calls `onStop` (on a thread of its own) with the signal number when the station is asked to
// stop: SIGINT, SIGTERM or SIGHUP; on Windows Ctrl-C (2), Ctrl-Break and the console's close
// (15). Call it before any other thread starts.
void WatchStopRequests(std::function<void(int signal)> onStop);

// Makes a unit end with the station: POSIX: SIGTERM when the parent dies first; Windows: the
// station's job object does it. Called by the unit at its start.
void EndWithStation();

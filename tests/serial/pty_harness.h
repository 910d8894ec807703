// Scripted serial devices on pseudo-terminals for the serial tests.
//
// CComDir makes a temporary directory and points CORVANEL_COM_DIR at it for the test's life.
// CPtyDevice puts one device there as the entry COMn, a symlink to a pty slave. The device keeps
// its own slave fd open (set raw before the port opens), so the port may close and reopen freely.
// Knobs, all run by the device's own thread in order:
// - Answer(command, steps): steps run each time the port writes that command (up to "\n");
//   a command without an answer meets silence.
// - Run(steps): steps run now, without a command.
// - A step waits its pause, then writes its bytes; a hang-up step closes the master (the port
//   sees the device gone) and removes the COMn entry.
// - SetReading(false): the device stops taking what the port writes, so the port's writes stall.
// A shared CCommandLog records, across devices, which COM port received which command in order.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using HarnessClock = std::chrono::steady_clock;

struct DeviceStep {
  std::chrono::milliseconds pause{0};  // waited before the bytes are written
  std::string bytes;
  bool hangUp = false;
};
using DeviceScript = std::vector<DeviceStep>;

// One step that writes text at once.
DeviceScript Reply(std::string text);

class CComDir {
 public:
  CComDir();   // creates the directory and sets CORVANEL_COM_DIR
  ~CComDir();  // unsets the variable and removes the directory with its entries
  CComDir(const CComDir&) = delete;
  CComDir& operator=(const CComDir&) = delete;

  const std::string& Path() const { return m_path; }
  std::string EntryPath(int comNumber) const;
  // A plain file as the entry COMn: it opens, but no terminal setting applies to it.
  void AddPlainFile(int comNumber) const;

 private:
  std::string m_path;
};

class CCommandLog {
 public:
  void Add(int comNumber, const std::string& command);
  std::vector<std::pair<int, std::string>> Entries() const;

 private:
  mutable std::mutex m_mutex;
  std::vector<std::pair<int, std::string>> m_entries;
};

class CPtyDevice {
 public:
  CPtyDevice(const CComDir& dir, int comNumber, CCommandLog* log = nullptr);
  ~CPtyDevice();
  CPtyDevice(const CPtyDevice&) = delete;
  CPtyDevice& operator=(const CPtyDevice&) = delete;

  void Answer(const std::string& command, DeviceScript steps);
  void Run(DeviceScript steps);
  void SetReading(bool reading);

  // Everything the port wrote to this device so far, and the commands among it.
  std::string Received() const;
  std::vector<std::string> Commands() const;
  // True once at least count bytes have come from the port, false at the deadline.
  bool WaitForReceived(std::size_t count, std::chrono::milliseconds timeout) const;
  // True once every step given so far has run, false at the deadline.
  bool WaitForStepsDone(std::chrono::milliseconds timeout) const;
  // True once at least count bytes wait in the device's input queue for the port to read.
  bool WaitForQueued(std::size_t count, std::chrono::milliseconds timeout) const;
  // When the last step began to hand its bytes to the pty: none reached the port before.
  HarnessClock::time_point LastSendTime() const;

  int SlaveFd() const { return m_slave; }
  int ComNumber() const { return m_comNumber; }

 private:
  void ThreadMain();
  void TakeInput(const char* bytes, std::size_t count);  // with m_mutex held
  void RunStep(std::unique_lock<std::mutex>& lock, const DeviceStep& step);
  void Wake() const;

  const int m_comNumber;
  CCommandLog* const m_log;
  std::string m_entry;
  int m_master = -1;
  int m_slave = -1;
  int m_wakeRead = -1;
  int m_wakeWrite = -1;

  mutable std::mutex m_mutex;
  mutable std::condition_variable m_changed;
  bool m_stop = false;
  bool m_reading = true;
  bool m_hungUp = false;
  bool m_stepRunning = false;
  std::map<std::string, DeviceScript> m_answers;
  std::deque<DeviceStep> m_pending;
  std::string m_received;
  std::string m_partial;  // a command not yet ended by "\n"
  std::vector<std::string> m_commands;
  HarnessClock::time_point m_lastSend{};
  std::thread m_thread;
};

// The line of one simulated terminal (and the handset behind it): a pseudo-terminal whose slave
// the PC opens as COMn, with the timing of a 230400-baud line.
//
// Contract:
// - What answers on the line is a CLineDevice (device.h): the AT terminal and its handset, or a
//   replay of a trace (replay.h); "AT mode" below is the former's.
// - CPtyLine owns a pty. Its own slave fd stays open for its whole life and the slave is set
//   raw before the link COMn appears, so the PC may open, close and reopen the port freely.
// - The PC's opens and closes of the slave are watched (inotify). When no descriptor but the
//   simulator's own has the slave open any more (as /proc shows it after a close), what the
//   device had not yet delivered is dropped, as a real port drops it, and the device goes back to
//   AT mode. Any process counts as the PC: another program that opens and closes the port while
//   the tool holds it changes nothing.
// - A hang-up closes the master and the sim's slave fd: the PC's port sees POLLHUP and end of
//   input. With replugAfterHangUp a fresh pty takes the same COMn name at once.
// - Unplug and Plug take COMn away and bring it back with a fresh pty, as a USB terminal pulled
//   out and put back in; a line configured unplugged starts without COMn.
// - All timing runs on steady_clock deadlines in one thread per terminal; nothing busy-spins.
// - Stats(), WaitFor() and the accessors are thread-safe; Start and Stop are for the owner thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/at_terminal.h"

namespace sim {

// Line time of one byte at 230400 baud with 10 bits a byte.
inline constexpr std::chrono::nanoseconds kByteTime{43403};
// Bytes written at a time when pacing; small enough that the line rate shows byte by byte.
inline constexpr std::size_t kPaceChunk = 8;
// Largest read from the master at a time.
inline constexpr std::size_t kReadChunk = 4096;

class CPtyLine {
 public:
  // The AT terminal and handset of `config` answer on the line.
  explicit CPtyLine(DeviceConfig config);
  // `device` answers on the line; of `config` only the COM number, the pacing and the replug
  // count.
  CPtyLine(DeviceConfig config, std::unique_ptr<CLineDevice> device);
  ~CPtyLine();
  CPtyLine(const CPtyLine&) = delete;
  CPtyLine& operator=(const CPtyLine&) = delete;

  // Creates the pty and the link `comDir`/COMn and starts the thread.
  bool Start(const std::string& comDir, std::string& error);
  // Stops the thread, closes the pty and removes the link. Harmless when not started.
  void Stop();
  // A USB unplug: the pty closes (the PC's port sees its device gone) and COMn goes away, until
  // Plug puts a fresh pty behind COMn. From any thread; carried out by the line's thread.
  void Unplug();
  void Plug();
  // Pulls the terminal out the moment its handset has `blocks` data blocks of a transfer begun
  // after this call, before it answers the last of them: a pull at an exact block.
  void UnplugAtBlocks(std::size_t blocks);

  int ComNumber() const { return m_config.comNumber; }
  std::string LinkPath() const;   // comDir/COMn
  std::string SlavePath() const;  // the pty behind it now

  DeviceStats Stats() const;
  // Waits until `condition` holds for the stats (evaluated under the lock) or the timeout passes.
  bool WaitFor(const std::function<bool(const DeviceStats&)>& condition,
               std::chrono::milliseconds timeout) const;

 private:
  struct Chunk {
    Clock::time_point due;
    std::vector<std::uint8_t> bytes;
    bool hangUp = false;
  };

  bool OpenPty(std::string& error);  // m_mutex held or thread not running
  void ClosePty();
  void Run();
  void HandleWatch();
  void HandleInput(Clock::time_point now);
  void Schedule(Output&& out, Clock::time_point ready);
  void AddChunks(const std::uint8_t* data, std::size_t size, Clock::time_point& at);
  void WriteDue(Clock::time_point now);
  void HangUp();
  void Changed();
  void ApplyPlugRequest();
  void ApplyPlug(bool plug);

  const DeviceConfig m_config;
  std::string m_comDir;
  mutable std::mutex m_mutex;
  mutable std::condition_variable m_changed;
  std::unique_ptr<CLineDevice> m_device;  // guarded by m_mutex
  std::string m_slavePath;                // guarded by m_mutex
  int m_master = -1, m_slave = -1, m_watchFd = -1, m_watch = -1;
  int m_wake[2] = {-1, -1};
  std::thread m_thread;
  bool m_stop = false;               // guarded by m_mutex
  std::vector<bool> m_plugRequests;  // guarded by m_mutex: true plug, false unplug, in order
  std::size_t m_unplugAtBlocks = 0;  // guarded by m_mutex: 0 none
  std::size_t m_beginsAtArm = 0;     // guarded by m_mutex: begin requests when armed
  // Thread-only state.
  std::deque<Chunk> m_queue;
  bool m_blocked = false;  // the master would block; wait for POLLOUT
  Clock::time_point m_outFree{}, m_inFree{};
  int m_pcOpen = 0;  // PC fds open on the slave now, as far as the events and /proc tell
};

}  // namespace sim

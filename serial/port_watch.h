// Which serial ports are there now, and a wait for that to change: how a station learns of
// terminals plugged in and pulled out without opening any port.
//
// Contract:
// - PresentPorts opens no port and sends nothing. A port is there when its device is:
//   - POSIX: the device node the name maps to (serial/com_mapping_posix.h) exists and, for a
//     ttyS node, a UART is behind it (its sysfs type is not 0: the kernel makes 32 such nodes
//     whether or not a UART exists). The device's identity is its node's inode and device number,
//     so a device pulled out and put back in (a fresh node, a fresh pty behind a COMn link) is a
//     new one even when no scan fell in between. A node the user may not open (yet: udev sets
//     a new node's group and mode a moment after the kernel makes it) has an identity of its
//     own, so a port that opens to the user is new again.
//   - Windows: the port is in the serial-port device map (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM,
//     which the serial drivers keep as devices come and go); its identity is the device object
//     the map names. Without a readable map, a port is there when its DOS device name resolves.
//     A name that is no COM port (a device path) counts as always there.
// - CPortWatcher::Wait returns when the ports may have changed (POSIX: inotify on the COM
//   directory or /dev and the folders of named device paths; Windows: a change notification on
//   the device map), after `limit` at the latest, or at once after Wake from another thread.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "serial/terminal_detection.h"

// Port name -> the identity of the device behind it now.
using PortSnapshot = std::map<std::string, std::string>;

PortSnapshot PresentPorts(const std::vector<std::string>& names);

// The port names of COM first to COM last ("\\.\COMn"), the scan's candidates.
inline std::vector<std::string> ComPortNames(int first, int last) {
  std::vector<std::string> names;
  for (int n = first; n <= last; ++n) {
    names.push_back("\\\\.\\COM" + std::to_string(n));
  }
  return names;
}

// The ports named, or the scan's candidates (COM2 to COM100) when none is.
inline std::vector<std::string> NamedOrCandidatePorts(const std::vector<std::string>& named) {
  return named.empty() ? ComPortNames(kFirstCandidatePort, kLastCandidatePort) : named;
}

// The number n of "\\.\COMn" (decimal digits only); 0 for any other name.
inline int ComNumberOf(const std::string& port) {
  const std::string prefix = "\\\\.\\COM";
  constexpr std::size_t kMostDigits = 9;
  if (port.rfind(prefix, 0) != 0 || port.size() == prefix.size() ||
      port.size() - prefix.size() > kMostDigits ||
      port.find_first_not_of("0123456789", prefix.size()) != std::string::npos) {
    return 0;
  }
  return std::stoi(port.substr(prefix.size()));
}

// "COM5" for "\\.\COM5", the way an operator writes it; a device path as it is.
inline std::string ShortPortName(const std::string& port) {
  const std::string prefix = "\\\\.\\";
  return port.rfind(prefix, 0) == 0 ? port.substr(prefix.size()) : port;
}

// Ports in the order an operator reads them: COM ports by number, then device paths by name.
inline bool PortBefore(const std::string& a, const std::string& b) {
  const int na = ComNumberOf(a), nb = ComNumberOf(b);
  if (na != nb) {
    return na != 0 && (nb == 0 || na < nb);
  }
  return a < b;
}

class CPortWatcher {
 public:
  explicit CPortWatcher(const std::vector<std::string>& names);
  ~CPortWatcher();
  CPortWatcher(const CPortWatcher&) = delete;
  CPortWatcher& operator=(const CPortWatcher&) = delete;

  void Wait(std::chrono::milliseconds limit);
  void Wake();

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

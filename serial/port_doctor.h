// What stands between this PC and a terminal: the serial ports the scan would try and every
// condition of the PC that would stop a download on one of them, each with its fix.
//
// Contract:
// - Opens no port that another program holds and sends nothing to any device. On POSIX it reads
//   only /sys, /proc, /run/udev and the udev rule folders; on Windows a free port is opened and
//   closed at once (no I/O), since only the open tells whether another program holds it.
// - Findings, by kind:
//     no-access      the user may not open the device (its group named)
//     held           another program has the port open (its pid and name; on Windows what the
//                    open said)
//     modem-manager  ModemManager runs and probes this USB device (the udev rule that makes it
//                    leave the terminal alone, filled in with the device's USB IDs)
//     brltty         brltty's udev rules claim this USB adapter as a braille display
//     uart-speed     a UART whose base rate is below 230400 (the setserial fix)
//     beyond-scan    a port the scan never tries (above COM100 on Windows)
#pragma once

#include <string>
#include <vector>

struct PortFacts {
  std::string port;    // "\\.\COMn" or a device path
  std::string device;  // the device it maps to (POSIX: the node; Windows: the device object)
  std::string driver;  // the kernel driver (POSIX), "" when unknown
  std::string usbId;   // "0403:6001" for a USB device, else ""
};

struct PortFinding {
  std::string port;
  std::string kind;
  std::string text;  // what stands in the way, in one sentence
  std::string fix;   // what to do about it, in one line
};

struct DoctorReport {
  std::vector<PortFacts> ports;
  std::vector<PortFinding> findings;
};

// Looks at the ports among `names` that are there (serial/port_watch.h), and on Windows also at
// every port of the device map that the scan would not try.
DoctorReport ExaminePorts(const std::vector<std::string>& names);

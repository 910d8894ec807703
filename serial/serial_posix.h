// The parts of the POSIX backend that are worth checking on their own: how a port name becomes
// a device path, and how the line settings become termios flags. No I/O here.
#pragma once

#include <termios.h>

#include <string>

#include "serial/serial_backend.h"

inline constexpr const char* kComDirVariable = "CORVANEL_COM_DIR";  // directory of COMn entries
inline constexpr int kComBlockSize = 34;   // devices in each /dev block (ttyUSB0..33, ttyACM0..33)
inline constexpr int kLastSerialCom = 32;  // COM1..32: /dev/ttyS0..31
inline constexpr int kLastUsbCom = kLastSerialCom + kComBlockSize;  // COM33..66: /dev/ttyUSB0..33
inline constexpr int kLastAcmCom = kLastUsbCom + kComBlockSize;     // COM67..100: /dev/ttyACM0..33

// The number n of a name "\\.\COMn" (n decimal, no sign, no leading zero, at least 1);
// 0 for any other name.
int ParseComNumber(const char* name);

// The device of COM n in the fixed /dev blocks; empty for a number outside 1..100.
std::string ComDevicePath(int comNumber);

// The path that opening name uses. comDir is the value of CORVANEL_COM_DIR (nullptr or empty when
// unset): COM n is then the entry "COMn" in it. Any other name that is not a Win32 device name
// ("\\.\...") is a path taken as given. Empty when the name has no device here.
std::string ResolveDevicePath(const char* name, const char* comDir);

// Raw termios for the line settings, built from zeroed storage: no echo, no line editing, no
// translation of any byte, CLOCAL and CREAD, no HUPCL, VMIN 0 and VTIME 0. False when a setting
// has no termios equivalent here (an unsupported speed, say).
bool LineSettingsToTermios(const SerialLineSettings& settings, termios* out);

// Whether the settings a device reports back (`got`) are those that were asked for (`asked`): both
// speeds, the character format, flow control and the raw mode. A driver may refuse a setting and
// keep the old one while tcsetattr still succeeds (an 8250 UART whose baud base is below the
// speed stays at its previous speed), so only a read-back shows it. A pseudo-terminal has no line
// and forces 8 bits without parity whatever is asked; its character format is not compared.
bool TermiosTaken(const termios& asked, const termios& got, bool pseudoTerminal);

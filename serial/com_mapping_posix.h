// The COM mapping of the POSIX backend: how a port name becomes a device path. No I/O here.
#pragma once

#include <string>

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

// The COM mapping of the POSIX backend: which device "\\.\COMn" opens. COM1 to COM32 are
// /dev/ttyS0 to /dev/ttyS31, COM33 to COM66 /dev/ttyUSB0 to /dev/ttyUSB33, COM67 to COM100
// /dev/ttyACM0 to /dev/ttyACM33; with CORVANEL_COM_DIR set, COMn is the entry "COMn" there.
#include "serial/com_mapping_posix.h"

#include <cstdlib>
#include <cstring>

#include "serial/serial_backend.h"

namespace {

constexpr const char kComPrefix[] = "\\\\.\\COM";  // "\\.\COM" of a Win32 COM device name
constexpr std::size_t kComPrefixLength = sizeof kComPrefix - 1;
constexpr const char kWin32DevicePrefix[] = "\\\\.\\";  // Win32 device namespace
constexpr int kLargestComNumber = 99999;                // far beyond any name that fits a port name

}  // namespace

int ParseComNumber(const char* name) {
  if (name == nullptr || std::strncmp(name, kComPrefix, kComPrefixLength) != 0) {
    return 0;
  }
  const char* digits = name + kComPrefixLength;
  if (*digits < '1' || *digits > '9') {
    return 0;  // no number, or a leading zero that "%d" never writes
  }
  int number = 0;
  for (const char* p = digits; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9' || number > kLargestComNumber) {
      return 0;
    }
    constexpr int kDecimal = 10;
    number = number * kDecimal + (*p - '0');
  }
  return number > kLargestComNumber ? 0 : number;
}

std::string ComDevicePath(int comNumber) {
  if (comNumber >= 1 && comNumber <= kLastSerialCom) {
    return "/dev/ttyS" + std::to_string(comNumber - 1);
  }
  if (comNumber > kLastSerialCom && comNumber <= kLastUsbCom) {
    return "/dev/ttyUSB" + std::to_string(comNumber - kLastSerialCom - 1);
  }
  if (comNumber > kLastUsbCom && comNumber <= kLastAcmCom) {
    return "/dev/ttyACM" + std::to_string(comNumber - kLastUsbCom - 1);
  }
  return {};
}

std::string ResolveDevicePath(const char* name, const char* comDir) {
  if (name == nullptr || *name == '\0') {
    return {};
  }
  const int comNumber = ParseComNumber(name);
  if (comNumber == 0) {
    // Another Win32 device name has no device here; anything else is a path as given.
    if (std::strncmp(name, kWin32DevicePrefix, sizeof kWin32DevicePrefix - 1) == 0) {
      return {};
    }
    return name;
  }
  if (comDir != nullptr && *comDir != '\0') {
    return std::string(comDir) + "/COM" + std::to_string(comNumber);
  }
  return ComDevicePath(comNumber);
}

std::string PortDevice(const std::string& name) {
  return ResolveDevicePath(name.c_str(), std::getenv(kComDirVariable));
}

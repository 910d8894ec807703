// Win32 backend of the serial port: the device is opened for exclusive, synchronous use and the
// driver does the timing. The read-completion rule and the write time-out are the device's
// COMMTIMEOUTS, so PortRead and PortWrite are single ReadFile and WriteFile calls.
//
// What real drivers do, which Wine does not show:
// - A time-out is no error (TRUE with a short count), so a FALSE from ReadFile or WriteFile is a
//   real one: after an unplug the driver fails every call at once. The port is then lost.
// - A COM port whose device object is a Bluetooth modem (\Device\BthModem...) pages the remote
//   device on open, for seconds; a COM name the system does not know has no device. Neither is
//   opened.
// - usbser.sys, the in-box driver of USB CDC devices, fails SetCommState with error 31 for a
//   device without the optional line-coding requests. Such a device has no line to set (a USB
//   bulk pipe), as on Linux: it is used, with DTR and RTS cleared. A UART that refuses 230400
//   (error 87) is refused.
#include "serial/serial_win32.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

#include "serial/held_ports.h"

static_assert(sizeof(DCB) == kDcbLength, "the line settings record is the Win32 DCB");

namespace {

constexpr std::string_view kDeviceNamespace = "\\\\.\\";             // "\\.\" before a device name
constexpr std::string_view kBluetoothObject = "\\Device\\BthModem";  // Bluetooth serial links
constexpr std::string_view kUsbCdcObject = "\\Device\\USBSER";       // usbser.sys
constexpr DWORD kNoLineCoding = ERROR_GEN_FAILURE;  // 31: usbser.sys without line coding
constexpr DWORD kDosDeviceCapacity = 1024;          // room for a COM name's device objects

HANDLE OpenDevice(const char* name) {
  // No sharing: a device held by any other open is refused. Synchronous: no overlapped flag.
  return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}
BOOL ReadDevice(HANDLE handle, void* buffer, DWORD count, DWORD* received) {
  return ReadFile(handle, buffer, count, received, nullptr);
}
BOOL WriteDevice(HANDLE handle, const void* bytes, DWORD count, DWORD* written) {
  return WriteFile(handle, bytes, count, written, nullptr);
}
BOOL CancelDeviceIo(HANDLE handle) { return CancelIoEx(handle, nullptr); }

constexpr CommCalls kSystemCalls = {
    OpenDevice,         QueryDosDeviceA, SetCommMask, SetCommTimeouts, SetCommState,
    EscapeCommFunction, ReadDevice,      WriteDevice, CancelDeviceIo,  CloseHandle,
};
const CommCalls* g_calls = &kSystemCalls;

// The open handles whose device is a USB CDC one (usbser.sys).
std::mutex g_cdcMutex;
std::set<HANDLE> g_cdcHandles;

HANDLE HandleOf(PortHandle handle) { return reinterpret_cast<HANDLE>(handle); }

// "device gone (error 1167)": what a failed read or write leaves of the port.
void TellLost(std::string* lost, DWORD error) {
  if (lost != nullptr && lost->empty()) {
    *lost = "device gone (error " + std::to_string(error) + ")";
  }
}

// The seam's record, member for member; every member DCB has beyond it stays zero.
DCB ToDcb(const SerialLineSettings& s) {
  DCB dcb;
  ZeroMemory(&dcb, sizeof dcb);
  dcb.DCBlength = s.DCBlength;
  dcb.BaudRate = s.BaudRate;
  dcb.fBinary = s.fBinary;
  dcb.fParity = s.fParity;
  dcb.fOutxCtsFlow = s.fOutxCtsFlow;
  dcb.fOutxDsrFlow = s.fOutxDsrFlow;
  dcb.fDtrControl = s.fDtrControl;
  dcb.fDsrSensitivity = s.fDsrSensitivity;
  dcb.fTXContinueOnXoff = s.fTXContinueOnXoff;
  dcb.fOutX = s.fOutX;
  dcb.fInX = s.fInX;
  dcb.fErrorChar = s.fErrorChar;
  dcb.fNull = s.fNull;
  dcb.fRtsControl = s.fRtsControl;
  dcb.fAbortOnError = s.fAbortOnError;
  dcb.XonLim = s.XonLim;
  dcb.XoffLim = s.XoffLim;
  dcb.ByteSize = s.ByteSize;
  dcb.Parity = s.Parity;
  dcb.StopBits = s.StopBits;
  dcb.XonChar = s.XonChar;
  dcb.XoffChar = s.XoffChar;
  dcb.ErrorChar = s.ErrorChar;
  dcb.EofChar = s.EofChar;
  dcb.EvtChar = s.EvtChar;
  return dcb;
}

COMMTIMEOUTS ToCommTimeouts(const SerialTimeouts& t) {
  COMMTIMEOUTS c;
  ZeroMemory(&c, sizeof c);
  c.ReadIntervalTimeout = t.ReadIntervalTimeout;
  c.ReadTotalTimeoutMultiplier = t.ReadTotalTimeoutMultiplier;
  c.ReadTotalTimeoutConstant = t.ReadTotalTimeoutConstant;
  c.WriteTotalTimeoutMultiplier = t.WriteTotalTimeoutMultiplier;
  c.WriteTotalTimeoutConstant = t.WriteTotalTimeoutConstant;
  return c;
}

}  // namespace

const CommCalls& SystemCommCalls() { return kSystemCalls; }

void SetCommCalls(const CommCalls* calls) { g_calls = calls != nullptr ? calls : &kSystemCalls; }

PortHandle PortOpenExclusive(const char* name, std::string* refusal) {
  // A COM name is looked up first: the system's device map names its device object without
  // opening it.
  bool cdc = false;
  const std::string_view text(name);
  if (text.starts_with(kDeviceNamespace) &&
      text.substr(kDeviceNamespace.size()).starts_with("COM")) {
    char target[kDosDeviceCapacity] = {};
    const std::string dosName(text.substr(kDeviceNamespace.size()));
    if (g_calls->queryDosDevice(dosName.c_str(), target, sizeof target) == 0) {
      return kInvalidPortHandle;  // no such port
    }
    const std::string_view object(target);
    if (object.starts_with(kBluetoothObject)) {
      return kInvalidPortHandle;  // a Bluetooth link: the terminal is attached by USB
    }
    cdc = object.starts_with(kUsbCdcObject);
  }
  const HANDLE h = g_calls->openDevice(name);
  const PortHandle handle = reinterpret_cast<PortHandle>(h);
  // INVALID_HANDLE_VALUE is -1, the seam's invalid value; a null handle is no device either.
  if (handle == kInvalidPortHandle || h == nullptr) {
    const DWORD error = GetLastError();
    if (refusal != nullptr && error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
      *refusal =
          error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_BUSY
              ? std::string("held by another program")
              : "open refused (error " + std::to_string(error) + ")";
    }
    return kInvalidPortHandle;
  }
  TrackHeldPort(handle);
  if (cdc) {
    std::lock_guard<std::mutex> lock(g_cdcMutex);
    g_cdcHandles.insert(h);
  }
  return handle;
}

bool PortClearEventMask(PortHandle handle) {
  return g_calls->setCommMask(HandleOf(handle), 0) != 0;
}

bool PortSetTimeouts(PortHandle handle, const SerialTimeouts& timeouts) {
  COMMTIMEOUTS c = ToCommTimeouts(timeouts);
  return g_calls->setCommTimeouts(HandleOf(handle), &c) != 0;
}

bool PortSetLineSettings(PortHandle handle, const SerialLineSettings& settings,
                         std::string* refusal) {
  DCB dcb = ToDcb(settings);
  const HANDLE h = HandleOf(handle);
  if (g_calls->setCommState(h, &dcb) != 0) {
    return true;
  }
  const DWORD error = GetLastError();
  bool cdc = false;
  {
    std::lock_guard<std::mutex> lock(g_cdcMutex);
    cdc = g_cdcHandles.count(h) != 0;
  }
  if (cdc && error == kNoLineCoding) {
    // A USB CDC device without line coding: nothing to set, the lines are held off as asked.
    (void)g_calls->escapeCommFunction(h, CLRDTR);
    (void)g_calls->escapeCommFunction(h, CLRRTS);
    return true;
  }
  if (refusal != nullptr) {
    *refusal = "line settings refused: asked " + std::to_string(settings.BaudRate) + " (error " +
               std::to_string(error) + ")";
  }
  return false;
}

void PortWrite(PortHandle handle, const std::uint8_t* bytes, std::uint32_t count,
               const SerialTimeouts& /*timeouts: the driver keeps them*/, std::string* lost) {
  DWORD written = 0;
  if (g_calls->writeFile(HandleOf(handle), bytes, count, &written) == 0) {
    TellLost(lost, GetLastError());
  }
}

std::uint32_t PortRead(PortHandle handle, std::uint8_t* buffer, std::uint32_t capacity,
                       const SerialTimeouts& /*timeouts: the driver keeps them*/,
                       std::string* lost) {
  // The count the driver reports is the result, whatever the success flag says.
  DWORD received = 0;
  if (g_calls->readFile(HandleOf(handle), buffer, capacity, &received) == 0) {
    TellLost(lost, GetLastError());
  }
  return received > capacity ? capacity : received;
}

void PortClose(PortHandle handle) {
  ForgetHeldPort(handle);
  {
    std::lock_guard<std::mutex> lock(g_cdcMutex);
    g_cdcHandles.erase(HandleOf(handle));
  }
  // A synchronous handle's close waits for a ReadFile that another thread has pending on it (up
  // to the 5.17 s of a silent read when the window closes mid-transfer): end that read first.
  (void)g_calls->cancelIo(HandleOf(handle));
  (void)g_calls->closeHandle(HandleOf(handle));
}

void PortReleaseForExit(PortHandle /*handle*/) {
  // The exclusive hold is the handle itself, which the system closes as the process ends; closing
  // it here would end a read another thread has pending and let that thread go on writing.
}

std::string PortDevice(const std::string& name) { return name; }

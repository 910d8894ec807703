// Win32 backend of the serial port: the device is opened for exclusive, synchronous use and the
// driver does the timing. The read-completion rule and the write time-out are the device's
// COMMTIMEOUTS, so PortRead and PortWrite are single ReadFile and WriteFile calls.
#include <windows.h>

#include <string>

#include "serial/held_ports.h"

static_assert(sizeof(DCB) == kDcbLength, "the line settings record is the Win32 DCB");

namespace {

HANDLE HandleOf(PortHandle handle) { return reinterpret_cast<HANDLE>(handle); }

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

PortHandle PortOpenExclusive(const char* name) {
  // No sharing: a device held by any other open is refused. Synchronous: no overlapped flag.
  const HANDLE h =
      CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  const PortHandle handle = reinterpret_cast<PortHandle>(h);
  // INVALID_HANDLE_VALUE is -1, the seam's invalid value; a null handle is no device either.
  if (handle == kInvalidPortHandle || h == nullptr) {
    return kInvalidPortHandle;
  }
  TrackHeldPort(handle);
  return handle;
}

bool PortClearEventMask(PortHandle handle) { return SetCommMask(HandleOf(handle), 0) != 0; }

bool PortSetTimeouts(PortHandle handle, const SerialTimeouts& timeouts) {
  COMMTIMEOUTS c = ToCommTimeouts(timeouts);
  return SetCommTimeouts(HandleOf(handle), &c) != 0;
}

bool PortSetLineSettings(PortHandle handle, const SerialLineSettings& settings,
                         std::string* refusal) {
  DCB dcb = ToDcb(settings);
  if (SetCommState(HandleOf(handle), &dcb) != 0) {
    return true;
  }
  const DWORD error = GetLastError();
  if (refusal != nullptr) {
    *refusal = "line settings refused (error " + std::to_string(error) + ")";
  }
  return false;
}

void PortWrite(PortHandle handle, const std::uint8_t* bytes, std::uint32_t count,
               const SerialTimeouts& /*timeouts: the driver keeps them*/) {
  DWORD written = 0;
  (void)WriteFile(HandleOf(handle), bytes, count, &written, nullptr);
}

std::uint32_t PortRead(PortHandle handle, std::uint8_t* buffer, std::uint32_t capacity,
                       const SerialTimeouts& /*timeouts: the driver keeps them*/) {
  // The count the driver reports is the result, whatever the success flag says.
  DWORD received = 0;
  (void)ReadFile(HandleOf(handle), buffer, capacity, &received, nullptr);
  return received > capacity ? capacity : received;
}

void PortClose(PortHandle handle) {
  ForgetHeldPort(handle);
  // A synchronous handle's close waits for a ReadFile that another thread has pending on it (up
  // to the 5.17 s of a silent read when the window closes mid-transfer): end that read first.
  (void)CancelIoEx(HandleOf(handle), nullptr);
  (void)CloseHandle(HandleOf(handle));
}

void PortReleaseForExit(PortHandle /*handle*/) {
  // The exclusive hold is the handle itself, which the system closes as the process ends; closing
  // it here would end a read another thread has pending and let that thread go on writing.
}

std::string PortDevice(const std::string& name) { return name; }

// The platform seam under CSerialPort: a handle type, the line settings and time-outs as plain
// records, and the few operations one backend library provides: corvanel_serial_posix on Linux,
// corvanel_serial_win32 on Windows, or a fake in their place (tests/fuzz). Exactly one is linked;
// serial/held_ports.h tracks what a backend holds.
//
// Contract:
// - The records are built by portable code (BuildLineSettings, BuildTerminalTimeouts) from zeroed
//   storage, never from a device's current state, so every backend applies the same values.
// - PortOpenExclusive gives kInvalidPortHandle when the device is absent, held by another open,
//   or refused; it says why when the device is there (held by another program, ...), and
//   nothing for an absent one. A scan opens no port that the system knows is absent or a
//   Bluetooth link (whose open pages the remote device for seconds). Each PortSet... reports
//   success; CSerialPort maps the failures to its codes. PortSetLineSettings also says why it
//   failed, in words for the operator and support.
// - PortRead follows the read-completion rule of the time-outs; PortWrite gives up at the write
//   time-out. A time-out is no error: a read gives the bytes it got, 0 when none. A device that
//   is gone (unplugged: every later call fails at once) is told through `lost`, in words, so
//   that nobody retries a dead handle.
#pragma once

#include <cstdint>
#include <string>

// A POSIX file descriptor or a Win32 HANDLE, widened to one integer type; both use -1 as
// their invalid value.
using PortHandle = std::intptr_t;
inline constexpr PortHandle kInvalidPortHandle = -1;

// Line settings, member for member the Win32 device control block, so the Win32 backend copies
// them and the POSIX backend translates them to termios.
struct SerialLineSettings {
  std::uint32_t DCBlength;
  std::uint32_t BaudRate;
  std::uint8_t fBinary;
  std::uint8_t fParity;  // parity checking on input
  std::uint8_t fOutxCtsFlow;
  std::uint8_t fOutxDsrFlow;
  std::uint8_t fDtrControl;  // kDtrControlDisable holds DTR off
  std::uint8_t fDsrSensitivity;
  std::uint8_t fTXContinueOnXoff;
  std::uint8_t fOutX;
  std::uint8_t fInX;
  std::uint8_t fErrorChar;
  std::uint8_t fNull;
  std::uint8_t fRtsControl;  // kRtsControlDisable holds RTS off
  std::uint8_t fAbortOnError;
  std::uint16_t XonLim;
  std::uint16_t XoffLim;
  std::uint8_t ByteSize;
  std::uint8_t Parity;    // kNoParity, kOddParity or kEvenParity
  std::uint8_t StopBits;  // kOneStopBit
  char XonChar;
  char XoffChar;
  char ErrorChar;
  char EofChar;
  char EvtChar;
};

inline constexpr std::uint32_t kDcbLength = 28;  // size of the Win32 record
inline constexpr std::uint8_t kDtrControlDisable = 0;
inline constexpr std::uint8_t kDtrControlEnable = 1;
inline constexpr std::uint8_t kRtsControlDisable = 0;
inline constexpr std::uint8_t kRtsControlEnable = 1;
inline constexpr std::uint8_t kNoParity = 0;
inline constexpr std::uint8_t kOddParity = 1;
inline constexpr std::uint8_t kEvenParity = 2;
inline constexpr std::uint8_t kOneStopBit = 0;
inline constexpr std::uint8_t kTwoStopBits = 2;

// Time-outs in milliseconds, member for member the Win32 COMMTIMEOUTS.
struct SerialTimeouts {
  std::uint32_t ReadIntervalTimeout;  // gap that ends a read once a byte is in; 0: no gap rule
  std::uint32_t ReadTotalTimeoutMultiplier;
  std::uint32_t ReadTotalTimeoutConstant;  // with the multiplier 0 as well: no total limit
  std::uint32_t WriteTotalTimeoutMultiplier;
  std::uint32_t WriteTotalTimeoutConstant;
};

// The line settings of an Open: 8 data bits, one stop bit, the given speed, no flow control,
// DTR and RTS off; parity mode 1 odd, 2 even, anything else none.
SerialLineSettings BuildLineSettings(std::int32_t baudRate, std::int32_t parityMode);
// The fixed time-outs of every port.
SerialTimeouts BuildTerminalTimeouts();

// Backend operations, one implementation per platform.
// The device a port name opens here, for reports and records: the COM mapping (or
// CORVANEL_COM_DIR's entry) on POSIX, the name itself on Windows. Empty when there is none.
std::string PortDevice(const std::string& name);
PortHandle PortOpenExclusive(const char* name, std::string* refusal = nullptr);
bool PortClearEventMask(PortHandle handle);
bool PortSetTimeouts(PortHandle handle, const SerialTimeouts& timeouts);
// Applies the line settings and the DTR and RTS states. On failure `refusal` (when given)
// receives why, as one line that starts with what was refused: "line settings refused: asked
// 230400, got 9600" (a driver that kept another speed), "modem lines refused: ..." and so on.
bool PortSetLineSettings(PortHandle handle, const SerialLineSettings& settings,
                         std::string* refusal = nullptr);
// Hands over up to count bytes; gives up at the write time-out. The time-outs are those the port
// was configured with (a backend whose driver keeps them may ignore the argument).
// `lost` (when given) receives why when the device is gone ("device gone (EIO)"), else stays.
void PortWrite(PortHandle handle, const std::uint8_t* bytes, std::uint32_t count,
               const SerialTimeouts& timeouts, std::string* lost = nullptr);
// One read of at most capacity bytes under the read-completion rule; returns the count received.
// `lost` as for PortWrite.
std::uint32_t PortRead(PortHandle handle, std::uint8_t* buffer, std::uint32_t capacity,
                       const SerialTimeouts& timeouts, std::string* lost = nullptr);
// Releases the device: the exclusive hold ends and the handle is closed. Safe in a signal
// handler (POSIX) and a console control handler (Windows).
void PortClose(PortHandle handle);

// Ends the exclusive hold on the device for a process that is about to end, without closing the
// handle: another thread may be blocked in a read on it, and a closed descriptor number could be
// given to another open at once. The process's end then closes it. Async-signal-safe.
void PortReleaseForExit(PortHandle handle);

// CSerialPort: one COM port for plain, synchronous byte-stream use, and the process-wide
// terminal port through which detection, the download worker and the transfer talk.
//
// Contract:
// - Every call blocks the calling thread until the platform call returns. A read that times out
//   returns a short count (0 when nothing came), never an error; nothing throws.
// - Read ends at the first of: capacity bytes in; 50 ms without a further byte once one is in;
//   10 x capacity + 50 ms since it began. A device that hangs up ends the read at once. A read
//   that reaches a deadline still takes the bytes already waiting, so a thread the scheduler
//   held up does not cut a reply that arrived in time.
// - Open always closes what was open first; a failed Open leaves the port closed.
// - No lock: g_terminalPort and g_replyBuffer are used by one thread at a time (detection on the
//   UI thread, then the worker, kept apart by the order at the start of a download).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "serial/serial_backend.h"

// Port status codes, the result of Open: exactly one is reported, never combined.
enum PortStatus : std::uint16_t {
  PORT_OK = 0,
  PORT_ERR_COMMMASK = 1,   // clearing the device's event mask failed
  PORT_ERR_TIMEOUTS = 2,   // setting the time-outs failed
  PORT_ERR_COMMSTATE = 4,  // setting the line settings failed
  PORT_ERR_CREATE = 8,     // the device cannot be opened (absent, held elsewhere, refused)
  PORT_ERR_NONAME = 16,    // no device name was given
};

// Line settings and time-outs of the terminal link.
inline constexpr std::int32_t kTerminalBaudRate = 230400;
inline constexpr std::int32_t kTerminalParity = 0;           // none
inline constexpr std::size_t kPortNameCapacity = 10;         // "\\.\COM100" exactly
inline constexpr std::uint32_t kReadIntervalTimeoutMs = 50;  // gap that ends a started read
inline constexpr std::uint32_t kReadTotalMultiplierMs = 10;  // per byte asked for
inline constexpr std::uint32_t kReadTotalConstantMs = 50;    // added to the per-byte part
inline constexpr std::uint32_t kWriteTotalMultiplierMs = 10;
inline constexpr std::uint32_t kWriteTotalConstantMs = 40;
inline constexpr std::size_t kReplyBufferSize = 512;  // one read from the terminal

class CSerialPort {
 public:
  CSerialPort();
  ~CSerialPort();
  CSerialPort(const CSerialPort&) = delete;
  CSerialPort& operator=(const CSerialPort&) = delete;

  // Opens and configures the named device ("\\.\COMn" or a device path); see PortStatus.
  // A name longer than kPortNameCapacity is stored cut. A device name ("\\.\...") that long
  // opens nothing (PORT_ERR_CREATE), since the cut name could be another device; a longer
  // device path opens as given.
  std::uint16_t Open(const char* name, std::int32_t baudRate, std::int32_t parityMode);
  void Close();
  // One synchronous write; nothing happens when closed or lost.
  void Write(const std::uint8_t* bytes, std::uint32_t count);
  // One synchronous read of at most capacity bytes; 0 at once when closed or lost.
  std::uint32_t Read(std::uint8_t* buffer, std::uint32_t capacity);
  // Whether the device went away while open (unplugged): from then on the port reads and writes
  // nothing until it is closed; LostText says why ("device gone (EIO)").
  bool Lost() const { return !m_lost.empty(); }
  const std::string& LostText() const { return m_lost; }

  bool IsOpen() const { return m_handle != kInvalidPortHandle; }
  const char* PortName() const { return m_portName; }
  std::int32_t BaudRate() const { return m_baudRate; }
  std::int32_t ParityMode() const { return m_parityMode; }
  // Why the last Open failed although the device is there, for the operator: PORT_ERR_COMMSTATE
  // ("line settings refused: asked 230400, got 9600") or PORT_ERR_CREATE ("held by another
  // program"); empty after any other result.
  const std::string& RefusalText() const { return m_refusal; }

 private:
  char m_portName[kPortNameCapacity + 1];
  std::int32_t m_baudRate;
  std::int32_t m_parityMode;
  PortHandle m_handle;
  std::string m_refusal;
  std::string m_lost;
};

extern CSerialPort g_terminalPort;
extern std::array<std::uint8_t, kReplyBufferSize> g_replyBuffer;

// The terminal-port operations; the rest of the system uses only these.
std::uint16_t OpenTerminalPort(const char* name);  // Open(name, 230400, 0)
void CloseTerminalPort();
void WriteTerminal(const std::uint8_t* bytes, std::uint16_t count);
std::uint16_t ReadTerminal(std::uint8_t* buffer);  // Read(buffer, 512)
bool TerminalPortLost();                           // g_terminalPort.Lost()

// An observer of the terminal port's traffic (a front-end's trace for support). It is called on
// the thread that uses the port, after each successful open, each write and read while the port
// is open (a read with the count it received, 0 included) and each close of an open port; it must
// not use the port itself. `name` is the name the port was opened with. Set it before the port is
// used; null removes it. An open that failed although the device is there (its line settings
// refused, or held by another program) is a Refused event with `name` and the reason's text as
// the bytes (no zero at its end); an absent device is none. A device that goes away while open
// is one Lost event, with its reason likewise, after the read or write that found it gone.
enum class PortEvent : std::uint8_t { Open, Write, Read, Close, Refused, Lost };
using PortObserver = void (*)(PortEvent event, const char* name, const std::uint8_t* bytes,
                              std::uint32_t count);
void SetTerminalPortObserver(PortObserver observer);

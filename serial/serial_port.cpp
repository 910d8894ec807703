// CSerialPort over the platform seam, the terminal port and the reply buffer.
#include "serial/serial_port.h"

#include <atomic>
#include <cstring>

CSerialPort g_terminalPort;
std::array<std::uint8_t, kReplyBufferSize> g_replyBuffer{};

namespace {

constexpr std::uint16_t kXonLimit = 2;   // no effect: input flow control is off
constexpr std::uint16_t kXoffLimit = 4;  // no effect: input flow control is off
constexpr char kXonChar = 0x13;          // no effect: software flow control is off
constexpr char kXoffChar = 0x19;         // no effect: software flow control is off
constexpr std::uint8_t kDataBits = 8;

// Length of name, counting no further than limit.
std::size_t BoundedLength(const char* name, std::size_t limit) {
  std::size_t length = 0;
  while (length < limit && name[length] != '\0') {
    ++length;
  }
  return length;
}

}  // namespace

SerialLineSettings BuildLineSettings(std::int32_t baudRate, std::int32_t parityMode) {
  SerialLineSettings settings;
  std::memset(&settings, 0, sizeof settings);  // every member not set below stays zero
  settings.DCBlength = kDcbLength;
  settings.BaudRate = static_cast<std::uint32_t>(baudRate);
  settings.fBinary = 1;
  const bool odd = parityMode == 1;
  const bool even = parityMode == 2;
  settings.fParity = (odd || even) ? 1 : 0;
  settings.Parity = odd ? kOddParity : (even ? kEvenParity : kNoParity);
  settings.fDtrControl = kDtrControlDisable;
  settings.fRtsControl = kRtsControlDisable;
  settings.XonLim = kXonLimit;
  settings.XoffLim = kXoffLimit;
  settings.ByteSize = kDataBits;
  settings.StopBits = kOneStopBit;
  settings.XonChar = kXonChar;
  settings.XoffChar = kXoffChar;
  return settings;
}

SerialTimeouts BuildTerminalTimeouts() {
  SerialTimeouts timeouts;
  std::memset(&timeouts, 0, sizeof timeouts);
  timeouts.ReadIntervalTimeout = kReadIntervalTimeoutMs;
  timeouts.ReadTotalTimeoutMultiplier = kReadTotalMultiplierMs;
  timeouts.ReadTotalTimeoutConstant = kReadTotalConstantMs;
  timeouts.WriteTotalTimeoutMultiplier = kWriteTotalMultiplierMs;
  timeouts.WriteTotalTimeoutConstant = kWriteTotalConstantMs;
  return timeouts;
}

namespace {
constexpr char kDeviceNamespace[] = "\\\\.\\";  // "\\.\" opens a device by its name
}  // namespace

CSerialPort::CSerialPort()
    : m_portName{}, m_baudRate(0), m_parityMode(0), m_handle(kInvalidPortHandle), m_refusal() {}

CSerialPort::~CSerialPort() { Close(); }

std::uint16_t CSerialPort::Open(const char* name, std::int32_t baudRate, std::int32_t parityMode) {
  // Whatever happens below, the device open before is released first.
  Close();
  m_refusal.clear();
  if (name == nullptr) {
    return PORT_ERR_NONAME;  // the stored name, speed and parity stay as they were
  }

  const std::size_t length = BoundedLength(name, kPortNameCapacity + 1);
  const std::size_t kept = length < kPortNameCapacity ? length : kPortNameCapacity;
  std::memcpy(m_portName, name, kept);
  m_portName[kept] = '\0';
  m_baudRate = baudRate;
  m_parityMode = parityMode;
  const SerialLineSettings settings = BuildLineSettings(m_baudRate, m_parityMode);

  // A device name cut to fit could name another device ("\\.\COM1000" would become COM100):
  // such a name opens nothing. A longer device path ("/dev/ttyUSB0") opens as given.
  const char* open = m_portName;
  if (length > kPortNameCapacity) {
    if (std::strncmp(name, kDeviceNamespace, sizeof kDeviceNamespace - 1) == 0) {
      return PORT_ERR_CREATE;
    }
    open = name;
  }

  const PortHandle handle = PortOpenExclusive(open, &m_refusal);
  if (handle == kInvalidPortHandle) {
    return PORT_ERR_CREATE;
  }

  // Every step is attempted; a later failure replaces the code of an earlier one.
  std::uint16_t result = PORT_OK;
  if (!PortClearEventMask(handle)) {
    result = PORT_ERR_COMMMASK;
  }
  if (!PortSetTimeouts(handle, BuildTerminalTimeouts())) {
    result = PORT_ERR_TIMEOUTS;
  }
  if (!PortSetLineSettings(handle, settings, &m_refusal)) {
    result = PORT_ERR_COMMSTATE;
    if (m_refusal.empty()) {
      m_refusal = "line settings refused";
    }
  }
  if (result != PORT_OK) {
    PortClose(handle);
    return result;
  }
  m_handle = handle;
  return PORT_OK;
}

void CSerialPort::Close() {
  if (m_handle != kInvalidPortHandle) {
    PortClose(m_handle);
  }
  m_handle = kInvalidPortHandle;
  m_lost.clear();
}

void CSerialPort::Write(const std::uint8_t* bytes, std::uint32_t count) {
  if (m_handle == kInvalidPortHandle || bytes == nullptr || Lost()) {
    return;
  }
  PortWrite(m_handle, bytes, count, BuildTerminalTimeouts(), &m_lost);
}

std::uint32_t CSerialPort::Read(std::uint8_t* buffer, std::uint32_t capacity) {
  if (m_handle == kInvalidPortHandle || buffer == nullptr || Lost()) {
    return 0;
  }
  return PortRead(m_handle, buffer, capacity, BuildTerminalTimeouts(), &m_lost);
}

namespace {

std::atomic<PortObserver> g_portObserver{nullptr};
// The name the terminal port was opened with, whole: a device path may be longer than the
// stored port name.
char g_observedName[256] = {};

void Observe(PortEvent event, const std::uint8_t* bytes, std::uint32_t count) {
  const PortObserver observer = g_portObserver.load(std::memory_order_relaxed);
  if (observer != nullptr) {
    observer(event, g_observedName, bytes, count);
  }
}

}  // namespace

void SetTerminalPortObserver(PortObserver observer) { g_portObserver.store(observer); }

std::uint16_t OpenTerminalPort(const char* name) {
  const std::uint16_t result = g_terminalPort.Open(name, kTerminalBaudRate, kTerminalParity);
  const bool observed = result == PORT_OK || result == PORT_ERR_COMMSTATE ||
                        (result == PORT_ERR_CREATE && !g_terminalPort.RefusalText().empty());
  if (observed && g_portObserver.load(std::memory_order_relaxed) != nullptr) {
    std::strncpy(g_observedName, name, sizeof g_observedName - 1);
    if (result == PORT_OK) {
      Observe(PortEvent::Open, nullptr, 0);
    } else {
      const std::string& reason = g_terminalPort.RefusalText();
      Observe(PortEvent::Refused, reinterpret_cast<const std::uint8_t*>(reason.data()),
              static_cast<std::uint32_t>(reason.size()));
    }
  }
  return result;
}

void CloseTerminalPort() {
  const bool wasOpen = g_terminalPort.IsOpen();
  g_terminalPort.Close();
  if (wasOpen) {
    Observe(PortEvent::Close, nullptr, 0);
  }
}

// After a call that found the device gone: the one Lost event, with its reason.
void ObserveLoss(bool lostBefore) {
  if (!lostBefore && g_terminalPort.Lost()) {
    const std::string& reason = g_terminalPort.LostText();
    Observe(PortEvent::Lost, reinterpret_cast<const std::uint8_t*>(reason.data()),
            static_cast<std::uint32_t>(reason.size()));
  }
}

void WriteTerminal(const std::uint8_t* bytes, std::uint16_t count) {
  const bool lostBefore = g_terminalPort.Lost();
  g_terminalPort.Write(bytes, count);
  if (g_terminalPort.IsOpen()) {
    Observe(PortEvent::Write, bytes, count);
    ObserveLoss(lostBefore);
  }
}

bool TerminalPortLost() { return g_terminalPort.Lost(); }

std::uint16_t ReadTerminal(std::uint8_t* buffer) {
  const bool lostBefore = g_terminalPort.Lost();
  const auto count = static_cast<std::uint16_t>(
      g_terminalPort.Read(buffer, static_cast<std::uint32_t>(kReplyBufferSize)));
  if (g_terminalPort.IsOpen()) {
    Observe(PortEvent::Read, buffer, count);
    ObserveLoss(lostBefore);
  }
  return count;
}

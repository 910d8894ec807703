// POSIX backend of the serial port, the port's I/O: the exclusive open (flock, TIOCEXCL and the
// look at /proc of port_holders_posix.cpp), termios for the line, poll() for the read-completion
// rule. Which device a port name opens is com_mapping_posix.cpp's.
//
// The fd is non-blocking with VMIN 0 and VTIME 0, so "no data yet" (EAGAIN) and "the other side
// is gone" (read() == 0, EIO, POLLHUP without POLLIN) are told apart: the first is waited for
// with poll() up to the deadlines, the second ends a read at once instead of spinning on it.
#include "serial/serial_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "serial/com_mapping_posix.h"
#include "serial/held_ports.h"
#include "serial/port_holders_posix.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kHeldElsewhere = "held by another program";

// What the end of a device that went away is called in a trace: "device gone (EIO)".
void TellLost(std::string* lost, int error) {
  if (lost != nullptr && lost->empty()) {
    *lost = std::string("device gone (") + (error == 0 ? "hung up" : strerrorname_np(error)) + ")";
  }
}

struct SpeedEntry {
  std::uint32_t baudRate;
  speed_t speed;
};

constexpr SpeedEntry kSpeeds[] = {
    {1200, B1200},   {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},
    {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
};

int FdOf(PortHandle handle) { return static_cast<int>(handle); }

// Milliseconds from now until deadline, rounded up so that poll() never wakes before it.
int MillisecondsUntil(Clock::time_point deadline) {
  const auto left = deadline - Clock::now();
  if (left <= Clock::duration::zero()) {
    return 0;
  }
  constexpr long long kLongestPollMs = 1000000;  // far beyond any read's total limit
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return ms > kLongestPollMs ? static_cast<int>(kLongestPollMs) : static_cast<int>(ms);
}

// DTR and RTS on or off: 0 when done, else the errno of the refusal. A device without modem
// lines (a pseudo-terminal) refuses the request with ENOTTY or EINVAL; that is no failure, there
// is simply nothing to hold off.
int SetModemLines(int fd, int lines, bool on) {
  if (lines == 0 || ::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &lines) == 0) {
    return 0;
  }
  const int error = errno;
  return error == ENOTTY || error == EINVAL ? 0 : error;
}

// An errno by its name ("ENOTTY"): the words of a refusal are the same in every locale.
std::string ErrnoName(int error) {
  const char* name = ::strerrorname_np(error);
  return name != nullptr ? std::string(name) : "errno " + std::to_string(error);
}

// The termios parts the read-back compares. The terminal layer keeps the raw mode (the input,
// output and local flags, CREAD and CLOCAL) for every driver; the rest of the control flags and
// the speeds are the driver's to take or keep.
constexpr tcflag_t kFormat = CSIZE | PARENB | PARODD;
constexpr tcflag_t kControl = CSTOPB | CRTSCTS | CLOCAL | CREAD;
constexpr tcflag_t kTerminalLayerControl = CLOCAL | CREAD;
constexpr tcflag_t kInput = IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR |
                            ICRNL | IXON | IXANY | IXOFF;
constexpr tcflag_t kLocal = ICANON | ECHO | ECHONL | ISIG | IEXTEN;
constexpr tcflag_t kFlowControl = IXON | IXANY | IXOFF;  // with CRTSCTS of the control flags

bool SameRawMode(const termios& a, const termios& b) {
  return (a.c_iflag & kInput) == (b.c_iflag & kInput) &&
         (a.c_lflag & kLocal) == (b.c_lflag & kLocal) &&
         (a.c_oflag & OPOST) == (b.c_oflag & OPOST) &&
         (a.c_cflag & kTerminalLayerControl) == (b.c_cflag & kTerminalLayerControl);
}

// The driver's part: both speeds and every control flag but those of the terminal layer (HUPCL
// is the terminal layer's as well).
bool SameLine(const termios& a, const termios& b) {
  constexpr tcflag_t kNotLine = kTerminalLayerControl | HUPCL;
  return ::cfgetispeed(&a) == ::cfgetispeed(&b) && ::cfgetospeed(&a) == ::cfgetospeed(&b) &&
         (a.c_cflag & ~kNotLine) == (b.c_cflag & ~kNotLine);
}

std::string SpeedText(speed_t speed) {
  for (const SpeedEntry& entry : kSpeeds) {
    if (entry.speed == speed) {
      return std::to_string(entry.baudRate);
    }
  }
  return "speed code " + std::to_string(speed);
}

// "8N1": data bits, parity, stop bits.
std::string FormatText(const termios& t) {
  const tcflag_t size = t.c_cflag & CSIZE;
  const char bits = size == CS5 ? '5' : size == CS6 ? '6' : size == CS7 ? '7' : '8';
  const char parity = (t.c_cflag & PARENB) == 0 ? 'N' : (t.c_cflag & PARODD) != 0 ? 'O' : 'E';
  return {bits, parity, (t.c_cflag & CSTOPB) != 0 ? '2' : '1'};
}

std::string FlowText(const termios& t) {
  const bool hardware = (t.c_cflag & CRTSCTS) != 0;
  const bool software = (t.c_iflag & kFlowControl) != 0;
  if (hardware && software) {
    return "RTS/CTS and XON/XOFF flow control";
  }
  return hardware ? "RTS/CTS flow control"
                  : (software ? "XON/XOFF flow control" : "no flow control");
}

std::string FlagsText(const termios& t) {
  char text[128];
  std::snprintf(text, sizeof text, "cflag 0x%X iflag 0x%X oflag 0x%X lflag 0x%X",
                static_cast<unsigned>(t.c_cflag), static_cast<unsigned>(t.c_iflag),
                static_cast<unsigned>(t.c_oflag), static_cast<unsigned>(t.c_lflag));
  return text;
}

// What of the request the device did not take, the first difference in the order an operator
// can act on: the speed, the character format, flow control, then the flags themselves.
std::string RefusalText(const termios& asked, const termios& got, bool pseudoTerminal) {
  const std::string refused = "line settings refused: asked ";
  if (::cfgetospeed(&got) != ::cfgetospeed(&asked)) {
    return refused + SpeedText(::cfgetospeed(&asked)) + ", got " + SpeedText(::cfgetospeed(&got));
  }
  if (!pseudoTerminal && FormatText(got) != FormatText(asked)) {
    return refused + FormatText(asked) + ", got " + FormatText(got);
  }
  if (FlowText(got) != FlowText(asked)) {
    return refused + FlowText(asked) + ", got " + FlowText(got);
  }
  return refused + FlagsText(asked) + ", got " + FlagsText(got);
}

// Reads the settings back after a request and judges them (JudgeLineSettings); when they are not
// what was asked, the driver is probed with another speed, and the probe is undone.
std::string ReadBackRefusal(int fd, const termios& asked) {
  termios got;
  struct stat st {};
  if (::tcgetattr(fd, &got) != 0 || ::fstat(fd, &st) != 0) {
    return "line settings refused: reading them back failed (" + ErrnoName(errno) + ")";
  }
  const bool pseudoTerminal = PtySlaveIndex(st.st_rdev) >= 0;
  if (TermiosTaken(asked, got, pseudoTerminal)) {
    return {};
  }
  const termios probe = SpeedProbe(got);
  termios probed;
  if (::tcsetattr(fd, TCSANOW, &probe) != 0 || ::tcgetattr(fd, &probed) != 0) {
    probed = probe;  // a probe that cannot be made tells nothing: the refusal stands
  }
  (void)::tcsetattr(fd, TCSANOW, &got);
  return JudgeLineSettings(asked, got, probed, pseudoTerminal);
}

// A serial port's node with no hardware behind it (the 8250's ports beyond those the machine
// has) opens, yet fails every request with EIO, as a USB device that has gone does: it is absent,
// not a device that refuses the line settings.
bool NoDeviceBehind(int fd) {
  termios t;
  return ::tcgetattr(fd, &t) != 0 && errno == EIO;
}

// Takes what is already waiting, without waiting for more: the last look of a read whose
// deadline has passed. A reading thread that the scheduler held up past its deadline then still
// returns the bytes that arrived in time instead of cutting the reply.
std::uint32_t TakeWaiting(int fd, std::uint8_t* buffer, std::uint32_t room) {
  pollfd p{fd, POLLIN, 0};
  if (room == 0 || ::poll(&p, 1, 0) <= 0 || (p.revents & POLLIN) == 0) {
    return 0;
  }
  const ssize_t n = ::read(fd, buffer, room);
  return n > 0 ? static_cast<std::uint32_t>(n) : 0;
}

}  // namespace

bool LineSettingsToTermios(const SerialLineSettings& settings, termios* out) {
  termios t;
  std::memset(&t, 0, sizeof t);  // raw: no input, output or local processing at all
  bool ok = true;

  t.c_cflag = CLOCAL | CREAD;  // no modem control, no hang-up on close (HUPCL clear)
  // NOLINTBEGIN(readability-magic-numbers): the case labels are the byte sizes themselves
  switch (settings.ByteSize) {
    case 5:
      t.c_cflag |= CS5;
      break;
    case 6:
      t.c_cflag |= CS6;
      break;
    case 7:
      t.c_cflag |= CS7;
      break;
    case 8:
      t.c_cflag |= CS8;
      break;
    default:
      ok = false;
      break;
  }
  // NOLINTEND(readability-magic-numbers)
  switch (settings.Parity) {
    case kNoParity:
      break;
    case kOddParity:
      t.c_cflag |= PARENB | PARODD;
      break;
    case kEvenParity:
      t.c_cflag |= PARENB;
      break;
    default:
      ok = false;
      break;  // mark and space parity are not offered
  }
  if (settings.fParity != 0 && settings.Parity != kNoParity) {
    t.c_iflag |= INPCK;
  }
  switch (settings.StopBits) {
    case kOneStopBit:
      break;
    case kTwoStopBits:
      t.c_cflag |= CSTOPB;
      break;
    default:
      ok = false;
      break;
  }
  if (settings.fOutxCtsFlow != 0 || settings.fOutxDsrFlow != 0 ||
      (settings.fRtsControl != kRtsControlDisable && settings.fRtsControl != kRtsControlEnable) ||
      (settings.fDtrControl != kDtrControlDisable && settings.fDtrControl != kDtrControlEnable)) {
    ok = false;  // hardware handshaking is not offered
  }
  if (settings.fOutX != 0) {
    t.c_iflag |= IXON;
  }
  if (settings.fInX != 0) {
    t.c_iflag |= IXOFF;
  }
  if (settings.fOutX != 0 || settings.fInX != 0) {
    t.c_cc[VSTART] = static_cast<cc_t>(settings.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(settings.XoffChar);
  }
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;

  bool speedFound = false;
  for (const SpeedEntry& entry : kSpeeds) {
    if (entry.baudRate == settings.BaudRate) {
      speedFound = ::cfsetispeed(&t, entry.speed) == 0 && ::cfsetospeed(&t, entry.speed) == 0;
      break;
    }
  }
  *out = t;
  return ok && speedFound;
}

PortHandle PortOpenExclusive(const char* name, std::string* refusal) {
  const std::string path = ResolveDevicePath(name, std::getenv(kComDirVariable));
  if (path.empty()) {
    return kInvalidPortHandle;
  }
  // Non-blocking from the start: opening a modem port must not wait for carrier.
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    // Another program's exclusive mode (TIOCEXCL) keeps all but root out with EBUSY.
    if (errno == EBUSY && refusal != nullptr) {
      *refusal = kHeldElsewhere;
    }
    return kInvalidPortHandle;
  }
  // Tracked before the exclusive flag is set, so an exit on a signal from here on clears it.
  TrackHeldPort(static_cast<PortHandle>(fd));
  // flock holds against every other open, root's included; TIOCEXCL keeps out other
  // programs that do not lock (it does not stop root). A non-tty path refuses TIOCEXCL and
  // then fails in the configuration steps instead.
  const bool absent = NoDeviceBehind(fd);
  if (absent || ::flock(fd, LOCK_EX | LOCK_NB) != 0 || DeviceHeldElsewhere(fd)) {
    if (!absent && refusal != nullptr) {
      *refusal = kHeldElsewhere;
    }
    ForgetHeldPort(static_cast<PortHandle>(fd));
    ::close(fd);
    return kInvalidPortHandle;
  }
  (void)::ioctl(fd, TIOCEXCL);
  // Opening a real UART raises DTR and RTS; drop them at once.
  (void)SetModemLines(fd, TIOCM_DTR | TIOCM_RTS, false);
  return static_cast<PortHandle>(fd);
}

bool PortClearEventMask(PortHandle handle) {
  // No line events are watched: no signal-driven notification on this fd.
  const int fd = FdOf(handle);
  const int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_ASYNC) == 0;
}

bool PortSetTimeouts(PortHandle handle, const SerialTimeouts& /*timeouts*/) {
  // The time-outs themselves are kept by PortRead and PortWrite; the device must hand over what
  // it has at once (VMIN 0, VTIME 0) on a non-blocking fd so that poll() does the timing.
  const int fd = FdOf(handle);
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
    return false;
  }
  termios t;
  if (::tcgetattr(fd, &t) != 0) {
    return false;
  }
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  return ::tcsetattr(fd, TCSANOW, &t) == 0;
}

bool TermiosTaken(const termios& asked, const termios& got, bool pseudoTerminal) {
  const tcflag_t control = pseudoTerminal ? kControl : kControl | kFormat;
  return ::cfgetispeed(&got) == ::cfgetispeed(&asked) &&
         ::cfgetospeed(&got) == ::cfgetospeed(&asked) &&
         (got.c_cflag & control) == (asked.c_cflag & control) &&
         (got.c_iflag & kInput) == (asked.c_iflag & kInput) &&
         (got.c_lflag & kLocal) == (asked.c_lflag & kLocal) &&
         (got.c_oflag & OPOST) == (asked.c_oflag & OPOST);
}

termios SpeedProbe(const termios& current) {
  termios probe = current;
  const speed_t speed = ::cfgetospeed(&current) == B9600 ? B19200 : B9600;
  (void)::cfsetispeed(&probe, speed);
  (void)::cfsetospeed(&probe, speed);
  return probe;
}

std::string JudgeLineSettings(const termios& asked, const termios& got, const termios& probed,
                              bool pseudoTerminal) {
  if (TermiosTaken(asked, got, pseudoTerminal)) {
    return {};
  }
  // A driver that took not even the probe takes no line settings at all.
  if (SameRawMode(asked, got) && SameLine(got, probed)) {
    return {};
  }
  return RefusalText(asked, got, pseudoTerminal);
}

bool PortSetLineSettings(PortHandle handle, const SerialLineSettings& settings,
                         std::string* refusal) {
  const int fd = FdOf(handle);
  std::string why;
  termios asked;
  if (!LineSettingsToTermios(settings, &asked)) {
    why = "line settings refused: asked " + std::to_string(settings.BaudRate) + " " +
          FormatText(asked) + ", which termios does not offer here";
  } else if (::tcsetattr(fd, TCSANOW, &asked) != 0) {
    why = "line settings refused: tcsetattr failed (" + ErrnoName(errno) + ")";
  } else {
    // tcsetattr succeeds when the driver took any part of the request: read it back.
    why = ReadBackRefusal(fd, asked);
  }
  int off = 0;
  int on = 0;
  (settings.fDtrControl == kDtrControlEnable ? on : off) |= TIOCM_DTR;
  (settings.fRtsControl == kRtsControlEnable ? on : off) |= TIOCM_RTS;
  int linesError = SetModemLines(fd, off, false);
  if (linesError == 0) {
    linesError = SetModemLines(fd, on, true);
  }
  if (why.empty() && linesError != 0) {
    why = "modem lines refused: setting DTR and RTS failed (" + ErrnoName(linesError) + ")";
  }
  if (refusal != nullptr) {
    *refusal = why;
  }
  return why.empty();
}

void PortWrite(PortHandle handle, const std::uint8_t* bytes, std::uint32_t count,
               const SerialTimeouts& timeouts, std::string* lost) {
  const int fd = FdOf(handle);
  const std::uint64_t limitMs = std::uint64_t{timeouts.WriteTotalTimeoutMultiplier} * count +
                                timeouts.WriteTotalTimeoutConstant;
  const bool limited =
      timeouts.WriteTotalTimeoutMultiplier != 0 || timeouts.WriteTotalTimeoutConstant != 0;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limitMs);

  std::uint32_t sent = 0;
  while (sent < count) {
    const ssize_t n = ::write(fd, bytes + sent, count - sent);
    if (n > 0) {
      sent += static_cast<std::uint32_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      TellLost(lost, errno);  // EIO, ENODEV, ENXIO after an unplug or a hang-up
      return;
    }
    // The output queue is full: wait for room until the write time-out.
    const int waitMs = limited ? MillisecondsUntil(deadline) : -1;
    if (limited && waitMs == 0) {
      return;
    }
    pollfd p{fd, POLLOUT, 0};
    const int ready = ::poll(&p, 1, waitMs);
    if (ready < 0 && errno != EINTR) {
      return;
    }
    if (ready > 0 && (p.revents & POLLOUT) == 0) {
      TellLost(lost, 0);  // hung up or in error: no room will come
      return;
    }
  }
}

std::uint32_t PortRead(PortHandle handle, std::uint8_t* buffer, std::uint32_t capacity,
                       const SerialTimeouts& timeouts, std::string* lost) {
  if (capacity == 0) {
    return 0;
  }
  const int fd = FdOf(handle);
  const Clock::time_point start = Clock::now();
  const bool totalLimited =
      timeouts.ReadTotalTimeoutMultiplier != 0 || timeouts.ReadTotalTimeoutConstant != 0;
  const Clock::time_point totalDeadline =
      start +
      std::chrono::milliseconds(std::uint64_t{timeouts.ReadTotalTimeoutMultiplier} * capacity +
                                timeouts.ReadTotalTimeoutConstant);
  const std::chrono::milliseconds gap(timeouts.ReadIntervalTimeout);
  const bool gapLimited = timeouts.ReadIntervalTimeout != 0;

  std::uint32_t received = 0;
  Clock::time_point lastByte = start;
  while (received < capacity) {
    // Until the first byte only the total limit counts; then also the gap after the last byte.
    bool limited = totalLimited;
    Clock::time_point deadline = totalDeadline;
    if (received > 0 && gapLimited) {
      const Clock::time_point gapDeadline = lastByte + gap;
      if (!limited || gapDeadline < deadline) {
        deadline = gapDeadline;
      }
      limited = true;
    }
    const int waitMs = limited ? MillisecondsUntil(deadline) : -1;
    if (limited && waitMs == 0) {
      received += TakeWaiting(fd, buffer + received, capacity - received);
      break;
    }
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, waitMs);
    if (ready < 0) {
      if (errno == EINTR) {
        continue;
      }
      break;
    }
    if (ready == 0) {
      continue;  // the loop checks the deadline
    }
    if ((p.revents & POLLIN) == 0) {
      TellLost(lost, 0);  // POLLHUP, POLLERR or POLLNVAL without data: the device is gone
      break;
    }
    const ssize_t n = ::read(fd, buffer + received, capacity - received);
    if (n > 0) {
      received += static_cast<std::uint32_t>(n);
      lastByte = Clock::now();
      continue;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
      continue;
    }
    TellLost(lost, n < 0 ? errno : 0);  // read() == 0 after a readable poll, or EIO: hung up
    break;
  }
  return received;
}

void PortClose(PortHandle handle) {
  ForgetHeldPort(handle);
  const int fd = FdOf(handle);
  // Clear exclusive mode, which outlives this fd while another fd keeps the device open.
  (void)::ioctl(fd, TIOCNXCL);
  ::close(fd);
}

void PortReleaseForExit(PortHandle handle) {
  const int fd = FdOf(handle);
  // Both holds go now; the descriptor itself stays until the process has ended, so a read that
  // another thread has pending on it neither fails nor meets another file under its number.
  (void)::ioctl(fd, TIOCNXCL);
  (void)::flock(fd, LOCK_UN);
}

// CSerialPort and the terminal-port operations against scripted pseudo-terminal devices.
#include "serial/serial_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "pty_harness.h"
#include "tests/support/unprivileged_open.h"

namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

constexpr auto kWaitLimit = 5s;     // bound for conditions that are met at once on a quiet machine
constexpr long long kLateMs = 400;  // slack allowed on a noisy machine for "about" a time

long long MsSince(HarnessClock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(HarnessClock::now() - start).count();
}

double ThreadCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

std::string ComName(int n) { return "\\\\.\\COM" + std::to_string(n); }

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<char>(i % 251);
  }
  return bytes;
}

std::string AllByteValues() {
  std::string bytes(256, '\0');
  for (int i = 0; i < 256; ++i) {
    bytes[static_cast<std::size_t>(i)] = static_cast<char>(i);
  }
  return bytes;
}

std::string AsString(const std::uint8_t* bytes, std::size_t count) {
  return std::string(reinterpret_cast<const char*>(bytes), count);
}

const std::uint8_t* Bytes(const std::string& text) {
  return reinterpret_cast<const std::uint8_t*>(text.data());
}

class SerialPortTest : public ::testing::Test {
 protected:
  void TearDown() override { g_terminalPort.Close(); }

  // Opens name on a fresh port and reports whether that succeeded: the device is then free.
  static bool DeviceIsFree(const std::string& name) {
    CSerialPort probe;
    return probe.Open(name.c_str(), kTerminalBaudRate, kTerminalParity) == PORT_OK;
  }

  CComDir m_dir;
  CSerialPort m_port;
};

// ---- Open, names and status codes ----

TEST_F(SerialPortTest, NewPort_IsClosedWithEmptyNameAndZeroSettings) {
  EXPECT_FALSE(m_port.IsOpen());
  EXPECT_STREQ(m_port.PortName(), "");
  EXPECT_EQ(m_port.BaudRate(), 0);
  EXPECT_EQ(m_port.ParityMode(), 0);
}

TEST_F(SerialPortTest, Open_PresentDevice_ReturnsZeroAndStoresNameAndSettings) {
  CPtyDevice device(m_dir, 5);
  EXPECT_EQ(m_port.Open("\\\\.\\COM5", 230400, 2), PORT_OK);
  EXPECT_TRUE(m_port.IsOpen());
  EXPECT_STREQ(m_port.PortName(), "\\\\.\\COM5");
  EXPECT_EQ(m_port.BaudRate(), 230400);
  EXPECT_EQ(m_port.ParityMode(), 2);
}

TEST_F(SerialPortTest, Open_Com100_KeepsTheWholeTenCharacterName) {
  CPtyDevice device(m_dir, 100);
  ASSERT_EQ(std::strlen("\\\\.\\COM100"), kPortNameCapacity);
  EXPECT_EQ(m_port.Open("\\\\.\\COM100", 230400, 0), PORT_OK);
  EXPECT_STREQ(m_port.PortName(), "\\\\.\\COM100");
}

struct LongNameRow {
  const char* label;
  const char* given;
  const char* stored;
};

class SerialPortLongNameTest : public SerialPortTest,
                               public ::testing::WithParamInterface<LongNameRow> {};

// The cut name would be another device (COM100 for COM1000): nothing is opened.
TEST_P(SerialPortLongNameTest, ElevenOrMoreCharacters_StoresFirstTenAndOpensNothing) {
  CPtyDevice device(m_dir, 100);
  EXPECT_EQ(m_port.Open(GetParam().given, 230400, 0), PORT_ERR_CREATE);
  EXPECT_FALSE(m_port.IsOpen());
  EXPECT_STREQ(m_port.PortName(), GetParam().stored);
  EXPECT_TRUE(DeviceIsFree(ComName(100)));
}

INSTANTIATE_TEST_SUITE_P(
    Names, SerialPortLongNameTest,
    ::testing::Values(LongNameRow{"Com1000", "\\\\.\\COM1000", "\\\\.\\COM100"},
                      LongNameRow{"Com10000", "\\\\.\\COM10000", "\\\\.\\COM100"},
                      LongNameRow{"OtherDevice", "\\\\.\\PHYSICALDRIVE0", "\\\\.\\PHYSIC"}),
    [](const auto& row) { return std::string(row.param.label); });

// A device path is no device name to cut: it opens as given, and only the stored name is cut.
TEST_F(SerialPortTest, LongDevicePath_OpensAsGivenAndStoresFirstTen) {
  CPtyDevice device(m_dir, 7);
  const std::string path = m_dir.EntryPath(7);
  ASSERT_GT(path.size(), 10u);
  EXPECT_EQ(m_port.Open(path.c_str(), 230400, 0), PORT_OK);
  EXPECT_TRUE(m_port.IsOpen());
  EXPECT_EQ(std::string(m_port.PortName()), path.substr(0, 10));
}

TEST_F(SerialPortTest, Open_NoName_Returns16ClosesAndKeepsStoredNameAndSettings) {
  CPtyDevice device(m_dir, 5);
  ASSERT_EQ(m_port.Open("\\\\.\\COM5", 230400, 1), PORT_OK);
  EXPECT_EQ(m_port.Open(nullptr, 9600, 2), PORT_ERR_NONAME);
  EXPECT_FALSE(m_port.IsOpen());
  EXPECT_STREQ(m_port.PortName(), "\\\\.\\COM5");
  EXPECT_EQ(m_port.BaudRate(), 230400);
  EXPECT_EQ(m_port.ParityMode(), 1);
  EXPECT_TRUE(DeviceIsFree(ComName(5)));
}

TEST_F(SerialPortTest, Open_AbsentDevice_Returns8AtOnce) {
  const auto start = HarnessClock::now();
  EXPECT_EQ(m_port.Open("\\\\.\\COM7", 230400, 0), PORT_ERR_CREATE);
  EXPECT_LT(MsSince(start), kLateMs);
  EXPECT_FALSE(m_port.IsOpen());
  EXPECT_STREQ(m_port.PortName(), "\\\\.\\COM7");
}

TEST_F(SerialPortTest, Open_DeviceHeldByAnotherPort_Returns8UntilReleased) {
  CPtyDevice device(m_dir, 5);
  ASSERT_EQ(m_port.Open("\\\\.\\COM5", 230400, 0), PORT_OK);
  CSerialPort second;
  EXPECT_EQ(second.Open("\\\\.\\COM5", 230400, 0), PORT_ERR_CREATE);
  EXPECT_FALSE(second.IsOpen());
  m_port.Close();
  EXPECT_EQ(second.Open("\\\\.\\COM5", 230400, 0), PORT_OK);
}

TEST_F(SerialPortTest, Open_DeviceLockedByAnotherProgram_Returns8) {
  CPtyDevice device(m_dir, 5);
  const int other = ::open(m_dir.EntryPath(5).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(m_port.Open("\\\\.\\COM5", 230400, 0), PORT_ERR_CREATE);
  EXPECT_FALSE(m_port.IsOpen());
  ::close(other);
}

// Another process that holds a device, started with fork: it keeps the fds `keep` open (the
// test closes its own copies) and closes `drop`, and waits to be killed.
class CHolder {
 public:
  CHolder(const std::vector<int>& keep, const std::vector<int>& drop) {
    int ready[2];
    EXPECT_EQ(::pipe(ready), 0);
    m_pid = ::fork();
    if (m_pid == 0) {
      // Only async-signal-safe calls: the test process runs other threads.
      for (const int fd : drop) {
        ::close(fd);
      }
      ::close(ready[0]);
      (void)::write(ready[1], "r", 1);
      for (;;) {
        ::pause();
      }
    }
    ::close(ready[1]);
    char byte = 0;
    EXPECT_EQ(::read(ready[0], &byte, 1), 1);  // the child holds the fds from here on
    ::close(ready[0]);
    for (const int fd : keep) {
      ::close(fd);
    }
  }
  ~CHolder() {
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
  }
  CHolder(const CHolder&) = delete;
  CHolder& operator=(const CHolder&) = delete;

 private:
  pid_t m_pid = -1;
};

// A pseudo-terminal linked as COMn in the test's directory: fds of its master and its slave.
struct Pty {
  int master = -1;
  int slave = -1;
};

Pty MakePty(const CComDir& dir, int comNumber) {
  Pty pty;
  pty.master = ::posix_openpt(O_RDWR | O_NOCTTY);
  EXPECT_GE(pty.master, 0);
  EXPECT_EQ(::grantpt(pty.master), 0);
  EXPECT_EQ(::unlockpt(pty.master), 0);
  const std::string slave = ::ptsname(pty.master);
  pty.slave = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  EXPECT_GE(pty.slave, 0);
  EXPECT_EQ(::symlink(slave.c_str(), dir.EntryPath(comNumber).c_str()), 0);
  return pty;
}

TEST_F(SerialPortTest, Open_DeviceHeldByAProgramWithoutALock_Returns8UntilItLetsGo) {
  const Pty pty = MakePty(m_dir, 5);
  {
    const CHolder program({pty.slave}, {pty.master});  // a terminal program: no lock
    EXPECT_EQ(m_port.Open(ComName(5).c_str(), 230400, 0), PORT_ERR_CREATE);
    EXPECT_FALSE(m_port.IsOpen());
  }
  EXPECT_EQ(m_port.Open(ComName(5).c_str(), 230400, 0), PORT_OK);
  m_port.Close();
  ::close(pty.master);
}

TEST_F(SerialPortTest, Open_DevicesOwnSideInAnotherProcess_DoesNotCount) {
  const Pty pty = MakePty(m_dir, 5);
  const CHolder device({pty.master, pty.slave}, {});  // a simulator: master and slave
  EXPECT_EQ(m_port.Open(ComName(5).c_str(), 230400, 0), PORT_OK);
}

// Root passes TIOCEXCL, so the exclusive flag is tried by the user nobody.
TEST_F(SerialPortTest, OpenPort_KeepsOutOtherUsersUntilClosed) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "becoming nobody needs root";
  }
  CPtyDevice device(m_dir, 5);
  const std::string slave = std::filesystem::canonical(m_dir.EntryPath(5));
  ASSERT_EQ(::chmod(slave.c_str(), 0666), 0);
  ASSERT_EQ(OpenAsNobody(slave), 0);
  ASSERT_EQ(m_port.Open(ComName(5).c_str(), 230400, 0), PORT_OK);
  EXPECT_EQ(OpenAsNobody(slave), EBUSY);
  m_port.Close();
  EXPECT_EQ(OpenAsNobody(slave), 0) << "the exclusive flag outlived the close";
}

TEST_F(SerialPortTest, FailedOpen_LeavesNoPortOpenNotEvenThePreviousOne) {
  CPtyDevice device(m_dir, 5);
  ASSERT_EQ(m_port.Open("\\\\.\\COM5", 230400, 0), PORT_OK);
  EXPECT_EQ(m_port.Open("\\\\.\\COM6", 230400, 0), PORT_ERR_CREATE);
  EXPECT_FALSE(m_port.IsOpen());
  EXPECT_TRUE(DeviceIsFree(ComName(5)));
}

TEST_F(SerialPortTest, Open_WhileOpen_ReleasesTheOldDevice) {
  CPtyDevice five(m_dir, 5);
  CPtyDevice six(m_dir, 6);
  ASSERT_EQ(m_port.Open("\\\\.\\COM5", 230400, 0), PORT_OK);
  EXPECT_EQ(m_port.Open("\\\\.\\COM6", 230400, 0), PORT_OK);
  EXPECT_STREQ(m_port.PortName(), "\\\\.\\COM6");
  EXPECT_TRUE(DeviceIsFree(ComName(5)));
  EXPECT_FALSE(DeviceIsFree(ComName(6)));
}

// A plain file opens, but neither time-outs nor line settings apply: the last failure wins,
// with its reason.
TEST_F(SerialPortTest, Open_FileThatIsNoTerminal_Returns4SaysWhyAndReleasesIt) {
  m_dir.AddPlainFile(7);
  EXPECT_EQ(m_port.Open("\\\\.\\COM7", 230400, 0), PORT_ERR_COMMSTATE);
  EXPECT_EQ(m_port.RefusalText(), "line settings refused: tcsetattr failed (ENOTTY)");
  EXPECT_FALSE(m_port.IsOpen());
  // Released: a second attempt fails the same way, not as a held device.
  EXPECT_EQ(m_port.Open("\\\\.\\COM7", 230400, 0), PORT_ERR_COMMSTATE);
}

// A name that is no COM name is a path as given (here relative, to fit in 10 characters).
TEST_F(SerialPortTest, Open_NameThatIsAPath_OpensThatPath) {
  CPtyDevice device(m_dir, 5);
  const std::filesystem::path cwd = std::filesystem::current_path();
  std::filesystem::current_path(m_dir.Path());
  EXPECT_EQ(m_port.Open("COM5", 230400, 0), PORT_OK);
  std::filesystem::current_path(cwd);
  EXPECT_TRUE(m_port.IsOpen());
  EXPECT_FALSE(DeviceIsFree(ComName(5)));
}

TEST_F(SerialPortTest, Open_ConfiguresRawEightNOneAt230400WithoutFlowControl) {
  CPtyDevice device(m_dir, 5);
  // Start from a cooked, echoing, flow-controlled line to see every flag replaced.
  termios cooked{};
  ASSERT_EQ(::tcgetattr(device.SlaveFd(), &cooked), 0);
  cooked.c_iflag |= ICRNL | IXON | IXOFF;
  cooked.c_oflag |= OPOST | ONLCR;
  cooked.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
  cooked.c_cflag |= HUPCL | CRTSCTS | CSTOPB;
  cooked.c_cc[VMIN] = 1;
  cooked.c_cc[VTIME] = 5;
  cfsetspeed(&cooked, B9600);
  ASSERT_EQ(::tcsetattr(device.SlaveFd(), TCSANOW, &cooked), 0);

  ASSERT_EQ(OpenTerminalPort("\\\\.\\COM5"), PORT_OK);
  termios t{};
  ASSERT_EQ(::tcgetattr(device.SlaveFd(), &t), 0);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B230400));
  EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B230400));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(t.c_cflag & (HUPCL | CRTSCTS | CSTOPB | PARENB), 0u);
  EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | IXON | IXOFF | ISTRIP | INPCK), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_cc[VMIN], 0);
  EXPECT_EQ(t.c_cc[VTIME], 0);
  EXPECT_EQ(g_terminalPort.BaudRate(), kTerminalBaudRate);
  EXPECT_EQ(g_terminalPort.ParityMode(), kTerminalParity);
}

// ---- Closed port, Close ----

TEST_F(SerialPortTest, ClosedPort_ReadReturnsZeroAtOnceAndLeavesTheBuffer) {
  std::vector<std::uint8_t> buffer(64, 0xA5);
  const auto start = HarnessClock::now();
  EXPECT_EQ(m_port.Read(buffer.data(), 64), 0u);
  EXPECT_LT(MsSince(start), kLateMs);
  EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](std::uint8_t b) { return b == 0xA5; }));
}

TEST_F(SerialPortTest, ClosedPort_WriteSendsNothing) {
  CPtyDevice device(m_dir, 5);
  ASSERT_EQ(m_port.Open("\\\\.\\COM5", 230400, 0), PORT_OK);
  m_port.Close();
  m_port.Write(Bytes("lost"), 4);
  ASSERT_EQ(m_port.Open("\\\\.\\COM5", 230400, 0), PORT_OK);
  m_port.Write(Bytes("X"), 1);
  ASSERT_TRUE(device.WaitForReceived(1, kWaitLimit));
  EXPECT_EQ(device.Received(), "X");
}

TEST_F(SerialPortTest, CloseTwice_IsHarmless) {
  CPtyDevice device(m_dir, 5);
  ASSERT_EQ(m_port.Open("\\\\.\\COM5", 230400, 0), PORT_OK);
  m_port.Close();
  m_port.Close();
  EXPECT_FALSE(m_port.IsOpen());
  CloseTerminalPort();
  CloseTerminalPort();
  EXPECT_FALSE(g_terminalPort.IsOpen());
  EXPECT_TRUE(DeviceIsFree(ComName(5)));
}

// ---- Write ----

TEST_F(SerialPortTest, Write_PassesEveryByteValueUnchanged) {
  CPtyDevice device(m_dir, 5);
  ASSERT_EQ(OpenTerminalPort("\\\\.\\COM5"), PORT_OK);
  const std::string bytes = AllByteValues() + Pattern(4096);
  WriteTerminal(Bytes(bytes), static_cast<std::uint16_t>(bytes.size()));
  ASSERT_TRUE(device.WaitForReceived(bytes.size(), kWaitLimit));
  EXPECT_EQ(device.Received(), bytes);
}

// The port's own limit for this many bytes is minutes; through the seam it is 200 ms.
TEST_F(SerialPortTest, Write_DeviceThatStopsReading_GivesUpAtTheWriteTimeout) {
  CPtyDevice device(m_dir, 5);
  device.SetReading(false);
  SerialTimeouts timeouts = BuildTerminalTimeouts();
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = 200;
  const PortHandle handle = PortOpenExclusive(ComName(5).c_str());
  ASSERT_NE(handle, kInvalidPortHandle);
  ASSERT_TRUE(PortSetTimeouts(handle, timeouts));
  ASSERT_TRUE(PortSetLineSettings(handle, BuildLineSettings(230400, 0)));
  const std::string bytes = Pattern(256 * 1024);  // far more than a pty buffers

  const auto start = HarnessClock::now();
  PortWrite(handle, Bytes(bytes), static_cast<std::uint32_t>(bytes.size()), timeouts);
  const long long elapsed = MsSince(start);
  PortClose(handle);

  EXPECT_GE(elapsed, 200);
  EXPECT_LT(elapsed, 200 + 2000);
}

// ---- Read ----

TEST_F(SerialPortTest, Read_PassesEveryByteValueUnchanged) {
  CPtyDevice device(m_dir, 5);
  ASSERT_EQ(OpenTerminalPort("\\\\.\\COM5"), PORT_OK);
  const std::string bytes = AllByteValues();
  device.Run(Reply(bytes));
  std::vector<std::uint8_t> buffer(512, 0);
  std::string got;
  while (got.size() < bytes.size()) {
    const std::uint32_t count = g_terminalPort.Read(buffer.data(), 512);
    if (count == 0) {
      break;
    }
    got += AsString(buffer.data(), count);
  }
  EXPECT_EQ(got, bytes);
}

TEST_F(SerialPortTest, ReadTerminal_BurstOf20_Returns20About50MsAfterItsLastByte) {
  CPtyDevice device(m_dir, 5);
  ASSERT_EQ(OpenTerminalPort("\\\\.\\COM5"), PORT_OK);
  g_replyBuffer.fill(0x5A);
  const std::string burst = "+CGMM: TARVENIX\r\nOK\r";
  ASSERT_EQ(burst.size(), 20u);
  device.Run({DeviceStep{100ms, burst, false}});

  const std::uint16_t count = ReadTerminal(g_replyBuffer.data());
  const auto returned = HarnessClock::now();

  ASSERT_EQ(count, 20);
  EXPECT_EQ(AsString(g_replyBuffer.data(), 20), burst);
  EXPECT_TRUE(std::all_of(g_replyBuffer.begin() + 20, g_replyBuffer.end(),
                          [](std::uint8_t b) { return b == 0x5A; }));
  const auto afterLast =
      std::chrono::duration_cast<milliseconds>(returned - device.LastSendTime()).count();
  EXPECT_GE(afterLast, 50);  // the gap is timed from the last byte, which came after this
  EXPECT_LT(afterLast, 50 + kLateMs);
}

// The pause is 1 s, far beyond the gap: a reader held up that long would rightly take it all.
TEST_F(SerialPortTest, Read_PauseLongerThanTheGap_CutsTheAnswerAndKeepsTheRest) {
  CPtyDevice device(m_dir, 5);
  ASSERT_EQ(OpenTerminalPort("\\\\.\\COM5"), PORT_OK);
  device.Run({DeviceStep{0ms, "+CGMM: ", false}, DeviceStep{1000ms, "TARVENIX\r\n", false}});

  std::uint16_t count = ReadTerminal(g_replyBuffer.data());
  EXPECT_EQ(AsString(g_replyBuffer.data(), count), "+CGMM: ");
  count = ReadTerminal(g_replyBuffer.data());
  EXPECT_EQ(AsString(g_replyBuffer.data(), count), "TARVENIX\r\n");
}

TEST_F(SerialPortTest, ReadTerminal_SenderWithoutPause_EndsEachReadAt512) {
  CPtyDevice device(m_dir, 5);
  ASSERT_EQ(OpenTerminalPort("\\\\.\\COM5"), PORT_OK);
  const std::string stream = Pattern(2000);
  device.Run(Reply(stream));
  ASSERT_TRUE(device.WaitForQueued(1000, kWaitLimit));

  std::string got;
  for (int read = 0; read < 3; ++read) {
    const auto start = HarnessClock::now();
    const std::uint16_t count = ReadTerminal(g_replyBuffer.data());
    EXPECT_EQ(count, 512) << "read " << read;
    EXPECT_LT(MsSince(start), 2000) << "read " << read;
    got += AsString(g_replyBuffer.data(), count);
  }
  const std::uint16_t rest = ReadTerminal(g_replyBuffer.data());
  EXPECT_EQ(rest, 2000 - 3 * 512);
  got += AsString(g_replyBuffer.data(), rest);
  EXPECT_EQ(got, stream);
}

// A full read must not wait for the gap: the fastest of a few tries stays below 50 ms.
TEST_F(SerialPortTest, Read_CapacityReached_ReturnsWithoutWaitingForTheGap) {
  CPtyDevice device(m_dir, 5);
  ASSERT_EQ(m_port.Open("\\\\.\\COM5", 230400, 0), PORT_OK);
  long long fastest = 1000000;
  for (int attempt = 0; attempt < 5; ++attempt) {
    device.Run(Reply("0123456789"));
    ASSERT_TRUE(device.WaitForQueued(10, kWaitLimit));
    std::uint8_t buffer[10] = {};
    const auto start = HarnessClock::now();
    ASSERT_EQ(m_port.Read(buffer, 10), 10u);
    fastest = std::min(fastest, MsSince(start));
    EXPECT_EQ(AsString(buffer, 10), "0123456789");
  }
  EXPECT_LT(fastest, 45);
}

TEST_F(SerialPortTest, ReadTerminal_AnswerStartingLate_IsCaught) {
  CPtyDevice device(m_dir, 5);
  ASSERT_EQ(OpenTerminalPort("\\\\.\\COM5"), PORT_OK);
  device.Run({DeviceStep{400ms, "OK\r\n", false}});
  const auto start = HarnessClock::now();
  const std::uint16_t count = ReadTerminal(g_replyBuffer.data());
  const long long elapsed = MsSince(start);
  EXPECT_EQ(AsString(g_replyBuffer.data(), count), "OK\r\n");
  EXPECT_GE(elapsed, 400);
  EXPECT_LT(elapsed, 5170);
}

struct SilenceRow {
  std::uint32_t capacity;
  long long totalMs;  // 10 x capacity + 50
};

class SerialPortSilenceTest : public SerialPortTest,
                              public ::testing::WithParamInterface<SilenceRow> {};

TEST_P(SerialPortSilenceTest, SilentDevice_ReturnsZeroAtTheTotalLimitWithoutSpinning) {
  CPtyDevice device(m_dir, 5);
  ASSERT_EQ(m_port.Open("\\\\.\\COM5", 230400, 0), PORT_OK);
  std::vector<std::uint8_t> buffer(GetParam().capacity, 0x33);
  const double cpuBefore = ThreadCpuMs();
  const auto start = HarnessClock::now();
  EXPECT_EQ(m_port.Read(buffer.data(), GetParam().capacity), 0u);
  const long long elapsed = MsSince(start);
  const double cpu = ThreadCpuMs() - cpuBefore;
  EXPECT_GE(elapsed, GetParam().totalMs);
  EXPECT_LT(elapsed, GetParam().totalMs + kLateMs);
  EXPECT_LT(cpu, static_cast<double>(GetParam().totalMs) / 4);
  EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](std::uint8_t b) { return b == 0x33; }));
}

INSTANTIATE_TEST_SUITE_P(Capacities, SerialPortSilenceTest,
                         ::testing::Values(SilenceRow{1, 60}, SilenceRow{10, 150},
                                           SilenceRow{30, 350}),
                         [](const auto& row) {
                           return "Capacity" + std::to_string(row.param.capacity);
                         });

// Bytes that never pause for the gap: the total limit (10 x 200 + 50 ms) ends the read. The gap
// is 1 s through the seam and a byte comes every 100 ms, so a device thread that the scheduler
// holds up for a while cannot fake a pause that ends the read early.
TEST_F(SerialPortTest, Read_TrickleThatNeverPauses_EndsAtTheTotalLimit) {
  CPtyDevice device(m_dir, 5);
  SerialTimeouts timeouts = BuildTerminalTimeouts();
  timeouts.ReadIntervalTimeout = 1000;
  const PortHandle handle = PortOpenExclusive(ComName(5).c_str());
  ASSERT_NE(handle, kInvalidPortHandle);
  ASSERT_TRUE(PortSetTimeouts(handle, timeouts));
  DeviceScript trickle(60, DeviceStep{100ms, "t", false});
  device.Run(trickle);
  std::vector<std::uint8_t> buffer(200, 0);
  const auto start = HarnessClock::now();
  const std::uint32_t count = PortRead(handle, buffer.data(), 200, timeouts);
  const long long elapsed = MsSince(start);
  PortClose(handle);
  EXPECT_GT(count, 0u);
  EXPECT_LT(count, 200u);
  EXPECT_GE(elapsed, 2050);
  EXPECT_LT(elapsed, 2050 + kLateMs);
  EXPECT_EQ(AsString(buffer.data(), count), std::string(count, 't'));
}

// ---- A reading thread held up past its deadline ----

// Holds a thread up for as long as the test wishes: a signal whose handler blocks on a pipe until
// the test writes to it. read() is async-signal-safe.
class CThreadHolder {
 public:
  CThreadHolder() {
    EXPECT_EQ(::pipe(s_pipe), 0);
    struct sigaction action {};
    action.sa_handler = [](int) {
      char byte = 0;
      while (::read(s_pipe[0], &byte, 1) < 0 && errno == EINTR) {
      }
    };
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: the held thread's poll() returns EINTR afterwards
    EXPECT_EQ(::sigaction(SIGUSR1, &action, &m_old), 0);
  }
  ~CThreadHolder() {
    ::sigaction(SIGUSR1, &m_old, nullptr);
    ::close(s_pipe[0]);
    ::close(s_pipe[1]);
  }
  CThreadHolder(const CThreadHolder&) = delete;
  CThreadHolder& operator=(const CThreadHolder&) = delete;

  static void Hold(pthread_t thread) { EXPECT_EQ(::pthread_kill(thread, SIGUSR1), 0); }
  static void Release() {
    const char byte = 1;
    EXPECT_EQ(::write(s_pipe[1], &byte, 1), 1);
  }

 private:
  static inline int s_pipe[2] = {-1, -1};
  struct sigaction m_old {};
};

// Which deadline the reading thread is held up past.
enum class HeldPast { Gap, Total };

struct HeldRow {
  const char* name;
  HeldPast past;
};
void PrintTo(const HeldRow& row, std::ostream* os) { *os << row.name; }

class SerialHeldReaderTest : public SerialPortTest,
                             public ::testing::WithParamInterface<HeldRow> {};

// The reply arrives in time, in two pieces, while the reading thread is held up beyond the
// deadline; the read still returns all of it. The deadline is 1 s through the seam, so that the
// test thread has ample time to hold the reader before it would end on its own.
TEST_P(SerialHeldReaderTest, ReplyThatArrivedInTime_ComesBackWhole) {
  constexpr std::uint32_t kDeadlineMs = 1000;
  const bool gap = GetParam().past == HeldPast::Gap;
  const SerialTimeouts timeouts{gap ? kDeadlineMs : 50, 0, gap ? 60000 : kDeadlineMs, 10, 40};
  CPtyDevice device(m_dir, 5);
  const PortHandle handle = PortOpenExclusive(ComName(5).c_str());
  ASSERT_NE(handle, kInvalidPortHandle);
  ASSERT_TRUE(PortSetTimeouts(handle, timeouts));
  ASSERT_TRUE(PortSetLineSettings(handle, BuildLineSettings(230400, 0)));
  const CThreadHolder holder;

  std::vector<std::uint8_t> buffer(512, 0);
  std::atomic<bool> reading{false};
  std::uint32_t count = 0;
  std::thread reader([&] {
    reading = true;
    count = PortRead(handle, buffer.data(), 512, timeouts);
  });
  while (!reading) {
    std::this_thread::sleep_for(1ms);
  }
  HarnessClock::time_point deadlinePassed;
  if (gap) {
    // The reader takes the first piece, then is held up while the second arrives.
    device.Run(Reply("+CGMM: "));
    ASSERT_TRUE(device.WaitForStepsDone(kWaitLimit));
    std::this_thread::sleep_for(50ms);  // time for the pty to pass the piece on
    const auto taken = HarnessClock::now() + kWaitLimit;
    int queued = 1;
    while ((::ioctl(device.SlaveFd(), FIONREAD, &queued) != 0 || queued > 0) &&
           HarnessClock::now() < taken) {
      std::this_thread::sleep_for(1ms);
    }
    ASSERT_EQ(queued, 0) << "the reader never took the first piece";
    deadlinePassed = HarnessClock::now() + milliseconds(kDeadlineMs);
    CThreadHolder::Hold(reader.native_handle());
  } else {
    // The reader is held up while it waits for the first byte, and the reply arrives.
    std::this_thread::sleep_for(20ms);
    deadlinePassed = HarnessClock::now() + milliseconds(kDeadlineMs);
    CThreadHolder::Hold(reader.native_handle());
    device.Run(Reply("+CGMM: "));
  }
  device.Run({DeviceStep{10ms, "TARVENIX\r\n", false}});
  ASSERT_TRUE(device.WaitForStepsDone(kWaitLimit));
  ASSERT_TRUE(device.WaitForQueued(gap ? 10 : 17, kWaitLimit));
  std::this_thread::sleep_until(deadlinePassed + 100ms);
  CThreadHolder::Release();
  reader.join();
  PortClose(handle);

  EXPECT_EQ(AsString(buffer.data(), count), "+CGMM: TARVENIX\r\n");
}

INSTANTIATE_TEST_SUITE_P(Deadlines, SerialHeldReaderTest,
                         ::testing::Values(HeldRow{"Gap", HeldPast::Gap},
                                           HeldRow{"Total", HeldPast::Total}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(SerialPortTest, ReadTerminal_HangUpMidRead_ReturnsPromptlyAndLaterReadsReturnZeroAtOnce) {
  CPtyDevice device(m_dir, 5);
  ASSERT_EQ(OpenTerminalPort("\\\\.\\COM5"), PORT_OK);
  device.Run({DeviceStep{150ms, "", true}});

  const auto start = HarnessClock::now();
  EXPECT_EQ(ReadTerminal(g_replyBuffer.data()), 0);
  EXPECT_LT(MsSince(start), 150 + 1000);  // far from the 5,170 ms of a silent device

  for (int later = 0; later < 3; ++later) {
    const double cpuBefore = ThreadCpuMs();
    const auto again = HarnessClock::now();
    EXPECT_EQ(ReadTerminal(g_replyBuffer.data()), 0);
    EXPECT_LT(MsSince(again), kLateMs);  // not a read time-out
    EXPECT_LT(ThreadCpuMs() - cpuBefore, 50.0);
  }
  const auto write = HarnessClock::now();
  WriteTerminal(Bytes("AT\r\n"), 4);
  EXPECT_LT(MsSince(write), kLateMs);  // not the write time-out
  // The device is gone for good.
  EXPECT_EQ(OpenTerminalPort("\\\\.\\COM5"), PORT_ERR_CREATE);
}

}  // namespace

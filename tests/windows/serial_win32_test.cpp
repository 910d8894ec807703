// CSerialPort over the Win32 backend where no terminal is needed: ports without a device, the
// closed port, and a device that opens but is no serial port (every configuration step is
// attempted and the last failure is the one reported).
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>

#include "serial/serial_port.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// No port without a device waits; far below any read time-out.
constexpr milliseconds kAtOnce{1000};

// COM numbers that neither Windows nor Wine give a device in the test runs.
constexpr const char* kAbsentPort = "\\\\.\\COM77";
constexpr const char* kAbsentLastPort = "\\\\.\\COM100";

TEST(SerialWin32Test, OpenWithoutDevice_Returns8AtOnceAndStaysClosed) {
  for (const char* name : {kAbsentPort, kAbsentLastPort}) {
    CSerialPort port;
    const auto start = Clock::now();
    EXPECT_EQ(port.Open(name, kTerminalBaudRate, kTerminalParity), PORT_ERR_CREATE) << name;
    EXPECT_LT(Clock::now() - start, kAtOnce) << name;
    EXPECT_FALSE(port.IsOpen()) << name;
    EXPECT_STREQ(port.PortName(), name);
  }
}

TEST(SerialWin32Test, BackendOpenWithoutDevice_GivesTheInvalidHandle) {
  EXPECT_EQ(PortOpenExclusive(kAbsentPort), kInvalidPortHandle);
}

TEST(SerialWin32Test, OpenWithNoName_Returns16AndKeepsTheStoredName) {
  CSerialPort port;
  ASSERT_EQ(port.Open(kAbsentPort, 9600, 2), PORT_ERR_CREATE);
  EXPECT_EQ(port.Open(nullptr, kTerminalBaudRate, kTerminalParity), PORT_ERR_NONAME);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_STREQ(port.PortName(), kAbsentPort);
  EXPECT_EQ(port.BaudRate(), 9600);
  EXPECT_EQ(port.ParityMode(), 2);
}

TEST(SerialWin32Test, OverlongName_IsStoredCutAndOpensNothing) {
  CSerialPort port;
  EXPECT_EQ(port.Open("\\\\.\\COM1000", kTerminalBaudRate, kTerminalParity), PORT_ERR_CREATE);
  EXPECT_STREQ(port.PortName(), "\\\\.\\COM100");
  EXPECT_FALSE(port.IsOpen());
}

// The null device opens like a file but refuses every serial request: all three steps are
// attempted and the line settings, the last of them, give the code.
TEST(SerialWin32Test, DeviceThatIsNoSerialPort_Returns4AndStaysClosed) {
  const HANDLE probe = CreateFileA("\\\\.\\NUL", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
  if (reinterpret_cast<PortHandle>(probe) == kInvalidPortHandle) {
    GTEST_SKIP() << "no null device to open here";
  }
  CloseHandle(probe);
  CSerialPort port;
  EXPECT_EQ(port.Open("\\\\.\\NUL", kTerminalBaudRate, kTerminalParity), PORT_ERR_COMMSTATE);
  EXPECT_EQ(port.RefusalText().rfind("line settings refused (error ", 0), 0u) << port.RefusalText();
  EXPECT_FALSE(port.IsOpen());
  // Closed again: the device can be opened exclusively by someone else at once.
  const HANDLE again = CreateFileA("\\\\.\\NUL", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(reinterpret_cast<PortHandle>(again), kInvalidPortHandle);
  CloseHandle(again);
}

TEST(SerialWin32Test, ReadOnClosedPort_Returns0AtOnceAndLeavesTheBuffer) {
  CSerialPort port;
  std::array<std::uint8_t, kReplyBufferSize> buffer;
  buffer.fill(0xA5);
  const auto start = Clock::now();
  EXPECT_EQ(port.Read(buffer.data(), static_cast<std::uint32_t>(buffer.size())), 0u);
  EXPECT_LT(Clock::now() - start, kAtOnce);
  EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](std::uint8_t b) { return b == 0xA5; }));
}

TEST(SerialWin32Test, WriteAndCloseOnClosedPort_AreHarmless) {
  CSerialPort port;
  const std::uint8_t bytes[] = {'A', 'T', '\r', '\n'};
  port.Write(bytes, sizeof bytes);
  port.Close();
  port.Close();
  EXPECT_FALSE(port.IsOpen());
}

TEST(SerialWin32Test, TerminalPortWithoutDevice_ReadsNothing) {
  EXPECT_EQ(OpenTerminalPort(kAbsentPort), PORT_ERR_CREATE);
  g_replyBuffer.fill(0x5A);
  EXPECT_EQ(ReadTerminal(g_replyBuffer.data()), 0u);
  EXPECT_EQ(g_replyBuffer[0], 0x5A);
  CloseTerminalPort();
  EXPECT_FALSE(g_terminalPort.IsOpen());
}

}  // namespace

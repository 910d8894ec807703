// CSerialPort over the Win32 backend where no terminal is needed: ports without a device, the
// closed port, and a device that opens but is no serial port (every configuration step is
// attempted and the last failure is the one reported). Then the backend over a fake driver that
// does what real Windows drivers do and Wine does not: Bluetooth links and unknown COM names,
// a port held by another program, usbser.sys without line coding (error 31), a UART refusing
// 230400 (error 87), and an unplug that fails every call.
#include "serial/serial_win32.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "download/control_ids.h"
#include "download/download_worker.h"
#include "download/window_link.h"
#include "protocol/failure_detail.h"
#include "serial/serial_port.h"
#include "serial/terminal_detection.h"
#include "tests/support/recording_link.h"

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
  EXPECT_EQ(port.RefusalText().rfind("line settings refused: asked 230400 (error ", 0), 0u)
      << port.RefusalText();
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

// A fake driver: the COM names the system knows (with their device objects), what opening and
// setting each does, and when the device goes away. One test at a time uses it.
struct FakeDriver {
  std::map<std::string, std::string> objects;  // "COM7" -> "\Device\USBSER000"
  std::map<std::string, DWORD> openErrors;     // a name's open fails with this
  DWORD stateError = 0;                        // SetCommState fails with this
  DWORD lostError = 0;                         // reads and writes fail with this
  bool lostAtFirstFrame = false;               // a terminal until the handset's first frame
  std::string lastWrite;                       // what the terminal was asked last
  std::vector<std::string> opened;
  std::vector<DWORD> escapes;
  int reads = 0, writes = 0;
};
FakeDriver* g_fake = nullptr;
HANDLE FakeHandle() { return reinterpret_cast<HANDLE>(std::intptr_t{0x4242}); }

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

const CommCalls kFakeCalls = {
    [](const char* name) {
      const std::string device(name + 4);  // after "\\.\"
      g_fake->opened.push_back(device);
      const auto error = g_fake->openErrors.find(device);
      if (error != g_fake->openErrors.end()) {
        SetLastError(error->second);
        return INVALID_HANDLE_VALUE;
      }
      return FakeHandle();
    },
    [](const char* device, char* target, DWORD size) -> DWORD {
      const auto it = g_fake->objects.find(device);
      if (it == g_fake->objects.end() || it->second.size() + 2 > size) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
      }
      std::memcpy(target, it->second.c_str(), it->second.size() + 1);
      target[it->second.size() + 1] = '\0';
      return static_cast<DWORD>(it->second.size() + 2);
    },
    [](HANDLE, DWORD) -> BOOL { return TRUE; },
    [](HANDLE, COMMTIMEOUTS*) -> BOOL { return TRUE; },
    [](HANDLE, DCB*) -> BOOL { return g_fake->stateError != 0 ? Fail(g_fake->stateError) : TRUE; },
    [](HANDLE, DWORD function) -> BOOL {
      g_fake->escapes.push_back(function);
      return TRUE;
    },
    [](HANDLE, void* buffer, DWORD capacity, DWORD* received) -> BOOL {
      ++g_fake->reads;
      *received = 0;
      if (g_fake->lostError != 0) {
        return Fail(g_fake->lostError);
      }
      // A terminal's answers, as the simulator gives them.
      const std::string& asked = g_fake->lastWrite;
      const std::string answer = asked == "AT+CGMM\r\n"   ? "\r\nTARVENIX-9505\r\n\r\nOK\r\n"
                                 : asked == "AT\r\n"      ? "\r\nOK\r\n"
                                 : asked == "ATD**60\r\n" ? "\r\nCONNECT 9600\r\n"
                                                          : "";
      *received = std::min<DWORD>(capacity, static_cast<DWORD>(answer.size()));
      std::memcpy(buffer, answer.data(), *received);
      return TRUE;
    },
    [](HANDLE, const void* bytes, DWORD count, DWORD* written) -> BOOL {
      ++g_fake->writes;
      g_fake->lastWrite.assign(static_cast<const char*>(bytes), count);
      if (g_fake->lostAtFirstFrame && count > 0 && g_fake->lastWrite[0] == '\x7E') {
        g_fake->lostError = ERROR_DEVICE_REMOVED;  // unplugged as the transfer begins
      }
      *written = g_fake->lostError != 0 ? 0 : count;
      return g_fake->lostError != 0 ? Fail(g_fake->lostError) : TRUE;
    },
    [](HANDLE) -> BOOL { return TRUE; },
    [](HANDLE) -> BOOL { return TRUE; },
};

class FakeDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_fake = &m_driver;
    SetCommCalls(&kFakeCalls);
  }
  void TearDown() override {
    CloseTerminalPort();
    SetCommCalls(nullptr);
    g_fake = nullptr;
  }
  FakeDriver m_driver;
};

// The scan opens neither a Bluetooth link (whose open pages the remote device for seconds) nor
// a COM name the system does not know: the USB terminal is the one port it opens.
TEST_F(FakeDriverTest, Scan_OpensNoBluetoothLinkAndNoUnknownPort) {
  m_driver.objects = {{"COM5", "\\Device\\BthModem0"}, {"COM7", "\\Device\\USBSER000"}};
  EXPECT_EQ(DetectTerminal(), DETECT_FOUND);
  EXPECT_EQ(m_driver.opened, (std::vector<std::string>{"COM7"}));
}

// What each driver's refusal makes of an open: the code and the words detect and the trace give.
struct RefusalRow {
  const char* name;
  const char* object;
  DWORD openError, stateError;
  std::uint16_t code;
  const char* refusal;  // empty: none
  std::vector<DWORD> escapes;
};
void PrintTo(const RefusalRow& row, std::ostream* os) { *os << row.name; }

class FakeRefusalTest : public FakeDriverTest, public ::testing::WithParamInterface<RefusalRow> {};

TEST_P(FakeRefusalTest, OpenEndsAsTheDriverDecides) {
  const RefusalRow& row = GetParam();
  m_driver.objects = {{"COM7", row.object}};
  if (row.openError != 0) m_driver.openErrors["COM7"] = row.openError;
  m_driver.stateError = row.stateError;
  EXPECT_EQ(OpenTerminalPort("\\\\.\\COM7"), row.code);
  EXPECT_EQ(g_terminalPort.RefusalText(), row.refusal);
  EXPECT_EQ(g_terminalPort.IsOpen(), row.code == PORT_OK);
  EXPECT_EQ(m_driver.escapes, row.escapes);
}

INSTANTIATE_TEST_SUITE_P(
    Drivers, FakeRefusalTest,
    ::testing::Values(RefusalRow{"HeldElsewhere",
                                 "\\Device\\USBSER000",
                                 ERROR_ACCESS_DENIED,
                                 0,
                                 PORT_ERR_CREATE,
                                 "held by another program",
                                 {}},
                      RefusalRow{"UsbCdcWithoutLineCoding",
                                 "\\Device\\USBSER000",
                                 0,
                                 ERROR_GEN_FAILURE,
                                 PORT_OK,
                                 "",
                                 {CLRDTR, CLRRTS}},
                      RefusalRow{"UartRefusing230400",
                                 "\\Device\\Serial0",
                                 0,
                                 ERROR_INVALID_PARAMETER,
                                 PORT_ERR_COMMSTATE,
                                 "line settings refused: asked 230400 (error 87)",
                                 {}},
                      RefusalRow{"UartFailing",
                                 "\\Device\\Serial0",
                                 0,
                                 ERROR_GEN_FAILURE,
                                 PORT_ERR_COMMSTATE,
                                 "line settings refused: asked 230400 (error 31)",
                                 {}}),
    [](const ::testing::TestParamInfo<RefusalRow>& param) {
      return std::string(param.param.name);
    });

// An unplugged device fails every call at once: the port is lost at the first failure, says
// why, and is not called again until it is closed.
TEST_F(FakeDriverTest, Unplug_LosesThePortAtTheFirstFailedCall) {
  m_driver.objects = {{"COM7", "\\Device\\USBSER000"}};
  ASSERT_EQ(OpenTerminalPort("\\\\.\\COM7"), PORT_OK);
  m_driver.lostError = ERROR_DEVICE_REMOVED;
  EXPECT_EQ(ReadTerminal(g_replyBuffer.data()), 0u);
  EXPECT_TRUE(TerminalPortLost());
  EXPECT_EQ(g_terminalPort.LostText(), "device gone (error 1617)");
  const std::uint8_t at[] = {'A', 'T', '\r', '\n'};
  WriteTerminal(at, sizeof at);
  EXPECT_EQ(ReadTerminal(g_replyBuffer.data()), 0u);
  EXPECT_EQ(m_driver.reads, 1);
  EXPECT_EQ(m_driver.writes, 0);
}

DownloadReport g_report;

// The whole download as the Download button starts it, with the terminal unplugged as the
// transfer begins: it ends at once, at the first attempt, as a lost port (not a silent handset),
// and nothing more is written to the dead handle.
TEST_F(FakeDriverTest, UnplugAsTheTransferBegins_EndsAtOnceAsPortLost) {
  m_driver.objects = {{"COM7", "\\Device\\USBSER000"}};
  m_driver.lostAtFirstFrame = true;
  SetDetectionPort("\\\\.\\COM7");
  const std::string image = (std::filesystem::temp_directory_path() / "corvanel-fake.ldr").string();
  std::FILE* file = std::fopen(image.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fputs("LDR image", file);
  std::fclose(file);
  CRecordingLink link;
  SetMainWindowLink(&link);
  SetDownloadReportHook([](const DownloadReport& report) { g_report = report; });
  std::thread worker;
  SetWorkerStarter([&worker](std::function<void()> body) {
    worker = std::thread(std::move(body));
    return true;
  });
  link.Type(IDC_PATH, image);
  StartDownload();
  worker.join();
  SetWorkerStarter(nullptr);
  SetDownloadReportHook(nullptr);
  SetMainWindowLink(nullptr);
  SetDetectionPort(nullptr);
  std::remove(image.c_str());

  EXPECT_EQ(g_report.outcome, DownloadOutcome::TransferFailed);
  EXPECT_EQ(g_report.failure.stage, DownloadStage::Begin);
  EXPECT_EQ(g_report.failure.attempt, 1u);
  EXPECT_EQ(g_report.failure.reason, FailureReason::PortLost);
  EXPECT_EQ(m_driver.lastWrite[0], '\x7E');  // the begin request was the last thing written
  EXPECT_FALSE(g_terminalPort.IsOpen());
}

}  // namespace

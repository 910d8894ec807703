// The serial port, detection and a download on real Win32 COM ports, against simulated devices
// that scripts/test-windows runs behind Wine COM ports (or any devices answering the same way).
//
// CORVANEL_PROBE_COM=N names the first of six consecutive COM ports:
//   N+0  answers "AT\r\n" with 20 bytes in one burst ("\r\n0123456789ABCDEF\r\n")
//   N+1  answers "AT\r\n" with "\r\nFIRST|SECOND\r\n", pausing 1000 ms after its 7th byte
//   N+2  does not answer "AT\r\n"
//   N+3  answers "AT\r\n" with "\r\nOK\r\n" 1000 ms late
//   N+4  answers "AT\r\n" with 600 bytes at once
//   N+5  a terminal with its handset: found by detection, takes the download
// N+0 to N+4 answer "AT+CGMM\r\n" and "AT+GMI\r\n" with "\r\nERROR\r\n", and the ports below N
// hold no device, so detection finds N+5 in its first pass. CORVANEL_PROBE_IMAGE is the file
// to download (the runner compares it with what the handset received).
// Each read's measured time is printed as "probe: ..." for the runner's report.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "download/control_ids.h"
#include "download/download_worker.h"
#include "download/fine_timer.h"
#include "download/messages.h"
#include "download/window_link.h"
#include "serial/serial_port.h"
#include "serial/terminal_detection.h"
#include "tests/support/recording_link.h"
#include "tests/windows/under_wine.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kBurstOffset = 0;
constexpr int kCutOffset = 1;
constexpr int kSilentOffset = 2;
constexpr int kLateOffset = 3;
constexpr int kStreamOffset = 4;
constexpr int kTerminalOffset = 5;

constexpr std::uint8_t kFill = 0xA5;  // marks reply-buffer bytes that no read has written
constexpr std::int64_t kGapMs = 50;   // ReadIntervalTimeout
constexpr std::int64_t kSilentReadMs = 10 * 512 + 50;
constexpr std::int64_t kDevicePauseMs = 1000;  // the cut and late devices' pause
// Timer slack allowed below a limit the driver must wait out (it rounds to its clock tick).
constexpr std::int64_t kEarlySlackMs = 20;
// Generous upper margins: two shared, noisy cores, Wine and the simulator in between.
constexpr std::int64_t kLateMarginMs = 1500;
constexpr milliseconds kDownloadDeadline{120000};

int BasePort() {
  const char* value = std::getenv("CORVANEL_PROBE_COM");
  return value == nullptr ? 0 : std::atoi(value);
}

std::string PortName(int offset) { return "\\\\.\\COM" + std::to_string(BasePort() + offset); }

std::int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

struct Reply {
  std::uint32_t count = 0;
  std::int64_t ms = 0;  // from the write to the end of the read
  std::string text;     // the first count bytes
};

const std::uint8_t kAt[] = {'A', 'T', '\r', '\n'};

// One terminal-port read, timed from `start`.
Reply ReadOnce(Clock::time_point start) {
  Reply r;
  r.count = ReadTerminal(g_replyBuffer.data());
  r.ms = MsSince(start);
  r.text.assign(reinterpret_cast<const char*>(g_replyBuffer.data()), r.count);
  return r;
}

Reply SendAtAndRead() {
  const auto start = Clock::now();
  WriteTerminal(kAt, sizeof kAt);
  return ReadOnce(start);
}

void Report(const char* what, const Reply& r) {
  std::printf("probe: %s: %u bytes in %lld ms\n", what, static_cast<unsigned>(r.count),
              static_cast<long long>(r.ms));
  std::fflush(stdout);
}

class SerialProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (BasePort() <= kFirstCandidatePort) {
      std::printf("serial probe: no terminal ports given (CORVANEL_PROBE_COM)\n");
      GTEST_SKIP() << "CORVANEL_PROBE_COM is not set";
    }
    g_replyBuffer.fill(kFill);
  }
  void TearDown() override { CloseTerminalPort(); }

  void OpenPort(int offset) {
    ASSERT_EQ(OpenTerminalPort(PortName(offset).c_str()), PORT_OK) << PortName(offset);
  }
};

TEST_F(SerialProbeTest, Burst_Returns20BytesAbout50msAfterTheLastAndLeavesTheRestOfTheBuffer) {
  OpenPort(kBurstOffset);
  const Reply r = SendAtAndRead();
  Report("burst", r);
  EXPECT_EQ(r.text, "\r\n0123456789ABCDEF\r\n");
  EXPECT_GE(r.ms, kGapMs - kEarlySlackMs);
  EXPECT_LT(r.ms, kGapMs + kLateMarginMs);
  EXPECT_TRUE(std::all_of(g_replyBuffer.begin() + 20, g_replyBuffer.end(),
                          [](std::uint8_t b) { return b == kFill; }));
}

TEST_F(SerialProbeTest, AnswerThatPauses_IsCutAtThePauseAndTheRestComesWithTheNextRead) {
  OpenPort(kCutOffset);
  const Reply first = SendAtAndRead();
  Report("cut, first read", first);
  EXPECT_EQ(first.text, "\r\nFIRST");
  // Cut by the 50 ms gap, well before the device's pause ends.
  EXPECT_LT(first.ms, kDevicePauseMs - 100);
  const Reply rest = ReadOnce(Clock::now());
  Report("cut, second read", rest);
  EXPECT_EQ(rest.text, "|SECOND\r\n");
}

TEST_F(SerialProbeTest, SilentDevice_Returns0AfterAbout5170ms) {
  OpenPort(kSilentOffset);
  const Reply r = SendAtAndRead();
  Report("silence", r);
  EXPECT_EQ(r.count, 0u);
  EXPECT_GE(r.ms, kSilentReadMs - kEarlySlackMs);
  EXPECT_LT(r.ms, kSilentReadMs + kLateMarginMs);
  EXPECT_EQ(g_replyBuffer[0], kFill);
}

// The 50 ms gap is timed only once a byte is in: a late answer is still caught.
TEST_F(SerialProbeTest, LateAnswer_IsCaughtWhole) {
  OpenPort(kLateOffset);
  const Reply r = SendAtAndRead();
  Report("late answer", r);
  EXPECT_EQ(r.text, "\r\nOK\r\n");
  EXPECT_GE(r.ms, kDevicePauseMs - kEarlySlackMs);
  EXPECT_LT(r.ms, kDevicePauseMs + kLateMarginMs);
}

TEST_F(SerialProbeTest, LongAnswer_ReadEndsAt512BytesAndTheRestWaits) {
  OpenPort(kStreamOffset);
  const Reply first = SendAtAndRead();
  Report("600-byte answer, first read", first);
  EXPECT_EQ(first.count, kReplyBufferSize);
  EXPECT_LT(first.ms, kLateMarginMs);
  const Reply rest = ReadOnce(Clock::now());
  Report("600-byte answer, second read", rest);
  EXPECT_EQ(rest.count, 600u - kReplyBufferSize);
}

// What the device was given, read back through the system: the line settings member by member
// and the time-outs.
TEST_F(SerialProbeTest, OpenPort_ReadsBackTheLineSettingsAndTimeouts) {
  const std::string name = PortName(kBurstOffset);
  const PortHandle handle = PortOpenExclusive(name.c_str());
  ASSERT_NE(handle, kInvalidPortHandle);
  EXPECT_TRUE(PortClearEventMask(handle));
  EXPECT_TRUE(PortSetTimeouts(handle, BuildTerminalTimeouts()));
  EXPECT_TRUE(PortSetLineSettings(handle, BuildLineSettings(kTerminalBaudRate, kTerminalParity)));
  const HANDLE h = reinterpret_cast<HANDLE>(handle);

  COMMTIMEOUTS t;
  std::memset(&t, 0, sizeof t);
  ASSERT_NE(GetCommTimeouts(h, &t), 0);
  EXPECT_EQ(t.ReadIntervalTimeout, 50u);
  EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 10u);
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 50u);
  EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 10u);
  EXPECT_EQ(t.WriteTotalTimeoutConstant, 40u);

  DWORD mask = 0xFFFFFFFFu;
  ASSERT_NE(GetCommMask(h, &mask), 0);
  EXPECT_EQ(mask, 0u);

  DCB dcb;
  std::memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  ASSERT_NE(GetCommState(h, &dcb), 0);
  EXPECT_EQ(dcb.BaudRate, 230400u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, NOPARITY);
  EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
  EXPECT_EQ(dcb.fBinary, 1u);
  EXPECT_EQ(dcb.fParity, 0u);
  EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
  EXPECT_EQ(dcb.fOutxDsrFlow, 0u);
  EXPECT_EQ(dcb.fOutX, 0u);
  EXPECT_EQ(dcb.fInX, 0u);
  const bool wine = UnderWine();
  if (!wine) {
    // Wine derives DTR and RTS from the modem lines, which a pseudo-terminal does not have, and
    // reports both as enabled there.
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE));
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE));
  }
  PortClose(handle);
  if (wine) {
    GTEST_SKIP() << "DTR and RTS not checked: Wine reads them back as enabled on a pty";
  }
}

TEST_F(SerialProbeTest, SecondOpenOfAnOpenPort_Returns8) {
  if (UnderWine()) {
    GTEST_SKIP() << "Wine does not enforce the exclusive open of a COM port";
  }
  OpenPort(kBurstOffset);
  CSerialPort other;
  EXPECT_EQ(other.Open(PortName(kBurstOffset).c_str(), kTerminalBaudRate, kTerminalParity),
            PORT_ERR_CREATE);
  EXPECT_FALSE(other.IsOpen());
}

TEST_F(SerialProbeTest, Detection_SkipsTheDevicesWithoutAWordAndFindsTheTerminal) {
  const auto start = Clock::now();
  EXPECT_EQ(DetectTerminal(), DETECT_FOUND);
  std::printf("probe: detection: %lld ms\n", static_cast<long long>(MsSince(start)));
  EXPECT_TRUE(g_terminalPort.IsOpen());
  EXPECT_EQ(std::string(g_terminalPort.PortName()), PortName(kTerminalOffset));
}

// The whole download as the Download button starts it: detection, AT check, dial, transfer and
// the operator's box, with a recording window link in place of the main window.
TEST_F(SerialProbeTest, Download_DeliversTheImageAndEndsWithTheSuccessBox) {
  const char* image = std::getenv("CORVANEL_PROBE_IMAGE");
  if (image == nullptr || *image == '\0') {
    GTEST_SKIP() << "CORVANEL_PROBE_IMAGE is not set";
  }
  CRecordingLink link;
  SetMainWindowLink(&link);
  std::thread worker;
  SetWorkerStarter([&worker](std::function<void()> body) {
    worker = std::thread(std::move(body));
    return true;
  });
  const auto start = Clock::now();
  link.Type(IDC_PATH, image);
  StartDownload();
  const bool ended =
      link.WaitForEvent("enable " + std::to_string(IDC_BROWSE) + " 1", kDownloadDeadline);
  if (!ended) {
    // The worker still uses the link on this stack: end the run here rather than hang in join.
    std::printf("serial probe: the download did not end within %lld s\n",
                static_cast<long long>(kDownloadDeadline.count() / 1000));
    std::fflush(stdout);
    std::_Exit(1);
  }
  worker.join();  // its last change is in: it is ending
  SetWorkerStarter(nullptr);
  SetMainWindowLink(nullptr);
  std::printf("probe: download: %lld ms\n", static_cast<long long>(MsSince(start)));
  ASSERT_TRUE(ended);
  const auto boxes = link.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, kBoxTransferDoneCaption);
  EXPECT_EQ(boxes[0].text, kBoxTransferDone);
  EXPECT_EQ(link.Text(IDC_STATUS), kStatusTransferDone);
  EXPECT_EQ(link.ProgressPos(), link.ProgressUpper());
  EXPECT_FALSE(g_terminalPort.IsOpen());
  EXPECT_EQ(FineTimerHolders(), 0);  // the download's 1 ms ticks are given back
}

// A download asks the system for 1 ms timer ticks and gives them back at its end.
TEST(FineTimerTest, OneMillisecondTicks_AskedForAndGivenBack) {
  {
    const CFineTimer timer;
    EXPECT_TRUE(timer.Granted());
    EXPECT_EQ(FineTimerHolders(), 1);
  }
  EXPECT_EQ(FineTimerHolders(), 0);
}

}  // namespace

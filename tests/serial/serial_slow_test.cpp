// The one full-length silent read: 5,170 ms for the 512-byte terminal read.
#include <gtest/gtest.h>
#include <time.h>

#include <chrono>

#include "pty_harness.h"
#include "serial/serial_port.h"

namespace {

double ThreadCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

TEST(SerialPortSlowTest, ReadTerminal_SilentDevice_ReturnsZeroAfter5170MsWithoutSpinning) {
  CComDir dir;
  CPtyDevice device(dir, 5);
  ASSERT_EQ(OpenTerminalPort("\\\\.\\COM5"), PORT_OK);
  g_replyBuffer.fill(0x77);

  const double cpuBefore = ThreadCpuMs();
  const auto start = HarnessClock::now();
  const std::uint16_t count = ReadTerminal(g_replyBuffer.data());
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(HarnessClock::now() - start).count();
  const double cpu = ThreadCpuMs() - cpuBefore;
  CloseTerminalPort();

  EXPECT_EQ(count, 0);
  EXPECT_GE(elapsed, 5170);
  EXPECT_LT(elapsed, 5170 + 1000);
  EXPECT_LT(cpu, 500.0);
  for (std::uint8_t b : g_replyBuffer) {
    ASSERT_EQ(b, 0x77);
  }
}

}  // namespace

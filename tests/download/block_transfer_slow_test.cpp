// Transfers that wait out full read time-outs (5.17 s of silence each), and the largest image.
#include <gtest/gtest.h>

#include "protocol/frame_codec.h"
#include "serial/serial_port.h"
#include "tests/download/transfer_fixture.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;

TEST_F(TransferTest, SilentBegin_ThreeFramesResult5AndWindowUntouched) {
  StartTerminal({"begin=silence"});
  OpenAndConnect();
  EXPECT_EQ(Transfer(RandomBytes(3000, 1)), 5);
  const sim::DeviceStats stats = Stats();
  EXPECT_EQ(stats.beginFrames, 3u);
  EXPECT_EQ(stats.dataFrames, 0u);
  EXPECT_TRUE(m_link.Events().empty());
  EXPECT_GT(m_elapsed, milliseconds(3 * 5170 - 300));
  EXPECT_LT(m_elapsed, milliseconds(3 * 5170 + 5000));
}

TEST_F(TransferTest, SilenceGarbagePreviousAck_GivesTheThirdCode) {
  StartTerminal({"data:1#1=silence", "data:1#2=garbage", "data:1#3=seq:0"});
  OpenAndConnect();
  EXPECT_EQ(Transfer(RandomBytes(3 * 1024, 2)), 2);
  EXPECT_EQ(Stats().dataFrames, 1u + 3u);
  EXPECT_EQ(Stats().endFrames, 0u);
}

TEST_F(TransferTest, SilentEnd_WaitsOneReadOnceAndFails) {
  StartTerminal({"end=silence"});
  OpenAndConnect();
  EXPECT_EQ(Transfer(RandomBytes(1500, 3)), 5);
  EXPECT_EQ(Stats().endFrames, 1u);
  EXPECT_GT(m_elapsed, milliseconds(5170 - 200));
  EXPECT_LT(m_elapsed, milliseconds(2 * 5170));
  EXPECT_EQ(m_link.PositionsSent(), (std::vector<std::int32_t>{1, 2}));
}

TEST_F(TransferTest, LargestImage_ArrivesByteForByte) {
  StartTerminal();
  OpenAndConnect();
  const Bytes file = RandomBytes(kImageBufferSize, 4);
  ASSERT_EQ(Transfer(file), 0);
  const sim::DeviceStats stats = Stats();
  EXPECT_EQ(stats.image, file);
  EXPECT_TRUE(stats.endFcsMatched);
  EXPECT_EQ(stats.dataFrames, 801u);
  EXPECT_EQ(g_sizeCounter, kImageBufferSize);
  EXPECT_EQ(m_link.ProgressUpper(), 800);
  EXPECT_EQ(m_link.PositionsSent().back(), 801);
  std::printf("819,200 bytes unpaced: %.2f s\n", std::chrono::duration<double>(m_elapsed).count());
}

}  // namespace

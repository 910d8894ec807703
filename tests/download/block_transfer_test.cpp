#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "download/control_ids.h"
#include "protocol/frame_codec.h"
#include "serial/serial_port.h"
#include "tests/download/transfer_fixture.h"
#include "tests/support/test_names.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string kStatusEvent = "text 1012 Transferring the file to handset...";

// A file size, and what its transfer must look like.
struct SizeCase {
  const char* name;
  std::size_t size;
};

class TransferSizes : public TransferTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(TransferSizes, FileArrivesWithOneMorePacketThanWholeBlocks) {
  StartTerminal();
  OpenAndConnect();
  const std::size_t size = GetParam().size;
  const Bytes file = RandomBytes(size, static_cast<unsigned>(size) + 7);
  const std::uint32_t blocks = static_cast<std::uint32_t>(size / 1024);

  ASSERT_EQ(Transfer(file), 0);

  const sim::DeviceStats stats = Stats();
  EXPECT_EQ(stats.image, file);
  EXPECT_TRUE(stats.endReceived);
  EXPECT_TRUE(stats.endFcsMatched);
  EXPECT_EQ(stats.endFcs, ImageFcs(file.data(), static_cast<std::uint32_t>(file.size())));
  EXPECT_EQ(stats.beginFrames, 1u);
  EXPECT_EQ(stats.rejected, 0u);
  EXPECT_EQ(stats.retries, 0u);
  EXPECT_TRUE(stats.violations.empty());

  const auto data = DataExchanges();
  ASSERT_EQ(data.size(), blocks + 1);
  for (std::size_t i = 0; i < data.size(); ++i) {
    EXPECT_EQ(data[i].sequence, i);
    const std::size_t expected = i < blocks ? 1024 : size % 1024;
    EXPECT_EQ(data[i].payloadSize, expected) << i;
  }

  std::vector<std::string> expected{kStatusEvent, "range 1004 0 " + std::to_string(blocks),
                                    "stepsize 1004 1"};
  for (std::uint32_t p = 1; p <= blocks + 1; ++p) {
    expected.push_back("pos 1004 " + std::to_string(p));
  }
  EXPECT_EQ(m_link.Events(), expected);
  EXPECT_EQ(g_sizeCounter, size);
}

INSTANTIATE_TEST_SUITE_P(Files, TransferSizes,
                         ::testing::Values(SizeCase{"Empty", 0}, SizeCase{"Three", 3},
                                           SizeCase{"OneShort", 1023}, SizeCase{"OneBlock", 1024},
                                           SizeCase{"Size1500", 1500}, SizeCase{"TwoBlocks", 2048},
                                           SizeCase{"Size5000", 5000}),
                         ByName{});

TEST_F(TransferTest, Abc_SendsTheKnownDataAndEndPackets) {
  StartTerminal();
  OpenAndConnect();
  ASSERT_EQ(Transfer({0x61, 0x62, 0x63}), 0);
  // The last frame written was the end request; the packet before it in the packet area is
  // overwritten, so check the data packet through the handset's view and the end packet here.
  EXPECT_EQ(Bytes(g_packetArea.bytes.begin(), g_packetArea.bytes.begin() + 6),
            (Bytes{0x0B, 0x0B, 0x00, 0x06, 0x9E, 0x25}));
  const sim::DeviceStats stats = Stats();
  EXPECT_EQ(stats.image, (Bytes{0x61, 0x62, 0x63}));
  EXPECT_EQ(stats.endFcs, 0x9E25);
  EXPECT_TRUE(stats.endFcsMatched);
}

TEST_F(TransferTest, EmptyFile_EndCarriesFcsZero) {
  StartTerminal();
  OpenAndConnect();
  ASSERT_EQ(Transfer({}), 0);
  EXPECT_EQ(Stats().endFcs, 0x0000);
  EXPECT_EQ(m_link.ProgressUpper(), 0);
}

TEST_F(TransferTest, Block4AckedAs3Twice_SameFrameThreeTimesThenGoesOn) {
  StartTerminal({"data:4#1=seq:3", "data:4#2=seq:3"});
  OpenAndConnect();
  const Bytes file = RandomBytes(6 * 1024 + 10, 4);
  ASSERT_EQ(Transfer(file), 0);
  const sim::DeviceStats stats = Stats();
  EXPECT_EQ(stats.image, file);
  EXPECT_EQ(stats.retries, 2u);
  EXPECT_TRUE(stats.violations.empty());  // a repeat that differs from its first sending is one
  std::vector<unsigned> sequences;
  for (const auto& e : DataExchanges()) {
    sequences.push_back(e.sequence);
  }
  EXPECT_EQ(sequences, (std::vector<unsigned>{0, 1, 2, 3, 4, 4, 4, 5, 6}));
}

TEST_F(TransferTest, TwoFailuresThenSuccess_AttemptsStartAgainForTheNextBlock) {
  StartTerminal({"data:2#1=garbage", "data:2#2=code", "data:3#1=code:0x0C0C", "data:3#2=garbage"});
  OpenAndConnect();
  const Bytes file = RandomBytes(5 * 1024, 5);
  ASSERT_EQ(Transfer(file), 0);
  EXPECT_EQ(Stats().image, file);
  EXPECT_EQ(Stats().retries, 4u);
  EXPECT_EQ(m_link.PositionsSent(), (std::vector<std::int32_t>{1, 2, 3, 4, 5, 6}));
}

struct ThirdCode {
  const char* name;
  std::vector<std::string> knobs;
  std::uint16_t result;
};

class ThreeUnusableReplies : public TransferTest,
                             public ::testing::WithParamInterface<ThirdCode> {};

// Three bad replies to one block: the result is the third one's code and nothing more is sent.
TEST_P(ThreeUnusableReplies, ResultIsTheThirdCode) {
  StartTerminal(GetParam().knobs);
  OpenAndConnect();
  EXPECT_EQ(Transfer(RandomBytes(4 * 1024, 6)), GetParam().result);
  const sim::DeviceStats stats = Stats();
  EXPECT_EQ(stats.dataFrames, 2u + 3u);  // blocks 0 and 1, then block 2 three times
  EXPECT_EQ(stats.endFrames, 0u);
  EXPECT_EQ(m_link.PositionsSent(), (std::vector<std::int32_t>{1, 2}));
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ThreeUnusableReplies,
    ::testing::Values(
        ThirdCode{"NoFlagNoFlagPreviousBlock",
                  {"data:2#1=garbage", "data:2#2=garbage", "data:2#3=seq:1"},
                  2},
        ThirdCode{"SeqCodeGarbage", {"data:2#1=seq:1", "data:2#2=code", "data:2#3=garbage"}, 4},
        ThirdCode{
            "WrongCodeLast", {"data:2#1=garbage", "data:2#2=seq:1", "data:2#3=code:0x0C0C"}, 1},
        ThirdCode{"WrongAddress", {"data:2=garbage:7EFE7D237D2E"}, 1},
        ThirdCode{"WrongControl", {"data:2=garbage:7EFF037D2E7D2E"}, 2}),
    ByName{});

TEST_F(TransferTest, BeginAnsweredBadlyThrice_NoDataAndWindowUntouched) {
  StartTerminal({"begin=garbage"});
  OpenAndConnect();
  EXPECT_EQ(Transfer(RandomBytes(3000, 7)), 4);
  const sim::DeviceStats stats = Stats();
  EXPECT_EQ(stats.beginFrames, 3u);
  EXPECT_EQ(stats.dataFrames, 0u);
  EXPECT_TRUE(m_link.Events().empty());
}

TEST_F(TransferTest, BeginAtThirdAttempt_TransferGoesOn) {
  StartTerminal({"begin#1=code", "begin#2=garbage"});
  OpenAndConnect();
  const Bytes file = RandomBytes(2100, 8);
  ASSERT_EQ(Transfer(file), 0);
  EXPECT_EQ(Stats().beginFrames, 3u);
  EXPECT_EQ(Stats().image, file);
}

TEST_F(TransferTest, EndAnsweredWithAnotherCode_FailsWithThatCode) {
  StartTerminal({"end=code:0x0E0E"});
  OpenAndConnect();
  EXPECT_EQ(Transfer(RandomBytes(1500, 9)), 1);
  EXPECT_EQ(Stats().endFrames, 1u);  // the end request is sent once, never repeated
}

TEST_F(TransferTest, SecondTransfer_StartsAtSequenceZeroWithItsOwnFcs) {
  StartTerminal();
  OpenAndConnect();
  const Bytes first = RandomBytes(5000, 10);
  ASSERT_EQ(Transfer(first), 0);
  OpenAndConnect();  // the handset went off to burn; dial again
  const Bytes second = RandomBytes(1500, 11);
  ASSERT_EQ(Transfer(second), 0);
  const sim::DeviceStats stats = Stats();
  EXPECT_EQ(stats.transfers, 2u);
  EXPECT_EQ(stats.image, second);
  EXPECT_EQ(stats.endFcs, ImageFcs(second.data(), 1500));
  EXPECT_TRUE(stats.endFcsMatched);
  const auto data = DataExchanges();
  ASSERT_EQ(data.size(), 5u + 2u);
  EXPECT_EQ(data[5].sequence, 0u);
  EXPECT_EQ(data[6].sequence, 1u);
}

TEST_F(TransferTest, FileLargerThanTheImageBuffer_WritesNothing) {
  StartTerminal();
  OpenAndConnect();
  const sim::DeviceStats before = Stats();
  EXPECT_EQ(Transfer(Bytes(kImageBufferSize + 1, 0x41)), TRANSFER_ERR_TOO_LARGE);
  const sim::DeviceStats after = Stats();
  EXPECT_EQ(after.frames, 0u);
  EXPECT_EQ(after.garbageBytes, before.garbageBytes);
  EXPECT_TRUE(m_link.Events().empty());
}

TEST_F(TransferTest, ReadErrorOnTheFile_EndsWithoutEmptyPackets) {
  StartTerminal();
  OpenAndConnect();
  // A directory opens as a stream here, and every read of it fails; it stands in for a file
  // whose reads fail after it was opened and measured.
  const std::string dir = TempDir() + "/folder";
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  const FileMeasure empty;
  EXPECT_EQ(TransferFile(dir, 0, &empty), TRANSFER_ERR_FILE_READ);
  const sim::DeviceStats stats = Stats();
  EXPECT_EQ(stats.beginFrames, 1u);
  EXPECT_EQ(stats.dataFrames, 0u);
  EXPECT_EQ(stats.endFrames, 0u);
}

TEST_F(TransferTest, HangUpMidTransfer_FailsPromptly) {
  StartTerminal({"data:3=hangup"});
  OpenAndConnect();
  EXPECT_EQ(Transfer(RandomBytes(8 * 1024, 12)), 5);
  EXPECT_LT(m_elapsed, std::chrono::seconds(3));  // no full read time-outs after the hang-up
  EXPECT_EQ(m_link.PositionsSent(), (std::vector<std::int32_t>{1, 2, 3}));
}

TEST_F(TransferTest, RetriedFrame_IsByteIdenticalToTheFirst) {
  StartTerminal({"data:1#1=garbage"});
  OpenAndConnect();
  ASSERT_EQ(Transfer(RandomBytes(3 * 1024, 13)), 0);
  EXPECT_EQ(Stats().retries, 1u);
  EXPECT_TRUE(Stats().violations.empty());
}

}  // namespace

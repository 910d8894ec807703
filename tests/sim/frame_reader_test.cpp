// The simulator's frame reader and writer, against the wire vectors of the handset link.
#include "sim/frame_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/wire_vectors.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using sim::RejectReason;

using wire::kAckFrame;
using wire::kBeginFrame;
using wire::kData45Frame;
using wire::kDataAbcFrame;
using wire::kEmptyDataFrame;
using wire::kEndAbcFrame;

std::vector<sim::FrameEvent> ReadAll(const Bytes& wire) {
  sim::CFrameReader reader;
  std::vector<sim::FrameEvent> events;
  reader.Push(wire.data(), wire.size(), events);
  return events;
}

TEST(SimFcs, CheckValueAndImageFcs) {
  const std::string digits = "123456789";
  EXPECT_EQ(sim::ImageFcs(reinterpret_cast<const std::uint8_t*>(digits.data()), digits.size()),
            0x906E);
  const Bytes abc = {0x61, 0x62, 0x63};
  EXPECT_EQ(sim::ImageFcs(abc.data(), abc.size()), 0x9E25);
  EXPECT_EQ(sim::ImageFcs(nullptr, 0), 0x0000);
}

struct WriterCase {
  const char* name;
  Bytes packet;
  Bytes frame;
};

class SimWriter : public testing::TestWithParam<WriterCase> {};

TEST_P(SimWriter, BuildsTheFrameThePcBuilds) {
  EXPECT_EQ(sim::BuildFrame(GetParam().packet), GetParam().frame);
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, SimWriter,
    testing::Values(
        WriterCase{"Begin", {0x0A, 0x0A, 0x00, 0x04}, kBeginFrame},
        WriterCase{
            "DataAbc", {0x0D, 0x0D, 0x00, 0x09, 0x00, 0x00, 0x61, 0x62, 0x63}, kDataAbcFrame},
        WriterCase{"End", {0x0B, 0x0B, 0x00, 0x06, 0x9E, 0x25}, kEndAbcFrame},
        WriterCase{"EscapedFcsByte", {0x0D, 0x0D, 0x00, 0x07, 0x00, 0x00, 0x45}, kData45Frame},
        WriterCase{"EmptyData", {0x0D, 0x0D, 0x00, 0x06, 0x00, 0x00}, kEmptyDataFrame},
        WriterCase{"Ack", sim::AckPacket(), kAckFrame}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(SimWriter, EscapesExactlyTheEscapedSet) {
  for (int v = 0; v < 256; ++v) {
    const Bytes frame =
        sim::BuildFrame({0x0D, 0x0D, 0x00, 0x07, 0x00, 0x01, static_cast<std::uint8_t>(v)});
    // 7E FF 7D 23 | 7D 2D 7D 2D 7D 20 7D 27 7D 20 7D 21 | payload at offset 16
    const bool escaped = v <= 0x20 || v == 0x7D || v == 0x7E;
    ASSERT_EQ(frame[16], escaped ? 0x7D : v) << v;
    if (escaped) {
      ASSERT_EQ(frame[17], v ^ 0x20) << v;
    }
  }
}

struct GoodCase {
  const char* name;
  Bytes wire;
  Bytes packet;
};

class SimReaderGood : public testing::TestWithParam<GoodCase> {};

TEST_P(SimReaderGood, DecodesThePacket) {
  const auto events = ReadAll(GetParam().wire);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_TRUE(events[0].accepted) << sim::RejectName(events[0].reason);
  EXPECT_EQ(events[0].packet, GetParam().packet);
  EXPECT_EQ(events[0].wireBytes, GetParam().wire.size());
}

TEST_P(SimReaderGood, DecodesTheSameWhenFedByteByByte) {
  sim::CFrameReader reader;
  std::vector<sim::FrameEvent> events;
  for (std::uint8_t b : GetParam().wire) reader.Push(&b, 1, events);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_TRUE(events[0].accepted);
  EXPECT_EQ(events[0].packet, GetParam().packet);
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, SimReaderGood,
    testing::Values(
        GoodCase{"Begin", kBeginFrame, {0x0A, 0x0A, 0x00, 0x04}},
        GoodCase{"DataAbc", kDataAbcFrame, {0x0D, 0x0D, 0x00, 0x09, 0x00, 0x00, 0x61, 0x62, 0x63}},
        GoodCase{"End", kEndAbcFrame, {0x0B, 0x0B, 0x00, 0x06, 0x9E, 0x25}},
        GoodCase{"EscapedFcsByte", kData45Frame, {0x0D, 0x0D, 0x00, 0x07, 0x00, 0x00, 0x45}},
        GoodCase{"EmptyData", kEmptyDataFrame, {0x0D, 0x0D, 0x00, 0x06, 0x00, 0x00}},
        GoodCase{"Ack", kAckFrame, {0x0C, 0x0C, 0x00, 0x04}}),
    [](const auto& p) { return std::string(p.param.name); });

struct BadCase {
  const char* name;
  Bytes wire;
  RejectReason reason;
};

Bytes With(Bytes b, std::size_t at, std::uint8_t value) {
  b[at] = value;
  return b;
}

class SimReaderBad : public testing::TestWithParam<BadCase> {};

TEST_P(SimReaderBad, RejectsWithItsReason) {
  const auto events = ReadAll(GetParam().wire);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_FALSE(events[0].accepted);
  EXPECT_EQ(events[0].reason, GetParam().reason) << sim::RejectName(events[0].reason);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SimReaderBad,
    testing::Values(
        BadCase{"FcsLowByteAltered", With(kBeginFrame, 12, 0x98), RejectReason::BadFcs},
        BadCase{"PayloadByteAltered", With(kDataAbcFrame, 17, 0x63), RejectReason::BadFcs},
        BadCase{
            "EscapeBeforeFlag", {0x7E, 0xFF, 0x7D, 0x23, 0x7D, 0x7E}, RejectReason::AbortedEscape},
        BadCase{"NeedlessEscape", With(kDataAbcFrame, 16, 0x7D),
                RejectReason::NeedlessEscape},  // 7D 62
        BadCase{
            "UnescapedControl",
            {0x7E, 0xFF, 0x03, 0x7D, 0x2A, 0x7D, 0x2A, 0x7D, 0x20, 0x7D, 0x24, 0x99, 0xFE, 0x7E},
            RejectReason::UnescapedByte},
        BadCase{"UnescapedSpace", With(kDataAbcFrame, 17, 0x20), RejectReason::UnescapedByte},
        BadCase{"BadAddress", With(kBeginFrame, 1, 0xFE), RejectReason::BadAddress},
        BadCase{"BadControl", With(kBeginFrame, 3, 0x33),
                RejectReason::BadControl},  // 7D 33 -> 0x13
        BadCase{"LengthFieldTooLarge", sim::BuildFrame({0x0A, 0x0A, 0x00, 0x05}),
                RejectReason::BadLength},
        BadCase{"LengthFieldTooSmall",
                sim::BuildFrame({0x0D, 0x0D, 0x00, 0x08, 0x00, 0x00, 0x61, 0x62, 0x63}),
                RejectReason::BadLength},
        BadCase{
            "TooShort", {0x7E, 0xFF, 0x7D, 0x23, 0x7D, 0x2A, 0x99, 0x7E}, RejectReason::TooShort}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(SimReader, OverlongFrame_IsRejectedAsTooLong) {
  Bytes wire = {0x7E};
  wire.insert(wire.end(), sim::kMaxFrameBody + 10, 0x41);
  wire.push_back(0x7E);
  const auto events = ReadAll(wire);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].reason, RejectReason::TooLong);
}

TEST(SimReader, TwoFramesInOnePush_GiveTwoPackets) {
  Bytes wire = kBeginFrame;
  wire.insert(wire.end(), kEndAbcFrame.begin(), kEndAbcFrame.end());
  const auto events = ReadAll(wire);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_TRUE(events[0].accepted);
  EXPECT_TRUE(events[1].accepted);
  EXPECT_EQ(events[0].packet, (Bytes{0x0A, 0x0A, 0x00, 0x04}));
  EXPECT_EQ(events[1].packet, (Bytes{0x0B, 0x0B, 0x00, 0x06, 0x9E, 0x25}));
}

TEST(SimReader, SharedFlagBetweenFrames_GivesTwoPackets) {
  Bytes wire = kBeginFrame;
  wire.insert(wire.end(), kEndAbcFrame.begin() + 1, kEndAbcFrame.end());
  const auto events = ReadAll(wire);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_TRUE(events[1].accepted);
}

TEST(SimReader, GarbageBeforeTheFirstFlag_IsReportedOnceWithItsSize) {
  Bytes wire = {'\r', '\n', 'O', 'K'};
  wire.insert(wire.end(), kBeginFrame.begin(), kBeginFrame.end());
  const auto events = ReadAll(wire);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].reason, RejectReason::Garbage);
  EXPECT_EQ(events[0].wireBytes, 4u);
  EXPECT_TRUE(events[1].accepted);
}

TEST(SimReader, GarbageBetweenFrames_IsRejectedAndTheNextFrameStillDecodes) {
  Bytes wire = kBeginFrame;
  for (std::uint8_t b : {0x55, 0xAA, 0x41}) wire.push_back(b);
  wire.insert(wire.end(), kDataAbcFrame.begin(), kDataAbcFrame.end());
  const auto events = ReadAll(wire);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_TRUE(events[0].accepted);
  EXPECT_FALSE(events[1].accepted);
  EXPECT_EQ(events[1].reason, RejectReason::TooShort);
  EXPECT_TRUE(events[2].accepted);
  EXPECT_EQ(events[2].packet.size(), 9u);
}

TEST(SimReader, TruncatedFrameFollowedByAGoodOne_LosesOnlyTheTruncated) {
  Bytes wire(kDataAbcFrame.begin(), kDataAbcFrame.begin() + 10);
  wire.insert(wire.end(), kBeginFrame.begin(), kBeginFrame.end());
  const auto events = ReadAll(wire);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_FALSE(events[0].accepted);
  EXPECT_TRUE(events[1].accepted);
  EXPECT_EQ(events[1].packet, (Bytes{0x0A, 0x0A, 0x00, 0x04}));
}

TEST(SimReader, FrameSplitAtEveryPoint_DecodesTheSame) {
  for (std::size_t cut = 1; cut < kData45Frame.size(); ++cut) {
    sim::CFrameReader reader;
    std::vector<sim::FrameEvent> events;
    reader.Push(kData45Frame.data(), cut, events);
    EXPECT_TRUE(events.empty()) << cut;
    reader.Push(kData45Frame.data() + cut, kData45Frame.size() - cut, events);
    ASSERT_EQ(events.size(), 1u) << cut;
    EXPECT_TRUE(events[0].accepted) << cut;
    EXPECT_EQ(events[0].packet, (Bytes{0x0D, 0x0D, 0x00, 0x07, 0x00, 0x00, 0x45})) << cut;
  }
}

TEST(SimReader, ResetDropsAHalfFrame) {
  sim::CFrameReader reader;
  std::vector<sim::FrameEvent> events;
  reader.Push(kDataAbcFrame.data(), 8, events);
  reader.Reset();
  reader.Push(kBeginFrame.data(), kBeginFrame.size(), events);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_TRUE(events[0].accepted);
}

}  // namespace

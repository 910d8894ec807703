#include "protocol/frame_codec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "protocol/failure_detail.h"
#include "tests/support/wire_vectors.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Names parameterised cases by their `name` field.
struct ByName {
  template <class Info>
  std::string operator()(const Info& info) const {
    return info.param.name;
  }
};

Bytes FrameBytes(std::uint16_t count) {
  return Bytes(g_frameBuffer.begin(), g_frameBuffer.begin() + count);
}

Bytes PacketBytes(std::size_t n) {
  return Bytes(g_packetArea.bytes.begin(), g_packetArea.bytes.begin() + static_cast<long>(n));
}

std::uint16_t FrameFcs(const Bytes& packet) {
  Bytes covered{0xFF, 0x03};
  covered.insert(covered.end(), packet.begin(), packet.end());
  return static_cast<std::uint16_t>(
      Fcs16(0xFFFF, covered.data(), static_cast<std::uint32_t>(covered.size())) ^ 0xFFFF);
}

// One known packet, its frame FCS and its frame on the wire.
struct FrameVector {
  const char* name;
  Bytes packet;
  std::uint16_t fcs;
  Bytes frame;
};

class FrameVectors : public ::testing::TestWithParam<FrameVector> {};

TEST_P(FrameVectors, BuildFrame_ReproducesTheWireBytesAndCount) {
  const FrameVector& v = GetParam();
  SetFrameHeader();
  EXPECT_EQ(FrameFcs(v.packet), v.fcs);
  const std::uint16_t n = BuildFrame(v.packet.data(), static_cast<std::uint16_t>(v.packet.size()));
  EXPECT_EQ(n, v.frame.size());
  EXPECT_EQ(FrameBytes(n), v.frame);
}

INSTANTIATE_TEST_SUITE_P(
    KnownPackets, FrameVectors,
    ::testing::Values(
        FrameVector{"Begin", {0x0A, 0x0A, 0x00, 0x04}, 0xFE99, wire::kBeginFrame},
        FrameVector{"DataAbc",
                    {0x0D, 0x0D, 0x00, 0x09, 0x00, 0x00, 0x61, 0x62, 0x63},
                    0x61B5,
                    wire::kDataAbcFrame},
        FrameVector{"EndWithImageFcs9E25",
                    {0x0B, 0x0B, 0x00, 0x06, 0x9E, 0x25},
                    0x90C6,
                    wire::kEndAbcFrame},
        FrameVector{"DataWithEscapedFcsByte",
                    {0x0D, 0x0D, 0x00, 0x07, 0x00, 0x00, 0x45},
                    0xDE1E,
                    wire::kData45Frame},
        FrameVector{
            "DataEmpty", {0x0D, 0x0D, 0x00, 0x06, 0x00, 0x00}, 0x4646, wire::kEmptyDataFrame},
        FrameVector{"AckFromHandset", {0x0C, 0x0C, 0x00, 0x04}, 0x63DA, wire::kAckFrame}),
    ByName{});

TEST(Fcs16, CheckString_Gives906E) {
  const char* text = "123456789";
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text);
  EXPECT_EQ(Fcs16(0xFFFF, bytes, 9) ^ 0xFFFF, 0x906E);
}

TEST(Fcs16, ZeroCount_ReturnsInitialValue) { EXPECT_EQ(Fcs16(0x1234, nullptr, 0), 0x1234); }

TEST(Fcs16, DataFollowedByItsFcs_GivesGoodResidue) {
  const Bytes data{0xFF, 0x03, 0x0D, 0x0D, 0x00, 0x09, 0x00, 0x00, 0x61, 0x62, 0x63, 0xB5, 0x61};
  EXPECT_EQ(Fcs16(0xFFFF, data.data(), static_cast<std::uint32_t>(data.size())), kFcsGoodResidue);
}

TEST(Fcs16, RunsInPieces_LikeInOne) {
  const Bytes data{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  const std::uint16_t whole = Fcs16(0xFFFF, data.data(), 10);
  EXPECT_EQ(Fcs16(Fcs16(0xFFFF, data.data(), 4), data.data() + 4, 6), whole);
}

TEST(BuildControlPacket, Begin_IsCodeAndLength4) {
  BuildControlPacket(CMD_BEGIN);
  EXPECT_EQ(PacketBytes(4), (Bytes{0x0A, 0x0A, 0x00, 0x04}));
}

TEST(BuildControlPacket, End_CarriesImageFcsHighByteFirst) {
  g_imageFcs = 0x9E25;
  BuildControlPacket(CMD_END);
  EXPECT_EQ(PacketBytes(6), (Bytes{0x0B, 0x0B, 0x00, 0x06, 0x9E, 0x25}));
}

TEST(BuildControlPacket, OtherCode_GetsLength4AndLeavesOffset4Alone) {
  g_packetArea.bytes[4] = 0xAB;
  g_packetArea.bytes[5] = 0xCD;
  BuildControlPacket(RSP_ACK);
  EXPECT_EQ(PacketBytes(6), (Bytes{0x0C, 0x0C, 0x00, 0x04, 0xAB, 0xCD}));
}

TEST(BuildDataPacket, Abc_IsHeaderThenPayload) {
  const Bytes abc{0x61, 0x62, 0x63};
  BuildDataPacket(CMD_DATA, 0, abc.data(), 3);
  EXPECT_EQ(PacketBytes(9), (Bytes{0x0D, 0x0D, 0x00, 0x09, 0x00, 0x00, 0x61, 0x62, 0x63}));
}

TEST(BuildDataPacket, FullBlock_HasLength1030AndSequenceBigEndian) {
  Bytes payload(1024, 0x5A);
  BuildDataPacket(CMD_DATA, 0x0320, payload.data(), 1024);
  EXPECT_EQ(PacketBytes(6), (Bytes{0x0D, 0x0D, 0x04, 0x06, 0x03, 0x20}));
  EXPECT_EQ(0, std::memcmp(g_packetArea.bytes.data() + 6, payload.data(), 1024));
}

TEST(BuildDataPacket, PayloadBeyondTheArea_IsCutToItsRoom) {
  Bytes payload(4000, 0x11);
  BuildDataPacket(CMD_DATA, 1, payload.data(), 4000);
  EXPECT_EQ(PacketBytes(4), (Bytes{0x0D, 0x0D, 0x08, 0x08}));  // 2050 + 6
}

// The escape rule over every byte value, as a one-byte payload.
TEST(BuildFrame, EscapeRule_OverAll256Values) {
  SetFrameHeader();
  for (int v = 0; v < 256; ++v) {
    const auto b = static_cast<std::uint8_t>(v);
    const bool escaped = v <= 0x20 || v == 0x7D || v == 0x7E;
    EXPECT_EQ(NeedsEscape(b), escaped) << v;
    BuildDataPacket(CMD_DATA, 0x4141, &b, 1);  // 0x41 needs no escape, so only b varies
    const Bytes packet = PacketBytes(7);
    const std::uint16_t n = BuildFrame(g_packetArea.bytes.data(), 7);
    // 7E FF 7D 23 | 0D 0D 00 07 41 41 -> 7D 2D 7D 2D 7D 20 7D 27 41 41 | b | FCS | 7E
    const std::size_t at = 14;
    if (escaped) {
      ASSERT_EQ(g_frameBuffer[at], 0x7D) << v;
      EXPECT_EQ(g_frameBuffer[at + 1], b ^ 0x20) << v;
    } else {
      EXPECT_EQ(g_frameBuffer[at], b) << v;
    }
    const std::uint16_t fcs = FrameFcs(packet);
    const std::size_t fcsEscapes = NeedsEscape(fcs & 0xFF) + NeedsEscape(fcs >> 8);
    EXPECT_EQ(n, 18 + (escaped ? 1 : 0) + fcsEscapes) << v;
    EXPECT_EQ(g_frameBuffer[n - 1], 0x7E);
  }
}

TEST(BuildFrame, PayloadSamples_GoOutAsTheRuleSays) {
  struct Case {
    std::uint8_t in;
    Bytes out;
  };
  const std::vector<Case> cases{{0x20, {0x7D, 0x00}}, {0x7E, {0x7D, 0x5E}}, {0x7D, {0x7D, 0x5D}},
                                {0x1F, {0x7D, 0x3F}}, {0x21, {0x21}},       {0x7F, {0x7F}},
                                {0xFF, {0xFF}}};
  SetFrameHeader();
  for (const Case& c : cases) {
    BuildDataPacket(CMD_DATA, 0x4141, &c.in, 1);
    BuildFrame(g_packetArea.bytes.data(), 7);
    EXPECT_EQ(Bytes(g_frameBuffer.begin() + 14,
                    g_frameBuffer.begin() + 14 + static_cast<long>(c.out.size())),
              c.out)
        << int(c.in);
  }
}

TEST(BuildFrame, AllEscapedFullBlock_FitsAndCountsEveryEscape) {
  SetFrameHeader();
  Bytes payload(1024, 0x7E);
  BuildDataPacket(CMD_DATA, 0, payload.data(), 1024);
  const std::uint16_t n = BuildFrame(g_packetArea.bytes.data(), 1030);
  // Flags 2, address 1, escaped control 2, escaped header 12, escaped payload 2048, FCS 2 to 4.
  const std::uint16_t fcs = FrameFcs(PacketBytes(1030));
  EXPECT_EQ(n, 2067 + NeedsEscape(fcs & 0xFF) + NeedsEscape(fcs >> 8));
  EXPECT_LE(n, 2070);
}

TEST(BuildFrame, LengthBeyondTheAreas_BuildsNothing) {
  SetFrameHeader();
  g_frameBuffer[0] = 0x55;
  Bytes big(kMaxFramedPacket + 1, 0x7E);
  EXPECT_EQ(BuildFrame(big.data(), static_cast<std::uint16_t>(big.size())), 0);
  EXPECT_EQ(g_frameBuffer[0], 0x55);
  // The longest accepted packet, all escaped, still fits the frame buffer.
  big.pop_back();
  const std::uint16_t n = BuildFrame(big.data(), static_cast<std::uint16_t>(big.size()));
  EXPECT_GT(n, 0);
  EXPECT_LE(n, kFrameBufferCapacity);
}

// Builds frames of random packets, decodes them with ParseReply and compares: the decoder is
// the exact inverse of the encoder, whatever the bytes.
TEST(RoundTrip, RandomPackets_DecodeToPacketFcsAndFlag) {
  std::mt19937 rng(20261207);
  std::vector<std::size_t> lengths{0, 1, 2, 3, 31, 32, 33, 511, 512, 1000, 1023, 1024};
  for (int i = 0; i < 300; ++i) {
    lengths.push_back(rng() % 1025);
  }
  SetFrameHeader();
  for (std::size_t len : lengths) {
    Bytes payload(len);
    for (auto& b : payload) {
      b = static_cast<std::uint8_t>(rng());
    }
    const auto seq = static_cast<std::uint16_t>(rng());
    BuildDataPacket(CMD_DATA, seq, payload.data(), static_cast<std::uint16_t>(len));
    const Bytes packet = PacketBytes(len + 6);
    const std::uint16_t n =
        BuildFrame(g_packetArea.bytes.data(), static_cast<std::uint16_t>(len + 6));
    const Bytes frame = FrameBytes(n);

    std::uint16_t count = n;
    ASSERT_EQ(ParseReply(frame.data(), count), 0) << len;
    ASSERT_EQ(count, len + 6 + 2 + 1) << len;
    const Bytes decoded(g_decodedReply.packet.begin(), g_decodedReply.packet.begin() + count);
    EXPECT_EQ(Bytes(decoded.begin(), decoded.begin() + static_cast<long>(len + 6)), packet);
    const std::uint16_t fcs = FrameFcs(packet);
    EXPECT_EQ(decoded[len + 6], fcs & 0xFF);
    EXPECT_EQ(decoded[len + 7], fcs >> 8);
    EXPECT_EQ(decoded[len + 8], 0x7E);
    EXPECT_EQ(CheckReply(g_decodedReply.packet.data(), CMD_DATA, seq), 0);
  }
}

// ParseReply result codes, in the order the decoder tests them.
struct ReplyCase {
  const char* name;
  Bytes reply;
  std::uint16_t result;
};

class ReplyCodes : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(ReplyCodes, ParseReply_GivesTheCodeOfTheFirstFault) {
  const ReplyCase& c = GetParam();
  // The decoder may look only at the bytes it was given: copy them into a buffer of exactly
  // that size so that AddressSanitizer catches any read beyond.
  auto* exact = new std::uint8_t[c.reply.empty() ? 1 : c.reply.size()];
  std::copy(c.reply.begin(), c.reply.end(), exact);
  auto count = static_cast<std::uint16_t>(c.reply.size());
  const std::uint16_t before = count;
  EXPECT_EQ(ParseReply(exact, count), c.result);
  if (c.result != PARSE_OK) {
    EXPECT_EQ(count, before);
  }
  delete[] exact;
}

INSTANTIATE_TEST_SUITE_P(
    ReplyTable, ReplyCodes,
    ::testing::Values(ReplyCase{"Nothing", {}, 5}, ReplyCase{"TextOK", {'O', 'K'}, 4},
                      ReplyCase{"NoOpeningFlag", {0x00, 0xFF, 0x7D, 0x23}, 4},
                      ReplyCase{"FlagOnly", {0x7E}, 4}, ReplyCase{"FlagAddress", {0x7E, 0xFF}, 4},
                      ReplyCase{"ThreeBytes", {0x7E, 0xFF, 0x7D}, 4},
                      ReplyCase{"ThreeBytesWrongAddress", {0x7E, 0x00, 0x7D}, 4},
                      ReplyCase{"DoubleFlag", {0x7E, 0x7E, 0xFF, 0x7D, 0x23}, 1},
                      ReplyCase{"WrongAddressAndControl", {0x7E, 0x01, 0x7D, 0x00}, 1},
                      ReplyCase{"UnescapedControl", {0x7E, 0xFF, 0x03, 0x0C, 0x0C}, 2},
                      ReplyCase{"HeaderOnly", {0x7E, 0xFF, 0x7D, 0x23}, 0},
                      ReplyCase{"ThirdByteNotExamined", {0x7E, 0xFF, 0x00, 0x23, 0x0C, 0x0C}, 0}),
    ByName{});

TEST(ParseReply, HandsetAck_DecodesToSevenBytesAndChecksOk) {
  const Bytes& frame = wire::kAckFrame;
  std::uint16_t count = static_cast<std::uint16_t>(frame.size());
  ASSERT_EQ(ParseReply(frame.data(), count), 0);
  EXPECT_EQ(count, 7);
  EXPECT_EQ(Bytes(g_decodedReply.packet.begin(), g_decodedReply.packet.begin() + 7),
            (Bytes{0x0C, 0x0C, 0x00, 0x04, 0xDA, 0x63, 0x7E}));
  EXPECT_EQ(g_decodedReply.address, 0xFF);
  EXPECT_EQ(g_decodedReply.control, 0x03);
  EXPECT_EQ(CheckReply(g_decodedReply.packet.data(), RSP_ACK, 0), 0);
}

TEST(ParseReply, WrongFcsOrMissingClosingFlag_IsStillAccepted) {
  const Bytes badFcs{0x7E, 0xFF, 0x7D, 0x23, 0x7D, 0x2C, 0x7D, 0x2C,
                     0x7D, 0x20, 0x7D, 0x24, 0x12, 0x34, 0x7E};
  std::uint16_t count = static_cast<std::uint16_t>(badFcs.size());
  ASSERT_EQ(ParseReply(badFcs.data(), count), 0);
  EXPECT_EQ(CheckReply(g_decodedReply.packet.data(), RSP_ACK, 0), 0);

  const Bytes noFlag{0x7E, 0xFF, 0x7D, 0x23, 0x7D, 0x2C, 0x7D, 0x2C};
  count = static_cast<std::uint16_t>(noFlag.size());
  ASSERT_EQ(ParseReply(noFlag.data(), count), 0);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(CheckReply(g_decodedReply.packet.data(), RSP_ACK, 0), 0);
}

TEST(ParseReply, TrailingLoneEscape_IsDropped) {
  const Bytes reply{0x7E, 0xFF, 0x7D, 0x23, 0x0C, 0x0C, 0x7D};
  std::uint16_t count = static_cast<std::uint16_t>(reply.size());
  ASSERT_EQ(ParseReply(reply.data(), count), 0);
  EXPECT_EQ(count, 2);
}

TEST(ParseReply, EscapedFlagInsideReply_IsDecodedAndBareFlagKept) {
  const Bytes reply{0x7E, 0xFF, 0x7D, 0x23, 0x7D, 0x5E, 0x7E, 0x7D, 0x5D};
  std::uint16_t count = static_cast<std::uint16_t>(reply.size());
  ASSERT_EQ(ParseReply(reply.data(), count), 0);
  EXPECT_EQ(Bytes(g_decodedReply.packet.begin(), g_decodedReply.packet.begin() + count),
            (Bytes{0x7E, 0x7E, 0x7D}));
}

TEST(ParseReply, TwoFramesInOneRead_OnlyTheFirstIsExamined) {
  // RSP_DATA_ACK 3 followed by RSP_DATA_ACK 4.
  SetFrameHeader();
  Bytes both;
  for (std::uint16_t seq : {3, 4}) {
    const Bytes packet{0x0E, 0x0E, 0x00, 0x06, 0x00, static_cast<std::uint8_t>(seq)};
    const std::uint16_t n = BuildFrame(packet.data(), 6);
    both.insert(both.end(), g_frameBuffer.begin(), g_frameBuffer.begin() + n);
  }
  std::uint16_t count = static_cast<std::uint16_t>(both.size());
  ASSERT_EQ(ParseReply(both.data(), count), 0);
  EXPECT_EQ(CheckReply(g_decodedReply.packet.data(), RSP_DATA_ACK, 3), 0);
  EXPECT_EQ(CheckReply(g_decodedReply.packet.data(), RSP_DATA_ACK, 4), 2);
  // The second frame is decoded after the first's closing flag, its own flag kept as it is.
  EXPECT_EQ(g_decodedReply.packet[9], 0x7E);
  EXPECT_EQ(g_decodedReply.packet[10], 0xFF);
}

TEST(ParseReply, MoreBytesThanTheDecodedArea_StopsAtItsEnd) {
  Bytes reply{0x7E, 0xFF, 0x7D, 0x23};
  reply.resize(4 + kDecodedPacketCapacity + 100, 0x41);
  std::uint16_t count = static_cast<std::uint16_t>(reply.size());
  ASSERT_EQ(ParseReply(reply.data(), count), 0);
  EXPECT_EQ(count, kDecodedPacketCapacity);
}

struct CheckCase {
  const char* name;
  Bytes decoded;
  std::uint16_t code;
  std::uint16_t sequence;
  std::uint16_t result;
};

class CheckCodes : public ::testing::TestWithParam<CheckCase> {};

// CheckReply on replies that went through ParseReply, so that the decoded length counts.
TEST_P(CheckCodes, CheckReply_OnDecodedReply) {
  const CheckCase& c = GetParam();
  // Stale bytes that would pass any check if they were read.
  const Bytes stale{0x0E, 0x0E, 0x00, 0x06, 0x00, 0x06, 0x0C, 0x0C};
  std::copy(stale.begin(), stale.end(), g_decodedReply.packet.begin());
  Bytes reply{0x7E, 0xFF, 0x7D, 0x23};
  for (std::uint8_t b : c.decoded) {
    if (NeedsEscape(b)) {
      reply.push_back(0x7D);
      reply.push_back(b ^ 0x20);
    } else {
      reply.push_back(b);
    }
  }
  std::uint16_t count = static_cast<std::uint16_t>(reply.size());
  ASSERT_EQ(ParseReply(reply.data(), count), 0);
  EXPECT_EQ(CheckReply(g_decodedReply.packet.data(), c.code, c.sequence), c.result);
}

INSTANTIATE_TEST_SUITE_P(
    CheckTable, CheckCodes,
    ::testing::Values(
        CheckCase{"AckMatches", {0x0C, 0x0C, 0x00, 0x04}, RSP_ACK, 0, 0},
        CheckCase{"AckAnyLengthField", {0x0C, 0x0C, 0xBE, 0xEF}, RSP_ACK, 9, 0},
        CheckCase{"AckCodeOnly", {0x0C, 0x0C}, RSP_ACK, 0, 0},
        CheckCase{"AckExpectedDataAckCame", {0x0E, 0x0E, 0x00, 0x06, 0x00, 0x00}, RSP_ACK, 0, 1},
        CheckCase{"DataAckMatches", {0x0E, 0x0E, 0x00, 0x06, 0x00, 0x06}, RSP_DATA_ACK, 6, 0},
        CheckCase{"DataAckOtherSequence", {0x0E, 0x0E, 0x00, 0x06, 0x00, 0x05}, RSP_DATA_ACK, 6, 2},
        CheckCase{
            "DataAckHighByteCounts", {0x0E, 0x0E, 0x00, 0x06, 0x01, 0x06}, RSP_DATA_ACK, 6, 2},
        CheckCase{
            "DataAckExpectedAckCame", {0x0C, 0x0C, 0x00, 0x04, 0x00, 0x06}, RSP_DATA_ACK, 6, 1},
        CheckCase{"EmptyPacketForAck", {}, RSP_ACK, 0, 1},
        CheckCase{"OneBytePacketForAck", {0x0C}, RSP_ACK, 0, 1},
        CheckCase{"ShortDataAck", {0x0E, 0x0E, 0x00, 0x06, 0x00}, RSP_DATA_ACK, 6, 1}),
    ByName{});

TEST(CheckReply, AfterAFailedParse_NothingPasses) {
  std::uint16_t count = 15;
  const Bytes& ack = wire::kAckFrame;
  ASSERT_EQ(ParseReply(ack.data(), count), 0);
  count = 2;
  const Bytes ok{'O', 'K'};
  ASSERT_EQ(ParseReply(ok.data(), count), 4);
  EXPECT_EQ(CheckReply(g_decodedReply.packet.data(), RSP_ACK, 0), 1);
}

TEST(CheckReply, CallersOwnBuffer_IsTestedByItsBytes) {
  const Bytes mine{0x0E, 0x0E, 0x00, 0x06, 0x00, 0x05};
  EXPECT_EQ(CheckReply(mine.data(), RSP_DATA_ACK, 6), 2);
  EXPECT_EQ(CheckReply(mine.data(), RSP_DATA_ACK, 5), 0);
  EXPECT_EQ(CheckReply(mine.data(), RSP_ACK, 5), 1);
}

// A reply that begins as a frame but stops before its header is whole was cut, not garbled: the
// code stays the codec's, the reason tells the two apart.
TEST(ReplyFault, FlagWithoutTheWholeHeader_IsACutReply) {
  const std::uint8_t reply[] = {kFrameFlag, kFrameAddress};
  std::uint16_t count = sizeof reply;
  const std::uint16_t parsed = ParseReply(reply, count);
  EXPECT_EQ(parsed, PARSE_ERR_NOFLAG);
  EXPECT_EQ(ReplyFault(reply, sizeof reply, parsed, CHECK_OK, RSP_ACK), FailureReason::CutReply);
}

}  // namespace

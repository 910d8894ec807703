#include "protocol/frame_codec.h"

#include <cstring>

namespace {

constexpr unsigned kFcsPolynomial = 0x8408U;  // x^16 + x^12 + x^5 + 1, bit-reflected

// RFC 1662 fcstab: the reflected polynomial, one entry per byte value.
constexpr std::array<std::uint16_t, 256> MakeFcsTable() {
  std::array<std::uint16_t, 256> table{};
  for (unsigned b = 0; b < 256; ++b) {
    unsigned v = b;
    for (int bit = 0; bit < 8; ++bit) {
      v = (v & 1U) != 0 ? (v >> 1) ^ kFcsPolynomial : v >> 1;
    }
    table[b] = static_cast<std::uint16_t>(v);
  }
  return table;
}

constexpr std::array<std::uint16_t, 256> kFcsTable = MakeFcsTable();
// Two entries of the published table.
static_assert(kFcsTable[1] == 0x1189 &&      // NOLINT(readability-magic-numbers)
                  kFcsTable[255] == 0x0F78,  // NOLINT(readability-magic-numbers)
              "fcstab mismatch");

void PutBigEndian(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value >> 8);
  at[1] = static_cast<std::uint8_t>(value & 0xFF);
}

std::uint16_t GetBigEndian(const std::uint8_t* at) {
  return static_cast<std::uint16_t>((at[0] << 8) | at[1]);
}

// Size of the reply header that ParseReply needs whole: flag, address, escape, control.
constexpr std::uint16_t kReplyHeaderSize = 4;

}  // namespace

PacketArea g_packetArea{};
FrameArea g_frameArea{};
std::array<std::uint8_t, kFrameBufferCapacity> g_frameBuffer{};
DecodedReply g_decodedReply{};
std::uint16_t g_imageFcs = 0;
std::uint16_t g_decodedLength = 0;

void SetFrameHeader() {
  g_frameArea.bytes[FrameArea::kFlag] = kFrameFlag;
  g_frameArea.bytes[FrameArea::kAddress] = kFrameAddress;
  g_frameArea.bytes[FrameArea::kControl] = kFrameControl;
}

void BuildControlPacket(std::uint16_t code) {
  std::uint8_t* p = g_packetArea.bytes.data();
  PutBigEndian(p, code);
  if (code == CMD_END) {
    PutBigEndian(p + 2, static_cast<std::uint16_t>(kEndPacketSize));
    PutBigEndian(p + 4, g_imageFcs);
  } else {
    PutBigEndian(p + 2, static_cast<std::uint16_t>(kControlPacketSize));
  }
}

void BuildDataPacket(std::uint16_t code, std::uint16_t sequence, const std::uint8_t* payload,
                     std::uint16_t n) {
  if (n > kPacketPayloadCapacity) {
    n = static_cast<std::uint16_t>(kPacketPayloadCapacity);
  }
  std::uint8_t* p = g_packetArea.bytes.data();
  PutBigEndian(p, code);
  PutBigEndian(p + 2, static_cast<std::uint16_t>(n + kPacketHeaderSize));
  PutBigEndian(p + 4, sequence);
  if (n > 0) {
    std::memmove(p + kPacketHeaderSize, payload, n);
  }
}

std::uint16_t BuildFrame(const std::uint8_t* packet, std::uint16_t length) {
  if (length > kMaxFramedPacket) {
    return 0;
  }
  // The packet may already be the packet area or even the frame body: memmove copes with both.
  if (length > 0) {
    std::memmove(g_frameArea.body(), packet, length);
  }
  // Address, control and packet lie contiguously from the frame area's address byte on.
  const std::uint8_t* from = g_frameArea.bytes.data() + FrameArea::kAddress;
  const std::uint16_t fcs = static_cast<std::uint16_t>(~Fcs16(kFcsInitial, from, length + 2U));
  g_frameArea.body()[length] = static_cast<std::uint8_t>(fcs & 0xFF);
  g_frameArea.body()[length + 1U] = static_cast<std::uint8_t>(fcs >> 8);

  std::uint8_t* out = g_frameBuffer.data();
  std::size_t n = 0;
  out[n++] = kFrameFlag;
  const std::size_t escaped = length + 4U;  // address, control, packet, FCS low, FCS high
  for (std::size_t i = 0; i < escaped; ++i) {
    const std::uint8_t b = from[i];
    if (NeedsEscape(b)) {
      out[n++] = kFrameEscape;
      out[n++] = static_cast<std::uint8_t>(b ^ kEscapeXor);
    } else {
      out[n++] = b;
    }
  }
  out[n++] = kFrameFlag;
  return static_cast<std::uint16_t>(n);
}

std::uint16_t ParseReply(const std::uint8_t* bytes, std::uint16_t& count) {
  g_decodedLength = 0;
  if (count == 0) {
    return PARSE_ERR_NOREPLY;
  }
  if (bytes[0] != kFrameFlag || count < kReplyHeaderSize) {
    return PARSE_ERR_NOFLAG;
  }
  g_decodedReply.address = bytes[1];
  g_decodedReply.control = static_cast<std::uint8_t>(bytes[3] ^ kEscapeXor);
  if (g_decodedReply.address != kFrameAddress) {
    return PARSE_ERR_ADDRESS;
  }
  if (g_decodedReply.control != kFrameControl) {
    return PARSE_ERR_CONTROL;
  }
  // Decode to the end of the received bytes; no FCS check and no search for the closing flag.
  // A lone escape byte at the very end has nothing to apply to and is dropped.
  std::uint8_t* out = g_decodedReply.packet.data();
  std::size_t n = 0;
  for (std::size_t i = kReplyHeaderSize; i < count && n < kDecodedPacketCapacity; ++i) {
    if (bytes[i] == kFrameEscape) {
      if (++i == count) {
        break;
      }
      out[n++] = static_cast<std::uint8_t>(bytes[i] ^ kEscapeXor);
    } else {
      out[n++] = bytes[i];
    }
  }
  g_decodedLength = static_cast<std::uint16_t>(n);
  count = g_decodedLength;
  return PARSE_OK;
}

std::uint16_t CheckReply(const std::uint8_t* decoded, std::uint16_t code, std::uint16_t sequence) {
  // Only the decoded reply area can hold stale bytes; its length says how many are this reply's.
  const bool fromDecoder = decoded == g_decodedReply.packet.data();
  if (fromDecoder && g_decodedLength < ReplyBytesNeeded(code)) {
    return CHECK_ERR_CODE;
  }
  if (GetBigEndian(decoded) != code) {
    return CHECK_ERR_CODE;
  }
  if (code == RSP_DATA_ACK && GetBigEndian(decoded + 4) != sequence) {
    return CHECK_ERR_SEQUENCE;
  }
  return CHECK_OK;
}

std::uint16_t Fcs16(std::uint16_t initial, const std::uint8_t* bytes, std::uint32_t count) {
  std::uint16_t fcs = initial;
  for (std::uint32_t i = 0; i < count; ++i) {
    fcs = static_cast<std::uint16_t>((fcs >> 8) ^ kFcsTable[(fcs ^ bytes[i]) & 0xFFU]);
  }
  return fcs;
}

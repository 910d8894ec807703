// libFuzzer target: ParseReply and CheckReply on whatever one read might return.
//
// Besides the sanitizers' checks it compares the decoder with a plain reference decoding, and
// checks that a frame BuildFrame makes from the input decodes back to the packet it carries.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "protocol/frame_codec.h"

namespace {

void Require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

std::uint16_t BigEndian(const std::uint8_t* at) {
  return static_cast<std::uint16_t>((at[0] << 8) | at[1]);
}

// What the decoder must produce for a reply with an accepted header: every byte from the fifth
// on, an escape dropped and the byte after it XOR 0x20, a trailing lone escape dropped.
std::vector<std::uint8_t> ReferenceDecode(const std::uint8_t* bytes, std::size_t count) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 4; i < count && out.size() < kDecodedPacketCapacity; ++i) {
    if (bytes[i] == kFrameEscape) {
      if (++i == count) {
        break;
      }
      out.push_back(static_cast<std::uint8_t>(bytes[i] ^ kEscapeXor));
    } else {
      out.push_back(bytes[i]);
    }
  }
  return out;
}

// The expected codes CheckReply is asked for, and a sequence number taken from the input.
void CheckAgainstDecoded(std::uint16_t sequence) {
  const std::uint8_t* decoded = g_decodedReply.packet.data();
  for (const std::uint16_t code : {RSP_ACK, RSP_DATA_ACK}) {
    const std::uint16_t result = CheckReply(decoded, code, sequence);
    const std::size_t needed = code == RSP_DATA_ACK ? 6 : 2;
    std::uint16_t expected = CHECK_OK;
    if (g_decodedLength < needed || BigEndian(decoded) != code) {
      expected = CHECK_ERR_CODE;
    } else if (code == RSP_DATA_ACK && BigEndian(decoded + 4) != sequence) {
      expected = CHECK_ERR_SEQUENCE;
    }
    Require(result == expected);
  }
}

void FuzzReply(const std::uint8_t* data, std::size_t size) {
  // A copy of exactly `size` bytes, so that a read beyond the count is a heap overflow.
  const std::size_t count = size > 0xFFFF ? 0xFFFF : size;
  std::vector<std::uint8_t> reply(data, data + count);
  const std::uint8_t* bytes = reply.empty() ? nullptr : reply.data();
  std::uint16_t n = static_cast<std::uint16_t>(count);
  const std::uint16_t result = ParseReply(bytes, n);

  std::uint16_t expected = PARSE_OK;
  if (count == 0) {
    expected = PARSE_ERR_NOREPLY;
  } else if (bytes[0] != kFrameFlag || count < 4) {
    expected = PARSE_ERR_NOFLAG;
  } else if (bytes[1] != kFrameAddress) {
    expected = PARSE_ERR_ADDRESS;
  } else if ((bytes[3] ^ kEscapeXor) != kFrameControl) {
    expected = PARSE_ERR_CONTROL;
  }
  Require(result == expected);
  if (result != PARSE_OK) {
    Require(n == count);  // left as it was
    Require(g_decodedLength == 0);
    CheckAgainstDecoded(0);
    return;
  }
  const std::vector<std::uint8_t> want = ReferenceDecode(bytes, count);
  Require(n == want.size() && g_decodedLength == n);
  Require(want.empty() || std::memcmp(g_decodedReply.packet.data(), want.data(), want.size()) == 0);
  const std::uint16_t sequence = count >= 2 ? BigEndian(bytes + count - 2) : 0;
  CheckAgainstDecoded(sequence);
}

// The input as a packet: its frame must decode to the packet, its FCS (low byte first) and the
// closing flag, and the FCS must leave the good residue.
void FuzzRoundTrip(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxFramedPacket) {
    size = kMaxFramedPacket;
  }
  SetFrameHeader();
  const std::vector<std::uint8_t> packet(data, data + size);
  const std::uint16_t frameLength = BuildFrame(
      packet.empty() ? g_packetArea.bytes.data() : packet.data(), static_cast<std::uint16_t>(size));
  Require(frameLength >= size + 6 && frameLength <= 2 * (size + 4) + 2);
  Require(g_frameBuffer[0] == kFrameFlag && g_frameBuffer[frameLength - 1] == kFrameFlag);
  for (std::size_t i = 1; i + 1 < frameLength; ++i) {
    Require(g_frameBuffer[i] != kFrameFlag);
  }
  std::vector<std::uint8_t> frame(g_frameBuffer.begin(), g_frameBuffer.begin() + frameLength);
  std::uint16_t n = frameLength;
  Require(ParseReply(frame.data(), n) == PARSE_OK);
  Require(n == size + 3);
  Require(size == 0 || std::memcmp(g_decodedReply.packet.data(), packet.data(), size) == 0);
  Require(g_decodedReply.packet[size + 2] == kFrameFlag);
  const std::uint8_t header[2] = {kFrameAddress, kFrameControl};
  std::uint16_t fcs = Fcs16(kFcsInitial, header, 2);
  fcs = Fcs16(fcs, g_decodedReply.packet.data(), size + 2U);
  Require(fcs == kFcsGoodResidue);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzReply(data, size);
  FuzzRoundTrip(data, size);
  return 0;
}

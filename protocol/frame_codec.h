// Frame codec: the packets the PC sends to the handset, the HDLC-like frame that carries each
// of them on the wire, the decoder for the handset's replies and the FCS-16.
//
// Contract:
// - No I/O and no allocation: every operation works in the process-wide areas below.
// - The areas are unguarded; one thread (the download worker, inside one transfer) uses them.
// - SetFrameHeader runs once per transfer before the first BuildFrame.
// - ParseReply never reads a byte beyond the count it is given; CheckReply never decides on
//   bytes that the last ParseReply did not decode.
// - Result codes are small unsigned numbers; 0 is success. Nothing throws.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Packet codes; both bytes of each code are equal.
inline constexpr std::uint16_t CMD_BEGIN = 0x0A0A;  // PC: begin a transfer
inline constexpr std::uint16_t CMD_END = 0x0B0B;    // PC: end of transfer, carries the image FCS
inline constexpr std::uint16_t RSP_ACK = 0x0C0C;    // handset: acknowledges CMD_BEGIN and CMD_END
inline constexpr std::uint16_t CMD_DATA = 0x0D0D;   // PC: one numbered data block
inline constexpr std::uint16_t RSP_DATA_ACK = 0x0E0E;  // handset: acknowledges one data block

// Wire constants.
inline constexpr std::uint8_t kFrameFlag = 0x7E;     // opens and closes every frame, never escaped
inline constexpr std::uint8_t kFrameAddress = 0xFF;  // the only address of the link
inline constexpr std::uint8_t kFrameControl = 0x03;  // unnumbered information
inline constexpr std::uint8_t kFrameEscape = 0x7D;   // precedes an escaped byte
inline constexpr std::uint8_t kEscapeXor = 0x20;     // applied to the byte after an escape

inline constexpr std::uint16_t kFcsInitial = 0xFFFF;      // start value of every FCS-16
inline constexpr std::uint16_t kFcsGoodResidue = 0xF0B8;  // FCS-16 over data plus its own FCS

// Packet layout.
inline constexpr std::size_t kPacketHeaderSize =
    6;  // code, length and sequence number or image FCS
inline constexpr std::size_t kControlPacketSize = 4;  // CMD_BEGIN: code and length only
inline constexpr std::size_t kEndPacketSize = 6;      // CMD_END: code, length and image FCS
inline constexpr std::size_t kMaxPayload = 1024;      // most payload bytes one CMD_DATA carries

// Capacities of the process-wide areas.
inline constexpr std::size_t kPacketPayloadCapacity = 2050;  // payload room of the packet area
inline constexpr std::size_t kFrameBodyCapacity = 4101;      // packet copy plus its two FCS bytes
inline constexpr std::size_t kFrameBufferCapacity = 8193;    // the encoded frame
inline constexpr std::size_t kDecodedPacketCapacity = 4101;  // decoded reply packet

// Longest packet BuildFrame accepts: its copy and FCS must fit the frame body, and its frame
// must fit the frame buffer even when every byte from the address on is escaped.
inline constexpr std::size_t kMaxFramedPacket =
    (kFrameBodyCapacity - 2) < ((kFrameBufferCapacity - 2) / 2 - 4)
        ? (kFrameBodyCapacity - 2)
        : ((kFrameBufferCapacity - 2) / 2 - 4);

// ParseReply results, tested in this order.
enum ParseResult : std::uint16_t {
  PARSE_OK = 0,
  PARSE_ERR_ADDRESS = 1,  // the address byte is not 0xFF
  PARSE_ERR_CONTROL = 2,  // the control byte (fourth byte XOR 0x20) is not 0x03
  PARSE_ERR_NOFLAG = 4,   // the first byte is not 0x7E, or the header is incomplete
  PARSE_ERR_NOREPLY = 5,  // the read returned no bytes
};

// CheckReply results.
enum CheckResult : std::uint16_t {
  CHECK_OK = 0,
  CHECK_ERR_CODE = 1,      // another packet code, or too few decoded bytes to test
  CHECK_ERR_SEQUENCE = 2,  // RSP_DATA_ACK of another sequence number
};

// The packet area: where the builders put a packet.
struct PacketArea {
  std::array<std::uint8_t, kPacketHeaderSize + kPacketPayloadCapacity> bytes;
};

// The frame area: the unescaped frame from the opening flag to the FCS, as one run of bytes so
// that the FCS and the escaping can walk from the address byte straight into the body.
struct FrameArea {
  static constexpr std::size_t kFlag = 0;
  static constexpr std::size_t kAddress = 1;
  static constexpr std::size_t kControl = 2;
  static constexpr std::size_t kBody = 3;  // packet copy, then FCS low and high
  std::array<std::uint8_t, kBody + kFrameBodyCapacity> bytes;
  std::uint8_t* body() { return bytes.data() + kBody; }
};

// The decoded reply: its address and control bytes, then the decoded bytes after them.
struct DecodedReply {
  std::uint8_t address;
  std::uint8_t control;
  std::array<std::uint8_t, kDecodedPacketCapacity> packet;
};

extern PacketArea g_packetArea;
extern FrameArea g_frameArea;
extern std::array<std::uint8_t, kFrameBufferCapacity> g_frameBuffer;
extern DecodedReply g_decodedReply;
extern std::uint16_t g_imageFcs;       // placed in CMD_END by BuildControlPacket
extern std::uint16_t g_decodedLength;  // bytes the last ParseReply decoded (0 after a failure)

// Writes the opening flag, address and control into the frame area.
void SetFrameHeader();

// Builds CMD_BEGIN (or any code but CMD_END: code and length 4) or CMD_END (code, length 6 and
// g_imageFcs) in the packet area.
void BuildControlPacket(std::uint16_t code);

// Builds a data packet in the packet area: code, length n + 6, sequence number, n payload bytes.
// The transfer passes at most kMaxPayload bytes; an n beyond the packet area's payload room is
// cut to that room so that the area is never overrun.
void BuildDataPacket(std::uint16_t code, std::uint16_t sequence, const std::uint8_t* payload,
                     std::uint16_t n);

// Wraps `length` packet bytes into an escaped frame with its FCS in g_frameBuffer and returns
// the frame's byte count, both flags included. A length above kMaxFramedPacket builds nothing
// and returns 0.
std::uint16_t BuildFrame(const std::uint8_t* packet, std::uint16_t length);

// Decodes the bytes of one read into g_decodedReply. On 0, `count` holds the number of decoded
// bytes; on any other result it is left as it was.
std::uint16_t ParseReply(const std::uint8_t* bytes, std::uint16_t& count);

// The decoded bytes a reply needs before CheckReply can test it: the code, and for RSP_DATA_ACK
// the length and the sequence number as well. A decoded reply shorter than this fails with
// CHECK_ERR_CODE.
constexpr std::size_t ReplyBytesNeeded(std::uint16_t expectedCode) {
  return expectedCode == RSP_DATA_ACK ? kPacketHeaderSize : 2;
}

// Tests a decoded reply against the expected code and, for RSP_DATA_ACK, sequence number.
std::uint16_t CheckReply(const std::uint8_t* decoded, std::uint16_t code, std::uint16_t sequence);

// The running FCS-16 over `count` bytes from `initial`, not complemented.
std::uint16_t Fcs16(std::uint16_t initial, const std::uint8_t* bytes, std::uint32_t count);

// True for the byte values that travel escaped between the flags.
constexpr bool NeedsEscape(std::uint8_t byte) {
  return byte <= 0x20 || byte == kFrameEscape || byte == kFrameFlag;
}

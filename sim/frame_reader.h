// The simulator's own frame reader and writer for the handset link.
//
// Contract:
// - No I/O. CFrameReader is a "push bytes in, frames and reasons out" state machine; it keeps
//   its state across pushes, so a frame may arrive split over any number of pushes.
// - Every flag 0x7E ends the frame before it and opens the next; empty frames between two flags
//   are skipped. Bytes before the first flag are reported once, as garbage, when a flag arrives.
// - A received frame is checked in this order: escapes (a 0x7D before a flag, a needless escape,
//   a byte of the escaped set sent unescaped), size, address 0xFF, control 0x03, the FCS by the
//   good residue, and the packet's length field against the packet's size.
// - BuildFrame builds frames exactly as the PC does: flag, escaped address, control, packet,
//   FCS low then high byte, flag.
// - Not thread-safe; one reader per link.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace sim {

// Packet codes; both bytes of each code are equal.
inline constexpr std::uint16_t kCmdBegin = 0x0A0A;    // PC: begin a transfer
inline constexpr std::uint16_t kCmdEnd = 0x0B0B;      // PC: end of transfer, carries the image FCS
inline constexpr std::uint16_t kRspAck = 0x0C0C;      // handset: acknowledges begin and end
inline constexpr std::uint16_t kCmdData = 0x0D0D;     // PC: one numbered data block
inline constexpr std::uint16_t kRspDataAck = 0x0E0E;  // handset: acknowledges one data block

// Wire constants.
inline constexpr std::uint8_t kFlag = 0x7E;           // opens and closes every frame, never escaped
inline constexpr std::uint8_t kAddress = 0xFF;        // the only address of the link
inline constexpr std::uint8_t kControl = 0x03;        // unnumbered information
inline constexpr std::uint8_t kEscape = 0x7D;         // precedes an escaped byte
inline constexpr std::uint8_t kEscapeXor = 0x20;      // applied to the byte after an escape
inline constexpr std::uint16_t kFcsInitial = 0xFFFF;  // start value of every FCS-16
inline constexpr std::uint16_t kFcsGoodResidue = 0xF0B8;  // FCS-16 over data plus its own FCS

// Packet layout.
inline constexpr std::size_t kControlPacketSize = 4;  // begin and ack: code and length
inline constexpr std::size_t kHeaderSize = 6;         // code, length, sequence number or image FCS
inline constexpr std::size_t kMaxPayload = 1024;      // most payload bytes one data packet carries
// Largest decoded frame the reader keeps (address, control, packet, FCS); anything longer is
// rejected as too long. Far above the 1,034 bytes of the largest frame the PC sends.
inline constexpr std::size_t kMaxFrameBody = 4200;

// Why a received frame was not taken. The first seven come from the reader; the rest from the
// handset, which knows the packet codes.
enum class RejectReason : std::uint8_t {
  Garbage,         // bytes outside any frame (before the first flag)
  AbortedEscape,   // 0x7D directly before a flag
  NeedlessEscape,  // 0x7D before a byte that is not in the escaped set
  UnescapedByte,   // a byte of the escaped set (0x00 to 0x20) sent without escape
  TooShort,        // fewer bytes than address, control, code, length and FCS
  TooLong,         // more than kMaxFrameBody decoded bytes
  BadAddress,      // address byte is not 0xFF
  BadControl,      // control byte is not 0x03
  BadFcs,          // FCS over the frame does not leave the good residue
  BadLength,       // the packet's length field differs from the packet's size
  UnknownCode,     // a packet code the handset does not take
  WrongSize,       // a known code with a size that code never has
  Count,
};
inline constexpr std::size_t kRejectKinds = static_cast<std::size_t>(RejectReason::Count);

std::string_view RejectName(RejectReason reason);

// FCS-16 (reflected polynomial 0x8408), running value, not complemented.
std::uint16_t Fcs16(std::uint16_t fcs, const std::uint8_t* data, std::size_t size);
// FCS of a whole image as the end request carries it: initial 0xFFFF, result complemented.
std::uint16_t ImageFcs(const std::uint8_t* data, std::size_t size);
// True for the bytes that travel escaped: 0x00 to 0x20, 0x7D and 0x7E.
bool IsEscaped(std::uint8_t byte);

// The frame of one packet, as the PC builds it.
std::vector<std::uint8_t> BuildFrame(const std::vector<std::uint8_t>& packet);
// Packets the handset sends.
std::vector<std::uint8_t> AckPacket(std::uint16_t code = kRspAck);
std::vector<std::uint8_t> DataAckPacket(std::uint16_t sequence, std::uint16_t code = kRspDataAck);

struct FrameEvent {
  bool accepted = false;
  RejectReason reason = RejectReason::Garbage;  // meaningful when not accepted
  std::vector<std::uint8_t> packet;  // the decoded packet without address, control and FCS
  std::size_t wireBytes = 0;         // bytes on the wire, flags included
};

class CFrameReader {
 public:
  // Feeds one byte; returns true when it completed an event, which is then in `event`.
  bool PushByte(std::uint8_t byte, FrameEvent& event);
  // Feeds a run of bytes and appends every completed event.
  void Push(const std::uint8_t* data, std::size_t size, std::vector<FrameEvent>& events);
  // Forgets any partial frame and hunts for a flag again.
  void Reset();

 private:
  void Finish(FrameEvent& event);
  void StartFrame();
  void Fault(RejectReason reason);

  bool m_inFrame = false;
  bool m_escape = false;
  bool m_faulted = false;
  RejectReason m_fault = RejectReason::Garbage;
  std::vector<std::uint8_t> m_body;
  std::size_t m_wire = 0;
  std::size_t m_garbage = 0;
};

}  // namespace sim

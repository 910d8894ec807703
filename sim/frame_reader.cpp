#include "sim/frame_reader.h"

#include <array>

namespace sim {
namespace {

constexpr std::array<std::uint16_t, 256> MakeFcsTable() {
  std::array<std::uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned v = i;
    for (int bit = 0; bit < 8; ++bit) v = (v & 1U) ? (v >> 1) ^ 0x8408U : v >> 1;
    table[i] = static_cast<std::uint16_t>(v);
  }
  return table;
}
constexpr std::array<std::uint16_t, 256> kFcsTable = MakeFcsTable();

constexpr std::size_t kMinFrameBody = 2 + 4 + 2;  // address, control, code, length, FCS

}  // namespace

std::string_view RejectName(RejectReason reason) {
  switch (reason) {
    case RejectReason::Garbage:
      return "garbage";
    case RejectReason::AbortedEscape:
      return "aborted escape";
    case RejectReason::NeedlessEscape:
      return "needless escape";
    case RejectReason::UnescapedByte:
      return "unescaped byte";
    case RejectReason::TooShort:
      return "too short";
    case RejectReason::TooLong:
      return "too long";
    case RejectReason::BadAddress:
      return "bad address";
    case RejectReason::BadControl:
      return "bad control";
    case RejectReason::BadFcs:
      return "bad FCS";
    case RejectReason::BadLength:
      return "bad length field";
    case RejectReason::UnknownCode:
      return "unknown code";
    case RejectReason::WrongSize:
      return "wrong size for code";
    case RejectReason::Count:
      break;
  }
  return "?";
}

std::uint16_t Fcs16(std::uint16_t fcs, const std::uint8_t* data, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    fcs = static_cast<std::uint16_t>((fcs >> 8) ^ kFcsTable[(fcs ^ data[i]) & 0xFFU]);
  }
  return fcs;
}

std::uint16_t ImageFcs(const std::uint8_t* data, std::size_t size) {
  return static_cast<std::uint16_t>(Fcs16(kFcsInitial, data, size) ^ 0xFFFFU);
}

bool IsEscaped(std::uint8_t byte) { return byte <= 0x20 || byte == kEscape || byte == kFlag; }

std::vector<std::uint8_t> BuildFrame(const std::vector<std::uint8_t>& packet) {
  std::vector<std::uint8_t> body;
  body.reserve(packet.size() + 4);
  body.push_back(kAddress);
  body.push_back(kControl);
  body.insert(body.end(), packet.begin(), packet.end());
  const std::uint16_t fcs = ImageFcs(body.data(), body.size());
  body.push_back(static_cast<std::uint8_t>(fcs & 0xFFU));
  body.push_back(static_cast<std::uint8_t>(fcs >> 8));

  std::vector<std::uint8_t> frame;
  frame.reserve(body.size() * 2 + 2);
  frame.push_back(kFlag);
  for (std::uint8_t b : body) {
    if (IsEscaped(b)) {
      frame.push_back(kEscape);
      frame.push_back(static_cast<std::uint8_t>(b ^ kEscapeXor));
    } else {
      frame.push_back(b);
    }
  }
  frame.push_back(kFlag);
  return frame;
}

std::vector<std::uint8_t> AckPacket(std::uint16_t code) {
  return {static_cast<std::uint8_t>(code >> 8), static_cast<std::uint8_t>(code & 0xFFU), 0x00,
          0x04};
}

std::vector<std::uint8_t> DataAckPacket(std::uint16_t sequence, std::uint16_t code) {
  return {static_cast<std::uint8_t>(code >> 8),
          static_cast<std::uint8_t>(code & 0xFFU),
          0x00,
          0x06,
          static_cast<std::uint8_t>(sequence >> 8),
          static_cast<std::uint8_t>(sequence & 0xFFU)};
}

void CFrameReader::Reset() {
  m_inFrame = false;
  m_garbage = 0;
  StartFrame();
  m_wire = 0;
}

void CFrameReader::StartFrame() {
  m_escape = false;
  m_faulted = false;
  m_body.clear();
  m_wire = 1;  // the opening flag
}

void CFrameReader::Fault(RejectReason reason) {
  if (!m_faulted) {
    m_faulted = true;
    m_fault = reason;
  }
}

void CFrameReader::Finish(FrameEvent& event) {
  event = FrameEvent{};
  event.wireBytes = m_wire;
  const std::size_t n = m_body.size();
  if (m_faulted) {
    event.reason = m_fault;
  } else if (n < kMinFrameBody) {
    event.reason = RejectReason::TooShort;
  } else if (m_body[0] != kAddress) {
    event.reason = RejectReason::BadAddress;
  } else if (m_body[1] != kControl) {
    event.reason = RejectReason::BadControl;
  } else if (Fcs16(kFcsInitial, m_body.data(), n) != kFcsGoodResidue) {
    event.reason = RejectReason::BadFcs;
  } else {
    event.packet.assign(m_body.begin() + 2, m_body.end() - 2);
    const std::size_t length = (std::size_t{event.packet[2]} << 8) | event.packet[3];
    if (length != event.packet.size()) {
      event.reason = RejectReason::BadLength;
    } else {
      event.accepted = true;
    }
  }
}

bool CFrameReader::PushByte(std::uint8_t byte, FrameEvent& event) {
  if (!m_inFrame) {
    if (byte != kFlag) {
      ++m_garbage;
      return false;
    }
    m_inFrame = true;
    StartFrame();
    if (m_garbage > 0) {
      event = FrameEvent{};
      event.reason = RejectReason::Garbage;
      event.wireBytes = m_garbage;
      m_garbage = 0;
      return true;
    }
    return false;
  }

  ++m_wire;
  if (byte == kFlag) {
    if (m_escape) Fault(RejectReason::AbortedEscape);
    if (m_body.empty() && !m_faulted) {
      StartFrame();  // two flags in a row: the second opens the frame
      return false;
    }
    Finish(event);
    StartFrame();  // the closing flag also opens the next frame
    return true;
  }
  std::uint8_t value = byte;
  if (m_escape) {
    m_escape = false;
    value = static_cast<std::uint8_t>(byte ^ kEscapeXor);
    if (!IsEscaped(value)) Fault(RejectReason::NeedlessEscape);
  } else if (byte == kEscape) {
    m_escape = true;
    return false;
  } else if (IsEscaped(byte)) {
    Fault(RejectReason::UnescapedByte);
  }
  if (m_body.size() < kMaxFrameBody) {
    m_body.push_back(value);
  } else {
    Fault(RejectReason::TooLong);
  }
  return false;
}

void CFrameReader::Push(const std::uint8_t* data, std::size_t size,
                        std::vector<FrameEvent>& events) {
  FrameEvent event;
  for (std::size_t i = 0; i < size; ++i) {
    if (PushByte(data[i], event)) events.push_back(std::move(event));
  }
}

}  // namespace sim

#include "sim/sim_device.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace sim {
namespace {

std::uint16_t Be16(const std::vector<std::uint8_t>& p, std::size_t at) {
  return static_cast<std::uint16_t>((p[at] << 8) | p[at + 1]);
}

// Applies a fault of the kinds every exchange knows to the right answer in `out`; false for the
// kinds only a handset frame can take (another code, another sequence number).
bool ApplyFault(const SimFault& fault, SimOutput& out) {
  out.delay = fault.delay;
  switch (fault.kind) {
    case SimFaultKind::Answer:
      return true;
    case SimFaultKind::Silence:
      out.bytes.clear();
      return true;
    case SimFaultKind::Bytes:
      out.bytes = fault.bytes;
      return true;
    case SimFaultKind::Cut:
      out.cutAt = fault.cutAt.value_or(out.bytes.size() / 2);
      out.pause = fault.pause;
      return true;
    case SimFaultKind::HangUp:
      out.bytes.clear();
      out.hangUp = true;
      return true;
    case SimFaultKind::Code:
    case SimFaultKind::Sequence:
      return false;
  }
  return false;
}

}  // namespace

CSimDevice::CSimDevice(SimDeviceConfig config) : m_config(std::move(config)) {}

void CSimDevice::ResetLink() {
  if (!m_line.empty()) m_stats.discardedLineBytes += m_line.size();
  m_line.clear();
  m_reader.Reset();
  m_stats.mode = SimMode::At;
}

void CSimDevice::OnInput(const std::uint8_t* data, std::size_t size, SimClock::time_point now,
                         std::vector<SimOutput>& outputs) {
  SimFrameEvent event;
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint8_t b = data[i];
    if (m_stats.mode == SimMode::Handset) {
      if (m_reader.PushByte(b, event)) OnFrame(event, i + 1, now, outputs);
      continue;
    }
    if (m_line.size() < kMaxAtLine) {
      m_line.push_back(static_cast<char>(b));
    } else {
      ++m_stats.discardedLineBytes;
    }
    if (b == '\n' && m_line.size() >= 2 && m_line[m_line.size() - 2] == '\r') {
      m_line.resize(m_line.size() - 2);
      const std::string line = std::move(m_line);
      m_line.clear();
      OnLine(line, i + 1, now, outputs);
    }
  }
}

void CSimDevice::OnLine(const std::string& line, std::size_t inputEnd, SimClock::time_point now,
                        std::vector<SimOutput>& outputs) {
  unsigned attempt = 1;
  for (const SimAtCommand& c : m_stats.atCommands) attempt += c.line == line ? 1 : 0;
  m_stats.atCommands.push_back({line, attempt, now});

  const std::optional<std::string>* answer = &m_config.other;
  SimExchangeKey key;
  key.attempt = attempt;
  bool known = true;
  if (line == "AT+CGMM") {
    key.target = SimTarget::AtModel;
    answer = &m_config.model;
  } else if (line == "AT+GMI") {
    key.target = SimTarget::AtMaker;
    answer = &m_config.maker;
  } else if (line == "AT") {
    key.target = SimTarget::AtCheck;
    answer = &m_config.check;
  } else if (line == "ATD**60") {
    key.target = SimTarget::AtDial;
    answer = &m_config.dial;
  } else {
    known = false;
  }
  const SimFault* fault = known ? FindSimFault(m_config.faults, key) : nullptr;

  SimOutput out;
  out.inputEnd = inputEnd;
  if (answer->has_value()) out.bytes.assign((*answer)->begin(), (*answer)->end());
  if (fault != nullptr) {
    ApplyFault(*fault, out);  // the frame-only kinds are refused by the parser for AT commands
  }
  // The handset answers from the byte after a CONNECT that was actually sent.
  const std::string_view sent(reinterpret_cast<const char*>(out.bytes.data()), out.bytes.size());
  if (key.target == SimTarget::AtDial && known && !out.hangUp &&
      sent.find("CONNECT") != std::string_view::npos) {
    m_stats.mode = SimMode::Handset;
    m_reader.Reset();
  }
  if (!out.bytes.empty() || out.hangUp) outputs.push_back(std::move(out));
}

void CSimDevice::Reject(SimReject reason, SimExchange& exchange) {
  exchange.kind = SimExchangeKind::Rejected;
  exchange.reason = reason;
  ++m_stats.rejected;
  ++m_stats.rejects[static_cast<std::size_t>(reason)];
}

void CSimDevice::TakeData(std::uint16_t sequence, const std::uint8_t* payload, std::size_t size) {
  const std::size_t have = m_blockSpans.size();
  if (sequence < have) {
    ++m_stats.retries;
    if (std::size_t{sequence} + 1 != have) {
      m_stats.violations.push_back("block " + std::to_string(sequence) + " resent after block " +
                                   std::to_string(have - 1));
    }
    const auto [offset, oldSize] = m_blockSpans[sequence];
    if (oldSize != size ||
        (size > 0 && std::memcmp(m_stats.image.data() + offset, payload, size) != 0)) {
      m_stats.violations.push_back("block " + std::to_string(sequence) +
                                   " resent with other bytes than its first sending");
    }
    return;
  }
  if (sequence > have) {
    m_stats.violations.push_back("block " + std::to_string(sequence) + " out of order, expected " +
                                 std::to_string(have));
    return;
  }
  if (have > 0 && m_blockSpans.back().second != kMaxPayload) {
    m_stats.violations.push_back("block " + std::to_string(have - 1) +
                                 " is short but not the last");
  }
  if (m_stats.image.size() + size > kMaxImage) {
    m_stats.violations.push_back("image larger than the handset keeps");
    return;
  }
  m_blockSpans.emplace_back(m_stats.image.size(), size);
  m_stats.image.insert(m_stats.image.end(), payload, payload + size);
  m_stats.blocks = m_blockSpans.size();
}

std::optional<std::vector<std::uint8_t>> CSimDevice::TakePacket(
    const std::vector<std::uint8_t>& packet, SimExchange& exchange) {
  const std::uint16_t code = Be16(packet, 0);
  const std::size_t size = packet.size();
  switch (code) {
    case kCmdBegin: {
      if (size != kControlPacketSize) break;
      exchange.kind = SimExchangeKind::Begin;
      exchange.attempt = static_cast<unsigned>(++m_beginAttempts);
      ++m_stats.beginFrames;
      if (m_stats.transfers > 0 && !m_dataSinceBegin && !m_stats.endReceived) {
        ++m_stats.beginRepeats;
      } else {
        ++m_stats.transfers;
      }
      // Every begin starts the image anew: a PC that retries the begin has sent no data yet.
      m_stats.image.clear();
      m_blockSpans.clear();
      m_stats.blocks = 0;
      m_stats.endReceived = false;
      m_stats.endFcsMatched = false;
      m_dataSinceBegin = false;
      return SimAckPacket();
    }
    case kCmdData: {
      if (size < kHeaderSize || size > kHeaderSize + kMaxPayload) break;
      const std::uint16_t sequence = Be16(packet, 4);
      exchange.kind = SimExchangeKind::Data;
      exchange.sequence = sequence;
      exchange.payloadSize = size - kHeaderSize;
      if (m_dataAttempts.size() <= sequence) m_dataAttempts.resize(std::size_t{sequence} + 1, 0);
      exchange.attempt = ++m_dataAttempts[sequence];
      ++m_stats.dataFrames;
      if (m_stats.transfers == 0 || m_stats.endReceived) {
        m_stats.violations.push_back("data block " + std::to_string(sequence) +
                                     " outside a transfer");
      }
      m_dataSinceBegin = true;
      TakeData(sequence, packet.data() + kHeaderSize, size - kHeaderSize);
      return SimDataAckPacket(sequence);
    }
    case kCmdEnd: {
      if (size != kHeaderSize) break;
      exchange.kind = SimExchangeKind::End;
      exchange.attempt = static_cast<unsigned>(++m_endAttempts);
      exchange.sequence = Be16(packet, 4);
      ++m_stats.endFrames;
      if (m_stats.endReceived) m_stats.violations.push_back("end request sent twice");
      m_stats.endReceived = true;
      m_stats.endFcs = exchange.sequence;
      m_stats.imageFcs = SimImageFcs(m_stats.image.data(), m_stats.image.size());
      m_stats.endFcsMatched = m_stats.endFcs == m_stats.imageFcs;
      return SimAckPacket();
    }
    default:
      Reject(SimReject::UnknownCode, exchange);
      return std::nullopt;
  }
  Reject(SimReject::WrongSize, exchange);
  return std::nullopt;
}

void CSimDevice::OnFrame(const SimFrameEvent& event, std::size_t inputEnd, SimClock::time_point now,
                         std::vector<SimOutput>& outputs) {
  if (!event.accepted && event.reason == SimReject::Garbage) {
    m_stats.garbageBytes += event.wireBytes;
    ++m_stats.rejects[static_cast<std::size_t>(SimReject::Garbage)];
    return;
  }
  SimExchange exchange;
  exchange.index = ++m_stats.frames;
  exchange.time = now;
  std::optional<std::vector<std::uint8_t>> reply;
  if (event.accepted) {
    reply = TakePacket(event.packet, exchange);
  } else {
    Reject(event.reason, exchange);
  }

  SimExchangeKey key;
  key.exchange = exchange.index;
  key.attempt = exchange.attempt;
  key.sequence = exchange.sequence;
  switch (exchange.kind) {
    case SimExchangeKind::Begin:
      key.target = SimTarget::Begin;
      break;
    case SimExchangeKind::Data:
      key.target = SimTarget::Data;
      break;
    case SimExchangeKind::End:
      key.target = SimTarget::End;
      break;
    case SimExchangeKind::Rejected:
      key.target = SimTarget::Exchange;
      break;
  }
  const SimFault* fault = FindSimFault(m_config.faults, key);

  SimOutput out;
  out.inputEnd = inputEnd;
  if (reply) out.bytes = BuildSimFrame(*reply);
  exchange.answer = reply ? SimFaultKind::Answer : SimFaultKind::Silence;
  if (fault != nullptr) {
    exchange.answer = fault->kind;
    if (!ApplyFault(*fault, out)) switch (fault->kind) {
        case SimFaultKind::Code: {
          const std::uint16_t other =
              fault->value.value_or(exchange.kind == SimExchangeKind::Data ? kRspAck : kRspDataAck);
          out.bytes =
              BuildSimFrame(other == kRspDataAck ? SimDataAckPacket(exchange.sequence, other)
                                                 : SimAckPacket(other));
          break;
        }
        case SimFaultKind::Sequence:
          out.bytes = BuildSimFrame(SimDataAckPacket(
              fault->value.value_or(static_cast<std::uint16_t>(exchange.sequence - 1U))));
          break;
        default:
          break;
      }
  }
  if (m_stats.exchanges.size() < kMaxExchangeLog) m_stats.exchanges.push_back(exchange);
  // The end request has been taken: the handset leaves its download mode to burn the image.
  if (exchange.kind == SimExchangeKind::End) {
    m_stats.mode = SimMode::At;
    m_line.clear();
  }
  if (!out.bytes.empty() || out.hangUp) outputs.push_back(std::move(out));
}

}  // namespace sim

#include "sim/handset.h"

#include <cstring>
#include <string>

namespace sim {
namespace {

std::uint16_t Be16(const std::vector<std::uint8_t>& p, std::size_t at) {
  return static_cast<std::uint16_t>((p[at] << 8) | p[at + 1]);
}

}  // namespace

void CHandset::OnByte(std::uint8_t byte, std::size_t inputEnd, Clock::time_point now,
                      std::vector<Output>& outputs) {
  if (m_reader.PushByte(byte, m_event)) OnFrame(m_event, inputEnd, now, outputs);
}

void CHandset::Reject(RejectReason reason, Exchange& exchange) {
  exchange.kind = ExchangeKind::Rejected;
  exchange.reason = reason;
  ++m_stats.rejected;
  ++m_stats.rejects[static_cast<std::size_t>(reason)];
}

void CHandset::TakeData(std::uint16_t sequence, const std::uint8_t* payload, std::size_t size) {
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

std::optional<std::vector<std::uint8_t>> CHandset::TakePacket(
    const std::vector<std::uint8_t>& packet, Exchange& exchange) {
  const std::uint16_t code = Be16(packet, 0);
  const std::size_t size = packet.size();
  switch (code) {
    case kCmdBegin: {
      if (size != kControlPacketSize) break;
      exchange.kind = ExchangeKind::Begin;
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
      return AckPacket();
    }
    case kCmdData: {
      if (size < kHeaderSize || size > kHeaderSize + kMaxPayload) break;
      const std::uint16_t sequence = Be16(packet, 4);
      exchange.kind = ExchangeKind::Data;
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
      return DataAckPacket(sequence);
    }
    case kCmdEnd: {
      if (size != kHeaderSize) break;
      exchange.kind = ExchangeKind::End;
      exchange.attempt = static_cast<unsigned>(++m_endAttempts);
      exchange.sequence = Be16(packet, 4);
      ++m_stats.endFrames;
      if (m_stats.endReceived) m_stats.violations.push_back("end request sent twice");
      m_stats.endReceived = true;
      m_stats.endFcs = exchange.sequence;
      m_stats.imageFcs = ImageFcs(m_stats.image.data(), m_stats.image.size());
      m_stats.endFcsMatched = m_stats.endFcs == m_stats.imageFcs;
      return AckPacket();
    }
    default:
      Reject(RejectReason::UnknownCode, exchange);
      return std::nullopt;
  }
  Reject(RejectReason::WrongSize, exchange);
  return std::nullopt;
}

void CHandset::OnFrame(const FrameEvent& event, std::size_t inputEnd, Clock::time_point now,
                       std::vector<Output>& outputs) {
  if (!event.accepted && event.reason == RejectReason::Garbage) {
    m_stats.garbageBytes += event.wireBytes;
    ++m_stats.rejects[static_cast<std::size_t>(RejectReason::Garbage)];
    return;
  }
  Exchange exchange;
  exchange.index = ++m_stats.frames;
  exchange.time = now;
  std::optional<std::vector<std::uint8_t>> reply;
  if (event.accepted) {
    reply = TakePacket(event.packet, exchange);
  } else {
    Reject(event.reason, exchange);
  }

  ExchangeKey key;
  key.exchange = exchange.index;
  key.attempt = exchange.attempt;
  key.sequence = exchange.sequence;
  switch (exchange.kind) {
    case ExchangeKind::Begin:
      key.target = FaultTarget::Begin;
      break;
    case ExchangeKind::Data:
      key.target = FaultTarget::Data;
      break;
    case ExchangeKind::End:
      key.target = FaultTarget::End;
      break;
    case ExchangeKind::Rejected:
      key.target = FaultTarget::Exchange;
      break;
  }
  const Fault* fault = FindFault(m_config.faults, key);

  Output out;
  out.inputEnd = inputEnd;
  if (reply) out.bytes = BuildFrame(*reply);
  exchange.answer = reply ? FaultKind::Answer : FaultKind::Silence;
  if (fault != nullptr) {
    exchange.answer = fault->kind;
    if (!ApplyFault(*fault, out)) switch (fault->kind) {
        case FaultKind::Code: {
          const std::uint16_t other =
              fault->value.value_or(exchange.kind == ExchangeKind::Data ? kRspAck : kRspDataAck);
          out.bytes = BuildFrame(other == kRspDataAck ? DataAckPacket(exchange.sequence, other)
                                                      : AckPacket(other));
          break;
        }
        case FaultKind::Sequence:
          out.bytes = BuildFrame(DataAckPacket(
              fault->value.value_or(static_cast<std::uint16_t>(exchange.sequence - 1U))));
          break;
        default:
          break;
      }
  }
  if (m_stats.exchanges.size() < kMaxExchangeLog) m_stats.exchanges.push_back(exchange);
  // The end request has been taken: the handset leaves its download mode to burn the image.
  if (exchange.kind == ExchangeKind::End) m_stats.mode = Mode::At;
  if (!out.bytes.empty() || out.hangUp) outputs.push_back(std::move(out));
}

}  // namespace sim

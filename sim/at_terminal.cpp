#include "sim/at_terminal.h"

#include <string_view>
#include <utility>

namespace sim {

bool ApplyFault(const Fault& fault, Output& out) {
  out.delay = fault.delay;
  switch (fault.kind) {
    case FaultKind::Answer:
      return true;
    case FaultKind::Silence:
      out.bytes.clear();
      return true;
    case FaultKind::Bytes:
      out.bytes = fault.bytes;
      return true;
    case FaultKind::Cut:
      out.cutAt = fault.cutAt.value_or(out.bytes.size() / 2);
      out.pause = fault.pause;
      return true;
    case FaultKind::HangUp:
      out.bytes.clear();
      out.hangUp = true;
      return true;
    case FaultKind::Code:
    case FaultKind::Sequence:
      return false;
  }
  return false;
}

CAtTerminal::CAtTerminal(DeviceConfig config) : m_config(std::move(config)) {}

void CAtTerminal::ResetLink() {
  if (!m_line.empty()) m_stats.discardedLineBytes += m_line.size();
  m_line.clear();
  m_handset.ResetLink();
  m_stats.mode = Mode::At;
}

void CAtTerminal::OnInput(const std::uint8_t* data, std::size_t size, Clock::time_point now,
                          std::vector<Output>& outputs) {
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint8_t b = data[i];
    if (m_stats.mode == Mode::Handset) {
      m_handset.OnByte(b, i + 1, now, outputs);
      // Taking the end request ends the download mode: what follows is AT input again.
      if (m_stats.mode == Mode::At) m_line.clear();
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

void CAtTerminal::OnLine(const std::string& line, std::size_t inputEnd, Clock::time_point now,
                         std::vector<Output>& outputs) {
  unsigned attempt = 1;
  for (const AtCommand& c : m_stats.atCommands) attempt += c.line == line ? 1 : 0;
  m_stats.atCommands.push_back({line, attempt, now});

  const std::optional<std::string>* answer = &m_config.other;
  ExchangeKey key;
  key.attempt = attempt;
  bool known = true;
  if (line == "AT+CGMM") {
    key.target = FaultTarget::AtModel;
    answer = &m_config.model;
  } else if (line == "AT+GMI") {
    key.target = FaultTarget::AtMaker;
    answer = &m_config.maker;
  } else if (line == "AT") {
    key.target = FaultTarget::AtCheck;
    answer = &m_config.check;
  } else if (line == "ATD**60") {
    key.target = FaultTarget::AtDial;
    answer = &m_config.dial;
  } else {
    known = false;
  }
  const Fault* fault = known ? FindFault(m_config.faults, key) : nullptr;

  Output out;
  out.inputEnd = inputEnd;
  if (answer->has_value()) out.bytes.assign((*answer)->begin(), (*answer)->end());
  if (fault != nullptr) {
    ApplyFault(*fault, out);  // the frame-only kinds are refused by the parser for AT commands
  }
  // The handset answers from the byte after a CONNECT that was actually sent.
  const std::string_view sent(reinterpret_cast<const char*>(out.bytes.data()), out.bytes.size());
  if (key.target == FaultTarget::AtDial && known && !out.hangUp &&
      sent.find("CONNECT") != std::string_view::npos) {
    m_stats.mode = Mode::Handset;
    m_handset.ResetLink();
  }
  if (!out.bytes.empty() || out.hangUp) outputs.push_back(std::move(out));
}

}  // namespace sim

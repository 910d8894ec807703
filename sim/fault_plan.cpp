#include "sim/fault_plan.h"

#include <charconv>

namespace sim {
namespace {

// Parses a whole decimal or 0x-hexadecimal number no larger than `max`.
bool ParseNumber(std::string_view text, unsigned long long max, unsigned long long& value) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  if (text.empty()) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  return ec == std::errc{} && end == text.data() + text.size() && value <= max;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::vector<std::string_view> Split(std::string_view text, char sep) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = text.find(sep, start);
    parts.push_back(
        text.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
    if (at == std::string_view::npos) return parts;
    start = at + 1;
  }
}

bool IsAt(FaultTarget t) {
  return t == FaultTarget::AtModel || t == FaultTarget::AtMaker || t == FaultTarget::AtCheck ||
         t == FaultTarget::AtDial;
}

bool ParseWhen(std::string_view when, Fault& fault, std::string& error) {
  std::string_view name = when;
  const std::size_t hash = when.find('#');
  if (hash != std::string_view::npos) {
    name = when.substr(0, hash);
    unsigned long long k = 0;
    if (!ParseNumber(when.substr(hash + 1), 1000000, k) || k == 0) {
      error = "bad attempt or exchange number in '" + std::string(when) + "'";
      return false;
    }
    if (name.empty()) {
      fault.target = FaultTarget::Exchange;
      fault.exchange = static_cast<std::size_t>(k);
      return true;
    }
    fault.attempt = static_cast<unsigned>(k);
  }
  if (name == "begin") {
    fault.target = FaultTarget::Begin;
  } else if (name == "end") {
    fault.target = FaultTarget::End;
  } else if (name == "data") {
    fault.target = FaultTarget::Data;
  } else if (name.substr(0, 5) == "data:") {
    fault.target = FaultTarget::Data;
    unsigned long long n = 0;
    if (!ParseNumber(name.substr(5), 0xFFFF, n)) {
      error = "bad sequence number in '" + std::string(when) + "'";
      return false;
    }
    fault.sequence = static_cast<std::uint16_t>(n);
  } else if (name == "model") {
    fault.target = FaultTarget::AtModel;
  } else if (name == "maker") {
    fault.target = FaultTarget::AtMaker;
  } else if (name == "at") {
    fault.target = FaultTarget::AtCheck;
  } else if (name == "dial") {
    fault.target = FaultTarget::AtDial;
  } else {
    error = "unknown exchange '" + std::string(name) +
            "' (begin, end, data, data:N, model, maker, at, dial, #K)";
    return false;
  }
  return true;
}

bool ParseWhat(std::string_view what, Fault& fault, bool& primarySeen, std::string& error) {
  const std::size_t colon = what.find(':');
  const std::string_view name = what.substr(0, colon);
  const std::string_view arg =
      colon == std::string_view::npos ? std::string_view{} : what.substr(colon + 1);
  const bool hasArg = colon != std::string_view::npos;
  unsigned long long n = 0;

  if (name == "delay") {
    if (!ParseNumber(arg, 600000, n)) {
      error = "delay needs milliseconds: '" + std::string(what) + "'";
      return false;
    }
    fault.delay = std::chrono::milliseconds(n);
    return true;
  }
  if (primarySeen) {
    error = "only one of silence, garbage, text, code, seq, cut, hangup per entry";
    return false;
  }
  primarySeen = true;
  if (name == "silence" && !hasArg) {
    fault.kind = FaultKind::Silence;
  } else if (name == "hangup" && !hasArg) {
    fault.kind = FaultKind::HangUp;
  } else if (name == "garbage") {
    fault.kind = FaultKind::Bytes;
    if (!hasArg) {
      fault.bytes = DefaultGarbage();
      return true;
    }
    if (arg.empty() || arg.size() % 2 != 0) {
      error = "garbage needs an even number of hex digits: '" + std::string(what) + "'";
      return false;
    }
    fault.bytes.clear();
    for (std::size_t i = 0; i < arg.size(); i += 2) {
      const int hi = HexDigit(arg[i]);
      const int lo = HexDigit(arg[i + 1]);
      if (hi < 0 || lo < 0) {
        error = "bad hex digit in '" + std::string(what) + "'";
        return false;
      }
      fault.bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
  } else if (name == "text" && hasArg) {
    fault.kind = FaultKind::Bytes;
    std::string text;
    if (!ParseText(arg, text, error)) return false;
    fault.bytes.assign(text.begin(), text.end());
  } else if (name == "code" || name == "seq") {
    fault.kind = name == "code" ? FaultKind::Code : FaultKind::Sequence;
    if (hasArg) {
      if (!ParseNumber(arg, 0xFFFF, n)) {
        error = "bad 16-bit number in '" + std::string(what) + "'";
        return false;
      }
      fault.value = static_cast<std::uint16_t>(n);
    }
  } else if (name == "cut") {
    fault.kind = FaultKind::Cut;
    if (hasArg) {
      const auto parts = Split(arg, ':');
      if (parts.size() > 2 || !ParseNumber(parts[0], 100000, n)) {
        error = "cut takes cut:BYTES[:MS]: '" + std::string(what) + "'";
        return false;
      }
      fault.cutAt = static_cast<std::size_t>(n);
      if (parts.size() == 2) {
        if (!ParseNumber(parts[1], 600000, n)) {
          error = "bad pause in '" + std::string(what) + "'";
          return false;
        }
        fault.pause = std::chrono::milliseconds(n);
      }
    }
  } else {
    error =
        "unknown fault '" + std::string(what) +
        "' (silence, garbage[:HEX], text:TEXT, code[:C], seq[:N], cut[:K[:MS]], delay:MS, hangup)";
    return false;
  }
  return true;
}

}  // namespace

std::vector<std::uint8_t> DefaultGarbage() {
  return {0x55, 0xAA, 0x13, 0x37, 0x00, 0xFF, 0x41, 0x42};
}

bool ParseText(std::string_view text, std::string& out, std::string& error) {
  out.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\\') {
      out.push_back(c);
      continue;
    }
    if (++i == text.size()) {
      error = "text ends with a lone backslash";
      return false;
    }
    switch (text[i]) {
      case 'r':
        out.push_back('\r');
        break;
      case 'n':
        out.push_back('\n');
        break;
      case 't':
        out.push_back('\t');
        break;
      case '0':
        out.push_back('\0');
        break;
      case '\\':
        out.push_back('\\');
        break;
      case 'x': {
        const int hi = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
        const int lo = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
        if (hi < 0 || lo < 0) {
          error = "\\x needs two hex digits";
          return false;
        }
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        break;
      }
      default:
        error = std::string("unknown escape \\") + text[i];
        return false;
    }
  }
  return true;
}

bool ParseFault(std::string_view text, Fault& fault, std::string& error) {
  fault = Fault{};
  const std::size_t eq = text.find('=');
  if (eq == std::string_view::npos || eq == 0 || eq + 1 == text.size()) {
    error = "a fault reads WHEN=WHAT, e.g. data:4#1=seq:3 (got '" + std::string(text) + "')";
    return false;
  }
  if (!ParseWhen(text.substr(0, eq), fault, error)) return false;
  bool primarySeen = false;
  for (std::string_view what : Split(text.substr(eq + 1), '+')) {
    if (!ParseWhat(what, fault, primarySeen, error)) return false;
  }
  if (IsAt(fault.target) && (fault.kind == FaultKind::Code || fault.kind == FaultKind::Sequence)) {
    error = "code and seq apply to handset frames, not to AT commands";
    return false;
  }
  return true;
}

const Fault* FindFault(const std::vector<Fault>& plan, const ExchangeKey& key) {
  for (const Fault& f : plan) {
    if (f.target == FaultTarget::Exchange) {
      if (key.exchange != 0 && f.exchange == key.exchange) return &f;
      continue;
    }
    if (f.target != key.target) continue;
    if (f.sequence && *f.sequence != key.sequence) continue;
    if (f.attempt != 0 && f.attempt != key.attempt) continue;
    return &f;
  }
  return nullptr;
}

}  // namespace sim

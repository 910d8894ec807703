#include "text/json_text.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "text/utf8_text.h"

namespace {

constexpr unsigned kHexDigits = 4;           // of a \uXXXX escape
constexpr unsigned kByteSurrogate = 0xDC00;  // \udcXX: the stray byte XX
constexpr unsigned kHighSurrogate = 0xD800;  // first half of a pair
constexpr unsigned kLowSurrogate = 0xDC00;   // second half of a pair
constexpr unsigned kSurrogateEnd = 0xE000;   // past the low halves
constexpr unsigned kSurrogateBits = 10;      // each half's payload
constexpr unsigned kPairBase = 0x10000;      // first character a pair stands for
constexpr unsigned kOneByteEnd = 0x80;       // UTF-8: one byte below this
constexpr unsigned kTwoByteEnd = 0x800;      // two below this
constexpr unsigned kThreeByteEnd = 0x10000;  // three below this
constexpr unsigned kContinuation = 0x80;     // marks a following byte of a sequence
constexpr unsigned kPayloadBits = 6;         // carried by each following byte
constexpr unsigned kSixBits = 0x3F;          // the payload of a following byte
constexpr unsigned kFirstHexLetter = 10;     // the value of 'a' and 'A'
constexpr unsigned kLead2 = 0xC0, kLead3 = 0xE0, kLead4 = 0xF0;
constexpr int kMaxDepth = 8;               // nested objects: ours go two deep
constexpr std::size_t kFixedDigits = 352;  // any double in fixed notation with a few decimals

void AppendUtf8(std::string& out, unsigned code) {
  const auto byte = [&out](unsigned b) { out.push_back(static_cast<char>(b)); };
  const auto following = [&byte, code](unsigned n) {
    for (unsigned i = n; i > 0; --i) {
      byte(kContinuation | ((code >> ((i - 1) * kPayloadBits)) & kSixBits));
    }
  };
  if (code < kOneByteEnd) {
    byte(code);
  } else if (code < kTwoByteEnd) {
    byte(kLead2 | (code >> kPayloadBits));
    following(1);
  } else if (code < kThreeByteEnd) {
    byte(kLead3 | (code >> (2 * kPayloadBits)));
    following(2);
  } else {
    byte(kLead4 | (code >> (3 * kPayloadBits)));
    following(3);
  }
}

// A reader over the whole text: each step takes what it reads off the front.
class CReader {
 public:
  explicit CReader(std::string_view text) : m_text(text) {}

  bool Object(JsonObject& object, int depth) {
    Blanks();
    if (depth > kMaxDepth || !Take('{')) return false;
    Blanks();
    if (Take('}')) return true;
    for (;;) {
      std::string key;
      JsonValue value;
      Blanks();
      if (!String(key)) return false;
      Blanks();
      if (!Take(':') || !Value(value, depth)) return false;
      object[key] = std::move(value);
      Blanks();
      if (Take('}')) return true;
      if (!Take(',')) return false;
    }
  }

  bool AtEnd() {
    Blanks();
    return m_text.empty();
  }

 private:
  bool Value(JsonValue& value, int depth) {
    Blanks();
    if (m_text.empty()) return false;
    const char c = m_text.front();
    if (c == '"') {
      value.kind = JsonValue::Kind::String;
      return String(value.text);
    }
    if (c == '{') {
      const std::string_view start = m_text;
      JsonObject inner;
      if (!Object(inner, depth + 1)) return false;
      value.kind = JsonValue::Kind::Object;
      value.text = std::string(start.substr(0, start.size() - m_text.size()));
      return true;
    }
    for (const char* literal : {"null", "true", "false"}) {
      if (m_text.substr(0, std::string_view(literal).size()) == literal) {
        value.kind = c == 'n' ? JsonValue::Kind::Null : JsonValue::Kind::Literal;
        value.text = literal;
        m_text.remove_prefix(value.text.size());
        return true;
      }
    }
    const std::size_t end = m_text.find_first_not_of("0123456789+-.eE");
    if (end == 0) return false;
    value.kind = JsonValue::Kind::Number;
    value.text = std::string(m_text.substr(0, end));
    m_text.remove_prefix(value.text.size());
    return true;
  }

  bool String(std::string& out) {
    if (!Take('"')) return false;
    while (!m_text.empty()) {
      const char c = m_text.front();
      m_text.remove_prefix(1);
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < ' ') return false;
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      if (m_text.empty()) return false;
      const char e = m_text.front();
      m_text.remove_prefix(1);
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out.push_back(e);
          break;
        case 'b':
          out.push_back('\b');
          break;
        case 'f':
          out.push_back('\f');
          break;
        case 'n':
          out.push_back('\n');
          break;
        case 'r':
          out.push_back('\r');
          break;
        case 't':
          out.push_back('\t');
          break;
        case 'u':
          if (!Escape(out)) return false;
          break;
        default:
          return false;
      }
    }
    return false;
  }

  // After "\u": one character, a surrogate pair, or a stray byte as JsonString writes it.
  bool Escape(std::string& out) {
    unsigned code = 0;
    if (!Hex(code)) return false;
    if (code >= kHighSurrogate && code < kLowSurrogate && m_text.substr(0, 2) == "\\u") {
      const std::string_view saved = m_text;
      m_text.remove_prefix(2);
      unsigned low = 0;
      if (Hex(low) && low >= kLowSurrogate && low < kSurrogateEnd) {
        AppendUtf8(out,
                   kPairBase + ((code - kHighSurrogate) << kSurrogateBits) + (low - kLowSurrogate));
        return true;
      }
      m_text = saved;
    }
    if (code >= kByteSurrogate && code <= kByteSurrogate + 0xFF) {
      out.push_back(static_cast<char>(code - kByteSurrogate));
    } else if (code >= kHighSurrogate && code < kSurrogateEnd) {
      return false;  // half a pair stands for nothing
    } else {
      AppendUtf8(out, code);
    }
    return true;
  }

  bool Hex(unsigned& code) {
    if (m_text.size() < kHexDigits) return false;
    for (unsigned i = 0; i < kHexDigits; ++i) {
      const char c = m_text[i];
      unsigned digit = 0;
      if (c >= '0' && c <= '9') {
        digit = static_cast<unsigned>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        digit = static_cast<unsigned>(c - 'a') + kFirstHexLetter;
      } else if (c >= 'A' && c <= 'F') {
        digit = static_cast<unsigned>(c - 'A') + kFirstHexLetter;
      } else {
        return false;
      }
      code = (code << 4) | digit;
    }
    m_text.remove_prefix(kHexDigits);
    return true;
  }

  bool Take(char c) {
    if (m_text.empty() || m_text.front() != c) return false;
    m_text.remove_prefix(1);
    return true;
  }

  void Blanks() {
    const std::size_t n = m_text.find_first_not_of(" \t\r\n");
    m_text.remove_prefix(n == std::string_view::npos ? m_text.size() : n);
  }

  std::string_view m_text;
};

}  // namespace

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  char escape[8];
  while (!text.empty()) {
    const char c = text.front();
    const auto b = static_cast<unsigned char>(c);
    const std::size_t length = Utf8SequenceLength(text);
    if (length > 1) {
      out.append(text.substr(0, length));
      text.remove_prefix(length);
      continue;
    }
    if (length == 0) {
      std::snprintf(escape, sizeof escape, "\\udc%02x", b);
      out += escape;
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (b < 0x20 || b == 0x7F) {
      std::snprintf(escape, sizeof escape, "\\u%04x", b);
      out += escape;
    } else {
      out += c;
    }
    text.remove_prefix(1);
  }
  return out + "\"";
}

bool ReadJsonObject(std::string_view text, JsonObject& object) {
  object.clear();
  CReader reader(text);
  return reader.Object(object, 0) && reader.AtEnd();
}

std::size_t FormatFixed(char* out, std::size_t size, double value, int decimals, int width) {
  char digits[kFixedDigits];
  const std::to_chars_result written =
      std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, decimals);
  if (written.ec != std::errc()) {
    return 0;
  }
  const auto length = static_cast<std::size_t>(written.ptr - digits);
  const std::size_t pad = width > 0 && static_cast<std::size_t>(width) > length
                              ? static_cast<std::size_t>(width) - length
                              : 0;
  if (pad + length >= size) {
    return 0;
  }
  std::memset(out, ' ', pad);
  std::memcpy(out + pad, digits, length);
  out[pad + length] = '\0';
  return pad + length;
}

std::string FixedText(double value, int decimals) {
  char text[kFixedDigits];
  return std::string(text, FormatFixed(text, sizeof text, value, decimals));
}

bool ParseJsonNumber(std::string_view text, double& value) {
  const char* const end = text.data() + text.size();
  const std::from_chars_result read = std::from_chars(text.data(), end, value);
  return read.ec == std::errc() && read.ptr == end;
}

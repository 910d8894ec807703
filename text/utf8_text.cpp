#include "text/utf8_text.h"

namespace {

constexpr unsigned char kFirstNonAscii = 0x80;
constexpr unsigned char kFirstContinuation = 0x80;  // 10xxxxxx
constexpr unsigned char kLastContinuation = 0xBF;

// The lead bytes of the valid sequences, with the bounds of the byte after each: narrower after
// the leads where the full range would give an overlong form, a surrogate or a value above
// U+10FFFF. Every further byte is a plain continuation byte.
struct LeadRange {
  unsigned char first;
  unsigned char last;
  std::size_t length;
  unsigned char secondLow;
  unsigned char secondHigh;
};
constexpr LeadRange kLeads[] = {
    {0xC2, 0xDF, 2, 0x80, 0xBF},  // U+0080 to U+07FF
    {0xE0, 0xE0, 3, 0xA0, 0xBF},  // no overlong form
    {0xE1, 0xEC, 3, 0x80, 0xBF},  // U+1000 to U+CFFF
    {0xED, 0xED, 3, 0x80, 0x9F},  // no surrogate
    {0xEE, 0xEF, 3, 0x80, 0xBF},  // U+E000 to U+FFFF
    {0xF0, 0xF0, 4, 0x90, 0xBF},  // no overlong form
    {0xF1, 0xF3, 4, 0x80, 0xBF},  // U+40000 to U+FFFFF
    {0xF4, 0xF4, 4, 0x80, 0x8F},  // nothing above U+10FFFF
};

}  // namespace

std::size_t Utf8SequenceLength(std::string_view text) {
  if (text.empty()) {
    return 0;
  }
  const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  if (byte(0) < kFirstNonAscii) {
    return 1;
  }
  for (const LeadRange& lead : kLeads) {
    if (byte(0) < lead.first || byte(0) > lead.last) {
      continue;
    }
    if (text.size() < lead.length || byte(1) < lead.secondLow || byte(1) > lead.secondHigh) {
      return 0;
    }
    for (std::size_t i = 2; i < lead.length; ++i) {
      if (byte(i) < kFirstContinuation || byte(i) > kLastContinuation) {
        return 0;
      }
    }
    return lead.length;
  }
  return 0;
}

std::size_t Utf8CharacterCount(std::string_view text) {
  std::size_t count = 0;
  while (!text.empty()) {
    const std::size_t length = Utf8SequenceLength(text);
    text.remove_prefix(length > 0 ? length : 1);
    ++count;
  }
  return count;
}

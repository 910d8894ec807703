// libFuzzer target: the reply word search on whatever a device answers, alone and as detection
// uses it.
//
// Input: one byte k (the length of a word of the input's own, k % 16), that word, then the reply.
// The search is compared with a plain reference for that word and for every word the tool looks
// for; then detection runs on the fake port with the reply as every answer, and must find the
// terminal exactly when the reply holds a model or maker word before its first zero byte.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "serial/serial_port.h"
#include "serial/terminal_detection.h"
#include "tests/fuzz/fake_serial.h"

namespace {

constexpr std::size_t kWordLengths = 16;
// The model words (the first pass looks for them in the model answer), then the maker words.
const char* const kModelWords[] = {"ZELO", "TARVENIX", "Orbina"};
const char* const kMakerWords[] = {"VOLK", "Kestra"};
const char* const kWorkerWords[] = {"OK", "CONNECT"};

void Require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

// Searched the slow way: every start position of the text before the first zero.
bool ReferenceContains(const std::vector<std::uint8_t>& reply, const std::string& word) {
  if (word.empty()) {
    return false;
  }
  const auto end = std::find(reply.begin(), reply.end(), std::uint8_t{0});
  const std::size_t length = static_cast<std::size_t>(end - reply.begin());
  for (std::size_t at = 0; at + word.size() <= length; ++at) {
    if (std::memcmp(reply.data() + at, word.data(), word.size()) == 0) {
      return true;
    }
  }
  return false;
}

template <std::size_t N>
bool ReferenceContainsAny(const std::vector<std::uint8_t>& reply, const char* const (&words)[N]) {
  return std::any_of(std::begin(words), std::end(words),
                     [&](const char* w) { return ReferenceContains(reply, w); });
}

std::vector<std::uint8_t> g_reply;

std::uint32_t AnswerWithTheReply(std::uint8_t* buffer, std::uint32_t capacity) {
  const std::uint32_t n =
      static_cast<std::uint32_t>(std::min<std::size_t>(g_reply.size(), capacity));
  std::copy_n(g_reply.begin(), n, buffer);
  return n;
}

const std::string kPort = "\\\\.\\COM9";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const std::size_t wordLength = std::min<std::size_t>(data[0] % kWordLengths, size - 1);
  const std::string word(reinterpret_cast<const char*>(data + 1), wordLength);
  g_reply.assign(data + 1 + wordLength, data + size);
  // A copy of exactly the reply's bytes, so that a look beyond the count is a heap overflow.
  const std::vector<std::uint8_t> reply = g_reply;
  const auto count = static_cast<std::uint32_t>(reply.size());
  const std::uint8_t* bytes = reply.empty() ? nullptr : reply.data();

  if (word.find('\0') == std::string::npos) {
    Require(ReplyContainsWord(bytes, count, word.c_str()) == ReferenceContains(reply, word));
  }
  // Every word the tool searches for, against the reference.
  const auto agrees = [&](const char* w) {
    Require(ReplyContainsWord(bytes, count, w) == ReferenceContains(reply, w));
  };
  std::for_each(std::begin(kWorkerWords), std::end(kWorkerWords), agrees);
  std::for_each(std::begin(kModelWords), std::end(kModelWords), agrees);
  std::for_each(std::begin(kMakerWords), std::end(kMakerWords), agrees);

  // Detection on the fake port, whose answers are this reply cut to one read.
  fake::SetOpenablePort(kPort);
  fake::SetReadSource(AnswerWithTheReply);
  fake::Events().clear();
  const std::vector<std::uint8_t> read(
      g_reply.begin(), g_reply.begin() + std::min(g_reply.size(), kReplyBufferSize));
  const bool modelFound = ReferenceContainsAny(read, kModelWords);
  const bool expectFound = modelFound || ReferenceContainsAny(read, kMakerWords);
  const std::uint16_t result = DetectTerminal();
  Require((result == DETECT_FOUND) == expectFound);
  Require(g_terminalPort.IsOpen() == expectFound);
  // One command per pass on the one port present: the model request, then the maker request
  // only when the model answer held no model word.
  const std::size_t writes =
      static_cast<std::size_t>(std::count_if(fake::Events().begin(), fake::Events().end(),
                                             [](const fake::PortEvent& e) { return e.write; }));
  Require(writes == (modelFound ? 1U : 2U));
  CloseTerminalPort();
  return 0;
}

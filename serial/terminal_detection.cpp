// Terminal detection: two passes over the candidate ports, each asking one AT identification
// command per port and searching the one reply for the pass's words.
#include "serial/terminal_detection.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "serial/serial_port.h"

namespace {

constexpr char kModelRequest[] = "AT+CGMM\r\n";  // model identification, sent without the zero
constexpr char kMakerRequest[] = "AT+GMI\r\n";   // manufacturer identification, likewise
constexpr std::array<const char*, 3> kModelWords = {"ZELO", "TARVENIX", "Orbina"};
constexpr std::array<const char*, 3> kMakerWords = {"VOLK", "Kestra", "Orbina"};
constexpr const char kComNameFormat[] = "\\\\.\\COM%d";  // "\\.\COM%d"

struct DetectionPass {
  const char* command;
  std::uint16_t length;  // the command's bytes without its terminating zero
  const std::array<const char*, 3>* words;
};

constexpr DetectionPass kPasses[] = {
    {kModelRequest, sizeof kModelRequest - 1, &kModelWords},
    {kMakerRequest, sizeof kMakerRequest - 1, &kMakerWords},
};

// The one port detection is limited to; empty: the candidate ports.
std::string g_detectionPort;

// Asks one port the pass's command; true with the port left open when a word matched.
bool TryPort(const DetectionPass& pass, const char* name) {
  // A failed open leaves the port closed, so the write and read below do nothing.
  OpenTerminalPort(name);
  WriteTerminal(reinterpret_cast<const std::uint8_t*>(pass.command), pass.length);
  const std::uint16_t count = ReadTerminal(g_replyBuffer.data());
  if (count > 0) {
    for (const char* word : *pass.words) {
      if (ReplyContainsWord(g_replyBuffer.data(), count, word)) {
        return true;
      }
    }
  }
  CloseTerminalPort();
  return false;
}

// One pass over every candidate port; true with the port left open where a word matched.
bool RunPass(const DetectionPass& pass) {
  if (!g_detectionPort.empty()) {
    return TryPort(pass, g_detectionPort.c_str());
  }
  char name[kPortNameCapacity + 1];
  for (int n = kFirstCandidatePort; n <= kLastCandidatePort; ++n) {
    std::snprintf(name, sizeof name, kComNameFormat, n);
    if (TryPort(pass, name)) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::uint16_t DetectTerminal() {
  for (const DetectionPass& pass : kPasses) {
    if (RunPass(pass)) {
      return DETECT_FOUND;
    }
  }
  return DETECT_NONE;
}

void SetDetectionPort(const char* name) { g_detectionPort = name != nullptr ? name : ""; }

bool ReplyContainsWord(const std::uint8_t* reply, std::uint32_t count, const char* word) {
  if (reply == nullptr || count == 0 || word == nullptr || *word == '\0') {
    return false;  // an empty word would match every reply
  }
  const void* zero = std::memchr(reply, 0, count);
  const std::size_t length =
      zero != nullptr ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - reply)
                      : count;
  const std::string_view text(reinterpret_cast<const char*>(reply), length);
  return text.find(word) != std::string_view::npos;
}

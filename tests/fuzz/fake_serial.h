// A serial backend without a device, for fuzzing the conversation with the terminal: only the
// port named by SetOpenablePort opens, every write is recorded whole, and every read takes its
// bytes from the read source (the fuzzer's input), under the same count rules as a real read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fake {

using ReadSource = std::uint32_t (*)(std::uint8_t* buffer, std::uint32_t capacity);

void SetOpenablePort(const std::string& name);
void SetReadSource(ReadSource source);

// One port operation, in the order the tool made them.
struct PortEvent {
  bool write = false;  // a write, else a read
  std::vector<std::uint8_t> bytes;
};
std::vector<PortEvent>& Events();

}  // namespace fake

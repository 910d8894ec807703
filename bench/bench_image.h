// The upgrade image a benchmark carries: random bytes from a fixed seed (the same image in every
// benchmark, so that their figures compare) or all zero bytes (every one of them escaped),
// written to a file in a fresh temporary folder that Remove() or the destructor takes away.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class CBenchImage {
 public:
  CBenchImage(std::size_t size, bool zeros);
  ~CBenchImage();
  CBenchImage(const CBenchImage&) = delete;
  CBenchImage& operator=(const CBenchImage&) = delete;

  bool Written() const { return m_written; }  // false: the file could not be made
  const std::vector<std::uint8_t>& Bytes() const { return m_bytes; }
  const std::string& Path() const { return m_path; }
  void Remove();

 private:
  std::vector<std::uint8_t> m_bytes;
  std::string m_dir;
  std::string m_path;
  bool m_written = false;
};

// A word of a benchmark's command line and what it sets.
struct BenchFlag {
  const char* word;
  std::function<void()> set;
};

// Reads a whole-run benchmark's command line: each word of `flags` runs its action, and
// "--size BYTES" sets `size` (a whole number of at most kImageBufferSize). On any other word, or
// a size it cannot take, prints "usage: <program> <usage>" and returns false.
bool ParseBenchArgs(int argc, char** argv, const std::vector<BenchFlag>& flags, std::size_t& size,
                    const char* usage);

// The upgrade image a benchmark carries: random bytes from a fixed seed (the same image in every
// benchmark, so that their figures compare) or all zero bytes (every one of them escaped),
// written to a file in a fresh temporary folder that Remove() or the destructor takes away.
#pragma once

#include <cstddef>
#include <cstdint>
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

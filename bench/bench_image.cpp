#include "bench/bench_image.h"

#include <stdlib.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

#include "bench/measure.h"
#include "download/block_transfer.h"
#include "download/download_worker.h"

CBenchImage::CBenchImage(std::size_t size, bool zeros) : m_bytes(size, 0) {
  if (!zeros) {
    std::mt19937 rng(kImageSeed);
    for (auto& b : m_bytes) b = static_cast<std::uint8_t>(rng());
    // A file that begins with ':' is refused as a text image.
    if (!m_bytes.empty() && m_bytes[0] == kInvalidFirstByte) m_bytes[0] = 0;
  }
  char dir[] = "/tmp/corvanel-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr) {
    std::perror("mkdtemp");
    return;
  }
  m_dir = dir;
  m_path = m_dir + "/image.ldr";
  if (std::FILE* f = std::fopen(m_path.c_str(), "wb")) {
    m_written = std::fwrite(m_bytes.data(), 1, m_bytes.size(), f) == m_bytes.size();
    m_written = std::fclose(f) == 0 && m_written;
  }
}

CBenchImage::~CBenchImage() { Remove(); }

void CBenchImage::Remove() {
  if (!m_dir.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
    m_dir.clear();
  }
}

bool ParseBenchArgs(int argc, char** argv, const std::vector<BenchFlag>& flags, std::size_t& size,
                    const char* usage) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    bool known = false;
    for (const BenchFlag& flag : flags) {
      if (std::strcmp(arg, flag.word) == 0) {
        flag.set();
        known = true;
      }
    }
    if (known) continue;
    if (std::strcmp(arg, "--size") == 0 && i + 1 < argc) {
      const char* text = argv[++i];
      char* end = nullptr;
      errno = 0;
      const unsigned long long value = std::strtoull(text, &end, kDecimal);
      if (errno == 0 && end != text && *end == '\0' && text[0] != '-' &&
          value <= kImageBufferSize) {
        size = static_cast<std::size_t>(value);
        continue;
      }
      std::fprintf(stderr, "--size takes a whole number of bytes, at most %zu\n", kImageBufferSize);
    }
    std::fprintf(stderr, "usage: %s %s\n", argv[0], usage);
    return false;
  }
  return true;
}

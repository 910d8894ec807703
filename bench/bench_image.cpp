#include "bench/bench_image.h"

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>

#include "bench/measure.h"
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

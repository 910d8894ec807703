// POSIX side of the upgrade file: open(O_NONBLOCK) so that a FIFO without a writer or a device
// never holds the caller, then fstat on the descriptor.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "download/upgrade_file.h"

namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1000000000;

std::int64_t Nanoseconds(const timespec& t) {
  return static_cast<std::int64_t>(t.tv_sec) * kNanosecondsPerSecond + t.tv_nsec;
}

}  // namespace

std::FILE* OpenRegularFile(const char* path, const char* mode) {
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  // A regular file reads the same either way; clear the flag all the same.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) {
    (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  }
  std::FILE* file = ::fdopen(fd, mode);
  if (file == nullptr) {
    ::close(fd);
  }
  return file;
}

bool MeasureOpenFile(std::FILE* file, FileMeasure& measure) {
  struct stat st {};
  if (file == nullptr || ::fstat(::fileno(file), &st) != 0 || !S_ISREG(st.st_mode)) {
    return false;
  }
  measure.size = static_cast<std::uint64_t>(st.st_size);
  measure.modified = Nanoseconds(st.st_mtim);
  measure.changed = Nanoseconds(st.st_ctim);
  return true;
}

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "record/record_platform.h"

namespace {

constexpr const char* kFolderName = "corvanel";
constexpr const char* kDefaultStateHome = ".local/state";  // under the home folder
constexpr mode_t kPrivateFile = 0600;                      // what the user downloaded is theirs
constexpr mode_t kModeBits = 07777;
constexpr std::size_t kPasswdBuffer = 16384;  // room for one passwd entry
constexpr int kLowerPriority = 10;  // added to the thread's nice value: behind, never starved

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') {
    return home;
  }
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(kPasswdBuffer);
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr) {
    return found->pw_dir;
  }
  return {};
}

}  // namespace

std::filesystem::path StateFolder() {
  // A relative XDG_STATE_HOME is to be ignored, like an unset one.
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') {
    return std::filesystem::path(state) / kFolderName;
  }
  const std::string home = HomeFolder();
  if (home.empty()) {
    return {};
  }
  return std::filesystem::path(home) / kDefaultStateHome / kFolderName;
}

std::filesystem::path NativePath(const std::string& text) { return text; }

std::string PathText(const std::filesystem::path& path) { return path.string(); }

std::FILE* CreateNewFile(const std::filesystem::path& path) {
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kPrivateFile);
  if (fd < 0) {
    return nullptr;
  }
  // Held shared while the file is open: RemoveUnlessWritten in any process sees it in use.
  (void)::flock(fd, LOCK_SH | LOCK_NB);
  std::FILE* file = ::fdopen(fd, "w");
  if (file == nullptr) {
    ::close(fd);
  }
  return file;
}

bool RemoveUnlessWritten(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;  // a download still writes it
  }
  const bool removed = ::unlink(path.c_str()) == 0;
  if (fd >= 0) {
    ::close(fd);
  }
  return removed;
}

int AppendWholeLine(const std::filesystem::path& path, std::string_view line) {
  const int fd =
      ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, kPrivateFile);
  if (fd < 0) {
    return errno;
  }
  // Our writers take turns: the look at the end, the write and a cut are one step for them.
  // Each write appends on its own (O_APPEND) even for a writer that does not take its turn.
  while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
  int error = 0;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    error = errno;
  } else {
    if ((st.st_mode & kModeBits) != kPrivateFile) {
      (void)::fchmod(fd, kPrivateFile);
    }
    // After a fragment without its line feed, the line begins on a line of its own.
    char last = '\n';
    std::string whole;
    if (st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n') {
      whole.reserve(line.size() + 1);
      whole += '\n';
      whole += line;
      line = whole;
    }
    std::size_t written = 0;
    while (written < line.size()) {
      const ssize_t n = ::write(fd, line.data() + written, line.size() - written);
      if (n > 0) {
        written += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) {
        continue;
      }
      error = n < 0 ? errno : ENOSPC;
      break;
    }
    // A line that did not go out whole is cut back off, unless something was appended after it.
    if (error != 0 && written > 0) {
      const off_t end = ::lseek(fd, 0, SEEK_CUR);
      struct stat now {};
      if (end >= 0 && ::fstat(fd, &now) == 0 && now.st_size == end) {
        (void)::ftruncate(fd, end - static_cast<off_t>(written));
      }
    }
  }
  if (::close(fd) != 0 && error == 0) {
    error = errno;
  }
  return error;
}

std::FILE* OpenFile(const std::filesystem::path& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

void LowerThreadPriority() {
  // On Linux a nice value is each thread's own, named by its thread ID.
  const auto thread = static_cast<id_t>(gettid());
  const int now = getpriority(PRIO_PROCESS, thread);
  (void)setpriority(PRIO_PROCESS, thread, now + kLowerPriority);
}

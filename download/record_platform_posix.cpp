#include <fcntl.h>
#include <pwd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "download/record_platform.h"

namespace {

constexpr const char* kFolderName = "corvanel";
constexpr const char* kDefaultStateHome = ".local/state";  // under the home folder
constexpr mode_t kPrivateFile = 0600;                      // what the user downloaded is theirs
constexpr std::size_t kPasswdBuffer = 16384;               // room for one passwd entry
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
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kPrivateFile);
  if (fd < 0) {
    return nullptr;
  }
  std::FILE* file = ::fdopen(fd, "w");
  if (file == nullptr) {
    ::close(fd);
  }
  return file;
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

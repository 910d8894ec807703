// The exclusivity look of the POSIX backend: whether another process has a device open, from
// /proc. Best effort: it sees only the processes this user may inspect and only what they opened
// under /dev, and a process that also holds the master of the same pseudo-terminal is the
// device's own side (a simulator), not a competitor.
#include "serial/port_holders_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr const char kProcDir[] = "/proc";
constexpr const char kDevDir[] = "/dev/";      // where every terminal and pty is opened
constexpr unsigned kPtySlaveFirstMajor = 136;  // pseudo-terminal slaves: majors 136 to 143
constexpr unsigned kPtySlaveLastMajor = 143;
constexpr unsigned kPtyMinorsPerMajor = 256;
constexpr unsigned kPtmxMajor = 5;  // /dev/ptmx, through which every master is opened
constexpr unsigned kPtmxMinor = 2;
constexpr const char kTtyIndexKey[] = "tty-index:";  // a master's pty number in its fdinfo
constexpr std::size_t kFdInfoCapacity = 512;

// A whole decimal number, or -1.
long ParseNumber(const char* text) {
  if (text == nullptr || *text < '0' || *text > '9') {
    return -1;
  }
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  return (*end == '\0' || *end == '\n') ? value : -1;
}

// The pseudo-terminal a master fd serves, from the fd's fdinfo; -1 when unknown.
long MasterPtyIndex(const std::string& fdInfoPath) {
  const int info = ::open(fdInfoPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (info < 0) {
    return -1;
  }
  char text[kFdInfoCapacity];
  const ssize_t n = ::read(info, text, sizeof text - 1);
  ::close(info);
  if (n <= 0) {
    return -1;
  }
  text[n] = '\0';
  const char* key = std::strstr(text, kTtyIndexKey);
  if (key == nullptr) {
    return -1;
  }
  key += sizeof kTtyIndexKey - 1;
  while (*key == ' ' || *key == '\t') {
    ++key;
  }
  return ParseNumber(key);
}

// Whether process pid has the device open and is not the device's own side.
bool ProcessCompetesForDevice(const std::string& pid, dev_t device, long ptyIndex) {
  const std::string fdDir = std::string(kProcDir) + "/" + pid + "/fd";
  DIR* fds = ::opendir(fdDir.c_str());
  if (fds == nullptr) {
    return false;  // gone, or not ours to inspect
  }
  bool holdsDevice = false;
  bool holdsMaster = false;
  while (const dirent* entry = ::readdir(fds)) {
    if (ParseNumber(entry->d_name) < 0) {
      continue;
    }
    // The link's text first: stat() would follow a link to a file on a hung network or FUSE
    // mount and wait with it, and a terminal or pty is only ever opened under /dev.
    const std::string link = fdDir + "/" + entry->d_name;
    char target[sizeof kDevDir] = {};
    if (::readlink(link.c_str(), target, sizeof target - 1) != sizeof target - 1 ||
        std::strcmp(target, kDevDir) != 0) {
      continue;
    }
    struct stat st {};
    if (::stat(link.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) {
      continue;
    }
    if (st.st_rdev == device) {
      holdsDevice = true;
    } else if (ptyIndex >= 0 && major(st.st_rdev) == kPtmxMajor &&
               minor(st.st_rdev) == kPtmxMinor &&
               MasterPtyIndex(std::string(kProcDir) + "/" + pid + "/fdinfo/" + entry->d_name) ==
                   ptyIndex) {
      holdsMaster = true;
    }
  }
  ::closedir(fds);
  return holdsDevice && !holdsMaster;
}

}  // namespace

long PtySlaveIndex(dev_t device) {
  const unsigned deviceMajor = major(device);
  if (deviceMajor < kPtySlaveFirstMajor || deviceMajor > kPtySlaveLastMajor) {
    return -1;
  }
  return static_cast<long>(deviceMajor - kPtySlaveFirstMajor) * kPtyMinorsPerMajor +
         static_cast<long>(minor(device));
}

std::vector<pid_t> DeviceHolders(dev_t device, std::size_t limit) {
  std::vector<pid_t> holders;
  const long ptyIndex = PtySlaveIndex(device);
  DIR* proc = ::opendir(kProcDir);
  if (proc == nullptr) {
    return holders;
  }
  const std::string self = std::to_string(::getpid());
  while (const dirent* entry = holders.size() < limit ? ::readdir(proc) : nullptr) {
    const long pid = ParseNumber(entry->d_name);
    if (pid > 0 && self != entry->d_name &&
        ProcessCompetesForDevice(entry->d_name, device, ptyIndex)) {
      holders.push_back(static_cast<pid_t>(pid));
    }
  }
  ::closedir(proc);
  return holders;
}

bool DeviceHeldElsewhere(int fd) {
  struct stat own {};
  if (::fstat(fd, &own) != 0 || !S_ISCHR(own.st_mode)) {
    return false;
  }
  return !DeviceHolders(own.st_rdev, 1).empty();
}

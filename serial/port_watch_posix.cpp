#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "serial/com_mapping_posix.h"
#include "serial/port_watch.h"

namespace {

// False for a ttyS node with no UART behind it, as its sysfs type tells (0: none); true for any
// other device, and when sysfs says nothing.
bool HasUart(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string node = path.substr(slash == std::string::npos ? 0 : slash + 1);
  if (node.rfind("ttyS", 0) != 0) {
    return true;
  }
  std::ifstream type("/sys/class/tty/" + node + "/type");
  int uart = 0;
  return !(type >> uart) || uart != 0;
}

std::string Folder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace

PortSnapshot PresentPorts(const std::vector<std::string>& names) {
  PortSnapshot present;
  const char* comDir = std::getenv(kComDirVariable);
  for (const std::string& name : names) {
    const std::string path = ResolveDevicePath(name.c_str(), comDir);
    struct stat node {};
    if (path.empty() || ::stat(path.c_str(), &node) != 0 || !S_ISCHR(node.st_mode) ||
        !HasUart(path)) {
      continue;
    }
    // Whether this user may open it is part of the identity: the kernel makes a plugged-in
    // device's node for root alone, and udev gives it its group a moment later. A probe that
    // came too early is made again once the device is open to the user.
    const bool mayOpen = ::access(path.c_str(), R_OK | W_OK) == 0;
    present[name] = std::to_string(node.st_rdev) + ":" + std::to_string(node.st_ino) +
                    (mayOpen ? "" : ":closed");
  }
  return present;
}

struct CPortWatcher::Impl {
  int inotify = -1;
  int wake[2] = {-1, -1};
};

CPortWatcher::CPortWatcher(const std::vector<std::string>& names) : m_impl(new Impl) {
  m_impl->inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (::pipe2(m_impl->wake, O_NONBLOCK | O_CLOEXEC) != 0) {
    m_impl->wake[0] = m_impl->wake[1] = -1;
  }
  if (m_impl->inotify < 0) {
    return;  // Wait then looks again at each limit
  }
  constexpr std::uint32_t kChanges =
      IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM | IN_ATTRIB;
  const char* comDir = std::getenv(kComDirVariable);
  std::vector<std::string> folders;
  for (const std::string& name : names) {
    const std::string path = ResolveDevicePath(name.c_str(), comDir);
    if (!path.empty()) {
      folders.push_back(Folder(path));
    }
  }
  for (const std::string& folder : folders) {
    ::inotify_add_watch(m_impl->inotify, folder.c_str(), kChanges);  // the same folder: one watch
  }
}

CPortWatcher::~CPortWatcher() {
  for (const int fd : {m_impl->inotify, m_impl->wake[0], m_impl->wake[1]}) {
    if (fd >= 0) {
      ::close(fd);
    }
  }
}

void CPortWatcher::Wait(std::chrono::milliseconds limit) {
  pollfd fds[2] = {{m_impl->wake[0], POLLIN, 0}, {m_impl->inotify, POLLIN, 0}};
  ::poll(fds, 2, static_cast<int>(limit.count()));
  char drain[4096];
  while (m_impl->inotify >= 0 && ::read(m_impl->inotify, drain, sizeof drain) > 0) {
  }
  while (m_impl->wake[0] >= 0 && ::read(m_impl->wake[0], drain, sizeof drain) > 0) {
  }
}

void CPortWatcher::Wake() {
  const char byte = 1;
  if (m_impl->wake[1] >= 0) {
    (void)!::write(m_impl->wake[1], &byte, 1);
  }
}

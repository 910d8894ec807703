// Opens a device as the unprivileged user nobody, in a child process: what a program without
// root meets at a device that another program holds with TIOCEXCL (root is never refused).
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

inline constexpr uid_t kNobodyId = 65534;

// 0 when nobody can open path for reading and writing, else the errno of the refusal.
inline int OpenAsNobody(const std::string& path) {
  const pid_t child = ::fork();
  if (child == 0) {
    // Only async-signal-safe calls: the parent may run other threads.
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobodyId) != 0 || ::setuid(kNobodyId) != 0) {
      ::_exit(EPERM);
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ::_exit(fd >= 0 ? 0 : errno);
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
    return ECHILD;
  }
  return WEXITSTATUS(status);
}

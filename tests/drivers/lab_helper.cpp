// corvanel-lab: the small helper the real-driver stage runs inside its QEMU guest, beside
// corvanel-cli. Static, so the guest needs no more libraries for it.
//
//   corvanel-lab baudbase DEVICE N   set a UART's baud base (what setserial does), print the old
//   corvanel-lab modem DEVICE        DTR and RTS of DEVICE as the process that has it open left
//                                    them, read through a duplicate of that process's own
//                                    descriptor (a fresh open of a UART raises both lines)
//   corvanel-lab free DEVICE         whether DEVICE can be opened and locked: "free" or "held"
//   corvanel-lab relay A B           join two ports, both raw; ends when either hangs up
#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int Fail(const char* what) {
  std::fprintf(stderr, "corvanel-lab: %s: %s\n", what, std::strerror(errno));
  return 1;
}

int OpenRaw(const char* path, speed_t speed) {
  const int fd = ::open(path, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  termios t{};
  if (::tcgetattr(fd, &t) == 0) {
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    ::cfsetspeed(&t, speed);
    ::tcsetattr(fd, TCSANOW, &t);
  }
  return fd;
}

int BaudBase(const char* device, long base) {
  const int fd = ::open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return Fail(device);
  serial_struct s{};
  if (::ioctl(fd, TIOCGSERIAL, &s) != 0) return Fail("TIOCGSERIAL");
  std::printf("baud_base %d -> %ld\n", s.baud_base, base);
  s.baud_base = static_cast<int>(base);
  if (::ioctl(fd, TIOCSSERIAL, &s) != 0) return Fail("TIOCSSERIAL");
  ::close(fd);
  return 0;
}

// Finds a process other than this one with device open: its pid and descriptor number.
bool FindHolder(const char* device, int* pid, int* fd) {
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return false;
  bool found = false;
  while (const dirent* p = found ? nullptr : ::readdir(proc)) {
    const int id = std::atoi(p->d_name);
    if (id <= 0 || id == ::getpid()) continue;
    const std::string dir = std::string("/proc/") + p->d_name + "/fd";
    DIR* fds = ::opendir(dir.c_str());
    if (fds == nullptr) continue;
    while (const dirent* e = found ? nullptr : ::readdir(fds)) {
      char target[PATH_MAX] = {};
      const std::string link = dir + "/" + e->d_name;
      if (::readlink(link.c_str(), target, sizeof target - 1) > 0 &&
          std::strcmp(target, device) == 0) {
        *pid = id;
        *fd = std::atoi(e->d_name);
        found = true;
      }
    }
    ::closedir(fds);
  }
  ::closedir(proc);
  return found;
}

int Modem(const char* device) {
  int pid = 0;
  int target = 0;
  if (!FindHolder(device, &pid, &target)) {
    std::fprintf(stderr, "corvanel-lab: no process has %s open\n", device);
    return 1;
  }
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (pidfd < 0) return Fail("pidfd_open");
  const int fd = static_cast<int>(::syscall(SYS_pidfd_getfd, pidfd, target, 0));
  if (fd < 0) return Fail("pidfd_getfd");
  int lines = 0;
  if (::ioctl(fd, TIOCMGET, &lines) != 0) return Fail("TIOCMGET");
  std::printf("DTR %s RTS %s\n", (lines & TIOCM_DTR) != 0 ? "on" : "off",
              (lines & TIOCM_RTS) != 0 ? "on" : "off");
  return 0;
}

int Free(const char* device) {
  const int fd = ::open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  const bool free = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  std::printf("%s\n", free ? "free" : "held");
  return free ? 0 : 1;
}

// Copies what one side has to the other. False when the side has hung up.
bool Pass(int from, int to) {
  char buffer[4096];
  const ssize_t n = ::read(from, buffer, sizeof buffer);
  if (n <= 0) return n < 0 && (errno == EINTR || errno == EAGAIN);
  for (ssize_t done = 0; done < n;) {
    const ssize_t w = ::write(to, buffer + done, static_cast<std::size_t>(n - done));
    if (w < 0 && errno != EINTR) return false;
    if (w > 0) done += w;
  }
  return true;
}

int Relay(const char* a, const char* b) {
  const int fa = OpenRaw(a, B230400);
  if (fa < 0) return Fail(a);
  const int fb = OpenRaw(b, B230400);
  if (fb < 0) return Fail(b);
  std::printf("relay %s <-> %s\n", a, b);
  std::fflush(stdout);
  pollfd p[2] = {{fa, POLLIN, 0}, {fb, POLLIN, 0}};
  for (;;) {
    if (::poll(p, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return Fail("poll");
    }
    if ((p[0].revents & POLLIN) != 0 && !Pass(fa, fb)) break;
    if ((p[1].revents & POLLIN) != 0 && !Pass(fb, fa)) break;
    if (((p[0].revents | p[1].revents) & (POLLHUP | POLLERR | POLLNVAL)) != 0) break;
  }
  std::printf("relay ended\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "baudbase" && argc == 4) return BaudBase(argv[2], std::atol(argv[3]));
  if (command == "modem" && argc == 3) return Modem(argv[2]);
  if (command == "free" && argc == 3) return Free(argv[2]);
  if (command == "relay" && argc == 4) return Relay(argv[2], argv[3]);
  std::fprintf(stderr,
               "usage: corvanel-lab baudbase DEVICE N | modem DEVICE | free DEVICE | relay A B\n");
  return 2;
}

#include "sim/pty_line.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace sim {
namespace {

// How long the master is left alone after an unexpected read failure, so that it cannot spin.
constexpr std::chrono::milliseconds kMasterRetry{10};

std::string Errno(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

void SetCloexec(int fd) { ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC); }

timespec ToTimespec(Clock::duration d) {
  const Clock::duration left = std::max(d, Clock::duration::zero());
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(seconds.count());
  ts.tv_nsec = static_cast<long>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(left - seconds).count());
  return ts;
}

// Every inotify event waiting on fd, in order; their masks are appended to `masks`.
void ReadEvents(int fd, std::vector<std::uint32_t>& masks) {
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) return;
    for (ssize_t at = 0; at < n;) {
      inotify_event event;
      std::memcpy(&event, buffer + at, sizeof event);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
      masks.push_back(event.mask);
    }
  }
}

// How many descriptors have `path` open, in every process this user may inspect, leaving out
// descriptor `own` of this process (the simulator's own slave).
int CountHolders(const std::string& path, int own) {
  const std::string self = std::to_string(::getpid());
  int holders = 0;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return 0;
  while (const dirent* p = ::readdir(proc)) {
    if (p->d_name[0] < '1' || p->d_name[0] > '9') continue;
    const std::string dir = std::string("/proc/") + p->d_name + "/fd";
    DIR* fds = ::opendir(dir.c_str());
    if (fds == nullptr) continue;
    while (const dirent* f = ::readdir(fds)) {
      if (f->d_name[0] < '0' || f->d_name[0] > '9') continue;
      if (self == p->d_name && std::atoi(f->d_name) == own) continue;
      char target[64] = {};
      const std::string link = dir + "/" + f->d_name;
      const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
      if (n > 0 && path.compare(0, std::string::npos, target, static_cast<std::size_t>(n)) == 0) {
        ++holders;
      }
    }
    ::closedir(fds);
  }
  ::closedir(proc);
  return holders;
}

}  // namespace

CPtyLine::CPtyLine(DeviceConfig config)
    : m_config(config), m_device(std::make_unique<CAtTerminal>(std::move(config))) {}

CPtyLine::CPtyLine(DeviceConfig config, std::unique_ptr<CLineDevice> device)
    : m_config(std::move(config)), m_device(std::move(device)) {}

CPtyLine::~CPtyLine() { Stop(); }

std::string CPtyLine::LinkPath() const {
  return m_comDir + "/COM" + std::to_string(m_config.comNumber);
}

std::string CPtyLine::SlavePath() const {
  std::lock_guard lock(m_mutex);
  return m_slavePath;
}

DeviceStats CPtyLine::Stats() const {
  std::lock_guard lock(m_mutex);
  return m_device->Stats();
}

bool CPtyLine::WaitFor(const std::function<bool(const DeviceStats&)>& condition,
                       std::chrono::milliseconds timeout) const {
  std::unique_lock lock(m_mutex);
  return m_changed.wait_for(lock, timeout, [&] { return condition(m_device->Stats()); });
}

void CPtyLine::Changed() { m_changed.notify_all(); }

bool CPtyLine::OpenPty(std::string& error) {
  m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (m_master < 0) {
    error = Errno("posix_openpt");
    return false;
  }
  SetCloexec(m_master);  // a command started by the simulator must not keep the line up
  char name[128] = {};
  if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0 ||
      ::ptsname_r(m_master, name, sizeof name) != 0) {
    error = Errno("pty setup");
    ClosePty();
    return false;
  }
  m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios tio{};
  if (m_slave < 0 || ::tcgetattr(m_slave, &tio) != 0) {
    error = Errno("opening the pty slave");
    ClosePty();
    return false;
  }
  ::cfmakeraw(&tio);
  ::cfsetspeed(&tio, B230400);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (::tcsetattr(m_slave, TCSANOW, &tio) != 0) {
    error = Errno("tcsetattr on the pty slave");
    ClosePty();
    return false;
  }
  ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
  // The PC's opens and closes of the slave: the only sign of a port closed and opened again.
  m_watchFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (m_watchFd >= 0) m_watch = ::inotify_add_watch(m_watchFd, name, IN_OPEN | IN_CLOSE);
  if (m_watchFd < 0 || m_watch < 0) {
    error = Errno("inotify on the pty slave");
    ClosePty();
    return false;
  }
  // Replace the link atomically, so that an open never finds COMn missing or half made.
  const std::string link = LinkPath();
  const std::string temp = link + ".new";
  ::unlink(temp.c_str());
  if (::symlink(name, temp.c_str()) != 0 || ::rename(temp.c_str(), link.c_str()) != 0) {
    error = Errno(("linking " + link).c_str());
    ::unlink(temp.c_str());
    ClosePty();
    return false;
  }
  std::lock_guard lock(m_mutex);
  m_slavePath = name;
  return true;
}

void CPtyLine::ClosePty() {
  CloseFd(m_watchFd);  // before the slave: the sim's own close is no event of the PC
  m_watch = -1;
  CloseFd(m_master);
  CloseFd(m_slave);
}

bool CPtyLine::Start(const std::string& comDir, std::string& error) {
  if (m_thread.joinable()) {
    error = "already started";
    return false;
  }
  if (m_config.comNumber < 1) {
    error = "COM number must be at least 1";
    return false;
  }
  m_comDir = comDir;
  if (::pipe2(m_wake, O_NONBLOCK | O_CLOEXEC) != 0) {
    error = Errno("pipe2");
    return false;
  }
  if (m_config.plugged && !OpenPty(error)) {
    CloseFd(m_wake[0]);
    CloseFd(m_wake[1]);
    return false;
  }
  m_stop = false;
  m_thread = std::thread([this] { Run(); });
  return true;
}

void CPtyLine::Stop() {
  if (!m_thread.joinable()) return;
  {
    std::lock_guard lock(m_mutex);
    m_stop = true;
  }
  const char wake = 1;
  (void)!::write(m_wake[1], &wake, 1);
  m_thread.join();
  ClosePty();
  CloseFd(m_wake[0]);
  CloseFd(m_wake[1]);
  ::unlink(LinkPath().c_str());
}

void CPtyLine::Unplug() {
  {
    std::lock_guard lock(m_mutex);
    m_plugRequests.push_back(false);
  }
  const char wake = 1;
  (void)!::write(m_wake[1], &wake, 1);
}

void CPtyLine::Plug() {
  {
    std::lock_guard lock(m_mutex);
    m_plugRequests.push_back(true);
  }
  const char wake = 1;
  (void)!::write(m_wake[1], &wake, 1);
}

void CPtyLine::UnplugAtBlocks(std::size_t blocks) {
  std::lock_guard lock(m_mutex);
  m_unplugAtBlocks = blocks;
  m_beginsAtArm = m_device->Stats().beginFrames;
}

void CPtyLine::ApplyPlugRequest() {
  std::vector<bool> requests;
  {
    std::lock_guard lock(m_mutex);
    requests.swap(m_plugRequests);
  }
  for (const bool plug : requests) ApplyPlug(plug);
}

void CPtyLine::ApplyPlug(bool plug) {
  if (!plug && m_master >= 0) {
    m_queue.clear();
    m_blocked = false;
    m_outFree = m_inFree = Clock::time_point{};
    m_pcOpen = 0;
    ::unlink(LinkPath().c_str());
    ClosePty();  // the PC's open port sees its device gone
    std::lock_guard lock(m_mutex);
    m_slavePath.clear();
    ++m_device->MutableStats().unplugs;
    m_device->ResetLink();
    Changed();
  } else if (plug && m_master < 0) {
    std::string error;
    const bool opened = OpenPty(error);
    std::lock_guard lock(m_mutex);
    if (opened) {
      ++m_device->MutableStats().plugs;
      m_device->MutableStats().pluggedAt = Clock::now();
    }
    Changed();
  }
}

void CPtyLine::AddChunks(const std::uint8_t* data, std::size_t size, Clock::time_point& at) {
  if (!m_config.pacing) {
    if (size > 0) m_queue.push_back({at, std::vector<std::uint8_t>(data, data + size), false});
    return;
  }
  for (std::size_t i = 0; i < size; i += kPaceChunk) {
    const std::size_t n = std::min(kPaceChunk, size - i);
    m_queue.push_back({at, std::vector<std::uint8_t>(data + i, data + i + n), false});
    at += kByteTime * static_cast<long>(n);
  }
}

void CPtyLine::Schedule(Output&& out, Clock::time_point ready) {
  // One answer after the other, as a device that handles its requests in turn.
  Clock::time_point at = std::max(ready + out.delay, m_outFree);
  const std::size_t size = out.bytes.size();
  if (out.cutAt && *out.cutAt < size) {
    AddChunks(out.bytes.data(), *out.cutAt, at);
    at += out.pause;
    AddChunks(out.bytes.data() + *out.cutAt, size - *out.cutAt, at);
  } else {
    AddChunks(out.bytes.data(), size, at);
  }
  if (out.hangUp) m_queue.push_back({at, {}, true});
  m_outFree = at;
}

void CPtyLine::HandleWatch() {
  // inotify names no process, and it merges an event into an identical one still unread: an
  // open (or a close) of the tool's and one of another program's that come close together
  // arrive as one, and a count of them drifts. So a close is settled by what /proc shows: the
  // port is closed when no descriptor but the simulator's own has it open any more.
  std::vector<std::uint32_t> masks;
  ReadEvents(m_watchFd, masks);
  std::lock_guard lock(m_mutex);
  bool closed = false;
  for (const std::uint32_t mask : masks) {
    if ((mask & IN_OPEN) != 0) {
      ++m_device->MutableStats().opens;
      if (m_pcOpen++ == 0) ::tcflush(m_slave, TCIFLUSH);  // nothing stale for a fresh open
    }
    if ((mask & IN_CLOSE) != 0) {
      ++m_device->MutableStats().closes;
      closed = true;
    }
  }
  if (closed) {
    m_pcOpen = CountHolders(m_slavePath, m_slave);
    if (m_pcOpen == 0) {
      // The port is closed: what it had not read is gone, and the link starts over.
      m_queue.clear();
      m_blocked = false;
      m_outFree = m_inFree = Clock::time_point{};
      ::tcflush(m_slave, TCIFLUSH);
      m_device->ResetLink();
    }
  }
  Changed();
}

void CPtyLine::HandleInput(Clock::time_point now) {
  std::uint8_t buffer[kReadChunk];
  const ssize_t n = ::read(m_master, buffer, sizeof buffer);
  if (n <= 0) return;
  const auto count = static_cast<std::size_t>(n);
  // With pacing the bytes "arrive" at the line rate: a request is complete only when its last
  // byte would have passed the line.
  const Clock::time_point base = std::max(now, m_inFree);
  if (m_config.pacing) m_inFree = base + kByteTime * static_cast<long>(count);
  std::vector<Output> outputs;
  bool pull = false;
  {
    std::lock_guard lock(m_mutex);
    m_device->OnInput(buffer, count, now, outputs);
    const DeviceStats& stats = m_device->Stats();
    pull = m_unplugAtBlocks > 0 && stats.beginFrames > m_beginsAtArm &&
           stats.blocks >= m_unplugAtBlocks;
    if (pull) m_unplugAtBlocks = 0;
    Changed();
  }
  if (pull) {
    ApplyPlug(false);  // before any answer to what came in
    return;
  }
  for (Output& out : outputs) {
    const Clock::time_point ready =
        m_config.pacing ? base + kByteTime * static_cast<long>(out.inputEnd) : now;
    Schedule(std::move(out), ready);
  }
}

void CPtyLine::HangUp() {
  m_queue.clear();
  m_blocked = false;
  m_outFree = m_inFree = Clock::time_point{};
  m_pcOpen = 0;
  ClosePty();  // closing the master hangs the PC's slave fds up
  {
    std::lock_guard lock(m_mutex);
    m_slavePath.clear();
  }
  // The new device (or its absence) is in place before anyone learns of the hang-up.
  std::string error;
  if (!m_config.replugAfterHangUp || !OpenPty(error)) ::unlink(LinkPath().c_str());
  std::lock_guard lock(m_mutex);
  ++m_device->MutableStats().hangUps;
  m_device->ResetLink();
  Changed();
}

void CPtyLine::WriteDue(Clock::time_point now) {
  while (!m_queue.empty() && !m_blocked && m_queue.front().due <= now) {
    Chunk& chunk = m_queue.front();
    if (chunk.hangUp) {
      HangUp();
      return;
    }
    const ssize_t n = ::write(m_master, chunk.bytes.data(), chunk.bytes.size());
    const bool retry = n < 0 && (errno == EAGAIN || errno == EINTR);
    if (n == static_cast<ssize_t>(chunk.bytes.size()) || (n < 0 && !retry)) {
      m_queue.pop_front();  // written whole, or the line is gone for this chunk
    } else if (n >= 0) {
      chunk.bytes.erase(chunk.bytes.begin(), chunk.bytes.begin() + n);
      m_blocked = true;  // the pty buffer is full: the PC is not reading
    } else {
      m_blocked = errno == EAGAIN;
    }
  }
}

void CPtyLine::Run() {
  Clock::time_point masterQuietUntil{};
  for (;;) {
    {
      std::lock_guard lock(m_mutex);
      if (m_stop) return;
    }
    const Clock::time_point now = Clock::now();
    const bool hasPty = m_master >= 0;
    pollfd fds[3] = {{m_wake[0], POLLIN, 0}, {m_watchFd, POLLIN, 0}, {m_master, 0, 0}};
    if (hasPty && now >= masterQuietUntil) fds[2].events = POLLIN;
    if (hasPty && m_blocked) fds[2].events |= POLLOUT;
    timespec timeout{};
    timespec* wait = nullptr;
    if (!m_queue.empty() && !m_blocked) {
      timeout = ToTimespec(m_queue.front().due - now);
      wait = &timeout;
    } else if (hasPty && now < masterQuietUntil) {
      timeout = ToTimespec(masterQuietUntil - now);
      wait = &timeout;
    }
    const int ready = ::ppoll(fds, hasPty ? 3 : 1, wait, nullptr);
    if (ready < 0 && errno != EINTR) return;
    if ((fds[0].revents & POLLIN) != 0) {
      char drain[16];
      while (::read(m_wake[0], drain, sizeof drain) > 0) {
      }
      ApplyPlugRequest();
      if (m_master < 0) continue;  // unplugged: nothing of the old pty's to look at
    }
    // Opens and closes first: a close must take effect before any later input is answered.
    if (hasPty && (fds[1].revents & POLLIN) != 0) HandleWatch();
    if (hasPty && (fds[2].revents & POLLOUT) != 0) m_blocked = false;
    if (hasPty && (fds[2].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      if ((fds[2].revents & POLLIN) != 0) {
        HandleInput(Clock::now());
      } else {
        masterQuietUntil =
            Clock::now() + kMasterRetry;  // no slave: cannot happen while ours is open
      }
    }
    WriteDue(Clock::now());
  }
}

}  // namespace sim

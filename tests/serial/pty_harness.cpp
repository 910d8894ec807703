#include "pty_harness.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace {

constexpr const char kComDirVariable[] = "CORVANEL_COM_DIR";

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

void WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return;  // the port side is gone; a script does not insist
    }
  }
}

}  // namespace

DeviceScript Reply(std::string text) { return {DeviceStep{{}, std::move(text), false}}; }

CComDir::CComDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/corvanel-serial-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    Fail("mkdtemp");
  }
  m_path = pattern;
  ::setenv(kComDirVariable, m_path.c_str(), 1);
}

CComDir::~CComDir() {
  ::unsetenv(kComDirVariable);
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);  // removes symlinks, never their targets
}

std::string CComDir::EntryPath(int comNumber) const {
  return m_path + "/COM" + std::to_string(comNumber);
}

void CComDir::AddPlainFile(int comNumber) const {
  std::ofstream(EntryPath(comNumber)) << "not a terminal\n";
}

void CCommandLog::Add(int comNumber, const std::string& command) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_entries.emplace_back(comNumber, command);
}

std::vector<std::pair<int, std::string>> CCommandLog::Entries() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_entries;
}

CPtyDevice::CPtyDevice(const CComDir& dir, int comNumber, CCommandLog* log)
    : m_comNumber(comNumber), m_log(log), m_entry(dir.EntryPath(comNumber)) {
  m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
    Fail("posix_openpt");
  }
  const char* slaveName = ::ptsname(m_master);
  if (slaveName == nullptr) {
    Fail("ptsname");
  }
  const std::string slavePath = slaveName;
  m_slave = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (m_slave < 0) {
    Fail("open slave");
  }
  termios t;
  if (::tcgetattr(m_slave, &t) != 0) {
    Fail("tcgetattr");
  }
  ::cfmakeraw(&t);
  if (::tcsetattr(m_slave, TCSANOW, &t) != 0) {
    Fail("tcsetattr");
  }
  int wake[2];
  if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    Fail("pipe2");
  }
  m_wakeRead = wake[0];
  m_wakeWrite = wake[1];
  if (::symlink(slavePath.c_str(), m_entry.c_str()) != 0) {
    Fail("symlink " + m_entry);
  }
  m_thread = std::thread(&CPtyDevice::ThreadMain, this);
}

CPtyDevice::~CPtyDevice() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stop = true;
  }
  m_changed.notify_all();
  Wake();
  m_thread.join();
  ::unlink(m_entry.c_str());
  if (m_master >= 0) {
    ::close(m_master);
  }
  ::close(m_slave);
  ::close(m_wakeRead);
  ::close(m_wakeWrite);
}

void CPtyDevice::Answer(const std::string& command, DeviceScript steps) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_answers[command] = std::move(steps);
}

void CPtyDevice::Run(DeviceScript steps) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pending.insert(m_pending.end(), steps.begin(), steps.end());
  }
  Wake();
}

void CPtyDevice::SetReading(bool reading) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_reading = reading;
  }
  Wake();
}

std::string CPtyDevice::Received() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_received;
}

std::vector<std::string> CPtyDevice::Commands() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_commands;
}

bool CPtyDevice::WaitForReceived(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_for(lock, timeout, [&] { return m_received.size() >= count; });
}

bool CPtyDevice::WaitForStepsDone(std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_for(lock, timeout, [&] { return m_pending.empty() && !m_stepRunning; });
}

bool CPtyDevice::WaitForQueued(std::size_t count, std::chrono::milliseconds timeout) const {
  // The slave's input queue is shared by every fd on it, so the harness's own fd sees it.
  const auto deadline = HarnessClock::now() + timeout;
  for (;;) {
    int queued = 0;
    if (::ioctl(m_slave, FIONREAD, &queued) == 0 && static_cast<std::size_t>(queued) >= count) {
      return true;
    }
    if (HarnessClock::now() >= deadline) {
      return false;
    }
    // No event tells when the pty has moved bytes across; look again shortly.
    pollfd none{-1, 0, 0};
    ::poll(&none, 1, 1);
  }
}

HarnessClock::time_point CPtyDevice::LastSendTime() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_lastSend;
}

void CPtyDevice::Wake() const {
  const char byte = 1;
  (void)::write(m_wakeWrite, &byte, 1);
}

void CPtyDevice::TakeInput(const char* bytes, std::size_t count) {
  m_received.append(bytes, count);
  for (std::size_t i = 0; i < count; ++i) {
    m_partial.push_back(bytes[i]);
    if (bytes[i] != '\n') {
      continue;
    }
    m_commands.push_back(m_partial);
    if (m_log != nullptr) {
      m_log->Add(m_comNumber, m_partial);
    }
    const auto answer = m_answers.find(m_partial);
    if (answer != m_answers.end()) {
      m_pending.insert(m_pending.end(), answer->second.begin(), answer->second.end());
    }
    m_partial.clear();
  }
}

void CPtyDevice::RunStep(std::unique_lock<std::mutex>& lock, const DeviceStep& step) {
  m_stepRunning = true;
  // The script's own pause; the device's destruction cuts it short.
  m_changed.wait_for(lock, step.pause, [&] { return m_stop; });
  if (!m_stop && !m_hungUp) {
    if (step.hangUp) {
      ::unlink(m_entry.c_str());
      ::close(m_master);
      m_master = -1;
      m_hungUp = true;
    } else if (!step.bytes.empty()) {
      const int master = m_master;
      // Taken before the write: no byte can reach the port earlier, however late this thread
      // gets back from the write.
      const HarnessClock::time_point sending = HarnessClock::now();
      lock.unlock();
      WriteAll(master, step.bytes);
      lock.lock();
      m_lastSend = sending;
    }
  }
  m_stepRunning = false;
  m_changed.notify_all();
}

void CPtyDevice::ThreadMain() {
  std::unique_lock<std::mutex> lock(m_mutex);
  while (!m_stop) {
    if (!m_pending.empty()) {
      const DeviceStep step = m_pending.front();
      m_pending.pop_front();
      RunStep(lock, step);
      continue;
    }
    pollfd fds[2] = {{m_wakeRead, POLLIN, 0}, {-1, POLLIN, 0}};
    if (m_reading && !m_hungUp) {
      fds[1].fd = m_master;
    }
    lock.unlock();
    ::poll(fds, 2, -1);
    char buffer[4096];
    while (::read(m_wakeRead, buffer, sizeof buffer) > 0) {
    }
    ssize_t n = 0;
    if (fds[1].fd >= 0 && (fds[1].revents & POLLIN) != 0) {
      n = ::read(fds[1].fd, buffer, sizeof buffer);
    }
    lock.lock();
    if (n > 0) {
      TakeInput(buffer, static_cast<std::size_t>(n));
      m_changed.notify_all();
    }
  }
}

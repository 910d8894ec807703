#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "cli/unit_process.h"

extern char** environ;

struct CUnitProcess::Impl {
  pid_t pid = -1;
  std::FILE* output = nullptr;
  std::atomic<bool> waited{false};  // Wait's (the reader thread), read by Stop (the station's)
};

CUnitProcess::CUnitProcess() : m_impl(new Impl) {}

CUnitProcess::~CUnitProcess() {
  if (m_impl->pid > 0 && !m_impl->waited) {
    Stop();
    Wait();
  }
  if (m_impl->output != nullptr) {
    std::fclose(m_impl->output);
  }
}

bool CUnitProcess::Start(const std::vector<std::string>& arguments, std::string& error) {
  char self[4096];
  const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) {
    error = std::string("cannot find this program: ") + std::strerror(errno);
    return false;
  }
  self[length] = '\0';
  int pipe[2];
  if (::pipe2(pipe, O_CLOEXEC) != 0) {
    error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe[1], STDOUT_FILENO);  // dup2 clears CLOEXEC
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);  // the station blocks its stop signals
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  std::vector<std::string> all{self};
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  argv.reserve(all.size() + 1);
  for (std::string& argument : all) {
    argv.push_back(argument.data());
  }
  argv.push_back(nullptr);
  const int failed = posix_spawn(&m_impl->pid, self, &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(pipe[1]);
  if (failed != 0) {
    ::close(pipe[0]);
    m_impl->pid = -1;
    error = std::string("cannot start a unit: ") + std::strerror(failed);
    return false;
  }
  m_impl->output = ::fdopen(pipe[0], "r");
  return m_impl->output != nullptr;
}

bool CUnitProcess::ReadLine(std::string& line) {
  line.clear();
  for (;;) {
    const int c = std::getc(m_impl->output);
    if (c == EOF) {
      return !line.empty();
    }
    if (c == '\n') {
      return true;
    }
    line.push_back(static_cast<char>(c));
  }
}

int CUnitProcess::Wait() {
  int status = 0;
  while (::waitpid(m_impl->pid, &status, 0) < 0 && errno == EINTR) {
  }
  m_impl->waited = true;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void CUnitProcess::Stop() {
  if (m_impl->pid > 0 && !m_impl->waited) {
    ::kill(m_impl->pid, SIGTERM);
  }
}

void WatchStopRequests(std::function<void(int signal)> onStop) {
  sigset_t stops;
  sigemptyset(&stops);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    sigaddset(&stops, signal);
  }
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);
  std::thread([stops, onStop = std::move(onStop)] {
    for (;;) {
      int signal = 0;
      if (sigwait(&stops, &signal) == 0) {
        onStop(signal);
      }
    }
  }).detach();
}

void EndWithStation() {
  const pid_t station = ::getppid();
  ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (::getppid() != station) {
    ::raise(SIGTERM);  // the station died before the line above
  }
}

// corvanel-cli run as a process of its own against the simulator: its exit code and output,
// and the records it leaves in a state folder of the test's own.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/sim_fixture.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

constexpr auto kRunDeadline = 120s;  // far above the slowest case (three silent reads)

struct CliResult {
  int exitCode = -1;  // -1: did not exit normally
  std::string out, err;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class CliTest : public SimFixture {
 protected:
  // Records go to a state folder of this test's own.
  void SetUp() override { setenv("XDG_STATE_HOME", StateHome().c_str(), 1); }
  void TearDown() override {
    // A test that failed before waiting for its program leaves it running: it is ended here.
    for (const pid_t pid : m_started) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    unsetenv("XDG_STATE_HOME");
    SimFixture::TearDown();
  }
  std::string StateHome() { return TempDir() + "/state"; }
  std::string RecordFolder() { return StateHome() + "/corvanel"; }
  // The lines of upgrades.jsonl.
  std::vector<std::string> RecordLines() {
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(RecordFolder() + "/upgrades.jsonl"));
    for (std::string line; std::getline(in, line);) {
      lines.push_back(line);
    }
    return lines;
  }

  // Starts corvanel-cli with `args`; its output goes to files in the test's directory.
  // With `terminal`, standard output is that terminal device instead of a file.
  pid_t Start(const std::vector<std::string>& args, const std::string& terminal = {}) {
    std::vector<std::string> all = m_runAs;
    all.push_back(CORVANEL_CLI_EXE);
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all) {
      argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (terminal.empty()) {
      posix_spawn_file_actions_addopen(&actions, 1, OutPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                       0600);
    } else {
      posix_spawn_file_actions_addopen(&actions, 1, terminal.c_str(), O_WRONLY | O_NOCTTY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, 2, ErrPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(rc, 0) << argv[0];
    if (rc != 0) {
      return -1;
    }
    m_started.push_back(pid);
    return pid;
  }

  // Waits for the process to end (killing it past the deadline) and gathers its output.
  CliResult Wait(pid_t pid) {
    CliResult result;
    if (pid <= 0) {
      return result;
    }
    m_started.erase(std::remove(m_started.begin(), m_started.end(), pid), m_started.end());
    const auto deadline = std::chrono::steady_clock::now() + kRunDeadline;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        ADD_FAILURE() << "corvanel-cli did not end in time";
        break;
      }
      std::this_thread::sleep_for(10ms);
    }
    if (WIFEXITED(status)) {
      result.exitCode = WEXITSTATUS(status);
    }
    result.out = ReadFile(OutPath());
    result.err = ReadFile(ErrPath());
    return result;
  }

  CliResult Run(const std::vector<std::string>& args) { return Wait(Start(args)); }

  // A command the program is started through (setpriv, to run it as another user).
  std::vector<std::string> m_runAs;
  std::vector<pid_t> m_started;  // started and not yet waited for

  std::string OutPath() { return TempDir() + "/out.txt"; }
  std::string ErrPath() { return TempDir() + "/err.txt"; }
  std::string TracePath() { return TempDir() + "/trace.txt"; }
};

}  // namespace

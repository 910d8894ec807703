// A stop request from outside in the middle of a transfer: the program that holds the port ends
// with 128 + the signal, sends nothing more, and the port is free at once for the next open,
// the exclusive hold included (which only a program without root would otherwise meet).
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ostream>
#include <string>
#include <thread>

#include "download/process_exit.h"
#include "serial/serial_port.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/test_names.h"
#include "tests/support/unprivileged_open.h"

extern char** environ;

namespace {

using std::chrono::seconds;

constexpr std::size_t kImageSize = 64 * 1024;  // about 6 s paced: far longer than the test waits
constexpr std::size_t kBlocksBeforeSignal = 2;

struct SignalRow {
  const char* name;
  int signal;
};

void PrintTo(const SignalRow& row, std::ostream* os) { *os << row.name; }

class SignalExitTest : public SimFixture, public ::testing::WithParamInterface<SignalRow> {};

// The child's exit status once it ends, or -1 at the deadline (then it is killed).
int WaitForExit(pid_t child, seconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  while (::waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_P(SignalExitTest, MidTransfer_EndsWithItsCodeAndFreesThePort) {
  StartTerminal({}, /*pacing=*/true);
  const std::string file = MakeFile(RandomBytes(kImageSize, 11));
  const std::string slave = Terminal().SlavePath();
  ASSERT_EQ(::chmod(slave.c_str(), 0666), 0);  // so that nobody may try it

  char* argv[] = {const_cast<char*>(CORVANEL_DOWNLOAD_HOST_EXE), const_cast<char*>(file.c_str()),
                  nullptr};
  pid_t child = 0;
  ASSERT_EQ(::posix_spawn(&child, argv[0], nullptr, nullptr, argv, environ), 0);
  ASSERT_TRUE(Terminal().WaitFor(
      [](const sim::DeviceStats& s) { return s.blocks >= kBlocksBeforeSignal; }, seconds(60)))
      << "the transfer did not start";
  EXPECT_EQ(OpenAsNobody(slave), EBUSY) << "the port is held exclusively while in use";

  ASSERT_EQ(::kill(child, GetParam().signal), 0);
  EXPECT_EQ(WaitForExit(child, seconds(30)), SignalExitCode(GetParam().signal));

  const sim::DeviceStats stats = Stats();
  EXPECT_FALSE(stats.endReceived);
  EXPECT_LT(stats.blocks, kImageSize / 1024);
  EXPECT_EQ(OpenAsNobody(slave), 0) << "the exclusive hold outlived the program";
  EXPECT_EQ(OpenTerminalPort("\\\\.\\COM9"), PORT_OK);
}

// The title bar's close on the UI thread while the worker waits in a read, its window link
// carried out on that thread: the process ends with 0 and the port is free at once. The close
// leaves the descriptor to the process's end, so under ThreadSanitizer nothing races with the
// worker's read (a report would end the child with another code).
class TitleBarCloseTest : public SimFixture {};

TEST_F(TitleBarCloseTest, OnTheUiThreadMidTransfer_EndsWith0AndFreesThePort) {
  StartTerminal({}, /*pacing=*/true);
  const std::string file = MakeFile(RandomBytes(kImageSize, 12));
  const std::string slave = Terminal().SlavePath();
  ASSERT_EQ(::chmod(slave.c_str(), 0666), 0);

  int input[2];
  ASSERT_EQ(::pipe(input), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[0], 0);
  posix_spawn_file_actions_addclose(&actions, input[1]);
  char* argv[] = {const_cast<char*>(CORVANEL_DOWNLOAD_HOST_EXE),
                  const_cast<char*>("--close-on-input"), const_cast<char*>(file.c_str()), nullptr};
  pid_t child = 0;
  const int spawned = ::posix_spawn(&child, argv[0], &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(input[0]);
  ASSERT_EQ(spawned, 0);
  ASSERT_TRUE(Terminal().WaitFor(
      [](const sim::DeviceStats& s) { return s.blocks >= kBlocksBeforeSignal; }, seconds(60)))
      << "the transfer did not start";

  ASSERT_EQ(::write(input[1], "x", 1), 1);
  ::close(input[1]);
  EXPECT_EQ(WaitForExit(child, seconds(30)), 0);
  EXPECT_FALSE(Stats().endReceived);
  EXPECT_EQ(OpenAsNobody(slave), 0) << "the exclusive hold outlived the program";
  EXPECT_EQ(OpenTerminalPort("\\\\.\\COM9"), PORT_OK);
}

#ifdef CORVANEL_APP_EXE
// The window program holds the port from its start-up detection on, and ends the same way.
class WindowProgramTest : public SimFixture {};

TEST_F(WindowProgramTest, HoldingThePort_EndsOnSigtermAndFreesIt) {
  StartTerminal();
  ASSERT_EQ(::setenv("QT_QPA_PLATFORM", "offscreen", 1), 0);
  char* argv[] = {const_cast<char*>(CORVANEL_APP_EXE), nullptr};
  pid_t child = 0;
  ASSERT_EQ(::posix_spawn(&child, argv[0], nullptr, nullptr, argv, environ), 0);
  // Found on its first read, the terminal keeps the window program's open port.
  ASSERT_TRUE(Terminal().WaitFor(
      [](const sim::DeviceStats& s) { return !s.atCommands.empty() && s.opens > s.closes; },
      seconds(60)));
  ASSERT_EQ(::kill(child, SIGTERM), 0);
  EXPECT_EQ(WaitForExit(child, seconds(30)), SignalExitCode(SIGTERM));
  EXPECT_EQ(OpenTerminalPort("\\\\.\\COM9"), PORT_OK);
}
#endif

INSTANTIATE_TEST_SUITE_P(Signals, SignalExitTest,
                         ::testing::Values(SignalRow{"Term", SIGTERM}, SignalRow{"Int", SIGINT},
                                           SignalRow{"HangUp", SIGHUP}),
                         ByName());

}  // namespace

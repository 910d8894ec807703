// Another program opening and closing the terminal's device during a download, as programs that
// look at serial ports do: the simulator must not take that for the tool's close and drop the
// handset's download mode.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "download/control_ids.h"
#include "download/download_worker.h"
#include "download/messages.h"
#include "tests/e2e/e2e_fixture.h"

namespace {

// Far beyond the download it disturbs: the stranger never outlives its test by more.
constexpr auto kStrangerLifetime = std::chrono::seconds(120);

// A process that opens the device twice and closes both, over and over, until it is killed.
// Two opens in a row come to the simulator as one event when it has not read the first yet.
// It ends with the test's process too (and after kStrangerLifetime at the latest), so that it
// never opens another test's pty under the same name.
pid_t StartStranger(const std::string& path) {
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent) {
      ::_exit(0);  // the test is gone already
    }
    const timespec pause{0, 500000};
    const auto end = std::chrono::steady_clock::now() + kStrangerLifetime;
    while (std::chrono::steady_clock::now() < end) {
      const int first = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
      const int second = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
      ::close(first);
      ::nanosleep(&pause, nullptr);
      ::close(second);
      ::nanosleep(&pause, nullptr);
    }
    ::_exit(0);
  }
  return pid;
}

TEST_F(EndToEndTest, AnotherProgramOpeningAndClosingThePort_DoesNotEndTheDownload) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "the port's exclusive mode keeps other programs out unless they run as root";
  }
  StartWith({});
  const std::vector<std::uint8_t> image = RandomBytes(30 * 1024 + 100, 5);
  m_link.Type(IDC_PATH, MakeFile(image));
  StartDownload();  // its detection has opened the port again: the stranger comes after it
  const std::size_t opensBefore = Stats().opens;
  const pid_t stranger = StartStranger(Terminal().SlavePath());
  ASSERT_GT(stranger, 0);
  m_worker.join();
  ::kill(stranger, SIGKILL);
  ::waitpid(stranger, nullptr, 0);

  const sim::DeviceStats stats = Stats();
  EXPECT_GT(stats.opens, opensBefore + 10) << "the other program kept opening the device";
  EXPECT_EQ(m_link.Text(IDC_MESSAGE), kPaneTransferDone);
  EXPECT_EQ(stats.image, image);
  EXPECT_TRUE(stats.endFcsMatched);
}

}  // namespace

// corvanel-cli doctor against conditions planted on this machine: a clean bench gives no
// finding, a program holding the port and a user without the device's group each give theirs.
// (ModemManager, brltty and a UART that cannot do 230400 are planted in the QEMU guest of the
// real-driver stage; a port above COM100 under Wine.)
#include <grp.h>
#include <sys/stat.h>

#include <cstdio>

#include "tests/cli/cli_fixture.h"

namespace {

class DoctorTest : public CliTest {};

TEST_F(DoctorTest, CleanBench_ListsThePortAndFindsNothing) {
  StartTerminal();
  const CliResult result = Run({"doctor"});
  EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
  EXPECT_NE(result.out.find("COM9  " + m_sim.ComDir() + "/COM9 -> /dev/pts/"), std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("Nothing on this PC stands in the way"), std::string::npos);
}

TEST_F(DoctorTest, PortHeldByAnotherProgram_NamesItsPidAndName) {
  StartTerminal();
  const std::string link = m_sim.ComDir() + "/COM9";
  const pid_t holder = fork();
  if (holder == 0) {
    const int fd = open(link.c_str(), O_RDWR | O_NOCTTY);
    dup2(fd, 3);
    execlp("sleep", "sleep", "60", static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_GT(holder, 0);
  // The holder has the port once /proc shows it.
  const std::string fd3 = "/proc/" + std::to_string(holder) + "/fd/3";
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (access(fd3.c_str(), F_OK) != 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(5ms);
  }
  const CliResult result = Run({"--json", "doctor"});
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  EXPECT_EQ(result.exitCode, 8) << result.out;
  const std::string pid = std::to_string(holder);
  EXPECT_NE(result.out.find("\"kind\":\"held\",\"text\":\"/dev/pts/"), std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("is held by sleep (pid " + pid +
                            ")\",\"fix\":\"close sleep, or end it: kill " + pid),
            std::string::npos)
      << result.out;
}

// A user who may not open the device is told which group gives the right (here the pty's, as
// devpts is mounted on this machine). Needs root, to run the doctor as another user.
TEST_F(DoctorTest, UserWithoutTheGroup_IsToldWhichGroupToJoin) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "needs root to run as another user";
  }
  StartTerminal();
  chmod(m_sim.ComDir().c_str(), 0755);  // the other user may see the link, not open its device
  chmod(TempDir().c_str(), 0777);
  const pid_t child = fork();
  if (child == 0) {
    const int out = open(OutPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    dup2(out, 1);
    constexpr uid_t kNobody = 65534;
    if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(126);
    execl(CORVANEL_CLI_EXE, CORVANEL_CLI_EXE, "doctor", static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  const std::string out = ReadFile(OutPath());
  struct stat device {};
  ASSERT_EQ(stat((m_sim.ComDir() + "/COM9").c_str(), &device), 0);
  const group* owner = getgrgid(device.st_gid);
  ASSERT_NE(owner, nullptr);
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(device.st_mode & 07777U));
  EXPECT_EQ(WEXITSTATUS(status), 8) << out;
  EXPECT_NE(out.find("you may not open /dev/pts/"), std::string::npos) << out;
  EXPECT_NE(out.find(std::string("(group ") + owner->gr_name + ", mode " + mode + ")"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find(std::string("fix: sudo adduser nobody ") + owner->gr_name +
                     ", then log out and in again"),
            std::string::npos)
      << out;
}

}  // namespace

// The corvanel-sim command: options, running a command with CORVANEL_COM_DIR, the report and
// the saved image. The command it runs is this test binary again, in client mode: when
// SIM_TEST_CLIENT is set, it carries "abc" to the handset on COM5 before gtest starts, and exits.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/wire_vectors.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Reads until `count` bytes are in or 3 s pass.
Bytes ReadCount(int fd, std::size_t count) {
  Bytes got;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    unsigned char buf[256];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;
    got.insert(got.end(), buf, buf + n);
  }
  return got;
}

int RunClient(const char* dir) {
  const int fd = ::open((std::string(dir) + "/COM5").c_str(), O_RDWR | O_NOCTTY);
  if (fd < 0) return 10;
  const std::string dial = "ATD**60\r\n";
  if (::write(fd, dial.data(), dial.size()) != static_cast<ssize_t>(dial.size())) return 11;
  if (ReadCount(fd, 16).size() != 16) return 12;
  const Bytes frames[] = {wire::kBeginFrame, wire::kDataAbcFrame, wire::kEndAbcFrame};
  const std::size_t replies[] = {15, 19, 15};
  for (int i = 0; i < 3; ++i) {
    if (::write(fd, frames[i].data(), frames[i].size()) != static_cast<ssize_t>(frames[i].size()))
      return 13;
    if (ReadCount(fd, replies[i]).size() != replies[i]) return 20 + i;
  }
  ::close(fd);
  return 0;
}

// Runs before gtest in client mode.
const bool kClientRan = [] {
  if (const char* mode = std::getenv("SIM_TEST_CLIENT"); mode != nullptr) {
    const char* dir = std::getenv("CORVANEL_COM_DIR");
    std::_Exit(dir == nullptr ? 9 : (std::string(mode) == "status" ? 42 : RunClient(dir)));
  }
  return false;
}();

struct Result {
  int status = -1;
  std::string output;
};

Result RunSim(const std::string& args) {
  Result r;
  const std::string command = std::string(CORVANEL_SIM_EXE) + " " + args + " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return r;
  char buf[512];
  while (std::fgets(buf, sizeof buf, pipe) != nullptr) r.output += buf;
  const int w = ::pclose(pipe);
  r.status = WIFEXITED(w) ? WEXITSTATUS(w) : -1;
  return r;
}

std::string Self() {
  char path[4096] = {};
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

TEST(SimCommand, Help_DocumentsTheOptionsAndExitsZero) {
  const Result r = RunSim("--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.output.find("Usage: corvanel-sim [options] [-- command [args...]]"),
            std::string::npos);
  for (const char* option :
       {"--com", "--model", "--maker", "--ok", "--connect", "--fault", "--pace", "--save-image"}) {
    EXPECT_NE(r.output.find(option), std::string::npos) << option;
  }
}

struct BadOption {
  const char* args;
  const char* message;
};

class SimCommandUsage : public testing::TestWithParam<BadOption> {};

TEST_P(SimCommandUsage, BadOption_ExitsTwoWithAReason) {
  const Result r = RunSim(GetParam().args);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.output.find(GetParam().message), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("--help"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Options, SimCommandUsage,
                         testing::Values(BadOption{"--frob", "unknown option '--frob'"},
                                         BadOption{"--com 0", "--com takes a number from 1 to 255"},
                                         BadOption{"--com x", "--com takes a number from 1 to 255"},
                                         BadOption{"--com 4 --com 4", "COM4 is given twice"},
                                         BadOption{"--fault begin=frob", "--fault: unknown fault"},
                                         BadOption{"--model", "--model needs a value"},
                                         BadOption{"--model '\\q'", "--model: unknown escape"},
                                         BadOption{"--", "'--' needs a command"}));

TEST(SimCommand, RunsTheCommandWithComDirAndReturnsItsStatus) {
  const Result r = RunSim("--com 5 -- env SIM_TEST_CLIENT=status " + Self());
  EXPECT_EQ(r.status, 42) << r.output;
}

TEST(SimCommand, TransferThroughTheCommand_IsReportedAndSaved) {
  char dir[] = "/tmp/sim-command-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string image = std::string(dir) + "/image.bin";
  const Result r =
      RunSim("--com 5 --save-image " + image + " -- env SIM_TEST_CLIENT=transfer " + Self());
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("COM5: 1 AT commands, 3 frames (0 rejected), 0 retries, 1 transfers"),
            std::string::npos)
      << r.output;
  EXPECT_NE(
      r.output.find("COM5: image 3 bytes in 1 blocks, FCS 0x9E25; end request FCS 0x9E25 matched"),
      std::string::npos)
      << r.output;
  std::ifstream in(image, std::ios::binary);
  const std::string saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(saved, "abc");
  EXPECT_NE(r.output.find("COM5: image saved to " + image), std::string::npos) << r.output;
  ::unlink(image.c_str());
  ::rmdir(dir);
}

TEST(SimCommand, WithoutACommand_PrintsTheDirectoryAndEndsOnSigterm) {
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(out[1], 1);
    ::close(out[0]);
    ::execl(CORVANEL_SIM_EXE, CORVANEL_SIM_EXE, "--quiet", "--com", "7",
            static_cast<char*>(nullptr));
    std::_Exit(127);
  }
  ::close(out[1]);
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    pollfd p{out[0], POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    char c[128];
    const ssize_t n = ::read(out[0], c, sizeof c);
    if (n <= 0) break;
    line.append(c, static_cast<std::size_t>(n));
  }
  ASSERT_EQ(line.rfind("CORVANEL_COM_DIR=", 0), 0u) << line;
  const std::string dir = line.substr(17, line.find('\n') - 17);
  struct stat st {};
  EXPECT_EQ(::stat((dir + "/COM7").c_str(), &st), 0);
  ::kill(child, SIGTERM);
  int w = 0;
  ASSERT_EQ(::waitpid(child, &w, 0), child);
  EXPECT_TRUE(WIFEXITED(w));
  EXPECT_EQ(WEXITSTATUS(w), 0);
  EXPECT_NE(::lstat(dir.c_str(), &st), 0);  // cleaned up
  ::close(out[0]);
}

// The client's own exchange as a trace: the dial, then begin, "abc" and end (or `data` instead
// of the "abc" frame), each answered with a reply of the length the client waits for.
std::string ClientTrace(const Bytes& data = wire::kDataAbcFrame) {
  std::string text = "     1.000 open  \\\\.\\COM5\n";
  const std::string dial = "ATD**60\r\n";
  const Bytes writes[] = {Bytes(dial.begin(), dial.end()), wire::kBeginFrame, data,
                          wire::kEndAbcFrame};
  const std::size_t replies[] = {16, 15, 19, 15};
  double ms = 2;
  auto add = [&](const char* direction, const Bytes& bytes) {
    char part[64];
    std::snprintf(part, sizeof part, "%10.3f %-5s %5zu", ms, direction, bytes.size());
    text += part;
    for (const unsigned char b : bytes) {
      std::snprintf(part, sizeof part, " %02X", b);
      text += part;
    }
    text += "  |...|\n";
    ms += 60;
  };
  for (int i = 0; i < 4; ++i) {
    add("write", writes[i]);
    add("read", Bytes(replies[i], 0x41));
  }
  return text + "   500.000 close \\\\.\\COM5\n";
}

std::string WriteTemp(const std::string& dir, const std::string& name, const std::string& text) {
  const std::string path = dir + "/" + name;
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

TEST(SimCommand, Replay_AnswersTheCommandAsTheTraceShowsAndRebuildsTheImage) {
  char dir[] = "/tmp/sim-replay-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string trace = WriteTemp(dir, "trace.txt", ClientTrace());
  const std::string image = std::string(dir) + "/image.ldr";
  const Result r = RunSim("--replay " + trace + " --extract-image " + image +
                          " -- env SIM_TEST_CLIENT=transfer " + Self());
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("replay: all 4 writes the device could see were as the trace shows"),
            std::string::npos)
      << r.output;
  std::ifstream in(image, std::ios::binary);
  const std::string saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(saved, "abc");
  ::unlink(image.c_str());
  ::unlink(trace.c_str());
  ::rmdir(dir);
}

TEST(SimCommand, ReplayOfOtherBytes_EndsTheCommandAndExitsNine) {
  char dir[] = "/tmp/sim-replay-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string trace = WriteTemp(dir, "trace.txt", ClientTrace(wire::kData45Frame));
  const Result r =
      RunSim("--quiet --replay " + trace + " -- env SIM_TEST_CLIENT=transfer " + Self());
  EXPECT_EQ(r.status, 9) << r.output;
  EXPECT_NE(r.output.find("replay stopped at exchange 3 (trace line 6, 242.000 ms): the tool "
                          "wrote other bytes than the trace"),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("  written  "), std::string::npos) << r.output;
  ::unlink(trace.c_str());
  ::rmdir(dir);
}

}  // namespace

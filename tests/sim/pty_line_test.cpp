// The simulated terminal and handset, driven through their pseudo-terminal with plain POSIX I/O,
// the way the tool's port sees them. Test frames are built here, independently of the simulator.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "sim/simulator.h"
#include "tests/support/wire_vectors.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using sim::DeviceConfig;
using sim::DeviceStats;

constexpr auto kWait = 3000ms;  // generous bound for anything that should come at once

Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A frame as the PC builds it, with a bitwise CRC so that it shares nothing with the simulator.
Bytes TestFrame(const Bytes& packet) {
  Bytes body = {0xFF, 0x03};
  body.insert(body.end(), packet.begin(), packet.end());
  std::uint16_t crc = 0xFFFF;
  for (std::uint8_t b : body) {
    crc ^= b;
    for (int i = 0; i < 8; ++i)
      crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0x8408) : crc >> 1;
  }
  crc ^= 0xFFFF;
  body.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  body.push_back(static_cast<std::uint8_t>(crc >> 8));
  Bytes wire = {0x7E};
  for (std::uint8_t b : body) {
    if (b <= 0x20 || b == 0x7D || b == 0x7E) {
      wire.push_back(0x7D);
      wire.push_back(static_cast<std::uint8_t>(b ^ 0x20));
    } else {
      wire.push_back(b);
    }
  }
  wire.push_back(0x7E);
  return wire;
}

Bytes DataPacket(std::uint16_t seq, const Bytes& payload) {
  const std::size_t len = payload.size() + 6;
  // Room for the whole packet first: grown from six bytes by the insert, GCC 12 at -O3 (Release)
  // warns falsely (-Warray-bounds) about the in-place copy it cannot rule out.
  Bytes p;
  p.reserve(len);
  p = {0x0D,
       0x0D,
       static_cast<std::uint8_t>(len >> 8),
       static_cast<std::uint8_t>(len & 0xFF),
       static_cast<std::uint8_t>(seq >> 8),
       static_cast<std::uint8_t>(seq & 0xFF)};
  p.insert(p.end(), payload.begin(), payload.end());
  return p;
}

Bytes DataAckPacket(std::uint16_t seq) {
  return {0x0E,
          0x0E,
          0x00,
          0x06,
          static_cast<std::uint8_t>(seq >> 8),
          static_cast<std::uint8_t>(seq & 0xFF)};
}

using wire::kAckFrame;
using wire::kBeginFrame;
using wire::kDataAbcFrame;
using wire::kEndAbcFrame;

// The PC's end of the line: the COMn link opened like the tool opens it.
class CPortClient {
 public:
  explicit CPortClient(const std::string& path)
      : m_fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {}
  ~CPortClient() { Close(); }
  bool IsOpen() const { return m_fd >= 0; }
  void Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
  }
  void Write(const Bytes& bytes) const {
    std::size_t done = 0;
    const auto deadline = Clock::now() + kWait;
    while (done < bytes.size() && Clock::now() < deadline) {
      const ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else {
        pollfd p{m_fd, POLLOUT, 0};
        ::poll(&p, 1, 50);
      }
    }
    ASSERT_EQ(done, bytes.size());
  }
  void Write(const std::string& s) const { Write(B(s)); }

  // Reads until `done(received)` holds or the deadline passes.
  template <typename Done>
  Bytes ReadUntil(Done done, std::chrono::milliseconds timeout = kWait) const {
    Bytes got;
    const auto deadline = Clock::now() + timeout;
    while (!done(got)) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left <= 0ms) break;
      pollfd p{m_fd, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count()) + 1) <= 0) continue;
      if ((p.revents & POLLIN) == 0) break;  // hung up
      std::uint8_t buf[512];
      const ssize_t n = ::read(m_fd, buf, sizeof buf);
      if (n <= 0) break;
      got.insert(got.end(), buf, buf + n);
    }
    return got;
  }
  Bytes ReadCount(std::size_t n, std::chrono::milliseconds timeout = kWait) const {
    return ReadUntil([n](const Bytes& b) { return b.size() >= n; }, timeout);
  }
  Bytes ReadText(const std::string& ending) const {
    return ReadUntil([&](const Bytes& b) {
      return b.size() >= ending.size() &&
             std::equal(ending.begin(), ending.end(), b.end() - static_cast<long>(ending.size()));
    });
  }
  // One whole frame: opening and closing flag.
  Bytes ReadFrame(std::chrono::milliseconds timeout = kWait) const {
    return ReadUntil([](const Bytes& b) { return std::count(b.begin(), b.end(), 0x7E) >= 2; },
                     timeout);
  }
  // Whatever arrives within `window` (used only to show that nothing comes).
  Bytes ReadFor(std::chrono::milliseconds window) const {
    return ReadUntil([](const Bytes&) { return false; }, window);
  }
  // True once the line shows a hang-up: POLLHUP, end of input or EIO.
  bool SeesHangUp(std::chrono::milliseconds timeout) const {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
      pollfd p{m_fd, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      if ((p.revents & (POLLHUP | POLLERR)) != 0) return true;
      std::uint8_t buf[64];
      const ssize_t n = ::read(m_fd, buf, sizeof buf);
      if (n == 0 || (n < 0 && errno == EIO)) return true;
    }
    return false;
  }

 private:
  int m_fd;
};

class SimTerminalTest : public testing::Test {
 protected:
  sim::CPtyLine& Start(DeviceConfig config) {
    std::vector<DeviceConfig> configs{std::move(config)};
    return *StartMany(configs)[0];
  }
  std::vector<sim::CPtyLine*> StartMany(std::vector<DeviceConfig>& configs) {
    std::vector<sim::CPtyLine*> terminals;
    for (auto& c : configs) terminals.push_back(&m_sim.Add(c));
    std::string error;
    EXPECT_TRUE(m_sim.Start(error)) << error;
    return terminals;
  }
  static DeviceConfig WithFaults(std::vector<std::string> texts, int com = 9) {
    DeviceConfig c;
    c.comNumber = com;
    for (const auto& t : texts) {
      sim::Fault f;
      std::string error;
      EXPECT_TRUE(sim::ParseFault(t, f, error)) << error;
      c.faults.push_back(f);
    }
    return c;
  }
  static void Connect(const CPortClient& port) {
    port.Write("ATD**60\r\n");
    EXPECT_EQ(port.ReadText("CONNECT 9600\r\n"), B("\r\nCONNECT 9600\r\n"));
  }
  // One exchange: the frame out, one whole reply frame back.
  static Bytes Exchange(const CPortClient& port, const Bytes& frame) {
    port.Write(frame);
    return port.ReadFrame();
  }

  sim::CSimulator m_sim;
};

struct AtCase {
  const char* name;
  std::string command;
  std::string answer;
};

class SimAtAnswers : public SimTerminalTest, public testing::WithParamInterface<AtCase> {};

TEST_P(SimAtAnswers, DefaultTerminalAnswersEachCommand) {
  auto& t = Start(DeviceConfig{});
  CPortClient port(t.LinkPath());
  ASSERT_TRUE(port.IsOpen());
  port.Write(GetParam().command);
  EXPECT_EQ(port.ReadCount(GetParam().answer.size()), B(GetParam().answer));
  EXPECT_TRUE(port.ReadFor(100ms).empty());
  const DeviceStats s = t.Stats();
  ASSERT_EQ(s.atCommands.size(), 1u);
  EXPECT_EQ(s.atCommands[0].line + "\r\n", GetParam().command);
  EXPECT_EQ(s.atCommands[0].attempt, 1u);
}

INSTANTIATE_TEST_SUITE_P(Commands, SimAtAnswers,
                         testing::Values(AtCase{"Model", "AT+CGMM\r\n",
                                                "\r\nTARVENIX-9505\r\n\r\nOK\r\n"},
                                         AtCase{"Maker", "AT+GMI\r\n", "\r\nKestra\r\n\r\nOK\r\n"},
                                         AtCase{"Check", "AT\r\n", "\r\nOK\r\n"},
                                         AtCase{"Dial", "ATD**60\r\n", "\r\nCONNECT 9600\r\n"},
                                         AtCase{"Other", "ATI\r\n", "\r\nERROR\r\n"}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(SimTerminalTest, LinkPointsAtARawPtyThatStaysUpAcrossReopens) {
  auto& t = Start(DeviceConfig{});
  EXPECT_EQ(t.LinkPath(), m_sim.ComDir() + "/COM9");
  struct stat st {};
  ASSERT_EQ(::stat(t.LinkPath().c_str(), &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  for (int round = 0; round < 3; ++round) {
    CPortClient port(t.LinkPath());
    port.Write("AT\r\n");
    EXPECT_EQ(port.ReadCount(6), B("\r\nOK\r\n")) << round;
  }
  EXPECT_TRUE(t.WaitFor([](const DeviceStats& s) { return s.closes == 3; }, kWait));
  EXPECT_EQ(t.Stats().opens, 3u);
}

TEST_F(SimTerminalTest, CommandSplitOverWrites_IsAnsweredOnceWhole) {
  auto& t = Start(DeviceConfig{});
  CPortClient port(t.LinkPath());
  port.Write("AT+C");
  ASSERT_TRUE(port.ReadFor(100ms).empty());
  port.Write("GMM\r");
  ASSERT_TRUE(port.ReadFor(100ms).empty());
  port.Write("\n");
  EXPECT_EQ(port.ReadText("OK\r\n"), B("\r\nTARVENIX-9505\r\n\r\nOK\r\n"));
}

TEST_F(SimTerminalTest, SilentModel_SendsNothingButRecordsTheCommand) {
  DeviceConfig c;
  c.model.reset();
  auto& t = Start(c);
  CPortClient port(t.LinkPath());
  port.Write("AT+CGMM\r\n");
  ASSERT_TRUE(t.WaitFor([](const DeviceStats& s) { return s.atCommands.size() == 1; }, kWait));
  EXPECT_TRUE(port.ReadFor(200ms).empty());
}

// The head comes at once and the tail only after the pause, timed from the request: a reader
// that the scheduler holds up can see the tail late, never early. The pause is 1 s so that a
// late reader still finds the head well before it.
TEST_F(SimTerminalTest, CutModelAnswer_PausesAtTheOffset) {
  auto& t = Start(WithFaults({"model=cut:5:1000"}));
  CPortClient port(t.LinkPath());
  const auto sent = Clock::now();
  port.Write("AT+CGMM\r\n");
  ASSERT_EQ(port.ReadCount(5), B("\r\nTAR"));
  EXPECT_LT(Clock::now() - sent, 1000ms);
  EXPECT_EQ(port.ReadText("OK\r\n"), B("VENIX-9505\r\n\r\nOK\r\n"));
  EXPECT_GE(Clock::now() - sent, 1000ms);
}

TEST_F(SimTerminalTest, ScriptedAttempts_SilentTwiceThenOkAtTheThird) {
  auto& t = Start(WithFaults(
      {"at#1=silence", "at#2=silence", "dial#1=silence", "dial#2=text:\\r\\nNO CARRIER\\r\\n"}));
  CPortClient port(t.LinkPath());
  for (int i = 0; i < 2; ++i) {
    port.Write("AT\r\n");
    ASSERT_TRUE(t.WaitFor(
        [i](const DeviceStats& s) {
          return s.atCommands.size() == static_cast<std::size_t>(i + 1);
        },
        kWait));
    EXPECT_TRUE(port.ReadFor(100ms).empty()) << i;
  }
  port.Write("AT\r\n");
  EXPECT_EQ(port.ReadCount(6), B("\r\nOK\r\n"));
  port.Write("ATD**60\r\n");
  ASSERT_TRUE(t.WaitFor([](const DeviceStats& s) { return s.atCommands.size() == 4; }, kWait));
  EXPECT_TRUE(port.ReadFor(100ms).empty());
  port.Write("ATD**60\r\n");
  EXPECT_EQ(port.ReadText("CARRIER\r\n"), B("\r\nNO CARRIER\r\n"));
  EXPECT_EQ(t.Stats().mode, sim::Mode::At);
  Connect(port);
  EXPECT_EQ(t.Stats().mode, sim::Mode::Handset);
  const DeviceStats s = t.Stats();
  ASSERT_EQ(s.atCommands.size(), 6u);
  EXPECT_EQ(s.atCommands[2].attempt, 3u);
  EXPECT_EQ(s.atCommands[5].attempt, 3u);
  EXPECT_LE(s.atCommands[0].time, s.atCommands[5].time);
}

TEST_F(SimTerminalTest, TransferOfAbc_AcknowledgesEachFrameAndChecksTheImageFcs) {
  auto& t = Start(DeviceConfig{});
  CPortClient port(t.LinkPath());
  Connect(port);
  EXPECT_EQ(Exchange(port, kBeginFrame), kAckFrame);
  EXPECT_EQ(Exchange(port, kDataAbcFrame), TestFrame(DataAckPacket(0)));
  EXPECT_EQ(Exchange(port, kEndAbcFrame), kAckFrame);
  ASSERT_TRUE(t.WaitFor([](const DeviceStats& s) { return s.mode == sim::Mode::At; }, kWait));
  const DeviceStats s = t.Stats();
  EXPECT_EQ(s.image, B("abc"));
  EXPECT_TRUE(s.endReceived);
  EXPECT_EQ(s.endFcs, 0x9E25);
  EXPECT_EQ(s.imageFcs, 0x9E25);
  EXPECT_TRUE(s.endFcsMatched);
  EXPECT_EQ(s.frames, 3u);
  EXPECT_EQ(s.rejected, 0u);
  EXPECT_EQ(s.retries, 0u);
  EXPECT_EQ(s.transfers, 1u);
  EXPECT_TRUE(s.violations.empty());
  // Back in AT mode once the end request is taken.
  port.Write("AT\r\n");
  EXPECT_EQ(port.ReadCount(6), B("\r\nOK\r\n"));
}

TEST_F(SimTerminalTest, FullBlocksWithEscapedBytes_ArriveByteForByte) {
  auto& t = Start(DeviceConfig{});
  CPortClient port(t.LinkPath());
  Connect(port);
  Bytes image(2500);
  for (std::size_t i = 0; i < image.size(); ++i)
    image[i] = static_cast<std::uint8_t>((i * 7) ^ (i >> 3));
  EXPECT_EQ(Exchange(port, kBeginFrame), kAckFrame);
  std::uint16_t seq = 0;
  for (std::size_t at = 0; at < image.size(); at += 1024, ++seq) {
    const Bytes chunk(image.begin() + static_cast<long>(at),
                      image.begin() + static_cast<long>(std::min(at + 1024, image.size())));
    ASSERT_EQ(Exchange(port, TestFrame(DataPacket(seq, chunk))), TestFrame(DataAckPacket(seq)))
        << seq;
  }
  std::uint16_t crc = 0xFFFF;
  for (std::uint8_t b : image) {
    crc ^= b;
    for (int i = 0; i < 8; ++i)
      crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0x8408) : crc >> 1;
  }
  crc ^= 0xFFFF;
  EXPECT_EQ(Exchange(port, TestFrame({0x0B, 0x0B, 0x00, 0x06, static_cast<std::uint8_t>(crc >> 8),
                                      static_cast<std::uint8_t>(crc & 0xFF)})),
            kAckFrame);
  ASSERT_TRUE(t.WaitFor([](const DeviceStats& s) { return s.endReceived; }, kWait));
  const DeviceStats s = t.Stats();
  EXPECT_EQ(s.image, image);
  EXPECT_EQ(s.blocks, 3u);
  EXPECT_TRUE(s.endFcsMatched);
  EXPECT_TRUE(s.violations.empty());
}

TEST_F(SimTerminalTest, WrongImageFcs_IsAcknowledgedButRecordedAsNoMatch) {
  auto& t = Start(DeviceConfig{});
  CPortClient port(t.LinkPath());
  Connect(port);
  Exchange(port, kBeginFrame);
  Exchange(port, kDataAbcFrame);
  EXPECT_EQ(Exchange(port, TestFrame({0x0B, 0x0B, 0x00, 0x06, 0x12, 0x34})), kAckFrame);
  ASSERT_TRUE(t.WaitFor([](const DeviceStats& s) { return s.endReceived; }, kWait));
  EXPECT_EQ(t.Stats().endFcs, 0x1234);
  EXPECT_FALSE(t.Stats().endFcsMatched);
}

TEST_F(SimTerminalTest, RepeatedBlock_IsCountedAsRetryAndNotAppendedTwice) {
  auto& t = Start(DeviceConfig{});
  CPortClient port(t.LinkPath());
  Connect(port);
  Exchange(port, kBeginFrame);
  EXPECT_EQ(Exchange(port, kDataAbcFrame), TestFrame(DataAckPacket(0)));
  EXPECT_EQ(Exchange(port, kDataAbcFrame), TestFrame(DataAckPacket(0)));
  ASSERT_TRUE(t.WaitFor([](const DeviceStats& s) { return s.dataFrames == 2; }, kWait));
  DeviceStats s = t.Stats();
  EXPECT_EQ(s.image, B("abc"));
  EXPECT_EQ(s.retries, 1u);
  EXPECT_TRUE(s.violations.empty());
  // A retry with other bytes under the same number is the classic rebuilt-retry fault.
  EXPECT_EQ(Exchange(port, TestFrame(DataPacket(0, B("abd")))), TestFrame(DataAckPacket(0)));
  ASSERT_TRUE(t.WaitFor([](const DeviceStats& s2) { return s2.dataFrames == 3; }, kWait));
  s = t.Stats();
  EXPECT_EQ(s.image, B("abc"));
  EXPECT_EQ(s.retries, 2u);
  ASSERT_EQ(s.violations.size(), 1u);
  EXPECT_EQ(s.violations[0], "block 0 resent with other bytes than its first sending");
}

TEST_F(SimTerminalTest, SkippedBlock_IsAViolationAndNotStored) {
  auto& t = Start(DeviceConfig{});
  CPortClient port(t.LinkPath());
  Connect(port);
  Exchange(port, kBeginFrame);
  EXPECT_EQ(Exchange(port, TestFrame(DataPacket(1, B("xyz")))), TestFrame(DataAckPacket(1)));
  ASSERT_TRUE(t.WaitFor([](const DeviceStats& s) { return s.dataFrames == 1; }, kWait));
  const DeviceStats s = t.Stats();
  EXPECT_TRUE(s.image.empty());
  ASSERT_EQ(s.violations.size(), 1u);
  EXPECT_EQ(s.violations[0], "block 1 out of order, expected 0");
}

struct RejectCase {
  const char* name;
  Bytes frame;
  sim::RejectReason reason;
};

class SimRejects : public SimTerminalTest, public testing::WithParamInterface<RejectCase> {};

TEST_P(SimRejects, BadFrame_IsNotAnsweredAndCountedWithItsReason) {
  auto& t = Start(DeviceConfig{});
  CPortClient port(t.LinkPath());
  Connect(port);
  port.Write(GetParam().frame);
  ASSERT_TRUE(t.WaitFor([](const DeviceStats& s) { return s.rejected == 1; }, kWait));
  EXPECT_TRUE(port.ReadFor(150ms).empty());
  const DeviceStats s = t.Stats();
  EXPECT_EQ(s.Rejects(GetParam().reason), 1u);
  ASSERT_EQ(s.exchanges.size(), 1u);
  EXPECT_EQ(s.exchanges[0].kind, sim::ExchangeKind::Rejected);
  EXPECT_EQ(s.exchanges[0].reason, GetParam().reason);
  // The link goes on: the next good frame is answered.
  EXPECT_EQ(Exchange(port, kBeginFrame), kAckFrame);
}

Bytes Altered(Bytes b, std::size_t at, std::uint8_t v) {
  b[at] = v;
  return b;
}

INSTANTIATE_TEST_SUITE_P(
    Frames, SimRejects,
    testing::Values(RejectCase{"BadFcs", Altered(kBeginFrame, 13, 0xFF), sim::RejectReason::BadFcs},
                    RejectCase{"ControlNotEscaped",
                               {0x7E, 0xFF, 0x03, 0x7D, 0x2A, 0x7D, 0x2A, 0x7D, 0x20, 0x7D, 0x24,
                                0x99, 0xFE, 0x7E},
                               sim::RejectReason::UnescapedByte},
                    RejectCase{"BadLengthField",
                               TestFrame({0x0D, 0x0D, 0x00, 0x0A, 0x00, 0x00, 0x61, 0x62, 0x63}),
                               sim::RejectReason::BadLength},
                    RejectCase{"UnknownCode", TestFrame({0x0C, 0x0C, 0x00, 0x04}),
                               sim::RejectReason::UnknownCode},
                    RejectCase{"BeginWithFcsField", TestFrame({0x0A, 0x0A, 0x00, 0x06, 0x00, 0x00}),
                               sim::RejectReason::WrongSize},
                    RejectCase{"OversizeData", TestFrame(DataPacket(0, Bytes(1025, 0x41))),
                               sim::RejectReason::WrongSize}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(SimTerminalTest, Block4AnsweredTwiceWith3_ThenWith4) {
  auto& t = Start(WithFaults({"data:4#1=seq:3", "data:4#2=seq"}));
  CPortClient port(t.LinkPath());
  Connect(port);
  Exchange(port, kBeginFrame);
  for (std::uint16_t seq = 0; seq < 4; ++seq) {
    ASSERT_EQ(Exchange(port, TestFrame(DataPacket(seq, Bytes(1024, 0x30)))),
              TestFrame(DataAckPacket(seq)));
  }
  const Bytes block4 = TestFrame(DataPacket(4, Bytes(10, 0x34)));
  EXPECT_EQ(Exchange(port, block4), TestFrame(DataAckPacket(3)));
  EXPECT_EQ(Exchange(port, block4), TestFrame(DataAckPacket(3)));
  EXPECT_EQ(Exchange(port, block4), TestFrame(DataAckPacket(4)));
  ASSERT_TRUE(t.WaitFor([](const DeviceStats& s) { return s.dataFrames == 7; }, kWait));
  const DeviceStats s = t.Stats();
  EXPECT_EQ(s.retries, 2u);
  EXPECT_EQ(s.image.size(), 4 * 1024u + 10);
  ASSERT_EQ(s.exchanges.size(), 8u);
  EXPECT_EQ(s.exchanges[5].attempt, 1u);
  EXPECT_EQ(s.exchanges[5].answer, sim::FaultKind::Sequence);
  EXPECT_EQ(s.exchanges[7].attempt, 3u);
  EXPECT_EQ(s.exchanges[7].answer, sim::FaultKind::Answer);
}

TEST_F(SimTerminalTest, SilentBegin_AnswersNoneOfThreeBeginFrames) {
  auto& t = Start(WithFaults({"begin=silence"}));
  CPortClient port(t.LinkPath());
  Connect(port);
  for (int i = 0; i < 3; ++i) port.Write(kBeginFrame);
  ASSERT_TRUE(t.WaitFor([](const DeviceStats& s) { return s.beginFrames == 3; }, kWait));
  EXPECT_TRUE(port.ReadFor(150ms).empty());
  const DeviceStats s = t.Stats();
  EXPECT_EQ(s.transfers, 1u);
  EXPECT_EQ(s.beginRepeats, 2u);
}

TEST_F(SimTerminalTest, CodeAndGarbageFaults_SendTheirBytes) {
  auto& t = Start(
      WithFaults({"begin#1=code", "begin#2=garbage", "data#1=code:0x0A0A", "end=garbage:7E7E01"}));
  CPortClient port(t.LinkPath());
  Connect(port);
  EXPECT_EQ(Exchange(port, kBeginFrame), TestFrame(DataAckPacket(0)));
  port.Write(kBeginFrame);
  EXPECT_EQ(port.ReadCount(8), sim::DefaultGarbage());
  EXPECT_EQ(Exchange(port, kBeginFrame), kAckFrame);
  EXPECT_EQ(Exchange(port, kDataAbcFrame), TestFrame({0x0A, 0x0A, 0x00, 0x04}));
  port.Write(kEndAbcFrame);
  EXPECT_EQ(port.ReadCount(3), (Bytes{0x7E, 0x7E, 0x01}));
}

TEST_F(SimTerminalTest, CutReply_PausesInsideTheFrame) {
  auto& t = Start(WithFaults({"begin=cut:4:1000"}));
  CPortClient port(t.LinkPath());
  Connect(port);
  const auto sent = Clock::now();
  port.Write(kBeginFrame);
  EXPECT_EQ(port.ReadCount(4), Bytes(kAckFrame.begin(), kAckFrame.begin() + 4));
  EXPECT_LT(Clock::now() - sent, 1000ms);
  EXPECT_EQ(port.ReadCount(kAckFrame.size() - 4), Bytes(kAckFrame.begin() + 4, kAckFrame.end()));
  EXPECT_GE(Clock::now() - sent, 1000ms);
}

TEST_F(SimTerminalTest, DelayedReply_ComesNoEarlierThanTheDelay) {
  auto& t = Start(WithFaults({"begin=delay:300"}));
  CPortClient port(t.LinkPath());
  Connect(port);
  const auto sent = Clock::now();
  EXPECT_EQ(Exchange(port, kBeginFrame), kAckFrame);
  EXPECT_GE(Clock::now() - sent, 300ms);
}

TEST_F(SimTerminalTest, RejectedFrameNamedByIndex_GetsThePlannedAnswer) {
  auto& t = Start(WithFaults({"#2=garbage:4142"}));
  CPortClient port(t.LinkPath());
  Connect(port);
  Exchange(port, kBeginFrame);
  port.Write(Altered(kDataAbcFrame, 17, 0x64));  // bad FCS
  EXPECT_EQ(port.ReadCount(2), B("AB"));
  EXPECT_EQ(t.Stats().Rejects(sim::RejectReason::BadFcs), 1u);
}

TEST_F(SimTerminalTest, HangUp_ThePortSeesItAndAFreshPtyTakesTheName) {
  auto& t = Start(WithFaults({"data:1=hangup"}));
  const std::string before = t.SlavePath();
  CPortClient port(t.LinkPath());
  Connect(port);
  Exchange(port, kBeginFrame);
  Exchange(port, TestFrame(DataPacket(0, Bytes(1024, 0x55))));
  port.Write(TestFrame(DataPacket(1, B("x"))));
  const auto sent = Clock::now();
  EXPECT_TRUE(port.SeesHangUp(kWait));
  EXPECT_LT(Clock::now() - sent, 2000ms);
  ASSERT_TRUE(t.WaitFor([](const DeviceStats& s) { return s.hangUps == 1; }, kWait));
  EXPECT_NE(t.SlavePath(), before);
  EXPECT_EQ(t.Stats().mode, sim::Mode::At);
  CPortClient again(t.LinkPath());
  ASSERT_TRUE(again.IsOpen());
  again.Write("AT\r\n");
  EXPECT_EQ(again.ReadCount(6), B("\r\nOK\r\n"));
}

TEST_F(SimTerminalTest, HangUpWithoutReplug_RemovesTheLink) {
  DeviceConfig c = WithFaults({"at=hangup"});
  c.replugAfterHangUp = false;
  auto& t = Start(c);
  CPortClient port(t.LinkPath());
  port.Write("AT\r\n");
  EXPECT_TRUE(port.SeesHangUp(kWait));
  ASSERT_TRUE(t.WaitFor([](const DeviceStats& s) { return s.hangUps == 1; }, kWait));
  struct stat st {};
  EXPECT_NE(::lstat(t.LinkPath().c_str(), &st), 0);
}

TEST_F(SimTerminalTest, ClosingThePort_EndsHandsetModeAndDropsUnreadOutput) {
  auto& t = Start(WithFaults({"model=cut:3:200"}));
  {
    CPortClient port(t.LinkPath());
    Connect(port);
    ASSERT_EQ(t.Stats().mode, sim::Mode::Handset);
  }
  ASSERT_TRUE(t.WaitFor([](const DeviceStats& s) { return s.closes == 1; }, kWait));
  EXPECT_EQ(t.Stats().mode, sim::Mode::At);
  {
    CPortClient port(t.LinkPath());
    port.Write("AT+CGMM\r\n");
    EXPECT_EQ(port.ReadCount(3), B("\r\nT"));
  }  // closed inside the pause: the rest of the answer must not reach the next open
  ASSERT_TRUE(t.WaitFor([](const DeviceStats& s) { return s.closes == 2; }, kWait));
  CPortClient port(t.LinkPath());
  EXPECT_TRUE(port.ReadFor(350ms).empty());
  port.Write("AT\r\n");
  EXPECT_EQ(port.ReadCount(6), B("\r\nOK\r\n"));
}

TEST_F(SimTerminalTest, SeveralDevices_EachAnswersOnItsOwnCom) {
  std::vector<DeviceConfig> configs(2);
  configs[0].comNumber = 4;
  configs[0].model = "\r\nGENERIC MODEM\r\n\r\nOK\r\n";
  configs[0].maker = "\r\nVOLK\r\n\r\nOK\r\n";
  configs[1].comNumber = 9;
  auto terminals = StartMany(configs);
  ASSERT_EQ(m_sim.Find(4), terminals[0]);
  ASSERT_EQ(m_sim.Find(9), terminals[1]);
  CPortClient com4(m_sim.ComDir() + "/COM4");
  CPortClient com9(m_sim.ComDir() + "/COM9");
  com4.Write("AT+CGMM\r\n");
  com9.Write("AT+CGMM\r\n");
  EXPECT_EQ(com4.ReadText("OK\r\n"), B("\r\nGENERIC MODEM\r\n\r\nOK\r\n"));
  EXPECT_EQ(com9.ReadText("OK\r\n"), B("\r\nTARVENIX-9505\r\n\r\nOK\r\n"));
  com4.Write("AT+GMI\r\n");
  EXPECT_EQ(com4.ReadText("OK\r\n"), B("\r\nVOLK\r\n\r\nOK\r\n"));
  EXPECT_EQ(terminals[1]->Stats().atCommands.size(), 1u);
}

TEST_F(SimTerminalTest, StopRemovesLinksAndTheTemporaryDirectory) {
  Start(DeviceConfig{});
  const std::string dir = m_sim.ComDir();
  struct stat st {};
  ASSERT_EQ(::stat(dir.c_str(), &st), 0);
  m_sim.Stop();
  EXPECT_NE(::stat(dir.c_str(), &st), 0);
}

TEST_F(SimTerminalTest, Pacing_ReplyWaitsForTheRequestsLineTimeAndTakesItsOwn) {
  DeviceConfig c;
  c.pacing = true;
  auto& t = Start(c);
  CPortClient port(t.LinkPath());
  Connect(port);
  EXPECT_EQ(Exchange(port, kBeginFrame), kAckFrame);
  // A full block of escaped bytes is about 2,070 bytes: some 90 ms on the line.
  const Bytes frame = TestFrame(DataPacket(0, Bytes(1024, 0x7E)));
  const auto lineTime = sim::kByteTime * static_cast<long>(frame.size());
  const auto sent = Clock::now();
  EXPECT_EQ(Exchange(port, frame), TestFrame(DataAckPacket(0)));
  EXPECT_GE(Clock::now() - sent, lineTime);
  EXPECT_EQ(t.Stats().image, Bytes(1024, 0x7E));
}

TEST_F(SimTerminalTest, PacedLongAnswer_TakesItsLineTime) {
  DeviceConfig c;
  c.pacing = true;
  c.model = std::string(3000, 'M');
  auto& t = Start(c);
  CPortClient port(t.LinkPath());
  const auto sent = Clock::now();
  port.Write("AT+CGMM\r\n");
  EXPECT_EQ(port.ReadCount(3000).size(), 3000u);
  EXPECT_GE(Clock::now() - sent, sim::kByteTime * 3000);
}

}  // namespace

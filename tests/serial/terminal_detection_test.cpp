// Terminal detection against scripted devices behind CORVANEL_COM_DIR, and the reply search.
#include "serial/terminal_detection.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "pty_harness.h"
#include "serial/serial_port.h"

namespace {

using namespace std::chrono_literals;

constexpr const char kModelRequest[] = "AT+CGMM\r\n";
constexpr const char kMakerRequest[] = "AT+GMI\r\n";
constexpr long long kAtOnceMs = 1000;  // a scan without answering devices costs no waiting

long long MsSince(HarnessClock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(HarnessClock::now() - start).count();
}

std::string ComName(int n) { return "\\\\.\\COM" + std::to_string(n); }

// ---- ReplyContainsWord ----

struct SearchRow {
  const char* label;
  std::string reply;
  std::uint32_t count;
  const char* word;
  bool found;
};
std::ostream& operator<<(std::ostream& out, const SearchRow& row) { return out << row.label; }

class ReplyContainsWordTest : public ::testing::TestWithParam<SearchRow> {};

TEST_P(ReplyContainsWordTest, SearchesTheCountedTextUpToItsFirstZero) {
  const SearchRow& row = GetParam();
  EXPECT_EQ(ReplyContainsWord(reinterpret_cast<const std::uint8_t*>(row.reply.data()), row.count,
                              row.word),
            row.found);
}

const std::string kZeroBeforeWord = std::string("+CGMM: \0Orbina\r\n", 16);
const std::string kZeroAfterWord = std::string("Orbina\0junk", 11);

INSTANTIATE_TEST_SUITE_P(
    Replies, ReplyContainsWordTest,
    ::testing::Values(SearchRow{"WordInReply", "+CGMM: TARVENIX 3\r\nOK\r\n", 23, "TARVENIX", true},
                      SearchRow{"WholeReplyIsWord", "ZELO", 4, "ZELO", true},
                      SearchRow{"WordAtEndOfCount", "xxVOLK", 6, "VOLK", true},
                      SearchRow{"WordCutByCount", "xxVOLK", 5, "VOLK", false},
                      SearchRow{"WordBeyondCount", "OK\r\nKestra", 4, "Kestra", false},
                      SearchRow{"CountZero", "Orbina", 0, "Orbina", false},
                      SearchRow{"OtherCase", "+CGMM: tarvenix\r\n", 17, "TARVENIX", false},
                      SearchRow{"MixedCase", "kestra KESTRA", 13, "Kestra", false},
                      SearchRow{"ZeroBeforeWord", kZeroBeforeWord, 16, "Orbina", false},
                      SearchRow{"ZeroAfterWord", kZeroAfterWord, 11, "Orbina", true},
                      SearchRow{"BrokenRun", "Orb ina", 7, "Orbina", false},
                      SearchRow{"EmptyWord", "anything", 8, "", false}),
    [](const auto& row) { return std::string(row.param.label); });

TEST(ReplyContainsWordTest, NoReplyOrNoWord_NeverMatches) {
  const std::uint8_t reply[] = {'O', 'K'};
  EXPECT_FALSE(ReplyContainsWord(nullptr, 2, "OK"));
  EXPECT_FALSE(ReplyContainsWord(reply, 2, nullptr));
  EXPECT_TRUE(ReplyContainsWord(reply, 2, "OK"));
}

// ---- DetectTerminal ----

class TerminalDetectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_terminalPort.Close();
    g_replyBuffer.fill(0);
  }
  void TearDown() override { g_terminalPort.Close(); }

  // A device on COM n that answers the model and the maker request as given ("" for silence).
  CPtyDevice& AddDevice(int n, const std::string& modelAnswer, const std::string& makerAnswer) {
    m_devices.push_back(std::make_unique<CPtyDevice>(m_dir, n, &m_log));
    CPtyDevice& device = *m_devices.back();
    if (!modelAnswer.empty()) {
      device.Answer(kModelRequest, Reply(modelAnswer));
    }
    if (!makerAnswer.empty()) {
      device.Answer(kMakerRequest, Reply(makerAnswer));
    }
    return device;
  }

  static bool DeviceIsFree(int n) {
    CSerialPort probe;
    return probe.Open(ComName(n).c_str(), kTerminalBaudRate, kTerminalParity) == PORT_OK;
  }

  CComDir m_dir;
  CCommandLog m_log;
  std::vector<std::unique_ptr<CPtyDevice>> m_devices;
};

TEST_F(TerminalDetectionTest, NoPorts_Returns1AtOnceWithThePortClosed) {
  const auto start = HarnessClock::now();
  EXPECT_EQ(DetectTerminal(), DETECT_NONE);
  EXPECT_LT(MsSince(start), kAtOnceMs);
  EXPECT_FALSE(g_terminalPort.IsOpen());
}

// Each absent port reads 0 bytes; an accepted word left in the buffer must not count.
TEST_F(TerminalDetectionTest, ReadOfZeroBytes_DoesNotMatchAStaleWordInTheBuffer) {
  std::memcpy(g_replyBuffer.data(), "Orbina TARVENIX Kestra", 22);
  EXPECT_EQ(DetectTerminal(), DETECT_NONE);
  EXPECT_FALSE(g_terminalPort.IsOpen());
}

TEST_F(TerminalDetectionTest, TerminalOnCom100_IsFound) {
  AddDevice(100, "+CGMM: ZELO\r\nOK\r\n", "");
  EXPECT_EQ(DetectTerminal(), DETECT_FOUND);
  EXPECT_TRUE(g_terminalPort.IsOpen());
  EXPECT_STREQ(g_terminalPort.PortName(), "\\\\.\\COM100");
}

TEST_F(TerminalDetectionTest, TerminalOnCom1_IsNeverTried) {
  CPtyDevice& com1 = AddDevice(1, "+CGMM: TARVENIX\r\n", "+GMI: Orbina\r\n");
  // Even a port left open on COM1 is released by the scan.
  ASSERT_EQ(OpenTerminalPort(ComName(1).c_str()), PORT_OK);
  const auto start = HarnessClock::now();
  EXPECT_EQ(DetectTerminal(), DETECT_NONE);
  EXPECT_LT(MsSince(start), kAtOnceMs);
  EXPECT_FALSE(g_terminalPort.IsOpen());
  EXPECT_TRUE(com1.Commands().empty());
  EXPECT_TRUE(DeviceIsFree(1));
}

TEST_F(TerminalDetectionTest, ModelWordInPassOne_FoundAndPortStaysOpenWithNothingMoreSent) {
  CPtyDevice& device = AddDevice(7, "+CGMM: TARVENIX 2\r\n\r\nOK\r\n", "+GMI: Orbina\r\n");
  EXPECT_EQ(DetectTerminal(), DETECT_FOUND);
  EXPECT_TRUE(g_terminalPort.IsOpen());
  EXPECT_STREQ(g_terminalPort.PortName(), "\\\\.\\COM7");
  EXPECT_EQ(g_terminalPort.BaudRate(), 230400);
  EXPECT_EQ(g_terminalPort.ParityMode(), 0);
  EXPECT_EQ(device.Received(), kModelRequest);  // 9 bytes, no terminating zero
  EXPECT_FALSE(DeviceIsFree(7));
  // The reply buffer holds the terminal's answer.
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(g_replyBuffer.data()), 25),
            "+CGMM: TARVENIX 2\r\n\r\nOK\r\n");
}

TEST_F(TerminalDetectionTest, MakerWordKestra_FoundInPassTwoAfterPassOneTriedEveryPort) {
  AddDevice(3, "+CGMM: X200\r\nOK\r\n", "+GMI: Kestra Ltd\r\nOK\r\n");
  AddDevice(60, "ERROR\r\n", "ERROR\r\n");
  EXPECT_EQ(DetectTerminal(), DETECT_FOUND);
  EXPECT_STREQ(g_terminalPort.PortName(), "\\\\.\\COM3");
  const std::vector<std::pair<int, std::string>> expected = {
      {3, kModelRequest}, {60, kModelRequest}, {3, kMakerRequest}};
  EXPECT_EQ(m_log.Entries(), expected);
}

struct AnswerRow {
  const char* label;
  std::string modelAnswer;
  std::string makerAnswer;
  std::uint16_t result;
  std::size_t commandsSent;  // 1: found in pass 1; 2: asked in both passes
};
std::ostream& operator<<(std::ostream& out, const AnswerRow& row) { return out << row.label; }

class DetectionAnswerTest : public TerminalDetectionTest,
                            public ::testing::WithParamInterface<AnswerRow> {};

TEST_P(DetectionAnswerTest, OneDeviceOnCom4_ResultFollowsTheWordsOfEachPass) {
  const AnswerRow& row = GetParam();
  CPtyDevice& device = AddDevice(4, row.modelAnswer, row.makerAnswer);
  EXPECT_EQ(DetectTerminal(), row.result);
  EXPECT_EQ(g_terminalPort.IsOpen(), row.result == DETECT_FOUND);
  EXPECT_EQ(device.Commands().size(), row.commandsSent);
}

const std::string kZeroModel = std::string("+CGMM: \0TARVENIX\r\n", 18);
const std::string kZeroMaker = std::string("+GMI: \0Orbina\r\n", 15);

INSTANTIATE_TEST_SUITE_P(
    Answers, DetectionAnswerTest,
    ::testing::Values(
        AnswerRow{"Zelo", "ZELO\r\n", "ERROR\r\n", DETECT_FOUND, 1},
        AnswerRow{"Tarvenix", "+CGMM: TARVENIX\r\n", "ERROR\r\n", DETECT_FOUND, 1},
        AnswerRow{"OrbinaModel", "Orbina 9505\r\n", "ERROR\r\n", DETECT_FOUND, 1},
        AnswerRow{"Volk", "ERROR\r\n", "VOLK\r\n", DETECT_FOUND, 2},
        AnswerRow{"OrbinaMaker", "ERROR\r\n", "+GMI: Orbina\r\n", DETECT_FOUND, 2},
        AnswerRow{"MakerWordInPassOne", "+CGMM: Kestra\r\n", "ERROR\r\n", DETECT_NONE, 2},
        AnswerRow{"ModelWordInPassTwo", "ERROR\r\n", "+GMI: ZELO\r\n", DETECT_NONE, 2},
        AnswerRow{"LowerCase", "+CGMM: tarvenix\r\n", "+GMI: kestra\r\n", DETECT_NONE, 2},
        AnswerRow{"UpperCaseOrbina", "ORBINA\r\n", "ORBINA\r\n", DETECT_NONE, 2},
        AnswerRow{"ZeroBeforeWord", kZeroModel, kZeroMaker, DETECT_NONE, 2}),
    [](const auto& row) { return std::string(row.param.label); });

// A word that stays in the buffer beyond the count of the current read never matches.
TEST_F(TerminalDetectionTest, StaleWordBeyondTheCount_DoesNotMatch) {
  AddDevice(4, "OK\r\n", "OK\r\n");
  std::memcpy(g_replyBuffer.data(), "xxxx TARVENIX Kestra Orbina", 27);
  EXPECT_EQ(DetectTerminal(), DETECT_NONE);
  EXPECT_FALSE(g_terminalPort.IsOpen());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(g_replyBuffer.data()), 27),
            "OK\r\n TARVENIX Kestra Orbina");
}

// The pause is 1 s, far beyond the read's 50 ms gap and any delay of a reader held up.
TEST_F(TerminalDetectionTest, AnswerPausingBeforeTheWord_IsCutAndDoesNotMatchOnThatPort) {
  CPtyDevice& cut = AddDevice(4, "", "");
  cut.Answer(kModelRequest,
             {DeviceStep{0ms, "+CGMM: ", false}, DeviceStep{1000ms, "TARVENIX\r\n", false}});
  AddDevice(9, "+CGMM: Orbina\r\n", "");
  EXPECT_EQ(DetectTerminal(), DETECT_FOUND);
  EXPECT_STREQ(g_terminalPort.PortName(), "\\\\.\\COM9");
}

TEST_F(TerminalDetectionTest, TerminalsOnCom3AndCom5_Com3IsChosen) {
  AddDevice(3, "+CGMM: ZELO\r\n", "");
  CPtyDevice& com5 = AddDevice(5, "+CGMM: TARVENIX\r\n", "");
  EXPECT_EQ(DetectTerminal(), DETECT_FOUND);
  EXPECT_STREQ(g_terminalPort.PortName(), "\\\\.\\COM3");
  EXPECT_TRUE(com5.Commands().empty());
}

TEST_F(TerminalDetectionTest, PassOneOnCom9_BeatsPassTwoOnlyCom4) {
  CPtyDevice& com4 = AddDevice(4, "+CGMM: X1\r\nOK\r\n", "+GMI: VOLK\r\nOK\r\n");
  AddDevice(9, "+CGMM: TARVENIX\r\n", "");
  EXPECT_EQ(DetectTerminal(), DETECT_FOUND);
  EXPECT_STREQ(g_terminalPort.PortName(), "\\\\.\\COM9");
  EXPECT_EQ(com4.Commands(), std::vector<std::string>{kModelRequest});
}

TEST_F(TerminalDetectionTest, RunAgainWhileOpenOnCom5_ReleasesItAndScansFromCom2) {
  CPtyDevice& com5 = AddDevice(5, "+CGMM: ZELO\r\n", "");
  ASSERT_EQ(DetectTerminal(), DETECT_FOUND);
  ASSERT_STREQ(g_terminalPort.PortName(), "\\\\.\\COM5");

  // Same devices: COM5 is asked again and opened anew.
  ASSERT_EQ(DetectTerminal(), DETECT_FOUND);
  EXPECT_STREQ(g_terminalPort.PortName(), "\\\\.\\COM5");
  EXPECT_EQ(com5.Commands().size(), 2u);

  // A terminal appears on COM2: the next scan takes it and lets COM5 go.
  AddDevice(2, "+CGMM: Orbina\r\n", "");
  ASSERT_EQ(DetectTerminal(), DETECT_FOUND);
  EXPECT_STREQ(g_terminalPort.PortName(), "\\\\.\\COM2");
  EXPECT_EQ(com5.Commands().size(), 2u);
  EXPECT_TRUE(DeviceIsFree(5));
}

// What the terminal port's observer saw, as "EVENT NAME[ TEXT]" lines.
std::vector<std::string> g_observed;
void ObservePort(PortEvent event, const char* name, const std::uint8_t* bytes,
                 std::uint32_t count) {
  if (event == PortEvent::Open) {
    g_observed.push_back(std::string("open ") + name);
  } else if (event == PortEvent::Refused) {
    g_observed.push_back(std::string("refused ") + name + " " +
                         std::string(reinterpret_cast<const char*>(bytes), count));
  }
}

// The scan names the port that refused the line settings, each time it tries it, and says
// nothing of the absent ones.
TEST_F(TerminalDetectionTest, PortThatRefusesTheSettings_IsObservedWithItsReason) {
  m_dir.AddPlainFile(3);
  AddDevice(9, "ERROR\r\n", "+GMI: VOLK\r\n");
  g_observed.clear();
  SetTerminalPortObserver(ObservePort);
  EXPECT_EQ(DetectTerminal(), DETECT_FOUND);
  SetTerminalPortObserver(nullptr);
  const std::string refused =
      "refused \\\\.\\COM3 line settings refused: tcsetattr failed (ENOTTY)";
  const std::vector<std::string> expected = {refused, "open \\\\.\\COM9", refused,
                                             "open \\\\.\\COM9"};
  EXPECT_EQ(g_observed, expected);
}

}  // namespace

// The fault plan's text form and its matching.
#include "sim/fault_plan.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using sim::SimFault;
using sim::SimFaultKind;
using sim::SimTarget;
using namespace std::chrono_literals;

struct ParseCase {
  const char* text;
  SimTarget target;
  int sequence;  // -1: none
  unsigned attempt;
  std::size_t exchange;
  SimFaultKind kind;
  int value;  // -1: none
  std::chrono::milliseconds delay;
};

class SimFaultParse : public testing::TestWithParam<ParseCase> {};

TEST_P(SimFaultParse, GivesTheEntry) {
  const ParseCase& c = GetParam();
  SimFault f;
  std::string error;
  ASSERT_TRUE(sim::ParseSimFault(c.text, f, error)) << error;
  EXPECT_EQ(f.target, c.target);
  EXPECT_EQ(f.sequence.has_value() ? *f.sequence : -1, c.sequence);
  EXPECT_EQ(f.attempt, c.attempt);
  EXPECT_EQ(f.exchange, c.exchange);
  EXPECT_EQ(f.kind, c.kind);
  EXPECT_EQ(f.value.has_value() ? *f.value : -1, c.value);
  EXPECT_EQ(f.delay, c.delay);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SimFaultParse,
    testing::Values(
        ParseCase{"begin=silence", SimTarget::Begin, -1, 0, 0, SimFaultKind::Silence, -1, 0ms},
        ParseCase{"data:4#1=seq:3", SimTarget::Data, 4, 1, 0, SimFaultKind::Sequence, 3, 0ms},
        ParseCase{"data=seq", SimTarget::Data, -1, 0, 0, SimFaultKind::Sequence, -1, 0ms},
        ParseCase{"end=delay:6000", SimTarget::End, -1, 0, 0, SimFaultKind::Answer, -1, 6000ms},
        ParseCase{"begin#2=code:0x0E0E", SimTarget::Begin, -1, 2, 0, SimFaultKind::Code, 0x0E0E,
                  0ms},
        ParseCase{"#7=garbage", SimTarget::Exchange, -1, 0, 7, SimFaultKind::Bytes, -1, 0ms},
        ParseCase{"data:2=delay:100+cut:4:80", SimTarget::Data, 2, 0, 0, SimFaultKind::Cut, -1,
                  100ms},
        ParseCase{"data:5=hangup", SimTarget::Data, 5, 0, 0, SimFaultKind::HangUp, -1, 0ms},
        ParseCase{"at#2=silence", SimTarget::AtCheck, -1, 2, 0, SimFaultKind::Silence, -1, 0ms},
        ParseCase{"dial#1=text:\\r\\nNO CARRIER\\r\\n", SimTarget::AtDial, -1, 1, 0,
                  SimFaultKind::Bytes, -1, 0ms},
        ParseCase{"model=cut:5", SimTarget::AtModel, -1, 0, 0, SimFaultKind::Cut, -1, 0ms},
        ParseCase{"maker=hangup", SimTarget::AtMaker, -1, 0, 0, SimFaultKind::HangUp, -1, 0ms}));

TEST(SimFaultParse, CutAndGarbageKeepTheirArguments) {
  SimFault f;
  std::string error;
  ASSERT_TRUE(sim::ParseSimFault("data:2=cut:4:80", f, error)) << error;
  EXPECT_EQ(f.cutAt, std::optional<std::size_t>(4));
  EXPECT_EQ(f.pause, 80ms);
  ASSERT_TRUE(sim::ParseSimFault("end=garbage:7E00ff", f, error)) << error;
  EXPECT_EQ(f.bytes, (std::vector<std::uint8_t>{0x7E, 0x00, 0xFF}));
  ASSERT_TRUE(sim::ParseSimFault("begin=garbage", f, error)) << error;
  EXPECT_EQ(f.bytes, sim::SimDefaultGarbage());
  ASSERT_TRUE(sim::ParseSimFault("dial=text:\\r\\nNO\\x20CARRIER\\r\\n", f, error)) << error;
  EXPECT_EQ(std::string(f.bytes.begin(), f.bytes.end()), "\r\nNO CARRIER\r\n");
}

class SimFaultParseError : public testing::TestWithParam<const char*> {};

TEST_P(SimFaultParseError, IsRefusedWithAReason) {
  SimFault f;
  std::string error;
  EXPECT_FALSE(sim::ParseSimFault(GetParam(), f, error));
  EXPECT_FALSE(error.empty());
}

INSTANTIATE_TEST_SUITE_P(Texts, SimFaultParseError,
                         testing::Values("begin", "=silence", "begin=", "frob=silence",
                                         "begin=frob", "data:x=silence", "data:70000=silence",
                                         "#0=silence", "begin#=silence", "at=code:3", "dial=seq:1",
                                         "begin=silence+hangup", "end=garbage:7", "end=garbage:zz",
                                         "begin=delay", "begin=cut:1:2:3", "begin=text:\\q",
                                         "begin=text:\\x4"));

TEST(SimFaultMatch, FirstMatchingEntryWinsAndAttemptsNarrow) {
  std::vector<SimFault> plan(3);
  std::string error;
  ASSERT_TRUE(sim::ParseSimFault("data:4#1=seq:3", plan[0], error));
  ASSERT_TRUE(sim::ParseSimFault("data:4=silence", plan[1], error));
  ASSERT_TRUE(sim::ParseSimFault("#9=garbage", plan[2], error));

  sim::SimExchangeKey key{SimTarget::Data, 4, 1, 6};
  EXPECT_EQ(sim::FindSimFault(plan, key), &plan[0]);
  key.attempt = 2;
  EXPECT_EQ(sim::FindSimFault(plan, key), &plan[1]);
  key.sequence = 5;
  EXPECT_EQ(sim::FindSimFault(plan, key), nullptr);
  key.exchange = 9;
  EXPECT_EQ(sim::FindSimFault(plan, key), &plan[2]);
  const sim::SimExchangeKey rejected{SimTarget::Exchange, 0, 0, 9};
  EXPECT_EQ(sim::FindSimFault(plan, rejected), &plan[2]);
  const sim::SimExchangeKey at{SimTarget::AtCheck, 0, 1, 0};
  EXPECT_EQ(sim::FindSimFault(plan, at), nullptr);
}

}  // namespace

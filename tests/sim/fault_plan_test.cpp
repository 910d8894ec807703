// The fault plan's text form and its matching.
#include "sim/fault_plan.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using sim::Fault;
using sim::FaultKind;
using sim::FaultTarget;
using namespace std::chrono_literals;

struct ParseCase {
  const char* text;
  FaultTarget target;
  int sequence;  // -1: none
  unsigned attempt;
  std::size_t exchange;
  FaultKind kind;
  int value;  // -1: none
  std::chrono::milliseconds delay;
};

class FaultParse : public testing::TestWithParam<ParseCase> {};

TEST_P(FaultParse, GivesTheEntry) {
  const ParseCase& c = GetParam();
  Fault f;
  std::string error;
  ASSERT_TRUE(sim::ParseFault(c.text, f, error)) << error;
  EXPECT_EQ(f.target, c.target);
  EXPECT_EQ(f.sequence.has_value() ? *f.sequence : -1, c.sequence);
  EXPECT_EQ(f.attempt, c.attempt);
  EXPECT_EQ(f.exchange, c.exchange);
  EXPECT_EQ(f.kind, c.kind);
  EXPECT_EQ(f.value.has_value() ? *f.value : -1, c.value);
  EXPECT_EQ(f.delay, c.delay);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, FaultParse,
    testing::Values(
        ParseCase{"begin=silence", FaultTarget::Begin, -1, 0, 0, FaultKind::Silence, -1, 0ms},
        ParseCase{"data:4#1=seq:3", FaultTarget::Data, 4, 1, 0, FaultKind::Sequence, 3, 0ms},
        ParseCase{"data=seq", FaultTarget::Data, -1, 0, 0, FaultKind::Sequence, -1, 0ms},
        ParseCase{"end=delay:6000", FaultTarget::End, -1, 0, 0, FaultKind::Answer, -1, 6000ms},
        ParseCase{"begin#2=code:0x0E0E", FaultTarget::Begin, -1, 2, 0, FaultKind::Code, 0x0E0E,
                  0ms},
        ParseCase{"#7=garbage", FaultTarget::Exchange, -1, 0, 7, FaultKind::Bytes, -1, 0ms},
        ParseCase{"data:2=delay:100+cut:4:80", FaultTarget::Data, 2, 0, 0, FaultKind::Cut, -1,
                  100ms},
        ParseCase{"data:5=hangup", FaultTarget::Data, 5, 0, 0, FaultKind::HangUp, -1, 0ms},
        ParseCase{"at#2=silence", FaultTarget::AtCheck, -1, 2, 0, FaultKind::Silence, -1, 0ms},
        ParseCase{"dial#1=text:\\r\\nNO CARRIER\\r\\n", FaultTarget::AtDial, -1, 1, 0,
                  FaultKind::Bytes, -1, 0ms},
        ParseCase{"model=cut:5", FaultTarget::AtModel, -1, 0, 0, FaultKind::Cut, -1, 0ms},
        ParseCase{"maker=hangup", FaultTarget::AtMaker, -1, 0, 0, FaultKind::HangUp, -1, 0ms}));

TEST(FaultParse, CutAndGarbageKeepTheirArguments) {
  Fault f;
  std::string error;
  ASSERT_TRUE(sim::ParseFault("data:2=cut:4:80", f, error)) << error;
  EXPECT_EQ(f.cutAt, std::optional<std::size_t>(4));
  EXPECT_EQ(f.pause, 80ms);
  ASSERT_TRUE(sim::ParseFault("end=garbage:7E00ff", f, error)) << error;
  EXPECT_EQ(f.bytes, (std::vector<std::uint8_t>{0x7E, 0x00, 0xFF}));
  ASSERT_TRUE(sim::ParseFault("begin=garbage", f, error)) << error;
  EXPECT_EQ(f.bytes, sim::DefaultGarbage());
  ASSERT_TRUE(sim::ParseFault("dial=text:\\r\\nNO\\x20CARRIER\\r\\n", f, error)) << error;
  EXPECT_EQ(std::string(f.bytes.begin(), f.bytes.end()), "\r\nNO CARRIER\r\n");
}

class FaultParseError : public testing::TestWithParam<const char*> {};

TEST_P(FaultParseError, IsRefusedWithAReason) {
  Fault f;
  std::string error;
  EXPECT_FALSE(sim::ParseFault(GetParam(), f, error));
  EXPECT_FALSE(error.empty());
}

INSTANTIATE_TEST_SUITE_P(Texts, FaultParseError,
                         testing::Values("begin", "=silence", "begin=", "frob=silence",
                                         "begin=frob", "data:x=silence", "data:70000=silence",
                                         "#0=silence", "begin#=silence", "at=code:3", "dial=seq:1",
                                         "begin=silence+hangup", "end=garbage:7", "end=garbage:zz",
                                         "begin=delay", "begin=cut:1:2:3", "begin=text:\\q",
                                         "begin=text:\\x4"));

TEST(FaultMatch, FirstMatchingEntryWinsAndAttemptsNarrow) {
  std::vector<Fault> plan(3);
  std::string error;
  ASSERT_TRUE(sim::ParseFault("data:4#1=seq:3", plan[0], error));
  ASSERT_TRUE(sim::ParseFault("data:4=silence", plan[1], error));
  ASSERT_TRUE(sim::ParseFault("#9=garbage", plan[2], error));

  sim::ExchangeKey key{FaultTarget::Data, 4, 1, 6};
  EXPECT_EQ(sim::FindFault(plan, key), &plan[0]);
  key.attempt = 2;
  EXPECT_EQ(sim::FindFault(plan, key), &plan[1]);
  key.sequence = 5;
  EXPECT_EQ(sim::FindFault(plan, key), nullptr);
  key.exchange = 9;
  EXPECT_EQ(sim::FindFault(plan, key), &plan[2]);
  const sim::ExchangeKey rejected{FaultTarget::Exchange, 0, 0, 9};
  EXPECT_EQ(sim::FindFault(plan, rejected), &plan[2]);
  const sim::ExchangeKey at{FaultTarget::AtCheck, 0, 1, 0};
  EXPECT_EQ(sim::FindFault(plan, at), nullptr);
}

}  // namespace

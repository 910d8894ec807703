// The plug plan's text form and the random plans made for a bench.
#include "sim/plug_plan.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

TEST(PlugPlan, ReadsItemsInTimeOrderAndRefusesMalformedOnes) {
  std::vector<sim::PlugEvent> events;
  std::string error;
  ASSERT_TRUE(sim::ParsePlugPlan("COM3-2.5,com3+4,7+1", events, error)) << error;
  ASSERT_EQ(events.size(), 3U);
  EXPECT_EQ(events[0].comNumber, 7);
  EXPECT_TRUE(events[0].plug);
  EXPECT_EQ(events[1].comNumber, 3);
  EXPECT_FALSE(events[1].plug);
  EXPECT_DOUBLE_EQ(events[1].seconds, 2.5);
  EXPECT_EQ(sim::FormatPlugPlan(events), "COM7+1.000,COM3-2.500,COM3+4.000");
  for (const char* bad :
       {"", "COM3", "COM3+", "+2", "COM0+1", "COM3+-1", "COM3+1,", "COMx+1", "COM3*1", "COM3+1s"}) {
    EXPECT_FALSE(sim::ParsePlugPlan(bad, events, error)) << bad;
  }
}

// Each pull is followed by its plug, a terminal's pulls never overlap, and a seed repeats its plan.
TEST(PlugPlan, RandomPlanPairsEveryPullWithAPlugAndRepeatsItsSeed) {
  const std::vector<int> coms = {2, 3, 4};
  const std::vector<sim::PlugEvent> plan = sim::RandomPlugPlan(12, 7, 20, coms);
  ASSERT_EQ(plan.size(), 24U);
  std::map<int, bool> out;
  for (const sim::PlugEvent& e : plan) {
    EXPECT_NE(out[e.comNumber], !e.plug) << sim::FormatPlugPlan(plan);
    out[e.comNumber] = !e.plug;
  }
  EXPECT_EQ(sim::FormatPlugPlan(sim::RandomPlugPlan(12, 7, 20, coms)), sim::FormatPlugPlan(plan));
}

}  // namespace

// The progress bar's rules, one row per case: the calls a link receives, then what it shows.
#include "download/progress_model.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

enum class Call { Range, Pos };

struct Step {
  Call call;
  std::int32_t a;
  std::int32_t b = 0;
};

struct BarCase {
  const char* name;
  std::vector<Step> calls;
  std::int32_t pos;
  double fraction;
  std::int32_t filledOf10;
};

class ProgressModelRules : public testing::TestWithParam<BarCase> {};

TEST_P(ProgressModelRules, ShowsWhatThePlatformBarShows) {
  CProgressModel bar;
  for (const Step& s : GetParam().calls) {
    if (s.call == Call::Range) {
      bar.SetRange(s.a, s.b);
    } else {
      bar.SetPos(s.a);
    }
  }
  EXPECT_EQ(bar.Pos(), GetParam().pos);
  EXPECT_DOUBLE_EQ(bar.Fraction(), GetParam().fraction);
  EXPECT_EQ(bar.Filled(10), GetParam().filledOf10);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProgressModelRules,
    testing::Values(
        BarCase{"NewBar_IsEmpty", {}, 0, 0.0, 0},
        BarCase{"Halfway", {{Call::Range, 0, 800}, {Call::Pos, 400}}, 400, 0.5, 5},
        BarCase{"OneOfThree_RoundsDown", {{Call::Range, 0, 3}, {Call::Pos, 1}}, 1, 1.0 / 3, 3},
        BarCase{
            "PastTheTop_IsClampedFull", {{Call::Range, 0, 800}, {Call::Pos, 801}}, 800, 1.0, 10},
        BarCase{
            "BelowTheBottom_IsClampedEmpty", {{Call::Range, 5, 15}, {Call::Pos, -3}}, 5, 0.0, 0},
        BarCase{"NarrowerRange_ClampsTheOldPosition",
                {{Call::Range, 0, 800}, {Call::Pos, 600}, {Call::Range, 0, 300}},
                300,
                1.0,
                10},
        BarCase{"EmptyRange_IsEmptyNotBusy", {{Call::Range, 0, 0}}, 0, 0.0, 0},
        BarCase{"EmptyRange_FullAfterAPosition", {{Call::Range, 0, 0}, {Call::Pos, 0}}, 0, 1.0, 10},
        BarCase{"EmptyRange_PositionBeforeTheRangeDoesNotFill",
                {{Call::Pos, 50}, {Call::Range, 0, 0}},
                0,
                0.0,
                0},
        BarCase{"WholeInt32Range_DoesNotOverflow",
                {{Call::Range, INT32_MIN, INT32_MAX}, {Call::Pos, INT32_MAX}},
                INT32_MAX,
                1.0,
                10}),
    [](const testing::TestParamInfo<BarCase>& row) { return row.param.name; });

}  // namespace

// What counts as one character of a path: a valid UTF-8 sequence, or one stray byte.
#include "text/utf8_text.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "tests/support/test_names.h"

namespace {

struct SequenceCase {
  const char* name;
  std::string bytes;
  std::size_t length;  // of the sequence at the start; 0: none
};

void PrintTo(const SequenceCase& c, std::ostream* os) { *os << c.name; }

class Utf8Sequence : public ::testing::TestWithParam<SequenceCase> {};

TEST_P(Utf8Sequence, LengthAtTheStart) {
  EXPECT_EQ(Utf8SequenceLength(GetParam().bytes), GetParam().length);
}

INSTANTIATE_TEST_SUITE_P(Vectors, Utf8Sequence,
                         ::testing::Values(SequenceCase{"Ascii", "a\xC5\x82", 1},
                                           SequenceCase{"TwoBytes", "\xC5\x82", 2},
                                           SequenceCase{"ThreeBytes", "\xE8\xB7\xAF", 3},
                                           SequenceCase{"FourBytes", "\xF0\x9F\x98\x80", 4},
                                           SequenceCase{"OverlongTwo", "\xC0\x80", 0},
                                           SequenceCase{"OverlongThree", "\xE0\x80\x80", 0},
                                           SequenceCase{"Surrogate", "\xED\xA0\x80", 0},
                                           SequenceCase{"AboveLastCodePoint", "\xF4\x90\x80\x80",
                                                        0},
                                           SequenceCase{"Cut", "\xE8\xB7", 0},
                                           SequenceCase{"LoneContinuation", "\x80", 0},
                                           SequenceCase{"ByteFF", "\xFF", 0}),
                         ByName{});

TEST(Utf8Characters, StrayBytesCountOneEach) {
  EXPECT_EQ(Utf8CharacterCount("\xC5\x81\xC3\xB3"
                               "d\xC5\xBA"),
            4u);
  EXPECT_EQ(Utf8CharacterCount("a\xFF\xFE"
                               "b\xE8\xB7"),
            6u);
  EXPECT_EQ(Utf8CharacterCount(""), 0u);
}

}  // namespace

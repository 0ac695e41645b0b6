#include <gtest/gtest.h>

#include "engine/code_page.h"
#include "tests/test_engine.h"

namespace vs::test {
namespace {

struct ReplaceCase {
  const char* subject;
  const char* find;
  const char* replace;
  int code_page;
  const char* expected;
};

class ReplaceTextTest : public ::testing::TestWithParam<ReplaceCase> {};

TEST_P(ReplaceTextTest, ReplacesEveryOccurrenceLeftToRight) {
  const ReplaceCase& c = GetParam();
  TestEngine engine;
  engine.settings.find = c.find;
  engine.settings.replace = c.replace;
  engine.settings.code_page = CodePage(c.code_page);
  EXPECT_EQ(engine.ReplaceText(c.subject), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplaceTextTest,
    ::testing::Values(
        ReplaceCase{"anything", "", "x", 1252, "anything"},
        ReplaceCase{"aaa", "aa", "b", 1252, "ba"},
        ReplaceCase{"aaaa", "aa", "a", 1252, "aa"},
        ReplaceCase{"ab", "ab", "abab", 1252, "abab"},
        ReplaceCase{"x.y.z", ".", "", 1252, "xyz"},
        ReplaceCase{"Abc", "abc", "x", 1252, "Abc"},
        ReplaceCase{"abcabc", "abc", "abc", 1252, "abcabc"},
        ReplaceCase{"old value", "old", "new", 1252, "new value"},
        ReplaceCase{"", "a", "b", 1252, ""},
        ReplaceCase{"a\nb", "a\nb", "x", 1252, "a\nb"},  // never matches
        // 0x95 0x5C is one character in code page 932: its second byte
        // is no backslash there, but is one in 1252.
        ReplaceCase{"\x95\x5C\x5C", "\x5C", "/", 932, "\x95\x5C/"},
        ReplaceCase{"\x95\x5C\x5C", "\x5C", "/", 1252, "\x95//"},
        // After a skipped hit the search goes on from the next character.
        ReplaceCase{"\x81\x41\x41\x41", "\x41\x41", "-", 936, "\x81\x41-"},
        ReplaceCase{"\x81\x41\x41\x41", "\x41\x41", "-", 1252, "\x81-\x41"},
        // In 1361 0xD4 is no lead byte, 0xD8 is.
        ReplaceCase{"\xD4\x41", "\x41", "b", 1361, "\xD4"
                                                   "b"},
        ReplaceCase{"\xD8\x41", "\x41", "b", 1361, "\xD8\x41"},
        // An occurrence right after a two-byte character is found.
        ReplaceCase{"\x95\x5C\x41", "\x41", "b", 932, "\x95\x5C"
                                                      "b"},
        // A find text ending in a lead byte: the characters of the subject
        // stay as they are, so the second 0x81 of each pair never matches.
        ReplaceCase{"\x81\x81\x81\x81", "\x81", "X", 932, "X\x81X\x81"},
        // A lead byte that ends the text still starts a character.
        ReplaceCase{"a\x95", "\x95", "x", 932, "ax"}));

struct CutCase {
  int code_page;
  const char* text;
  std::size_t limit;
  std::size_t expected;
};

class CutLengthTest : public ::testing::TestWithParam<CutCase> {};

TEST_P(CutLengthTest, NeverCutsInsideACharacter) {
  const CutCase& c = GetParam();
  EXPECT_EQ(CodePage(c.code_page).CutLength(c.text, c.limit), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CutLengthTest,
    ::testing::Values(CutCase{1252, "abcdef", 10, 6},
                      CutCase{1252, "abcdef", 3, 3},
                      CutCase{1252, "\xC3\xA9\xC3\xA9", 3, 3},
                      CutCase{CodePage::kUtf8, "\xC3\xA9\xC3\xA9", 3, 2},
                      CutCase{CodePage::kUtf8, "a\xE2\x82\xAC", 3, 1},
                      CutCase{CodePage::kUtf8, "a\xE2\x82\xAC", 4, 4},
                      CutCase{932, "a\x95\x5C", 2, 1},
                      CutCase{932, "a\x95\x5C", 3, 3},
                      CutCase{932, "\x41\x95\x5C\x41", 3, 3}));

}  // namespace
}  // namespace vs::test

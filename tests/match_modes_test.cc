// The match modes against the plain rules of fuzz/naive_rule.h and
// fuzz/naive_regex.h over generated lines, streamed in blocks of many
// sizes, and the cases that show each rule.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/file_steps.h"
#include "engine/line_pattern.h"
#include "engine/pattern_rewriter.h"
#include "engine/string_sink.h"
#include "fuzz/naive_regex.h"
#include "fuzz/naive_rule.h"
#include "tests/memory_file.h"
#include "tests/temp_folder.h"
#include "tests/test_engine.h"

namespace vs::test {
namespace {

MatchModes Modes(const std::string& flags) {
  MatchModes modes;
  modes.ignore_case = flags.find('i') != std::string::npos;
  modes.whole_word = flags.find('w') != std::string::npos;
  modes.preserve_case = flags.find('p') != std::string::npos;
  modes.regex = flags.find('e') != std::string::npos;
  return modes;
}

// The pieces generated texts are made of: ASCII letters, digits and
// punctuation, and per code page what its characters can hold.
std::vector<std::string> Pieces(int code_page) {
  std::vector<std::string> pieces = {"a", "A", "b", "B", "k", "S", "_", "1",
                                     " ", "-", "."};
  if (code_page == CodePage::kUtf8) {
    for (const fuzz::NaiveUtf8Character& c : fuzz::kNaiveUtf8)
      pieces.push_back(c.bytes);
    pieces.push_back("\xFF");  // no UTF-8: only in texts, not in finds
  } else if (code_page == 1252) {
    pieces.insert(pieces.end(), {"\xE9", "\xC9"});  // Latin-1 letters
  } else {
    // Lead bytes, and bytes that are second bytes of characters as often
    // as characters of their own.
    pieces.insert(pieces.end(), {"\x81", "\x95", "\xE0", "\\", "a"});
  }
  return pieces;
}

std::string Generate(std::mt19937* rng, const std::vector<std::string>& pieces,
                     int most) {
  std::string out;
  const int count = static_cast<int>((*rng)() % (most + 1));
  for (int i = 0; i < count; ++i) out += pieces[(*rng)() % pieces.size()];
  return out;
}

// Lines of generated text ending in LF, CR LF or nothing.
std::string GenerateText(std::mt19937* rng,
                         const std::vector<std::string>& pieces) {
  std::string text;
  const int lines = 1 + static_cast<int>((*rng)() % 4);
  for (int i = 0; i < lines; ++i) {
    text += Generate(rng, pieces, 10);
    const unsigned end = (*rng)() % 4;
    if (i + 1 < lines || end < 2) text += end == 0 ? "\r\n" : "\n";
  }
  return text;
}

struct Rewritten {
  std::string text;
  std::vector<std::string> entries;
  bool found = false;
};

// The whole of `input` through a PatternRewriter's three calls.
Rewritten RewriteWith(const LinePattern& pattern, const CodePage& code_page,
                      const std::string& input, std::size_t block,
                      std::size_t reads) {
  std::vector<char> buffer;
  PatternRewriter rewriter(pattern, code_page, &buffer, block);
  MemoryReadableFile file(input, ReadSizes::AtMost(reads));
  Rewritten out;
  EXPECT_TRUE(rewriter.FindsChange(&file, &out.found).ok());
  StringSink sink;
  ChangeList entries;
  bool binary = false;
  EXPECT_TRUE(rewriter.Rewrite(&file, &sink, &entries, &binary).ok());
  out.text = sink.bytes;
  out.entries.assign(entries.begin(), entries.end());
  return out;
}

// Checks one plan against the plain rule for lines, `naive_line`: the
// text as one line (a file name), and the text as a file's lines, read
// in blocks of many sizes.
template <typename NaiveLine>
void ExpectPlainRule(const MatchPlan& plan, int code_page,
                     const std::string& text, NaiveLine naive_line) {
  ASSERT_TRUE(plan.error.empty()) << plan.error;
  ASSERT_TRUE(plan.pattern);
  const CodePage cp(code_page);
  const std::string first_line = text.substr(0, text.find_first_of("\r\n"));
  EXPECT_EQ(naive_line(first_line), ReplaceAll(first_line, plan, cp));
  const fuzz::NaiveRewritten expected =
      fuzz::NaiveRewriteLines(code_page, text, naive_line);
  for (std::size_t block : {std::size_t{1}, std::size_t{4}, std::size_t{1} << 20}) {
    SCOPED_TRACE("block " + std::to_string(block));
    const Rewritten got = RewriteWith(*plan.pattern, cp, text, block, 3);
    EXPECT_EQ(expected.text, got.text);
    EXPECT_EQ(expected.entries, got.entries);
    EXPECT_EQ(!expected.entries.empty(), got.found);
  }
}

std::string Escaped(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

class PlainTextModesTest : public testing::TestWithParam<int> {};

// Ignoring case, whole words and preserving case, each and together, on
// a plain find text: every code page, many generated texts.
TEST_P(PlainTextModesTest, FollowsThePlainRule) {
  const int code_page = GetParam();
  std::vector<std::string> pieces = Pieces(code_page);
  std::vector<std::string> find_pieces = pieces;
  if (code_page == CodePage::kUtf8) find_pieces.pop_back();
  std::mt19937 rng(code_page);
  for (const char* flags : {"i", "w", "iw", "ip", "iwp"}) {
    const MatchModes modes = Modes(flags);
    for (int round = 0; round < 150; ++round) {
      std::string find = Generate(&rng, find_pieces, 3);
      if (find.empty()) find = "a";
      const std::string replace = Generate(&rng, {"x", "Yz", "-", "\xC3\xA9"}, 2);
      const std::string text = GenerateText(&rng, pieces);
      SCOPED_TRACE(std::string("modes ") + flags + " find '" + Escaped(find) +
                   "' replace '" + Escaped(replace) + "' text '" +
                   Escaped(text) + "'");
      const MatchPlan plan =
          PlanMatching(find, replace, modes, CodePage(code_page));
      const fuzz::NaiveModes naive{modes.ignore_case, modes.whole_word,
                                   modes.preserve_case};
      ExpectPlainRule(plan, code_page, text, [&](const std::string& line) {
        return fuzz::NaiveReplaceLineModes(code_page, line, find, replace,
                                           naive);
      });
      if (testing::Test::HasFailure()) return;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(CodePages, PlainTextModesTest,
                         testing::ValuesIn(fuzz::kCodePages));

class RegexModesTest : public testing::TestWithParam<int> {};

// Patterns of every kind (anchors, classes, alternatives, repeats that
// can match nothing, groups), with and without -i and -w.
TEST_P(RegexModesTest, FollowsThePlainRule) {
  const int code_page = GetParam();
  struct Pattern {
    const char* pattern;
    const char* replace;
  };
  const Pattern patterns[] = {
      {"a+", "<$0>"},         {"b*", "x"},
      {"(a)(b)?", "$2$1$$"},  {"^a", "${0}${0}"},
      {"b$", ""},             {"[ab]k", "[$0]"},
      {"a|ab", "($0)"},       {"(?P<x>k)s?", "${x}-"},
      {"\\bab", "Z"},         {".", "."},
      {"\\s+", " "},          {"[^ab]+", "_"},
      // Flags that turn multi-line matching off keep ^ at each line.
      {"(?i-m:^b)", "<$0>"},
  };
  const std::vector<std::string> pieces = Pieces(code_page);
  std::mt19937 rng(code_page + 7);
  for (const Pattern& p : patterns) {
    for (const char* flags : {"e", "ei", "ew", "eiw", "eip"}) {
      const MatchModes modes = Modes(flags);
      const fuzz::NaiveRegex naive(p.pattern, p.replace, code_page,
                                   modes.ignore_case, modes.whole_word,
                                   modes.preserve_case);
      ASSERT_TRUE(naive.ok());
      const MatchPlan plan = PlanMatching(p.pattern, p.replace, modes,
                                          CodePage(code_page));
      for (int round = 0; round < 60; ++round) {
        const std::string text = GenerateText(&rng, pieces);
        SCOPED_TRACE(std::string("modes ") + flags + " pattern '" +
                     p.pattern + "' replace '" + p.replace + "' text '" +
                     Escaped(text) + "'");
        ExpectPlainRule(plan, code_page, text, [&](const std::string& line) {
          return naive.ReplaceLine(line);
        });
        if (testing::Test::HasFailure()) return;
      }
    }
  }
}

// Patterns whose every match holds a plain text: the search looks for it
// first. Texts made of pieces of it, so that it is often near whole.
TEST_P(RegexModesTest, PatternsWithARequiredTextFollowThePlainRule) {
  const int code_page = GetParam();
  const std::pair<const char*, const char*> patterns[] = {
      {"kab+s?", "<$0>"}, {"(a)?kab\\b", "[$1]"}, {"s*kab.ka", "$$"}};
  const std::vector<std::string> pieces = {"k", "ka", "kab", "b", "a", "s",
                                           " ", "_", "K"};
  std::mt19937 rng(code_page + 11);
  for (const auto& [pattern, replace] : patterns) {
    for (const char* flags : {"e", "ew"}) {
      const MatchModes modes = Modes(flags);
      const fuzz::NaiveRegex naive(pattern, replace, code_page,
                                   modes.ignore_case, modes.whole_word,
                                   modes.preserve_case);
      ASSERT_TRUE(naive.ok());
      const MatchPlan plan =
          PlanMatching(pattern, replace, modes, CodePage(code_page));
      for (int round = 0; round < 200; ++round) {
        const std::string text = GenerateText(&rng, pieces);
        SCOPED_TRACE(std::string("modes ") + flags + " pattern '" + pattern +
                     "' text '" + Escaped(text) + "'");
        ExpectPlainRule(plan, code_page, text, [&](const std::string& line) {
          return naive.ReplaceLine(line);
        });
        if (testing::Test::HasFailure()) return;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(CodePages, RegexModesTest,
                         testing::Values(1252, CodePage::kUtf8));

struct LineCase {
  const char* flags;
  const char* find;
  const char* replace;
  int code_page;
  const char* line;
  const char* expected;
};

class ModeCaseTest : public testing::TestWithParam<LineCase> {};

TEST_P(ModeCaseTest, ReplacesTheLine) {
  const LineCase& c = GetParam();
  const MatchPlan plan =
      PlanMatching(c.find, c.replace, Modes(c.flags), CodePage(c.code_page));
  ASSERT_EQ("", plan.error);
  EXPECT_EQ(c.expected, ReplaceAll(c.line, plan, CodePage(c.code_page)));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ModeCaseTest,
    testing::Values(
        // The case shapes that carry, and those that do not.
        LineCase{"ip", "widget", "gadget", 1252,
                 "widget Widget WIDGET wIdGet WidgeT",
                 "gadget Gadget GADGET gadget gadget"},
        LineCase{"ip", "widget", "myGadget", 65001, "widget Widget WIDGET wIDGET",
                 "mygadget Mygadget MYGADGET myGadget"},
        // One upper-case letter is a first letter in upper case.
        LineCase{"ip", "w", "vv", 1252, "W w", "Vv vv"},
        LineCase{"ip", "1-2", "a-b", 1252, "1-2", "a-b"},  // no letter
        LineCase{"eip", "w(i)dget", "g$1dget", 65001, "WIDGET Widget",
                 "GIDGET Gidget"},
        // Whole words at a line's ends, beside punctuation and beside
        // characters of more than one byte.
        LineCase{"w", "ab", "X", 1252, "ab abc cab ab_ ab.ab", "X abc cab ab_ X.X"},
        LineCase{"w", "ab", "X", 65001,
                 "\xC3\xA9"
                 "ab ab\xC3\xA9 ab\xE2\x80\x94 \xD9\xA3"
                 "ab ab\xCC\x81 ab",
                 "\xC3\xA9"
                 "ab ab\xC3\xA9 X\xE2\x80\x94 \xD9\xA3"
                 "ab ab\xCC\x81 X"},
        // A byte of no UTF-8 character is taken for a letter.
        LineCase{"w", "caf", "X", 65001, "caf\xE9 caf", "caf\xE9 X"},
        // In 1252 only ASCII letters are word characters.
        LineCase{"w", "caf", "X", 1252, "caf\xE9 \xE9"
                                        "caf",
                 "X\xE9 \xE9X"},
        // Unicode simple case folding in UTF-8, ASCII only elsewhere.
        LineCase{"i", "k", "x", 65001, "k K \xE2\x84\xAA", "x x x"},
        LineCase{"i", "sos", "x", 65001, "SOS \xC5\xBFo\xC5\xBF", "x x"},
        LineCase{"i", "\xCF\x83\xCE\xB1", "x", 65001, "\xCE\xA3\xCE\x91", "x"},
        LineCase{"i", "\xC3\xA9t\xC3\xA9", "x", 65001, "\xC3\x89T\xC3\x89", "x"},
        LineCase{"i", "\xE9t\xE9", "x", 1252, "\xC9T\xC9 \xE9T\xE9", "\xC9T\xC9 x"},
        // In a double-byte code page a second byte that looks like a
        // letter is no letter, and the find text's own second bytes
        // never fold: 0x82 0x61 and 0x82 0x41 are different characters.
        LineCase{"i", "A", "x", 932, "\x82\x61 a A", "\x82\x61 x x"},
        LineCase{"i", "\x82\x61", "x", 932, "\x82\x41 \x82\x61", "\x82\x41 x"},
        LineCase{"iw", "a", "x", 936, "\x81\x61 \x81\x41 a \x81\x41"
                                      "a",
                 "\x81\x61 \x81\x41 x \x81\x41x"},
        // Regular expressions: groups by number and name, dollars, and a
        // match of no character is skipped, not inserted everywhere.
        LineCase{"e", "(\\w+)@(?P<host>\\w+)", "${host}: $1 $$5", 1252,
                 "mail ann@example now", "mail example: ann $5 now"},
        LineCase{"e", "x*", "Y", 1252, "axxbx", "aYbY"},
        LineCase{"e", "^", "> ", 1252, "text", "text"},
        LineCase{"e", "a*?", "Y", 1252, "aaa", "aaa"},
        // Skipped on past a byte that is no UTF-8, one byte at a time.
        LineCase{"e", "b*", "<$0>", 65001, "\xF0"
                                           "ab\xFF"
                                           "b",
                 "\xF0"
                 "a<b>\xFF<b>"},
        // A pattern without metacharacters is its text, in a double-byte
        // code page too; \. is a dot.
        LineCase{"e", "a\\.b", "$0$$", 932, "a.b \x95\x5C"
                                           "a.b",
                 "a.b$ \x95\x5C"
                 "a.b$"}));

// A pattern without metacharacters takes the literal way.
TEST(MatchPlanTest, APlainPatternTakesTheLiteralWay) {
  MatchPlan plan = PlanMatching("a\\.b", "x$$", Modes("e"), CodePage(932));
  EXPECT_EQ("", plan.error);
  EXPECT_EQ(nullptr, plan.pattern);
  EXPECT_EQ("a.b", plan.find);
  EXPECT_EQ("x$", plan.replace);
  EXPECT_NE(nullptr, PlanMatching("a.b", "x", Modes("e"), CodePage(1252)).pattern);
  EXPECT_EQ(nullptr, PlanMatching("ab", "x", Modes(""), CodePage(1252)).pattern);
}

TEST(MatchPlanTest, SettingsThatCannotRunSayWhy) {
  struct Case {
    const char* flags;
    const char* find;
    const char* replace;
    int code_page;
    const char* error;
  };
  const Case cases[] = {
      {"e", "a(", "", 1252, "invalid regular expression 'a('"},
      {"e", "(a)", "$2", 1252, "the replacement names group 2, but the pattern has 1 group"},
      {"e", "a", "${nope}", 65001, "the replacement names a group 'nope'"},
      {"e", "a", "${}", 65001, "the replacement has a '${' without"},
      {"e", "a", "${1", 65001, "the replacement has a '${' without"},
      {"e", "a", "cost: $", 65001, "a '$' in the replacement starts"},
      {"e", "a", "$x", 65001, "a '$' in the replacement starts"},
      {"p", "a", "b", 1252, "preserving case works only together with ignoring case"},
      {"e", "a.b", "", 936, "code page 936 is double-byte"},
      {"e", "a(", "", 936, "invalid regular expression 'a('"},
      {"i", "\xFF", "", 65001, "the find text is not valid UTF-8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.find);
    const MatchPlan plan =
        PlanMatching(c.find, c.replace, Modes(c.flags), CodePage(c.code_page));
    EXPECT_EQ(0u, plan.error.find(c.error)) << plan.error;
    EXPECT_EQ(nullptr, plan.pattern);
  }
}

// A pattern that backtracking matchers take exponential time over: with
// RE2 it finishes at once, whatever the line.
TEST(RegexLineTest, AHostilePatternFinishes) {
  const MatchPlan plan = PlanMatching("(a+)+$", "x", Modes("e"), CodePage(1252));
  const std::string line(50000, 'a');
  EXPECT_EQ("x", ReplaceAll(line, plan, CodePage(1252)));
  EXPECT_EQ(line + "b", ReplaceAll(line + "b", plan, CodePage(1252)));
  const Rewritten got = RewriteWith(*plan.pattern, CodePage(1252),
                                    line + "b\n" + line + "\n", 4096, 1 << 20);
  EXPECT_EQ(line + "b\nx\n", got.text);
}

// A line that goes on past the most a pattern is matched against fails
// the file, which is then left alone; shorter ones are read whole however
// long, over many blocks.
TEST(RegexLineTest, ALineTooLongToMatchFailsTheFile) {
  const MatchPlan plan = PlanMatching("a.b", "x", Modes("e"), CodePage(1252));
  std::vector<char> buffer;
  PatternRewriter rewriter(*plan.pattern, CodePage(1252), &buffer);
  const std::string too_long(
      PatternRewriter::kMaxLineLength + 2 * PatternRewriter::kBlockSize, 'a');
  MemoryReadableFile file(too_long + "b\n", ReadSizes());
  bool found = false;
  const Status status = rewriter.FindsChange(&file, &found);
  EXPECT_FALSE(status.ok());
  EXPECT_NE(std::string::npos, status.reason().find("a line longer than"));

  const std::string long_line = std::string(3 << 20, 'c') + "a-b";
  MemoryReadableFile long_file(long_line + "\n", ReadSizes());
  ASSERT_TRUE(rewriter.FindsChange(&long_file, &found).ok());
  EXPECT_TRUE(found);
}

// Settings that cannot run are told as a problem, and walk nothing: not
// a name or a text changes, even those a plain match would change.
TEST(MatchModesRunTest, SettingsThatCannotRunChangeNothing) {
  TempFolder tree;
  tree.Write("a(b.txt", "a(b\n");
  TestEngine engine;
  engine.settings.find = "a(b";
  engine.settings.replace = "x";
  engine.settings.modes.regex = true;
  engine.settings.code_page = CodePage(1252);
  engine.ProcessFolder(tree.path());
  EXPECT_TRUE(engine.problems().bad_settings);
  ASSERT_EQ(1u, engine.problems_met.size());
  EXPECT_EQ(Problem::Kind::kBadSettings, engine.problems_met[0].kind);
  EXPECT_EQ(0u, engine.reports[0].find("invalid regular expression"))
      << engine.reports[0];
  EXPECT_EQ("a(b\n", tree.Read("a(b.txt"));
  EXPECT_EQ(0u, engine.log().size());
}

// A whole run with a mode: texts and names, a CR LF line end kept, a
// file that only holds the text in another case left alone without -i.
TEST(MatchModesRunTest, ARunChangesTextsAndNames) {
  TempFolder tree;
  tree.Write("Foo.txt", "foo FOO\r\nfood\n");
  tree.Write("other.txt", "no match\n");
  TestEngine engine;
  engine.settings.find = "foo";
  engine.settings.replace = "bar";
  engine.settings.modes.ignore_case = true;
  engine.settings.modes.whole_word = true;
  engine.settings.modes.preserve_case = true;
  engine.settings.code_page = CodePage(CodePage::kUtf8);
  engine.ProcessFolder(tree.path());
  EXPECT_FALSE(engine.problems().any());
  EXPECT_EQ("bar BAR\r\nfood\n", tree.Read("Bar.txt"));
  EXPECT_FALSE(tree.Exists("Foo.txt"));
  EXPECT_EQ("no match\n", tree.Read("other.txt"));
  EXPECT_EQ(std::vector<std::string>{tree.Path("Foo.txt")}, engine.files);
}

}  // namespace
}  // namespace vs::test

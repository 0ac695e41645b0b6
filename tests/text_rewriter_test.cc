#include "engine/text_rewriter.h"

#include <gtest/gtest.h>

#include <random>

#include "engine/string_sink.h"
#include "tests/memory_file.h"
#include "tests/test_engine.h"

namespace vs::test {
namespace {

struct Result {
  std::string text;
  ChangeList entries;
  bool binary = false;
  bool found = false;
};

Result Rewrite(const std::string& input, const std::string& find,
               const std::string& replace, int code_page = 1252,
               std::size_t block_size = TextRewriter::kBlockSize,
               std::size_t chunk = 1 << 30) {
  CodePage cp(code_page);
  Matcher matcher(find, cp);
  std::vector<char> buffer;
  TextRewriter rewriter(matcher, replace, cp, &buffer, block_size);
  MemoryReadableFile file(input, ReadSizes::AtMost(chunk));
  StringSink sink;
  Result result;
  EXPECT_TRUE(rewriter.FindsChange(&file, &result.found).ok());
  EXPECT_TRUE(
      rewriter.Rewrite(&file, &sink, &result.entries, &result.binary).ok());
  result.text = sink.bytes;
  return result;
}

// The rule written the obvious way: cut at every LF, leave a CR before it
// out of the line, replace within the line, put the line end back.
Result Reference(const std::string& input, const std::string& find,
                 const std::string& replace, int code_page) {
  TestEngine engine;
  engine.settings.find = find;
  engine.settings.replace = replace;
  engine.settings.code_page = CodePage(code_page);
  Result result;
  std::size_t start = 0;
  for (int number = 1;; ++number) {
    std::size_t lf = input.find('\n', start);
    std::size_t end = lf == std::string::npos ? input.size() : lf;
    std::size_t text_end =
        lf != std::string::npos && end > start && input[end - 1] == '\r'
            ? end - 1
            : end;
    std::string line = input.substr(start, text_end - start);
    std::string new_line = engine.ReplaceText(line);
    if (new_line != line) {
      result.entries.push_back("Line " + std::to_string(number) + ": " +
                               new_line);
      result.found = true;
    }
    result.text += new_line + input.substr(text_end, end - text_end);
    if (lf == std::string::npos) break;
    result.text += '\n';
    start = lf + 1;
  }
  return result;
}

struct ExactCase {
  const char* name;
  std::string input;
  std::string expected;
  ChangeList entries;
};

TEST(TextRewriterTest, ChangesNothingButTheOccurrences) {
  const ExactCase cases[] = {
      {"empty", "", "", {}},
      {"no line end", "abc", "axc", {"Line 1: axc"}},
      {"LF kept, none added", "abc\n", "axc\n", {"Line 1: axc"}},
      {"second line", "a\nb\n", "a\nx\n", {"Line 2: x"}},
      {"CR LF kept", "ab\r\nb\r\n", "ax\r\nx\r\n", {"Line 1: ax", "Line 2: x"}},
      {"mixed ends", "b\r\nb\nb", "x\r\nx\nx",
       {"Line 1: x", "Line 2: x", "Line 3: x"}},
      {"lone CR is text", "b\rb\n", "x\rx\n", {"Line 1: x\rx"}},
      {"final CR is text", "ab\r", "ax\r", {"Line 1: ax\r"}},
      {"untouched lines", "a\r\nc\nb", "a\r\nc\nx", {"Line 3: x"}},
      {"empty lines count", "\n\n\nb", "\n\n\nx", {"Line 4: x"}},
  };
  for (const ExactCase& c : cases) {
    SCOPED_TRACE(c.name);
    Result r = Rewrite(c.input, "b", "x");
    EXPECT_EQ(r.text, c.expected);
    EXPECT_EQ(r.entries, c.entries);
    EXPECT_EQ(r.found, !c.entries.empty());
  }
}

TEST(TextRewriterTest, FindTextEndingWithCrNeverEatsALineEnd) {
  Result r = Rewrite("ab\r\nab\rc\n", "b\r", "X");
  EXPECT_EQ(r.text, "ab\r\naXc\n");
  EXPECT_EQ(r.entries, ChangeList{"Line 2: aXc"});
  // And with the CR LF split between two blocks.
  for (std::size_t block = 1; block <= 4; ++block) {
    Result split = Rewrite("ab\r\n", "b\r", "X", 1252, block);
    EXPECT_EQ(split.text, "ab\r\n");
    EXPECT_FALSE(split.found);
    EXPECT_TRUE(split.entries.empty());
  }
}

TEST(TextRewriterTest, BinaryFilesAreRecognised) {
  for (std::string input : {std::string("ab\0c", 4), std::string("ab\x1A" "c")}) {
    Result r = Rewrite(input, "b", "x");
    EXPECT_TRUE(r.binary);
  }
  CodePage cp(1252);
  Matcher matcher("b", cp);
  std::vector<char> buffer;
  TextRewriter rewriter(matcher, "x", cp, &buffer, 3);
  MemoryReadableFile late(std::string(10, 'a') + std::string(1, '\0'));
  bool binary = false;
  ASSERT_TRUE(rewriter.IsBinary(&late, &binary).ok());
  EXPECT_TRUE(binary);
}

TEST(TextRewriterTest, LongLineIsNeverCut) {
  // Several blocks long, with occurrences at its start, across a block
  // boundary and at its very end.
  std::string line(3 * TextRewriter::kBlockSize + 5, 'a');
  line.replace(0, 3, "old");
  line.replace(TextRewriter::kBlockSize - 1, 3, "old");
  line.replace(line.size() - 3, 3, "old");
  std::string input = "first\n" + line + "\r\nlast";
  Result r = Rewrite(input, "old", "new!");
  std::string expected_line = line;
  for (std::size_t at; (at = expected_line.find("old")) != std::string::npos;)
    expected_line.replace(at, 3, "new!");
  EXPECT_EQ(r.text, "first\n" + expected_line + "\r\nlast");
  ASSERT_EQ(r.entries.size(), 1u);
  EXPECT_EQ(r.entries[0].size(), 1023u);
  EXPECT_EQ(r.entries[0], ("Line 2: " + expected_line).substr(0, 1023));
}

TEST(TextRewriterTest, EntryIsCutBetweenCharacters) {
  // "Line 1: " is 8 bytes; 1015 more fit. With a two-byte character
  // straddling byte 1023 the cut falls before it.
  std::string utf8 = "b" + std::string(1013, 'a') + "\xC3\xA9" + "tail";
  Result r = Rewrite(utf8, "b", "x", CodePage::kUtf8);
  ASSERT_EQ(r.entries.size(), 1u);
  EXPECT_EQ(r.entries[0], "Line 1: x" + std::string(1013, 'a'));

  std::string sjis = "b" + std::string(1013, 'a') + "\x95\x5C" + "tail";
  r = Rewrite(sjis, "b", "x", 932);
  ASSERT_EQ(r.entries.size(), 1u);
  EXPECT_EQ(r.entries[0], "Line 1: x" + std::string(1013, 'a'));
}

// Every block size and read size must give the result of the plain rule.
TEST(TextRewriterTest, AgreesWithThePlainRuleOnRandomTexts) {
  std::mt19937 random(20261210);
  const char alphabet[] = {'a', 'b', '\r', '\n', '\x95', '\x5C', 'x'};
  auto random_text = [&](std::size_t max_length) {
    std::string s(random() % (max_length + 1), ' ');
    for (char& c : s) c = alphabet[random() % sizeof alphabet];
    return s;
  };
  for (int round = 0; round < 3000; ++round) {
    // Mostly short texts in tiny blocks, where every boundary case lies;
    // every third a longer one in one block, where whole runs of lines
    // go through at once.
    const bool whole = round % 3 == 0;
    std::string input = random_text(whole ? 300 : 40);
    std::string find = random_text(3);
    while (find.find('\n') != std::string::npos) find = random_text(3);
    std::string replace = random_text(2);
    int code_page = round % 2 ? 932 : 1252;
    std::size_t block = whole ? TextRewriter::kBlockSize : 1 + random() % 9;
    std::size_t chunk = whole ? input.size() + 1 : 1 + random() % 5;
    Result expected = Reference(input, find, replace, code_page);
    Result got = Rewrite(input, find, replace, code_page, block, chunk);
    SCOPED_TRACE(::testing::Message()
                 << "round " << round << " block " << block << " chunk "
                 << chunk << " find size " << find.size());
    ASSERT_EQ(got.text, expected.text);
    ASSERT_EQ(got.entries, expected.entries);
    ASSERT_EQ(got.found, expected.found);
  }
}

}  // namespace
}  // namespace vs::test

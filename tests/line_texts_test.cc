// The lines a rewrite keeps for a diff: every changed line whole, old and
// new, and the unchanged lines within three of one, whatever the blocks
// the file is read in.
#include "engine/line_texts.h"

#include <gtest/gtest.h>

#include <random>
#include <tuple>
#include <vector>

#include "engine/string_sink.h"
#include "engine/text_rewriter.h"
#include "tests/memory_file.h"
#include "tests/test_engine.h"

namespace vs::test {
namespace {

// number, changed, old text, new text
using Kept = std::tuple<std::uint64_t, bool, std::string, std::string>;

std::vector<Kept> KeptBy(const std::string& input, const std::string& find,
                         const std::string& replace, int code_page,
                         std::size_t block, std::size_t chunk) {
  CodePage cp(code_page);
  Matcher matcher(find, cp);
  std::vector<char> buffer;
  TextRewriter rewriter(matcher, replace, cp, &buffer, block);
  MemoryReadableFile file(input, ReadSizes::AtMost(chunk));
  StringSink sink;
  ChangeList entries, line_texts;
  bool binary = false;
  EXPECT_TRUE(
      rewriter.Rewrite(&file, &sink, &entries, &binary, &line_texts).ok());
  std::vector<Kept> kept;
  for (const std::string& entry : line_texts) {
    const LineText line = ReadLineText(entry);
    kept.emplace_back(line.number, line.changed, std::string(line.old_text),
                      std::string(line.new_text));
  }
  return kept;
}

// Cuts the text at every LF, replaces within each line (a CR before the
// LF being the line's end), and keeps what lies within three lines of a
// changed one.
std::vector<Kept> Reference(const std::string& input, const std::string& find,
                            const std::string& replace, int code_page) {
  TestEngine engine;
  engine.settings.find = find;
  engine.settings.replace = replace;
  engine.settings.code_page = CodePage(code_page);
  std::vector<Kept> lines;
  for (std::size_t start = 0; start < input.size();) {
    std::size_t lf = input.find('\n', start);
    std::size_t end = lf == std::string::npos ? input.size() : lf + 1;
    std::size_t text_end = lf == std::string::npos ? end : lf;
    if (lf != std::string::npos && text_end > start &&
        input[text_end - 1] == '\r')
      --text_end;
    const std::string text = input.substr(start, text_end - start);
    const std::string line_end = input.substr(text_end, end - text_end);
    const std::string new_text = engine.ReplaceText(text);
    lines.emplace_back(lines.size() + 1, new_text != text, text + line_end,
                       new_text + line_end);
    start = end;
  }
  std::vector<Kept> kept;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    bool near = false;
    for (std::size_t j = i >= 3 ? i - 3 : 0; j <= i + 3 && j < lines.size();
         ++j)
      near = near || std::get<1>(lines[j]);
    if (near) kept.push_back(lines[i]);
  }
  return kept;
}

TEST(LineTextsTest, KeepsChangedLinesAndThreeAroundThem) {
  const struct {
    const char* name;
    std::string input;
    std::vector<Kept> kept;
  } cases[] = {
      {"gap of seven: two groups",
       "b\n1\n2\n3\n4\n5\n6\n7\nb\n",
       {{1, true, "b\n", "x\n"}, {2, false, "1\n", "1\n"},
        {3, false, "2\n", "2\n"}, {4, false, "3\n", "3\n"},
        {6, false, "5\n", "5\n"}, {7, false, "6\n", "6\n"},
        {8, false, "7\n", "7\n"}, {9, true, "b\n", "x\n"}}},
      {"CR LF and a last line without LF",
       "a\r\nb\r\nc",
       {{1, false, "a\r\n", "a\r\n"}, {2, true, "b\r\n", "x\r\n"},
        {3, false, "c", "c"}}},
      {"the whole last line goes", "a\nb", {{1, false, "a\n", "a\n"},
                                            {2, true, "b", "x"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.kept, KeptBy(c.input, "b", "x", 1252, TextRewriter::kBlockSize,
                             1 << 30));
  }
  EXPECT_EQ((std::vector<Kept>{{1, true, "ab", ""}}),
            KeptBy("ab", "ab", "", 1252, 4, 1 << 30));
}

// Every block and read size, and replace texts holding line ends, must
// give what the plain rule gives.
TEST(LineTextsTest, AgreeWithThePlainRuleOnRandomTexts) {
  std::mt19937 random(20261211);
  const char alphabet[] = {'a', 'b', '\r', '\n', '\n', '\x95', '\x5C', 'x'};
  auto random_text = [&](std::size_t max_length) {
    std::string s(random() % (max_length + 1), ' ');
    for (char& c : s) c = alphabet[random() % sizeof alphabet];
    return s;
  };
  for (int round = 0; round < 3000; ++round) {
    const bool whole = round % 3 == 0;
    std::string input = random_text(whole ? 400 : 60);
    std::string find = random_text(3);
    while (find.find('\n') != std::string::npos) find = random_text(3);
    std::string replace = random_text(2);
    int code_page = round % 2 ? 932 : 1252;
    std::size_t block = whole ? TextRewriter::kBlockSize : 1 + random() % 9;
    std::size_t chunk = whole ? input.size() + 1 : 1 + random() % 5;
    SCOPED_TRACE(::testing::Message()
                 << "round " << round << " block " << block << " chunk "
                 << chunk);
    ASSERT_EQ(Reference(input, find, replace, code_page),
              KeptBy(input, find, replace, code_page, block, chunk));
  }
}

}  // namespace
}  // namespace vs::test

// Fuzzes the match modes (ignore case, whole word, preserve case, regular
// expressions) through both ways the engine applies them: to a name as
// one line (ReplaceAll with a MatchPlan), and to a file's lines streamed
// through a PatternRewriter with blocks as small as one byte; against the
// plain rules of naive_rule.h and naive_regex.h.
//
// Input: one byte choosing the code page, one the modes (bit 0 ignore
// case, 1 whole word, 2 preserve case, 3 regular expression), one the
// find text's length (0 to 7; for a regular expression, which pattern of
// a table), one the replacement's likewise, one the block size, one the
// sizes of the reads, the find and the replace text, then the file's
// bytes. In UTF-8 every byte from 0x80 up stands for a character the
// plain rule knows (or, in the file, a byte that is no UTF-8); a regular
// expression in a double-byte code page, which the engine refuses, is
// tried in 1252 instead.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/file_steps.h"
#include "engine/line_pattern.h"
#include "engine/pattern_rewriter.h"
#include "engine/string_sink.h"
#include "fuzz/naive_regex.h"
#include "fuzz/naive_rule.h"
#include "tests/memory_file.h"

namespace vs::fuzz {
namespace {

constexpr const char* kPatterns[] = {
    "a+",   "b*",       "(a)(b)?", "^a",    "b$",     "[ab]k", "a|ab",
    ".",    "\\s+",     "[^ab]+",  "\\bab", "(?P<x>k)s?", "a.?b",
    "\\d|_", "kab+s?", "(a)?kab\\b",
    "(a|b)\\1?"};  // the last does not compile: refused alike
constexpr const char* kTemplates[] = {"", "<$0>", "$$", "x", "${0}-$0",
                                      "$1", "[${1}]"};

// Mostly tiny blocks, where every boundary case lies, sometimes larger
// ones (the real size is the unit tests' part: here it costs more time
// than it finds).
std::size_t BlockSize(unsigned char choice) {
  if (choice < 200) return 1 + choice % 9;
  static const std::size_t kLarger[] = {16, 64, 1023, 4096};
  return kLarger[choice % (sizeof kLarger / sizeof *kLarger)];
}

// In UTF-8, bytes from 0x80 up stand for whole characters.
std::string Mapped(int code_page, const std::string& bytes, bool in_file) {
  if (code_page != 65001) return bytes;
  constexpr std::size_t kCount = sizeof kNaiveUtf8 / sizeof *kNaiveUtf8;
  std::string out;
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (in_file && c % (kCount + 1) == kCount) {
      out += '\xFF';
    } else {
      out += kNaiveUtf8[c % kCount].bytes;
    }
  }
  return out;
}

std::string Escaped(const std::string& bytes) {
  std::string out = "\"";
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out + "\"";
}

struct Case {
  int code_page;
  MatchModes modes;
  std::string find, replace, input;
  std::size_t block;
  unsigned char reads;
};

[[noreturn]] void Fail(const Case& c, const char* what, const std::string& got,
                       const std::string& expected) {
  std::fprintf(stderr,
               "match modes: %s\n  code page %d, modes i%d w%d p%d e%d, "
               "block %zu, reads %u\n  find    %s\n  replace %s\n"
               "  input   %s\n  got      %s\n  expected %s\n",
               what, c.code_page, c.modes.ignore_case, c.modes.whole_word,
               c.modes.preserve_case, c.modes.regex, c.block, c.reads,
               Escaped(c.find).c_str(), Escaped(c.replace).c_str(),
               Escaped(c.input).c_str(), Escaped(got).c_str(),
               Escaped(expected).c_str());
  std::abort();
}

std::string Joined(const std::vector<std::string>& entries) {
  std::string out;
  for (const std::string& entry : entries) out += entry + "\n";
  return out;
}

template <typename NaiveLine>
void Check(const Case& c, const MatchPlan& plan, NaiveLine naive_line) {
  const CodePage code_page(c.code_page);
  // A name is one line.
  const std::string name = c.input.substr(0, c.input.find('\n'));
  const std::string renamed = ReplaceAll(name, plan, code_page);
  if (renamed != naive_line(name))
    Fail(c, "ReplaceAll", renamed, naive_line(name));
  if (!plan.pattern) return;  // the literal way: its own fuzz target

  const NaiveRewritten expected =
      NaiveRewriteLines(c.code_page, c.input, naive_line);
  std::vector<char> buffer;
  PatternRewriter rewriter(*plan.pattern, code_page, &buffer, c.block);
  auto file = test::MemoryReadableFile::Borrowing(
      c.input, test::ReadSizes::Varying(c.reads));
  bool found = false, binary = false;
  if (!rewriter.FindsChange(&file, &found).ok())
    Fail(c, "FindsChange failed", "", "");
  if (found != !expected.entries.empty())
    Fail(c, "FindsChange", found ? "yes" : "no", Joined(expected.entries));
  if (!rewriter.IsBinary(&file, &binary).ok() || binary != expected.binary)
    Fail(c, "IsBinary", binary ? "yes" : "no", expected.binary ? "yes" : "no");
  StringSink sink;
  ChangeList entries;
  if (!rewriter.Rewrite(&file, &sink, &entries, &binary).ok())
    Fail(c, "Rewrite failed", "", "");
  if (binary) return;
  if (sink.bytes != expected.text)
    Fail(c, "Rewrite's text", sink.bytes, expected.text);
  const std::vector<std::string> got(entries.begin(), entries.end());
  if (got != expected.entries)
    Fail(c, "Rewrite's entries", Joined(got), Joined(expected.entries));
}

}  // namespace
}  // namespace vs::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace vs::fuzz;
  InputReader in(data, size);
  Case c;
  c.code_page =
      kCodePages[in.Byte() % (sizeof kCodePages / sizeof *kCodePages)];
  const unsigned char modes = in.Byte();
  c.modes.ignore_case = modes & 1;
  c.modes.whole_word = modes & 2;
  c.modes.preserve_case = c.modes.ignore_case && (modes & 4);
  c.modes.regex = modes & 8;
  const unsigned char find_choice = in.Byte();
  const unsigned char replace_choice = in.Byte();
  c.block = BlockSize(in.Byte());
  c.reads = in.Byte();

  if (c.modes.regex) {
    // Patterns and replacements of a table, in a code page that takes
    // them: a double-byte one refuses patterns with metacharacters.
    if (c.code_page != 65001) c.code_page = 1252;
    c.find = kPatterns[find_choice % (sizeof kPatterns / sizeof *kPatterns)];
    c.replace =
        kTemplates[replace_choice % (sizeof kTemplates / sizeof *kTemplates)];
    c.input = Mapped(c.code_page, in.Rest(), true);
    const vs::MatchPlan plan = vs::PlanMatching(c.find, c.replace, c.modes,
                                                vs::CodePage(c.code_page));
    const NaiveRegex naive(c.find, c.replace, c.code_page,
                           c.modes.ignore_case, c.modes.whole_word,
                           c.modes.preserve_case);
    if (!naive.ok() || !plan.error.empty()) {
      // Both refuse the same patterns; a replacement naming a group the
      // pattern lacks is refused by the engine only.
      if (naive.ok() == plan.error.empty() ||
          plan.error.find("the replacement") == 0)
        return 0;
      Fail(c, "refused", plan.error, naive.ok() ? "" : "refused");
    }
    Check(c, plan, [&](const std::string& line) {
      return naive.ReplaceLine(line);
    });
    return 0;
  }
  c.find = Mapped(c.code_page, in.Bytes(find_choice % 8), false);
  c.replace = in.Bytes(replace_choice % 8);
  c.input = Mapped(c.code_page, in.Rest(), true);
  const vs::MatchPlan plan = vs::PlanMatching(c.find, c.replace, c.modes,
                                              vs::CodePage(c.code_page));
  if (!plan.error.empty()) Fail(c, "refused", plan.error, "");
  const NaiveModes naive{c.modes.ignore_case, c.modes.whole_word,
                         c.modes.preserve_case};
  Check(c, plan, [&](const std::string& line) {
    return NaiveReplaceLineModes(c.code_page, line, c.find, c.replace, naive);
  });
  return 0;
}

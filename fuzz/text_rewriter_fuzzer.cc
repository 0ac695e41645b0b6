// Fuzzes the streaming rewrite, vs::TextRewriter (FindsChange, IsBinary,
// Rewrite), against the byte-by-byte rule of naive_rule.h, over in-memory
// files read a few bytes at a time, with blocks as small as one byte.
//
// Input: one byte choosing the code page, one byte each for the lengths
// of the find and the replace text (0 to 7), one byte each choosing two
// block sizes, one byte choosing the sizes of the reads, the find and the
// replace text, and then the file's bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/code_page.h"
#include "engine/matcher.h"
#include "engine/string_sink.h"
#include "engine/text_rewriter.h"
#include "fuzz/naive_rule.h"
#include "tests/memory_file.h"

namespace vs::fuzz {
namespace {

constexpr std::size_t kMaxEntryLength = 1023;

// Mostly tiny blocks, where every boundary case lies, sometimes larger
// ones up to the real size.
std::size_t BlockSize(unsigned char choice) {
  if (choice < 200) return 1 + choice % 9;
  static const std::size_t kLarger[] = {16, 64, 100, 1023, 1024, 4096,
                                        TextRewriter::kBlockSize};
  return kLarger[choice % (sizeof kLarger / sizeof *kLarger)];
}

struct Expected {
  std::string text;
  ChangeList entries;
  bool changes = false;
  bool binary = false;
};

// Lines end at an LF; a CR right before it belongs to the line end, any
// other CR is text. Each line is replaced on its own and keeps its end.
Expected NaiveRewrite(int code_page, const std::string& input,
                      const std::string& find, const std::string& replace) {
  Expected out;
  out.binary = input.find('\0') != std::string::npos ||
               input.find('\x1A') != std::string::npos;
  std::size_t start = 0;
  for (unsigned long long number = 1;; ++number) {
    std::size_t lf = input.find('\n', start);
    std::size_t end = lf == std::string::npos ? input.size() : lf;
    std::size_t text_end = end;
    if (lf != std::string::npos && end > start && input[end - 1] == '\r')
      --text_end;
    std::string line = input.substr(start, text_end - start);
    std::string new_line = NaiveReplaceLine(code_page, line, find, replace);
    if (new_line != line) {
      out.changes = true;
      std::string entry = "Line " + std::to_string(number) + ": " + new_line;
      entry.resize(NaiveCut(code_page, entry, kMaxEntryLength));
      out.entries.push_back(entry);
    }
    out.text += new_line;
    out.text += input.substr(text_end, end - text_end);
    if (lf == std::string::npos) return out;
    out.text += '\n';
    start = lf + 1;
  }
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
  std::string find, replace, input;
  std::size_t block;
  unsigned char reads;
};

[[noreturn]] void Fail(const Case& c, const char* what, const std::string& got,
                       const std::string& expected) {
  std::fprintf(stderr,
               "TextRewriter: %s\n  code page %d, block %zu, reads %u\n"
               "  find    %s\n  replace %s\n  input   %s\n"
               "  got      %s\n  expected %s\n",
               what, c.code_page, c.block, c.reads, Escaped(c.find).c_str(),
               Escaped(c.replace).c_str(), Escaped(c.input).c_str(),
               Escaped(got).c_str(), Escaped(expected).c_str());
  std::abort();
}

std::string Joined(const ChangeList& entries) {
  std::string out;
  for (const std::string& entry : entries) out += entry + "\n";
  return out;
}

std::string YesNo(bool b) { return b ? "yes" : "no"; }

// Runs all three passes of one rewriter over the case and checks each.
void Check(const Case& c, const Expected& expected, std::vector<char>* buffer,
           bool dry_run) {
  CodePage code_page(c.code_page);
  Matcher matcher(c.find, code_page);
  TextRewriter rewriter(matcher, c.replace, code_page, buffer, c.block);
  auto file = test::MemoryReadableFile::Borrowing(
      c.input, test::ReadSizes::Varying(c.reads));

  bool binary = false;
  if (!rewriter.IsBinary(&file, &binary).ok())
    Fail(c, "IsBinary failed", "", "");
  if (binary != expected.binary)
    Fail(c, "IsBinary", YesNo(binary), YesNo(expected.binary));

  bool found = false;
  if (!rewriter.FindsChange(&file, &found).ok())
    Fail(c, "FindsChange failed", "", "");
  if (found != expected.changes)
    Fail(c, "FindsChange", YesNo(found), YesNo(expected.changes));

  StringSink sink;
  ChangeList entries;
  if (!rewriter.Rewrite(&file, dry_run ? nullptr : &sink, &entries, &binary)
           .ok())
    Fail(c, "Rewrite failed", "", "");
  if (binary != expected.binary)
    Fail(c, "Rewrite's binary", YesNo(binary), YesNo(expected.binary));
  if (binary) return;  // what was written so far is thrown away
  if (!dry_run && sink.bytes != expected.text)
    Fail(c, "Rewrite's text", sink.bytes, expected.text);
  if (entries != expected.entries)
    Fail(c, "Rewrite's entries", Joined(entries), Joined(expected.entries));
  // A text without the find text comes back as it was, byte for byte.
  if ((c.find.empty() || c.input.find(c.find) == std::string::npos) &&
      (found || !entries.empty() || (!dry_run && sink.bytes != c.input)))
    Fail(c, "changed a text without the find text", sink.bytes, c.input);
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
  const std::size_t find_length = in.Byte() % 8;
  const std::size_t replace_length = in.Byte() % 8;
  const std::size_t first_block = BlockSize(in.Byte());
  const std::size_t second_block = BlockSize(in.Byte());
  c.reads = in.Byte();
  c.find = in.Bytes(find_length);
  c.replace = in.Bytes(replace_length);
  c.input = in.Rest();

  const Expected expected =
      NaiveRewrite(c.code_page, c.input, c.find, c.replace);
  // Two rewriters share one scratch buffer, as the engine's files do; the
  // second also runs as a dry run does, writing nothing.
  std::vector<char> buffer;
  c.block = first_block;
  Check(c, expected, &buffer, /*dry_run=*/false);
  c.block = second_block;
  Check(c, expected, &buffer, /*dry_run=*/c.reads % 2 == 1);
  return 0;
}

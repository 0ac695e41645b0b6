// Fuzzes the replacement rule, ReplaceAll (the engine's ReplaceText), in
// every code page of the table against the byte-by-byte rule of
// naive_rule.h.
//
// Input: one byte choosing the code page, one byte each for the lengths
// of the find and the replace text (0 to 7), those two texts, and then the
// text to replace in.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/file_steps.h"
#include "fuzz/naive_rule.h"

namespace vs::fuzz {
namespace {

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

[[noreturn]] void Fail(const char* what, int code_page, const std::string& find,
                       const std::string& replace, const std::string& text,
                       const std::string& got, const std::string& expected) {
  std::fprintf(stderr,
               "ReplaceText: %s\n  code page %d\n  find    %s\n  replace %s\n"
               "  text    %s\n  got     %s\n  expected %s\n",
               what, code_page, Escaped(find).c_str(), Escaped(replace).c_str(),
               Escaped(text).c_str(), Escaped(got).c_str(),
               Escaped(expected).c_str());
  std::abort();
}

// The text cut at every LF, each piece replaced on its own (characters
// start afresh after an LF), and joined back.
std::string NaiveReplaceText(int code_page, const std::string& text,
                             const std::string& find,
                             const std::string& replace) {
  std::string out;
  std::size_t start = 0;
  for (;;) {
    std::size_t lf = text.find('\n', start);
    std::size_t end = lf == std::string::npos ? text.size() : lf;
    out += NaiveReplaceLine(
        code_page, std::string_view(text).substr(start, end - start), find,
        replace);
    if (lf == std::string::npos) return out;
    out += '\n';
    start = lf + 1;
  }
}

}  // namespace
}  // namespace vs::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace vs::fuzz;
  InputReader in(data, size);
  const int code_page =
      kCodePages[in.Byte() % (sizeof kCodePages / sizeof *kCodePages)];
  const std::size_t find_length = in.Byte() % 8;
  const std::size_t replace_length = in.Byte() % 8;
  const std::string find = in.Bytes(find_length);
  const std::string replace = in.Bytes(replace_length);
  const std::string text = in.Rest();

  const std::string got =
      vs::ReplaceAll(text, find, replace, vs::CodePage(code_page));

  const std::string expected =
      NaiveReplaceText(code_page, text, find, replace);
  if (got != expected)
    Fail("differs from the plain rule", code_page, find, replace, text, got,
         expected);
  // A text without the find text comes back as it was, byte for byte.
  if ((find.empty() || text.find(find) == std::string::npos) && got != text)
    Fail("changed a text without the find text", code_page, find, replace,
         text, got, text);
  return 0;
}

// How names and entries are shown on a terminal: no byte of them can move
// the cursor or start a line, and what is shown reads back to one text.
#include "cli/terminal_text.h"

#include <gtest/gtest.h>

#include <string>

namespace vs {
namespace {

TEST(TerminalTextTest, EscapesControlBytesAndBackslashes) {
  struct Case {
    std::string text;
    std::string shown;
  };
  const Case cases[] = {
      {"plain name.txt", "plain name.txt"},
      {"", ""},
      // A newline would start a line that looks like an entry.
      {"q\n\tLine 1: r", "q\\n\\tLine 1: r"},
      {std::string("\a\b\t\n\v\f\r", 7), "\\a\\b\\t\\n\\v\\f\\r"},
      // The rest in octal, always three digits.
      {std::string("\0\x01\x1b[2J\x1f\x7f", 8), "\\000\\001\\033[2J\\037\\177"},
      {"back\\slash\\n", "back\\\\slash\\\\n"},
      // UTF-8 and other high bytes are kept.
      {"\xc3\xa9t\xc3\xa9\n", "\xc3\xa9t\xc3\xa9\\n"},
      {"\x80\xff", "\x80\xff"},
  };
  const CodePage single_byte(1252);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    EXPECT_EQ(c.shown, EscapeForTerminal(c.text, single_byte));
    EXPECT_EQ(c.shown, EscapeForTerminal(c.text, CodePage(CodePage::kUtf8)));
  }
}

// In Shift_JIS the second byte of a character may be 0x5C: it is part of
// the character, not a backslash.
TEST(TerminalTextTest, KeepsTheSecondByteOfADoubleByteCharacter) {
  struct Case {
    std::string text;
    std::string shown;
  };
  const Case cases[] = {
      {"\x95\x5c.txt", "\x95\x5c.txt"},          // one character
      {"\x95\x5c\x5c", "\x95\x5c\\\\"},          // then a backslash
      {"\x95\x95\x5c", "\x95\x95\\\\"},          // lead, lead: then alone
      {"\x95\n", "\x95\\n"},                     // never a control byte
      {"\\\x95\x5c", "\\\\\x95\x5c"},
  };
  const CodePage shift_jis(932);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    EXPECT_EQ(c.shown, EscapeForTerminal(c.text, shift_jis));
  }
  // In a single-byte code page the same bytes are two characters.
  EXPECT_EQ("\x95\\\\.txt", EscapeForTerminal("\x95\x5c.txt", CodePage(1252)));
}

}  // namespace
}  // namespace vs

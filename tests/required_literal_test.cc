#include "engine/required_literal.h"

#include <re2/re2.h>

#include <string>

#include <gtest/gtest.h>

namespace vs {
namespace {

struct Case {
  const char* pattern;
  const char* required;
};

// Each expected text must be in every match; "" where none can be told.
const Case kCases[] = {
    {"EXPORT_SYMBOL(_GPL)?\\(", "EXPORT_SYMBOL"},
    {"foo\\.bar", "foo.bar"},
    {"colou?r", "colo"},          // the u may be left out
    {"ab*cdef", "cdef"},          // so may the b
    {"xya+bc", "xya"},            // a repeat ends the run
    {"ab{2,3}cdef", "cdef"},      // a repeat count is no text
    {"[abc]def[gh]i", "def"},     // a class is no plain character
    {"[]x]yz", "yz"},             // a class holding ']'
    {"a.b.cde", "cde"},
    {"^start", "start"},
    {"\\bword\\b", "word"},
    {"\\d+px", "px"},
    {"(?:abc)def", "def"},        // a group's text is not looked into
    {"(?P<n>abc)de", "de"},
    {"abc|def", ""},              // either side matches alone
    {"(?i)abcd", ""},             // flags may fold case
    {"ab(?i:cd)", ""},
    {"\\Qa.b\\E", "a"},           // quoted text: only what is surely plain
    {"caf\xC3\xA9?s", "caf"},     // a character of two bytes, optional
    {"", ""},
};

TEST(RequiredLiteralTest, EveryMatchHoldsWhatIsRequired) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.pattern);
    const std::string required = RequiredLiteral(c.pattern);
    EXPECT_EQ(required, c.required);
    // Checked against the expression itself on texts it matches.
    RE2 re(c.pattern);
    ASSERT_TRUE(re.ok()) << re.error();
    for (const char* text :
         {"EXPORT_SYMBOL(", "EXPORT_SYMBOL_GPL(", "foo.bar", "color",
          "colour", "acdef", "abbbcdef", "xyaaabc", "abbcdef", "bdefgi",
          "]yz", "a-b-cde", "start", "a word here", "12px", "abcdef",
          "abcde", "ABCD", "abCD", "a.b", "cafs", "caf\xC3\xA9s"}) {
      if (RE2::PartialMatch(text, re)) {
        EXPECT_NE(std::string(text).find(required), std::string::npos)
            << text;
      }
    }
  }
}

}  // namespace
}  // namespace vs

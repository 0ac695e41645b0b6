// JSON strings and byte strings as --json writes them.
#include "cli/json_text.h"

#include <gtest/gtest.h>

#include <string>

namespace vs {
namespace {

TEST(JsonTextTest, TellsUtf8FromOtherBytes) {
  const std::pair<std::string, bool> cases[] = {
      {"", true},
      {"plain", true},
      {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", true},  // é € 😀
      {"\xE9", false},                                  // Latin-1 é
      {"\xC3", false},                                  // cut short
      {"\xC0\xAF", false},                              // overlong '/'
      {"\xE0\x80\xAF", false},                          // overlong '/'
      {"\xED\xA0\x80", false},                          // a surrogate
      {"\xF4\x90\x80\x80", false},                      // past U+10FFFF
      {"\xF5\x80\x80\x80", false},
  };
  for (const auto& [text, utf8] : cases) {
    SCOPED_TRACE(testing::PrintToString(text));
    EXPECT_EQ(utf8, IsUtf8(text));
  }
}

TEST(JsonTextTest, EscapesWhatJsonAndTerminalsNeed) {
  const std::pair<std::string, std::string> cases[] = {
      {"a\"b\\c", R"("a\"b\\c")"},
      {std::string("\n\r\t\b\f\x01\x1b\x7f", 8),
       R"("\n\r\t\b\f\u0001\u001b\u007f")"},
      {std::string("\0", 1), R"("\u0000")"},
      {"\xC2\x9B" "x", R"("\u009bx")"},     // C1 CSI
      {"\xC2\xA0\xC3\xA9", "\"\xC2\xA0\xC3\xA9\""},  // kept as they are
      {"/", "\"/\""},
  };
  for (const auto& [text, json] : cases) {
    SCOPED_TRACE(testing::PrintToString(text));
    std::string got;
    AppendJsonString(text, &got);
    EXPECT_EQ(json, got);
  }
  std::string message;
  AppendJsonMessage("a\xE9z", &message);
  EXPECT_EQ("\"a\xEF\xBF\xBDz\"", message);
}

TEST(JsonTextTest, BytesThatAreNoUtf8GoAsBase64) {
  const std::pair<std::string, std::string> cases[] = {
      {"", R"({"text":""})"},
      {"f\xC3\xA9", R"({"text":"fé"})"},
      {"f\xE9", R"({"bytes":"Zuk="})"},
      {"\xFF" "fo", R"({"bytes":"/2Zv"})"},
      {"\xFF" "f", R"({"bytes":"/2Y="})"},
  };
  for (const auto& [bytes, json] : cases) {
    SCOPED_TRACE(testing::PrintToString(bytes));
    std::string got;
    AppendJsonBytes(bytes, &got);
    EXPECT_EQ(json, got);
  }
  // RFC 4648's vectors.
  const std::pair<const char*, const char*> rfc[] = {
      {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
  for (const auto& [bytes, base64] : rfc) EXPECT_EQ(base64, Base64(bytes));
}

}  // namespace
}  // namespace vs

#include "engine/byte_search.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace vs::test {
namespace {

std::string Repeat(const std::string& s, int times) {
  std::string result;
  for (int i = 0; i < times; ++i) result += s;
  return result;
}

constexpr ByteSearch::Method kMethods[] = {ByteSearch::Method::kFastest,
                                           ByteSearch::Method::kScalar,
                                           ByteSearch::Method::kSse2};

// Where `needle` first occurs in `text`, by every method; all must agree
// with std::string_view::find.
void ExpectFound(std::string_view text, std::string_view needle) {
  std::size_t expected = needle.empty() ? std::string_view::npos
                                        : text.find(needle);
  for (ByteSearch::Method method : kMethods) {
    ByteSearch search(needle, method);
    const char* hit = search.Find(text.data(), text.size());
    std::size_t got = hit ? static_cast<std::size_t>(hit - text.data())
                          : std::string_view::npos;
    ASSERT_EQ(got, expected)
        << "method " << static_cast<int>(method) << ", needle \"" << needle
        << "\", text of " << text.size() << " bytes";
  }
}

TEST(ByteSearchTest, Cases) {
  const std::string filler(100, '.');
  const struct {
    std::string text, needle;
  } cases[] = {
      {"", "a"},
      {"abc", ""},
      {"ab", "abc"},                       // needle longer than the text
      {"abc", "abc"},                      // exactly the text
      {"xxabcxx", "abc"},
      {"aaab", "aab"},                     // a false start just before
      {filler + "needle", "needle"},       // in the last, partial vector
      {filler + "needl", "needle"},        // cut off by the end
      {"needle" + filler, "needle"},
      {filler + "zz" + filler + "zzz", "zzz"},  // repeated rare bytes
      {filler + std::string("a\0b", 3), std::string("\0b", 2)},
      {filler + "\xff\xfe" + filler, "\xfe"},
      {filler + "q" + filler + "Q", "Q"},  // one byte
      {filler + "VsAbsentTex" + filler + "VsAbsentText", "VsAbsentText"},
      // A pattern that matches the two rarest bytes everywhere: the
      // search hands over to memmem part-way.
      {Repeat("ab", 20000) + "aa", Repeat("ab", 50) + "aa"},
      {Repeat("ab", 20000), Repeat("ab", 50) + "aa"},
  };
  for (const auto& c : cases) ExpectFound(c.text, c.needle);
}

// Random texts over a few bytes, so near misses are everywhere, searched
// from every offset, so every alignment and tail length is met.
TEST(ByteSearchTest, AgreesWithStringFind) {
  std::mt19937 random(7);
  const char alphabet[] = {'a', 'b', 'e', '\0', '\xff'};
  auto random_string = [&](std::size_t length) {
    std::string s;
    for (std::size_t i = 0; i < length; ++i)
      s += alphabet[random() % sizeof alphabet];
    return s;
  };
  for (int round = 0; round < 300; ++round) {
    std::string text = random_string(random() % 160);
    std::string needle;
    if (!text.empty() && random() % 2) {
      std::size_t at = random() % text.size();
      needle = text.substr(at, 1 + random() % 40);
    } else {
      needle = random_string(1 + random() % 6);
    }
    for (std::size_t from = 0; from <= text.size(); ++from)
      ExpectFound(std::string_view(text).substr(from), needle);
  }
}

}  // namespace
}  // namespace vs::test

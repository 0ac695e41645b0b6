#include "engine/fold_search.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace vs::test {
namespace {

// The first place where `needle` occurs in `text`, ASCII letters in
// either case, found one place at a time.
std::size_t NaiveFind(std::string_view text, std::string_view needle) {
  auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
  };
  if (needle.empty() || text.size() < needle.size()) return std::string_view::npos;
  for (std::size_t at = 0; at + needle.size() <= text.size(); ++at) {
    std::size_t i = 0;
    while (i < needle.size() && lower(text[at + i]) == lower(needle[i])) ++i;
    if (i == needle.size()) return at;
  }
  return std::string_view::npos;
}

constexpr FoldSearch::Method kMethods[] = {FoldSearch::Method::kFastest,
                                           FoldSearch::Method::kScalar,
                                           FoldSearch::Method::kSse2};

// Every method must agree with the plain search.
void ExpectFound(std::string_view text, std::string_view needle) {
  const std::size_t expected = NaiveFind(text, needle);
  for (FoldSearch::Method method : kMethods) {
    const FoldSearch search(needle, method);
    const char* hit = search.Find(text.data(), text.size());
    const std::size_t got = hit ? static_cast<std::size_t>(hit - text.data())
                                : std::string_view::npos;
    ASSERT_EQ(expected, got)
        << "method " << static_cast<int>(method) << ", needle \"" << needle
        << "\", text of " << text.size() << " bytes";
  }
}

std::string Repeat(const std::string& s, int times) {
  std::string result;
  for (int i = 0; i < times; ++i) result += s;
  return result;
}

TEST(FoldSearchTest, Cases) {
  const std::string filler(100, '.');
  const struct {
    std::string text, needle;
  } cases[] = {
      {"", "a"},
      {"abc", ""},
      {filler + "NeEdLe", "needle"},  // in the last, partial vector
      {filler + "NEEDL", "needle"},   // cut off by the end
      {filler + "Q" + filler, "q"},   // one byte
      // A byte that is a letter with its case bit set is no letter:
      // '@' | 0x20 is '`', '[' | 0x20 is '{'.
      {filler + "`x" + filler + "@X", "@x"},
      {filler + "{a" + filler + "[A", "[a"},
      {filler + "\xC9t\xE9" + filler, "\xE9T\xE9"},  // Latin-1: no fold
      // Text that matches the two rarest bytes everywhere: the search
      // hands over to a linear scan part-way, in any case.
      {Repeat("aB", 20000) + "Aa", Repeat("ab", 50) + "aa"},
      {Repeat("Ab", 20000), Repeat("ab", 50) + "aa"},
      {Repeat("x", 5000) + "xY", Repeat("x", 300) + "y"},
  };
  for (const auto& c : cases) ExpectFound(c.text, c.needle);
}

// Random texts over a few bytes in both cases, searched from every
// offset, so every alignment and tail length is met.
TEST(FoldSearchTest, AgreesWithThePlainSearch) {
  std::mt19937 random(11);
  const char alphabet[] = {'a', 'A', 'b', 'B', '@', '`', '\0', '\xff'};
  auto random_string = [&](std::size_t length) {
    std::string s;
    for (std::size_t i = 0; i < length; ++i)
      s += alphabet[random() % sizeof alphabet];
    return s;
  };
  for (int round = 0; round < 300; ++round) {
    const std::string text = random_string(random() % 160);
    std::string needle;
    if (!text.empty() && random() % 2) {
      needle = text.substr(random() % text.size(), 1 + random() % 40);
    } else {
      needle = random_string(1 + random() % 6);
    }
    for (std::size_t from = 0; from <= text.size(); ++from)
      ExpectFound(std::string_view(text).substr(from), needle);
  }
}

}  // namespace
}  // namespace vs::test

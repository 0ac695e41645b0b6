// Finds a byte string in a buffer with ASCII letters matched in either
// case, at close to the speed of ByteSearch: two of the needle's bytes,
// the two least likely in text, are compared a vector of positions at a
// time, a letter with its case bit set on both sides; only where both are
// in place is the whole needle compared. Text that keeps offering false
// candidates is searched by a linear scan instead, so the time stays
// linear in the text whatever the needle.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vs {

class FoldSearch {
 public:
  // The ways to search, all with the same results: the fastest this
  // processor has, or one named (the tests try each).
  enum class Method { kFastest, kScalar, kSse2 };

  // The needle is copied; an empty needle is found nowhere.
  explicit FoldSearch(std::string_view needle,
                      Method method = Method::kFastest);

  // The start of the first place in text[0, length) whose bytes equal the
  // needle's but for the case of ASCII letters, or null.
  const char* Find(const char* text, std::size_t length) const;

  static char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
  }

 private:
  bool EqualAt(const char* p) const;
  // Knuth-Morris-Pratt over lowered bytes: linear whatever the text.
  const char* FindLinear(const char* text, std::size_t length) const;
  // Compares a vector of places at a time; stops short of the end, or
  // where false candidates abound, and says where in `*stop`.
  const char* FindSse2(const char* text, std::size_t length,
                       const char** stop) const;
  const char* FindAvx2(const char* text, std::size_t length,
                       const char** stop) const;
  // Place by place; hands over to FindLinear where false candidates
  // abound.
  const char* FindScalar(const char* text, std::size_t length) const;

  std::string lower_;  // the needle, ASCII letters lowered
  std::vector<std::size_t> border_;  // KMP: longest proper border of each prefix
  std::size_t first_ = 0, second_ = 0;  // offsets of the two rarest bytes
  enum class Loop { kScalar, kSse2, kAvx2 } loop_ = Loop::kScalar;
};

}  // namespace vs

// Finds a byte string in a buffer, at the speed of a pass over the bytes.
//
// Every file of a run is searched, and nearly all of them hold no
// occurrence, so this search is what most of a run's processor time goes
// to. It looks for two of the needle's bytes at once, the two least
// likely in text, each at its own distance from the start, a vector of
// positions at a time; only where both are in place are the whole
// needle's bytes compared.
#pragma once

#include <cstddef>
#include <string_view>

namespace vs {

class ByteSearch {
 public:
  // The ways to search, all with the same results: the fastest this
  // processor has, or one named (the tests try each).
  enum class Method { kFastest, kScalar, kSse2 };

  // `needle` must outlive the search; an empty needle is found nowhere.
  explicit ByteSearch(std::string_view needle,
                      Method method = Method::kFastest);

  // The start of the first occurrence of the needle in text[0, length),
  // or null.
  const char* Find(const char* text, std::size_t length) const;

 private:
  // memchr for the rarest byte, then a compare at each place it is.
  const char* FindScalar(const char* text, std::size_t length) const;

  std::string_view needle_;
  // Offsets in the needle: of its rarest byte, and of the two rarest
  // bytes in order (first < second), for a needle of two bytes or more.
  std::size_t rarest_ = 0;
  std::size_t first_ = 0, second_ = 0;
  enum class Loop { kScalar, kSse2, kAvx2 } loop_ = Loop::kScalar;
};

}  // namespace vs

#include "engine/byte_search.h"

#include <string.h>

#include <array>
#include <cstdint>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VS_X86_VECTORS 1
#include <immintrin.h>
#endif

namespace vs {
namespace {

// How common a byte is in text and source code, roughly: the higher, the
// commoner. Only the order matters, and only for speed.
constexpr std::array<std::uint16_t, 256> kCommonness = [] {
  std::array<std::uint16_t, 256> t{};
  for (int b = 0; b < 256; ++b) t[b] = b >= 0x80 ? 30 : 60;  // the rest
  const char letters[] = "etaoinsrhldcumfpgwybvkxjqz";  // commonest first
  for (int i = 0; letters[i]; ++i) {
    t[static_cast<unsigned char>(letters[i])] = 280 - i * 5;
    t[static_cast<unsigned char>(letters[i] - 'a' + 'A')] = 150 - i * 3;
  }
  for (char d = '0'; d <= '9'; ++d) t[static_cast<unsigned char>(d)] = 140;
  for (const char* p = "_,.;()*=-/\"'{}#<>:[]&+!|\\"; *p; ++p)
    t[static_cast<unsigned char>(*p)] = 145;
  t['\n'] = t['\t'] = 200;
  t[' '] = 300;
  return t;
}();

int Commonness(unsigned char c) { return kCommonness[c]; }

// Text that keeps matching the two bytes but not the needle (a repeated
// pattern) would make every position cost a compare of the whole needle;
// past one false candidate for every 8 bytes, memmem, which is linear
// whatever the text, takes over.
bool TooManyChecks(std::size_t checks, std::ptrdiff_t searched) {
  return checks > 256 + static_cast<std::size_t>(searched) / 8;
}

#if defined(VS_X86_VECTORS)

// Where both bytes are in place for a start among the next 16 or 32
// positions: one bit per position. The loops stop where a vector's
// candidates could reach past the end, and say where in `*stop`.
const char* FindSse2(const char* text, std::size_t length, std::string_view needle,
                     std::size_t first, std::size_t second, const char** stop) {
  const std::size_t n = needle.size();
  const __m128i b1 = _mm_set1_epi8(needle[first]);
  const __m128i b2 = _mm_set1_epi8(needle[second]);
  const char* p = text;
  const char* const end = text + length;
  std::size_t checks = 0;
  for (; static_cast<std::size_t>(end - p) >= n + 15 &&
         !TooManyChecks(checks, p - text);
       p += 16) {
    __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + first));
    __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + second));
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_and_si128(_mm_cmpeq_epi8(v1, b1), _mm_cmpeq_epi8(v2, b2))));
    while (mask) {
      const char* start = p + __builtin_ctz(mask);
      if (memcmp(start, needle.data(), n) == 0) return start;
      ++checks;
      mask &= mask - 1;
    }
  }
  *stop = p;
  return nullptr;
}

__attribute__((target("avx2"))) const char* FindAvx2(
    const char* text, std::size_t length, std::string_view needle,
    std::size_t first, std::size_t second, const char** stop) {
  const std::size_t n = needle.size();
  const __m256i b1 = _mm256_set1_epi8(needle[first]);
  const __m256i b2 = _mm256_set1_epi8(needle[second]);
  const char* p = text;
  const char* const end = text + length;
  std::size_t checks = 0;
  for (; static_cast<std::size_t>(end - p) >= n + 31 &&
         !TooManyChecks(checks, p - text);
       p += 32) {
    __m256i v1 =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + first));
    __m256i v2 =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + second));
    unsigned mask = static_cast<unsigned>(_mm256_movemask_epi8(
        _mm256_and_si256(_mm256_cmpeq_epi8(v1, b1), _mm256_cmpeq_epi8(v2, b2))));
    while (mask) {
      const char* start = p + __builtin_ctz(mask);
      if (memcmp(start, needle.data(), n) == 0) return start;
      ++checks;
      mask &= mask - 1;
    }
  }
  *stop = p;
  return nullptr;
}

#endif  // VS_X86_VECTORS

}  // namespace

ByteSearch::ByteSearch(std::string_view needle, Method method)
    : needle_(needle) {
  if (needle_.size() < 2) return;
  // The rarest byte, then the rarest at another offset; a tie keeps the
  // earlier offset.
  auto rarer = [&](std::size_t a, std::size_t b) {
    return Commonness(static_cast<unsigned char>(needle_[a])) <
           Commonness(static_cast<unsigned char>(needle_[b]));
  };
  std::size_t rarest = 0;
  for (std::size_t i = 1; i < needle_.size(); ++i)
    if (rarer(i, rarest)) rarest = i;
  std::size_t other = rarest == 0 ? 1 : 0;
  for (std::size_t i = 0; i < needle_.size(); ++i)
    if (i != rarest && rarer(i, other)) other = i;
  first_ = rarest < other ? rarest : other;
  second_ = rarest < other ? other : rarest;
#if defined(VS_X86_VECTORS)
  if (method == Method::kSse2) {
    loop_ = Loop::kSse2;  // every x86-64 processor has it
  } else if (method == Method::kFastest) {
    loop_ = __builtin_cpu_supports("avx2") ? Loop::kAvx2 : Loop::kSse2;
  }
#else
  (void)method;
#endif
  rarest_ = rarest;
}

const char* ByteSearch::Find(const char* text, std::size_t length) const {
  const std::size_t n = needle_.size();
  if (n == 0 || length < n) return nullptr;
  if (n == 1) return static_cast<const char*>(memchr(text, needle_[0], length));
  const char* stop = text;
#if defined(VS_X86_VECTORS)
  const char* hit = nullptr;
  if (loop_ == Loop::kAvx2)
    hit = FindAvx2(text, length, needle_, first_, second_, &stop);
  else if (loop_ == Loop::kSse2)
    hit = FindSse2(text, length, needle_, first_, second_, &stop);
  if (hit) return hit;
#endif
  return FindScalar(stop, static_cast<std::size_t>(text + length - stop));
}

const char* ByteSearch::FindScalar(const char* text, std::size_t length) const {
  const std::size_t n = needle_.size();
  if (length < n) return nullptr;
  const char* const last_start = text + (length - n);
  const char rare = needle_[rarest_];
  std::size_t checks = 0;
  for (const char* p = text; p <= last_start;) {
    if (TooManyChecks(checks, p - text)) {
      return static_cast<const char*>(
          memmem(p, static_cast<std::size_t>(text + length - p),
                 needle_.data(), n));
    }
    const void* hit = memchr(p + rarest_, rare,
                             static_cast<std::size_t>(last_start - p) + 1);
    if (!hit) return nullptr;
    const char* start = static_cast<const char*>(hit) - rarest_;
    if (memcmp(start, needle_.data(), n) == 0) return start;
    ++checks;
    p = start + 1;
  }
  return nullptr;
}

}  // namespace vs

#include "engine/fold_search.h"

#include <string.h>

#include <cstdint>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VS_X86_VECTORS 1
#include <immintrin.h>
#endif

namespace vs {
namespace {

bool IsLetter(char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }

// How common a byte is in text and source code, letters of both cases
// counted together, roughly; only the order matters, and only for speed.
int Commonness(char c) {
  static const char kLetters[] = "etaoinsrhldcumfpgwybvkxjqz";
  if (IsLetter(c)) {
    const char* at = strchr(kLetters, c | 0x20);
    return 300 - static_cast<int>(at - kLetters) * 8;
  }
  if (c == ' ') return 400;
  if (c == '\t' || c == '\n') return 250;
  if (c >= '0' && c <= '9') return 140;
  if (static_cast<unsigned char>(c) >= 0x80) return 30;
  return 120;
}

// Past one false candidate for every 8 bytes, the linear scan takes over.
bool TooManyChecks(std::size_t checks, std::ptrdiff_t searched) {
  return checks > 256 + static_cast<std::size_t>(searched) / 8;
}

#if defined(VS_X86_VECTORS)

// The case bit to set in a compared byte: 0x20 for a letter, else 0.
char CaseBit(char c) { return IsLetter(c) ? 0x20 : 0; }

#endif  // VS_X86_VECTORS

}  // namespace

FoldSearch::FoldSearch(std::string_view needle, Method method) {
  lower_.reserve(needle.size());
  for (char c : needle) lower_ += Lower(c);
  const std::size_t n = lower_.size();
  border_.assign(n, 0);
  for (std::size_t i = 1, k = 0; i < n; ++i) {
    while (k > 0 && lower_[i] != lower_[k]) k = border_[k - 1];
    if (lower_[i] == lower_[k]) ++k;
    border_[i] = k;
  }
  if (n < 2) return;
  std::size_t rarest = 0;
  for (std::size_t i = 1; i < n; ++i)
    if (Commonness(lower_[i]) < Commonness(lower_[rarest])) rarest = i;
  std::size_t other = rarest == 0 ? 1 : 0;
  for (std::size_t i = 0; i < n; ++i)
    if (i != rarest && Commonness(lower_[i]) < Commonness(lower_[other]))
      other = i;
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
}

bool FoldSearch::EqualAt(const char* p) const {
  for (std::size_t i = 0; i < lower_.size(); ++i)
    if (Lower(p[i]) != lower_[i]) return false;
  return true;
}

const char* FoldSearch::FindLinear(const char* text,
                                   std::size_t length) const {
  const std::size_t n = lower_.size();
  for (std::size_t i = 0, k = 0; i < length; ++i) {
    const char c = Lower(text[i]);
    while (k > 0 && c != lower_[k]) k = border_[k - 1];
    if (c == lower_[k]) ++k;
    if (k == n) return text + i + 1 - n;
  }
  return nullptr;
}

const char* FoldSearch::FindScalar(const char* text,
                                   std::size_t length) const {
  const std::size_t n = lower_.size();
  if (length < n) return nullptr;
  std::size_t checks = 0;
  const char rare = lower_[first_];
  for (std::size_t at = 0; at + n <= length; ++at) {
    if (Lower(text[at + first_]) != rare) continue;
    if (EqualAt(text + at)) return text + at;
    if (TooManyChecks(++checks, static_cast<std::ptrdiff_t>(at)))
      return FindLinear(text + at + 1, length - at - 1);
  }
  return nullptr;
}

#if defined(VS_X86_VECTORS)

// Where both bytes are in place, their case bit set, for a start among
// the next 16 or 32 positions. Stops where a vector's candidates could
// reach past the end, or where too many candidates were false, and says
// where in `*stop`.
const char* FoldSearch::FindSse2(const char* text, std::size_t length,
                                 const char** stop) const {
  const std::size_t n = lower_.size();
  const char c1 = lower_[first_], c2 = lower_[second_];
  const __m128i bit1 = _mm_set1_epi8(CaseBit(c1));
  const __m128i bit2 = _mm_set1_epi8(CaseBit(c2));
  const __m128i b1 = _mm_set1_epi8(c1), b2 = _mm_set1_epi8(c2);
  const char* p = text;
  const char* const end = text + length;
  std::size_t checks = 0;
  for (; static_cast<std::size_t>(end - p) >= n + 15 &&
         !TooManyChecks(checks, p - text);
       p += 16) {
    __m128i v1 = _mm_or_si128(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + first_)), bit1);
    __m128i v2 = _mm_or_si128(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + second_)), bit2);
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_and_si128(_mm_cmpeq_epi8(v1, b1), _mm_cmpeq_epi8(v2, b2))));
    while (mask) {
      const char* start = p + __builtin_ctz(mask);
      if (EqualAt(start)) return start;
      ++checks;
      mask &= mask - 1;
    }
  }
  *stop = p;
  return nullptr;
}

__attribute__((target("avx2"))) const char* FoldSearch::FindAvx2(
    const char* text, std::size_t length, const char** stop) const {
  const std::size_t n = lower_.size();
  const char c1 = lower_[first_], c2 = lower_[second_];
  const __m256i bit1 = _mm256_set1_epi8(CaseBit(c1));
  const __m256i bit2 = _mm256_set1_epi8(CaseBit(c2));
  const __m256i b1 = _mm256_set1_epi8(c1), b2 = _mm256_set1_epi8(c2);
  const char* p = text;
  const char* const end = text + length;
  std::size_t checks = 0;
  for (; static_cast<std::size_t>(end - p) >= n + 31 &&
         !TooManyChecks(checks, p - text);
       p += 32) {
    __m256i v1 = _mm256_or_si256(
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + first_)),
        bit1);
    __m256i v2 = _mm256_or_si256(
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + second_)),
        bit2);
    unsigned mask = static_cast<unsigned>(_mm256_movemask_epi8(
        _mm256_and_si256(_mm256_cmpeq_epi8(v1, b1), _mm256_cmpeq_epi8(v2, b2))));
    while (mask) {
      const char* start = p + __builtin_ctz(mask);
      if (EqualAt(start)) return start;
      ++checks;
      mask &= mask - 1;
    }
  }
  *stop = p;
  return nullptr;
}

#endif  // VS_X86_VECTORS

const char* FoldSearch::Find(const char* text, std::size_t length) const {
  const std::size_t n = lower_.size();
  if (n == 0 || length < n) return nullptr;
  const char* stop = text;
#if defined(VS_X86_VECTORS)
  const char* hit = nullptr;
  if (n >= 2 && loop_ == Loop::kAvx2)
    hit = FindAvx2(text, length, &stop);
  else if (n >= 2 && loop_ == Loop::kSse2)
    hit = FindSse2(text, length, &stop);
  if (hit) return hit;
#endif
  return FindScalar(stop, static_cast<std::size_t>(text + length - stop));
}

}  // namespace vs

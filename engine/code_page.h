// The character set that matching honours. In a double-byte code page a
// lead byte and the byte after it are one character, and the find text is
// matched only where a character starts; every other code page matches
// byte for byte.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace vs {

class CodePage {
 public:
  static constexpr int kUtf8 = 65001;

  // 932, 936, 949, 950 and 1361 are double-byte; every other number is
  // single-byte. kUtf8 is single-byte for matching, but entries are cut
  // only between UTF-8 characters.
  explicit CodePage(int number = 1252);

  // The code page of the process's locale (after setlocale(LC_ALL, "")):
  // Shift_JIS, GBK, EUC-KR, Big5 and JOHAB map to their double-byte
  // pages, UTF-8 to kUtf8, everything else to 1252.
  static CodePage FromLocale();

  int number() const { return number_; }
  bool double_byte() const { return double_byte_; }
  bool IsLeadByte(unsigned char byte) const { return lead_[byte]; }

  // The length of the longest prefix of `text` of at most `limit` bytes
  // that ends between two characters.
  std::size_t CutLength(std::string_view text, std::size_t limit) const;

 private:
  int number_;
  bool double_byte_ = false;
  std::array<bool, 256> lead_{};
};

}  // namespace vs

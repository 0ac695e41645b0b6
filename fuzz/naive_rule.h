// The replacement rule written the slow, obvious way, byte by byte, for the
// fuzz targets to hold the engine against. It shares no code with the
// engine: the lead bytes are copied from the code page tables, characters
// are counted afresh from the start of every line, and a line is scanned
// one byte at a time.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vs::fuzz {

// The code pages of the table, double-byte ones included.
inline constexpr int kCodePages[] = {1252, 65001, 932, 936, 949, 950, 1361};

// Whether `byte` starts a two-byte character in `code_page`.
inline bool NaiveIsLeadByte(int code_page, unsigned char byte) {
  switch (code_page) {
    case 932:
      return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    case 936:
    case 949:
    case 950:
      return byte >= 0x81 && byte <= 0xFE;
    case 1361:
      return (byte >= 0x81 && byte <= 0xD3) || (byte >= 0xD8 && byte <= 0xDE) ||
             (byte >= 0xE0 && byte <= 0xF9);
    default:
      return false;
  }
}

// starts[i] tells whether a character of `line` (which holds no LF) starts
// at byte i, counting from the line's first byte; a lead byte takes the
// next byte with it. starts[line.size()] is true.
inline std::vector<bool> CharacterStarts(int code_page, std::string_view line) {
  std::vector<bool> starts(line.size() + 1, false);
  std::size_t i = 0;
  while (i < line.size()) {
    starts[i] = true;
    i += NaiveIsLeadByte(code_page, static_cast<unsigned char>(line[i])) ? 2
                                                                          : 1;
  }
  starts[line.size()] = true;
  return starts;
}

// `line` (no LF in it) with every occurrence of `find` that starts where a
// character starts replaced, left to right, without overlap. A find text
// that is empty or holds an LF never matches.
inline std::string NaiveReplaceLine(int code_page, std::string_view line,
                                    std::string_view find,
                                    std::string_view replace) {
  if (find.empty() || find.find('\n') != std::string_view::npos)
    return std::string(line);
  const std::vector<bool> starts = CharacterStarts(code_page, line);
  std::string out;
  std::size_t i = 0;
  while (i < line.size()) {
    if (starts[i] && line.substr(i, find.size()) == find) {
      out += replace;
      i += find.size();
    } else {
      out += line[i];
      ++i;
    }
  }
  return out;
}

// The longest prefix of `entry` of at most `limit` bytes that ends between
// two characters. A UTF-8 character is at most four bytes, so the cut
// looks back at most three continuation bytes (10xxxxxx); a longer run of
// them is no character, and is cut three bytes back.
inline std::size_t NaiveCut(int code_page, std::string_view entry,
                            std::size_t limit) {
  if (entry.size() <= limit) return entry.size();
  std::size_t cut = limit;
  if (code_page == 65001) {
    for (int back = 0; back < 3; ++back) {
      if ((static_cast<unsigned char>(entry[cut]) & 0xC0) != 0x80) break;
      --cut;
    }
    return cut;
  }
  const std::vector<bool> starts = CharacterStarts(code_page, entry);
  while (!starts[cut]) --cut;
  return cut;
}

// Reads a fuzz input front to back.
class InputReader {
 public:
  InputReader(const std::uint8_t* data, std::size_t size)
      : data_(reinterpret_cast<const char*>(data)), size_(size) {}

  // The next byte, or 0 past the end.
  unsigned char Byte() {
    return at_ < size_ ? static_cast<unsigned char>(data_[at_++]) : 0;
  }
  // The next `length` bytes, fewer at the end.
  std::string Bytes(std::size_t length) {
    length = std::min(length, size_ - at_);
    std::string bytes(data_ + at_, length);
    at_ += length;
    return bytes;
  }
  std::string Rest() { return Bytes(size_ - at_); }

 private:
  const char* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

}  // namespace vs::fuzz

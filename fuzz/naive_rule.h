// The replacement rule written the slow, obvious way, byte by byte, for the
// fuzz targets to hold the engine against. It shares no code with the
// engine: the lead bytes are copied from the code page tables, characters
// are counted afresh from the start of every line, and a line is scanned
// one byte at a time.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
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

// The match modes, for the rule below. Regular expressions have a rule of
// their own in the fuzz targets, as they need a regular expression engine.
struct NaiveModes {
  bool ignore_case = false;
  bool whole_word = false;
  bool preserve_case = false;
};

// The non-ASCII UTF-8 characters the modes' rule knows, with their folded
// form and whether they are word characters. Generated UTF-8 text is made
// of ASCII, these, and bytes that are no UTF-8 at all.
struct NaiveUtf8Character {
  const char* bytes;
  const char* folded;
  bool word;
};
inline constexpr NaiveUtf8Character kNaiveUtf8[] = {
    {"\xC3\xA9", "\xC3\xA9", true},      // e with acute
    {"\xC3\x89", "\xC3\xA9", true},      // E with acute
    {"\xE2\x84\xAA", "k", true},         // KELVIN SIGN
    {"\xC5\xBF", "s", true},              // LATIN SMALL LETTER LONG S
    {"\xCC\x81", "\xCC\x81", true},      // COMBINING ACUTE ACCENT
    {"\xE2\x80\x94", "\xE2\x80\x94", false},  // EM DASH
    {"\xD9\xA3", "\xD9\xA3", true},      // ARABIC-INDIC DIGIT THREE
    {"\xCF\x83", "\xCF\x83", true},      // small sigma
    {"\xCE\xA3", "\xCF\x83", true},      // capital sigma
};

// The characters of `line` (which holds no LF) as byte strings: two bytes
// after a lead byte in a double-byte code page; in UTF-8 a character of
// kNaiveUtf8 whole, any other byte on its own.
inline std::vector<std::string> NaiveCharacters(int code_page,
                                                std::string_view line) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while (i < line.size()) {
    std::size_t length = 1;
    if (code_page == 65001) {
      for (const NaiveUtf8Character& c : kNaiveUtf8) {
        if (line.substr(i).substr(0, std::strlen(c.bytes)) == c.bytes) {
          length = std::strlen(c.bytes);
          break;
        }
      }
    } else if (NaiveIsLeadByte(code_page, static_cast<unsigned char>(line[i]))) {
      length = std::min<std::size_t>(2, line.size() - i);
    }
    out.emplace_back(line.substr(i, length));
    i += length;
  }
  return out;
}

inline bool NaiveAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A character as ignoring case compares it.
inline std::string NaiveFolded(int code_page, const std::string& c) {
  if (c.size() == 1 && c[0] >= 'A' && c[0] <= 'Z')
    return std::string(1, static_cast<char>(c[0] - 'A' + 'a'));
  if (code_page == 65001) {
    for (const NaiveUtf8Character& u : kNaiveUtf8)
      if (c == u.bytes) return u.folded;
  }
  return c;
}

inline bool NaiveIsWord(int code_page, const std::string& c) {
  if (c.size() == 1) {
    const unsigned char b = static_cast<unsigned char>(c[0]);
    if (NaiveAsciiLetter(c[0]) || (b >= '0' && b <= '9') || b == '_')
      return true;
    // A byte of no UTF-8 character is taken for a letter of another
    // charset; elsewhere only ASCII counts.
    return code_page == 65001 && b >= 0x80;
  }
  if (code_page == 65001) {
    for (const NaiveUtf8Character& u : kNaiveUtf8)
      if (c == u.bytes) return u.word;
  }
  return false;  // a double-byte character
}

// `replacement` in the case shape of `match`: ASCII letters only.
inline std::string NaiveShaped(const std::string& match,
                               const std::string& replacement) {
  std::string letters;
  for (char c : match)
    if (NaiveAsciiLetter(c)) letters += c;
  auto all = [&](bool upper) {
    for (char c : letters)
      if ((c >= 'A' && c <= 'Z') != upper) return false;
    return true;
  };
  auto cased = [](char c, bool upper) {
    if (!NaiveAsciiLetter(c)) return c;
    return static_cast<char>(upper ? (c & ~0x20) : (c | 0x20));
  };
  std::string out;
  if (letters.empty()) return replacement;
  if (all(false)) {
    for (char c : replacement) out += cased(c, false);
  } else if (letters[0] >= 'A' && letters[0] <= 'Z' &&
             letters.substr(1).find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ") ==
                 std::string::npos) {
    bool first = true;
    for (char c : replacement) {
      out += cased(c, first);
      if (NaiveAsciiLetter(c)) first = false;
    }
  } else if (all(true)) {
    for (char c : replacement) out += cased(c, true);
  } else {
    return replacement;
  }
  return out;
}

// `line` (no LF in it) with every match of `find` under `modes` replaced,
// left to right, without overlap, a match starting only where a
// character starts. Ignoring case, ASCII letters that stand as characters
// of their own fold (and in UTF-8 the characters of kNaiveUtf8); a
// whole word has no word character right before or after it and does not
// end inside a character. A find text that is empty or holds an LF never
// matches.
inline std::string NaiveReplaceLineModes(int code_page, std::string_view line,
                                         std::string_view find,
                                         std::string_view replace,
                                         const NaiveModes& modes) {
  if (find.empty() || find.find('\n') != std::string_view::npos)
    return std::string(line);
  const std::vector<std::string> chars = NaiveCharacters(code_page, line);
  // Where each character starts in the line.
  std::vector<std::size_t> at(chars.size() + 1, 0);
  for (std::size_t k = 0; k < chars.size(); ++k)
    at[k + 1] = at[k] + chars[k].size();
  const std::vector<std::string> find_chars =
      NaiveCharacters(code_page, find);
  const bool fold_each_char = code_page == 65001;
  // The length in bytes of a match at character k, or 0.
  auto match_at = [&](std::size_t k) -> std::size_t {
    if (fold_each_char) {
      // Character for character.
      if (k + find_chars.size() > chars.size()) return 0;
      for (std::size_t j = 0; j < find_chars.size(); ++j) {
        const bool same =
            modes.ignore_case
                ? NaiveFolded(code_page, chars[k + j]) ==
                      NaiveFolded(code_page, find_chars[j])
                : chars[k + j] == find_chars[j];
        if (!same) return 0;
      }
      return at[k + find_chars.size()] - at[k];
    }
    // Byte for byte, folding the find text's one-byte letters.
    const std::size_t start = at[k];
    if (line.size() - start < find.size()) return 0;
    std::size_t j = 0;
    for (const std::string& fc : find_chars) {
      for (std::size_t b = 0; b < fc.size(); ++b, ++j) {
        const char t = line[start + j];
        const bool same = modes.ignore_case && fc.size() == 1 &&
                                  NaiveAsciiLetter(fc[0])
                              ? (t | 0x20) == (fc[0] | 0x20) &&
                                    NaiveAsciiLetter(t)
                              : t == fc[b];
        if (!same) return 0;
      }
    }
    return find.size();
  };
  std::string out;
  std::size_t k = 0;
  while (k < chars.size()) {
    const std::size_t length = match_at(k);
    std::size_t end_char = k;
    bool ok = length > 0;
    if (ok) {
      while (end_char < chars.size() && at[end_char] < at[k] + length)
        ++end_char;
      if (modes.whole_word) {
        ok = at[end_char] == at[k] + length &&
             (k == 0 || !NaiveIsWord(code_page, chars[k - 1])) &&
             (end_char == chars.size() ||
              !NaiveIsWord(code_page, chars[end_char]));
      }
    }
    if (!ok) {
      out += chars[k++];
      continue;
    }
    const std::string match(line.substr(at[k], length));
    out += modes.preserve_case ? NaiveShaped(match, std::string(replace))
                               : std::string(replace);
    if (at[end_char] == at[k] + length) {
      k = end_char;
    } else {
      // The match ends inside a character (a find text ending in a lead
      // byte): the rest of that character is text.
      out += line.substr(at[k] + length, at[end_char] - at[k] - length);
      k = end_char;
    }
  }
  return out;
}

// A file's text rewritten by `replace_line` (a line's text, without its
// line end, to its new text), with the entries a rewrite makes.
struct NaiveRewritten {
  std::string text;
  std::vector<std::string> entries;  // "Line N: new text", cut
  bool binary = false;               // holds a NUL or a 0x1A byte
};

// Lines end at an LF; a CR right before it belongs to the line end, any
// other CR is text. Each line is replaced on its own and keeps its end.
template <typename ReplaceLine>
NaiveRewritten NaiveRewriteLines(int code_page, const std::string& input,
                                 ReplaceLine replace_line) {
  NaiveRewritten out;
  out.binary = input.find('\0') != std::string::npos ||
               input.find('\x1A') != std::string::npos;
  std::size_t start = 0;
  for (unsigned long long number = 1;; ++number) {
    const std::size_t lf = input.find('\n', start);
    const std::size_t end = lf == std::string::npos ? input.size() : lf;
    std::size_t text_end = end;
    if (lf != std::string::npos && end > start && input[end - 1] == '\r')
      --text_end;
    const std::string line = input.substr(start, text_end - start);
    const std::string new_line = replace_line(line);
    if (new_line != line) {
      std::string entry = "Line " + std::to_string(number) + ": " + new_line;
      entry.resize(NaiveCut(code_page, entry, 1023));
      out.entries.push_back(entry);
    }
    out.text += new_line;
    out.text += input.substr(text_end, end - text_end);
    if (lf == std::string::npos) return out;
    out.text += '\n';
    start = lf + 1;
  }
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

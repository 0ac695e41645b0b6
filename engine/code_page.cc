#include "engine/code_page.h"

#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <cctype>
#include <string>

namespace vs {
namespace {

struct Range {
  unsigned char first, last;
};

void MarkLeadBytes(std::array<bool, 256>* lead,
                   std::initializer_list<Range> ranges) {
  for (Range r : ranges)
    for (int b = r.first; b <= r.last; ++b) (*lead)[b] = true;
}

// "Shift_JIS" -> "SHIFTJIS", so spellings of one charset compare equal.
std::string Normalised(const char* name) {
  std::string out;
  for (const char* p = name; *p; ++p)
    if (std::isalnum(static_cast<unsigned char>(*p)))
      out += static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
  return out;
}

int NumberForCharset(const std::string& charset) {
  static const struct {
    const char* name;
    int number;
  } kCharsets[] = {
      {"UTF8", CodePage::kUtf8}, {"SHIFTJIS", 932}, {"SJIS", 932},
      {"CP932", 932},            {"WINDOWS31J", 932}, {"GBK", 936},
      {"GB2312", 936},           {"CP936", 936},    {"EUCCN", 936},
      {"EUCKR", 949},            {"CP949", 949},    {"UHC", 949},
      {"BIG5", 950},             {"CP950", 950},    {"BIG5HKSCS", 950},
      {"JOHAB", 1361},           {"CP1361", 1361},
  };
  for (const auto& c : kCharsets)
    if (charset == c.name) return c.number;
  return 1252;
}

}  // namespace

CodePage::CodePage(int number) : number_(number) {
  switch (number) {
    case 932:
      MarkLeadBytes(&lead_, {{0x81, 0x9F}, {0xE0, 0xFC}});
      break;
    case 936:
    case 949:
    case 950:
      MarkLeadBytes(&lead_, {{0x81, 0xFE}});
      break;
    case 1361:
      MarkLeadBytes(&lead_, {{0x81, 0xD3}, {0xD8, 0xDE}, {0xE0, 0xF9}});
      break;
    default:
      return;
  }
  double_byte_ = true;
}

CodePage CodePage::FromLocale() {
  // A private locale object, so learning the charset leaves the process's
  // own locale alone.
  locale_t locale = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
  if (locale == static_cast<locale_t>(0)) return CodePage();
  int number = NumberForCharset(Normalised(nl_langinfo_l(CODESET, locale)));
  freelocale(locale);
  return CodePage(number);
}

std::size_t CodePage::CutLength(std::string_view text,
                                std::size_t limit) const {
  if (text.size() <= limit) return text.size();
  if (double_byte_) {
    std::size_t i = 0;
    while (i < limit) {
      std::size_t step = IsLeadByte(text[i]) ? 2 : 1;
      if (i + step > limit) break;
      i += step;
    }
    return i;
  }
  std::size_t cut = limit;
  if (number_ == kUtf8) {
    // Back off over continuation bytes (10xxxxxx) to a character start;
    // a UTF-8 character has at most three of them.
    for (int k = 0; k < 3 && cut > 0 &&
                    (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80;
         ++k)
      --cut;
  }
  return cut;
}

}  // namespace vs

#include "engine/line_pattern.h"

#include "engine/case_shape.h"
#include "engine/folded_literal.h"
#include "engine/matcher.h"
#include "engine/regex_pattern.h"

namespace vs {
namespace {

bool IsMetacharacter(char c) {
  return std::string_view("\\.+*?()|[]{}^$").find(c) != std::string_view::npos;
}

bool IsAsciiPunctuation(char c) {
  return c > ' ' && c < 0x7F && !((c | 0x20) >= 'a' && (c | 0x20) <= 'z') &&
         !(c >= '0' && c <= '9');
}

// Whether the regular expression `pattern` matches one text only, and
// which one in `*text`: no metacharacter but those a backslash takes as
// they are ("\." is a dot). A double-byte character is taken whole, so
// that its second byte is never read as a metacharacter.
bool LiteralOf(const std::string& pattern, const CodePage& code_page,
               std::string* text) {
  text->clear();
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (code_page.double_byte() &&
        code_page.IsLeadByte(static_cast<unsigned char>(c)) &&
        i + 1 < pattern.size()) {
      text->append(pattern, i, 2);
      ++i;
    } else if (c == '\\' && i + 1 < pattern.size() &&
               IsAsciiPunctuation(pattern[i + 1])) {
      *text += pattern[++i];
    } else if (IsMetacharacter(c)) {
      return false;
    } else {
      *text += c;
    }
  }
  return true;
}

// The replacement of a pattern that matches `find` only, as a plain text:
// "$$" is a dollar, "$0" and "${0}" the match. False when it names
// anything else: the pattern's own way reports that.
bool PlainReplacement(const std::string& replace, const std::string& find,
                      std::string* text) {
  text->clear();
  for (std::size_t i = 0; i < replace.size(); ++i) {
    if (replace[i] != '$') {
      *text += replace[i];
    } else if (replace.compare(i, 2, "$$") == 0) {
      *text += '$';
      ++i;
    } else if (replace.compare(i, 4, "${0}") == 0) {
      *text += find;
      i += 3;
    } else if (replace.compare(i, 2, "$0") == 0 &&
               (i + 2 >= replace.size() || replace[i + 2] < '0' ||
                replace[i + 2] > '9')) {
      *text += find;
      ++i;
    } else {
      return false;
    }
  }
  return true;
}

// Whether `text` is well-formed UTF-8: no stray continuation byte, no
// sequence cut short, too long, over U+10FFFF or a surrogate.
bool IsUtf8(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    std::size_t length;
    unsigned min;
    unsigned code;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      length = 2, min = 0x80, code = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3, min = 0x800, code = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4, min = 0x10000, code = c & 0x07;
    } else {
      return false;
    }
    if (text.size() - i < length) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const unsigned char t = static_cast<unsigned char>(text[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      code = code << 6 | (t & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
      return false;
    i += length;
  }
  return true;
}

}  // namespace

void LinePattern::AppendReplacement(std::string_view line,
                                    const MatchState& state,
                                    std::string* out) const {
  if (!preserve_case_) return Expand(line, state, out);
  std::string typed;
  Expand(line, state, &typed);
  AppendShaped(ShapeOf(line.substr(state.begin, state.end - state.begin)),
               typed, out);
}

bool ReplaceInLine(const LinePattern& pattern, std::string_view line,
                   MatchState* state, std::string* out) {
  const std::size_t start = out->size();
  std::size_t copied = 0;
  for (std::size_t from = 0;
       from <= line.size() && pattern.Find(line, from, state);
       from = state->end) {
    out->append(line.data() + copied, state->begin - copied);
    pattern.AppendReplacement(line, *state, out);
    copied = state->end;
  }
  if (copied == 0 && out->size() == start) return false;  // no match
  out->append(line.data() + copied, line.size() - copied);
  return out->compare(start, std::string::npos, line.data(), line.size()) != 0;
}

MatchPlan PlanMatching(const std::string& find, const std::string& replace,
                       const MatchModes& given, const CodePage& code_page) {
  MatchPlan plan;
  plan.find = find;
  plan.replace = replace;
  MatchModes modes = given;
  if (modes.preserve_case && !modes.ignore_case) {
    plan.error = "preserving case works only together with ignoring case";
    return plan;
  }
  if (modes.regex) {
    std::string text, plain;
    // A pattern that is a plain text takes the plain text's way, the
    // literal one when no other mode is on.
    if (LiteralOf(find, code_page, &text) &&
        PlainReplacement(replace, text, &plain)) {
      // Ignoring case, "$0" is the match as found, not the text typed.
      const bool uses_match = replace.find("$0") != std::string::npos ||
                              replace.find("${0}") != std::string::npos;
      if (!(uses_match && modes.ignore_case)) {
        plan.find = text;
        plan.replace = plain;
        modes.regex = false;
      }
    }
    if (modes.regex && code_page.double_byte()) {
      std::string error;
      if (!RegexPattern::Make(find, replace, modes, CodePage(1252), &error)) {
        plan.error = error;
      } else {
        plan.error = "code page " + std::to_string(code_page.number()) +
                     " is double-byte: a regular expression could match "
                     "from inside a character, so only a pattern without "
                     "metacharacters (a plain text) can be used in it";
      }
      return plan;
    }
  }
  if (Matcher::NeverMatches(plan.find)) return plan;  // nothing changes
  if (modes.regex) {
    plan.pattern =
        RegexPattern::Make(plan.find, plan.replace, modes, code_page, &plan.error);
  } else if (!modes.ignore_case && !modes.whole_word) {
    // The literal way.
  } else if (code_page.number() == CodePage::kUtf8) {
    if (!IsUtf8(plan.find)) {
      plan.error = "the find text is not valid UTF-8, which ignoring case "
                   "and whole words need in the UTF-8 code page";
      return plan;
    }
    plan.pattern =
        RegexPattern::Make(plan.find, plan.replace, modes, code_page, &plan.error);
  } else {
    plan.pattern = std::make_unique<FoldedLiteral>(plan.find, plan.replace,
                                                   modes, code_page);
  }
  return plan;
}

std::string MatchingError(const RunSettings& settings) {
  return PlanMatching(settings.find, settings.replace, settings.modes,
                      settings.code_page)
      .error;
}

}  // namespace vs

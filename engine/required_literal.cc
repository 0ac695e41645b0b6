#include "engine/required_literal.h"

#include <cctype>
#include <cstddef>

namespace vs {
namespace {

// The index just past the class that opens at `at` ('['), or npos when it
// does not close.
std::size_t ClassEnd(const std::string& pattern, std::size_t at) {
  std::size_t i = at + 1;
  if (i < pattern.size() && pattern[i] == '^') ++i;
  if (i < pattern.size() && pattern[i] == ']') ++i;  // a ']' as a member
  while (i < pattern.size()) {
    if (pattern[i] == '\\') {
      i += 2;
    } else if (pattern.compare(i, 2, "[:") == 0) {
      std::size_t end = pattern.find(":]", i + 2);
      if (end == std::string::npos) return std::string::npos;
      i = end + 2;
    } else if (pattern[i] == ']') {
      return i + 1;
    } else {
      ++i;
    }
  }
  return std::string::npos;
}

bool IsQuantifier(char c) {
  return c == '*' || c == '?' || c == '+' || c == '{';
}

}  // namespace

std::string RequiredLiteral(const std::string& pattern) {
  // Either side of an alternation may match without the other's text, and
  // a flag may turn case folding on for the rest.
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '\\') {
      ++i;
    } else if (pattern[i] == '|' ||
               (pattern[i] == '(' && i + 1 < pattern.size() &&
                pattern[i + 1] == '?' &&
                pattern.compare(i, 3, "(?:") != 0 &&
                pattern.compare(i, 4, "(?P<") != 0)) {
      return std::string();
    }
  }

  std::string best, run;
  auto end_run = [&] {
    if (run.size() > best.size()) best = run;
    run.clear();
  };
  int depth = 0;
  for (std::size_t i = 0; i < pattern.size();) {
    const char c = pattern[i];
    // A plain character, one byte of it, or none.
    bool literal = false;
    char byte = 0;
    std::size_t next = i + 1;
    if (c == '\\') {
      if (i + 1 >= pattern.size()) return std::string();
      const char escaped = pattern[i + 1];
      next = i + 2;
      // \( \. \\ and their kin are the character itself; \w, \d, \x41,
      // \Q...\E and the like are more than one, or not plain.
      const auto u = static_cast<unsigned char>(escaped);
      if (u < 0x80 && !std::isalnum(u)) {
        literal = true;
        byte = escaped;
      }
    } else if (c == '[') {
      next = ClassEnd(pattern, i);
      if (next == std::string::npos) return std::string();
    } else if (c == '(') {
      ++depth;
    } else if (c == ')') {
      --depth;
    } else if (c == '{') {
      // A repeat count "{2}", "{2,}", "{2,5}": not characters to look for.
      std::size_t close = pattern.find('}', i);
      if (close != std::string::npos &&
          pattern.find_first_not_of("0123456789,", i + 1) == close)
        next = close + 1;
    } else if (c == '.' || c == '^' || c == '$' || IsQuantifier(c) ||
               static_cast<unsigned char>(c) >= 0x80) {
      // A byte of a character of several bytes is left out with them:
      // a quantifier after it would stand for the whole character.
    } else {
      literal = true;
      byte = c;
    }

    const bool quantified = next < pattern.size() && IsQuantifier(pattern[next]);
    if (depth == 0 && literal) {
      // "a*", "a?", "a{0,2}" may leave the character out; "a+" holds it
      // once at least, but the run cannot go on past its repeats.
      const bool optional = quantified && pattern[next] != '+';
      if (!optional) run.push_back(byte);
      if (quantified) end_run();
    } else {
      end_run();
    }
    i = next;
  }
  end_run();
  return best;
}

}  // namespace vs

// A text that every match of a regular expression holds, so that a search
// can look for those bytes first, as fast as for a plain find text, and
// hand only the lines holding them to the expression.
#pragma once

#include <string>

namespace vs {

// The longest run of plain characters that every match of `pattern` (RE2
// syntax, case-sensitive) holds, byte for byte; empty where none can be
// told. Only the top level is looked at: what is inside a group, a class,
// or under a quantifier that allows it to be left out is not required.
// A pattern with an alternation or with flags anywhere gives none.
std::string RequiredLiteral(const std::string& pattern);

}  // namespace vs

#include "engine/case_shape.h"

namespace vs {
namespace {

bool IsUpper(char c) { return c >= 'A' && c <= 'Z'; }
bool IsLower(char c) { return c >= 'a' && c <= 'z'; }
char ToUpper(char c) { return IsLower(c) ? static_cast<char>(c - 32) : c; }
char ToLower(char c) { return IsUpper(c) ? static_cast<char>(c + 32) : c; }

}  // namespace

CaseShape ShapeOf(std::string_view match) {
  int letters = 0, upper = 0;
  bool first_upper = false;
  for (char c : match) {
    if (!IsUpper(c) && !IsLower(c)) continue;
    if (letters == 0) first_upper = IsUpper(c);
    ++letters;
    if (IsUpper(c)) ++upper;
  }
  if (letters == 0) return CaseShape::kAsTyped;
  if (upper == 0) return CaseShape::kLower;
  if (first_upper && upper == 1) return CaseShape::kCapitalized;
  if (upper == letters) return CaseShape::kUpper;
  return CaseShape::kAsTyped;
}

void AppendShaped(CaseShape shape, std::string_view replacement,
                  std::string* out) {
  bool first = true;
  for (char c : replacement) {
    switch (shape) {
      case CaseShape::kAsTyped:
        break;
      case CaseShape::kLower:
        c = ToLower(c);
        break;
      case CaseShape::kUpper:
        c = ToUpper(c);
        break;
      case CaseShape::kCapitalized:
        if (IsUpper(c) || IsLower(c)) {
          c = first ? ToUpper(c) : ToLower(c);
          first = false;
        }
        break;
    }
    out->push_back(c);
  }
}

}  // namespace vs

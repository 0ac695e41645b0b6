#include "engine/file_names.h"

#include <limits.h>

namespace vs {

namespace {

constexpr char kTemporaryPrefix[] = ".vellumshaper-";
constexpr std::size_t kTemporaryPrefixLength = sizeof kTemporaryPrefix - 1;
constexpr char kTemporarySuffix[] = ".tmp";
constexpr std::size_t kTemporarySuffixLength = sizeof kTemporarySuffix - 1;

}  // namespace

std::string TemporaryName(const std::string& name, int attempt) {
  const std::string suffix =
      attempt == 0 ? kTemporarySuffix
                   : "." + std::to_string(attempt) + kTemporarySuffix;
  return kTemporaryPrefix +
         name.substr(0, NAME_MAX - kTemporaryPrefixLength - suffix.size()) +
         suffix;
}

bool IsTemporaryName(const std::string& name) {
  // Most names are ruled out by their first byte.
  return !name.empty() && name[0] == '.' &&
         name.size() >= kTemporaryPrefixLength + kTemporarySuffixLength &&
         name.compare(0, kTemporaryPrefixLength, kTemporaryPrefix) == 0 &&
         name.compare(name.size() - kTemporarySuffixLength,
                      kTemporarySuffixLength, kTemporarySuffix) == 0;
}

std::string RefusalOf(const std::string& name) {
  if (name.empty() || name == "." || name == ".." ||
      name.find('/') != std::string::npos)
    return "not a valid file name";
  if (name.size() > NAME_MAX) return "File name too long";
  return "";
}

bool IsVersionControlName(const std::string& name) {
  // Most names are ruled out by their first byte.
  switch (name.empty() ? '\0' : name[0]) {
    case '.':
      return name == ".git" || name == ".hg" || name == ".svn" ||
             name == ".bzr";
    case '_':
      return name == "_darcs";
    case 'C':
      return name == "CVS";
    default:
      return false;
  }
}

bool IsVersionControlEntry(const std::string& name, bool folder) {
  return IsVersionControlName(name) && (folder || name == ".git");
}

}  // namespace vs

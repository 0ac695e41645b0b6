#include "engine/file_names.h"

#include <limits.h>

namespace vs {

std::string TemporaryName(const std::string& name, int attempt) {
  const std::string suffix =
      attempt == 0 ? ".tmp" : "." + std::to_string(attempt) + ".tmp";
  return name.substr(0, NAME_MAX - suffix.size()) + suffix;
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

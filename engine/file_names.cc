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

}  // namespace vs

#include "engine/path_filter.h"

#include <fnmatch.h>

namespace vs {
namespace {

constexpr char kAnyFolders[] = "**";

// Why `name`, one '/'-free part of `glob`, is no pattern; "" when it is.
// fnmatch itself takes anything, so what it would quietly match as
// written rather than as meant is refused here.
std::string ProblemOfName(const std::string& name) {
  if (name.empty()) return "it holds an empty name (\"//\")";
  if (name == "." || name == "..")
    return "it holds a '" + name + "' name; anchor it with a leading '/'";
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name[i] == '\\') {
      if (++i == name.size()) return "it ends in an escaping '\\'";
    } else if (name[i] == '[') {
      std::size_t end = i + 1;
      if (end < name.size() && (name[end] == '!' || name[end] == '^')) ++end;
      if (end < name.size() && name[end] == ']') ++end;  // a literal ']'
      while (end < name.size() && name[end] != ']') ++end;
      if (end == name.size()) return "its '[' has no ']' in the same name";
      i = end;
    }
  }
  return "";
}

bool NameMatches(const std::string& pattern, const char* name) {
  return fnmatch(pattern.c_str(), name, FNM_PATHNAME) == 0;
}

// Whether names[n...] matches the path names path[p...]; a "**" takes
// any number of them, none included.
bool NamesMatch(const std::vector<std::string>& names, std::size_t n,
                const std::vector<const char*>& path, std::size_t p) {
  for (; n < names.size(); ++n, ++p) {
    if (names[n] == kAnyFolders) {
      for (std::size_t rest = p; rest <= path.size(); ++rest) {
        if (NamesMatch(names, n + 1, path, rest)) return true;
      }
      return false;
    }
    if (p == path.size() || !NameMatches(names[n], path[p])) return false;
  }
  return p == path.size();
}

}  // namespace

bool PathFilter::Compile(const std::string& text, Glob* glob,
                         std::string* error) {
  std::string problem;
  std::string body = text;
  glob->folders_only = !body.empty() && body.back() == '/';
  if (glob->folders_only) body.pop_back();
  glob->whole_path = body.find('/') != std::string::npos;
  if (!body.empty() && body.front() == '/') body.erase(0, 1);
  if (text.empty()) {
    problem = "it is empty";
  } else if (text.front() == '!') {
    problem = "'!' does not negate here (use --include); write '\\!' for "
              "a name that starts with '!'";
  } else if (body.empty()) {
    problem = "it names no path";
  }
  for (std::size_t start = 0; problem.empty() && start <= body.size();) {
    std::size_t slash = body.find('/', start);
    if (slash == std::string::npos) slash = body.size();
    glob->names.push_back(body.substr(start, slash - start));
    problem = ProblemOfName(glob->names.back());
    start = slash + 1;
  }
  if (!problem.empty()) {
    *error = "bad glob '" + text + "': " + problem;
    return false;
  }
  // Everything below a folder: the folder itself, as far as what a run
  // takes goes, and a folder matched is never entered.
  if (glob->names.size() > 1 && glob->names.back() == kAnyFolders) {
    glob->names.pop_back();
    glob->folders_only = true;
  }
  return true;
}

bool PathFilter::Exclude(const std::string& glob, std::string* error) {
  Glob compiled;
  if (!Compile(glob, &compiled, error)) return false;
  excludes_.push_back(std::move(compiled));
  return true;
}

bool PathFilter::Include(const std::string& glob, std::string* error) {
  Glob compiled;
  if (!Compile(glob, &compiled, error)) return false;
  includes_.push_back(std::move(compiled));
  return true;
}

bool PathFilter::AnyMatches(const std::vector<Glob>& globs,
                            const std::string& path, bool folder) {
  const std::size_t last_slash = path.rfind('/');
  const char* last_name =
      path.c_str() + (last_slash == std::string::npos ? 0 : last_slash + 1);
  // Split only when a whole-path glob needs it: each name ends in a NUL
  // of its own, where fnmatch wants it.
  std::string split;
  std::vector<const char*> names;
  for (const Glob& glob : globs) {
    if (glob.folders_only && !folder) continue;
    if (!glob.whole_path) {
      if (NameMatches(glob.names.front(), last_name)) return true;
      continue;
    }
    if (names.empty()) {
      split = path;
      names.push_back(split.c_str());
      for (char& c : split) {
        if (c != '/') continue;
        c = '\0';
        names.push_back(&c + 1);
      }
    }
    if (NamesMatch(glob.names, 0, names, 0)) return true;
  }
  return false;
}

bool PathFilter::Excludes(const std::string& path, bool folder) const {
  return AnyMatches(excludes_, path, folder);
}

bool PathFilter::Includes(const std::string& path, bool folder) const {
  return AnyMatches(includes_, path, folder);
}

bool PathFilter::TakesFile(const std::string& path) const {
  bool included = !has_includes();
  for (std::size_t slash = path.find('/'); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    const std::string folder = path.substr(0, slash);
    if (Excludes(folder, true)) return false;
    included = included || Includes(folder, true);
  }
  if (Excludes(path, false)) return false;
  return included || Includes(path, false);
}

}  // namespace vs

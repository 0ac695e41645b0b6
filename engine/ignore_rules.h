// Paths a front end wants a run to leave alone, by rules the engine does
// not know (version control's ignore files, say). The engine only asks;
// where the rules come from, and how they are read, is the front end's.
#pragma once

#include <string>

namespace vs {

class IgnoreRules {
 public:
  virtual ~IgnoreRules() = default;

  // Whether the run leaves alone the entry `path` of the tree, a folder
  // when `folder` is set: an ignored folder is never entered, an ignored
  // file never read, rewritten or renamed. `path` is relative to the base
  // folder, its names joined by '/' ("src/main.c"). The walk asks once
  // for each entry of each folder it lists, and only after it has asked
  // for (and kept) the folder itself; it never asks of what lies below an
  // ignored folder. Called from many threads at once.
  virtual bool Ignores(const std::string& path, bool folder) = 0;
};

}  // namespace vs

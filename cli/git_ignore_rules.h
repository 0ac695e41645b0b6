// What git ignores in a tree, as rules a run leaves alone: the .gitignore
// files (those in the folders above the base folder too), the
// repository's info/exclude and the user's global excludes file
// (core.excludesFile; by default $XDG_CONFIG_HOME/git/ignore), read by
// libgit2 and matched against each path relative to the top of its
// repository.
//
// A path is ignored as git ignores it: the rules match it, or a folder
// above it, and git tracks nothing of it (a tracked file, or a folder
// holding one, is never ignored, whatever the rules say). A folder below
// the base folder with a `.git` of its own is a repository of its own:
// what lies in it follows its rules, not those of the repository around
// it. Outside every repository nothing is ignored. Names ".git" are
// never ignored here: whether a run walks version control's own folders
// is RunSettings::include_vcs's to say.
//
// Where the rules cannot be worked out for a path (an unreadable
// .gitignore, say), the path is left alone and the failure kept for
// problems(): a run never works on what may be ignored.
//
// libgit2's objects are not safe to use on many threads at once, and a
// run asks from its helper threads: every call holds one lock.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/ignore_rules.h"
#include "engine/mutex.h"
#include "engine/thread_annotations.h"

namespace vs {

class GitIgnoreRules final : public IgnoreRules {
 public:
  // The rules for the tree at `base_dir`. Null, with `*error` saying why
  // in one line, when the repository that holds it cannot be read.
  static std::shared_ptr<GitIgnoreRules> ForTree(const std::string& base_dir,
                                                 std::string* error);
  ~GitIgnoreRules() override;
  GitIgnoreRules(const GitIgnoreRules&) = delete;
  GitIgnoreRules& operator=(const GitIgnoreRules&) = delete;

  bool Ignores(const std::string& path, bool folder) override
      EXCLUDES(mutex_);

  // Whether the base folder lies in a repository.
  bool in_repository() const { return root_ != nullptr; }

  // What could not be worked out so far, one line each, in the order
  // met: "cannot tell whether PATH is ignored: REASON (left alone)", or
  // "cannot read the git repository PATH: REASON (left alone)" for a
  // nested one. Those paths were taken as ignored.
  std::vector<std::string> problems() const EXCLUDES(mutex_);

 private:
  struct Repository;

  GitIgnoreRules(std::string base_dir, std::string real_base);
  // `path`, relative to the base folder, as the run shows paths.
  std::string Shown(const std::string& path) const;
  // The repository that holds the entries of `folder` (relative to the
  // base folder, "" for the base itself); null for none. Learnt once for
  // each folder: opening a repository costs far more than a lookup.
  Repository* RepositoryOf(const std::string& folder) REQUIRES(mutex_);
  // Opens the repository whose top is `folder`, found to hold a ".git";
  // null when it is no repository after all.
  Repository* OpenNested(const std::string& folder) REQUIRES(mutex_);

  const std::string base_dir_;   // as given
  const std::string real_base_;  // the same, links resolved
  Repository* root_ = nullptr;   // set before the rules are shared

  mutable Mutex mutex_;
  std::vector<std::unique_ptr<Repository>> repositories_ GUARDED_BY(mutex_);
  std::map<std::string, Repository*> repository_of_ GUARDED_BY(mutex_);
  std::vector<std::string> problems_ GUARDED_BY(mutex_);
};

}  // namespace vs

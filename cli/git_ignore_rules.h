// What git ignores in a tree, as rules a run leaves alone: the .gitignore
// files (those in the folders above the base folder too), the
// repository's info/exclude and the user's excludes file
// (core.excludesFile; by default $XDG_CONFIG_HOME/git/ignore, or
// ~/.config/git/ignore), each path matched from the top of its
// repository. libgit2 finds the repository and reads its index and
// configuration; the patterns are IgnorePatterns.
//
// A path is ignored as git ignores it: the last pattern that matches it
// says so, a deeper .gitignore having more say than one above it, then
// info/exclude, then the excludes file; or a folder above it is ignored.
// A file git tracks, or a folder holding one, is never ignored, whatever
// the patterns say (what else lies in an ignored folder stays ignored). A
// folder below the base folder with a `.git` of its own is a repository
// of its own: what lies in it follows its rules, not those of the
// repository around it. Outside every repository nothing is ignored. The
// name ".git" is never ignored here: whether a run walks version
// control's own folders is RunSettings::include_vcs's to say.
//
// Where the rules of a folder cannot be read (an unreadable .gitignore, a
// nested repository that cannot be opened), all the folder holds that git
// does not track is taken as ignored, and the failure is kept for
// problems(): a run never works on what may be ignored.
//
// Safe on many threads: the rules of each folder are built once, under a
// lock (libgit2's objects are used there only), and matched outside it.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cli/ignore_patterns.h"
#include "engine/ignore_rules.h"
#include "engine/mutex.h"
#include "engine/thread_annotations.h"

namespace vs {

class GitIgnoreRules final : public IgnoreRules {
 public:
  // The rules for the tree at `base_dir`. Null, with `*error` saying why
  // in one line, when the repository that holds it, or an ignore file
  // that applies to all of it, cannot be read.
  static std::shared_ptr<GitIgnoreRules> ForTree(const std::string& base_dir,
                                                 std::string* error);
  ~GitIgnoreRules() override;
  GitIgnoreRules(const GitIgnoreRules&) = delete;
  GitIgnoreRules& operator=(const GitIgnoreRules&) = delete;

  bool Ignores(const std::string& path, bool folder) override EXCLUDES(mutex_);

  // What could not be read so far, one line each, in the order met, each
  // ending in "(left alone)".
  std::vector<std::string> problems() const EXCLUDES(mutex_);

 private:
  struct Repository;
  struct FolderRules;

  // Opens the repository that holds `real_folder`, looking in the
  // folders above when `search`, and reads what the rules need of it into
  // `*repository` and `*top` (its working tree, links resolved). False,
  // with `*error`, when it cannot be read; `*found` false for none, and,
  // without `search`, for a ".git" that opens no repository.
  static bool OpenRepository(const std::string& real_folder, bool search,
                             Repository* repository, std::string* top,
                             bool* found, std::string* error);
  // Whether the patterns that apply in the folder `rules` ignore `path`
  // (from the top of its repository): the folder's own .gitignore first,
  // then those above it, then info/exclude, then the excludes file.
  static bool PatternsIgnore(const FolderRules& rules, const std::string& path,
                             bool folder);

  GitIgnoreRules(std::string base_dir, std::string real_base);
  // `path`, relative to the base folder, as the run shows paths.
  std::string Shown(const std::string& path) const;
  // The rules of the entries of `folder` (relative to the base folder,
  // "" for the base itself). Built once for each folder.
  std::shared_ptr<const FolderRules> RulesOf(const std::string& folder)
      REQUIRES(mutex_);
  // The rules of the subfolder `name`, at `real_folder`, of the folder
  // whose rules are `parent`.
  std::shared_ptr<const FolderRules> Subfolder(
      const std::shared_ptr<const FolderRules>& parent, const std::string& name,
      const std::string& real_folder) REQUIRES(mutex_);
  // The rules at the top of the repository at `folder` (from the base
  // folder), found to hold a ".git"; null when it is no repository.
  std::shared_ptr<const FolderRules> NestedTop(const std::string& folder)
      REQUIRES(mutex_);
  // The patterns of the .gitignore in `real_folder`; false, with a
  // problem kept, when it is there but cannot be read.
  bool ReadGitignore(const std::string& real_folder, const Repository& in,
                     const std::string& shown, IgnorePatterns* patterns)
      REQUIRES(mutex_);

  const std::string base_dir_;   // as given
  const std::string real_base_;  // the same, links resolved

  mutable Mutex mutex_;
  std::vector<std::unique_ptr<Repository>> repositories_ GUARDED_BY(mutex_);
  std::map<std::string, std::shared_ptr<const FolderRules>> rules_of_
      GUARDED_BY(mutex_);
  std::vector<std::string> problems_ GUARDED_BY(mutex_);
};

}  // namespace vs

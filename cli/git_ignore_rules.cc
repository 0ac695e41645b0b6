#include "cli/git_ignore_rules.h"

#include <git2.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace vs {
namespace {

std::string LastGitError() {
  const git_error* error = git_error_last();
  return error && error->message ? error->message : "unknown error";
}

// `path` with every link resolved; "" when it cannot be.
std::string RealPath(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  if (!real) return "";
  std::string result(real);
  std::free(real);
  return result;
}

// The folder of `path`, "" for a name of the base folder.
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

bool HasGitName(const std::string& path) {
  const std::string slashed = "/" + path + "/";
  return slashed.find("/.git/") != std::string::npos;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

struct GitIgnoreRules::Repository {
  ~Repository() { git_repository_free(repo); }

  // Opens the repository that holds `real_folder`, looking upwards when
  // `search`; false with `*error` for none, or none that can be read.
  bool Open(const std::string& real_folder, bool search, bool* found,
            std::string* error);
  // Whether git tracks `path` (relative to the top): the file, or, for a
  // folder, something below it or a repository nested there.
  bool Tracks(const std::string& path, bool folder) const;

  git_repository* repo = nullptr;
  // A path relative to the base folder is relative to the top once
  // its first `skip` bytes are dropped and `prefix` is put before it.
  std::size_t skip = 0;
  std::string prefix;
  std::vector<std::string> tracked;  // the index's paths, sorted
};

bool GitIgnoreRules::Repository::Open(const std::string& real_folder,
                                      bool search, bool* found,
                                      std::string* error) {
  *found = false;
  const unsigned flags = search ? 0 : GIT_REPOSITORY_OPEN_NO_SEARCH;
  const int opened =
      git_repository_open_ext(&repo, real_folder.c_str(), flags, nullptr);
  if (opened == GIT_ENOTFOUND) return true;
  if (opened < 0) {
    *error = LastGitError();
    return false;
  }
  // A bare repository has no files to ignore.
  const char* workdir = git_repository_workdir(repo);
  if (!workdir) return true;
  const std::string top = RealPath(workdir);
  if (top == real_folder) {
    prefix.clear();
  } else if (!top.empty() && StartsWith(real_folder, top + "/")) {
    prefix = real_folder.substr(top.size() + 1) + "/";
  } else {
    return true;  // the folder is not in its working tree after all
  }
  git_index* index = nullptr;
  if (git_repository_index(&index, repo) < 0) {
    *error = LastGitError();
    return false;
  }
  const std::size_t count = git_index_entrycount(index);
  tracked.reserve(count);
  for (std::size_t i = 0; i < count; ++i)
    tracked.emplace_back(git_index_get_byindex(index, i)->path);
  git_index_free(index);
  std::sort(tracked.begin(), tracked.end());
  *found = true;
  return true;
}

bool GitIgnoreRules::Repository::Tracks(const std::string& path,
                                        bool folder) const {
  // A nested repository a superproject tracks is one entry of its name.
  if (std::binary_search(tracked.begin(), tracked.end(), path)) return true;
  if (!folder) return false;
  const std::string below = path + "/";
  const auto next = std::lower_bound(tracked.begin(), tracked.end(), below);
  return next != tracked.end() && StartsWith(*next, below);
}

GitIgnoreRules::GitIgnoreRules(std::string base_dir, std::string real_base)
    : base_dir_(std::move(base_dir)), real_base_(std::move(real_base)) {
  git_libgit2_init();
}

GitIgnoreRules::~GitIgnoreRules() {
  {
    MutexLock lock(&mutex_);
    repositories_.clear();
  }
  git_libgit2_shutdown();
}

std::shared_ptr<GitIgnoreRules> GitIgnoreRules::ForTree(
    const std::string& base_dir, std::string* error) {
  // A base folder that cannot be resolved cannot be walked either: the
  // run says why, and there is nothing to ignore.
  std::shared_ptr<GitIgnoreRules> rules(
      new GitIgnoreRules(base_dir, RealPath(base_dir)));
  if (rules->real_base_.empty()) return rules;
  auto root = std::make_unique<Repository>();
  bool found = false;
  std::string reason;
  if (!root->Open(rules->real_base_, /*search=*/true, &found, &reason)) {
    *error = "cannot read the git repository of " + base_dir + ": " + reason;
    return nullptr;
  }
  MutexLock lock(&rules->mutex_);
  if (found) {
    rules->root_ = root.get();
    rules->repositories_.push_back(std::move(root));
  }
  rules->repository_of_.emplace("", rules->root_);
  return rules;
}

GitIgnoreRules::Repository* GitIgnoreRules::OpenNested(
    const std::string& folder) {
  auto nested = std::make_unique<Repository>();
  bool found = false;
  std::string reason;
  if (!nested->Open(real_base_ + "/" + folder, /*search=*/false, &found,
                    &reason)) {
    // What it ignores cannot be told: all it holds is left alone.
    problems_.push_back("cannot read the git repository " + Shown(folder) +
                        ": " + reason + " (left alone)");
    git_repository_free(nested->repo);
    nested->repo = nullptr;
  } else if (!found) {
    return nullptr;
  }
  nested->skip = folder.size() + 1;
  Repository* opened = nested.get();
  repositories_.push_back(std::move(nested));
  return opened;
}

GitIgnoreRules::Repository* GitIgnoreRules::RepositoryOf(
    const std::string& folder) {
  const auto known = repository_of_.find(folder);
  if (known != repository_of_.end()) return known->second;
  // The walk asks of a folder's entries only after the folder itself,
  // so its parent is known and this goes one level up.
  Repository* repository = RepositoryOf(FolderOf(folder));
  struct stat info;
  const std::string dot_git = real_base_ + "/" + folder + "/.git";
  if (lstat(dot_git.c_str(), &info) == 0) {
    if (Repository* nested = OpenNested(folder)) repository = nested;
  }
  repository_of_.emplace(folder, repository);
  return repository;
}

bool GitIgnoreRules::Ignores(const std::string& path, bool folder) {
  MutexLock lock(&mutex_);
  Repository* repository = RepositoryOf(FolderOf(path));
  if (!repository) return false;
  if (!repository->repo) return true;  // could not be read: left alone
  const std::string in_repository =
      repository->prefix + path.substr(repository->skip);
  if (HasGitName(in_repository)) return false;
  if (repository->Tracks(in_repository, folder)) return false;
  int ignored = 0;
  const std::string asked = folder ? in_repository + "/" : in_repository;
  if (git_ignore_path_is_ignored(&ignored, repository->repo, asked.c_str()) <
      0) {
    problems_.push_back("cannot tell whether " + Shown(path) +
                        " is ignored: " + LastGitError() + " (left alone)");
    return true;
  }
  return ignored != 0;
}

std::string GitIgnoreRules::Shown(const std::string& path) const {
  return base_dir_ + "/" + path;
}

std::vector<std::string> GitIgnoreRules::problems() const {
  MutexLock lock(&mutex_);
  return problems_;
}

}  // namespace vs

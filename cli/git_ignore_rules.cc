#include "cli/git_ignore_rules.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "cli/git_library.h"

namespace vs {
namespace {

// libgit2, which ForTree loads before anything else calls it.
const GitLibrary& Git() { return *GitLibrary::Load(nullptr); }

std::string LastGitError() {
  const git_error* error = Git().error_last();
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

std::string Join(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + '/' + name;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// Reads the regular file `path` whole into `*text`; 0, or the errno of
// the failure. Anything but a regular file (a FIFO would block) reads as
// missing; so does a link, unless `follow_link`.
int ReadFile(const std::string& path, bool follow_link, std::string* text) {
  const int flags =
      O_RDONLY | O_CLOEXEC | O_NONBLOCK | (follow_link ? 0 : O_NOFOLLOW);
  const int fd = open(path.c_str(), flags);
  if (fd < 0) return errno;
  struct stat info;
  int error = fstat(fd, &info) == 0 ? 0 : errno;
  if (!error && !S_ISREG(info.st_mode)) error = ENOENT;
  char buffer[16384];
  while (!error) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got == 0) break;
    if (got > 0) {
      text->append(buffer, static_cast<std::size_t>(got));
    } else if (errno != EINTR) {
      error = errno;
    }
  }
  close(fd);
  return error;
}

// Whether `error`, from reading an ignore file, means there is none.
bool NoSuchFile(int error) {
  // A .gitignore that is a link is not followed, as git does not.
  return error == ENOENT || error == ENOTDIR || error == ELOOP;
}

// Where git looks for the user's excludes file when core.excludesFile
// is not set; "" for nowhere.
std::string DefaultExcludesFile() {
  const char* config_home = std::getenv("XDG_CONFIG_HOME");
  if (config_home && *config_home)
    return std::string(config_home) + "/git/ignore";
  const char* home = std::getenv("HOME");
  if (home && *home) return std::string(home) + "/.config/git/ignore";
  return "";
}

}  // namespace

// What the rules need of one repository, read when it is opened; never
// changed after.
struct GitIgnoreRules::Repository {
  // Whether git tracks `path` (from the top): the file, or, for a
  // folder, something below it or a repository nested there.
  bool Tracks(const std::string& path, bool folder) const {
    if (std::binary_search(tracked.begin(), tracked.end(), path)) return true;
    if (!folder) return false;
    const std::string below = path + "/";
    const auto next = std::lower_bound(tracked.begin(), tracked.end(), below);
    return next != tracked.end() && StartsWith(*next, below);
  }

  std::vector<std::string> tracked;  // the index's paths, sorted
  bool ignore_case = false;          // core.ignoreCase
  IgnorePatterns exclude;            // info/exclude
  IgnorePatterns excludes_file;      // core.excludesFile
};

// The rules of one folder's entries. Never changed once shared.
struct GitIgnoreRules::FolderRules {
  const Repository* repository = nullptr;  // null: outside every one
  std::string in_repository;  // the folder from the top; "" for the top
  std::shared_ptr<const FolderRules> parent;  // null at the top
  IgnorePatterns patterns;                    // its .gitignore
  // All it holds that git does not track is ignored: the folder is, or
  // its rules could not be read.
  bool ignored = false;
  bool in_git_folder = false;  // in a folder named .git
};

bool GitIgnoreRules::OpenRepository(const std::string& real_folder, bool search,
                                    Repository* repository, std::string* top,
                                    bool* found, std::string* error) {
  *found = false;
  git_repository* repo = nullptr;
  const unsigned flags = search ? 0 : GIT_REPOSITORY_OPEN_NO_SEARCH;
  const int opened =
      Git().repository_open_ext(&repo, real_folder.c_str(), flags, nullptr);
  // A folder below whose ".git" opens no repository (a malformed .git
  // file, say) is an ordinary folder, as for git; the repository that
  // holds the base folder must open, as git would refuse to work there.
  if (opened == GIT_ENOTFOUND || (opened < 0 && !search)) return true;
  if (opened < 0) {
    *error = LastGitError();
    return false;
  }
  // Freed on every way out; a bare repository has no files to ignore.
  std::unique_ptr<git_repository, void (*)(git_repository*)> owner(
      repo, Git().repository_free);
  const char* workdir = Git().repository_workdir(repo);
  if (!workdir) return true;
  *top = RealPath(workdir);

  git_index* index = nullptr;
  if (Git().repository_index(&index, repo) < 0) {
    *error = LastGitError();
    return false;
  }
  const std::size_t count = Git().index_entrycount(index);
  repository->tracked.reserve(count);
  for (std::size_t i = 0; i < count; ++i)
    repository->tracked.emplace_back(Git().index_get_byindex(index, i)->path);
  Git().index_free(index);
  std::sort(repository->tracked.begin(), repository->tracked.end());

  git_config* config = nullptr;
  if (Git().repository_config_snapshot(&config, repo) < 0) {
    *error = LastGitError();
    return false;
  }
  int ignore_case = 0;
  if (Git().config_get_bool(&ignore_case, config, "core.ignorecase") == 0)
    repository->ignore_case = ignore_case != 0;
  git_buf excludes_path = GIT_BUF_INIT;
  std::string excludes_file = DefaultExcludesFile();
  if (Git().config_get_path(&excludes_path, config, "core.excludesfile") == 0)
    excludes_file = excludes_path.ptr;
  Git().buf_dispose(&excludes_path);
  Git().config_free(config);

  const std::string exclude =
      std::string(Git().repository_commondir(repo)) + "info/exclude";
  for (const auto& [path, patterns] :
       {std::pair{exclude, &repository->exclude},
        std::pair{excludes_file, &repository->excludes_file}}) {
    if (path.empty()) continue;
    std::string text;
    const int read_error = ReadFile(path, /*follow_link=*/true, &text);
    if (read_error && !NoSuchFile(read_error)) {
      *error = "cannot read " + path + ": " + std::strerror(read_error);
      return false;
    }
    *patterns = IgnorePatterns::Parse(text, repository->ignore_case);
  }
  *found = true;
  return true;
}

bool GitIgnoreRules::PatternsIgnore(const FolderRules& rules,
                                    const std::string& path, bool folder) {
  using Verdict = IgnorePatterns::Verdict;
  for (const FolderRules* in = &rules; in; in = in->parent.get()) {
    const std::size_t start =
        in->in_repository.empty() ? 0 : in->in_repository.size() + 1;
    const Verdict verdict = in->patterns.Match(path, start, folder);
    if (verdict != Verdict::kNone) return verdict == Verdict::kIgnored;
  }
  for (const IgnorePatterns* patterns :
       {&rules.repository->exclude, &rules.repository->excludes_file}) {
    const Verdict verdict = patterns->Match(path, 0, folder);
    if (verdict != Verdict::kNone) return verdict == Verdict::kIgnored;
  }
  return false;
}

GitIgnoreRules::GitIgnoreRules(std::string base_dir, std::string real_base)
    : base_dir_(std::move(base_dir)), real_base_(std::move(real_base)) {
  Git().libgit2_init();
}

GitIgnoreRules::~GitIgnoreRules() { Git().libgit2_shutdown(); }

std::string GitIgnoreRules::Shown(const std::string& path) const {
  return path.empty() ? base_dir_ : base_dir_ + "/" + path;
}

std::vector<std::string> GitIgnoreRules::problems() const {
  MutexLock lock(&mutex_);
  return problems_;
}

std::shared_ptr<GitIgnoreRules> GitIgnoreRules::ForTree(
    const std::string& base_dir, std::string* error) {
  std::string why;
  if (!GitLibrary::Load(&why)) {
    *error = "cannot read git's ignore rules: " + why;
    return nullptr;
  }
  std::shared_ptr<GitIgnoreRules> rules(
      new GitIgnoreRules(base_dir, RealPath(base_dir)));
  MutexLock lock(&rules->mutex_);
  auto outside = std::make_shared<const FolderRules>();
  rules->rules_of_[""] = outside;
  // A base folder that cannot be resolved cannot be walked either: the
  // run says why.
  if (rules->real_base_.empty()) return rules;
  auto repository = std::make_unique<Repository>();
  std::string top, reason;
  bool found = false;
  if (!OpenRepository(rules->real_base_, /*search=*/true, repository.get(),
                      &top, &found, &reason)) {
    *error = "cannot read the git repository of " + base_dir + ": " + reason;
    return nullptr;
  }
  std::string base_in_top;
  if (!found || top.empty()) return rules;
  if (rules->real_base_ != top) {
    if (!StartsWith(rules->real_base_, top + "/")) return rules;
    base_in_top = rules->real_base_.substr(top.size() + 1);
  }
  // The rules of the top, then of each folder down to the base.
  auto top_rules = std::make_shared<FolderRules>();
  top_rules->repository = repository.get();
  rules->repositories_.push_back(std::move(repository));
  if (!rules->ReadGitignore(top, *top_rules->repository, top,
                            &top_rules->patterns))
    top_rules->ignored = true;
  std::shared_ptr<const FolderRules> folder_rules = top_rules;
  std::string real_folder = top;
  for (std::size_t start = 0; start < base_in_top.size();) {
    std::size_t slash = base_in_top.find('/', start);
    if (slash == std::string::npos) slash = base_in_top.size();
    const std::string name = base_in_top.substr(start, slash - start);
    real_folder += "/" + name;
    folder_rules = rules->Subfolder(folder_rules, name, real_folder);
    start = slash + 1;
  }
  rules->rules_of_[""] = folder_rules;
  return rules;
}

bool GitIgnoreRules::ReadGitignore(const std::string& real_folder,
                                   const Repository& in,
                                   const std::string& shown,
                                   IgnorePatterns* patterns) {
  std::string text;
  const int error = ReadFile(real_folder + "/.gitignore", false, &text);
  if (!error) {
    *patterns = IgnorePatterns::Parse(text, in.ignore_case);
    return true;
  }
  if (NoSuchFile(error)) return true;
  problems_.push_back("cannot read " + shown +
                      "/.gitignore: " + std::strerror(error) + " (left alone)");
  return false;
}

std::shared_ptr<const GitIgnoreRules::FolderRules> GitIgnoreRules::Subfolder(
    const std::shared_ptr<const FolderRules>& parent, const std::string& name,
    const std::string& real_folder) {
  auto rules = std::make_shared<FolderRules>();
  rules->repository = parent->repository;
  rules->in_repository = Join(parent->in_repository, name);
  rules->parent = parent;
  rules->in_git_folder = parent->in_git_folder || name == ".git";
  // Entered though ignored: it holds something git tracks, or lies
  // above the base folder.
  rules->ignored =
      parent->ignored || PatternsIgnore(*parent, rules->in_repository, true);
  if (!rules->ignored && !ReadGitignore(real_folder, *rules->repository,
                                        real_folder, &rules->patterns))
    rules->ignored = true;
  return rules;
}

std::shared_ptr<const GitIgnoreRules::FolderRules> GitIgnoreRules::NestedTop(
    const std::string& folder) {
  const std::string real_folder = real_base_ + "/" + folder;
  auto repository = std::make_unique<Repository>();
  auto rules = std::make_shared<FolderRules>();
  rules->repository = repository.get();
  std::string top, reason;
  bool found = false;
  if (!OpenRepository(real_folder, /*search=*/false, repository.get(), &top,
                      &found, &reason)) {
    // What it ignores cannot be told, nor what it tracks: all it holds
    // is left alone.
    problems_.push_back("cannot read the git repository " + Shown(folder) +
                        ": " + reason + " (left alone)");
    repository->tracked.clear();
    rules->ignored = true;
  } else if (!found || top != real_folder) {
    return nullptr;  // a ".git" that makes no repository of it
  } else if (!ReadGitignore(real_folder, *repository, Shown(folder),
                            &rules->patterns)) {
    rules->ignored = true;
  }
  repositories_.push_back(std::move(repository));
  return rules;
}

std::shared_ptr<const GitIgnoreRules::FolderRules> GitIgnoreRules::RulesOf(
    const std::string& folder) {
  const auto known = rules_of_.find(folder);
  if (known != rules_of_.end()) return known->second;
  // The walk asks of a folder's entries only after the folder itself,
  // so its parent is known and this goes one level up.
  std::shared_ptr<const FolderRules> parent = RulesOf(FolderOf(folder));
  const std::string real_folder = real_base_ + "/" + folder;
  std::shared_ptr<const FolderRules> rules;
  struct stat info;
  if (lstat((real_folder + "/.git").c_str(), &info) == 0)
    rules = NestedTop(folder);
  if (!rules && !parent->repository) rules = parent;
  if (!rules) {
    const std::size_t slash = folder.rfind('/');
    rules = Subfolder(
        parent, slash == std::string::npos ? folder : folder.substr(slash + 1),
        real_folder);
  }
  rules_of_.emplace(folder, rules);
  return rules;
}

bool GitIgnoreRules::Ignores(const std::string& path, bool folder) {
  std::shared_ptr<const FolderRules> rules;
  {
    MutexLock lock(&mutex_);
    rules = RulesOf(FolderOf(path));
  }
  if (!rules->repository || rules->in_git_folder) return false;
  const std::size_t slash = path.rfind('/');
  const std::string name =
      slash == std::string::npos ? path : path.substr(slash + 1);
  if (name == ".git") return false;
  const std::string in_repository = Join(rules->in_repository, name);
  if (rules->repository->Tracks(in_repository, folder)) return false;
  return rules->ignored || PatternsIgnore(*rules, in_repository, folder);
}

}  // namespace vs

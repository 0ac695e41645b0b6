// --gitignore: a run leaves alone what git itself ignores. Trees are made
// with git, and what the run works on is compared with what git says.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/git_ignore_rules.h"
#include "cli/ignore_patterns.h"
#include "tests/fault_file_system.h"
#include "tests/temp_folder.h"
#include "tests/test_engine.h"

namespace vs::test {
namespace {

using Paths = std::set<std::string>;

// Runs `command` in a shell, `input` on its standard input if given; its
// standard output, and whether it exited 0.
bool Shell(const std::string& command, std::string* output = nullptr,
           const std::string& input = "") {
  std::string full = command;
  TempFolder scratch;
  if (!input.empty()) {
    scratch.Write("input", input);
    full += " <'" + scratch.Path("input") + "'";
  }
  std::FILE* pipe = popen((full + " 2>&1").c_str(), "r");
  if (!pipe) return false;
  std::string text;
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
    text.append(buffer, got);
  const int status = pclose(pipe);
  if (output) *output = text;
  return status == 0;
}

Paths Lines(const std::string& text, char end = '\n') {
  Paths lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line, end);)
    if (!line.empty()) lines.insert(line);
  return lines;
}

bool HasGit() { return Shell("git --version"); }

// A home of its own for git and the program, so that no excludes file
// or configuration of the machine's user comes in.
class GitIgnoreTest : public ::testing::Test {
 protected:
  std::string Env() const {
    // A UTF-8 locale, where a name's bytes are not its characters.
    return "LC_ALL=C.UTF-8 GIT_CONFIG_NOSYSTEM=1 HOME='" + home.path() +
           "' XDG_CONFIG_HOME='" + home.Path("xdg") + "' ";
  }
  // Runs git with `args` in the folder `folder` of the tree.
  std::string Git(const std::string& args, const std::string& folder = "",
                  const std::string& input = "") {
    std::string out;
    const std::string where = folder.empty() ? tree.path() : tree.Path(folder);
    EXPECT_TRUE(Shell(Env() + "git -C '" + where + "' " + args, &out, input))
        << args << ": " << out;
    return out;
  }
  // The files a dry run with --gitignore over the folder `base` of the
  // tree would change, relative to `base`: those that it works on, as
  // every file holds the find text.
  Paths WorkedOn(const std::string& base) {
    const std::string base_path = base.empty() ? tree.path() : tree.Path(base);
    std::string out;
    EXPECT_TRUE(Shell(Env() +
                          "'" VS_CLI_PATH "' --gitignore --dry-run "
                          "--no-names -f old -r new '" +
                          base_path + "'",
                      &out))
        << out;
    Paths files;
    for (const std::string& line : Lines(out)) {
      if (line[0] == '\t') continue;
      EXPECT_EQ(0u, line.find(base_path + "/")) << line;
      files.insert(line.substr(base_path.size() + 1));
    }
    return files;
  }
  // Every file of the tree but version control's own.
  Paths AllFiles() {
    Paths files;
    for (const auto& [path, what] : tree.Snapshot()) {
      if (what == "<dir>" ||
          ("/" + path + "/").find("/.git/") != std::string::npos)
        continue;
      files.insert(path);
    }
    return files;
  }

  TempFolder home;
  TempFolder tree;
};

// Ignore files at every level, with negations, folder-only, anchored and
// "**" patterns, info/exclude, the global excludes file, files tracked
// though a pattern matches them, and a repository nested inside: the run
// works on exactly the files git does not ignore, whichever folder of
// the repository it starts in.
TEST_F(GitIgnoreTest, WorksOnExactlyWhatGitDoesNotIgnore) {
  if (!HasGit()) GTEST_SKIP() << "git is not installed";
  Git("init -q");
  // Each starts with a comment that holds the find text: the run works
  // on the ignore files too, as git does not ignore them.
  tree.Write(".gitignore",
             "# old build output\n"
             "*.log\n"
             "!keep.log\n"
             "build/\n"
             "/anchored.txt\n"
             "docs/**/*.tmp\n"
             "\\#hash.txt\n"
             "trailing.txt   \n"
             "cache/**\n"
             "!cache/wanted.txt\n"
             "out\n"
             "vendor/\n"
             "!vendor/keep.txt\n"
             "/?.md\n");
  tree.Write("sub/.gitignore",
             "# old\n*.txt\r\n!/sub-keep.txt\n!important.log\n"
             "/deep/skip/\n");
  tree.Write("sub/deep/.gitignore", "#old\n!*.txt\n");
  tree.Write(".git/info/exclude", "secret*\n");
  home.Write("xdg/git/ignore", "*.bak\n");
  for (const char* file : {"a.txt",
                           "a.log",
                           "keep.log",
                           "sub/keep.log",
                           "sub/b.log",
                           "sub/important.log",
                           "anchored.txt",
                           "x/anchored.txt",
                           "build/x.o",
                           "sub/build/y.o",
                           "other/build",
                           "docs/a/b/c.tmp",
                           "docs/c.tmp",
                           "x/docs/c.tmp",
                           "#hash.txt",
                           "trailing.txt",
                           "cache/a.txt",
                           "cache/wanted.txt",
                           "cache/deeper/b.txt",
                           "out",
                           "x/out/f.txt",
                           "sub/sub-keep.txt",
                           "sub/other.txt",
                           "sub/deep/d.txt",
                           "sub/deep/skip/e.md",
                           "sub/x/deep/skip/e.md",
                           "secret.md",
                           "sub/secret2.md",
                           "z.bak",
                           "sub/z.bak",
                           "tracked.log",
                           "build/tracked.c",
                           "vendor/keep.txt",
                           "vendor/lib.c",
                           "nested/a.log",
                           "nested/n.md",
                           "nested/n.bak",
                           "nested/secret.txt",
                           "nested/in/m.md",
                           "\xC3\xA9.md",
                           "e.md"})
    tree.Write(file, "old\n");
  tree.Write("nested/.gitignore", "# old\n*.md\n");
  Git("init -q", "nested");
  Git("add -f tracked.log build/tracked.c");

  // What git ignores: in the repository, and in the one nested in it.
  Paths ignored =
      Lines(Git("ls-files -z --others --ignored --exclude-standard"), '\0');
  for (const std::string& path :
       Lines(Git("ls-files -z --others --ignored --exclude-standard", "nested"),
             '\0'))
    ignored.insert("nested/" + path);
  // The tree holds each kind of case: not a comparison of empty sets.
  for (const char* path :
       {"a.log", "build/x.o", "sub/build/y.o", "cache/a.txt", "z.bak",
        "secret.md", "sub/other.txt", "sub/deep/skip/e.md", "vendor/lib.c",
        "vendor/keep.txt", "nested/n.md", "nested/n.bak", "#hash.txt",
        "trailing.txt", "out", "x/out/f.txt", "e.md"})
    EXPECT_EQ(1u, ignored.count(path)) << path;
  for (const char* path :
       {"keep.log", "sub/important.log", "x/anchored.txt", "x/docs/c.tmp",
        "cache/wanted.txt", "sub/sub-keep.txt", "sub/deep/d.txt", "tracked.log",
        "build/tracked.c", "nested/a.log", "nested/secret.txt", "\xC3\xA9.md"})
    EXPECT_EQ(0u, ignored.count(path)) << path;

  const Paths all = AllFiles();
  for (const std::string base : {"", "sub", "sub/deep", "nested", "x"}) {
    SCOPED_TRACE("base: " + base);
    const std::string prefix = base.empty() ? "" : base + "/";
    Paths expected;
    for (const std::string& path : all)
      if (path.compare(0, prefix.size(), prefix) == 0 && !ignored.count(path))
        expected.insert(path.substr(prefix.size()));
    EXPECT_EQ(expected, WorkedOn(base));
  }
}

// Outside a repository a .gitignore means nothing, as to git; a nested
// repository below still follows its own rules.
TEST_F(GitIgnoreTest, OutsideARepositoryNothingIsIgnored) {
  if (!HasGit()) GTEST_SKIP() << "git is not installed";
  tree.Write(".gitignore", "*.txt\n");
  tree.Write("a.txt", "old\n");
  tree.Write("repo/.gitignore", "*.txt\n");
  tree.Write("repo/b.txt", "old\n");
  tree.Write("repo/c.md", "old\n");
  Git("init -q", "repo");
  EXPECT_EQ((Paths{"a.txt", "repo/c.md"}), WorkedOn(""));
}

// An ignored folder is never opened or listed, with any number of
// helper threads; a folder git tracks a file in is walked for that file.
TEST_F(GitIgnoreTest, IgnoredFoldersAreNeverOpened) {
  if (!HasGit()) GTEST_SKIP() << "git is not installed";
  Git("init -q");
  tree.Write(".gitignore", "build/\nnode_modules\n*.o\n/gen/\n");
  for (const char* file :
       {"build/old.txt", "build/deep/old.txt", "node_modules/pkg/old.js",
        "src/old.c", "src/old.o", "src/build/old.txt", "gen/old.txt",
        "src/gen/old.txt", "dist/old.txt", "dist/old.o"})
    tree.Write(file, "old\n");
  Git("add -f dist/old.o");
  std::string error;
  std::shared_ptr<GitIgnoreRules> rules =
      GitIgnoreRules::ForTree(tree.path(), &error);
  ASSERT_TRUE(rules) << error;
  for (unsigned threads : {0u, 3u}) {
    SCOPED_TRACE(threads);
    FaultFileSystem fs;
    TestEngine run(&fs);
    run.settings.find = "o";
    run.settings.replace = "0";
    run.settings.dry_run = true;
    run.settings.change_names = false;
    run.settings.scan_threads = threads;
    run.settings.ignore_rules = rules;
    run.ProcessFolder(tree.path());
    EXPECT_FALSE(run.problems().any());
    for (const std::string& call : fs.calls()) {
      for (const char* left_out :
           {"build", "node_modules", "src/old.o", "src/build", "gen/", ".git/"})
        EXPECT_EQ(std::string::npos, call.find(tree.Path(left_out))) << call;
    }
    EXPECT_EQ(run.files,
              (std::vector<std::string>{
                  tree.Path(".gitignore"), tree.Path("dist/old.o"),
                  tree.Path("dist/old.txt"), tree.Path("src/gen/old.txt"),
                  tree.Path("src/old.c")}));
  }
  EXPECT_TRUE(rules->problems().empty());
}

// A .git in a folder below that opens no repository makes an ordinary
// folder of it, as for git; the repository that holds the base folder
// must be read whole, or the run does not start.
TEST_F(GitIgnoreTest, AnUnreadableRepository) {
  if (!HasGit()) GTEST_SKIP() << "git is not installed";
  Git("init -q");
  tree.Write(".gitignore", "*.log\n");
  tree.Write("sub/.git", "not a repository\n");
  tree.Write("sub/a.log", "old\n");
  tree.Write("sub/b.txt", "old\n");
  EXPECT_EQ((Paths{"sub/b.txt"}), WorkedOn(""));

  // Which files git tracks cannot be told.
  tree.Write(".git/index", "DIRC garbage");
  std::string out;
  EXPECT_FALSE(Shell(Env() + "'" VS_CLI_PATH "' --gitignore -f old -r new '" +
                         tree.Path("sub") + "'",
                     &out));
  EXPECT_EQ(0u, out.find("vellumshaper-cli: cannot read the git repository "
                         "of " +
                         tree.Path("sub") + ": "))
      << out;
  EXPECT_EQ("old\n", tree.Read("sub/b.txt"));
}

// Each kind of pattern, alone or with others, ignores what git
// check-ignore says it ignores. A path ending in '/' is a folder; a path
// is ignored when it or a folder above it is, as git has it.
TEST_F(GitIgnoreTest, PatternsMatchAsGitChecksThem) {
  if (!HasGit()) GTEST_SKIP() << "git is not installed";
  Git("init -q");
  const std::vector<std::string> ignore_files = {
      "*.o",
      "foo",
      "/foo",
      "foo/",
      "a/b",
      "a/*/c",
      "a/**/c",
      "**/c",
      "a/**",
      "*",
      "?oo",
      "[fb]oo",
      "[!f]oo",
      "f*o/",
      "\\#x",
      "\\!x",
      "a/b/",
      "**/a/b",
      "*.tar.gz",
      "fo[o]",
      ".hidden",
      "*foo*",
      "a/**/b/**/c",
      "foo\\ ",
      "foo   ",
      "/a/b/c/",
      "**/",
      "a/**/",
      "*/c",
      "[[:upper:]]*",
      "*.o\n!keep.o",
      "a/\n!a/b",
      "*\n!*/\n!*.c",
      "a/**\n!a/b/",
      "# foo\nbar",
      "\xEF\xBB\xBF"
      "foo\r\n",
      "!foo\nfoo",
      "foo\n!foo",
      "**/b\n!a/b",
  };
  // Made on disk, as git tells a folder by looking: one ending in '/' is
  // a folder.
  const std::vector<std::string> paths = {
      "foo",       "bar",     "boo",    "Boo",      "x.o",     "d/",
      "d/x.o",     "#x",      "!x",     "a.tar.gz", ".hidden", "x/.hidden",
      "foo ",      "afoob",   "keep.o", "d/keep.o", "main.c",  "d/main.c",
      "a/",        "a/c",     "a/x/c",  "a/x/y/c",  "c",       "x/a/b",
      "a/x/b/y/c", "a/b/",    "a/b/x",  "a/b/c/",   "a/b/c/z", "a/foo/",
      "g/foo/",    "g/foo/y", "x/c/",   "e/a/b",    "e/foo",
  };
  for (const std::string& path : paths) {
    if (path.back() == '/') {
      tree.MakeFolder(path.substr(0, path.size() - 1));
    } else {
      tree.Write(path, "");
    }
  }
  std::string input;
  for (const std::string& path : paths)
    input +=
        (path.back() == '/' ? path.substr(0, path.size() - 1) : path) + '\0';
  for (const std::string& text : ignore_files) {
    SCOPED_TRACE("ignore file: " + text);
    tree.Write(".gitignore", text + "\n");
    std::string out;
    // Status 1 when nothing is ignored.
    Shell(Env() + "git -C '" + tree.path() +
              "' check-ignore --no-index -z --stdin",
          &out, input);
    const Paths by_git = Lines(out, '\0');
    const IgnorePatterns patterns = IgnorePatterns::Parse(text + "\n", false);
    Paths by_us;
    for (const std::string& path : paths) {
      const bool folder = path.back() == '/';
      const std::string bare = folder ? path.substr(0, path.size() - 1) : path;
      bool ignored = false;
      for (std::size_t slash = bare.find('/');
           !ignored && slash != std::string::npos;
           slash = bare.find('/', slash + 1))
        ignored = patterns.Match(bare.substr(0, slash), 0, true) ==
                  IgnorePatterns::Verdict::kIgnored;
      if (!ignored)
        ignored = patterns.Match(bare, 0, folder) ==
                  IgnorePatterns::Verdict::kIgnored;
      if (ignored) by_us.insert(bare);
    }
    EXPECT_EQ(by_git, by_us);
  }
}

}  // namespace
}  // namespace vs::test

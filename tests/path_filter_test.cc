#include "engine/path_filter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vs {
namespace {

using Globs = std::vector<std::string>;

PathFilter FilterOf(const Globs& excludes, const Globs& includes) {
  PathFilter filter;
  std::string error;
  for (const std::string& glob : excludes)
    EXPECT_TRUE(filter.Exclude(glob, &error)) << error;
  for (const std::string& glob : includes)
    EXPECT_TRUE(filter.Include(glob, &error)) << error;
  return filter;
}

struct FileCase {
  Globs excludes;
  Globs includes;
  std::vector<std::string> taken;
  std::vector<std::string> left;
};

TEST(PathFilterTest, TakesTheFilesGitignoreWould) {
  const FileCase cases[] = {
      // A name pattern matches the last name at any depth, dots too.
      {{"*.min.js"}, {}, {"a.js", "min.js", "x/a.js"},
       {"a.min.js", "x/y/b.min.js", ".min.js"}},
      // A folder's glob leaves out everything below it.
      {{"build"}, {}, {"builds/a", "a/build.c"}, {"build", "build/a", "x/build/y/z"}},
      // A trailing '/' matches folders only.
      {{"build/"}, {}, {"build", "a/build"}, {"build/a", "a/build/b"}},
      // A leading '/', or any '/' inside, anchors to the base folder.
      {{"/build"}, {}, {"a/build", "a/build/b"}, {"build", "build/b"}},
      {{"src/gen"}, {}, {"x/src/gen", "src/gen.c"}, {"src/gen", "src/gen/a.c"}},
      // '*' never crosses a '/'.
      {{"src/*.c"}, {}, {"src/a/b.c", "b.c"}, {"src/b.c"}},
      // "**" is any number of folders, none included.
      {{"docs/**/*.md"}, {}, {"docs.md", "x/docs/a.md", "docs/a.txt"},
       {"docs/a.md", "docs/x/y/a.md"}},
      {{"**/gen"}, {}, {"gen.c", "a/gen.c"}, {"gen", "a/b/gen", "a/gen/f"}},
      {{"a/**/b/"}, {}, {"a/b", "a/x/b"}, {"a/b/f", "a/x/y/b/f"}},
      // Everything below a folder, not a file of the folder's name.
      {{"out/**"}, {}, {"out", "x/out/f"}, {"out/f", "out/a/b"}},
      // Classes and escapes as fnmatch has them.
      {{"[ab].txt", "\\*"}, {}, {"c.txt", "x"}, {"a.txt", "d/b.txt", "*"}},
      // Only what an include glob takes, by itself or by a folder.
      {{}, {"*.c"}, {"a.c", "x/y/a.c"}, {"a.h", "c"}},
      {{}, {"src/"}, {"src/a", "x/src/y/b"}, {"a", "src", "srcs/a"}},
      {{}, {"/src"}, {"src", "src/a/b"}, {"x/src/a"}},
      {{}, {"docs/**/*.md", "*.c"}, {"docs/a.md", "z/a.c"}, {"a.md"}},
      // Exclude wins over include, for files and folders.
      {{"*_test.c"}, {"*.c"}, {"a.c"}, {"a_test.c", "a.h"}},
      {{"vendor/"}, {"*.c"}, {"a.c"}, {"vendor/a.c", "x/vendor/b.c"}},
      {{"*.c"}, {"src/"}, {"src/a.h"}, {"src/a.c", "a.h"}},
  };
  for (const FileCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.excludes) + " " +
                 testing::PrintToString(c.includes));
    const PathFilter filter = FilterOf(c.excludes, c.includes);
    for (const std::string& path : c.taken)
      EXPECT_TRUE(filter.TakesFile(path)) << path;
    for (const std::string& path : c.left)
      EXPECT_FALSE(filter.TakesFile(path)) << path;
  }
}

TEST(PathFilterTest, FoldersAreMatchedByThemselves) {
  // What the walk asks of a folder before it opens it.
  const PathFilter filter = FilterOf({"build/", "/out/**", "*.d"}, {});
  EXPECT_TRUE(filter.Excludes("build", true));
  EXPECT_TRUE(filter.Excludes("a/b/build", true));
  EXPECT_FALSE(filter.Excludes("build", false));
  EXPECT_TRUE(filter.Excludes("out", true));
  EXPECT_FALSE(filter.Excludes("a/out", true));
  EXPECT_TRUE(filter.Excludes("x.d", true));
  EXPECT_FALSE(filter.Excludes("src", true));
  EXPECT_FALSE(filter.has_includes());
  EXPECT_TRUE(PathFilter().empty());
}

TEST(PathFilterTest, BadGlobsAreRefusedByName) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "is empty"},
      {"/", "names no path"},
      {"//", "names no path"},
      {"a//b", "empty name"},
      {"a//", "empty name"},
      {"!keep.c", "'!' does not negate"},
      {"./src", "'.' name"},
      {"a/../b", "'..' name"},
      {"*.[ch", "'[' has no ']'"},
      {"a[/]b", "'[' has no ']'"},
      {"x\\", "escaping '\\'"},
  };
  for (const auto& [glob, problem] : cases) {
    SCOPED_TRACE(glob);
    PathFilter filter;
    std::string error;
    EXPECT_FALSE(filter.Exclude(glob, &error));
    EXPECT_FALSE(filter.Include(glob, &error));
    EXPECT_EQ(0u, error.find("bad glob '" + glob + "': ")) << error;
    EXPECT_NE(std::string::npos, error.find(problem)) << error;
    EXPECT_TRUE(filter.empty());
  }
  // What looks odd but is a glob: a literal '!', a ']' first in a class.
  PathFilter filter;
  std::string error;
  EXPECT_TRUE(filter.Exclude("\\!x", &error)) << error;
  EXPECT_TRUE(filter.Exclude("[]a]", &error)) << error;
  EXPECT_FALSE(filter.TakesFile("!x"));
  EXPECT_FALSE(filter.TakesFile("]"));
}

}  // namespace
}  // namespace vs

// Hostile names and shapes, on the real disk: each case builds a tree in a
// scratch folder, runs the engine over its "base" folder, and checks the
// whole scratch folder afterwards, "outside" (never walked) included,
// together with the change log and the Files list.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tests/temp_folder.h"
#include "tests/test_engine.h"

namespace vs::test {
namespace {

using Tree = std::map<std::string, std::string>;  // relative path -> bytes

// What one case builds and what the run must leave. Paths are relative to
// the scratch folder; the run walks "base".
struct Scenario {
  Tree before;
  Tree after;
  // Every file the run must list, by relative path as found, with its
  // entries. Every other file must be recorded with no entry.
  std::map<std::string, ChangeList> changed;
  int failures = 0;
  // Shapes a Tree cannot hold (links, modes), made after `before`.
  std::function<void(const TempFolder&)> prepare;
  // Checks a Tree cannot hold.
  std::function<void(const TempFolder&)> verify;
};

struct HostileCase {
  const char* name;
  const char* find;
  const char* replace;
  int code_page;
  std::function<Scenario(const std::string& scratch)> make;
};

// Names a failing case by its name alone.
void PrintTo(const HostileCase& c, std::ostream* out) { *out << c.name; }

// Writes files with plain system calls: a case may hold 100,000 of them.
void WriteTree(const TempFolder& scratch, const Tree& tree) {
  std::set<std::string> made;
  for (const auto& [path, bytes] : tree) {
    auto slash = path.rfind('/');
    if (slash != std::string::npos && made.insert(path.substr(0, slash)).second)
      scratch.MakeFolder(path.substr(0, slash));
    int fd = open(scratch.Path(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                  0644);
    ASSERT_GE(fd, 0) << path;
    if (!bytes.empty()) {
      ASSERT_EQ(write(fd, bytes.data(), bytes.size()),
                static_cast<ssize_t>(bytes.size()))
          << path;
    }
    close(fd);
  }
}

// Compares the files of two trees (folders are never renamed, so only the
// files they hold matter) and names at most a few differences, so a case
// with 100,000 files fails readably.
void ExpectSameFiles(const Tree& expected, Tree actual) {
  for (auto it = actual.begin(); it != actual.end();)
    it = it->second == "<dir>" ? actual.erase(it) : std::next(it);
  int shown = 0;
  auto show = [&](const std::string& what) {
    if (++shown <= 8) ADD_FAILURE() << what;
  };
  for (const auto& [path, bytes] : expected) {
    auto it = actual.find(path);
    if (it == actual.end())
      show("missing: " + ::testing::PrintToString(path));
    else if (it->second != bytes)
      show("differs: " + ::testing::PrintToString(path) + " holds " +
           ::testing::PrintToString(it->second.substr(0, 80)) +
           ", expected " + ::testing::PrintToString(bytes.substr(0, 80)));
  }
  for (const auto& [path, bytes] : actual)
    if (!expected.count(path))
      show("unexpected: " + ::testing::PrintToString(path));
  if (shown > 8) ADD_FAILURE() << shown - 8 << " more differences";
}

// The paths of everything but folders under `folder`, its subfolders
// included: what a run must meet. Contents are not read.
std::vector<std::string> FilesUnder(const std::string& folder) {
  std::vector<std::string> files;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return files;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = folder + "/" + name;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
    if (!S_ISDIR(st.st_mode)) {
      files.push_back(path);
      continue;
    }
    const std::vector<std::string> inner = FilesUnder(path);
    files.insert(files.end(), inner.begin(), inner.end());
  }
  closedir(dir);
  return files;
}

struct stat StatOf(const TempFolder& scratch, const std::string& path) {
  struct stat st = {};
  EXPECT_EQ(lstat(scratch.Path(path).c_str(), &st), 0) << path;
  return st;
}

// A scenario whose files each sit in "base" under their own name before and
// their new name after, with `content` turned into `new_content`.
struct Renamed {
  std::string name, content, new_name, new_content;
  ChangeList entries;
};
Scenario RenamedFiles(const std::vector<Renamed>& files) {
  Scenario s;
  for (const Renamed& f : files) {
    s.before["base/" + f.name] = f.content;
    s.after["base/" + f.new_name] = f.new_content;
    if (!f.entries.empty()) s.changed["base/" + f.name] = f.entries;
  }
  return s;
}

// ---------------------------------------------------------------- names

Scenario NewlinesInNames(const std::string&) {
  return RenamedFiles({
      {"old\nname.txt", "old\n", "new\nname.txt", "new\n",
       {"Line 1: new", "Changed File Name to: new\nname.txt"}},
      {"\nold", "keep", "\nnew", "keep", {"Changed File Name to: \nnew"}},
      {"line\n", "x\nold", "line\n", "x\nnew", {"Line 2: new"}},
      {"\n", "", "\n", "", {}},
  });
}

Scenario TabsInNames(const std::string&) {
  return RenamedFiles({
      {"\told\t.txt", "\told\t\r\n", "\tnew\t.txt", "\tnew\t\r\n",
       {"Line 1: \tnew\t", "Changed File Name to: \tnew\t.txt"}},
      {"\t", "old", "\t", "new", {"Line 1: new"}},
  });
}

// Nothing treats a name as an option: every path is the folder's path and
// the name.
Scenario LeadingDashes(const std::string&) {
  return RenamedFiles({
      {"-old", "old", "-new", "new",
       {"Line 1: new", "Changed File Name to: -new"}},
      {"--old=1", "", "--new=1", "", {"Changed File Name to: --new=1"}},
      {"-rf old", "keep", "-rf new", "keep",
       {"Changed File Name to: -rf new"}},
      {"-", "old\n", "-", "new\n", {"Line 1: new"}},
      {"--", "", "--", "", {}},
  });
}

// Names and text that are not UTF-8 keep every byte that is not part of
// an occurrence, in the UTF-8 code page too.
Scenario InvalidUtf8(const std::string&) {
  return RenamedFiles({
      {"\xFFold\xFE.txt", "\xC3old\x80\n", "\xFFnew\xFE.txt", "\xC3new\x80\n",
       {"Line 1: \xC3new\x80", "Changed File Name to: \xFFnew\xFE.txt"}},
      {"old\xC3", "", "new\xC3", "", {"Changed File Name to: new\xC3"}},
      {"\xED\xA0\x80old", "", "\xED\xA0\x80new", "",
       {"Changed File Name to: \xED\xA0\x80new"}},
      {"\x80\x80\x80", "\x80old\x80", "\x80\x80\x80", "\x80new\x80",
       {"Line 1: \x80new\x80"}},
  });
}

Scenario ShellSpecialCharacters(const std::string&) {
  return RenamedFiles({
      {"old *?[a]\\$'\"`;|&<>(){}~#!.txt", "old",
       "new *?[a]\\$'\"`;|&<>(){}~#!.txt", "new",
       {"Line 1: new",
        "Changed File Name to: new *?[a]\\$'\"`;|&<>(){}~#!.txt"}},
      {" old ", "", " new ", "", {"Changed File Name to:  new "}},
      {".old", "", ".new", "", {"Changed File Name to: .new"}},
      {"..old", "", "..new", "", {"Changed File Name to: ..new"}},
  });
}

// ------------------------------------------------------------- lengths

// NAME_MAX is 255 bytes. A name of that length keeps working when its new
// name is as long (the temporary file's name is shortened to fit), and a
// new name past it is refused without touching the file.
Scenario MaxLengthNames(const std::string&) {
  static_assert(NAME_MAX == 255);
  const std::string fill(NAME_MAX - 7, 'n');  // "old" + fill + ".txt"
  const std::string renamed = "old" + fill + ".txt";
  const std::string kept = std::string(NAME_MAX - 4, 'k') + ".txt";
  Scenario s;
  s.before = {{"base/" + renamed, "old\n"}, {"base/" + kept, "x old"}};
  s.after = {{"base/new" + fill + ".txt", "new\n"}, {"base/" + kept, "x new"}};
  s.changed = {{"base/" + renamed,
                {"Line 1: new", "Changed File Name to: new" + fill + ".txt"}},
               {"base/" + kept, {"Line 1: x new"}}};
  return s;
}

// "old" made into "older" in names of NAME_MAX bytes: every rename would
// pass NAME_MAX and is refused, leaving the name as it was; the text of a
// file still changes, and a file without the find text is left whole.
Scenario MaxLengthNamesCannotGrow(const std::string&) {
  const std::string fill(NAME_MAX - 7, 'n');
  const std::string name = "old" + fill + ".txt";
  const std::string other = "old" + fill + ".dat";
  const std::string refused = "Failed to change File Name to: older" + fill;
  Scenario s;
  s.before = {{"base/" + name, "old\n"}, {"base/" + other, "no match here\n"}};
  s.after = {{"base/" + name, "older\n"}, {"base/" + other, "no match here\n"}};
  s.changed = {
      {"base/" + name,
       {"Line 1: older", refused + ".txt (File name too long)"}},
      {"base/" + other, {refused + ".dat (File name too long)"}}};
  s.failures = 2;
  return s;
}

// Folders nested until the deepest file's path, as the run finds it, is
// PATH_MAX - 1 bytes long: the longest path the system takes. The run
// must reach that file, rewrite it and rename it.
Scenario NestedToThePathLimit(const std::string& scratch) {
  const std::string file = "old.txt";
  std::string folder = "base";
  // scratch + "/" + folder + "/" + file must come to PATH_MAX - 1.
  std::size_t room = PATH_MAX - 1 - scratch.size() - 1 - folder.size() - 1 -
                     file.size();
  while (room > 0) {
    // Each level costs a "/" and its name. The last takes what is left;
    // the one before it leaves at least "/d" for the last.
    std::size_t name = room <= NAME_MAX + 1 ? room - 1 : NAME_MAX;
    if (room - (name + 1) == 1) --name;
    folder += "/" + std::string(name, 'd');
    room -= name + 1;
  }
  Scenario s;
  s.before = {{folder + "/" + file, "old\r\nold"}};
  s.after = {{folder + "/new.txt", "new\r\nnew"}};
  s.changed = {{folder + "/" + file,
                {"Line 1: new", "Line 2: new",
                 "Changed File Name to: new.txt"}}};
  s.verify = [path = scratch + "/" + folder + "/" + file](const TempFolder&) {
    EXPECT_EQ(path.size(), static_cast<std::size_t>(PATH_MAX - 1));
  };
  return s;
}

// --------------------------------------------------------------- shapes

// One folder of 100,000 files; one in a thousand holds the find text, one
// in five thousand has it in its name. Most are empty, which makes them
// quicker to make and remove, and one in ten holds a line of its own.
Scenario HundredThousandFiles(const std::string&) {
  Scenario s;
  char name[32];
  for (int i = 0; i < 100000; ++i) {
    const bool text = i % 1000 == 7, renamed = i % 5000 == 3;
    std::snprintf(name, sizeof name, renamed ? "old-%06d" : "f%06d", i);
    std::string content;
    if (text)
      content = "a\nold " + std::to_string(i) + "\n";
    else if (i % 10 == 0)
      content = "plain " + std::to_string(i) + "\n";
    s.before["base/" + std::string(name)] = content;
    std::string new_name = name;
    if (renamed) new_name.replace(0, 3, "new");
    std::string new_content = content;
    if (text) new_content.replace(2, 3, "new");
    s.after["base/" + new_name] = new_content;
    ChangeList entries;
    if (text) entries.push_back("Line 2: new " + std::to_string(i));
    if (renamed) entries.push_back("Changed File Name to: " + new_name);
    if (!entries.empty()) s.changed["base/" + std::string(name)] = entries;
  }
  return s;
}

// A rewritten file gets a new file in its place: the path the run rewrote
// holds the new text, while another link to the old file, outside the base
// folder, keeps the old file as it was.
Scenario HardLinkOutside(const std::string&) {
  Scenario s;
  s.before = {{"base/a-old.txt", "old\r\nx\n"}};
  s.after = {{"base/a-new.txt", "new\r\nx\n"}, {"outside/c.txt", "old\r\nx\n"}};
  s.changed = {{"base/a-old.txt",
                {"Line 1: new", "Changed File Name to: a-new.txt"}}};
  auto inode = std::make_shared<ino_t>();
  s.prepare = [inode](const TempFolder& t) {
    t.MakeFolder("outside");
    ASSERT_EQ(link(t.Path("base/a-old.txt").c_str(),
                   t.Path("outside/c.txt").c_str()), 0);
    *inode = StatOf(t, "outside/c.txt").st_ino;
  };
  s.verify = [inode](const TempFolder& t) {
    const struct stat c = StatOf(t, "outside/c.txt");
    EXPECT_EQ(c.st_ino, *inode);  // the very file, untouched
    EXPECT_EQ(c.st_nlink, 1u);
    EXPECT_EQ(StatOf(t, "base/a-new.txt").st_nlink, 1u);
  };
  return s;
}

// Two links of one file, both in the base folder: each is a file of its
// own to the run, so each is rewritten by itself and they part.
Scenario HardLinksInside(const std::string&) {
  Scenario s;
  s.before = {{"base/a-old.txt", "old\r\nx\n"}};
  s.after = {{"base/a-new.txt", "new\r\nx\n"}, {"base/b.txt", "new\r\nx\n"}};
  s.changed = {{"base/a-old.txt",
                {"Line 1: new", "Changed File Name to: a-new.txt"}},
               {"base/b.txt", {"Line 1: new"}}};
  s.prepare = [](const TempFolder& t) {
    ASSERT_EQ(link(t.Path("base/a-old.txt").c_str(),
                   t.Path("base/b.txt").c_str()), 0);
  };
  s.verify = [](const TempFolder& t) {
    EXPECT_EQ(StatOf(t, "base/a-new.txt").st_nlink, 1u);
    EXPECT_EQ(StatOf(t, "base/b.txt").st_nlink, 1u);
  };
  return s;
}

// Read-only files are rewritten all the same (the new file replaces the
// old one; neither is opened for writing) and keep their mode, special
// bits included. Tests run as root, which no permission stops, so the
// modes are the promise checked.
Scenario ReadOnlyFiles(const std::string&) {
  static const std::map<std::string, mode_t> kModes = {
      {"base/r0444-old.txt", 0444}, {"base/r0400.txt", 0400},
      {"base/r0555.sh", 0555},      {"base/r4755-old.bin", 04755},
      {"base/r2750.txt", 02750}};
  Scenario s;
  for (const auto& [path, mode] : kModes) {
    s.before[path] = "old\n";
    std::string new_path = path;
    if (auto at = new_path.find("old"); at != std::string::npos)
      new_path.replace(at, 3, "new");
    s.after[new_path] = "new\n";
    ChangeList entries = {"Line 1: new"};
    if (new_path != path)
      entries.push_back("Changed File Name to: " + new_path.substr(5));
    s.changed[path] = entries;
  }
  s.prepare = [](const TempFolder& t) {
    for (const auto& [path, mode] : kModes)
      ASSERT_EQ(chmod(t.Path(path).c_str(), mode), 0);
  };
  s.verify = [](const TempFolder& t) {
    for (const auto& [path, mode] : kModes) {
      std::string new_path = path;
      if (auto at = new_path.find("old"); at != std::string::npos)
        new_path.replace(at, 3, "new");
      const unsigned got_mode = StatOf(t, new_path).st_mode & 07777;
      char got[8], wanted[8];
      std::snprintf(got, sizeof got, "%04o", got_mode);
      std::snprintf(wanted, sizeof wanted, "%04o", static_cast<unsigned>(mode));
      EXPECT_STREQ(got, wanted) << new_path;
    }
  };
  return s;
}

const HostileCase kCases[] = {
    {"NewlinesInNames", "old", "new", 1252, NewlinesInNames},
    {"TabsInNames", "old", "new", 1252, TabsInNames},
    {"LeadingDashes", "old", "new", 1252, LeadingDashes},
    {"InvalidUtf8", "old", "new", CodePage::kUtf8, InvalidUtf8},
    {"ShellSpecialCharacters", "old", "new", 1252, ShellSpecialCharacters},
    {"MaxLengthNames", "old", "new", 1252, MaxLengthNames},
    {"MaxLengthNamesCannotGrow", "old", "older", 1252,
     MaxLengthNamesCannotGrow},
    {"NestedToThePathLimit", "old", "new", 1252, NestedToThePathLimit},
    {"HundredThousandFiles", "old", "new", 1252, HundredThousandFiles},
    {"HardLinkOutside", "old", "new", 1252, HardLinkOutside},
    {"HardLinksInside", "old", "new", 1252, HardLinksInside},
    {"ReadOnlyFiles", "old", "new", 1252, ReadOnlyFiles},
};

class HostileTreeTest : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileTreeTest, KeepsEveryPromise) {
  const HostileCase& c = GetParam();
  TempFolder scratch;
  Scenario s = c.make(scratch.path());
  WriteTree(scratch, s.before);
  if (s.prepare) s.prepare(scratch);
  ASSERT_FALSE(HasFatalFailure());
  const std::vector<std::string> met = FilesUnder(scratch.Path("base"));

  TestEngine engine;
  engine.settings.find = c.find;
  engine.settings.replace = c.replace;
  engine.settings.code_page = CodePage(c.code_page);
  engine.ProcessFolder(scratch.Path("base"));

  ExpectSameFiles(s.after, scratch.Snapshot());
  // Every file met is recorded, under its path as found, and the ones
  // not listed with no entry.
  EXPECT_EQ(engine.log().size(), met.size());
  for (const std::string& path : met) {
    if (!s.changed.count(path.substr(scratch.path().size() + 1))) {
      EXPECT_EQ(engine.log().Entries(path), ChangeList{})
          << ::testing::PrintToString(path);
    }
  }
  std::vector<std::string> listed;
  for (const auto& [path, entries] : s.changed) {
    listed.push_back(scratch.Path(path));
    EXPECT_EQ(engine.log().Entries(scratch.Path(path)), entries)
        << ::testing::PrintToString(path);
  }
  // The Files list holds the changed files, each once.
  std::vector<std::string> files = engine.files;
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, listed);
  EXPECT_EQ(engine.problems().failure_entries, s.failures);
  EXPECT_EQ(engine.problems().unreadable_files, 0);
  EXPECT_EQ(engine.problems().unlisted_folders, 0);
  EXPECT_TRUE(engine.reports.empty())
      << ::testing::PrintToString(engine.reports);
  if (s.verify) s.verify(scratch);
}

std::string CaseName(const ::testing::TestParamInfo<HostileCase>& info) {
  return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileTreeTest, ::testing::ValuesIn(kCases),
                         CaseName);

}  // namespace
}  // namespace vs::test

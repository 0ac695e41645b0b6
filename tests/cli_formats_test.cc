// --diff and --json, checked by the tools their readers use: a dry run's
// diff applied by git apply to a copy of the tree must make what the
// real run makes, and the JSON read back by python3 must tell all the
// listing tells.
#include <gtest/gtest.h>

#include <string>

#include "tests/cli_runner.h"
#include "tests/temp_folder.h"

namespace vs::test {
namespace {

// `tree`'s snapshot without the repository git apply works in.
Tree WithoutGit(Tree tree) {
  for (auto it = tree.begin(); it != tree.end();) {
    it = it->first == ".git" || it->first.rfind(".git/", 0) == 0
             ? tree.erase(it)
             : std::next(it);
  }
  return tree;
}

std::string Numbered(int from, int to) {
  std::string text;
  for (int i = from; i <= to; ++i) text += std::to_string(i) + "\n";
  return text;
}

struct DiffCase {
  const char* name;
  Tree files;
  std::string find;
  std::string replace;
  int status;
  std::string note;  // a line the diff must hold, if not empty
  Args modes = {};   // matching modes: -i, -w, -e, --preserve-case
};

TEST(CliDiffTest, ADryRunsDiffAppliedByGitMakesWhatTheRunMakes) {
  const DiffCase cases[] = {
      {"changes near and far, line ends as they were",
       {{"gaps.txt", "foo\n" + Numbered(2, 7) + "foo\n" + Numbered(9, 15) +
                         "foo\n" + Numbered(17, 29) + "foo\n"},
        {"crlf.txt", "a\r\nfoo\r\nb\r\nc\r\n"},
        {"no-newline.txt", "x\nfoo"},
        {"only.txt", "foo"},
        {"lone-cr.txt", "foo\rfoo\n"},
        {"same.txt", "nothing\n"}},
       "foo", "bar", 0, ""},
      {"text deleted",
       {{"only.txt", "foo"},
        {"line.txt", "a\nfoo\nb\n"},
        {"end.txt", "a\nfoo"},
        {"crlf.txt", "foo\r\n"}},
       "foo", "", 0, ""},
      {"a replace text holding line ends, in names too",
       {{"m.txt", "foo\nx\nfoo\n"},
        {"last.txt", "a\nfoo"},
        {"foo.txt", "1\n2\n3\n4\n5\n6\n7\n8\nfoo\n"}},
       "foo", "1\n2\r\n", 0, ""},
      {"renames of every kind of name",
       {{"foo", "foo\n"},
        {"a foo b.txt", "x\n"},
        {"trail foo ", "foo"},
        {"tab\tfoo", "x\n"},
        {"q\"foo\\", "foo\n"},
        {"caf\xe9-foo", "caf\xe9 foo\n"},
        {"\xc3\xa9-foo", ""},
        {"sub dir/foo.txt", "a\nfoo\n"},
        {"foo dir/foo.txt", "foo\n"},  // folders keep their names
        {"bin-foo", std::string("\0foo", 4)},
        {"\x01" "foo\n", "foo\n"}},
       "foo", "bar", 0, ""},
      // The dry run must see the names the run's renames take and free.
      {"a name an earlier rename took",
       {{"fo", "x\n"}, {"foo", "o\n"}}, "o", "", 1,
       "# foo: Failed to change File Name to: f (File exists)\n"},
      {"a name an earlier rename freed",
       {{"ab", "x\n"}, {"abb", "y\n"}}, "ab", "a", 0, ""},
      {"a failed rename is a note, its text change a diff",
       {{"foo.txt", "foo\n"}, {"bar.txt", "x\n"}}, "foo", "bar", 1,
       "# foo.txt: Failed to change File Name to: bar.txt (File exists)\n"},
      // A matching mode takes another rewriter, which keeps the lines too.
      {"ignore case and preserve case",
       {{"m.txt", "Foo\nx\nFOO foo\n" + Numbered(1, 9) + "fOo\n"},
        {"FOO.txt", "none\r\n"}},
       "foo", "bar", 0, "", {"-i", "--preserve-case"}},
      {"a regular expression with groups",
       {{"r.txt", "a1 b22\nnone\nc333"}}, "([a-c])([0-9]+)", "$2$1", 0, "",
       {"-e"}},
  };
  for (const DiffCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder tree;
    TempFolder copy;
    for (const auto& [path, text] : c.files) tree.Write(path, text);
    ASSERT_EQ(0, RunCommand({"cp", "-a", tree.path() + "/.", copy.path()},
                            "/").status);
    const Tree before = tree.Snapshot();
    Args find = c.modes;
    for (const std::string& arg :
         Args{"-f", c.find, "-r", c.replace, tree.path()})
      find.push_back(arg);

    Args dry_args = {"--dry-run", "--diff"};
    dry_args.insert(dry_args.end(), find.begin(), find.end());
    const Outcome dry = RunProgram(dry_args);
    EXPECT_EQ(c.status, dry.status) << dry.err;
    EXPECT_EQ(before, tree.Snapshot());

    // The real run's diff is the dry run's.
    Args real_args = {"--diff"};
    real_args.insert(real_args.end(), find.begin(), find.end());
    const Outcome real = RunProgram(real_args);
    EXPECT_EQ(c.status, real.status) << real.err;
    EXPECT_EQ(dry.out, real.out);
    if (!c.note.empty()) {
      EXPECT_NE(std::string::npos, dry.out.find(c.note)) << dry.out;
    }

    ASSERT_EQ(0, RunCommand({"git", "init", "-q"}, copy.path()).status);
    const Outcome applied = RunCommand({"git", "apply"}, copy.path(), dry.out);
    EXPECT_EQ(0, applied.status) << applied.err << "\n" << dry.out;
    EXPECT_EQ(tree.Snapshot(), WithoutGit(copy.Snapshot())) << dry.out;
  }
}

// The hunks are those git makes of the same change: three lines of
// context, hunks six lines apart joined, seven apart not.
TEST(CliDiffTest, HunksAreTheOnesGitMakes) {
  TempFolder tree;
  TempFolder old_copy;
  const std::string text = "foo\n" + Numbered(2, 7) + "foo\n" +
                           Numbered(9, 15) + "foo foo\r\n" + Numbered(17, 19) +
                           "foo";
  tree.Write("f.txt", text);
  old_copy.Write("f.txt", text);
  const Outcome run = RunProgram({"--diff", "-f", "foo", "-r", "bar",
                                  tree.path()});
  ASSERT_EQ(0, run.status) << run.err;
  const Outcome git =
      RunCommand({"git", "diff", "--no-index", "--no-color", "-U3",
                  old_copy.Path("f.txt"), tree.Path("f.txt")},
                 "/");
  ASSERT_EQ(1, git.status) << git.err;  // 1: the files differ
  // From the first hunk on, without the text git puts after a header
  // (the last line above the hunk that starts with a letter).
  const auto hunks = [](const std::string& diff) {
    std::string kept;
    bool in_hunks = false;
    for (std::size_t at = 0; at < diff.size();) {
      const std::size_t end = diff.find('\n', at) + 1;
      std::string line = diff.substr(at, end - at);
      if (line.rfind("@@ ", 0) == 0) {
        in_hunks = true;
        line = line.substr(0, line.find(" @@", 3) + 3) + "\n";
      }
      if (in_hunks) kept += line;
      at = end;
    }
    return kept;
  };

  EXPECT_EQ(hunks(git.out), hunks(run.out));
  EXPECT_EQ(0u, run.out.find("diff --git a/f.txt b/f.txt\n--- a/f.txt\n"
                             "+++ b/f.txt\n@@ -1,11 +1,11 @@\n"))
      << run.out;
}

// Kept lines past the budget go to the scratch file; the diff read back
// from it is the one made in memory, a streamed file's and a worked out
// one's alike.
TEST(CliDiffTest, SpilledLinesGiveTheSameDiff) {
  TempFolder tree;
  for (int f = 0; f < 3; ++f) {
    std::string text;
    for (int i = 0; i < 2000; ++i)
      text += "line " + std::to_string(i) + (i % 9 ? " foo\n" : "\n");
    tree.Write("f" + std::to_string(f) + ".txt", text);
  }
  std::string big;  // larger than a new text worked out in memory
  for (int i = 0; i < 120000; ++i)
    big += (i % 7 ? "foo " : "") + std::to_string(i) +
           std::string(i % 50, 'x') + "\n";
  tree.Write("big.txt", big);
  const Outcome in_memory =
      RunProgram({"-n", "--diff", "-f", "foo", "-r", "bar", tree.path()});
  ASSERT_EQ(0, in_memory.status) << in_memory.err;
  ASSERT_GT(in_memory.out.size(), std::size_t{4} << 20);
  const Outcome spilled = Finish(StartProgram(
      {"--diff", "-f", "foo", "-r", "bar", tree.path()}, "", 0, {0, "4096"}));
  EXPECT_EQ(0, spilled.status) << spilled.err;
  EXPECT_TRUE(spilled.out == in_memory.out);  // megabytes: not printed
}

// Turns --json back into the listing's lines with python3, which also
// checks that every line is one JSON object of a known type, that the
// whole is UTF-8, and that the summary comes last.
constexpr char kJsonToListing[] = R"PY(
import base64, json, sys
def raw(value):
    assert list(value) in (["text"], ["bytes"]), value
    if "text" in value:
        return value["text"].encode("utf-8", "surrogateescape")
    return base64.b64decode(value["bytes"], validate=True)
out = sys.stdout.buffer
summary = None
lines = sys.stdin.buffer.read().decode("utf-8").split("\n")
assert lines.pop() == ""
for line in lines:
    assert summary is None, "a record after the summary"
    record = json.loads(line)
    kind = record["type"]
    if kind == "error":
        out.write(b"error " + record["kind"].encode() + b" " +
                  raw(record["path"]) + b": " + record["reason"].encode() +
                  b"\n")
    elif kind == "file":
        out.write(raw(record["path"]) + b"\n")
        for changed in record["lines"]:
            out.write(b"\tLine %d: " % changed["line"] + raw(changed["text"]) +
                      b"\n")
        for failure in record["failures"]:
            if failure["change"] == "text":
                out.write(b"\tFailed to change Text (" +
                          failure["reason"].encode() + b")\n")
        if record["new_name"] is not None:
            out.write(b"\tChanged File Name to: " + raw(record["new_name"]) +
                      b"\n")
        for failure in record["failures"]:
            if failure["change"] == "name":
                out.write(b"\tFailed to change File Name to: " +
                          raw(failure["name"]) + b" (" +
                          failure["reason"].encode() + b")\n")
    elif kind == "summary":
        summary = record
    else:
        raise ValueError(kind)
out.write((("summary dry_run=%(dry_run)s stopped=%(stopped)s "
            "looked_at=%(files_looked_at)d changed=%(files_changed)d "
            "renamed=%(files_renamed)d failed=%(files_failed)d "
            "problems=%(problems)d bytes_read=%(bytes_read)d\n") %
           summary).encode())
assert isinstance(summary["seconds"], float) and summary["seconds"] >= 0
)PY";

TEST(CliJsonTest, ReadsBackToTheListingWhateverTheNamesAndTextsHold) {
  TempFolder tree;
  const Tree files = {
      {"caf\xe9 foo.txt", "foo \xe9t\xe9\n"},      // Latin-1 name and text
      {"esc.txt", "\"foo\"\\\t\x1b[31m \xc2\x9b\n"},  // what JSON escapes
      {"foo.txt", "x\nfoo\n"},                    // its new name is taken
      {"bar.txt", "y\n"},
      {"\xc3\xa9/foo\nname", "plain\n"},          // UTF-8, and a newline
  };
  std::uint64_t bytes = 0;
  for (const auto& [path, text] : files) {
    tree.Write(path, text);
    bytes += text.size();
  }
  TooDeepFolders deep(tree.path());  // one folder cannot be listed
  const Args args = {"-n", "-f", "foo", "-r", "bar", tree.path()};
  Args json_args = {"--json"};
  json_args.insert(json_args.end(), args.begin(), args.end());
  const Outcome json = RunProgram(json_args, "", /*max_open_files=*/16);
  const Outcome listing = RunProgram(args, "", /*max_open_files=*/16);
  EXPECT_EQ(1, json.status);

  const Outcome read = RunCommand({"python3", "-c", kJsonToListing}, "/",
                                  json.out);
  ASSERT_EQ(0, read.status) << read.err << json.out;
  const std::string error_line = "Error get the next file\n";
  ASSERT_EQ(0u, listing.out.find(error_line)) << listing.out;
  // Which level of the deep folders runs out of descriptors may differ
  // from run to run: the record must name the one its message names.
  const std::size_t message = json.err.find("cannot list ");
  ASSERT_NE(std::string::npos, message) << json.err;
  const std::string unlisted = json.err.substr(message + 12);  // "PATH: REASON\n"
  EXPECT_EQ("error unlisted_folder " + unlisted +
                listing.out.substr(error_line.size()) +
                "summary dry_run=True stopped=False looked_at=5 changed=4 "
                "renamed=2 failed=1 problems=1 bytes_read=" +
                std::to_string(bytes) + "\n",
            read.out);
}

}  // namespace
}  // namespace vs::test

// Runs the real vellumshaper-cli binary for the tests that check what it
// prints, its exit status and what it leaves on disk. Every test of the
// binary gets an empty $XDG_STATE_HOME of its own (a temporary folder,
// removed when the test ends), so the runs' journals and locks never
// reach the user's home or another test.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace vs::test {

using Args = std::vector<std::string>;
using Tree = std::map<std::string, std::string>;

struct Outcome {
  std::string out;
  std::string err;
  int status = -1;  // the exit status; -1 when killed by a signal
};

// A run of the binary, started with its standard output and standard
// error caught apart.
struct Started {
  pid_t pid = -1;
  std::FILE* out = nullptr;
  std::FILE* err = nullptr;
};

// With `limits`, the run gets at most that much address space, and the
// budget for change entries in memory it names.
struct MemoryLimits {
  rlim_t address_space = 0;  // 0: no limit
  std::string entries_budget;  // bytes; "": the program's own
};

// Starts the binary with `args` after its name, in the folder `cwd` if
// given, with at most `max_open_files` descriptors if that is not 0.
Started StartProgram(const Args& args, const std::string& cwd = "",
                     rlim_t max_open_files = 0,
                     const MemoryLimits& limits = {});

// Waits for the run to end and reads what it printed.
Outcome Finish(const Started& started);

Outcome RunProgram(const Args& args, const std::string& cwd = "",
                   rlim_t max_open_files = 0);

// Runs `argv` (found on the PATH) in the folder `cwd` with `input` on
// its standard input: for the tools a test checks output with (git,
// python3).
Outcome RunCommand(const Args& argv, const std::string& cwd,
                   const std::string& input = "");

// The expected listing: a line starting with a TAB is an entry, any other
// line a path relative to `base`.
std::string Listing(const std::string& base, const Args& lines);

// Nested folders, deeper than a run with few descriptors can go: the walk
// holds one open descriptor for each level. Their full path also grows
// past PATH_MAX, so they are made and removed through descriptors.
class TooDeepFolders {
 public:
  explicit TooDeepFolders(const std::string& parent);
  ~TooDeepFolders();
  TooDeepFolders(const TooDeepFolders&) = delete;
  TooDeepFolders& operator=(const TooDeepFolders&) = delete;

 private:
  static constexpr int kDepth = 20;  // 20 * 251 bytes > PATH_MAX (4096)
  std::string parent_;
  std::string name_ = std::string(250, 'd');
};

}  // namespace vs::test

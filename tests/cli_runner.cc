#include "tests/cli_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include <gtest/gtest.h>

namespace vs::test {
namespace {

// Gives every test a state folder of its own ($XDG_STATE_HOME), made
// when it starts and removed when it ends: the runs it starts keep their
// undo journals and locks there, never in the user's home, and no test
// sees another's runs. Set for the whole process, so the programs the
// test starts and the runs it makes in-process share it.
class StateHomePerTest final : public ::testing::EmptyTestEventListener {
 public:
  void OnTestStart(const ::testing::TestInfo&) override {
    char folder[] = "/tmp/vellumshaper-state-XXXXXX";
    if (!mkdtemp(folder)) throw std::runtime_error("mkdtemp failed");
    folder_ = folder;
    setenv("XDG_STATE_HOME", folder_.c_str(), 1);
  }
  void OnTestEnd(const ::testing::TestInfo&) override {
    unsetenv("XDG_STATE_HOME");
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

 private:
  std::string folder_;
};

// Listeners are added before main runs the tests; gtest owns it.
[[maybe_unused]] const bool state_home_per_test = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new StateHomePerTest);
  return true;
}();

std::string ReadBack(std::FILE* file) {
  std::string text;
  std::rewind(file);
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    text.append(buffer, got);
  }
  std::fclose(file);
  return text;
}

}  // namespace

Started StartProgram(const Args& args, const std::string& cwd,
                     rlim_t max_open_files, const MemoryLimits& limits) {
  std::vector<std::string> storage = {VS_CLI_PATH};
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : storage) argv.push_back(arg.data());
  argv.push_back(nullptr);

  Started started;
  started.out = std::tmpfile();
  started.err = std::tmpfile();
  if (!started.out || !started.err) throw std::runtime_error("tmpfile failed");
  started.pid = fork();
  if (started.pid == 0) {
    if (dup2(fileno(started.out), STDOUT_FILENO) < 0 ||
        dup2(fileno(started.err), STDERR_FILENO) < 0 ||
        (!cwd.empty() && chdir(cwd.c_str()) != 0)) {
      _exit(126);
    }
    if (max_open_files) {
      struct rlimit limit = {max_open_files, max_open_files};
      if (setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(126);
    }
    if (limits.address_space) {
      struct rlimit limit = {limits.address_space, limits.address_space};
      if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(126);
    }
    if (!limits.entries_budget.empty() &&
        setenv("VELLUMSHAPER_CHANGE_MEMORY_BUDGET",
               limits.entries_budget.c_str(), 1) != 0)
      _exit(126);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return started;
}

Outcome Finish(const Started& started) {
  Outcome outcome;
  int wait_status = 0;
  if (started.pid > 0 && waitpid(started.pid, &wait_status, 0) == started.pid &&
      WIFEXITED(wait_status)) {
    outcome.status = WEXITSTATUS(wait_status);
  }
  outcome.out = ReadBack(started.out);
  outcome.err = ReadBack(started.err);
  return outcome;
}

Outcome RunProgram(const Args& args, const std::string& cwd,
                   rlim_t max_open_files) {
  return Finish(StartProgram(args, cwd, max_open_files));
}

Outcome RunCommand(const Args& argv, const std::string& cwd,
                   const std::string& input) {
  std::vector<std::string> storage(argv);
  std::vector<char*> pointers;
  for (std::string& arg : storage) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  std::FILE* in = std::tmpfile();
  Started started;
  started.out = std::tmpfile();
  started.err = std::tmpfile();
  if (!in || !started.out || !started.err)
    throw std::runtime_error("tmpfile failed");
  std::fwrite(input.data(), 1, input.size(), in);
  std::fflush(in);
  std::rewind(in);
  started.pid = fork();
  if (started.pid == 0) {
    if (dup2(fileno(in), STDIN_FILENO) < 0 ||
        dup2(fileno(started.out), STDOUT_FILENO) < 0 ||
        dup2(fileno(started.err), STDERR_FILENO) < 0 ||
        chdir(cwd.c_str()) != 0)
      _exit(126);
    execvp(pointers[0], pointers.data());
    _exit(127);
  }
  std::fclose(in);
  return Finish(started);
}

std::string Listing(const std::string& base, const Args& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += (line[0] == '\t' ? line : base + "/" + line) + "\n";
  }
  return text;
}

TooDeepFolders::TooDeepFolders(const std::string& parent) : parent_(parent) {
  int fd = open(parent.c_str(), O_RDONLY | O_DIRECTORY);
  for (int i = 0; i < kDepth && fd >= 0; ++i) {
    mkdirat(fd, name_.c_str(), 0755);
    int next = openat(fd, name_.c_str(), O_RDONLY | O_DIRECTORY);
    close(fd);
    fd = next;
  }
  if (fd < 0) throw std::runtime_error("cannot make the deep folders");
  close(fd);
}

TooDeepFolders::~TooDeepFolders() {
  std::vector<int> fds = {open(parent_.c_str(), O_RDONLY | O_DIRECTORY)};
  for (int i = 1; i < kDepth; ++i) {
    fds.push_back(openat(fds.back(), name_.c_str(), O_RDONLY | O_DIRECTORY));
  }
  for (int i = kDepth - 1; i >= 0; --i) {
    unlinkat(fds[i], name_.c_str(), AT_REMOVEDIR);
    close(fds[i]);
  }
}

}  // namespace vs::test

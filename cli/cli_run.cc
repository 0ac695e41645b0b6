#include "cli/cli_run.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <system_error>
#include <new>

#include "cli/stop_on_signals.h"
#include "engine/replace_engine.h"

namespace vs {

// The engine of a run its process ends after, where leak checkers find it
// still reachable. (Outside any unnamed namespace, so the compiler keeps
// the store to it.)
const ReplaceEngine* engine_left_to_the_exit = nullptr;

namespace {

// Prints problems as the walk meets them; the changed files are listed
// from the change log once the walk is over.
class CliObserver final : public RunObserver {
 public:
  CliObserver(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

  void OnProblem(const Problem& problem) override {
    // Out of memory is told once the run is over, with what it means
    // for the listing.
    if (problem.kind == Problem::Kind::kOutOfMemory) return;
    if (problem.kind == Problem::Kind::kUnlistedFolder)
      out_ << "Error get the next file\n";
    err_ << kProgramName << ": " << problem.Describe() << std::endl;
  }

 private:
  std::ostream& out_;
  std::ostream& err_;
};

// Change entries past this many bytes go to a scratch file, which keeps
// the whole process under 256 MiB: the rest is new texts and reads in
// hand. Tests set a smaller one through the environment.
constexpr std::size_t kChangeMemoryBudget = std::size_t{64} << 20;
constexpr char kBudgetVariable[] = "VELLUMSHAPER_CHANGE_MEMORY_BUDGET";

std::size_t ChangeMemoryBudget() {
  const char* value = std::getenv(kBudgetVariable);
  if (!value || !*value) return kChangeMemoryBudget;
  char* end = nullptr;
  const unsigned long long bytes = std::strtoull(value, &end, 10);
  return *end == '\0' && bytes > 0 ? static_cast<std::size_t>(bytes)
                                    : kChangeMemoryBudget;
}

RunSettings SettingsOf(const CliOptions& options) {
  RunSettings settings;
  settings.base_dir = options.base_dir;
  settings.find = options.find;
  settings.replace = options.replace;
  settings.sub_folders = options.sub_folders;
  settings.change_names = options.change_names;
  settings.change_text = options.change_text;
  settings.dry_run = options.dry_run;
  settings.change_memory_budget = ChangeMemoryBudget();
  settings.code_page =
      options.code_page ? CodePage(*options.code_page) : CodePage::FromLocale();
  return settings;
}

// Every file with entries, which are the files that changed or failed
// to change, in byte order of the paths: the log's own order.
void PrintFiles(const ChangeLog& log, std::ostream& out) {
  for (const auto& [path, entries] : log) {
    if (entries.empty()) continue;
    out << path << '\n';
    for (const std::string& entry : entries) {
      out << '\t' << entry << '\n';
    }
  }
  out.flush();
}

constexpr char kOutOfMemoryMessage[] =
    "out of memory: the run stopped; files listed were changed, "
    "no other file was";
constexpr char kOutOfMemoryInListing[] =
    "out of memory while listing: the run is over, but the listing "
    "above is incomplete";

// Prints the listing; false, with the reason in `error`, when it stopped
// part-way: memory ran out, or spilled entries could not be read back.
bool ListAll(const ChangeLog& log, std::ostream& out, std::string* error) {
  try {
    PrintFiles(log, out);
    return true;
  } catch (const std::bad_alloc&) {
    *error = kOutOfMemoryInListing;
  } catch (const std::system_error& e) {
    *error = std::string(e.what()) + ": the listing above is incomplete";
  }
  out.flush();
  return false;
}

int PrintUsageError(const std::string& message, std::ostream& err) {
  err << kProgramName << ": error: " << message << '\n'
      << "Try '" << kProgramName << " --help'.\n";
  return kExitUsage;
}

// Ended by the signal: 128 and its number, as a shell reports it.
int StatusOfSignal(int signal_number) { return 128 + signal_number; }

}  // namespace

int RunCli(const CliOptions& options, std::ostream& out, std::ostream& err,
           bool process_ends_after) {
  auto observer = std::make_unique<CliObserver>(out, err);
  auto engine =
      std::make_unique<ReplaceEngine>(observer.get(), RealFileSystem());
  engine->set_settings(SettingsOf(options));
  int status;
  {
    StopOnSignals stop_on_signals(engine.get());
    engine->ProcessFolder(engine->settings().base_dir);
    std::string listing_error;
    const bool listed = ListAll(engine->change_log(), out, &listing_error);
    status = engine->problems().any() ? kExitFailure : kExitSuccess;
    if (engine->problems().out_of_memory) {
      err << kProgramName << ": " << kOutOfMemoryMessage << std::endl;
    } else if (!listed) {
      err << kProgramName << ": " << listing_error << std::endl;
      status = kExitFailure;
    }
    if (stop_on_signals.caught()) status = StatusOfSignal(stop_on_signals.caught());
  }
  if (process_ends_after) {
    engine_left_to_the_exit = engine.release();
    observer.release();
  }
  return status;
}

int CliMain(const std::vector<std::string>& args, std::ostream& out,
            std::ostream& err, bool process_ends_after) {
  ParseResult parsed = ParseCommandLine(args);
  switch (parsed.action) {
    case ParseResult::Action::kHelp:
      out << kUsage << std::flush;
      return kExitSuccess;
    case ParseResult::Action::kVersion:
      out << kProgramName << ' ' << kProgramVersion << std::endl;
      return kExitSuccess;
    case ParseResult::Action::kUsageError:
      return PrintUsageError(parsed.error, err);
    case ParseResult::Action::kRun:
      break;
  }
  return RunCli(parsed.options, out, err, process_ends_after);
}

}  // namespace vs

#include "cli/cli_run.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "cli/git_ignore_rules.h"
#include "cli/output.h"
#include "cli/past_runs_commands.h"
#include "cli/run_report.h"
#include "cli/stop_on_signals.h"
#include "engine/line_pattern.h"
#include "engine/replace_engine.h"
#include "engine/run_lock.h"
#include "engine/state_folder.h"

namespace vs {

// The engine of a run its process ends after, where leak checkers find it
// still reachable. (Outside any unnamed namespace, so the compiler keeps
// the store to it.)
const ReplaceEngine* engine_left_to_the_exit = nullptr;

namespace {

// Prints problems as the walk meets them, and hands them and the files
// the walk finishes to the report; the rest of the report is written
// from the change log once the walk is over. Output failing during the
// walk stops the run: nobody would learn what it changes from then on.
class CliObserver final : public RunObserver {
 public:
  CliObserver(RunReport* report, Output* out, Output* err)
      : report_(*report), out_(*out), err_(*err) {}

  void set_engine(ReplaceEngine* engine) { engine_ = engine; }
  // Counts what the files' entries tell (for the summary), if asked to;
  // it reads every entry of every listed file once more.
  void set_count_files(bool count) { count_files_ = count; }
  const FileCounts& file_counts() const { return file_counts_; }
  // Draws `line`, if given, as the walk goes: it must outlive the walk.
  void set_progress_line(ProgressLine* line) { progress_line_ = line; }
  // Whether the run was stopped because its output could not be written.
  bool stopped_for_output() const { return stopped_for_output_; }

  void OnProblem(const Problem& problem) override {
    // Out of memory is told once the run is over, with what it means
    // for the listing.
    if (problem.kind == Problem::Kind::kOutOfMemory) return;
    if (!out_.failed()) {
      report_.Problem(problem);
      // Out before the message, so that the two read in order where both
      // go to one place; and what fails is found here, with its reason,
      // not in the flush the message's stream would do of this one.
      if (!out_.Flush()) StopForOutput();
    }
    err_.Words(kProgramName).Words(": ").Text(problem.Describe()).Words("\n");
    err_.Flush();
  }

  void OnLineTexts(const std::string&, ChangeList line_texts) override {
    line_texts_ = std::move(line_texts);
  }

  // Entries or kept lines that cannot be read back from the scratch file
  // leave the output incomplete: the run stops as for a failed write.
  // (Out of memory goes on to the engine, which stops the run for it.)
  void OnFileChanged(const std::string& path,
                     const ChangeList& changes) override {
    if (count_files_) CountFile(changes);
    if (!out_.failed() && report_error_.empty()) {
      try {
        report_.File(path, changes, line_texts_);
      } catch (const std::system_error& e) {
        report_error_ = e.what();
        StopForOutput();
      }
      if (!out_.Good()) StopForOutput();
    }
    // Let go of the scratch file's share too: the engine, which owns the
    // scratch file, goes before this observer.
    line_texts_ = ChangeList();
  }

  // A clock reading a file, a line a few times a second. What the report
  // has written to a terminal is flushed first, so that it reaches the
  // screen before the line drawn after it, not onto it.
  void OnProgress(const RunProgress& progress) override {
    if (!progress_line_) return;
    const ProgressLine::Clock::time_point now = ProgressLine::Clock::now();
    if (!progress_line_->Due(now)) return;
    if (out_.is_terminal() && !out_.failed() && !out_.Flush())
      StopForOutput();
    progress_line_->Show(progress, now);
  }

  // Why the output is incomplete, if it is for something other than a
  // failed write; "" when it is not.
  const std::string& report_error() const { return report_error_; }

 private:
  // Entries that cannot be read back leave the counts short; the listing
  // tells of them.
  void CountFile(const ChangeList& changes) {
    try {
      file_counts_.Add(changes);
    } catch (const std::system_error&) {
    }
  }

  void StopForOutput() {
    stopped_for_output_ = true;
    if (engine_) engine_->RequestStop();
  }

  RunReport& report_;
  Output& out_;
  Output& err_;
  // The file's, from OnLineTexts until OnFileChanged.
  ChangeList line_texts_;
  std::string report_error_;
  ReplaceEngine* engine_ = nullptr;
  ProgressLine* progress_line_ = nullptr;
  FileCounts file_counts_;
  bool count_files_ = false;
  bool stopped_for_output_ = false;
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
  settings.modes = options.modes;
  settings.sub_folders = options.sub_folders;
  settings.change_names = options.change_names;
  settings.change_text = options.change_text;
  settings.dry_run = options.dry_run;
  settings.change_memory_budget = ChangeMemoryBudget();
  settings.code_page =
      options.code_page ? CodePage(*options.code_page) : CodePage::FromLocale();
  settings.filter = options.filter;
  settings.include_vcs = options.include_vcs;
  settings.one_file_system = options.one_file_system;
  // A run that writes keeps its undo journal (a dry run keeps none),
  // unless told not to.
  if (!options.no_undo) settings.state_folder = StateFolder();
  return settings;
}

// `bytes` for a person: "512 bytes", "1.5 KiB", "20.0 MiB", ...
std::string HumanSize(std::uint64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " bytes";
  static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB"};
  double size = static_cast<double>(bytes) / 1024;
  std::size_t unit = 0;
  while (size >= 1024 && unit + 1 < std::size(kUnits)) {
    size /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", size, kUnits[unit]);
  return text;
}

// Old texts copied, not moved, cost the space of the files: said once.
void TellCopiedOldTexts(const JournalSummary& journal, Output* err) {
  if (journal.bytes_copied == 0) return;
  err->Words(kProgramName)
      .Words(": the undo journal is on another file system than the tree: ")
      .Words(HumanSize(journal.bytes_copied).c_str())
      .Words(" of old text were copied into it\n");
  err->Flush();
}

constexpr char kOutOfMemoryMessage[] =
    "out of memory: the run stopped; files listed were changed, "
    "no other file was";
constexpr char kOutOfMemoryInListing[] =
    "out of memory while listing: the run is over, but the listing "
    "above is incomplete";

// Ends the report; false, with the reason in `error`, when it stopped
// part-way: memory ran out, or spilled entries could not be read back.
bool ListAll(const ChangeLog& log, const RunEnd& end, RunReport* report,
             Output* out, std::string* error) {
  try {
    report->End(log, end);
    out->Flush();
    return true;
  } catch (const std::bad_alloc&) {
    *error = kOutOfMemoryInListing;
  } catch (const std::system_error& e) {
    *error = std::string(e.what()) + ": the listing above is incomplete";
  }
  out->Flush();
  return false;
}

// Tells on `err` that the output could not be written, and whether the
// run stopped for it.
void TellOutputFailure(const Output& out, bool run_stopped, Output* err) {
  err->Words(kProgramName).Words(": ").Text(out.Failure());
  if (run_stopped)
    err->Words(" (the run stopped, the files it had begun finished)");
  err->Words("\n");
  err->Flush();
}

// Tells on `err` what the ignore rules could not work out (the paths
// were left alone); true when there was any.
bool TellIgnoreProblems(const GitIgnoreRules& rules, Output* err) {
  const std::vector<std::string> problems = rules.problems();
  for (const std::string& problem : problems)
    err->Words(kProgramName).Words(": ").Text(problem).Words("\n");
  err->Flush();
  return !problems.empty();
}

// The message may quote an argument, a path perhaps: on a terminal it is
// escaped as names are.
int PrintUsageError(const std::string& message, std::ostream& err_stream,
                    bool err_is_terminal) {
  const CodePage code_page = CodePage::FromLocale();
  Output err(err_stream, err_is_terminal, code_page);
  err.Words(kProgramName).Words(": error: ").Text(message).Words("\n");
  err.Words("Try '").Words(kProgramName).Words(" --help'.\n");
  err.Flush();
  return kExitUsage;
}

// The help or the version: a text of the program's own.
int PrintAll(const std::string& text, std::ostream& out_stream,
             std::ostream& err_stream) {
  const CodePage any;
  Output out(out_stream, false, any);
  Output err(err_stream, false, any);
  out.Words(text.c_str());
  if (out.Flush()) return kExitSuccess;
  TellOutputFailure(out, /*run_stopped=*/false, &err);
  return kExitFailure;
}

// The progress line, if `line`, takes the terminal it shares with the
// outputs: each clears it before it writes. Standard output shares it
// only when it is a terminal too (the same one, as likely as not).
void ShareTerminal(ProgressLine* line, const OutputKinds& kinds, Output* out,
                   Output* err) {
  err->set_line_to_clear(line);
  if (kinds.out_is_terminal) out->set_line_to_clear(line);
}

}  // namespace

int StatusOfSignal(int signal_number) { return 128 + signal_number; }

int TakeRunLock(const std::string& base_dir, bool no_wait,
                const StopOnSignals& signals, Output* err,
                std::unique_ptr<RunLock>* lock) {
  RunLock::Options lock_options;
  lock_options.no_wait = no_wait;
  lock_options.on_wait = [err](pid_t pid) {
    err->Words(kProgramName)
        .Words(": waiting for another run in this tree (pid ")
        .Words(std::to_string(pid).c_str())
        .Words(") to end\n");
    err->Flush();
  };
  lock_options.stopped = [&signals] { return signals.caught() != 0; };
  Status status = RunLock::Take(base_dir, lock_options, lock);
  if (status.ok()) return kExitSuccess;
  if (signals.caught()) return StatusOfSignal(signals.caught());
  err->Words(kProgramName).Words(": ").Text(status.reason()).Words("\n");
  err->Flush();
  return kExitFailure;
}

int RunCli(const CliOptions& options, std::ostream& out_stream,
           std::ostream& err_stream, const OutputKinds& kinds,
           bool process_ends_after) {
  RunSettings settings = SettingsOf(options);
  // A pattern that cannot run is a bad command line, told before anything
  // is walked.
  const std::string bad_pattern = MatchingError(settings);
  if (!bad_pattern.empty())
    return PrintUsageError(bad_pattern, err_stream, kinds.err_is_terminal);
  Output out(out_stream, kinds.out_is_terminal, settings.code_page);
  Output err(err_stream, kinds.err_is_terminal, settings.code_page);
  std::shared_ptr<GitIgnoreRules> git_ignore;
  if (options.gitignore) {
    // A repository that cannot be read: no run, as nothing could tell
    // which files it ignores.
    std::string error;
    git_ignore = GitIgnoreRules::ForTree(options.base_dir, &error);
    if (!git_ignore) {
      err.Words(kProgramName).Words(": ").Text(error).Words("\n");
      err.Flush();
      return kExitFailure;
    }
    settings.ignore_rules = git_ignore;
  }
  out.set_colored(options.format != OutputFormat::kJson &&
                  UseColor(options.color, kinds));
  const std::unique_ptr<RunReport> report =
      MakeRunReport(options.format, options.quiet, options.base_dir, &out);
  settings.keep_line_texts = report->NeedsLineTexts();
  auto observer = std::make_unique<CliObserver>(report.get(), &out, &err);
  observer->set_count_files(options.stats ||
                            options.format == OutputFormat::kJson);
  auto engine =
      std::make_unique<ReplaceEngine>(observer.get(), RealFileSystem());
  observer->set_engine(engine.get());
  engine->set_settings(settings);
  int status;
  {
    StopOnSignals stop_on_signals(engine.get());
    std::unique_ptr<RunLock> lock;
    if (!options.dry_run) {
      status = TakeRunLock(options.base_dir, options.no_wait, stop_on_signals,
                           &err, &lock);
      if (status != kExitSuccess) return status;
    }
    const auto start = std::chrono::steady_clock::now();
    std::optional<ProgressLine> progress_line;
    if (kinds.err_is_terminal) {
      progress_line.emplace(err_stream, start, kinds.progress);
      ShareTerminal(&*progress_line, kinds, &out, &err);
      observer->set_progress_line(&*progress_line);
    }
    engine->ProcessFolder(engine->settings().base_dir);
    if (progress_line) {
      progress_line->Finish();
      observer->set_progress_line(nullptr);
      ShareTerminal(nullptr, kinds, &out, &err);
    }
    RunEnd end;
    end.progress = engine->progress();
    end.problems = engine->problems();
    end.files = observer->file_counts();
    end.dry_run = settings.dry_run;
    end.stopped = stop_on_signals.caught() != 0 ||
                  end.problems.out_of_memory || end.problems.journal ||
                  observer->stopped_for_output();
    end.seconds = std::chrono::duration<double>(
                      std::chrono::steady_clock::now() - start)
                      .count();
    std::string listing_error = observer->report_error();
    bool listed = false;
    if (!listing_error.empty()) {
      out.Flush();
      listing_error += ": the output above is incomplete (the run stopped, "
                       "the files it had begun finished)";
    } else {
      listed = out.failed() || ListAll(engine->change_log(), end,
                                       report.get(), &out, &listing_error);
    }
    status = engine->problems().any() ? kExitFailure : kExitSuccess;
    if (engine->problems().out_of_memory) {
      err.Words(kProgramName).Words(": ").Words(kOutOfMemoryMessage);
      err.Words("\n");
      err.Flush();
    } else if (!listed) {
      err.Words(kProgramName).Words(": ").Text(listing_error).Words("\n");
      err.Flush();
      status = kExitFailure;
    }
    if (git_ignore && TellIgnoreProblems(*git_ignore, &err))
      status = kExitFailure;
    if (out.failed()) {
      TellOutputFailure(out, observer->stopped_for_output(), &err);
      status = kExitFailure;
    }
    TellCopiedOldTexts(engine->journal_summary(), &err);
    if (stop_on_signals.caught())
      status = StatusOfSignal(stop_on_signals.caught());
    // Last, below every message; the numbers the JSON summary gives.
    if (options.stats) WriteStats(end, &err);
  }
  if (process_ends_after) {
    engine_left_to_the_exit = engine.release();
    observer.release();
  }
  return status;
}

bool UseColor(ColorMode mode, const OutputKinds& kinds) {
  switch (mode) {
    case ColorMode::kAlways:
      return true;
    case ColorMode::kNever:
      return false;
    case ColorMode::kAuto:
      break;
  }
  return kinds.out_is_terminal && !kinds.no_color;
}

int CliMain(const std::vector<std::string>& args, std::ostream& out,
            std::ostream& err, const OutputKinds& kinds,
            bool process_ends_after) {
  ParseResult parsed = ParseCommandLine(args);
  switch (parsed.action) {
    case ParseResult::Action::kHelp:
      return PrintAll(kUsage, out, err);
    case ParseResult::Action::kVersion:
      return PrintAll(std::string(kProgramName) + ' ' + kProgramVersion + '\n',
                      out, err);
    case ParseResult::Action::kUsageError:
      return PrintUsageError(parsed.error, err, kinds.err_is_terminal);
    case ParseResult::Action::kRun:
      break;
  }
  if (parsed.options.command != Command::kRun)
    return RunPastRunsCommand(parsed.options, out, err, kinds);
  return RunCli(parsed.options, out, err, kinds, process_ends_after);
}

}  // namespace vs

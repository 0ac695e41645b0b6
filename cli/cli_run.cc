#include "cli/cli_run.h"

#include <algorithm>
#include <memory>

#include "cli/output.h"
#include "cli/stop_on_signals.h"
#include "engine/replace_engine.h"

namespace vs {

// The engine of a run its process ends after, where leak checkers find it
// still reachable. (Outside any unnamed namespace, so the compiler keeps
// the store to it.)
const ReplaceEngine* engine_left_to_the_exit = nullptr;

namespace {

// Prints problems as the walk meets them, and keeps the changed files to
// be listed once the walk is over. The listing failing during the walk
// stops the run: nobody would learn what it changes from then on.
class CliObserver final : public RunObserver {
 public:
  CliObserver(Output* out, Output* err) : out_(*out), err_(*err) {}

  void set_engine(ReplaceEngine* engine) { engine_ = engine; }
  // Whether the run was stopped because its listing could not be written.
  bool stopped_for_output() const { return stopped_for_output_; }

  void OnFileChanged(const std::string& path, const ChangeList&) override {
    files_.push_back(path);
  }
  void OnProblem(const Problem& problem) override {
    if (!out_.failed()) {
      if (problem.kind == Problem::Kind::kUnlistedFolder)
        out_.Words("Error get the next file\n");
      // Out before the message, so that the two read in order where both
      // go to one place; and what fails is found here, with its reason,
      // not in the flush the message's stream would do of this one.
      if (!out_.Flush()) StopForOutput();
    }
    err_.Words(kProgramName).Words(": ").Text(problem.Describe()).Words("\n");
    err_.Flush();
  }

  // The changed paths in byte order, each once.
  std::vector<std::string> SortedFiles() const {
    std::vector<std::string> files = files_;
    std::sort(files.begin(), files.end());
    files.erase(std::unique(files.begin(), files.end()), files.end());
    return files;
  }

 private:
  void StopForOutput() {
    stopped_for_output_ = true;
    if (engine_) engine_->RequestStop();
  }

  Output& out_;
  Output& err_;
  ReplaceEngine* engine_ = nullptr;
  bool stopped_for_output_ = false;
  std::vector<std::string> files_;
};

RunSettings SettingsOf(const CliOptions& options) {
  RunSettings settings;
  settings.base_dir = options.base_dir;
  settings.find = options.find;
  settings.replace = options.replace;
  settings.sub_folders = options.sub_folders;
  settings.change_names = options.change_names;
  settings.change_text = options.change_text;
  settings.dry_run = options.dry_run;
  settings.code_page =
      options.code_page ? CodePage(*options.code_page) : CodePage::FromLocale();
  settings.filter = options.filter;
  settings.include_vcs = options.include_vcs;
  return settings;
}

// Gives up at the first write that fails: the rest could not go anywhere.
void PrintFiles(const std::vector<std::string>& files, const ChangeLog& log,
                Output* out) {
  for (const std::string& path : files) {
    out->Text(path).Words("\n");
    for (const std::string& entry : log.Entries(path)) {
      out->Words("\t").Text(entry).Words("\n");
    }
    if (!out->Good()) return;
  }
  out->Flush();
}

// Tells on `err` that the listing could not be written, and whether the
// run stopped for it.
void TellOutputFailure(const Output& out, bool run_stopped, Output* err) {
  err->Words(kProgramName).Words(": ").Text(out.Failure());
  if (run_stopped)
    err->Words(" (the run stopped, the files it had begun finished)");
  err->Words("\n");
  err->Flush();
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

// Ended by the signal: 128 and its number, as a shell reports it.
int StatusOfSignal(int signal_number) { return 128 + signal_number; }

}  // namespace

int RunCli(const CliOptions& options, std::ostream& out_stream,
           std::ostream& err_stream, const OutputKinds& kinds,
           bool process_ends_after) {
  const RunSettings settings = SettingsOf(options);
  Output out(out_stream, kinds.out_is_terminal, settings.code_page);
  Output err(err_stream, kinds.err_is_terminal, settings.code_page);
  auto observer = std::make_unique<CliObserver>(&out, &err);
  auto engine =
      std::make_unique<ReplaceEngine>(observer.get(), RealFileSystem());
  observer->set_engine(engine.get());
  engine->set_settings(settings);
  int status;
  {
    StopOnSignals stop_on_signals(engine.get());
    engine->ProcessFolder(engine->settings().base_dir);
    if (!out.failed())
      PrintFiles(observer->SortedFiles(), engine->change_log(), &out);
    status = engine->problems().any() ? kExitFailure : kExitSuccess;
    if (out.failed()) {
      TellOutputFailure(out, observer->stopped_for_output(), &err);
      status = kExitFailure;
    }
    if (stop_on_signals.caught())
      status = StatusOfSignal(stop_on_signals.caught());
  }
  if (process_ends_after) {
    engine_left_to_the_exit = engine.release();
    observer.release();
  }
  return status;
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
  return RunCli(parsed.options, out, err, kinds, process_ends_after);
}

}  // namespace vs

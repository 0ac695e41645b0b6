#include "cli/past_runs_commands.h"

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "cli/json_text.h"
#include "cli/output.h"
#include "cli/run_report.h"
#include "cli/run_summary.h"
#include "cli/stop_on_signals.h"
#include "engine/change_log.h"
#include "engine/past_runs.h"
#include "engine/run_lock.h"
#include "engine/undo_run.h"

namespace vs {
namespace {

// Collects what an undo tells, for the report at its end.
class UndoObserver final : public RunObserver {
 public:
  void OnFileChanged(const std::string& path,
                     const ChangeList& changes) override {
    log_.Record(path, changes);
    files_.Add(changes);
  }
  const ChangeLog& log() const { return log_; }
  const FileCounts& files() const { return files_; }

 private:
  ChangeLog log_;
  FileCounts files_;
};

// The program's own message on `err`; returns `status`.
int Tell(Output* err, const std::string& message, int status) {
  err->Words(kProgramName).Words(": ").Text(message).Words("\n");
  err->Flush();
  return status;
}

// The status a failure to read or find a run gives.
int StatusOf(const Status& status) {
  return status.code() == Status::Code::kNotFound ? kExitUsage : kExitFailure;
}

// Writes the report's end and says whether the output went through.
int EndReport(RunReport* report, const ChangeLog& log, const RunEnd& end,
              Output* out, Output* err, int status) {
  report->End(log, end);
  if (out->Flush()) return status;
  return Tell(err, out->Failure(), kExitFailure);
}

std::string Time(std::int64_t seconds) {
  const std::time_t time = static_cast<std::time_t>(seconds);
  std::tm tm = {};
  char text[32] = "";
  if (gmtime_r(&time, &tm))
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm);
  return text;
}

const char* EndingName(RunEnding ending) {
  switch (ending) {
    case RunEnding::kFinished: return "finished";
    case RunEnding::kStopped: return "stopped";
    case RunEnding::kKilled: break;
  }
  return "killed";
}

// A damage's reason without the words every one starts with.
std::string DamageOf(const RunSummary& run) {
  constexpr std::string_view kStart = "damaged journal: ";
  std::string_view damage = run.damage;
  if (damage.substr(0, kStart.size()) == kStart)
    damage.remove_prefix(kStart.size());
  return std::string(damage);
}

// ID, start, base folder, find -> replace, counts, how it ended, the
// bytes its old versions hold: TAB between them.
void ListRunLine(const RunSummary& run, Output* out) {
  out->StartPaint(Paint::kPath).Text(run.id).EndPaint().Words("\t");
  if (run.damaged()) {
    out->StartPaint(Paint::kFailure).Words("damaged journal: ");
    out->Text(DamageOf(run)).EndPaint();
  } else {
    const JournalHeader& h = run.header;
    out->Words(Time(h.started).c_str()).Words("\t").Text(h.base_dir);
    out->Words("\t").Text(h.find).Words(" \u2192 ").Text(h.replace);
    out->Words("\t")
        .Words(std::to_string(run.files_changed).c_str())
        .Words(" changed, ")
        .Words(std::to_string(run.files_renamed).c_str())
        .Words(" renamed\t")
        .Words(EndingName(run.ending));
    if (run.undone) out->Words(", undone");
  }
  out->Words("\t").Words(std::to_string(run.old_bytes).c_str());
  out->Words(" bytes held\n");
}

void AppendField(const char* name, std::string* json) {
  json->append(",\"").append(name).append("\":");
}

// {"type":"run","id":ID,"started":N,"ended":N|null,"base":PATH,
//  "find":T,"replace":T,"files_changed":N,"files_renamed":N,
//  "ending":"finished"|"stopped"|"killed","undone":B,"old_bytes":N}, or
// for a damaged journal {"type":"run","id":ID,"damaged":REASON,
//  "old_bytes":N}.
void JsonRunLine(const RunSummary& run, Output* out) {
  std::string json = "{\"type\":\"run\"";
  AppendField("id", &json);
  AppendJsonMessage(run.id, &json);
  if (run.damaged()) {
    AppendField("damaged", &json);
    AppendJsonMessage(DamageOf(run), &json);
  } else {
    const JournalHeader& h = run.header;
    AppendField("started", &json);
    json += std::to_string(h.started);
    AppendField("ended", &json);
    json += run.ending == RunEnding::kKilled ? std::string("null")
                                             : std::to_string(run.ended);
    AppendField("base", &json);
    AppendJsonBytes(h.base_dir, &json);
    AppendField("find", &json);
    AppendJsonBytes(h.find, &json);
    AppendField("replace", &json);
    AppendJsonBytes(h.replace, &json);
    AppendField("files_changed", &json);
    json += std::to_string(run.files_changed);
    AppendField("files_renamed", &json);
    json += std::to_string(run.files_renamed);
    AppendField("ending", &json);
    json.append("\"").append(EndingName(run.ending)).append("\"");
    AppendField("undone", &json);
    json += run.undone ? "true" : "false";
  }
  AppendField("old_bytes", &json);
  json += std::to_string(run.old_bytes);
  json += "}\n";
  out->Raw(json);
}

int ListRunsCommand(const CliOptions& options, Output* out, Output* err) {
  std::vector<RunSummary> runs;
  Status status = ListRuns(RealFileSystem(), RunsFolder(), &runs);
  if (!status.ok())
    return Tell(err, "cannot list the runs: " + status.reason(), kExitFailure);
  if (options.quiet) return kExitSuccess;
  for (const RunSummary& run : runs) {
    if (options.format == OutputFormat::kJson) {
      JsonRunLine(run, out);
    } else {
      ListRunLine(run, out);
    }
  }
  if (!out->Flush()) return Tell(err, out->Failure(), kExitFailure);
  return kExitSuccess;
}

// A file's path as the run found it.
std::string FoundPath(const JournalHeader& header, const JournalRecord& r) {
  std::string path = header.base_dir;
  if (path.empty() || path.back() != '/') path.push_back('/');
  if (!r.folder.empty()) path += r.folder + "/";
  return path + r.name;
}

int ShowRunCommand(const CliOptions& options, Output* out, Output* err) {
  PastRun run;
  Status status = LoadRun(RealFileSystem(), RunsFolder(), options.run_id, &run);
  if (!status.ok()) return Tell(err, status.reason(), StatusOf(status));
  ChangeLog log;
  RunEnd end;
  for (const JournalRecord& r : run.changes.records) {
    auto entries = run.changes.entries.find(r.number);
    if (entries == run.changes.entries.end()) continue;
    ChangeList list;
    for (const std::string& entry : entries->second) list.push_back(entry);
    end.files.Add(list);
    ++end.progress.files_changed;
    log.Record(FoundPath(run.summary.header, r), std::move(list));
  }
  end.stopped = run.summary.ending != RunEnding::kFinished;
  const std::unique_ptr<RunReport> report = MakeRunReport(
      options.format, options.quiet, run.summary.header.base_dir, out);
  return EndReport(report.get(), log, end, out, err, kExitSuccess);
}

int ForgetCommand(const CliOptions& options, Output* err) {
  FileSystem* fs = RealFileSystem();
  if (options.run_id != "all") {
    Status status = ForgetRun(fs, RunsFolder(), options.run_id);
    if (status.ok()) return kExitSuccess;
    return Tell(err, status.code() == Status::Code::kNotFound
                         ? status.reason()
                         : "cannot forget run " + options.run_id + ": " +
                               status.reason(),
                StatusOf(status));
  }
  Status status = ForgetAllRuns(fs, RunsFolder());
  if (status.ok()) return kExitSuccess;
  return Tell(err, "cannot forget every run: " + status.reason(),
              kExitFailure);
}

// The run --undo means: the one named, or the latest not undone yet (a
// damaged one counts: it is refused, not passed over).
int PickRunToUndo(const CliOptions& options, Output* err, std::string* id) {
  if (!options.run_id.empty()) {
    *id = options.run_id;
    return kExitSuccess;
  }
  RunSummary run;
  bool found = false, any_kept = false;
  Status status =
      LatestRunToUndo(RealFileSystem(), RunsFolder(), &run, &found, &any_kept);
  if (!status.ok())
    return Tell(err, "cannot list the runs: " + status.reason(), kExitFailure);
  if (!any_kept)
    return Tell(err, "no run to undo: the journal keeps none", kExitUsage);
  if (!found)
    return Tell(err, "no run to undo: every run kept was undone already",
                kExitUsage);
  *id = run.id;
  return kExitSuccess;
}

int UndoCommand(const CliOptions& options, const OutputKinds& kinds,
                Output* out, Output* err) {
  std::string id;
  int result = PickRunToUndo(options, err, &id);
  if (result != kExitSuccess) return result;
  PastRun run;
  Status status = LoadRun(RealFileSystem(), RunsFolder(), id, &run);
  if (status.ok() && run.summary.undone)
    status = Status::Error(Status::Code::kExists,
                           "run " + id + " was undone already");
  if (!status.ok())
    return Tell(err, status.reason(),
                status.code() == Status::Code::kIOError ? kExitFailure
                                                        : kExitUsage);
  UndoObserver observer;
  UndoRun undo(&observer, RealFileSystem());
  StopOnSignals stop_on_signals(&undo);
  std::unique_ptr<RunLock> lock;
  if (!options.dry_run) {
    result = TakeRunLock(run.summary.header.base_dir, options.no_wait,
                         stop_on_signals, err, &lock);
    if (result != kExitSuccess) return result;
  }
  // Read and checked again under the lock: what counts is the journal
  // and the tree as they are now.
  status = undo.Undo(RunsFolder(), id, options.dry_run);
  if (!status.ok())
    return Tell(err, status.reason(),
                status.code() == Status::Code::kIOError ? kExitFailure
                                                        : kExitUsage);
  out->set_colored(options.format != OutputFormat::kJson &&
                   UseColor(options.color, kinds));
  RunEnd end;
  end.files = observer.files();
  end.progress.files_changed = observer.log().size();
  end.dry_run = options.dry_run;
  end.stopped = undo.stop_requested();
  const std::unique_ptr<RunReport> report = MakeRunReport(
      options.format, options.quiet, run.summary.header.base_dir, out);
  result = EndReport(report.get(), observer.log(), end, out, err,
                     undo.failures() ? kExitFailure : kExitSuccess);
  if (!undo.mark_failure().empty())
    result = Tell(err, undo.mark_failure(), kExitFailure);
  if (undo.failures() && !options.dry_run && !undo.stop_requested())
    Tell(err, std::to_string(undo.failures()) +
                  " file(s) left alone; run " + id + " is marked undone",
         kExitFailure);
  if (stop_on_signals.caught()) {
    Tell(err, "the undo stopped: run it again to finish it", kExitFailure);
    return StatusOfSignal(stop_on_signals.caught());
  }
  return result;
}

}  // namespace

int RunPastRunsCommand(const CliOptions& options, std::ostream& out_stream,
                       std::ostream& err_stream, const OutputKinds& kinds) {
  const CodePage code_page = CodePage::FromLocale();
  Output out(out_stream, kinds.out_is_terminal, code_page);
  Output err(err_stream, kinds.err_is_terminal, code_page);
  out.set_colored(options.format != OutputFormat::kJson &&
                  UseColor(options.color, kinds));
  switch (options.command) {
    case Command::kListRuns:
      return ListRunsCommand(options, &out, &err);
    case Command::kShowRun:
      return ShowRunCommand(options, &out, &err);
    case Command::kForget:
      return ForgetCommand(options, &err);
    case Command::kUndo:
      return UndoCommand(options, kinds, &out, &err);
    case Command::kRun:
      break;
  }
  return kExitUsage;
}

}  // namespace vs

#include "cli/run_summary.h"

#include "cli/output.h"
#include "cli/run_report.h"
#include "engine/change_entry.h"

namespace vs {

void FileCounts::Add(const ChangeList& changes) {
  bool text_changed = false, renamed = false, failed = false;
  for (const std::string& entry : changes) {
    switch (ReadChangeEntry(entry).kind) {
      case ChangeEntry::Kind::kLine:
      case ChangeEntry::Kind::kRestoredText:
        text_changed = true;
        break;
      case ChangeEntry::Kind::kNewName:
      case ChangeEntry::Kind::kRestoredName:
        renamed = true;
        break;
      case ChangeEntry::Kind::kTextFailure:
      case ChangeEntry::Kind::kNameFailure:
      case ChangeEntry::Kind::kRestoreFailure:
      case ChangeEntry::Kind::kRestoreNameFailure:
        failed = true;
        break;
      case ChangeEntry::Kind::kOther:
        break;  // the engine makes none
    }
  }
  changed += text_changed || renamed;
  this->renamed += renamed;
  this->failed += failed;
}

// By hand: printf's decimal point is the locale's, perhaps a comma.
std::string FormatSeconds(double seconds) {
  const auto millis =
      static_cast<std::uint64_t>(seconds > 0 ? seconds * 1000 + 0.5 : 0);
  const std::string fraction = std::to_string(1000 + millis % 1000);
  return std::to_string(millis / 1000) + "." + fraction.substr(1, 3);
}

namespace {

void Line(const char* name, const std::string& value, Output* err) {
  err->Words(name).Words(value.c_str()).Words("\n");
}

}  // namespace

void WriteStats(const RunEnd& end, Output* err) {
  const auto number = [](std::uint64_t n) { return std::to_string(n); };
  const std::uint64_t problems =
      static_cast<std::uint64_t>(end.problems.unlisted_folders) +
      static_cast<std::uint64_t>(end.problems.unreadable_files) +
      static_cast<std::uint64_t>(end.problems.moved_folders) +
      static_cast<std::uint64_t>(end.problems.old_texts_lost);
  Line("files looked at: ", number(end.progress.files_looked_at), err);
  Line("files changed:   ", number(end.files.changed), err);
  Line("files renamed:   ", number(end.files.renamed), err);
  Line("files failed:    ", number(end.files.failed), err);
  Line("problems:        ", number(problems), err);
  Line("bytes read:      ", number(end.progress.bytes_read), err);
  Line("seconds:         ", FormatSeconds(end.seconds), err);
  if (end.dry_run) err->Words("a dry run: nothing was changed\n");
  if (end.stopped) err->Words("the run stopped before its end\n");
  err->Flush();
}

}  // namespace vs

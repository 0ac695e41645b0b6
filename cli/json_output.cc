#include "cli/json_output.h"

#include "cli/json_text.h"
#include "engine/change_entry.h"

namespace vs {
namespace {

// A record is handed to the output in pieces of about this size, so that
// a file with millions of changed lines is never held whole.
constexpr std::size_t kPieceSize = 64 * 1024;

const char* KindName(Problem::Kind kind) {
  switch (kind) {
    case Problem::Kind::kUnlistedFolder: return "unlisted_folder";
    case Problem::Kind::kUnreadableFile: return "unreadable_file";
    case Problem::Kind::kOutOfMemory: return "out_of_memory";
    case Problem::Kind::kMovedFolder: return "moved_folder";
    case Problem::Kind::kBadSettings: return "bad_settings";
    case Problem::Kind::kJournal: return "journal";
    case Problem::Kind::kOldTextLost: return "old_text_lost";
  }
  return "other";
}

void AppendField(const char* name, std::string* json) {
  json->push_back(',');
  json->push_back('"');
  json->append(name);
  json->append("\":");
}

void AppendNumber(std::uint64_t number, std::string* json) {
  json->append(std::to_string(number));
}

std::string ErrorRecord(const Problem& problem) {
  std::string json = "{\"type\":\"error\"";
  AppendField("kind", &json);
  json.append("\"").append(KindName(problem.kind)).append("\"");
  AppendField("path", &json);
  if (problem.kind == Problem::Kind::kOutOfMemory) {
    json.append("null");
  } else {
    AppendJsonBytes(problem.path, &json);
  }
  AppendField("reason", &json);
  AppendJsonMessage(problem.reason, &json);
  AppendField("message", &json);
  AppendJsonMessage(problem.Describe(), &json);
  json.append("}\n");
  return json;
}

// The opening of a failure's object: which change failed. An undo's
// failures are restores: of the whole file, or of its name.
const char* FailedChange(ChangeEntry::Kind kind) {
  switch (kind) {
    case ChangeEntry::Kind::kTextFailure: return "{\"change\":\"text\"";
    case ChangeEntry::Kind::kNameFailure: return "{\"change\":\"name\"";
    case ChangeEntry::Kind::kRestoreNameFailure:
      return "{\"change\":\"restore_name\"";
    default: break;
  }
  return "{\"change\":\"restore\"";
}

}  // namespace

void JsonReport::Problem(const vs::Problem& problem) {
  out_.Raw(ErrorRecord(problem));
}

void JsonReport::End(const ChangeLog& log, const RunEnd& end) {
  std::string json;
  for (const ChangeLog::Entry* file : log.not_empty()) {
    const auto& [path, entries] = *file;
    FileRecord(path, entries, &json);
    if (!out_.Good()) return;
  }
  if (end.problems.out_of_memory)
    out_.Raw(ErrorRecord({Problem::Kind::kOutOfMemory, "", ""}));
  Summary(end);
}

// {"type":"file","path":P,"lines":[{"line":N,"text":T}...],
//  "new_name":NAME or null,"failures":[{"change":"text"|"name",...}...]}
// An undo's record gives the old name back as "new_name", its failures
// as "restore" or "restore_name", and "restored_text":true when the old
// text came back.
// The lines come first, in the order of the file; the failures after.
void JsonReport::FileRecord(const std::string& path, const ChangeList& changes,
                            std::string* json) {
  json->assign("{\"type\":\"file\"");
  AppendField("path", json);
  AppendJsonBytes(path, json);
  AppendField("lines", json);
  json->push_back('[');
  bool first = true;
  std::string new_name;
  bool renamed = false, failed = false, restored_text = false;
  std::string failures;
  for (const std::string& entry_text : changes) {
    const ChangeEntry entry = ReadChangeEntry(entry_text);
    switch (entry.kind) {
      case ChangeEntry::Kind::kLine:
        if (!first) json->push_back(',');
        first = false;
        json->append("{\"line\":");
        AppendNumber(entry.number, json);
        AppendField("text", json);
        AppendJsonBytes(entry.text, json);
        json->push_back('}');
        if (json->size() >= kPieceSize) {
          out_.Raw(*json);
          json->clear();
        }
        break;
      case ChangeEntry::Kind::kNewName:
      case ChangeEntry::Kind::kRestoredName:
        renamed = true;
        new_name = entry.text;
        break;
      case ChangeEntry::Kind::kRestoredText:
        restored_text = true;
        break;
      case ChangeEntry::Kind::kTextFailure:
      case ChangeEntry::Kind::kNameFailure:
      case ChangeEntry::Kind::kRestoreFailure:
      case ChangeEntry::Kind::kRestoreNameFailure:
        failures.append(failed ? "," : "");
        failed = true;
        failures.append(FailedChange(entry.kind));
        if (entry.kind == ChangeEntry::Kind::kNameFailure ||
            entry.kind == ChangeEntry::Kind::kRestoreNameFailure) {
          AppendField("name", &failures);
          AppendJsonBytes(entry.text, &failures);
        }
        AppendField("reason", &failures);
        AppendJsonMessage(entry.reason, &failures);
        failures.push_back('}');
        break;
      case ChangeEntry::Kind::kOther:
        break;  // the engine makes none
    }
  }
  json->push_back(']');
  AppendField("new_name", json);
  if (renamed) {
    AppendJsonBytes(new_name, json);
  } else {
    json->append("null");
  }
  AppendField("failures", json);
  json->append("[").append(failures).append("]");
  // An undo's record says whether the old text came back.
  if (restored_text) json->append(",\"restored_text\":true");
  json->append("}\n");
  out_.Raw(*json);
}

// {"type":"summary","dry_run":B,"stopped":B,"files_looked_at":N,
//  "files_changed":N,"files_renamed":N,"files_failed":N,"problems":N,
//  "bytes_read":N,"seconds":S}
void JsonReport::Summary(const RunEnd& end) {
  std::string json = "{\"type\":\"summary\"";
  AppendField("dry_run", &json);
  json.append(end.dry_run ? "true" : "false");
  AppendField("stopped", &json);
  json.append(end.stopped ? "true" : "false");
  AppendField("files_looked_at", &json);
  AppendNumber(end.progress.files_looked_at, &json);
  AppendField("files_changed", &json);
  AppendNumber(end.files.changed, &json);
  AppendField("files_renamed", &json);
  AppendNumber(end.files.renamed, &json);
  AppendField("files_failed", &json);
  AppendNumber(end.files.failed, &json);
  AppendField("problems", &json);
  AppendNumber(static_cast<std::uint64_t>(end.problems.unlisted_folders) +
                   static_cast<std::uint64_t>(end.problems.unreadable_files) +
                   static_cast<std::uint64_t>(end.problems.moved_folders) +
                   static_cast<std::uint64_t>(end.problems.old_texts_lost),
               &json);
  AppendField("bytes_read", &json);
  AppendNumber(end.progress.bytes_read, &json);
  AppendField("seconds", &json);
  json.append(FormatSeconds(end.seconds)).append("}\n");
  out_.Raw(json);
}

}  // namespace vs

#include "engine/journal_records.h"

#include <charconv>
#include <cstdio>
#include <initializer_list>

namespace vs {
namespace {

constexpr char kHeaderMagic[] = "vellumshaper run journal 1";

void AppendEscaped(std::string* line, std::string_view field) {
  for (char c : field) {
    switch (c) {
      case '\\': line->append("\\\\"); break;
      case '\t': line->append("\\t"); break;
      case '\n': line->append("\\n"); break;
      case '\r': line->append("\\r"); break;
      default: line->push_back(c);
    }
  }
}

std::string Line(std::initializer_list<std::string_view> fields) {
  std::string line;
  bool first = true;
  for (std::string_view field : fields) {
    if (!first) line.push_back('\t');
    AppendEscaped(&line, field);
    first = false;
  }
  line.push_back('\n');
  return line;
}

// Splits one line (its newline taken off) into unescaped fields.
bool SplitFields(std::string_view line, std::vector<std::string>* fields) {
  fields->assign(1, std::string());
  for (std::size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (c == '\t') {
      fields->emplace_back();
      continue;
    }
    if (c == '\\') {
      if (++i == line.size()) return false;
      switch (line[i]) {
        case '\\': c = '\\'; break;
        case 't': c = '\t'; break;
        case 'n': c = '\n'; break;
        case 'r': c = '\r'; break;
        default: return false;
      }
    }
    fields->back().push_back(c);
  }
  return true;
}

template <class Number>
bool ParseNumber(const std::string& text, Number* number) {
  if (text.empty()) return false;
  auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), *number);
  return error == std::errc() && end == text.data() + text.size();
}

bool ParseFlag(const std::string& text, bool* flag) {
  if (text != "0" && text != "1") return false;
  *flag = text == "1";
  return true;
}

std::string Number(std::uint64_t n) { return std::to_string(n); }
std::string Flag(bool on) { return on ? "1" : "0"; }

Status Damaged(const std::string& what) {
  return Status::Error(Status::Code::kIOError, "damaged journal: " + what);
}

// Calls `line` with each complete line of `text`, numbered from 1; a
// last line without its newline is left out.
template <class Handle>
Status ForEachLine(std::string_view text, Handle line) {
  std::size_t number = 0;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) break;
    ++number;
    std::vector<std::string> fields;
    if (!SplitFields(text.substr(start, end - start), &fields))
      return Damaged("line " + std::to_string(number) + " does not decode");
    Status status = line(number, fields);
    if (!status.ok()) return status;
    start = end + 1;
  }
  return Status::Ok();
}

const char* OldTextWord(OldText kept) {
  switch (kept) {
    case OldText::kMoved: return "moved";
    case OldText::kCopied: return "copied";
    case OldText::kNone: break;
  }
  return "none";
}

bool ParseOldText(const std::string& word, OldText* kept) {
  for (OldText k : {OldText::kNone, OldText::kMoved, OldText::kCopied}) {
    if (word == OldTextWord(k)) {
      *kept = k;
      return true;
    }
  }
  return false;
}

bool IsPlainFolder(const std::string& folder) {
  if (folder.empty()) return true;
  for (std::size_t start = 0;;) {
    std::size_t slash = folder.find('/', start);
    std::string_view name =
        std::string_view(folder).substr(start, slash - start);
    if (!IsPlainName(name)) return false;
    if (slash == std::string::npos) return true;
    start = slash + 1;
  }
}

}  // namespace

bool IsPlainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

std::string OldTextName(std::uint64_t number) { return Number(number); }

std::string EncodeHeader(const JournalHeader& h) {
  std::string text = std::string(kHeaderMagic) + "\n";
  text += Line({"base", h.base_dir});
  text += Line({"find", h.find});
  text += Line({"replace", h.replace});
  text += Line({"ignore_case", Flag(h.modes.ignore_case)});
  text += Line({"whole_word", Flag(h.modes.whole_word)});
  text += Line({"preserve_case", Flag(h.modes.preserve_case)});
  text += Line({"regex", Flag(h.modes.regex)});
  text += Line({"sub_folders", Flag(h.sub_folders)});
  text += Line({"change_names", Flag(h.change_names)});
  text += Line({"change_text", Flag(h.change_text)});
  text += Line({"started", std::to_string(h.started)});
  return text;
}

Status DecodeHeader(std::string_view text, JournalHeader* header) {
  const std::string magic = std::string(kHeaderMagic) + "\n";
  if (text.substr(0, magic.size()) != magic)
    return Damaged("not a run journal of this version");
  *header = JournalHeader();
  bool has_base = false;
  Status status = ForEachLine(
      text.substr(magic.size()),
      [&](std::size_t number, const std::vector<std::string>& f) {
        const std::string& key = f[0];
        bool ok = f.size() == 2;
        if (!ok) {
        } else if (key == "base") {
          header->base_dir = f[1];
          has_base = true;
          ok = !f[1].empty() && f[1][0] == '/';
        } else if (key == "find") {
          header->find = f[1];
        } else if (key == "replace") {
          header->replace = f[1];
        } else if (key == "ignore_case") {
          ok = ParseFlag(f[1], &header->modes.ignore_case);
        } else if (key == "whole_word") {
          ok = ParseFlag(f[1], &header->modes.whole_word);
        } else if (key == "preserve_case") {
          ok = ParseFlag(f[1], &header->modes.preserve_case);
        } else if (key == "regex") {
          ok = ParseFlag(f[1], &header->modes.regex);
        } else if (key == "sub_folders") {
          ok = ParseFlag(f[1], &header->sub_folders);
        } else if (key == "change_names") {
          ok = ParseFlag(f[1], &header->change_names);
        } else if (key == "change_text") {
          ok = ParseFlag(f[1], &header->change_text);
        } else if (key == "started") {
          ok = ParseNumber(f[1], &header->started);
        }  // a key of a later version: left for it
        return ok ? Status::Ok()
                  : Damaged("line " + std::to_string(number + 1) +
                            " of the run's settings");
      });
  if (!status.ok()) return status;
  if (!has_base) return Damaged("no base folder");
  return Status::Ok();
}

std::string EncodeRecord(const JournalRecord& r) {
  char mode[8];
  std::snprintf(mode, sizeof mode, "%o", static_cast<unsigned>(r.before.mode));
  return Line({"file", Number(r.number), r.folder, r.name, r.new_name,
               OldTextWord(r.old_text), mode, Number(r.before.device),
               Number(r.before.inode), Number(r.before.size),
               std::to_string(r.before.modified_ns), Number(r.after.device),
               Number(r.after.inode), Number(r.after.size),
               std::to_string(r.after.modified_ns)});
}

std::string EncodeEntries(std::uint64_t number, const ChangeList& entries) {
  std::string line = "entries\t" + Number(number);
  for (const std::string& entry : entries) {
    line.push_back('\t');
    AppendEscaped(&line, entry);
  }
  line.push_back('\n');
  return line;
}

namespace {

// Takes a `file` line's fields; false when any does not decode, or the
// record would change nothing.
bool DecodeRecord(const std::vector<std::string>& f, JournalRecord* r) {
  if (f.size() != 15) return false;
  unsigned mode = 0;
  auto [end, error] =
      std::from_chars(f[6].data(), f[6].data() + f[6].size(), mode, 8);
  bool ok = ParseNumber(f[1], &r->number) && r->number > 0 &&
            IsPlainFolder(f[2]) && IsPlainName(f[3]) &&
            (f[4].empty() || IsPlainName(f[4])) &&
            ParseOldText(f[5], &r->old_text) && !f[6].empty() &&
            error == std::errc() && end == f[6].data() + f[6].size() &&
            mode <= 07777 && ParseNumber(f[7], &r->before.device) &&
            ParseNumber(f[8], &r->before.inode) &&
            ParseNumber(f[9], &r->before.size) &&
            ParseNumber(f[10], &r->before.modified_ns) &&
            ParseNumber(f[11], &r->after.device) &&
            ParseNumber(f[12], &r->after.inode) &&
            ParseNumber(f[13], &r->after.size) &&
            ParseNumber(f[14], &r->after.modified_ns);
  if (!ok || (f[4].empty() && r->old_text == OldText::kNone)) return false;
  r->folder = f[2];
  r->name = f[3];
  r->new_name = f[4];
  r->before.mode = static_cast<mode_t>(mode);
  return true;
}

}  // namespace

Status DecodeChanges(std::string_view text, JournalChanges* changes) {
  *changes = JournalChanges();
  std::uint64_t last = 0;
  return ForEachLine(
      text, [&](std::size_t number, const std::vector<std::string>& f) {
        const std::string where = " at line " + std::to_string(number);
        if (f[0] == "file") {
          JournalRecord record;
          if (!DecodeRecord(f, &record))
            return Damaged("a file record that does not decode" + where);
          // Numbers only grow: no record can stand in for another.
          if (record.number <= last)
            return Damaged("a record out of order" + where);
          last = record.number;
          changes->records.push_back(std::move(record));
          return Status::Ok();
        }
        if (f[0] == "entries") {
          std::uint64_t of = 0;
          if (f.size() < 2 || !ParseNumber(f[1], &of) || of == 0 || of > last)
            return Damaged("entries of no record" + where);
          changes->entries[of].assign(f.begin() + 2, f.end());
          return Status::Ok();
        }
        return Damaged("an unknown record" + where);
      });
}

std::string EncodeEnd(const JournalEnd& end) {
  return Line({end.stopped ? "stopped" : "finished",
               std::to_string(end.ended)});
}

Status DecodeEnd(std::string_view text, JournalEnd* end) {
  *end = JournalEnd();
  bool seen = false;
  Status status = ForEachLine(
      text, [&](std::size_t, const std::vector<std::string>& f) {
        if (seen || f.size() != 2 ||
            (f[0] != "stopped" && f[0] != "finished") ||
            !ParseNumber(f[1], &end->ended))
          return Damaged("an end record that does not decode");
        end->stopped = f[0] == "stopped";
        seen = true;
        return Status::Ok();
      });
  if (status.ok() && !seen) return Damaged("an empty end record");
  return status;
}

}  // namespace vs

#include "cli/diff_output.h"

#include "cli/diff_hunks.h"
#include "cli/terminal_text.h"
#include "engine/change_entry.h"

namespace vs {
namespace {

bool NeedsQuotes(unsigned char byte) {
  return byte < 0x20 || byte == 0x7F || byte >= 0x80 || byte == '"' ||
         byte == '\\';
}

char EscapeLetter(unsigned char byte) {
  switch (byte) {
    case '\a': return 'a';
    case '\b': return 'b';
    case '\t': return 't';
    case '\n': return 'n';
    case '\v': return 'v';
    case '\f': return 'f';
    case '\r': return 'r';
    case '"': return '"';
    case '\\': return '\\';
    default: return 0;
  }
}

// The folder part of a relative path, with its '/', or "".
std::string_view FolderOf(std::string_view relative) {
  const std::size_t slash = relative.rfind('/');
  return slash == std::string_view::npos ? std::string_view()
                                         : relative.substr(0, slash + 1);
}

}  // namespace

// "--- a/NAME": git ends a name that holds a space with a TAB, so that
// a reader can tell where it ends.
void DiffReport::WriteFileLine(const char* start,
                               const std::string& side_path) {
  out_.StartPaint(Paint::kDiffHeader).Words(start).Raw(QuotePath(side_path));
  if (side_path.find(' ') != std::string::npos) out_.Words("\t");
  out_.EndPaint().Words("\n");
}

std::string QuotePath(std::string_view path) {
  bool quote = false;
  for (char c : path) quote = quote || NeedsQuotes(static_cast<unsigned char>(c));
  if (!quote) return std::string(path);
  std::string quoted = "\"";
  for (char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (!NeedsQuotes(byte)) {
      quoted.push_back(c);
    } else if (const char letter = EscapeLetter(byte)) {
      quoted.push_back('\\');
      quoted.push_back(letter);
    } else {
      quoted.push_back('\\');
      quoted.push_back(static_cast<char>('0' + (byte >> 6)));
      quoted.push_back(static_cast<char>('0' + ((byte >> 3) & 7)));
      quoted.push_back(static_cast<char>('0' + (byte & 7)));
    }
  }
  quoted.push_back('"');
  return quoted;
}

std::string DiffReport::Relative(const std::string& path) const {
  // Every path the walk makes is the base folder, "/", and the rest.
  if (path.size() > base_dir_.size() &&
      path.compare(0, base_dir_.size(), base_dir_) == 0 &&
      path[base_dir_.size()] == '/')
    return path.substr(base_dir_.size() + 1);
  return path;
}

// One line whatever `text` holds: its control bytes are escaped.
void DiffReport::Note(const std::string& text) {
  out_.Words("# ").Raw(EscapeForTerminal(text, out_.code_page())).Words("\n");
}

void DiffReport::Problem(const vs::Problem& problem) {
  Note(problem.Describe());
}

void DiffReport::File(const std::string& path, const ChangeList& changes,
                      const ChangeList& line_texts) {
  const std::string relative = Relative(path);
  std::string new_relative = relative;
  bool renamed = false;
  for (const std::string& entry_text : changes) {
    const ChangeEntry entry = ReadChangeEntry(entry_text);
    if (entry.kind == ChangeEntry::Kind::kNewName) {
      renamed = true;
      new_relative.assign(FolderOf(relative)).append(entry.text);
    } else if (entry.kind != ChangeEntry::Kind::kLine) {
      Note(relative + ": " + entry_text);
    }
  }
  if (!renamed && line_texts.empty()) return;
  const std::string old_side = "a/" + relative;
  const std::string new_side = "b/" + new_relative;
  // Coloured as git colours them: the headers bold, the colour ended
  // before each line's end.
  out_.StartPaint(Paint::kDiffHeader).Words("diff --git ");
  out_.Raw(QuotePath(old_side)).Words(" ").Raw(QuotePath(new_side));
  out_.EndPaint().Words("\n");
  if (renamed) {
    out_.StartPaint(Paint::kDiffHeader).Words("rename from ");
    out_.Raw(QuotePath(relative)).EndPaint().Words("\n");
    out_.StartPaint(Paint::kDiffHeader).Words("rename to ");
    out_.Raw(QuotePath(new_relative)).EndPaint().Words("\n");
  }
  if (line_texts.empty()) return;
  WriteFileLine("--- ", old_side);
  WriteFileLine("+++ ", new_side);
  WriteHunks(line_texts, &out_);
}

void DiffReport::End(const ChangeLog&, const RunEnd& end) {
  if (end.problems.out_of_memory)
    Note("out of memory: the run stopped; the diff above is all it changed");
}

}  // namespace vs

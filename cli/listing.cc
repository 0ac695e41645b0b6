#include "cli/listing.h"

#include "engine/change_entry.h"

namespace vs {
namespace {

// An entry with its kind's part coloured: "Line N:", the rename's words
// (an undo's too), or the whole of a failure.
void WritePaintedEntry(const std::string& entry, Output* out) {
  const ChangeEntry parts = ReadChangeEntry(entry);
  switch (parts.kind) {
    case ChangeEntry::Kind::kLine:
    case ChangeEntry::Kind::kNewName:
    case ChangeEntry::Kind::kRestoredName: {
      const std::size_t head = parts.text.data() - entry.data();
      out->StartPaint(parts.kind == ChangeEntry::Kind::kLine
                          ? Paint::kLineNumber
                          : Paint::kNewName);
      out->Text(entry.substr(0, head)).EndPaint();
      out->Text(entry.substr(head));
      return;
    }
    case ChangeEntry::Kind::kRestoredText:
      out->StartPaint(Paint::kNewName).Text(entry).EndPaint();
      return;
    case ChangeEntry::Kind::kTextFailure:
    case ChangeEntry::Kind::kNameFailure:
    case ChangeEntry::Kind::kRestoreFailure:
    case ChangeEntry::Kind::kRestoreNameFailure:
      out->StartPaint(Paint::kFailure).Text(entry).EndPaint();
      return;
    case ChangeEntry::Kind::kOther:
      break;
  }
  out->Text(entry);
}

}  // namespace

void Listing::Problem(const vs::Problem& problem) {
  if (problem.kind == Problem::Kind::kUnlistedFolder) {
    out_.StartPaint(Paint::kFailure).Words("Error get the next file");
    out_.EndPaint().Words("\n");
  }
}

// Every file with entries, which are the files that changed or failed
// to change, in byte order of the paths: the log's own order. Gives up at
// the first write that fails: the rest could not go anywhere.
void Listing::End(const ChangeLog& log, const RunEnd&) {
  const bool colored = out_.colored();
  for (const ChangeLog::Entry* file : log.not_empty()) {
    const auto& [path, entries] = *file;
    out_.StartPaint(Paint::kPath).Text(path).EndPaint().Words("\n");
    for (const std::string& entry : entries) {
      out_.Words("\t");
      if (colored) {
        WritePaintedEntry(entry, &out_);
      } else {
        out_.Text(entry);
      }
      out_.Words("\n");
    }
    if (!out_.Good()) return;
  }
}

}  // namespace vs

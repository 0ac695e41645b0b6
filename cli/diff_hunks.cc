#include "cli/diff_hunks.h"

#include <string.h>

#include "cli/output.h"
#include "cli/terminal_text.h"
#include "engine/line_texts.h"

namespace vs {
namespace {

// Lines in `text`: its line feeds, and a last line without one.
std::uint64_t LinesIn(std::string_view text) {
  std::uint64_t lines = 0;
  for (char c : text) lines += c == '\n';
  if (!text.empty() && text.back() != '\n') ++lines;
  return lines;
}

// One hunk's extent in the old and the new text.
struct Extent {
  std::uint64_t old_start = 0, old_count = 0;
  std::uint64_t new_count = 0;
  std::size_t entries = 0;
};

// Reads the kept lines of the hunk that starts at `at` (the numbers
// following on), and moves `at` past them.
Extent Measure(ChangeList::const_iterator* at,
               const ChangeList::const_iterator& end) {
  Extent extent;
  for (; *at != end; ++*at) {
    const LineText line = ReadLineText(**at);
    if (extent.entries == 0) {
      extent.old_start = line.number;
    } else if (line.number != extent.old_start + extent.old_count) {
      break;
    }
    ++extent.entries;
    ++extent.old_count;
    extent.new_count += line.changed ? LinesIn(line.new_text) : 1;
  }
  return extent;
}

// Writes each line of `text` after `mark` (' ', '-' or '+').
void WriteLines(char mark, std::string_view text, Output* out) {
  while (!text.empty()) {
    const void* lf = memchr(text.data(), '\n', text.size());
    const std::size_t end =
        lf ? static_cast<const char*>(lf) - text.data() : text.size();
    const std::string_view line = text.substr(0, end);
    const char mark_text[2] = {mark, '\0'};
    const bool painted = mark != ' ' && out->colored();
    if (painted)
      out->StartPaint(mark == '-' ? Paint::kRemoved : Paint::kAdded);
    out->Words(mark_text);
    if (out->is_terminal()) {
      out->Raw(EscapeForTerminal(line, out->code_page(), /*keep_tabs=*/true));
    } else {
      out->Raw(line);
    }
    if (painted) out->EndPaint();
    out->Words("\n");
    if (!lf) {
      out->Words("\\ No newline at end of file\n");
      return;
    }
    text.remove_prefix(end + 1);
  }
}

// Writes `count` kept lines from `at` on; a run of changed lines as all
// its old lines, then all its new ones.
void WriteHunkLines(ChangeList::const_iterator* at, std::size_t count,
                    Output* out) {
  while (count > 0) {
    LineText line = ReadLineText(**at);
    if (!line.changed) {
      WriteLines(' ', line.old_text, out);
      ++*at;
      --count;
      continue;
    }
    ChangeList::const_iterator run_start = *at;
    std::size_t run = 0;
    for (; run < count && ReadLineText(**at).changed; ++run, ++*at)
      WriteLines('-', ReadLineText(**at).old_text, out);
    for (std::size_t i = 0; i < run; ++i, ++run_start)
      WriteLines('+', ReadLineText(*run_start).new_text, out);
    count -= run;
  }
}

}  // namespace

std::string HunkHeader(std::uint64_t old_start, std::uint64_t old_count,
                       std::uint64_t new_start, std::uint64_t new_count) {
  const auto range = [](std::uint64_t start, std::uint64_t count) {
    if (count == 0) return std::to_string(start - 1) + ",0";
    if (count == 1) return std::to_string(start);
    return std::to_string(start) + "," + std::to_string(count);
  };
  return "@@ -" + range(old_start, old_count) + " +" +
         range(new_start, new_count) + " @@\n";
}

void WriteHunks(const ChangeList& line_texts, Output* out) {
  // The new text's numbers run ahead of the old by what the changes
  // before added (a replace text may hold line feeds).
  std::int64_t shift = 0;
  ChangeList::const_iterator scout = line_texts.begin();
  ChangeList::const_iterator writer = line_texts.begin();
  const ChangeList::const_iterator end = line_texts.end();
  while (scout != end) {
    const Extent extent = Measure(&scout, end);
    const std::uint64_t new_start = extent.old_start + shift;
    std::string header = HunkHeader(extent.old_start, extent.old_count,
                                    new_start, extent.new_count);
    header.pop_back();  // the colour ends before the line's end
    out->StartPaint(Paint::kHunkHeader).Raw(header).EndPaint().Words("\n");
    WriteHunkLines(&writer, extent.entries, out);
    shift += static_cast<std::int64_t>(extent.new_count) -
             static_cast<std::int64_t>(extent.old_count);
    if (!out->Good()) return;
  }
}

}  // namespace vs

// The hunks of a unified diff, made from the lines a run kept of one
// file (see LineTextKeeper): three lines of context, "@@ -A,B +C,D @@"
// headers, "\ No newline at end of file" after a last line without one.
// Line ends are kept as they are, so a CR LF line reads back as one.
#pragma once

#include <string>
#include <string_view>

#include "engine/change_list.h"

namespace vs {

class Output;

// Writes the hunks of `line_texts` to `out`. A run of changed lines is
// written as all of its old lines, then all of its new ones. On a
// terminal, each line's control bytes but a TAB are shown escaped.
// Reads `line_texts` twice rather than holding a hunk, which may be the
// whole file.
void WriteHunks(const ChangeList& line_texts, Output* out);

// "@@ -A,B +C,D @@\n": a count of 1 is left out, and a side of no lines
// names the line before it.
std::string HunkHeader(std::uint64_t old_start, std::uint64_t old_count,
                       std::uint64_t new_start, std::uint64_t new_count);

}  // namespace vs

// The numbers that sum a run up, counted once and given by both the
// --json summary record and --stats.
#pragma once

#include <cstdint>
#include <string>

#include "engine/change_list.h"

namespace vs {

class Output;
struct RunEnd;

// What the listed files' entries tell.
struct FileCounts {
  std::uint64_t changed = 0;  // a line or the name changed
  std::uint64_t renamed = 0;
  std::uint64_t failed = 0;   // a change of the text or the name failed

  // Counts a listed file by its entries.
  void Add(const ChangeList& changes);
};

// `seconds` with three decimals and a '.', whatever the locale says.
std::string FormatSeconds(double seconds);

// The summary --stats writes on standard error: a line for each number.
void WriteStats(const RunEnd& end, Output* err);

}  // namespace vs

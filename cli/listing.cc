#include "cli/listing.h"

namespace vs {

void Listing::Problem(const vs::Problem& problem) {
  if (problem.kind == Problem::Kind::kUnlistedFolder)
    out_.Words("Error get the next file\n");
}

// Every file with entries, which are the files that changed or failed
// to change, in byte order of the paths: the log's own order. Gives up at
// the first write that fails: the rest could not go anywhere.
void Listing::End(const ChangeLog& log, const RunEnd&) {
  for (const auto& [path, entries] : log) {
    if (entries.empty()) continue;
    out_.Text(path).Words("\n");
    for (const std::string& entry : entries) {
      out_.Words("\t").Text(entry).Words("\n");
    }
    if (!out_.Good()) return;
  }
}

}  // namespace vs

// The run as JSON Lines (--json): one JSON object a line, each with a
// "type". "error" records come as the walk meets the problem, "file"
// records once the walk is over, in byte order of the paths (the
// listing's order), and one "summary" record last. Paths, names and line
// texts are {"text": "..."} when they are UTF-8 and {"bytes": "BASE64"}
// when not; reasons and messages are plain strings. The README gives the
// schema; readers must ignore fields they do not know, as more may come.
#pragma once

#include <cstdint>
#include <string>

#include "cli/run_report.h"

namespace vs {

class JsonReport final : public RunReport {
 public:
  explicit JsonReport(Output* out) : out_(*out) {}

  void Problem(const vs::Problem& problem) override;
  void End(const ChangeLog& log, const RunEnd& end) override;

 private:
  // Makes the record of a listed file in `json`.
  void FileRecord(const std::string& path, const ChangeList& changes,
                  std::string* json);
  void Summary(const RunEnd& end);

  Output& out_;
};

}  // namespace vs

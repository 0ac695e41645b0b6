// The run as a unified diff (--diff), which `git apply` applies to an
// untouched copy of the tree to make what the run makes: each file's
// text changes as hunks, and a rename as git writes one ("diff --git
// a/OLD b/NEW", "rename from", "rename to"), paths relative to the base
// folder. Files come as the walk finishes them. What is no change of a
// text or a name (a change that failed, a folder that could not be
// listed) is a note: a line starting with "# " outside any file's diff,
// which git apply passes over.
#pragma once

#include <string>
#include <string_view>

#include "cli/run_report.h"

namespace vs {

class DiffReport final : public RunReport {
 public:
  // `base_dir` is the folder walked, as given.
  DiffReport(std::string base_dir, Output* out)
      : base_dir_(std::move(base_dir)), out_(*out) {}

  bool NeedsLineTexts() const override { return true; }
  void Problem(const vs::Problem& problem) override;
  void File(const std::string& path, const ChangeList& changes,
            const ChangeList& line_texts) override;
  void End(const ChangeLog& log, const RunEnd& end) override;

 private:
  std::string Relative(const std::string& path) const;
  void Note(const std::string& text);
  void WriteFileLine(const char* start, const std::string& side_path);

  const std::string base_dir_;
  Output& out_;
};

// `path` as git writes it in a diff: in double quotes, with C escapes
// (\t, \n, \", \\, \ooo), when it holds a control byte, a '"', a '\' or
// a byte above 0x7F; as it is otherwise.
std::string QuotePath(std::string_view path);

}  // namespace vs

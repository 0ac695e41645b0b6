// The plain listing: every file that changed or failed to change, in
// byte order of the paths, each followed by its change entries on lines
// of their own after a TAB; a folder that cannot be listed adds the line
// "Error get the next file" where the walk meets it.
#pragma once

#include "cli/run_report.h"

namespace vs {

class Listing final : public RunReport {
 public:
  explicit Listing(Output* out) : out_(*out) {}

  void Problem(const vs::Problem& problem) override;
  void End(const ChangeLog& log, const RunEnd& end) override;

 private:
  Output& out_;
};

}  // namespace vs

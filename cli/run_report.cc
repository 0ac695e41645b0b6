#include "cli/run_report.h"

#include "cli/diff_output.h"
#include "cli/json_output.h"
#include "cli/listing.h"

namespace vs {
namespace {

// -q: the exit status and standard error tell all.
class QuietReport final : public RunReport {
 public:
  void Problem(const vs::Problem&) override {}
  void End(const ChangeLog&, const RunEnd&) override {}
};

}  // namespace

std::unique_ptr<RunReport> MakeRunReport(OutputFormat format, bool quiet,
                                         const std::string& base_dir,
                                         Output* out) {
  if (quiet) return std::make_unique<QuietReport>();
  switch (format) {
    case OutputFormat::kJson:
      return std::make_unique<JsonReport>(out);
    case OutputFormat::kDiff:
      return std::make_unique<DiffReport>(base_dir, out);
    case OutputFormat::kListing:
      break;
  }
  return std::make_unique<Listing>(out);
}

}  // namespace vs

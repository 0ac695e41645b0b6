#include "cli/run_report.h"

#include "cli/diff_output.h"
#include "cli/json_output.h"
#include "cli/listing.h"

namespace vs {

std::unique_ptr<RunReport> MakeRunReport(OutputFormat format,
                                         const std::string& base_dir,
                                         Output* out) {
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

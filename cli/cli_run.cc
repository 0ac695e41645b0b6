#include "cli/cli_run.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "engine/replace_engine.h"

namespace vs {

// The engine of a run its process ends after, where leak checkers find it
// still reachable. (Outside any unnamed namespace, so the compiler keeps
// the store to it.)
const CReplaceEngine* engine_left_to_the_exit = nullptr;

namespace {

// The engine with a Files list that is printed once the walk is over.
class CliReplaceEngine : public CReplaceEngine {
 public:
  explicit CliReplaceEngine(std::ostream& err) : m_err(err) {}

  // The listed paths in byte order, each once.
  std::vector<std::string> SortedFiles() const {
    std::vector<std::string> files = m_files;
    std::sort(files.begin(), files.end());
    files.erase(std::unique(files.begin(), files.end()), files.end());
    return files;
  }

 protected:
  void AddToFilesList(const std::string& path) override {
    m_files.push_back(path);
  }
  void ReportProblem(const std::string& message) override {
    m_err << kProgramName << ": " << message << std::endl;
  }

 private:
  std::ostream& m_err;
  std::vector<std::string> m_files;
};

void ApplySettings(const CliOptions& options, CReplaceEngine* engine) {
  engine->m_strBaseDir = options.base_dir;
  engine->m_strFind = options.find;
  engine->m_strReplace = options.replace;
  engine->m_bSubFolders = options.sub_folders;
  engine->m_bChangeFileNames = options.change_names;
  engine->m_bChangeText = options.change_text;
  engine->m_bDryRun = options.dry_run;
  engine->m_codePage =
      options.code_page ? CodePage(*options.code_page) : CodePage::FromLocale();
}

void PrintFiles(CliReplaceEngine& engine, std::ostream& out) {
  for (const std::string& path : engine.SortedFiles()) {
    out << path << '\n';
    for (const std::string& entry : engine.m_changeLog.LookUp(path)) {
      out << '\t' << entry << '\n';
    }
  }
  out.flush();
}

int PrintUsageError(const std::string& message, std::ostream& err) {
  err << kProgramName << ": error: " << message << '\n'
      << "Try '" << kProgramName << " --help'.\n";
  return kExitUsage;
}

}  // namespace

int RunCli(const CliOptions& options, std::ostream& out, std::ostream& err,
           bool process_ends_after) {
  auto engine = std::make_unique<CliReplaceEngine>(err);
  ApplySettings(options, engine.get());
  engine->ProcessFolder(engine->m_strBaseDir);
  // The engine writes its own lines through stdio; they come first.
  std::fflush(stdout);
  PrintFiles(*engine, out);
  const int status = engine->m_problems.any() ? kExitFailure : kExitSuccess;
  if (process_ends_after) engine_left_to_the_exit = engine.release();
  return status;
}

int CliMain(const std::vector<std::string>& args, std::ostream& out,
            std::ostream& err, bool process_ends_after) {
  ParseResult parsed = ParseCommandLine(args);
  switch (parsed.action) {
    case ParseResult::Action::kHelp:
      out << kUsage << std::flush;
      return kExitSuccess;
    case ParseResult::Action::kVersion:
      out << kProgramName << ' ' << kProgramVersion << std::endl;
      return kExitSuccess;
    case ParseResult::Action::kUsageError:
      return PrintUsageError(parsed.error, err);
    case ParseResult::Action::kRun:
      break;
  }
  return RunCli(parsed.options, out, err, process_ends_after);
}

}  // namespace vs

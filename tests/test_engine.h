// An engine with a front end that tests can read.
#pragma once

#include <string>
#include <vector>

#include "engine/file_system.h"
#include "engine/replace_engine.h"

namespace vs::test {

// A front end for tests: settings to fill in, and what a run tells kept.
class TestEngine : public RunObserver {
 public:
  explicit TestEngine(FileSystem* file_system = RealFileSystem())
      : engine_(this, file_system) {}

  RunSettings settings;  // handed to the engine at each call below

  void ProcessFolder(const std::string& folder) {
    engine_.set_settings(settings);
    engine_.ProcessFolder(folder);
  }
  bool ChangeFileText(const std::string& path, ChangeList& changes) {
    engine_.set_settings(settings);
    return engine_.ChangeFileText(path, changes);
  }
  std::string ReplaceText(std::string text) {
    engine_.set_settings(settings);
    return engine_.ReplaceText(std::move(text));
  }

  ReplaceEngine& engine() { return engine_; }
  const ChangeLog& log() const { return engine_.change_log(); }
  const ProblemCounts& problems() const { return engine_.problems(); }

  std::vector<std::string> files;    // changed, as told, in walk order
  std::vector<Problem> problems_met;  // as told
  std::vector<std::string> reports;  // the same, described
  // Files and problems in the order told: "file PATH", "problem TEXT".
  std::vector<std::string> events;
  RunProgress last_progress;

  void OnFileChanged(const std::string& path, const ChangeList&) override {
    files.push_back(path);
    events.push_back("file " + path);
  }
  void OnProblem(const Problem& problem) override {
    problems_met.push_back(problem);
    reports.push_back(problem.Describe());
    events.push_back("problem " + problem.Describe());
  }
  void OnProgress(const RunProgress& progress) override {
    last_progress = progress;
  }

 private:
  ReplaceEngine engine_;
};

}  // namespace vs::test

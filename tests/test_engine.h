// An engine with a front end that tests can read, and in-memory files
// for feeding the text rewriter.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "engine/file_system.h"
#include "engine/replace_engine.h"
#include "engine/string_sink.h"

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

// Reads a string, at most `chunk` bytes per call.
class StringFile : public ReadableFile {
 public:
  explicit StringFile(std::string bytes, std::size_t chunk = 1 << 30)
      : m_bytes(std::move(bytes)), m_chunk(chunk) {}
  Status Read(char* buffer, std::size_t capacity, std::size_t* got) override {
    *got = std::min({capacity, m_chunk, m_bytes.size() - m_at});
    m_bytes.copy(buffer, *got, m_at);
    m_at += *got;
    return Status::Ok();
  }
  Status Rewind() override {
    m_at = 0;
    return Status::Ok();
  }

 private:
  std::string m_bytes;
  std::size_t m_chunk;
  std::size_t m_at = 0;
};

}  // namespace vs::test

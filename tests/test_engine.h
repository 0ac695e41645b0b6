// An engine with a Files list that tests can read.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "engine/file_system.h"
#include "engine/replace_engine.h"
#include "engine/string_sink.h"

namespace vs::test {

class TestEngine : public CReplaceEngine {
 public:
  using CReplaceEngine::CReplaceEngine;

  std::vector<std::string> files;     // as added, in walk order
  std::vector<std::string> problems;  // as reported

 protected:
  void AddToFilesList(const std::string& path) override {
    files.push_back(path);
  }
  void ReportProblem(const std::string& message) override {
    problems.push_back(message);
  }
};

}  // namespace vs::test

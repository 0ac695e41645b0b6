// An engine with a Files list that tests can read, and in-memory files
// for feeding the text rewriter.
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

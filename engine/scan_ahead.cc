#include "engine/scan_ahead.h"

#include <algorithm>

#include "engine/text_rewriter.h"

namespace vs {

Status ScanOpenFile(const ScanSettings& settings, ReadableFile* file,
                    std::vector<char>* buffer, bool* changes) {
  TextRewriter rewriter(*settings.matcher, settings.replace,
                        *settings.code_page, buffer);
  bool found = false, binary = false;
  Status status = rewriter.FindsChange(file, &found);
  if (status.ok() && found) status = rewriter.IsBinary(file, &binary);
  *changes = status.ok() && found && !binary;
  return status;
}

ScanResult ScanFile(const ScanSettings& settings, const Folder& folder,
                    const std::string& name, std::vector<char>* buffer) {
  ScanResult result;
  std::unique_ptr<ReadableFile> file;
  result.status =
      settings.file_system->OpenForRead(folder, name, &file, &result.version);
  if (result.status.code() == Status::Code::kNotRegular) {
    result.regular = false;
    result.status = Status::Ok();
  }
  if (file) {
    result.status =
        ScanOpenFile(settings, file.get(), buffer, &result.changes);
  }
  return result;
}

enum class JobState { kQueued, kRunning, kDone };

struct ScanAhead::FolderScan {
  const Folder* folder;
  std::vector<std::string> names;
  std::vector<JobState> states;
  std::vector<ScanResult> results;
  std::vector<std::exception_ptr> errors;
  // Helper threads take files from the back, so they seldom work on the
  // very file the walk waits for: no queued job at or after `back`.
  std::size_t back = 0;
  std::size_t running = 0;  // jobs helper threads are working on
};

ScanAhead::ScanAhead(const ScanSettings& settings, unsigned threads)
    : m_settings(settings) {
  for (unsigned i = 0; i < threads; ++i)
    m_threads.emplace_back(&ScanAhead::Work, this);
}

ScanAhead::~ScanAhead() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopping = true;
  }
  m_workQueued.notify_all();
  for (std::thread& thread : m_threads) thread.join();
}

ScanAhead::FolderScan* ScanAhead::Begin(const Folder& folder,
                                        std::vector<std::string> names) {
  auto scan = std::make_unique<FolderScan>();
  scan->folder = &folder;
  scan->states.assign(names.size(), JobState::kQueued);
  scan->results.resize(names.size());
  scan->errors.resize(names.size());
  scan->back = names.size();
  scan->names = std::move(names);
  FolderScan* handle = scan.get();
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_scans.push_back(std::move(scan));
  }
  m_workQueued.notify_all();
  return handle;
}

ScanResult ScanAhead::Take(FolderScan* scan, std::size_t index) {
  std::unique_lock<std::mutex> lock(m_mutex);
  if (scan->states[index] == JobState::kQueued) {
    // No thread has got to it: scanning it here beats waiting.
    scan->states[index] = JobState::kDone;
    lock.unlock();
    return ScanFile(m_settings, *scan->folder, scan->names[index], &m_buffer);
  }
  m_workDone.wait(lock,
                  [&] { return scan->states[index] == JobState::kDone; });
  if (scan->errors[index]) std::rethrow_exception(scan->errors[index]);
  return std::move(scan->results[index]);
}

void ScanAhead::End(FolderScan* scan) {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_workDone.wait(lock, [&] { return scan->running == 0; });
  m_scans.erase(std::find_if(m_scans.begin(), m_scans.end(),
                             [&](const auto& s) { return s.get() == scan; }));
}

bool ScanAhead::FindWork(FolderScan** scan, std::size_t* index) {
  for (auto it = m_scans.rbegin(); it != m_scans.rend(); ++it) {
    FolderScan& s = **it;
    while (s.back > 0 && s.states[s.back - 1] != JobState::kQueued) --s.back;
    if (s.back > 0) {
      *scan = &s;
      *index = --s.back;
      return true;
    }
  }
  return false;
}

void ScanAhead::Work() {
  std::vector<char> buffer;
  std::unique_lock<std::mutex> lock(m_mutex);
  for (;;) {
    FolderScan* scan = nullptr;
    std::size_t index = 0;
    m_workQueued.wait(lock,
                      [&] { return m_stopping || FindWork(&scan, &index); });
    if (m_stopping) return;
    scan->states[index] = JobState::kRunning;
    ++scan->running;
    lock.unlock();
    ScanResult result;
    std::exception_ptr error;
    try {
      result = ScanFile(m_settings, *scan->folder, scan->names[index], &buffer);
    } catch (...) {
      error = std::current_exception();  // for the walk to meet at Take
    }
    lock.lock();
    scan->results[index] = std::move(result);
    scan->errors[index] = error;
    scan->states[index] = JobState::kDone;
    --scan->running;
    m_workDone.notify_all();
  }
}

}  // namespace vs

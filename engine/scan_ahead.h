// The first look at a file's text, which most files never get past, and
// threads that take that look at the files of the walk ahead of it.
//
// The walk hands each folder's files to ScanAhead and takes the results
// back in walk order; helper threads scan from the other end of the
// folder, and the walk scans a file itself when no thread has got to it
// yet. Scanning
// only reads, and every result is used at the file's own turn, so a run
// with helper threads does exactly what a run without them does.
#pragma once

#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/code_page.h"
#include "engine/file_system.h"
#include "engine/matcher.h"

namespace vs {

struct ScanResult {
  Status status;         // opening or reading the file failed
  bool regular = true;   // false: no regular file any more, text not ours
  bool changes = false;  // a line would change, and the file is not binary
  FileInfo version;      // the file as it was when it was scanned
};

// What a scan needs to know of the run.
struct ScanSettings {
  FileSystem* file_system;
  const Matcher* matcher;
  std::string_view replace;
  const CodePage* code_page;
};

// Scans the file `name` in `folder`; `buffer` is scratch space.
ScanResult ScanFile(const ScanSettings& settings, const Folder& folder,
                    const std::string& name, std::vector<char>* buffer);

// Tells whether the open file `file` has a line that would change.
Status ScanOpenFile(const ScanSettings& settings, ReadableFile* file,
                    std::vector<char>* buffer, bool* changes);

class ScanAhead {
 public:
  struct FolderScan;

  // The scan of one folder's files, from Begin to End, however the walk
  // leaves the folder. Does nothing with a null ScanAhead.
  class Scope {
   public:
    Scope(ScanAhead* ahead, const Folder& folder,
          std::vector<std::string> names)
        : m_ahead(ahead),
          m_scan(ahead ? ahead->Begin(folder, std::move(names)) : nullptr) {}
    ~Scope() {
      if (m_scan) m_ahead->End(m_scan);
    }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

    ScanResult Take(std::size_t index) { return m_ahead->Take(m_scan, index); }

   private:
    ScanAhead* m_ahead;
    FolderScan* m_scan;
  };

  // Starts `threads` helper threads; with none, Take scans every file.
  ScanAhead(const ScanSettings& settings, unsigned threads);
  ~ScanAhead();
  ScanAhead(const ScanAhead&) = delete;
  ScanAhead& operator=(const ScanAhead&) = delete;

  // Queues the files `names` of `folder` for scanning. The folder must
  // stay open until End; the files of the folder begun last are scanned
  // first, as the walk needs them first.
  FolderScan* Begin(const Folder& folder, std::vector<std::string> names);
  // The result for names[index]; each index is taken once. What a helper
  // thread's scan threw (out of memory) is thrown here.
  ScanResult Take(FolderScan* scan, std::size_t index);
  // Waits for the scans still running in `scan` and forgets it.
  void End(FolderScan* scan);

 private:
  void Work();
  // The next file a helper thread should scan, if any.
  bool FindWork(FolderScan** scan, std::size_t* index);

  const ScanSettings m_settings;
  std::vector<char> m_buffer;  // for the scans Take makes itself
  std::mutex m_mutex;
  std::condition_variable m_workQueued;
  std::condition_variable m_workDone;
  std::vector<std::unique_ptr<FolderScan>> m_scans;  // innermost last
  bool m_stopping = false;
  std::vector<std::thread> m_threads;
};

}  // namespace vs

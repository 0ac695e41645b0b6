#include "engine/scan_ahead.h"

#include <algorithm>

#include "engine/string_sink.h"
#include "engine/text_rewriter.h"

namespace vs {
namespace {

// Folders listed ahead of the walk hold a descriptor each until the walk
// leaves them; this bounds how many, and so how far ahead helpers go.
// Most descriptors stay the walk's: it holds one for each level of
// nesting and a batch of new files.
constexpr std::size_t kMaxOpenAhead = 128;
constexpr std::size_t kShareOfDescriptors = 8;

// A look that failed for want of descriptors, which helpers may have
// been holding, is taken again at the walk's turn.
bool ShortOfDescriptors(const Status& status) {
  return status.code() == Status::Code::kNoDescriptors;
}
// A walk that had to wait is woken once helpers have done this many more
// jobs (or run out of work), not after every job.
constexpr unsigned kWakeAfterJobs = 256;
// A helper takes up to this many neighbouring files of a folder at once.
constexpr std::size_t kScansPerTake = 8;
// New texts worked out ahead wait in memory for the walk, up to this
// many bytes; beyond it the walk works them out itself.
constexpr std::size_t kNewTextBudget = 64 << 20;

}  // namespace

Status ScanOpenFile(const ScanSettings& settings, ReadableFile* file,
                    std::vector<char>* buffer, bool* changes,
                    std::unique_ptr<NewText>* new_text) {
  TextRewriter rewriter(*settings.matcher, settings.replace,
                        *settings.code_page, buffer);
  bool found = false, binary = false;
  Status status = rewriter.FindsChange(file, &found);
  *changes = false;
  if (!status.ok() || !found) return status;
  if (!new_text) {
    status = rewriter.IsBinary(file, &binary);
    *changes = status.ok() && !binary;
    return status;
  }
  // The rewrite also tells a binary file.
  auto text = std::make_unique<NewText>();
  StringSink sink;
  status = rewriter.Rewrite(file, &sink, &text->lines, &binary);
  if (!status.ok()) {
    // A failure of the rewrite itself: the walk meets it again when it
    // rewrites the file at its turn, and reports it as such.
    *changes = true;
    return Status::Ok();
  }
  if (binary || text->lines.empty()) return status;
  text->bytes = std::move(sink.bytes);
  *new_text = std::move(text);
  *changes = true;
  return status;
}

ScanResult ScanFile(const ScanSettings& settings, const Folder& folder,
                    const std::string& name, std::vector<char>* buffer,
                    bool work_out_text) {
  ScanResult result;
  std::unique_ptr<ReadableFile> file;
  result.status =
      settings.file_system->OpenForRead(folder, name, &file, &result.version);
  if (result.status.code() == Status::Code::kNotRegular) {
    result.regular = false;
    result.status = Status::Ok();
  }
  if (file) {
    const bool in_memory =
        work_out_text && result.version.size <= kMaxNewTextSource;
    result.status = ScanOpenFile(settings, file.get(), buffer, &result.changes,
                                 in_memory ? &result.new_text : nullptr);
  }
  return result;
}

ScanAhead::ScanAhead(const ScanSettings& settings, unsigned threads)
    : m_settings(settings),
      m_maxOpenAhead(std::min(
          kMaxOpenAhead,
          settings.file_system->OpenFilesLimit() / kShareOfDescriptors)) {
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

void ScanAhead::List(ListedFolder* folder) const {
  folder->listed =
      m_settings.file_system->ListFolder(*folder->folder, &folder->entries);
  // Sorted, so every file system gives the same order; the whole listing
  // is read first, so what the run renames or creates in the folder is
  // never met again.
  std::sort(folder->entries.begin(), folder->entries.end(),
            [](const FolderEntry& a, const FolderEntry& b) {
              return a.name < b.name;
            });
  folder->jobs = std::vector<Job>(folder->entries.size());
  for (std::size_t i = 0; i < folder->entries.size(); ++i) {
    const FolderEntry& entry = folder->entries[i];
    Job::Kind kind = Job::Kind::kNone;
    if (entry.kind == FileKind::kRegular && m_settings.scan_text)
      kind = Job::Kind::kScan;
    if (entry.kind == FileKind::kFolder && m_settings.sub_folders)
      kind = Job::Kind::kListing;
    folder->jobs[i].kind = kind;
    if (kind == Job::Kind::kNone) folder->jobs[i].state = JobState::kDone;
  }
}

ScanAhead::ListedFolder& ScanAhead::Start(std::unique_ptr<Folder> base) {
  auto listed = std::make_unique<ListedFolder>();
  listed->folder = std::move(base);
  List(listed.get());
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_base = std::move(listed);
  }
  m_workQueued.notify_all();
  return *m_base;
}

void ScanAhead::RunScan(ListedFolder& folder, std::size_t index,
                        std::vector<char>* buffer, bool work_out_text) {
  folder.jobs[index].scan =
      ScanFile(m_settings, *folder.folder, folder.entries[index].name, buffer,
               work_out_text);
}

std::size_t ScanAhead::NewTextSize(const Job& job) {
  return job.scan.new_text ? job.scan.new_text->bytes.size() : 0;
}

void ScanAhead::RunListing(ListedFolder& folder, std::size_t index) {
  // Opened through its parent and never through a link: a subfolder
  // swapped for a link since the parent was listed is not entered.
  auto sub = std::make_unique<ListedFolder>();
  sub->opened = m_settings.file_system->OpenSubfolder(
      *folder.folder, folder.entries[index].name, &sub->folder);
  if (sub->opened.ok()) List(sub.get());
  folder.jobs[index].listing = std::move(sub);
}

std::optional<ScanResult> ScanAhead::TakeScan(ListedFolder& folder,
                                              std::size_t index) {
  Job& job = folder.jobs[index];
  if (job.kind != Job::Kind::kScan) return std::nullopt;
  std::unique_lock<std::mutex> lock(m_mutex);
  if (m_threads.empty()) {
    job.state = JobState::kDone;
    lock.unlock();
    RunScan(folder, index, &m_buffer, true);
  } else {
    // Helpers take jobs in walk order, so this one is next if not done.
    WaitFor(lock, job);
    m_newTextBytes -= NewTextSize(job);
    if (!job.error && ShortOfDescriptors(job.scan.status)) {
      lock.unlock();
      RunScan(folder, index, &m_buffer, true);
    }
  }
  if (job.error) std::rethrow_exception(job.error);
  return std::move(job.scan);
}

ScanAhead::ListedFolder& ScanAhead::Enter(ListedFolder& folder,
                                          std::size_t index) {
  Job& job = folder.jobs[index];
  std::unique_lock<std::mutex> lock(m_mutex);
  if (job.state != JobState::kQueued) {
    WaitFor(lock, job);
    if (job.error) std::rethrow_exception(job.error);
    const ListedFolder& listed = *job.listing;
    // (A listing that failed has no jobs a helper could be working on.)
    if (!(listed.jobs.empty() && (ShortOfDescriptors(listed.opened) ||
                                  ShortOfDescriptors(listed.listed))))
      return *job.listing;
    // Listed again below; it still counts as one folder open ahead.
  } else {
    // Listed here rather than waited for when no helper has started on
    // it: helpers may be held back by m_maxOpenAhead, which the walk must
    // not wait on.
    ++m_openAhead;
  }
  job.state = JobState::kRunning;
  std::unique_ptr<ListedFolder> stale = std::move(job.listing);
  lock.unlock();
  stale.reset();
  RunListing(folder, index);
  lock.lock();
  job.state = JobState::kDone;
  lock.unlock();
  m_workQueued.notify_all();
  return *job.listing;
}

bool ScanAhead::LookAhead() {
  std::unique_lock<std::mutex> lock(m_mutex);
  // Without helpers, the walk looks at each file at its turn instead.
  return !m_threads.empty() && RunSomeWork(lock, &m_buffer);
}

void ScanAhead::Leave(ListedFolder& folder, std::size_t index) {
  std::unique_ptr<ListedFolder> done;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    done = std::move(folder.jobs[index].listing);
    --m_openAhead;
  }
  m_workQueued.notify_all();
  // `done` closes its folder here, outside the lock.
}

void ScanAhead::WaitFor(std::unique_lock<std::mutex>& lock, Job& job) {
  while (job.state != JobState::kDone) {
    // Rather than sleep while a helper finishes the job, the walk takes
    // on the next jobs itself: waking a sleeping thread costs more than
    // a file's look.
    if (RunSomeWork(lock, &m_buffer)) continue;
    m_walkWaitsFor = &job;
    m_doneSinceWait = 0;
    m_walkWake.wait(lock, [&] { return job.state == JobState::kDone; });
    m_walkWaitsFor = nullptr;
  }
}

bool ScanAhead::FindWork(ListedFolder* folder, ListedFolder** owner,
                         std::size_t* index) {
  // Walk order: a folder's entries in turn, a subfolder's whole tree at
  // its place. `settled` moves past jobs that hold nothing more to take.
  bool settling = true;
  for (std::size_t i = folder->settled; i < folder->jobs.size(); ++i) {
    Job& job = folder->jobs[i];
    bool settled = false;
    if (job.state == JobState::kQueued) {
      if (job.kind == Job::Kind::kListing && m_openAhead >= m_maxOpenAhead)
        return false;  // far enough ahead
      *owner = folder;
      *index = i;
      if (settling && job.kind == Job::Kind::kScan) folder->settled = i + 1;
      return true;
    }
    if (job.kind == Job::Kind::kListing) {
      // Running: its tree is not known yet. Done: its tree, until the
      // walk has left it.
      if (job.state == JobState::kDone) {
        if (job.listing && FindWork(job.listing.get(), owner, index))
          return true;
        settled = !job.listing ||
                  job.listing->settled == job.listing->jobs.size();
      }
    } else {
      settled = true;  // scans taken, or nothing to do
    }
    if (settling && settled) {
      folder->settled = i + 1;
    } else {
      settling = false;
    }
  }
  return false;
}

void ScanAhead::JobDone(Job& job) {
  job.state = JobState::kDone;
  ++m_doneSinceWait;
  if (m_walkWaitsFor && m_walkWaitsFor->state == JobState::kDone &&
      m_doneSinceWait >= kWakeAfterJobs)
    m_walkWake.notify_one();
}

bool ScanAhead::RunSomeWork(std::unique_lock<std::mutex>& lock,
                            std::vector<char>* buffer) {
  ListedFolder* folder = nullptr;
  std::size_t index = 0;
  if (!m_base || !FindWork(m_base.get(), &folder, &index)) return false;
  const bool listing = folder->jobs[index].kind == Job::Kind::kListing;
  // Scans are taken a few neighbours at a time, which saves taking the
  // lock (and waiting for it) for every file.
  std::size_t end = index + 1;
  if (!listing) {
    while (end < folder->jobs.size() && end - index < kScansPerTake &&
           folder->jobs[end].kind == Job::Kind::kScan &&
           folder->jobs[end].state == JobState::kQueued) {
      if (folder->settled == end) folder->settled = end + 1;
      ++end;
    }
  }
  for (std::size_t i = index; i < end; ++i)
    folder->jobs[i].state = JobState::kRunning;
  if (listing) ++m_openAhead;
  const bool work_out_text = m_newTextBytes < kNewTextBudget;
  lock.unlock();
  for (std::size_t i = index; i < end; ++i) {
    try {
      if (listing) {
        RunListing(*folder, i);
      } else {
        RunScan(*folder, i, buffer, work_out_text);
      }
    } catch (...) {
      // For the walk to meet at the file's turn.
      folder->jobs[i].error = std::current_exception();
    }
  }
  lock.lock();
  for (std::size_t i = index; i < end; ++i) {
    m_newTextBytes += NewTextSize(folder->jobs[i]);
    JobDone(folder->jobs[i]);
  }
  if (listing) m_workQueued.notify_all();  // its files and subfolders
  return true;
}

void ScanAhead::Work() {
  std::vector<char> buffer;
  std::unique_lock<std::mutex> lock(m_mutex);
  while (!m_stopping) {
    if (RunSomeWork(lock, &buffer)) continue;
    // Out of work: a walk waiting on a job that is done need not wait
    // for more.
    if (m_walkWaitsFor && m_walkWaitsFor->state == JobState::kDone)
      m_walkWake.notify_one();
    m_workQueued.wait(lock);
  }
}

}  // namespace vs

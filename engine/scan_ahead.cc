#include "engine/scan_ahead.h"

#include <algorithm>
#include <array>
#include <system_error>

#include "engine/file_names.h"
#include "engine/string_sink.h"
#include "engine/pattern_rewriter.h"
#include "engine/text_rewriter.h"

namespace vs {
namespace {

// Folders listed ahead of the walk hold a descriptor each until the walk
// leaves them; this bounds how many, and so how far ahead helpers go.
// Most descriptors stay the walk's: it holds one for each level of
// nesting and a batch of new files.
constexpr std::size_t kMaxOpenAhead = 128;
constexpr std::size_t kShareOfDescriptors = 8;

// `name` in the folder at `relative`, both relative to the base folder.
std::string RelativePath(const std::string& relative, const std::string& name) {
  return relative.empty() ? name : relative + '/' + name;
}

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

namespace {

// The look at one open file, through either rewriter.
template <typename Rewriter>
Status ScanWith(Rewriter& rewriter, const ScanSettings& settings,
                ReadableFile* file, bool* changes,
                std::unique_ptr<NewText>* new_text) {
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
  text->lines = ChangeList(settings.spill_store);
  text->line_texts = ChangeList(settings.spill_store);
  StringSink sink;
  status = rewriter.Rewrite(
      file, &sink, &text->lines, &binary,
      settings.keep_line_texts ? &text->line_texts : nullptr);
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

}  // namespace

Status ScanOpenFile(const ScanSettings& settings, ReadableFile* file,
                    std::vector<char>* buffer, bool* changes,
                    std::unique_ptr<NewText>* new_text) {
  if (settings.pattern) {
    PatternRewriter rewriter(*settings.pattern, *settings.code_page, buffer);
    return ScanWith(rewriter, settings, file, changes, new_text);
  }
  TextRewriter rewriter(*settings.matcher, settings.replace,
                        *settings.code_page, buffer);
  return ScanWith(rewriter, settings, file, changes, new_text);
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
    : settings_(settings),
      max_open_ahead_(std::min(
          kMaxOpenAhead,
          settings.file_system->OpenFilesLimit() / kShareOfDescriptors)) {
  threads_.reserve(threads);
  for (unsigned i = 0; i < threads; ++i) {
    // Short of memory for a thread's stack, the run goes on with the
    // helpers it has; the walk does whatever they do not.
    try {
      threads_.emplace_back(&ScanAhead::Work, this);
    } catch (const std::system_error&) {
      break;
    }
  }
}

ScanAhead::~ScanAhead() {
  {
    MutexLock lock(&mutex_);
    stopping_ = true;
  }
  work_queued_.SignalAll();
  for (std::thread& thread : threads_) thread.join();
}

void ScanAhead::List(ListedFolder* folder) const {
  folder->listed =
      settings_.file_system->ListFolder(*folder->folder, &folder->entries);
  // Sorted, so every file system gives the same order; the whole listing
  // is read first, so what the run renames or creates in the folder is
  // never met again.
  std::sort(folder->entries.begin(), folder->entries.end(),
            [](const FolderEntry& a, const FolderEntry& b) {
              return a.name < b.name;
            });
  folder->entries.erase(
      std::remove_if(folder->entries.begin(), folder->entries.end(),
                     [&](const FolderEntry& entry) {
                       return LeftAlone(*folder, entry);
                     }),
      folder->entries.end());
  folder->jobs = std::vector<Job>(folder->entries.size());
  for (std::size_t i = 0; i < folder->entries.size(); ++i) {
    const FolderEntry& entry = folder->entries[i];
    Job::Kind kind = Job::Kind::kNone;
    if (entry.kind == FileKind::kRegular && settings_.scan_text)
      kind = Job::Kind::kScan;
    if (entry.kind == FileKind::kFolder && settings_.sub_folders)
      kind = Job::Kind::kListing;
    folder->jobs[i].kind = kind;
    if (kind == Job::Kind::kNone) folder->jobs[i].state = JobState::kDone;
  }
}

bool ScanAhead::LeftAlone(const ListedFolder& folder,
                          const FolderEntry& entry) const {
  const bool is_folder = entry.kind == FileKind::kFolder;
  // A run's temporary file, perhaps of a run working at the same time.
  if (IsTemporaryName(entry.name)) return true;
  if (settings_.skip_version_control &&
      IsVersionControlEntry(entry.name, is_folder))
    return true;
  if (is_folder && settings_.own_folders && IsOwnFolder(folder, entry.name))
    return true;
  // Without a filter or rules (most runs) no path is built.
  if (!settings_.filter && !settings_.ignore_rules) return false;
  const std::string path = RelativePath(folder.relative, entry.name);
  // The globs first: they are cheap, and what they leave out the rules
  // need not be asked about.
  if (settings_.filter && FilterLeavesOut(folder, path, is_folder))
    return true;
  return settings_.ignore_rules &&
         settings_.ignore_rules->Ignores(path, is_folder);
}

bool ScanAhead::IsOwnFolder(const ListedFolder& folder,
                            const std::string& name) const {
  for (const OwnFolder& own : *settings_.own_folders) {
    // Only a folder of the very name is looked at, so the walk pays
    // nothing for the others.
    if (own.name != name) continue;
    FileInfo info;
    if (settings_.file_system->Stat(*folder.folder, name, &info).ok() &&
        info.device == own.device && info.inode == own.inode)
      return true;
  }
  return false;
}

bool ScanAhead::FilterLeavesOut(const ListedFolder& folder,
                                const std::string& path, bool is_folder) const {
  const PathFilter& filter = *settings_.filter;
  // An excluded folder is never opened; every other one is walked, as
  // files below it may be included.
  if (is_folder) return filter.Excludes(path, true);
  if (filter.Excludes(path, false)) return true;
  return !folder.included && !filter.Includes(path, false);
}

ScanAhead::ListedFolder& ScanAhead::Start(std::unique_ptr<Folder> base) {
  auto listed = std::make_unique<ListedFolder>();
  listed->folder = std::move(base);
  listed->included = settings_.filter && !settings_.filter->has_includes();
  if (settings_.one_file_system) {
    FileInfo info;
    if (settings_.file_system->StatFolder(*listed->folder, &info).ok())
      listed->device = info.device;
  }
  List(listed.get());
  ListedFolder& walked = *listed;
  {
    MutexLock lock(&mutex_);
    base_ = std::move(listed);
  }
  work_queued_.SignalAll();
  return walked;
}

ScanResult ScanAhead::Scan(const ListedFolder& folder, std::size_t index,
                           std::vector<char>* buffer,
                           bool work_out_text) const {
  return ScanFile(settings_, *folder.folder, folder.entries[index].name,
                  buffer, work_out_text);
}

std::unique_ptr<ScanAhead::ListedFolder> ScanAhead::ListSubfolder(
    const ListedFolder& folder, std::size_t index) const {
  // Opened through its parent and never through a link: a subfolder
  // swapped for a link since the parent was listed is not entered.
  auto sub = std::make_unique<ListedFolder>();
  std::unique_ptr<Folder> opened;
  sub->opened = settings_.file_system->OpenSubfolder(
      *folder.folder, folder.entries[index].name, &opened);
  sub->folder = std::move(opened);
  if (settings_.one_file_system && sub->opened.ok()) {
    sub->device = folder.device;
    FileInfo info;
    sub->opened = settings_.file_system->StatFolder(*sub->folder, &info);
    // A mount point: nothing in it is listed, as though it were empty.
    if (sub->opened.ok() && info.device != sub->device) {
      sub->other_file_system = true;
      return sub;
    }
  }
  if (settings_.filter || settings_.ignore_rules)
    sub->relative = RelativePath(folder.relative, folder.entries[index].name);
  if (settings_.filter) {
    sub->included =
        folder.included || settings_.filter->Includes(sub->relative, true);
  }
  if (sub->opened.ok()) List(sub.get());
  return sub;
}

std::size_t ScanAhead::NewTextSize(const Job& job) {
  const NewText* text = job.scan.new_text.get();
  return text ? text->bytes.size() + text->lines.memory_used() : 0;
}

std::optional<ScanResult> ScanAhead::TakeScan(ListedFolder& folder,
                                              std::size_t index) {
  Job& job = folder.jobs[index];  // its kind never changes
  if (job.kind != Job::Kind::kScan) return std::nullopt;
  // With no helpers, no one else takes jobs: the walk looks now.
  if (threads_.empty()) return Scan(folder, index, &buffer_, true);
  ScanResult scan;
  std::exception_ptr error;
  {
    MutexLock lock(&mutex_);
    WaitFor(folder, index);
    new_text_bytes_ -= NewTextSize(job);
    scan = std::move(job.scan);
    error = job.error;
  }
  if (error) std::rethrow_exception(error);
  if (ShortOfDescriptors(scan.status))
    scan = Scan(folder, index, &buffer_, true);
  return scan;
}

ScanAhead::ListedFolder& ScanAhead::Enter(ListedFolder& folder,
                                          std::size_t index) {
  Job& job = folder.jobs[index];
  {
    MutexLock lock(&mutex_);
    if (job.state == JobState::kQueued) {
      // Listed here rather than waited for: helpers may be held back by
      // max_open_ahead_, which the walk must not wait on.
      job.state = JobState::kRunning;
      ++open_ahead_;
    } else {
      WaitFor(folder, index);
      if (job.error) std::rethrow_exception(job.error);
      const ListedFolder& listed = *job.listing;
      // Listed while descriptors were short: listed again below, and
      // still one folder open ahead. (A listing that failed has no jobs
      // a helper could be working on.)
      const bool stale = listed.jobs.empty() &&
                         (ShortOfDescriptors(listed.opened) ||
                          ShortOfDescriptors(listed.listed));
      if (!stale) return *job.listing;
    }
  }
  std::unique_ptr<ListedFolder> listing = ListSubfolder(folder, index);
  ListedFolder& entered = *listing;
  std::unique_ptr<ListedFolder> stale;
  {
    MutexLock lock(&mutex_);
    stale = std::move(job.listing);
    job.listing = std::move(listing);
    job.state = JobState::kDone;
  }
  work_queued_.SignalAll();  // its files and subfolders
  return entered;  // `stale`, if any, is closed outside the lock
}

bool ScanAhead::LookAhead() {
  // Without helpers, the walk looks at each file at its turn instead.
  if (threads_.empty()) return false;
  MutexLock lock(&mutex_);
  return RunSomeWork(&buffer_);
}

void ScanAhead::Leave(ListedFolder& folder, std::size_t index) {
  std::unique_ptr<ListedFolder> done;
  {
    MutexLock lock(&mutex_);
    done = std::move(folder.jobs[index].listing);
    --open_ahead_;
  }
  work_queued_.SignalAll();
  // `done` closes its folder here, outside the lock, unless files of it
  // still wait to be finished.
}

void ScanAhead::WaitFor(ListedFolder& folder, std::size_t index) {
  const Job& job = folder.jobs[index];
  while (job.state != JobState::kDone) {
    // Rather than sleep while a helper finishes the job, the walk takes
    // on jobs itself: this one if no one has, else the next in walk
    // order. Waking a sleeping thread costs more than a file's look.
    if (job.state == JobState::kQueued) {
      RunJobs(folder, index, &buffer_);
      continue;
    }
    if (RunSomeWork(&buffer_)) continue;
    walk_waits_for_ = &job;
    done_since_wait_ = 0;
    while (job.state != JobState::kDone) walk_wake_.Wait(&mutex_);
    walk_waits_for_ = nullptr;
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
      if (job.kind == Job::Kind::kListing && open_ahead_ >= max_open_ahead_)
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
  ++done_since_wait_;
  if (walk_waits_for_ && walk_waits_for_->state == JobState::kDone &&
      done_since_wait_ >= kWakeAfterJobs)
    walk_wake_.Signal();
}

bool ScanAhead::RunSomeWork(std::vector<char>* buffer) {
  ListedFolder* folder = nullptr;
  std::size_t index = 0;
  if (!base_ || !FindWork(base_.get(), &folder, &index)) return false;
  RunJobs(*folder, index, buffer);
  return true;
}

void ScanAhead::RunJobs(ListedFolder& folder, std::size_t index,
                        std::vector<char>* buffer) {
  std::vector<Job>& jobs = folder.jobs;
  const bool listing = jobs[index].kind == Job::Kind::kListing;
  // Scans are taken a few neighbours at a time, which saves taking the
  // lock (and waiting for it) for every file.
  std::size_t end = index + 1;
  if (!listing) {
    while (end < jobs.size() && end - index < kScansPerTake &&
           jobs[end].kind == Job::Kind::kScan &&
           jobs[end].state == JobState::kQueued) {
      if (folder.settled == end) folder.settled = end + 1;
      ++end;
    }
  }
  for (std::size_t i = index; i < end; ++i) jobs[i].state = JobState::kRunning;
  if (listing) ++open_ahead_;
  const bool work_out_text = new_text_bytes_ < kNewTextBudget;

  // The jobs are this thread's until they are done: their results are
  // worked out here, outside the lock, and stored under it.
  std::array<ScanResult, kScansPerTake> scans;
  std::array<std::exception_ptr, kScansPerTake> errors;
  std::unique_ptr<ListedFolder> sub;
  mutex_.Unlock();
  for (std::size_t i = index; i < end; ++i) {
    try {
      if (listing) {
        sub = ListSubfolder(folder, i);
      } else {
        scans[i - index] = Scan(folder, i, buffer, work_out_text);
      }
    } catch (...) {
      errors[i - index] = std::current_exception();  // for the walk to meet
    }
  }
  mutex_.Lock();
  for (std::size_t i = index; i < end; ++i) {
    Job& job = jobs[i];
    if (listing) {
      job.listing = std::move(sub);
    } else {
      job.scan = std::move(scans[i - index]);
    }
    job.error = errors[i - index];
    new_text_bytes_ += NewTextSize(job);
    JobDone(job);
  }
  if (listing) work_queued_.SignalAll();  // its files and subfolders
}

void ScanAhead::Work() {
  std::vector<char> buffer;
  MutexLock lock(&mutex_);
  while (!stopping_) {
    if (RunSomeWork(&buffer)) continue;
    // Out of work: a walk waiting on a job that is done need not wait
    // for more.
    if (walk_waits_for_ && walk_waits_for_->state == JobState::kDone)
      walk_wake_.Signal();
    work_queued_.Wait(&mutex_);
  }
}

}  // namespace vs

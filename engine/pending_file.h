// One file on its way through a run, from the walk's first look at it to
// its entry in the change log.
#pragma once

#include <cstdint>
#include <future>
#include <memory>
#include <optional>
#include <string>

#include "engine/change_log.h"
#include "engine/file_system.h"

namespace vs {

// Where a file stands. It only ever moves forward, through MoveOn, and
// may skip stages it has nothing for: a file without a new text goes
// from kLookedAt to kInPlace, and a text step that fails goes there too,
// its temporary file removed and a failure entry in its list.
enum class FileStage : std::uint8_t {
  kLookedAt,   // listed and looked at; the name step planned
  kWorkedOut,  // its new text is in memory, to be written out
  kWritten,    // its new text is in a temporary file, not yet durable
  kDurable,    // the temporary file is on the disk, and closed
  kInPlace,    // the text step is over: replaced, failed, or nothing to do
  kNamed,      // the name step is over
  kRecorded,   // in the change log
};

struct PendingFile {
  // The folder it is in, kept open as long as the file needs it.
  std::shared_ptr<const Folder> folder;
  std::string name;  // as listed
  std::string path;  // as found: the folder's path, "/", name
  FileStage stage = FileStage::kLookedAt;

  ChangeList changes;
  // Its changed lines whole, when the run keeps them (see LineTextKeeper).
  ChangeList line_texts;
  bool changed = false;  // a change was made, or one failed: listed
  std::uint64_t bytes_read = 0;  // by the first look at its text

  // The text step, from kWorkedOut until kInPlace.
  FileInfo read_version;  // the version the new text was worked out from
  std::string new_text;   // kWorkedOut: the bytes to write out
  std::string temp_name;  // kWritten, kDurable: the temporary file
  std::unique_ptr<WritableFile> temp;  // kWritten: still open
  // Set while the text is made durable on another thread, which alone
  // touches the file until the result is taken.
  std::future<Status> durable;

  // The name step, planned at kLookedAt and carried out at kNamed.
  std::optional<std::string> new_name;
  std::string refusal;  // why new_name cannot be used; "" when it can

  // With an undo journal: the number of the file's record, 0 when its
  // change is not recorded (yet); and whether its old text is kept as a
  // copy, the journal being on another file system.
  std::uint64_t journal_number = 0;
  bool old_text_copied = false;

  bool has_text() const {
    return stage == FileStage::kWorkedOut || stage == FileStage::kWritten ||
           stage == FileStage::kDurable;
  }
  bool idle() const { return !has_text() && !new_name && !changed; }

  void MoveOn(FileStage next) {
    // Forward only: a stage once left is never taken again.
    if (next > stage) stage = next;
  }
};

}  // namespace vs

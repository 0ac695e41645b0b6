// The undo journal's records, as they are kept on the disk.
//
// Every run that writes gets a folder of its own in the journal folder
// ($XDG_STATE_HOME/vellumshaper/runs), made for the user alone (0700) and
// named by the run's id: its start in UTC and its process id,
// "20261211-004512-12345" ("-2", "-3", ... added when taken), so names
// sort as the runs started. In it:
//   run      what the run was asked (JournalHeader): on the disk before
//            anything in the tree changes
//   changes  a JournalRecord for every file the run is to change, on the
//            disk before the change is made (with the batch it is in);
//            after the file is done, its change entries. Made last as
//            the journal begins: a run folder without it (and nothing in
//            old/) is a run killed before it began, which changed nothing
//   old/N    record N's old text: the very file the run replaced, moved
//            here, or a copy of its bytes and mode where the journal is on
//            another file system than the file
//   end      how the run ended (JournalEnd); no such file: it was killed
//   undone   when an undo of the run finished
//
// Each file is text: one record per line, its fields separated by TABs,
// with backslash, TAB, newline and carriage return in a field written as
// \\ \t \n \r. A journal is data that may have been damaged or edited:
// decoding checks every field, and every name and folder is one an undo
// may use below the base folder (see IsPlainName).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "engine/change_list.h"
#include "engine/file_system.h"
#include "engine/run_settings.h"
#include "engine/status.h"

namespace vs {

// The `run` file: what was asked.
struct JournalHeader {
  std::string base_dir;  // as the run opened it
  std::string find;
  std::string replace;
  MatchModes modes;
  bool sub_folders = true;
  bool change_names = true;
  bool change_text = true;
  std::int64_t started = 0;  // seconds since the epoch
};

// Where a record's old text is kept.
enum class OldText : std::uint8_t {
  kNone,    // the text does not change
  kMoved,   // old/N is the very file the run replaced
  kCopied,  // old/N is a copy of its bytes, with its mode
};

// One file the run is to change: enough to tell, later, whether the tree
// still holds what the run left, and to put back what it found.
struct JournalRecord {
  std::uint64_t number = 0;  // from 1, in the order the changes are made
  // The file's folder below the base folder, names joined by "/"; empty
  // for the base folder itself.
  std::string folder;
  std::string name;      // as found
  std::string new_name;  // empty when the name does not change
  OldText old_text = OldText::kNone;
  // The file as found (device, inode, size, modification time, mode),
  // and what its name (the new one, if any) holds once the change is
  // made: the new text's file, or the same file renamed.
  FileInfo before;
  FileInfo after;

  // The name the file has after the run.
  const std::string& name_after() const {
    return new_name.empty() ? name : new_name;
  }
};

// The `end` file.
struct JournalEnd {
  bool stopped = false;  // a stop request (or running out of memory)
  std::int64_t ended = 0;
};

// The `changes` file, read back.
struct JournalChanges {
  std::vector<JournalRecord> records;  // in the order written
  // Each record's change entries, by its number, once it was done.
  std::map<std::uint64_t, std::vector<std::string>> entries;
};

std::string EncodeHeader(const JournalHeader& header);
Status DecodeHeader(std::string_view text, JournalHeader* header);

std::string EncodeRecord(const JournalRecord& record);
// The entries line of record `number`.
std::string EncodeEntries(std::uint64_t number, const ChangeList& entries);
// A last line without its newline (a run killed while it wrote) is left
// out; anything else that does not decode is an error naming the line.
Status DecodeChanges(std::string_view text, JournalChanges* changes);

std::string EncodeEnd(const JournalEnd& end);
Status DecodeEnd(std::string_view text, JournalEnd* end);

// Whether `name` may name an entry of a folder: not empty, not "." or
// "..", and without "/" or NUL.
bool IsPlainName(std::string_view name);

// The name of old/N's file for record `number`.
std::string OldTextName(std::uint64_t number);

}  // namespace vs

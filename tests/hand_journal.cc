#include "tests/hand_journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>

#include "engine/change_entry.h"
#include "engine/change_list.h"
#include "engine/file_names.h"

namespace vs::test {
namespace {

void Check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error("hand journal: " + what);
}

std::string DirOf(const std::string& path) {
  return path.substr(0, path.rfind('/'));
}

std::string BaseName(const std::string& path) {
  return path.substr(path.rfind('/') + 1);
}

}  // namespace

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

FileInfo InfoOf(const std::string& path) {
  std::unique_ptr<vs::Folder> folder;
  Check(RealFileSystem()->OpenFolder(DirOf(path), true, &folder).ok(),
        "cannot open the folder of " + path);
  FileInfo info;
  Check(RealFileSystem()->Stat(*folder, BaseName(path), &info).ok(),
        "cannot stat " + path);
  return info;
}

void WriteFile(const std::string& path, const std::string& bytes,
               mode_t mode) {
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    Check(out.good(), "cannot write " + path);
  }
  Check(chmod(path.c_str(), mode) == 0, "cannot chmod " + path);
}

HandJournal::HandJournal(std::string base, std::string runs_folder,
                         std::string id)
    : base_(std::move(base)) {
  header.base_dir = base_;
  header.find = "foo";
  header.replace = "bar";
  header.started = std::time(nullptr);
  mkdir(DirOf(runs_folder).c_str(), 0700);
  mkdir(runs_folder.c_str(), 0700);
  run_folder_ = runs_folder + "/" + id;
  Check(mkdir(run_folder_.c_str(), 0700) == 0, "cannot make " + run_folder_);
  Check(mkdir((run_folder_ + "/old").c_str(), 0700) == 0, "cannot make old");
}

std::string HandJournal::PathOf(const std::string& folder,
                                const std::string& name) const {
  return base_ + (folder.empty() ? "" : "/" + folder) + "/" + name;
}

std::string HandJournal::OldPath(std::uint64_t number) const {
  return run_folder_ + "/old/" + OldTextName(number);
}

JournalRecord HandJournal::Next(const std::string& folder,
                                const std::string& name) {
  JournalRecord r;
  r.number = ++number_;
  r.folder = folder;
  r.name = name;
  r.before = InfoOf(PathOf(folder, name));
  return r;
}

JournalRecord HandJournal::Change(const std::string& folder,
                                  const std::string& name,
                                  std::optional<std::string> new_text,
                                  const std::string& new_name, bool copied) {
  JournalRecord r = Next(folder, name);
  const std::string path = PathOf(folder, name);
  ChangeList entries;
  if (new_text) {
    r.old_text = copied ? OldText::kCopied : OldText::kMoved;
    const std::string temp = PathOf(folder, TemporaryName(name, 0));
    WriteFile(temp, *new_text, r.before.mode);
    const std::string old = OldPath(r.number);
    if (copied) {
      WriteFile(old, ReadFile(path), r.before.mode);
      Check(unlink(path.c_str()) == 0, "cannot remove " + path);
    } else {
      Check(rename(path.c_str(), old.c_str()) == 0, "cannot move " + path);
    }
    Check(rename(temp.c_str(), path.c_str()) == 0, "cannot swap " + path);
    entries.push_back("Line 1: " + new_text->substr(0, new_text->find('\n')));
  }
  if (!new_name.empty()) {
    r.new_name = new_name;
    Check(rename(path.c_str(), PathOf(folder, new_name).c_str()) == 0,
          "cannot rename " + path);
    entries.push_back(NewNameEntry(new_name));
  }
  r.after = InfoOf(PathOf(folder, r.name_after()));
  changes += EncodeRecord(r) + EncodeEntries(r.number, entries);
  return r;
}

JournalRecord HandJournal::Unmade(const std::string& folder,
                                  const std::string& name,
                                  const std::string& new_text_planned,
                                  std::vector<std::string> entries) {
  JournalRecord r = Next(folder, name);
  r.old_text = OldText::kMoved;
  // The new text's file the run had made: an inode of its own.
  const std::string made = base_ + "/.planned";
  WriteFile(made, new_text_planned);
  r.after = InfoOf(made);
  unlink(made.c_str());
  changes += EncodeRecord(r);
  if (!entries.empty()) {
    ChangeList list;
    for (const std::string& entry : entries) list.push_back(entry);
    changes += EncodeEntries(r.number, list);
  }
  return r;
}

JournalRecord HandJournal::KilledAfterSwap(const std::string& folder,
                                           const std::string& name,
                                           const std::string& new_text) {
  JournalRecord r = Next(folder, name);
  r.old_text = OldText::kMoved;
  const std::string path = PathOf(folder, name);
  const std::string temp = PathOf(folder, TemporaryName(name, 0));
  WriteFile(temp, new_text, r.before.mode);
  Check(renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(),
                  RENAME_EXCHANGE) == 0,
        "cannot exchange " + path);
  r.after = InfoOf(path);
  changes += EncodeRecord(r);
  return r;
}

void HandJournal::Write(bool ended) {
  WriteFile(run_folder_ + "/run", EncodeHeader(header), 0600);
  WriteFile(run_folder_ + "/changes", changes, 0600);
  if (ended) {
    JournalEnd end;
    end.ended = header.started + 1;
    WriteFile(run_folder_ + "/end", EncodeEnd(end), 0600);
  }
}

}  // namespace vs::test

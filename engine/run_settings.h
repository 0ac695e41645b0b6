// What one run is asked to do: a plain value, handed to the engine.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <thread>

#include "engine/code_page.h"
#include "engine/ignore_rules.h"
#include "engine/path_filter.h"

namespace vs {

// Threads that list folders and look at files ahead of the walk: one for
// each core but the walk's own, which looks ahead too while it waits.
inline unsigned DefaultScanThreads() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores > 1 ? cores - 1 : 0;
}

// How the find text is matched. All off: byte for byte, case and all, as a
// plain text; that is the way a run takes when nothing here is on.
struct MatchModes {
  // ASCII letters match in either case; in UTF-8 every letter, by Unicode
  // simple case folding. In a double-byte code page only ASCII letters.
  bool ignore_case = false;
  // A match counts only between two non-word characters (or a line's
  // ends): word characters are ASCII letters, digits and '_', and in UTF-8
  // every Unicode letter, combining mark and decimal digit, and a byte
  // that is no valid UTF-8 (most likely a letter of another charset).
  bool whole_word = false;
  // Only with ignore_case: a match all in lower case, all in upper case, or
  // with a first letter in upper case and the rest in lower case, gives
  // the replacement that shape (ASCII letters only).
  bool preserve_case = false;
  // The find text is a regular expression, matched within a line; the
  // replacement may name groups as $1, ${name}, and $$ is a dollar.
  bool regex = false;

  bool any() const {
    return ignore_case || whole_word || preserve_case || regex;
  }
};

struct RunSettings {
  std::string base_dir;
  std::string find;     // empty: nothing changes
  std::string replace;  // empty: every occurrence is deleted
  MatchModes modes;
  bool sub_folders = true;
  bool change_names = true;
  bool change_text = true;
  // Work out and record every change, refusals included; write nothing.
  bool dry_run = false;
  CodePage code_page = CodePage::FromLocale();
  // Which paths below the base folder the run works on; empty: all.
  PathFilter filter;
  // Null: no rules beyond the filter. Asked after the filter, of the
  // paths the filter takes; shared, as the rules may be costly to build.
  std::shared_ptr<IgnoreRules> ignore_rules;
  // Off: version control's own folders (.git, .hg, .svn, .bzr, _darcs,
  // CVS) are never entered, a ".git" file is never touched, and no file
  // is renamed to one of those names: rewriting a repository's own files
  // corrupts it. The base folder is walked whatever its name.
  bool include_vcs = false;
  // Subfolders on another file system than the base folder's (mount
  // points) are left alone, unlisted, as find -xdev does.
  bool one_file_system = false;
  // What a run does is the same with any number; with none the walk does
  // all the looking itself.
  unsigned scan_threads = DefaultScanThreads();
  // Bytes of change entries the engine keeps in memory; beyond them
  // entries go to a scratch file (in $TMPDIR) and are read back when the
  // change log is read. 0: no limit, all in memory.
  std::size_t change_memory_budget = 0;
  // Keep the changed lines of every file whole, old and new, with the
  // lines around them, and tell them to the observer (OnLineTexts): for
  // a front end that shows a diff. Costs the copies; off, nothing is kept.
  bool keep_line_texts = false;
  // Where a run that writes keeps its undo journal: in a folder of its
  // own below state_folder + "/runs" (see engine/run_journal.h), made as
  // needed. Empty: no journal. A dry run keeps none.
  std::string state_folder;
};

}  // namespace vs

// Keeps runs from overlapping. A run that writes takes the lock of its
// tree first; while it holds it, no other run of the same user works in
// that folder, in a folder inside it, or in one above it: the other run
// waits, or refuses at once.
//
// The locks are files in one folder (by default
// $XDG_STATE_HOME/vellumshaper/running, ~/.local/state/... without it, or
// where the home folder cannot be written, $TMPDIR/vellumshaper-UID, made
// for the user alone), one per run, each held by an flock(2) lock for as long as the run lives:
// the lock of a process that died, even by kill -9, is let go by the
// system, and the next run takes its file over. A tree is known by the
// device and inode of its folder and of every folder above it, so two
// paths to one folder (a link, a bind mount) are one tree.
#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>

#include "engine/status.h"

namespace vs {

class RunLock {
 public:
  struct Options {
    // Where the locks are kept, made (mode 0700) if need be; empty for
    // the default.
    std::string folder;
    // Refuse at once rather than wait for an overlapping run to end.
    bool no_wait = false;
    // Told once, when the run starts to wait for the run of `pid`.
    std::function<void(pid_t pid)> on_wait;
    // Asked now and then while waiting: true gives up the wait.
    std::function<bool()> stopped;
  };

  // Takes the lock for the tree `base_dir`. kBusy with the reason
  // "another run is working in this tree (pid N)" when it may not wait
  // (or was stopped while waiting); any other failure says what of the
  // lock folder could not be used. A `base_dir` that cannot be opened
  // gets no lock (`*lock` is null) and no failure: the run cannot walk
  // it either, and says why. Safe to call from many threads.
  static Status Take(const std::string& base_dir, const Options& options,
                     std::unique_ptr<RunLock>* lock);

  ~RunLock();  // lets go: a waiting run goes ahead
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

 private:
  RunLock(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}

  const std::string path_;  // this run's lock file
  const int fd_;            // holds its flock
};

}  // namespace vs

// A file for the engine's own use, outside the tree: a run keeps there
// what it cannot keep in memory. It has no name, so it goes when it is
// closed or the process ends, however that happens.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/status.h"

namespace vs {

class ScratchFile {
 public:
  virtual ~ScratchFile() = default;
  // Writes all of `data` at `offset`. Safe on several threads at once
  // for ranges that do not overlap.
  virtual Status WriteAt(std::uint64_t offset, const char* data,
                         std::size_t length) = 0;
  // Reads exactly `length` bytes from `offset`, which were written
  // before. Safe on several threads at once.
  virtual Status ReadAt(std::uint64_t offset, char* data,
                        std::size_t length) const = 0;
};

// A new, empty scratch file in the folder $TMPDIR names, or /tmp.
Status CreatePosixScratchFile(std::unique_ptr<ScratchFile>* file);

}  // namespace vs

// A WritableFile that collects what is written in memory, where a file's
// new text is worked out before it goes to the disk.
#pragma once

#include <string>

#include "engine/file_system.h"

namespace vs {

class StringSink final : public WritableFile {
 public:
  std::string bytes;

  Status Append(const char* data, std::size_t length) override {
    bytes.append(data, length);
    return Status::Ok();
  }
  Status Flush() override { return Status::Ok(); }
  Status Sync() override { return Status::Ok(); }
  Status Close() override { return Status::Ok(); }
};

}  // namespace vs

// The result of a file-system call: success, or a failure with the
// system's reason in words ("Permission denied", "File exists", ...).
#pragma once

#include <string>
#include <utility>

namespace vs {

class Status {
 public:
  enum class Code {
    kOk,
    kNotFound,     // nothing of that name
    kExists,       // something of the target name is there already
    kNotRegular,   // not a regular file (a link, a folder, a FIFO, ...)
    kNoSpace,      // the disk or a quota is full
    kNoDescriptors,  // too many files open; a later try may succeed
    kBusy,         // in use by another program
    kNotSupported,  // the file system cannot do what was asked
    kIOError,      // any other failure
  };

  Status() = default;
  static Status Ok() { return Status(); }
  static Status Error(Code code, std::string reason) {
    return Status(code, std::move(reason));
  }
  // Maps an errno value to a Status whose reason is strerror's text.
  static Status FromErrno(int error_number);

  bool ok() const { return code_ == Code::kOk; }
  Code code() const { return code_; }
  // The reason in the system's words; empty when ok().
  const std::string& reason() const { return reason_; }

 private:
  Status(Code code, std::string reason)
      : code_(code), reason_(std::move(reason)) {}

  Code code_ = Code::kOk;
  std::string reason_;
};

}  // namespace vs

// What a file carries besides its bytes and times, carried from one open
// file to another with plain system calls: extended attributes (which
// hold POSIX ACLs, security labels and file capabilities too) and inode
// flags. The POSIX FileSystem's KeepMetadata is built on it.
#pragma once

#include <string>

#include "engine/status.h"

namespace vs {

// Makes the new, still empty file `to_fd` carry the extended attributes
// and inode flags of `from_fd`, and none that it did not: what `to_fd`
// inherited from its folder goes. Owner and group must be set before,
// as setting them clears capabilities; permission bits may follow.
// Refuses, before changing anything, a `from_fd` that is immutable or
// append-only (such a file cannot be replaced) or sealed with fs-verity
// (the seal cannot be carried). A failure's reason names what could not
// be kept. `*capabilities` gets the file capabilities carried, if any,
// which a write clears: PutBackCapabilities sets them again once the
// bytes are written.
Status CopyMetadata(int from_fd, int to_fd, std::string* capabilities);

Status PutBackCapabilities(int fd, const std::string& capabilities);

}  // namespace vs

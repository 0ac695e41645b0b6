// What both rewriters ask of a run of bytes: whether it makes the file
// binary, and how many lines end in it.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace vs {

// A NUL or a 0x1A byte makes a file binary: its text is left alone.
inline bool HoldsBinaryByte(std::string_view bytes) {
  return std::memchr(bytes.data(), '\0', bytes.size()) ||
         std::memchr(bytes.data(), 0x1A, bytes.size());
}

// The line feeds in `bytes`.
inline std::size_t CountLines(std::string_view bytes) {
  std::size_t lines = 0;
  for (const char *p = bytes.data(), *end = p + bytes.size();
       (p = static_cast<const char*>(std::memchr(p, '\n', end - p))) !=
       nullptr;
       ++p)
    ++lines;
  return lines;
}

}  // namespace vs

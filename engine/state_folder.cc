#include "engine/state_folder.h"

#include <cstdlib>

namespace vs {

std::string StateFolder() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state && state[0] == '/') return std::string(state) + "/vellumshaper";
  const char* home = std::getenv("HOME");
  return std::string(home && home[0] ? home : "") +
         "/.local/state/vellumshaper";
}

}  // namespace vs

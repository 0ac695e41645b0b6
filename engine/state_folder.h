// Where Vellumshaper keeps what outlives a run for the user: the locks of
// the runs going on and the undo journal.
#pragma once

#include <string>

namespace vs {

// $XDG_STATE_HOME/vellumshaper, or ~/.local/state/vellumshaper where
// XDG_STATE_HOME is unset or not an absolute path. Not made here.
std::string StateFolder();

}  // namespace vs

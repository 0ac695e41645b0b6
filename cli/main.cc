// vellumshaper-cli: batch find-and-replace over a folder tree.
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <iostream>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli_run.h"
#include "engine/prepare_process.h"

int main(int argc, char** argv) {
  // Before any thread starts.
  vs::PrepareProcessForRuns();
  // The default code page comes from the user's locale.
  std::setlocale(LC_ALL, "");
  // A long listing prints faster through the stream's own buffer.
  std::ios::sync_with_stdio(false);
  std::vector<std::string> args(argv, argv + argc);
  // Names and entries are shown escaped where a person reads them.
  vs::OutputKinds kinds;
  kinds.out_is_terminal = isatty(STDOUT_FILENO) == 1;
  kinds.err_is_terminal = isatty(STDERR_FILENO) == 1;
  // Colour on a terminal unless the user or the terminal declines it.
  const char* no_color = std::getenv("NO_COLOR");
  const char* term = std::getenv("TERM");
  kinds.no_color = (no_color && *no_color) ||
                   (term && std::string_view(term) == "dumb");
  try {
    return vs::CliMain(args, std::cout, std::cerr, kinds,
                       /*process_ends_after=*/true);
  } catch (const std::bad_alloc&) {
    // A run handles its own; this is what is left, before any run began
    // or after its listing: a message rather than an abort.
    std::cout.flush();
    std::cerr << vs::kProgramName << ": out of memory\n";
    return vs::kExitFailure;
  }
}

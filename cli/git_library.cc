#include "cli/git_library.h"

#include <dlfcn.h>

namespace vs {
namespace {

// The name the library was built under, with the version whose calls the
// headers declare.
constexpr char kLibraryName[] = "libgit2.so." LIBGIT2_SOVERSION;

template <typename Function>
bool Find(void* library, const char* name, Function* function,
          std::string* error) {
  *function = reinterpret_cast<Function>(dlsym(library, name));
  if (*function) return true;
  *error = std::string(kLibraryName) + " has no " + name;
  return false;
}

struct Loaded {
  GitLibrary library{};
  std::string error;
  bool ok = false;
};

Loaded LoadOnce() {
  Loaded loaded;
  void* library = dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    const char* reason = dlerror();
    loaded.error = reason ? reason : std::string("cannot load ") + kLibraryName;
    return loaded;
  }
  GitLibrary& git = loaded.library;
  std::string& error = loaded.error;
  loaded.ok =
      Find(library, "git_libgit2_init", &git.libgit2_init, &error) &&
      Find(library, "git_libgit2_shutdown", &git.libgit2_shutdown, &error) &&
      Find(library, "git_error_last", &git.error_last, &error) &&
      Find(library, "git_repository_open_ext", &git.repository_open_ext,
           &error) &&
      Find(library, "git_repository_free", &git.repository_free, &error) &&
      Find(library, "git_repository_workdir", &git.repository_workdir,
           &error) &&
      Find(library, "git_repository_commondir", &git.repository_commondir,
           &error) &&
      Find(library, "git_repository_index", &git.repository_index, &error) &&
      Find(library, "git_repository_config_snapshot",
           &git.repository_config_snapshot, &error) &&
      Find(library, "git_index_entrycount", &git.index_entrycount, &error) &&
      Find(library, "git_index_get_byindex", &git.index_get_byindex, &error) &&
      Find(library, "git_index_free", &git.index_free, &error) &&
      Find(library, "git_config_get_bool", &git.config_get_bool, &error) &&
      Find(library, "git_config_get_path", &git.config_get_path, &error) &&
      Find(library, "git_config_free", &git.config_free, &error) &&
      Find(library, "git_buf_dispose", &git.buf_dispose, &error);
  // Kept loaded for the rest of the program, as a linked library would be.
  return loaded;
}

}  // namespace

const GitLibrary* GitLibrary::Load(std::string* error) {
  static const Loaded loaded = LoadOnce();
  if (!loaded.ok) {
    if (error) *error = loaded.error;
    return nullptr;
  }
  return &loaded.library;
}

}  // namespace vs

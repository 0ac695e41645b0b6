// libgit2, loaded the first time --gitignore needs it rather than with
// the program: with the libraries it links (TLS, SSH, Kerberos) it costs
// every run some two milliseconds to load and bind, and only --gitignore
// reads a repository.
#pragma once

#include <git2.h>

#include <string>

namespace vs {

struct GitLibrary {
  decltype(&::git_libgit2_init) libgit2_init;
  decltype(&::git_libgit2_shutdown) libgit2_shutdown;
  decltype(&::git_error_last) error_last;
  decltype(&::git_repository_open_ext) repository_open_ext;
  decltype(&::git_repository_free) repository_free;
  decltype(&::git_repository_workdir) repository_workdir;
  decltype(&::git_repository_commondir) repository_commondir;
  decltype(&::git_repository_index) repository_index;
  decltype(&::git_repository_config_snapshot) repository_config_snapshot;
  decltype(&::git_index_entrycount) index_entrycount;
  decltype(&::git_index_get_byindex) index_get_byindex;
  decltype(&::git_index_free) index_free;
  decltype(&::git_config_get_bool) config_get_bool;
  decltype(&::git_config_get_path) config_get_path;
  decltype(&::git_config_free) config_free;
  decltype(&::git_buf_dispose) buf_dispose;

  // The library the program was built against, loaded on the first call
  // (from any thread); null when it cannot be, with the reason in
  // `*error` unless `error` is null.
  static const GitLibrary* Load(std::string* error);
};

}  // namespace vs

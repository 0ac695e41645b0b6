#include "tests/temp_folder.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace vs::test {
namespace {

void RemoveTree(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    chmod(path.c_str(), 0700);  // tests may leave folders unreadable
    if (DIR* dir = opendir(path.c_str())) {
      while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") RemoveTree(path + "/" + name);
      }
      closedir(dir);
    }
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

void SnapshotInto(const std::string& root, const std::string& relative,
                  std::map<std::string, std::string>* out) {
  std::string full = relative.empty() ? root : root + "/" + relative;
  DIR* dir = opendir(full.c_str());
  if (!dir) return;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    std::string rel = relative.empty() ? name : relative + "/" + name;
    std::string path = root + "/" + rel;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      (*out)[rel] = "<dir>";
      SnapshotInto(root, rel, out);
    } else if (S_ISLNK(st.st_mode)) {
      char target[4096];
      ssize_t n = readlink(path.c_str(), target, sizeof target);
      (*out)[rel] = "-> " + std::string(target, n < 0 ? 0 : n);
    } else if (!S_ISREG(st.st_mode)) {
      (*out)[rel] = "<special>";
    } else {
      std::ifstream in(path, std::ios::binary);
      (*out)[rel] = std::string(std::istreambuf_iterator<char>(in), {});
    }
  }
  closedir(dir);
}

}  // namespace

TempFolder::TempFolder() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") +
                        "/vellumshaper-test-XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempFolder::~TempFolder() { RemoveTree(path_); }

std::string TempFolder::Path(const std::string& relative) const {
  return path_ + "/" + relative;
}

void TempFolder::MakeFolder(const std::string& relative) const {
  std::string path = path_;
  std::stringstream parts(relative);
  std::string part;
  while (std::getline(parts, part, '/')) {
    path += "/" + part;
    mkdir(path.c_str(), 0755);
  }
}

void TempFolder::Write(const std::string& relative,
                       const std::string& bytes) const {
  auto slash = relative.rfind('/');
  if (slash != std::string::npos) MakeFolder(relative.substr(0, slash));
  std::ofstream out(Path(relative), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + Path(relative));
}

std::string TempFolder::Read(const std::string& relative) const {
  std::ifstream in(Path(relative), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + Path(relative));
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool TempFolder::Exists(const std::string& relative) const {
  struct stat st;
  return lstat(Path(relative).c_str(), &st) == 0;
}

std::map<std::string, std::string> TempFolder::Snapshot() const {
  std::map<std::string, std::string> out;
  SnapshotInto(path_, "", &out);
  return out;
}

}  // namespace vs::test

// A scratch folder on the real disk for one test, removed with everything
// in it when the test ends.
#pragma once

#include <map>
#include <string>

namespace vs::test {

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  // `relative` joined to the folder with "/".
  std::string Path(const std::string& relative) const;

  // Writes `bytes` to the file `relative`, creating its folders.
  void Write(const std::string& relative, const std::string& bytes) const;
  void MakeFolder(const std::string& relative) const;
  // The file's whole content; fails the test if it cannot be read.
  std::string Read(const std::string& relative) const;
  bool Exists(const std::string& relative) const;

  // Every entry under the folder, by path relative to it: a file maps to
  // its content, a folder to "<dir>", a symbolic link to "-> target",
  // a FIFO, socket or device to "<special>".
  std::map<std::string, std::string> Snapshot() const;

 private:
  std::string path_;
};

}  // namespace vs::test

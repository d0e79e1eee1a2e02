// A fresh directory for one test, entered while the test runs: the unit table
// takes the working directory when it is made, so the directory is entered
// first. It is left and removed with everything in it at the test's end.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace testdir {

class ScratchDirectory {
 public:
  explicit ScratchDirectory(const std::string& prefix) : home_(std::filesystem::current_path()) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "_XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
    dir_ = std::filesystem::canonical(pattern);
    std::filesystem::current_path(dir_);
  }
  ~ScratchDirectory() {
    std::filesystem::current_path(home_);
    std::filesystem::remove_all(dir_);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::filesystem::path& path() const { return dir_; }

 private:
  std::filesystem::path home_, dir_;
};

}  // namespace testdir

// A fresh working directory for one run of the program, and what the run left.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace e2e {

struct RunResult {
  std::string out;  // standard output
  std::string err;  // standard error
  int status = -1;  // exit status (0 to 255), or 128 + signal
};

// The default clock of a run: frozen at this local time (TZ=UTC).
inline constexpr const char* kDefaultClock = "2024-03-03 14:05:00";

class WorkDir {
 public:
  // A new empty directory; with `standard_dirs` it holds the subdirectories
  // debug and level that the program needs.
  explicit WorkDir(bool standard_dirs = true);
  ~WorkDir();
  WorkDir(const WorkDir&) = delete;
  WorkDir& operator=(const WorkDir&) = delete;

  const std::string& path() const { return path_; }
  void write(const std::string& name, const std::string& bytes) const;
  std::string read(const std::string& name) const;
  bool exists(const std::string& name) const;
  void mkdir(const std::string& name) const;
  void remove(const std::string& name) const;
  // Copies a directory of the source tree (e.g. "examples/lake") into this one.
  void copy_from_source(const std::string& relative) const;
  // Every regular file below the directory, by relative path.
  std::map<std::string, std::string> files() const;

  // Runs the program with the given arguments (none when empty), the clock
  // frozen at `clock` and extra environment variables "NAME=value".
  RunResult run(const std::vector<std::string>& args, const std::string& clock = kDefaultClock,
                const std::vector<std::string>& env = {}) const;

 private:
  std::string path_;
};

// Text helpers for expected outputs: lines joined with CR LF, each line ended.
std::string crlf(const std::vector<std::string>& lines);
// n blanks.
std::string blanks(std::size_t n);
// Shows bytes with CR, LF and zero bytes made visible, for failure messages.
std::string visible(const std::string& bytes);

}  // namespace e2e

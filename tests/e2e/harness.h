// A fresh working directory for one run of the program, and what the run left.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
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

// How a run started in the background (WorkDir::start) is set up.
struct StartOptions {
  std::string clock = kDefaultClock;  // frozen local time, as for WorkDir::run
  std::vector<std::string> env;       // extra variables "NAME=value"
  // Above 0: no file may grow past this many bytes; a write beyond it fails
  // (EFBIG, SIGXFSZ ignored), as on a full disk.
  std::uint64_t file_size_limit = 0;
  // With a file size limit: SIGXFSZ keeps its default action (ending the
  // run) for the program itself to deal with.
  bool file_size_signal = false;
  // Above 0: the run's address space is limited to this many bytes, so that
  // an allocation beyond it fails.
  std::uint64_t address_space_limit = 0;
  // Set: the run's user and group (for example 65534, nobody), with no
  // supplementary groups. Only a superuser can start such a run.
  std::optional<uid_t> user;
};

// A run of the program in the background, in a process group of its own, so
// that it can be killed at any moment with everything it started.
class Process {
 public:
  Process(Process&& other) noexcept;
  Process& operator=(Process&&) = delete;
  Process(const Process&) = delete;
  ~Process();  // kills the run if it is still going

  // The run's process.
  pid_t pid() const { return pid_; }
  // Whether the run has ended (does not wait).
  bool ended();
  // Kills the run with SIGKILL (unless it has ended) and waits until every
  // process of it is gone; the status is 128 + 9 when the kill ended it.
  RunResult kill();
  // Waits for the end of the run.
  RunResult wait();

 private:
  friend class WorkDir;
  Process(pid_t pid, std::string out_name, std::string err_name);
  RunResult result();
  // Notes a child of the run that waitpid returned (the run's process or one
  // that it started) and removes what the clock library left of it.
  void reaped(pid_t pid, int wstatus);
  pid_t pid_ = -1;
  std::string out_name_, err_name_;
  int wstatus_ = 0;
  bool reaped_ = false;
};

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
  // Starts the program as `run` does, in the background. Its console goes to
  // files of its own beside the directory, so that several runs may be
  // started in one directory at once.
  Process start(const std::vector<std::string>& args, const StartOptions& options = {}) const;

 private:
  std::string path_;
};

// Text helpers for expected outputs: lines joined with CR LF, each line ended.
std::string crlf(const std::vector<std::string>& lines);
// n blanks.
std::string blanks(std::size_t n);
// The lines of a text, each without its line end (CR LF or LF); a last line
// without a line end counts.
std::vector<std::string> split_lines(const std::string& text);
// Shows bytes with CR, LF and zero bytes made visible, for failure messages.
std::string visible(const std::string& bytes);

}  // namespace e2e

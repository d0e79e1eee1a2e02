#include "harness.h"

#include <fcntl.h>
#include <grp.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace fs = std::filesystem;

namespace e2e {

WorkDir::WorkDir(bool standard_dirs) {
  std::string templ = (fs::temp_directory_path() / "orvistad-e2e-XXXXXX").string();
  if (::mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = templ;
  if (standard_dirs) {
    mkdir("debug");
    mkdir("level");
  }
}

WorkDir::~WorkDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

void WorkDir::write(const std::string& name, const std::string& bytes) const {
  fs::path p = fs::path(path_) / name;
  if (p.has_parent_path()) fs::create_directories(p.parent_path());
  std::ofstream f(p, std::ios::binary);
  f << bytes;
}

std::string WorkDir::read(const std::string& name) const {
  std::ifstream f(fs::path(path_) / name, std::ios::binary);
  if (!f) throw std::runtime_error("no file " + name);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

bool WorkDir::exists(const std::string& name) const { return fs::exists(fs::path(path_) / name); }
void WorkDir::mkdir(const std::string& name) const { fs::create_directories(fs::path(path_) / name); }
void WorkDir::remove(const std::string& name) const { fs::remove_all(fs::path(path_) / name); }

void WorkDir::copy_from_source(const std::string& relative) const {
  fs::copy(fs::path(ORVISTAD_SOURCE_DIR) / relative, path_,
           fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

std::map<std::string, std::string> WorkDir::files() const {
  std::map<std::string, std::string> all;
  for (const auto& entry : fs::recursive_directory_iterator(path_)) {
    if (!entry.is_regular_file()) continue;
    all[fs::relative(entry.path(), path_).string()] = read(fs::relative(entry.path(), path_).string());
  }
  return all;
}

namespace {

// In the child: runs `binary` with the local clock frozen (or driven) as
// `clock` says. libfaketime is preloaded directly rather than through the
// faketime wrapper, whose shared clock entries in /dev/shm a killed wrapper
// leaves behind; the entries of the program itself are removed when it is
// reaped (remove_clock_entries).
[[noreturn]] void exec_with_clock(const char* binary, const std::string& clock, const std::vector<std::string>& args) {
  // A library that the run's environment preloads comes after it.
  const char* more = std::getenv("LD_PRELOAD");
  const std::string preload = std::string(FAKETIME_LIBRARY) + (more != nullptr && *more != '\0' ? ":" + std::string(more) : "");
  ::setenv("LD_PRELOAD", preload.c_str(), 1);
  ::setenv("FAKETIME", clock.c_str(), 1);
  ::unsetenv("FAKETIME_SHARED");
  std::vector<std::string> argv_s = {binary};
  argv_s.insert(argv_s.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_s) argv.push_back(a.data());
  argv.push_back(nullptr);
  ::execv(argv[0], argv.data());
  ::_exit(127);
}

// libfaketime keeps the clock of each process in two entries of /dev/shm,
// named after its process id, and removes them only when the process exits by
// itself. A reaped child that a signal ended has left them: remove them.
void remove_clock_entries(pid_t pid, int wstatus) {
  if (!WIFSIGNALED(wstatus)) return;
  const std::string id = std::to_string(pid);
  ::shm_unlink(("/faketime_shm_" + id).c_str());
  ::sem_unlink(("/faketime_sem_" + id).c_str());
}

std::string slurp_fd(int fd) {
  std::string s;
  char buf[65536];
  for (;;) {
    ssize_t k = ::read(fd, buf, sizeof buf);
    if (k <= 0) break;
    s.append(buf, static_cast<std::size_t>(k));
  }
  return s;
}

}  // namespace

RunResult WorkDir::run(const std::vector<std::string>& args, const std::string& clock,
                       const std::vector<std::string>& env) const {
  StartOptions options;
  options.clock = clock;
  options.env = env;
  return start(args, options).wait();
}

namespace {

// What a child with the frozen clock reports as the time, TZ=UTC: the output
// of date, or empty when it could not be run.
std::string time_seen_with_clock(const std::string& clock) {
  int out[2];
  if (::pipe(out) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::dup2(out[1], 1);
    ::close(out[0]);
    ::close(out[1]);
    ::setenv("TZ", "UTC", 1);
    exec_with_clock(DATE_BINARY, clock, {"+%Y-%m-%d %H:%M:%S"});
  }
  ::close(out[1]);
  std::string seen = slurp_fd(out[0]);
  ::close(out[0]);
  int wstatus = 0;
  while (::waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
  }
  remove_clock_entries(pid, wstatus);
  while (!seen.empty() && seen.back() == '\n') seen.pop_back();
  return seen;
}

// When libfaketime does not take effect (it keeps its clock in /dev/shm, which
// may not be writable) the runs see the real clock, silently, and a test that
// compares a run's outputs byte for byte then fails with a real date far from
// the cause. Checked once, before the first run.
void check_frozen_clock() {
  static const std::string failure = [] {
    const std::string seen = time_seen_with_clock(kDefaultClock);
    if (seen == kDefaultClock) return std::string();
    std::string cause;
    if (::access("/dev/shm", W_OK) != 0)
      cause = "/dev/shm is not writable (" + std::string(std::strerror(errno)) +
              "), where libfaketime keeps its clock";
    else if (::access(FAKETIME_LIBRARY, R_OK) != 0)
      cause = std::string("the clock library ") + FAKETIME_LIBRARY + " cannot be read";
    else
      cause = std::string("libfaketime (") + FAKETIME_LIBRARY + ") did not take effect";
    return "the clock of the runs is not frozen: " + std::string(DATE_BINARY) + " showed \"" + seen +
           "\" where it should show \"" + kDefaultClock + "\"; " + cause;
  }();
  if (!failure.empty()) throw std::runtime_error(failure);
}

}  // namespace

Process WorkDir::start(const std::vector<std::string>& args, const StartOptions& options) const {
  check_frozen_clock();
  // Anything the program leaves running when it is killed is handed to this
  // process, which can then wait for it.
  static const bool subreaper = ::prctl(PR_SET_CHILD_SUBREAPER, 1) == 0;
  if (!subreaper) throw std::runtime_error("prctl(PR_SET_CHILD_SUBREAPER) failed");
  static int started = 0;
  const std::string base =
      path_ + "/../" + fs::path(path_).filename().string() + ".bg" + std::to_string(++started);
  std::string out_name = base + ".stdout";
  std::string err_name = base + ".stderr";
  std::vector<std::string> env = options.env;  // stays alive until the exec
  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::setpgid(0, 0);
    int out = ::open(out_name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = ::open(err_name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int in = ::open("/dev/null", O_RDONLY);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::dup2(in, 0);
    if (::chdir(path_.c_str()) != 0) ::_exit(127);
    ::setenv("TZ", "UTC", 1);
    ::unsetenv("FORT600");
    for (std::string& e : env) ::putenv(e.data());
    if (options.file_size_limit > 0) {
      // An ignored signal stays ignored across exec.
      ::signal(SIGXFSZ, options.file_size_signal ? SIG_DFL : SIG_IGN);
      rlimit limit{static_cast<rlim_t>(options.file_size_limit), static_cast<rlim_t>(options.file_size_limit)};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(127);
    }
    if (options.address_space_limit > 0) {
      rlimit limit{static_cast<rlim_t>(options.address_space_limit), static_cast<rlim_t>(options.address_space_limit)};
      if (::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(127);
    }
    if (options.user) {
      const uid_t id = *options.user;
      if (::setgroups(0, nullptr) != 0 || ::setgid(id) != 0 || ::setuid(id) != 0) ::_exit(127);
    }
    exec_with_clock(ORVISTAD_BINARY, options.clock, args);
  }
  ::setpgid(pid, pid);  // also here, so that a kill right away reaches the group
  return Process(pid, out_name, err_name);
}

Process::Process(pid_t pid, std::string out_name, std::string err_name)
    : pid_(pid), out_name_(std::move(out_name)), err_name_(std::move(err_name)) {}

Process::Process(Process&& other) noexcept
    : pid_(other.pid_),
      out_name_(std::move(other.out_name_)),
      err_name_(std::move(other.err_name_)),
      wstatus_(other.wstatus_),
      reaped_(other.reaped_) {
  other.pid_ = -1;
}

Process::~Process() {
  if (pid_ > 0 && !reaped_) kill();
  if (pid_ > 0) {
    ::unlink(out_name_.c_str());
    ::unlink(err_name_.c_str());
  }
}

bool Process::ended() {
  if (reaped_) return true;
  if (::waitpid(pid_, &wstatus_, WNOHANG) == pid_) reaped(pid_, wstatus_);
  return reaped_;
}

RunResult Process::kill() {
  if (reaped_) return result();  // ended by itself: nothing of it is left
  ::kill(-pid_, SIGKILL);
  // Every process of the group that is (or has become) a child of this one.
  for (;;) {
    int st = 0;
    pid_t got = ::waitpid(-pid_, &st, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    if (got == pid_) wstatus_ = st;
    reaped(got, st);
  }
  return result();
}

RunResult Process::wait() {
  while (!reaped_) {
    if (::waitpid(pid_, &wstatus_, 0) == pid_) reaped(pid_, wstatus_);
    else if (errno != EINTR) break;
  }
  return result();
}

void Process::reaped(pid_t pid, int wstatus) {
  if (pid == pid_) reaped_ = true;
  remove_clock_entries(pid, wstatus);
}

RunResult Process::result() {
  RunResult r;
  r.status = WIFEXITED(wstatus_) ? WEXITSTATUS(wstatus_) : 128 + WTERMSIG(wstatus_);
  auto slurp = [](const std::string& name) {
    int fd = ::open(name.c_str(), O_RDONLY);
    std::string s = fd < 0 ? std::string() : slurp_fd(fd);
    if (fd >= 0) ::close(fd);
    return s;
  };
  r.out = slurp(out_name_);
  r.err = slurp(err_name_);
  return r;
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    std::size_t next = end == std::string::npos ? text.size() : end + 1;
    std::size_t stop = end == std::string::npos ? text.size() : end;
    if (stop > at && end != std::string::npos && text[stop - 1] == '\r') --stop;
    lines.push_back(text.substr(at, stop - at));
    at = next;
  }
  return lines;
}

std::string crlf(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) s += l + "\r\n";
  return s;
}

std::string blanks(std::size_t n) { return std::string(n, ' '); }

std::string visible(const std::string& bytes) {
  std::string s;
  for (char c : bytes) {
    if (c == '\r') s += "<CR>";
    else if (c == '\n') s += "<LF>\n";
    else if (c == '\0') s += "<NUL>";
    else s += c;
  }
  return s;
}

}  // namespace e2e

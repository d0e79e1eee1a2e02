#include "harness.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

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
  std::string out_name = path_ + "/../" + fs::path(path_).filename().string() + ".stdout";
  std::string err_name = path_ + "/../" + fs::path(path_).filename().string() + ".stderr";
  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int out = ::open(out_name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = ::open(err_name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int in = ::open("/dev/null", O_RDONLY);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::dup2(in, 0);
    if (::chdir(path_.c_str()) != 0) ::_exit(127);
    ::setenv("TZ", "UTC", 1);
    ::unsetenv("FORT600");
    for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
    std::vector<std::string> argv_s = {FAKETIME_PROGRAM, "-f", clock, ORVISTAD_BINARY};
    argv_s.insert(argv_s.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_s) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int wstatus = 0;
  ::waitpid(pid, &wstatus, 0);
  RunResult r;
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  int fo = ::open(out_name.c_str(), O_RDONLY);
  int fe = ::open(err_name.c_str(), O_RDONLY);
  r.out = slurp_fd(fo);
  r.err = slurp_fd(fe);
  ::close(fo);
  ::close(fe);
  ::unlink(out_name.c_str());
  ::unlink(err_name.c_str());
  return r;
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

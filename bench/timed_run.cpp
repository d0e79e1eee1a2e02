// Runs one command and reports what it cost:
//
//   timed_run [--chdir DIR] [--stdout FILE] [--stderr FILE] -- PROGRAM [ARG]...
//
// Prints one line "WALL USER SYS MAXRSS STATUS": the wall time, user and
// system CPU time in seconds (microsecond resolution), the peak resident set
// in KiB, and the exit status (128 + the signal number when a signal ended the
// command). The command's standard input is /dev/null; its standard output and
// error go to the given files, else to /dev/null.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

[[noreturn]] void usage(const char* problem) {
  std::fprintf(stderr,
               "timed_run: %s\n"
               "usage: timed_run [--chdir DIR] [--stdout FILE] [--stderr FILE] -- PROGRAM [ARG]...\n",
               problem);
  std::exit(2);
}

void redirect(const char* path, int flags, int target) {
  const int fd = ::open(path, flags, 0644);
  if (fd < 0 || ::dup2(fd, target) < 0) {
    std::perror(path);
    ::_exit(127);
  }
  ::close(fd);
}

double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6; }

}  // namespace

int main(int argc, char** argv) {
  const char* dir = nullptr;
  const char* out = "/dev/null";
  const char* err = "/dev/null";
  int first = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg(argv[i]);
    if (arg == "--") {
      first = i + 1;
      break;
    }
    if (i + 1 >= argc) usage("missing value or command");
    if (arg == "--chdir") {
      dir = argv[++i];
    } else if (arg == "--stdout") {
      out = argv[++i];
    } else if (arg == "--stderr") {
      err = argv[++i];
    } else {
      usage("unknown option");
    }
  }
  if (first == 0 || first >= argc) usage("no command after --");

  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) {
    std::perror("timed_run: fork");
    return 1;
  }
  if (pid == 0) {
    if (dir != nullptr && ::chdir(dir) != 0) {
      std::perror(dir);
      ::_exit(127);
    }
    redirect("/dev/null", O_RDONLY, 0);
    redirect(out, O_WRONLY | O_CREAT | O_TRUNC, 1);
    redirect(err, O_WRONLY | O_CREAT | O_TRUNC, 2);
    ::execvp(argv[first], argv + first);
    std::perror(argv[first]);
    ::_exit(127);
  }
  int wstatus = 0;
  rusage usage{};
  while (::wait4(pid, &wstatus, 0, &usage) < 0) {
    if (errno != EINTR) {
      std::perror("timed_run: wait4");
      return 1;
    }
  }
  const auto end = std::chrono::steady_clock::now();
  const double wall = std::chrono::duration<double>(end - start).count();
  const int status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  std::printf("%.6f %.6f %.6f %ld %d\n", wall, seconds(usage.ru_utime), seconds(usage.ru_stime), usage.ru_maxrss,
              status);
  return 0;
}

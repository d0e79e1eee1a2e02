// The I/O floor of a run: the least time in which the bytes that a run reads
// and writes can be moved at all.
//
//   io_floor --dir D [--write BYTES]... [FILE]...
//
// Reads every FILE to its end with large reads, then creates one file in D
// for each --write and writes BYTES bytes of text lines into it with large
// writes (files named floor_1.out, floor_2.out, ...; existing ones are
// replaced). Prints the totals on one line. Timed as a process of its own, in
// the same way as a run, it gives the time against which the run is measured.
#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::size_t kChunk = std::size_t{1} << 20;

[[noreturn]] void usage(const std::string& problem) {
  std::fprintf(stderr,
               "io_floor: %s\n"
               "usage: io_floor --dir D [--write BYTES]... [FILE]...\n",
               problem.c_str());
  std::exit(2);
}

[[noreturn]] void fail(const std::string& what, const std::string& path) {
  std::perror(("io_floor: " + what + " " + path).c_str());
  std::exit(1);
}

std::uint64_t read_whole(const std::string& path, std::vector<char>& buffer) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) fail("cannot open", path);
  std::uint64_t total = 0;
  for (;;) {
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got < 0) fail("cannot read", path);
    if (got == 0) break;
    total += static_cast<std::uint64_t>(got);
  }
  ::close(fd);
  return total;
}

void write_bytes(const std::string& path, std::uint64_t bytes, const std::vector<char>& pattern) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) fail("cannot create", path);
  while (bytes > 0) {
    const std::size_t piece = bytes < pattern.size() ? static_cast<std::size_t>(bytes) : pattern.size();
    std::size_t done = 0;
    while (done < piece) {
      const ssize_t put = ::write(fd, pattern.data() + done, piece - done);
      if (put < 0) fail("cannot write", path);
      done += static_cast<std::size_t>(put);
    }
    bytes -= piece;
  }
  if (::close(fd) != 0) fail("cannot close", path);
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir;
  std::vector<std::uint64_t> writes;
  std::vector<std::string> reads;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg(argv[i]);
    if (arg == "--dir" || arg == "--write") {
      if (i + 1 >= argc) usage("missing value after " + std::string(arg));
      const std::string_view value(argv[++i]);
      if (arg == "--dir") {
        dir = value;
        continue;
      }
      std::uint64_t bytes = 0;
      const auto result = std::from_chars(value.data(), value.data() + value.size(), bytes);
      if (result.ec != std::errc() || result.ptr != value.data() + value.size()) {
        usage("--write wants a byte count, not \"" + std::string(value) + "\"");
      }
      writes.push_back(bytes);
    } else {
      reads.emplace_back(arg);
    }
  }
  if (dir.empty()) usage("--dir is required");

  std::vector<char> buffer(kChunk);
  std::uint64_t read_total = 0;
  for (const std::string& path : reads) read_total += read_whole(path, buffer);

  // Text lines of a level table, CR LF ended, as the written files hold.
  static constexpr std::string_view line = "                    -999.000     183.250\r\n";
  for (std::size_t k = 0; k < buffer.size(); ++k) buffer[k] = line[k % line.size()];
  std::uint64_t write_total = 0;
  for (std::size_t k = 0; k < writes.size(); ++k) {
    write_bytes(dir + "/floor_" + std::to_string(k + 1) + ".out", writes[k], buffer);
    write_total += writes[k];
  }
  std::printf("read %llu bytes from %zu files, wrote %llu bytes to %zu files\n",
              static_cast<unsigned long long>(read_total), reads.size(),
              static_cast<unsigned long long>(write_total), writes.size());
  return 0;
}

#include "record/units.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

namespace rec {

namespace {

constexpr std::size_t kReadChunk = 1 << 20;
constexpr std::size_t kFlushThreshold = 1 << 20;

// The failure number of a platform error met while opening a file.
int open_failure(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR: return failure::kFileNotFound;
    case EACCES:
    case EPERM:
    case EROFS: return failure::kPermission;
    case ENAMETOOLONG:
    case EINVAL: return failure::kFileName;
    default: return failure::kOpenFailure;
  }
}

bool write_all(int fd, const char* p, std::size_t n) {
  while (n > 0) {
    ssize_t k = ::write(fd, p, n);
    if (k < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += k;
    n -= static_cast<std::size_t>(k);
  }
  return true;
}

// The file that a symbolic link finally points to, or the name itself.
std::string resolved_link(const std::string& name) {
  struct stat st {};
  if (::lstat(name.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return name;
  char* real = ::realpath(name.c_str(), nullptr);
  if (real == nullptr) return name;
  std::string target = real;
  std::free(real);
  return target;
}

// Makes a rename durable: the directory entry is written out as well.
void sync_directory_of(const std::string& name) {
  std::string::size_type slash = name.rfind('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : name.substr(0, slash);
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

std::string default_file_name(int unit) {
  std::string var = "FORT" + std::to_string(unit);
  const char* value = std::getenv(var.c_str());
  if (value != nullptr && *value != '\0') return value;
  return "fort." + std::to_string(unit);
}

}  // namespace

std::string platform_name(std::string_view name) {
  std::string s(tarvello::trim_right(name));
  for (char& c : s)
    if (c == '\\') c = '/';
  return s;
}

struct Units::Connection : RecordSource {
  int unit = 0;
  std::string path;  // full path, for messages
  int fd = -1;       // the file as opened (read from, and written unless replacing)
  bool console = false;
  bool writable = true;

  // Reading: records are cut from a buffer of the file's bytes.
  std::string in;
  std::size_t begin = 0, filled = 0;
  off_t in_offset = 0;    // file offset of in[0]
  bool eof = false;
  // A file is read as it stood when it was opened: what is appended to it
  // later (the run report, should it be named as the source) is not read.
  off_t read_limit = -1;
  off_t consumed = 0;     // end of the last record read
  bool unterminated = false;  // that record had no line end

  // Writing.
  bool written = false;   // the first record has been written
  std::string out;

  // Replacing whole: writes go to a temporary file beside the target.
  bool replace = false;
  bool target_missing = false;
  std::string target;     // platform name of the target
  std::string temp;       // platform name of the temporary file
  int temp_fd = -1;

  mode_t mode = 0644;     // permissions of the file being replaced
  off_t flushed = 0;      // bytes written out to the temporary file so far

  int write_fd() const { return replace ? temp_fd : fd; }

  // A file being replaced whole is made durable at its close. Its bytes are
  // sent on their way to the disk as they are written out, so that the
  // close waits only for the last of them.
  void start_writeback(std::size_t n) {
    if (!replace || temp_fd < 0) return;
    ::sync_file_range(temp_fd, flushed, static_cast<off_t>(n), SYNC_FILE_RANGE_WRITE);
    flushed += static_cast<off_t>(n);
  }

  // Reads more of the file into the buffer; false at its end.
  bool refill() {
    if (eof || fd < 0) {
      eof = true;
      return false;
    }
    if (begin > 0) {
      in.erase(0, begin);
      in_offset += static_cast<off_t>(begin);
      filled -= begin;
      begin = 0;
    }
    if (in.size() < filled + kReadChunk) in.resize(filled + kReadChunk);
    std::size_t room = in.size() - filled;
    if (read_limit >= 0) {
      const off_t left = read_limit - (in_offset + static_cast<off_t>(filled));
      if (left <= 0) {
        eof = true;
        return false;
      }
      if (static_cast<std::size_t>(left) < room) room = static_cast<std::size_t>(left);
    }
    for (;;) {
      ssize_t k = ::read(fd, in.data() + filled, room);
      if (k < 0 && errno == EINTR) continue;
      if (k < 0) throw TransferFailure{failure::kReadError};
      if (k == 0) {
        eof = true;
        return false;
      }
      filled += static_cast<std::size_t>(k);
      return true;
    }
  }

  bool next(std::string_view& record) override {
    if (written) return false;  // nothing is read after the first write
    std::size_t scanned = begin;
    for (;;) {
      const char* base = in.data();
      const void* lf = std::memchr(base + scanned, '\n', filled - scanned);
      if (lf != nullptr) {
        std::size_t end = static_cast<const char*>(lf) - base;
        std::size_t stop = end;
        while (stop > begin && base[stop - 1] == '\r') --stop;  // CR bytes just before the LF
        record = std::string_view(base + begin, stop - begin);
        begin = end + 1;
        consumed = in_offset + static_cast<off_t>(begin);
        unterminated = false;
        return true;
      }
      scanned = filled;
      std::size_t old_begin = begin;
      if (!refill()) {
        if (begin == filled) return false;
        // A last line without LF is a record.
        record = std::string_view(in.data() + begin, filled - begin);
        begin = filled;
        consumed = in_offset + static_cast<off_t>(begin);
        unterminated = true;
        return true;
      }
      scanned -= old_begin - begin;
    }
  }

  bool at_end() {
    if (written) return true;
    if (begin < filled) return false;
    return !refill();
  }
};

Units::Units() {
  char buffer[4096];
  if (::getcwd(buffer, sizeof buffer) != nullptr) directory_ = buffer;
  auto console = std::make_unique<Connection>();
  console->unit = kConsole;
  console->path = "standard output";
  console->fd = STDOUT_FILENO;
  console->console = true;
  console->written = true;
  connections_.push_back(std::move(console));
}

Units::~Units() {
  // end_run has normally closed everything; whatever is left goes without reports.
  for (auto& c : connections_) {
    if (c->console) continue;
    if (c->fd >= 0) ::close(c->fd);
    if (c->temp_fd >= 0) {
      ::close(c->temp_fd);
      ::unlink(c->temp.c_str());
    }
  }
}

Units::Connection* Units::find(int unit) {
  for (auto& c : connections_)
    if (c->unit == unit) return c.get();
  return nullptr;
}

void Units::fail_on(int number, const Connection& c) { fail(number, c.unit, c.path); }

std::string Units::full_path(std::string_view name) const {
  std::string p = platform_name(name);
  return (!p.empty() && p[0] == '/') ? p : directory_ + "/" + p;
}

void Units::check(int unit, int status) {
  if (status == 0) return;
  Connection* c = find(unit);
  int number = status == kEndOfFile ? failure::kEndOfFile : status;
  if (c != nullptr) fail_on(number, *c);
  // The unit could not be connected to its default file.
  fail(number, unit, full_path(default_file_name(unit)));
}

int Units::open_connection(int unit, std::string_view given, OpenStatus status, OpenOptions options) {
  // A unit that is still connected is closed first, keeping its file.
  for (std::size_t k = 0; k < connections_.size(); ++k) {
    if (connections_[k]->unit == unit && !connections_[k]->console) {
      int st = close_connection(k, true);
      if (st != 0) return st;
      break;
    }
  }
  std::string name = platform_name(given);
  if (name.empty()) return failure::kFileNotFound;
  if (name.find('\0') != std::string::npos) return failure::kFileName;

  auto c = std::make_unique<Connection>();
  c->unit = unit;
  c->path = full_path(name);

  struct stat st {};
  bool present = ::stat(name.c_str(), &st) == 0;
  if (status == OpenStatus::Old && !present) {
    return open_failure(errno);
  }
  if (options.replace_whole) {
    c->replace = true;
    // A name that is a symbolic link has the file it points to replaced.
    c->target = resolved_link(name);
    c->temp = c->target + ".orvistad.tmp";
    if (present) {
      // A directory is no file to replace.
      if (S_ISDIR(st.st_mode)) return open_failure(EISDIR);
      c->fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
      if (c->fd < 0) return open_failure(errno);
      c->mode = st.st_mode & 07777;
    } else {
      // The temporary file is made at once, so that a place where the file
      // cannot be made fails the open itself.
      c->target_missing = true;
      c->temp_fd = ::open(c->temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
      if (c->temp_fd < 0) return open_failure(errno);
      c->written = false;
    }
  } else {
    c->fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (c->fd < 0 && (errno == EACCES || errno == EROFS) && present) {
      c->fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
      c->writable = false;
    }
    if (c->fd < 0) return open_failure(errno);
  }
  struct stat opened {};
  if (c->fd >= 0 && ::fstat(c->fd, &opened) == 0 && S_ISREG(opened.st_mode)) c->read_limit = opened.st_size;
  connections_.push_back(std::move(c));
  return 0;
}

void Units::open(int unit, std::string_view name, OpenStatus status, OpenOptions options) {
  int st = open_connection(unit, name, status, options);
  if (st != 0) fail(st, unit, full_path(name));
}

void Units::open(int unit, std::string_view name, OpenStatus status, IoStat ios, OpenOptions options) {
  ios.status = open_connection(unit, name, status, options);
}

// Writes out what the connection holds and closes it. `commit` says whether a
// file being replaced whole takes the new content. Returns 0 or a failure number.
int Units::close_connection(std::size_t index, bool commit) {
  std::unique_ptr<Connection> c = std::move(connections_[index]);
  connections_.erase(connections_.begin() + static_cast<std::ptrdiff_t>(index));
  int status = 0;
  if (!c->out.empty()) {
    if (!c->writable) status = failure::kPermission;
    else if (!write_all(c->write_fd(), c->out.data(), c->out.size())) status = failure::kWriteError;
    c->out.clear();
  }
  if (c->replace) {
    if (c->fd >= 0) ::close(c->fd);
    c->fd = -1;
    if (c->temp_fd >= 0) {
      bool keep = commit && status == 0 && (c->written || c->target_missing);
      if (keep && ::fsync(c->temp_fd) != 0) status = failure::kWriteError;
      if (::close(c->temp_fd) != 0 && status == 0) status = failure::kWriteError;
      c->temp_fd = -1;
      if (keep && status == 0) {
        if (::rename(c->temp.c_str(), c->target.c_str()) != 0) status = failure::kWriteError;
        else sync_directory_of(c->target);
      } else {
        ::unlink(c->temp.c_str());
      }
    }
  } else if (c->fd >= 0) {
    if (::close(c->fd) != 0 && status == 0) status = failure::kWriteError;
  }
  if (status != 0) pending_path_ = c->path, pending_unit_ = c->unit;
  return status;
}

void Units::close(int unit) {
  for (std::size_t k = 0; k < connections_.size(); ++k) {
    if (connections_[k]->unit == unit && !connections_[k]->console) {
      int st = close_connection(k, true);
      if (st != 0) fail(st, pending_unit_, pending_path_);
      return;
    }
  }
}

void Units::close(int unit, IoStat ios) {
  ios.status = 0;
  for (std::size_t k = 0; k < connections_.size(); ++k) {
    if (connections_[k]->unit == unit && !connections_[k]->console) {
      ios.status = close_connection(k, true);
      return;
    }
  }
}

bool Units::exists(std::string_view name) {
  std::string n = platform_name(name);
  if (n.empty() || n.find('\0') != std::string::npos) return false;
  struct stat st {};
  return ::stat(n.c_str(), &st) == 0;
}

bool Units::at_end(int unit) {
  Connection& c = for_read(unit);
  try {
    return c.at_end();
  } catch (const TransferFailure& f) {
    fail_on(f.number, c);
  }
}

// A unit that was never opened reads its default file, which must exist.
// Returns 0, or the failure of that open (the unit then stays unconnected).
int Units::connect_for_read(int unit, Connection*& c) {
  c = find(unit);
  if (c != nullptr) return 0;
  int st = open_connection(unit, default_file_name(unit), OpenStatus::Old, {});
  c = find(unit);
  return st;
}

Units::Connection& Units::for_read(int unit) {
  Connection* c = nullptr;
  int st = connect_for_read(unit, c);
  if (st != 0) fail(st, unit, full_path(default_file_name(unit)));
  return *c;
}

Units::Connection& Units::for_write(int unit) {
  Connection* c = find(unit);
  if (c == nullptr) {
    // A unit that was never opened writes its default file.
    open(unit, default_file_name(unit), OpenStatus::Unknown);
    c = find(unit);
  }
  if (!c->written) {
    // The first record written ends the file after what has been read.
    if (!c->writable) fail_on(failure::kPermission, *c);
    if (c->replace) {
      if (c->temp_fd < 0) {
        c->temp_fd = ::open(c->temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (c->temp_fd < 0) fail_on(open_failure(errno), *c);
        // The new file keeps the permissions of the one it replaces.
        ::fchmod(c->temp_fd, c->mode);
        // Carry over what has been read: the records before the first write.
        std::string head(static_cast<std::size_t>(c->consumed), '\0');
        std::size_t got = 0;
        while (got < head.size()) {
          ssize_t k = ::pread(c->fd, head.data() + got, head.size() - got, static_cast<off_t>(got));
          if (k < 0 && errno == EINTR) continue;
          if (k <= 0) fail_on(failure::kReadError, *c);
          got += static_cast<std::size_t>(k);
        }
        c->out = std::move(head);
      }
    } else {
      // Only a regular file has an end to move; a device such as /dev/null
      // or /dev/full is written as it is.
      struct stat st {};
      bool regular = ::fstat(c->fd, &st) == 0 && S_ISREG(st.st_mode);
      if (regular && (::ftruncate(c->fd, c->consumed) != 0 || ::lseek(c->fd, c->consumed, SEEK_SET) < 0))
        fail_on(failure::kWriteError, *c);
    }
    // A last line without LF gets its line end before the new record.
    if (c->unterminated) c->out += "\r\n";
    c->written = true;
    c->in.clear();
    c->in.shrink_to_fit();
    c->begin = c->filled = 0;
  }
  return *c;
}

void Units::after_write(Connection& c) {
  if (c.out.size() < kFlushThreshold) return;
  if (!write_all(c.write_fd(), c.out.data(), c.out.size())) {
    c.out.clear();
    fail_on(failure::kWriteError, c);
  }
  c.start_writeback(c.out.size());
  c.out.clear();
}

void Units::flush_all() {
  for (auto& c : connections_) {
    if (c->console || c->out.empty()) continue;
    if (!c->writable) fail_on(failure::kPermission, *c);
    bool ok = write_all(c->write_fd(), c->out.data(), c->out.size());
    if (ok) c->start_writeback(c->out.size());
    c->out.clear();
    if (!ok) fail_on(failure::kWriteError, *c);
  }
}

void Units::write_formatted(int unit, const BoundFormat& f, ItemCursor items, std::size_t times) {
  Connection& c = for_write(unit);
  const std::size_t statement_start = c.out.size();
  try {
    format_statement(f, items, c.out);
  } catch (const TransferFailure& failure) {
    fail_on(failure.number, c);
  }
  if (times == 1) {
    after_write(c);
    return;
  }
  // Each further write appends the same characters and is written out at the
  // same points as a write of its own would be.
  const std::string records = c.out.substr(statement_start);
  after_write(c);
  for (std::size_t k = 1; k < times; ++k) {
    c.out += records;
    after_write(c);
  }
}

namespace {

// The size of a block of a parallel write: about 16 records of a yearly
// level table. Blocks of fewer bytes cost more in handing them over between
// threads than their building saves.
constexpr std::size_t kBlockBytes = std::size_t{192} << 10;
constexpr std::size_t kMinBlocks = 4;

// Threads that build blocks besides the one that writes them out. With the
// level tables the writing thread keeps up with about four builders; more of
// them only add buffers.
unsigned block_builders() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores <= 1 ? 0 : std::min(cores - 1, 4U);
}

// The blocks of a parallel write: builder threads take the blocks in order,
// each into a free slot, while the writing thread takes the built blocks in
// order and frees their slots. Slots hold their buffers from block to block.
class BlockPipeline {
 public:
  struct Block {
    std::string text;
    std::vector<std::size_t> ends;  // where the records of each statement end in text
    std::exception_ptr error;       // what ended the statement after the last end, if anything
    bool built = false;
  };

  // Statements first .. count - 1, per_block of them in a block.
  BlockPipeline(std::size_t first, std::size_t count, std::size_t per_block, unsigned builders,
                const Units::BuildRecords& build)
      : first_(first), count_(count), per_block_(per_block), blocks_((count - first + per_block - 1) / per_block),
        build_(build), slots_(2 * static_cast<std::size_t>(builders)) {
    threads_.reserve(builders);
    for (unsigned k = 0; k < builders; ++k) threads_.emplace_back([this] { work(); });
  }
  BlockPipeline(const BlockPipeline&) = delete;
  BlockPipeline& operator=(const BlockPipeline&) = delete;
  ~BlockPipeline() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    freed_.notify_all();
    for (std::thread& t : threads_) t.join();
  }

  std::size_t blocks() const { return blocks_; }

  // Block b, once built.
  const Block& take(std::size_t b) {
    Block& block = slots_[b % slots_.size()];
    std::unique_lock<std::mutex> lock(mutex_);
    built_.wait(lock, [&] { return block.built; });
    return block;
  }
  // Block b has been written out: its slot takes a later block.
  void release(std::size_t b) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      slots_[b % slots_.size()].built = false;
      released_ = b + 1;
    }
    freed_.notify_one();
  }

 private:
  void work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      freed_.wait(lock, [&] { return stop_ || next_ >= blocks_ || next_ < released_ + slots_.size(); });
      if (stop_ || next_ >= blocks_) return;
      const std::size_t b = next_++;
      Block& block = slots_[b % slots_.size()];
      lock.unlock();
      block.text.clear();
      block.ends.clear();
      block.error = nullptr;
      const std::size_t last = std::min(count_, first_ + (b + 1) * per_block_);
      try {
        for (std::size_t k = first_ + b * per_block_; k < last; ++k) {
          build_(k, block.text);
          block.ends.push_back(block.text.size());
        }
      } catch (...) {
        block.error = std::current_exception();
      }
      lock.lock();
      block.built = true;
      built_.notify_one();  // only the writing thread waits for built blocks
    }
  }

  const std::size_t first_, count_, per_block_;
  const std::size_t blocks_;
  const Units::BuildRecords& build_;
  std::vector<Block> slots_;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable built_, freed_;
  std::size_t next_ = 0;      // the next block to build
  std::size_t released_ = 0;  // blocks written out so far
  bool stop_ = false;
};

}  // namespace

void Units::write_blocks(int unit, std::size_t count, const BuildRecords& build) {
  if (count == 0) return;
  Connection& c = for_write(unit);
  // Builds statement k as a write of its own; returns how many bytes it made.
  // The first statement is written so, and its size sets the size of the blocks.
  auto write_one = [&](std::size_t k) {
    const std::size_t before = c.out.size();
    try {
      build(k, c.out);
    } catch (const TransferFailure& failure) {
      fail_on(failure.number, c);
    }
    const std::size_t bytes = c.out.size() - before;
    after_write(c);
    return bytes;
  };
  const std::size_t first_bytes = write_one(0);
  const std::size_t per_block = std::max<std::size_t>(1, kBlockBytes / std::max<std::size_t>(first_bytes, 1));
  const unsigned builders = block_builders();
  if (builders == 0 || count - 1 < kMinBlocks * per_block) {
    for (std::size_t k = 1; k < count; ++k) write_one(k);
    return;
  }
  // Each statement's records go into the unit, and out to the file, exactly
  // where a write of its own would have put them; so does a failure.
  BlockPipeline pipeline(1, count, per_block, builders, build);
  for (std::size_t b = 0; b < pipeline.blocks(); ++b) {
    const BlockPipeline::Block& block = pipeline.take(b);
    std::size_t from = 0;
    for (const std::size_t end : block.ends) {
      c.out.append(block.text, from, end - from);
      from = end;
      after_write(c);
    }
    if (block.error) {
      c.out.append(block.text, from);
      try {
        std::rethrow_exception(block.error);
      } catch (const TransferFailure& failure) {
        fail_on(failure.number, c);
      }
    }
    pipeline.release(b);
  }
}

namespace {

// The records that the plain row reader takes at a time, and the least
// number of them worth a thread of their own.
constexpr std::size_t kRowBatchBytes = std::size_t{8} << 20;
constexpr std::size_t kRowsPerThread = 64;
constexpr char kEndOfFileMark = 26;

// What a batch of plain row records is converted into before the reads that
// they serve are known to reach them.
struct RowBatch {
  std::vector<std::string_view> records;
  std::vector<std::size_t> after;   // buffer position after each record's line end
  std::vector<std::span<float>> rows;
  std::vector<std::size_t> offsets;  // of each record's values in scratch
  std::vector<float> scratch;
};

// Converts the records at the head of c's buffer that hold a plain row each,
// for reads first, first + 1, ... (below count), and moves past them.
// Returns how many reads it served; it stops before the first record that is
// not plain, that has no line end yet, or that is the end-of-file mark.
// Records are converted into scratch space and copied into their rows only
// once every earlier record is known to be plain, so a row is written only
// by its own read.
std::size_t read_plain_rows(Units::Connection& c, std::size_t first, std::size_t count, const Units::RowOf& row_of,
                            RowBatch& batch) {
  if (c.written) return 0;
  while (c.filled - c.begin < kRowBatchBytes && c.refill()) {
  }
  batch.records.clear();
  batch.after.clear();
  batch.rows.clear();
  batch.offsets.clear();
  const char* const base = c.in.data();
  std::size_t at = c.begin;
  std::size_t values = 0;
  while (first + batch.records.size() < count) {
    const void* lf = std::memchr(base + at, '\n', c.filled - at);
    if (lf == nullptr) break;
    const std::size_t end = static_cast<std::size_t>(static_cast<const char*>(lf) - base);
    std::size_t stop = end;
    while (stop > at && base[stop - 1] == '\r') --stop;  // as the general reader cuts records
    const std::string_view record(base + at, stop - at);
    if (record.size() == 1 && record[0] == kEndOfFileMark) break;
    const std::span<float> row = row_of(first + batch.records.size());
    batch.records.push_back(record);
    batch.after.push_back(end + 1);
    batch.rows.push_back(row);
    batch.offsets.push_back(values);
    values += row.size();
    at = end + 1;
  }
  const std::size_t lines = batch.records.size();
  if (lines == 0) return 0;
  if (batch.scratch.size() < values) batch.scratch.resize(values);

  // Contiguous parts of the batch, one per thread; each part stops at its
  // first record that is not plain.
  const std::size_t parts = std::clamp<std::size_t>(lines / kRowsPerThread, 1, std::size_t{block_builders()} + 1);
  std::vector<std::size_t> bound(parts + 1), stopped(parts);
  for (std::size_t p = 0; p <= parts; ++p) bound[p] = lines * p / parts;
  auto convert = [&batch, &bound, &stopped](std::size_t p) {
    std::size_t i = bound[p];
    for (; i < bound[p + 1]; ++i) {
      const std::span<float> into =
          batch.rows[i].empty() ? std::span<float>() : std::span<float>(batch.scratch.data() + batch.offsets[i], batch.rows[i].size());
      if (!read_plain_reals(batch.records[i], into)) break;
    }
    stopped[p] = i;
  };
  {
    std::vector<std::jthread> helpers;
    helpers.reserve(parts - 1);
    for (std::size_t p = 1; p < parts; ++p) helpers.emplace_back(convert, p);
    convert(0);
  }
  std::size_t taken = lines;
  for (std::size_t p = 0; p < parts; ++p) {
    if (stopped[p] < bound[p + 1]) {
      taken = stopped[p];
      break;
    }
  }
  for (std::size_t i = 0; i < taken; ++i)
    if (!batch.rows[i].empty())
      std::memcpy(batch.rows[i].data(), batch.scratch.data() + batch.offsets[i], batch.rows[i].size() * sizeof(float));
  if (taken > 0) {
    c.begin = batch.after[taken - 1];
    c.consumed = c.in_offset + static_cast<off_t>(c.begin);
    c.unterminated = false;
  }
  return taken;
}

}  // namespace

void Units::read_rows(int unit, std::size_t count, const RowOf& row_of) {
  if (count == 0) return;
  Connection* connected = nullptr;
  if (int st = connect_for_read(unit, connected); st != 0) check(unit, st);
  Connection& c = *connected;
  RowBatch batch;
  std::size_t k = 0;
  try {
    while (k < count) {
      k += read_plain_rows(c, k, count, row_of, batch);
      if (k == count) break;
      // A record that the plain reader leaves: the general reader takes it,
      // with whatever further records its read needs.
      const std::span<float> row = row_of(k);
      auto g = items(row);
      if (int st = list_read(c, ListSource::External, ItemCursor(g)); st != 0) check(unit, st);
      ++k;
    }
  } catch (const TransferFailure& failure) {
    fail_on(failure.number, c);
  }
}

void Units::write_list(int unit, ItemCursor items) {
  Connection& c = for_write(unit);
  list_write(c.out, items);
  after_write(c);
}

int Units::read_formatted(int unit, const BoundFormat& f, ItemCursor items) {
  Connection* connected = nullptr;
  if (int st = connect_for_read(unit, connected); st != 0) return st;
  Connection& c = *connected;
  FormattedReader reader(f, items);
  try {
    for (;;) {
      std::string_view record;
      if (!c.next(record)) return kEndOfFile;
      int status = 0;
      bool more = reader.next_record(record, status);
      if (status != 0) return status;
      if (!more) return 0;
    }
  } catch (const TransferFailure& failure) {
    fail_on(failure.number, c);
  }
}

int Units::read_list_items(int unit, ItemCursor items) {
  Connection* connected = nullptr;
  if (int st = connect_for_read(unit, connected); st != 0) return st;
  Connection& c = *connected;
  try {
    return list_read(c, ListSource::External, items);
  } catch (const TransferFailure& failure) {
    fail_on(failure.number, c);
  }
}

int Units::end_run(const RunEnd* ending) {
  int status = ending == nullptr ? 0 : ending->exit_status;
  bool commit = ending == nullptr;
  std::string lines;
  if (ending != nullptr && ending->has_message) lines = ending->message + "\n";
  // Every unit is written out and closed; the console last, so that it shows
  // everything the run printed.
  // The first unit that cannot be written out gives the exit status, unless
  // the ending already carries a failure number of its own.
  bool close_failed = false;
  for (std::size_t k = connections_.size(); k-- > 0;) {
    if (connections_[k]->console) continue;
    int st = close_connection(k, commit);
    if (st != 0) {
      lines += failure_line(st, pending_unit_, pending_path_) + "\n";
      if (!close_failed && status <= kStopExitStatus) status = st;
      close_failed = true;
    }
  }
  Connection* console = find(kConsole);
  if (console != nullptr && !console->out.empty()) {
    write_all(STDOUT_FILENO, console->out.data(), console->out.size());
    console->out.clear();
  }
  if (!lines.empty()) write_all(STDERR_FILENO, lines.data(), lines.size());
  return status;
}

// ---------------------------------------------------------------------------
// Transfers on a text variable.

namespace {

class TextSource : public RecordSource {
 public:
  explicit TextSource(std::string_view text) : text_(text) {}
  bool next(std::string_view& record) override {
    if (used_) return false;
    used_ = true;
    record = text_;
    return true;
  }

 private:
  std::string_view text_;
  bool used_ = false;
};

}  // namespace

namespace detail {

void write_internal(tarvello::TextRef target, const BoundFormat& f, ItemCursor items) {
  std::string record;
  FormattedWriter writer(f, items);
  try {
    writer.next_record(record);
  } catch (const TransferFailure& failure) {
    fail(failure.number, -1, "internal formatted write");
  }
  target.assign(record);
}

int read_internal(std::string_view text, const BoundFormat& f, ItemCursor items) {
  FormattedReader reader(f, items);
  int status = 0;
  try {
    if (reader.next_record(text, status) && status == 0) return kEndOfFile;
  } catch (const TransferFailure& failure) {
    fail(failure.number, -1, "internal formatted read");
  }
  return status;
}

int read_internal_list(std::string_view text, ItemCursor items) {
  TextSource source(text);
  return list_read(source, ListSource::Internal, items);
}

}  // namespace detail

}  // namespace rec

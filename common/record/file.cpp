// The file layer: a unit's file on the platform, its buffers, files replaced whole.
#include "record/file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "fixed_text.h"
#include "record/status.h"

namespace rec {

namespace {

constexpr std::size_t kReadChunk = std::size_t{1} << 20;
constexpr std::size_t kFlushThreshold = std::size_t{1} << 20;

// The failure number of a platform error met while opening a file.
int open_failure(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR: return kFileNotFound;
    case EACCES:
    case EPERM:
    case EROFS: return kPermissionDenied;
    case ENAMETOOLONG:
    case EINVAL: return kFileNameError;
    default: return kOpenFailure;
  }
}

// The name of the file that a name finally stands for: symbolic links are
// followed, also to a file that does not exist yet, so that replacing or
// making that file leaves the links as they are. A relative link is taken
// from the directory that holds it.
std::string link_target(const std::string& name) {
  std::string current = name;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    char target[PATH_MAX];
    const ssize_t k = ::readlink(current.c_str(), target, sizeof target);
    if (k <= 0 || static_cast<std::size_t>(k) == sizeof target) return current;
    std::string next(target, static_cast<std::size_t>(k));
    const std::string::size_type slash = current.rfind('/');
    if (next[0] != '/' && slash != std::string::npos) next = current.substr(0, slash + 1) + next;
    current = std::move(next);
  }
  return current;  // a loop of links: the open of this name fails
}

// The temporary file beside a file replaced whole.
std::string temp_name(const std::string& target) { return target + ".orvistad.tmp"; }

bool same_file(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// The locks that this process holds until it ends: each one's descriptor and
// the file it is on.
struct HeldLock {
  dev_t device;
  ino_t inode;
  int fd;
};
std::vector<HeldLock>& held_locks() {
  static std::vector<HeldLock> locks;
  return locks;
}

// The lock held on the open file, or null.
const HeldLock* held_lock(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return nullptr;
  for (const HeldLock& held : held_locks())
    if (held.device == st.st_dev && held.inode == st.st_ino) return &held;
  return nullptr;
}

// Waits for the exclusive lock on an open file. False where the platform
// has no locks.
bool lock(int fd) {
  while (::flock(fd, LOCK_EX) != 0)
    if (errno != EINTR) return false;
  return true;
}

// Keeps the descriptor, and with it its lock, until the process ends.
void keep_held(int fd) {
  struct stat st {};
  ::fstat(fd, &st);
  held_locks().push_back({st.st_dev, st.st_ino, fd});
}

// Whether `name` still leads to the open file. A lock taken on a file that a
// rename or a removal has since taken from its name holds nothing of use.
bool names(const std::string& name, int fd) {
  struct stat by_name {}, opened {};
  return ::stat(name.c_str(), &by_name) == 0 && ::fstat(fd, &opened) == 0 && same_file(by_name, opened);
}

bool exists(const std::string& name) {
  struct stat st {};
  return ::stat(name.c_str(), &st) == 0;
}

enum class Hold { Held, Again, Nothing };

// Locks an open regular file that is not held yet, and holds it when `name`
// still leads to it once locked.
Hold lock_named(int fd, const std::string& name) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || held_lock(fd) != nullptr || !lock(fd)) {
    ::close(fd);
    return Hold::Nothing;
  }
  if (names(name, fd)) {
    keep_held(fd);
    return Hold::Held;
  }
  ::close(fd);
  return Hold::Again;
}

// A file to be replaced that does not exist yet is held through its
// temporary file, made empty for it; the replacing then writes that file.
// A temporary file that was there already and that nobody holds is what a
// killed run left: it is removed, and the file held anew. So is the one made
// here when the file has been made meanwhile: that file is then held.
Hold hold_missing(const std::string& target, const std::string& temp) {
  bool made = true;
  int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0 && errno == EEXIST) {
    made = false;
    fd = ::open(temp.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  }
  // A place where the temporary file cannot be made: the replacing meets
  // the same and ends the run.
  if (fd < 0) return Hold::Nothing;
  const Hold hold = lock_named(fd, temp);
  if (hold != Hold::Held) {
    if (made && hold == Hold::Nothing) ::unlink(temp.c_str());
    return hold;
  }
  if (made && !exists(target)) return Hold::Held;
  // A temporary file beside an existing file is the business of the run
  // that holds that file.
  if (!made && exists(target)) return Hold::Again;
  // A leftover that cannot be removed would be found again and again.
  return ::unlink(temp.c_str()) == 0 ? Hold::Again : Hold::Nothing;
}

// Gives a new file the owner and group of the file that it replaces, as far
// as this user may: else at least the group (one that the user belongs to);
// else the file stays the user's own.
void keep_owner(int fd, uid_t owner, gid_t group) {
  if (::fchown(fd, owner, group) == 0) return;
  if (::fchown(fd, static_cast<uid_t>(-1), group) == 0) return;
}

// Makes a rename durable: the directory entry is written out as well.
void sync_directory_of(const std::string& name) {
  const std::string::size_type slash = name.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : name.substr(0, slash);
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

std::string platform_name(std::string_view name) {
  std::string s(tarvello::trim_right(name));
  for (char& c : s)
    if (c == '\\') c = '/';
  return s;
}

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t k = ::write(fd, bytes.data(), bytes.size());
    if (k < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(k));
  }
  return true;
}

bool hold_working_directory(const std::string& stand_in) {
  int fd = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    // A directory that may be written but not read (mode 0333).
    fd = ::open(stand_in.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) fd = ::open(stand_in.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
  }
  if (fd < 0) return false;
  if (!lock(fd)) {
    ::close(fd);
    return false;
  }
  keep_held(fd);
  return true;
}

void hold_while_replacing(const std::string& name) {
  if (name.empty() || name.find('\0') != std::string::npos) return;
  const std::string target = link_target(name);
  const std::string temp = temp_name(target);
  for (;;) {
    // O_NONBLOCK: a FIFO under the name is not waited for; it is no file to lock.
    const int fd = ::open(target.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const Hold hold = fd >= 0 ? lock_named(fd, target) : errno == ENOENT ? hold_missing(target, temp) : Hold::Nothing;
    if (hold != Hold::Again) return;
  }
}

int UnitFile::open(const std::string& name, Mode mode, bool read_only, std::unique_ptr<UnitFile>& file) {
  if (name.empty()) return kFileNotFound;
  if (name.find('\0') != std::string::npos) return kFileNameError;
  std::unique_ptr<UnitFile> f(new UnitFile);

  struct stat st {};
  const bool present = ::stat(name.c_str(), &st) == 0;
  if (mode == Mode::Existing && !present) return open_failure(errno);
  // A directory is no file to replace, nor one to read only.
  if (present && S_ISDIR(st.st_mode) && (mode == Mode::ReplaceWhole || read_only)) return open_failure(EISDIR);
  if (mode == Mode::ReplaceWhole) {
    f->replace_ = true;
    // A name that is a symbolic link has the file it points to replaced, or
    // made when it does not exist yet: the link stays.
    f->target_ = link_target(name);
    f->temp_ = temp_name(f->target_);
    if (present) {
      f->fd_ = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
      if (f->fd_ < 0) return open_failure(errno);
      f->mode_ = st.st_mode & 07777;
      f->owner_ = st.st_uid;
      f->group_ = st.st_gid;
      // Only a user who may write the file itself may replace it, although
      // the directory would let any user who may write there do so. The
      // file is still read; its first write is refused.
      f->writable_ = ::access(name.c_str(), W_OK) == 0;
    } else {
      // The temporary file is made at once, so that a place where the file
      // cannot be made fails the open itself.
      f->target_missing_ = true;
      if (const int st_temp = f->create_temp(); st_temp != 0) return st_temp;
    }
  } else if (read_only) {
    f->fd_ = ::open(name.c_str(), O_RDONLY | (present ? 0 : O_CREAT) | O_CLOEXEC, 0666);
    f->writable_ = false;
  } else {
    f->fd_ = ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (f->fd_ < 0 && (errno == EACCES || errno == EROFS) && present) {
      f->fd_ = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
      f->writable_ = false;
    }
    if (f->fd_ < 0) return open_failure(errno);
  }
  struct stat opened {};
  if (f->fd_ >= 0 && ::fstat(f->fd_, &opened) == 0 && S_ISREG(opened.st_mode)) f->read_limit_ = opened.st_size;
  if (mode == Mode::Append) {
    if (const int st_end = f->position_at_end(name); st_end != 0) return st_end;
  }
  file = std::move(f);
  return 0;
}

// Stands at the end of the file as if every record had been read: the first
// write follows the last line, which gets its line end first when it has
// none. Only the last byte is read. A device is written as it is.
int UnitFile::position_at_end(const std::string& name) {
  eof_ = true;
  if (read_limit_ < 0) return 0;
  append_from_ = consumed_ = read_limit_;
  append_name_ = name;
  if (consumed_ == 0) return 0;
  char last = 0;
  ssize_t k = 0;
  do {
    k = ::pread(fd_, &last, 1, consumed_ - 1);
  } while (k < 0 && errno == EINTR);
  if (k != 1) return kReadError;
  unterminated_ = last != '\n';
  return 0;
}

// Makes the temporary file of a file being replaced whole and holds it until
// the process ends (see hold_while_replacing). It is a new file (O_EXCL),
// never one that another writer holds or a link to elsewhere, or else the
// one that this run made to hold a file that did not exist. One that another
// run holds is waited for; one that nobody holds is what a killed run left:
// it is removed, and the creation tried again.
int UnitFile::create_temp() {
  for (int removed = 0;;) {
    temp_fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (temp_fd_ >= 0) {
      if (lock(temp_fd_)) keep_held(::dup(temp_fd_));
      return 0;
    }
    if (errno != EEXIST) return open_failure(errno);
    const int fd = ::open(temp_.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0 && held_lock(fd) != nullptr) {
      temp_fd_ = fd;
      return ::ftruncate(temp_fd_, 0) == 0 ? 0 : kWriteError;
    }
    const bool leftover = fd < 0 || !lock(fd) || names(temp_, fd);
    if (fd >= 0) ::close(fd);
    if (!leftover) continue;  // another run had it and let it go
    if (removed++ > 0) return open_failure(EEXIST);
    if (::unlink(temp_.c_str()) != 0) return open_failure(errno);
  }
}

std::unique_ptr<UnitFile> UnitFile::console() {
  std::unique_ptr<UnitFile> f(new UnitFile);
  f->fd_ = STDOUT_FILENO;
  f->console_ = true;
  f->written_ = true;
  return f;
}

UnitFile::~UnitFile() {
  // A file still open here is dropped without a report: nothing more is written.
  if (fd_ >= 0 && !console_) ::close(fd_);
  if (temp_fd_ >= 0) {
    ::close(temp_fd_);
    ::unlink(temp_.c_str());
  }
}

bool UnitFile::refill() {
  if (eof_ || fd_ < 0) {
    eof_ = true;
    return false;
  }
  if (begin_ > 0) {
    std::memmove(in_.data(), in_.data() + begin_, filled_ - begin_);
    in_offset_ += static_cast<off_t>(begin_);
    filled_ -= begin_;
    begin_ = 0;
  }
  if (in_.size() < filled_ + kReadChunk) in_.resize(filled_ + kReadChunk);
  std::size_t room = in_.size() - filled_;
  if (read_limit_ >= 0) {
    const off_t left = read_limit_ - (in_offset_ + static_cast<off_t>(filled_));
    if (left <= 0) {
      eof_ = true;
      return false;
    }
    if (static_cast<std::size_t>(left) < room) room = static_cast<std::size_t>(left);
  }
  for (;;) {
    const ssize_t k = ::read(fd_, in_.data() + filled_, room);
    if (k < 0 && errno == EINTR) continue;
    if (k < 0) throw TransferFailure{kReadError};
    if (k == 0) {
      eof_ = true;
      return false;
    }
    filled_ += static_cast<std::size_t>(k);
    return true;
  }
}

bool UnitFile::next(std::string_view& record) {
  if (written_) return false;
  std::size_t scanned = begin_;
  for (;;) {
    const char* base = in_.data();
    const void* lf = std::memchr(base + scanned, '\n', filled_ - scanned);
    if (lf != nullptr) {
      const std::size_t end = static_cast<std::size_t>(static_cast<const char*>(lf) - base);
      std::size_t stop = end;
      while (stop > begin_ && base[stop - 1] == '\r') --stop;  // CR bytes just before the LF
      record = std::string_view(base + begin_, stop - begin_);
      begin_ = end + 1;
      consumed_ = in_offset_ + static_cast<off_t>(begin_);
      unterminated_ = false;
      return true;
    }
    const std::size_t old_begin = begin_;
    scanned = filled_;
    if (!refill()) {
      if (begin_ == filled_) return false;
      // A last line without LF is a record.
      record = std::string_view(in_.data() + begin_, filled_ - begin_);
      begin_ = filled_;
      consumed_ = in_offset_ + static_cast<off_t>(begin_);
      unterminated_ = true;
      return true;
    }
    scanned -= old_begin - begin_;
  }
}

bool UnitFile::at_end() {
  if (written_) return true;
  if (begin_ < filled_) return false;
  return !refill();
}

bool UnitFile::identity(Identity& id) const {
  struct stat st {};
  if (fd_ < 0 || console_ || read_limit_ < 0 || ::fstat(fd_, &st) != 0) return false;
  id = {st.st_dev, st.st_ino, read_limit_};
  return true;
}

std::size_t UnitFile::read_at(off_t offset, char* data, std::size_t size) const {
  for (;;) {
    const ssize_t k = ::pread(fd_, data, size, offset);
    if (k >= 0) return static_cast<std::size_t>(k);
    if (errno != EINTR) throw TransferFailure{kReadError};
  }
}

int UnitFile::start_writing() {
  if (!writable_) return kPermissionDenied;
  if (replace_) {
    if (temp_fd_ < 0) {
      if (const int st = create_temp(); st != 0) return st;
      // The new file keeps the owner, group and permissions of the one it
      // replaces; the permissions last, as a change of owner may clear them.
      keep_owner(temp_fd_, owner_, group_);
      ::fchmod(temp_fd_, mode_);
      // It starts with what has been read: the records before the first write.
      out_.resize(static_cast<std::size_t>(consumed_));
      std::size_t got = 0;
      while (got < out_.size()) {
        const ssize_t k = ::pread(fd_, out_.data() + got, out_.size() - got, static_cast<off_t>(got));
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) {
          out_.clear();
          return kReadError;
        }
        got += static_cast<std::size_t>(k);
      }
    }
  } else {
    // Only a regular file has an end to move; a device such as /dev/null
    // or /dev/full is written as it is.
    struct stat st {};
    const bool regular = ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
    if (regular && (::ftruncate(fd_, consumed_) != 0 || ::lseek(fd_, consumed_, SEEK_SET) < 0)) return kWriteError;
  }
  if (unterminated_) out_ += "\r\n";
  written_ = true;
  in_.clear();
  in_.shrink_to_fit();
  begin_ = filled_ = 0;
  return 0;
}

std::string* UnitFile::begin_write(int& status) {
  status = written_ ? 0 : start_writing();
  return status == 0 ? &out_ : nullptr;
}

int UnitFile::write_out() {
  const int fd = replace_ ? temp_fd_ : fd_;
  const bool ok = write_all(fd, out_);
  if (ok && replace_) {
    // A file being replaced whole is made durable at its close. Its bytes are
    // sent on their way to the disk as they are written out, so that the
    // close waits only for the last of them.
    ::sync_file_range(temp_fd_, flushed_, static_cast<off_t>(out_.size()), SYNC_FILE_RANGE_WRITE);
    flushed_ += static_cast<off_t>(out_.size());
  }
  out_.clear();
  if (!ok) cut_back();
  return ok ? 0 : kWriteError;
}

// An append that cannot be written whole is taken back: the file is cut to
// its length at the open, so that no part of a line is left in it, and a
// later write starts the append anew (with the line end that the last line
// may need).
void UnitFile::cut_back() {
  if (append_from_ < 0) return;
  const bool cut = fd_ >= 0 ? ::ftruncate(fd_, append_from_) == 0 : ::truncate(append_name_.c_str(), append_from_) == 0;
  if (cut && fd_ >= 0) ::lseek(fd_, append_from_, SEEK_SET);
  written_ = false;
}

int UnitFile::end_write() { return out_.size() < kFlushThreshold ? 0 : write_out(); }

int UnitFile::flush() { return out_.empty() ? 0 : write_out(); }

int UnitFile::close(bool commit) {
  int status = flush();
  out_.clear();
  if (console_) return status;
  if (replace_) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (temp_fd_ >= 0) {
      const bool keep = commit && status == 0 && (written_ || target_missing_);
      if (keep && ::fsync(temp_fd_) != 0) status = kWriteError;
      if (::close(temp_fd_) != 0 && status == 0) status = kWriteError;
      temp_fd_ = -1;
      if (keep && status == 0 && ::rename(temp_.c_str(), target_.c_str()) == 0) {
        sync_directory_of(target_);
      } else {
        // A rename that fails is no write that failed: the file written is
        // whole, only putting it in place under its name was refused.
        if (keep && status == 0) status = kOpenFailure;
        ::unlink(temp_.c_str());
      }
    }
  } else if (fd_ >= 0) {
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && status == 0) {
      // The close reports a write that failed: an append is cut back by name.
      status = kWriteError;
      if (written_) cut_back();
    }
  }
  return status;
}

}  // namespace rec

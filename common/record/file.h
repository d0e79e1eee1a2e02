// The file layer: a unit's file on the platform (POSIX open, read, write,
// fsync, rename), its read and write buffers, the first write that ends the
// file after what was read, files appended to all or nothing, files replaced
// whole, and the locks by which runs take turns: one on the working directory
// and one on each file replaced whole.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "record/record_source.h"

namespace rec {

// Maps a name as the program holds it to the platform's: trailing blanks
// removed, "\" as "/".
std::string platform_name(std::string_view name);

// Writes all the bytes to a descriptor; false when the platform refuses them.
bool write_all(int fd, std::string_view bytes);

// Waits until no other process holds the working directory, then holds it
// until this process ends, so that runs in one directory take turns instead
// of writing the same files at once. The lock is an advisory lock on the
// directory itself. A directory that this user may not open for reading is
// locked through the file `stand_in` in it instead (made empty when it does
// not exist), which every run in the directory locks the same way. Returns
// false, holding nothing, where the platform cannot lock either; the run then
// goes on without.
bool hold_working_directory(const std::string& stand_in);

// Waits until no other process holds the file `name` (a platform name), which
// is to be replaced whole, then holds it until this process ends, so that
// runs that replace one file take turns wherever they started. A symbolic link
// is followed to the file it leads to. A file that does not exist yet is held
// through its temporary file, which is made empty for it and which the
// replacing then writes. The temporary file that replaces the file is held as
// well, so that the lock stays with the name when the rename puts it there. A
// name that leads to no regular file, a file that is already held, and a
// platform without locks hold nothing.
//
// Runs hold the working directory first and then one such file: the one
// lock on a directory, the other on a regular file, so no two runs can wait
// for each other.
void hold_while_replacing(const std::string& name);

class UnitFile : public RecordSource {
 public:
  enum class Mode {
    Existing,      // the file must exist
    Create,        // the file is opened, or created empty when it does not exist
    Append,        // as Create, but positioned at the file's end without
                   // reading it; the writes of the connection are all or
                   // nothing: one that fails cuts the file back to its length
                   // at the open
    ReplaceWhole,  // as Create, but what is written goes to a temporary file
                   // beside it, which a committed close renames over it
  };

  // Opens `name` (a platform name). Returns 0 and the file, or a failure
  // number. A file that is `read_only` (Existing or Create) is opened for
  // reading alone, so that a FIFO or a device is read to its end and a file
  // that the user may not write is still read; a write to it is refused.
  static int open(const std::string& name, Mode mode, bool read_only, std::unique_ptr<UnitFile>& file);
  // Standard output: written only.
  static std::unique_ptr<UnitFile> console();

  UnitFile(const UnitFile&) = delete;
  UnitFile& operator=(const UnitFile&) = delete;
  ~UnitFile() override;

  // Reading. A file is read as it stood when it was opened: what is appended
  // to it later (the run report, should it be named as the source) is not
  // read. Nothing is read after the first write. A platform read error is
  // thrown as a TransferFailure.
  bool next(std::string_view& record) override;
  bool at_end();

  // The file as it stood at the open, for a reader that carries what it
  // found of the file from one connection to the next: its device, inode
  // and length. False for a file that is not a regular file.
  struct Identity {
    dev_t device;
    ino_t inode;
    off_t length;
  };
  bool identity(Identity& id) const;
  // Reads up to `size` bytes at `offset`, whatever has been read or written
  // through the connection; returns how many (0 at the end of the file). A
  // platform read error is thrown as a TransferFailure.
  std::size_t read_at(off_t offset, char* data, std::size_t size) const;

  // Writing. Records are appended to the buffer that begin_write returns
  // (0, or a failure number, through `status`); end_write writes it out once
  // it has grown large. The first write ends the file after the last record
  // read; a last record without a line end gets one first.
  std::string* begin_write(int& status);
  int end_write();
  // Writes out the buffer.
  int flush();
  // Writes out and closes. `commit` says whether a file being replaced whole
  // takes what was written; otherwise it stays as it was.
  int close(bool commit);

 private:
  UnitFile() = default;
  bool refill();
  int position_at_end(const std::string& name);
  int create_temp();
  int start_writing();
  int write_out();
  void cut_back();

  int fd_ = -1;  // the file as opened (read, and written unless replaced whole)
  bool console_ = false;
  bool writable_ = true;

  // Reading: records are cut from a buffer of the file's bytes.
  std::string in_;
  std::size_t begin_ = 0, filled_ = 0;
  off_t in_offset_ = 0;  // file offset of in_[0]
  bool eof_ = false;
  off_t read_limit_ = -1;  // the file's size when it was opened, for regular files
  off_t consumed_ = 0;     // end of the last record read
  bool unterminated_ = false;  // that record had no line end

  // Writing.
  bool written_ = false;  // the first record has been written
  std::string out_;

  // Appending all or nothing: the file's length at the open (-1 when the
  // connection does not append), and its name, to cut it back by.
  off_t append_from_ = -1;
  std::string append_name_;

  // Replacing whole.
  bool replace_ = false;
  bool target_missing_ = false;
  std::string target_;  // the file replaced (a symbolic link's target)
  std::string temp_;    // the temporary file beside it
  int temp_fd_ = -1;
  mode_t mode_ = 0644;  // permissions of the file being replaced
  uid_t owner_ = static_cast<uid_t>(-1);  // and its owner and group
  gid_t group_ = static_cast<gid_t>(-1);
  off_t flushed_ = 0;   // bytes written out to the temporary file so far
};

}  // namespace rec

// The file layer: a unit's file on the platform (POSIX open, read, write,
// fsync, rename), its read and write buffers, the first write that ends the
// file after what was read, and files replaced whole.
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

class UnitFile : public RecordSource {
 public:
  enum class Mode {
    Existing,      // the file must exist
    Create,        // the file is opened, or created empty when it does not exist
    ReplaceWhole,  // as Create, but what is written goes to a temporary file
                   // beside it, which a committed close renames over it
  };

  // Opens `name` (a platform name). Returns 0 and the file, or a failure number.
  static int open(const std::string& name, Mode mode, std::unique_ptr<UnitFile>& file);
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
  int start_writing();
  int write_out();

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

  // Replacing whole.
  bool replace_ = false;
  bool target_missing_ = false;
  std::string target_;  // the file replaced (a symbolic link's target)
  std::string temp_;    // the temporary file beside it
  int temp_fd_ = -1;
  mode_t mode_ = 0644;  // permissions of the file being replaced
  off_t flushed_ = 0;   // bytes written out to the temporary file so far
};

}  // namespace rec

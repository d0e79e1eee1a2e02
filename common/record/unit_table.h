// The unit table: numbered units connected to files and to the console,
// default files fort.N and FORTn, closing, and the ending of a run.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "record/file.h"
#include "record/run_end.h"
#include "record/status.h"

namespace rec {

// The console: standard output.
inline constexpr int kConsole = 6;

enum class OpenStatus {
  Unknown,  // open the file, creating it empty when it does not exist
  Old,      // the file must exist
};

struct OpenOptions {
  // The file is replaced whole or not at all: everything written goes to a
  // temporary file beside it, which the close renames over it. A run that ends
  // before the close leaves the file as it was.
  bool replace_whole = false;
  // The file (made when missing) is opened at its end, as if every record had
  // been read, whatever its length: what is written follows its last line,
  // which gets its line end first when it has none. What the connection
  // writes goes in whole or not at all: a write that the platform refuses
  // cuts the file back to its length at the open.
  bool append = false;
  // The file is only read: it is opened for reading alone, so that a FIFO or
  // a device is read to its end and a file that the user may not write is
  // read all the same. A write to it is refused (failure 9).
  bool read_only = false;
};

// The unit a statement names and how it handles a failure: without a status
// check a failure ends the run; with one (checked(unit, status)) the
// statement stores its status there and the run goes on.
struct UnitRef {
  UnitRef(int u) : unit(u) {}  // NOLINT: a plain unit number is an unchecked statement
  int unit;
  std::int32_t* status = nullptr;
};
inline UnitRef checked(int unit, std::int32_t& status) {
  UnitRef r(unit);
  r.status = &status;
  return r;
}

class UnitTable {
 public:
  UnitTable();
  UnitTable(const UnitTable&) = delete;
  UnitTable& operator=(const UnitTable&) = delete;

  void open(UnitRef unit, std::string_view name, OpenStatus status, OpenOptions options = {});
  // Close, keeping the file.
  void close(UnitRef unit);
  // Whether a file of that name exists (a directory counts).
  static bool exists(std::string_view name);
  // Holds the file of that name, which the run replaces whole, until the run
  // ends: a run that replaces the same file waits for this one to end first
  // (see rec::hold_while_replacing). Taken before the file is first looked at.
  static void hold_while_replacing(std::string_view name);
  // Whether the unit's file holds no further record.
  bool at_end(UnitRef unit);

  // Writes out what every unit holds, so that a write the platform refuses
  // ends the run (failure 38) here rather than at the end of the run.
  void flush_all();

  // Ends the run: writes out and closes every unit (a file being replaced
  // whole is replaced only at a normal end), writes the ending's line to
  // standard error and returns the exit status. `ending` is null for the
  // normal end. A unit that cannot be written out ends a normal run with its
  // failure; a run that is already ending keeps its own line and status.
  int end_run(const RunEnd* ending) noexcept;

  // The full path of a name, for messages.
  std::string full_path(std::string_view name) const;

 protected:
  // A connected unit's file, opened for reading (a unit that was never
  // opened reads its default file, which must exist), or its output buffer,
  // ready for a write (it writes its default file, created when missing).
  // Returns 0 or a failure number; `file` is then null.
  int for_read(int unit, UnitFile*& file);
  int for_write(int unit, UnitFile*& file, std::string*& out);
  // The one place where a statement's status is settled: stored in its
  // status check, or, when it has none, a failure that ends the run.
  void settle(UnitRef unit, int status);

 private:
  struct Connection {
    int unit;
    std::string path;  // full path, for messages
    std::unique_ptr<UnitFile> file;
  };
  Connection* find(int unit);
  // The unit's file; a unit that was never opened is connected to its
  // default file with the given status.
  int connected(int unit, OpenStatus default_status, UnitFile*& file);
  int connect(int unit, std::string_view name, OpenStatus status, OpenOptions options);
  int disconnect(std::size_t index, bool commit);
  // Closes the unit, keeping its file, when it is connected (never the console).
  int close_unit(int unit);

  std::string directory_;  // the working directory, for full paths in messages
  std::vector<Connection> connections_;
  // The unit and file of the latest operation that failed, for its failure line.
  int failed_unit_ = 0;
  std::string failed_path_;
};

}  // namespace rec

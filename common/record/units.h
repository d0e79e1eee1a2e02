// Units: numbered connections to files and to the console, and the
// transfers of the record layer on them.
//
// A statement names a unit; the unit table connects it to a file by name
// (open), or to its default file fort.N on its first transfer. Output is
// buffered per unit and written out when a buffer grows large, when the unit
// is closed and when the run ends.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "record/format.h"
#include "record/items.h"
#include "record/list_input.h"
#include "record/list_output.h"
#include "record/run_end.h"
#include "record/transfer_failure.h"

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
};

// The status check of a statement: the statement stores its status in it
// instead of ending the run on a failure.
struct IoStat {
  std::int32_t& status;
};
inline IoStat iostat(std::int32_t& status) { return {status}; }

// Maps a name as the program holds it to the platform's: trailing blanks
// removed, "\" as "/".
std::string platform_name(std::string_view name);

class Units {
 public:
  Units();
  Units(const Units&) = delete;
  Units& operator=(const Units&) = delete;
  ~Units();

  // Open, unchecked (a failure ends the run) or with a status check.
  void open(int unit, std::string_view name, OpenStatus status, OpenOptions options = {});
  void open(int unit, std::string_view name, OpenStatus status, IoStat ios, OpenOptions options = {});
  // Close, keeping the file.
  void close(int unit);
  void close(int unit, IoStat ios);
  // Whether a file of that name exists (a directory counts).
  static bool exists(std::string_view name);
  // Whether the unit's file holds no further record.
  bool at_end(int unit);

  // Fixed-format write and read.
  template <class... A>
  void write(int unit, const BoundFormat& f, A&&... args) {
    auto g = items(std::forward<A>(args)...);
    write_formatted(unit, f, ItemCursor(g));
  }
  // `times` writes of the same items: the records are built once and their
  // characters written again for each further write.
  template <class... A>
  void write_repeated(int unit, std::size_t times, const BoundFormat& f, A&&... args) {
    if (times == 0) return;
    auto g = items(std::forward<A>(args)...);
    write_formatted(unit, f, ItemCursor(g), times);
  }
  // `count` writes with one layout, as many calls of write() would make
  // them: write k (from 0) takes the items that items_of(k, put) passes to
  // put(...). Blocks of these writes are built on several threads at once,
  // each block into a buffer of its own, and go into the unit in order, with
  // the file written out at the same points. items_of may run on any of the
  // threads: it may change nothing but what belongs to write k alone.
  template <class ItemsOf>
  void write_records(int unit, const BoundFormat& f, std::size_t count, ItemsOf&& items_of) {
    write_blocks(unit, count, [&](std::size_t k, std::string& out) {
      items_of(k, [&](auto&&... args) {
        auto g = items(std::forward<decltype(args)>(args)...);
        format_statement(f, ItemCursor(g), out);
      });
    });
  }
  template <class... A>
  void read(int unit, const BoundFormat& f, A&&... args) {
    auto g = items(std::forward<A>(args)...);
    check(unit, read_formatted(unit, f, ItemCursor(g)));
  }
  template <class... A>
  void read(int unit, const BoundFormat& f, IoStat ios, A&&... args) {
    auto g = items(std::forward<A>(args)...);
    ios.status = read_formatted(unit, f, ItemCursor(g));
  }

  // `count` free-form reads of a row of reals each, as many calls of
  // read_list(unit, row_of(k)) would make them: read k (from 0) fills the
  // row that row_of(k) returns. A run of records that each hold the row as
  // plain decimals between blanks is converted on several threads at once;
  // any other record goes to the general reader in its turn, so the values,
  // the position in the file and any failure are those of the separate
  // reads. row_of may be called ahead of the read it serves and more than
  // once.
  using RowOf = std::function<std::span<float>(std::size_t k)>;
  void read_rows(int unit, std::size_t count, const RowOf& row_of);

  // Free-form write and read.
  template <class... A>
  void print(int unit, A&&... args) {
    auto g = items(std::forward<A>(args)...);
    write_list(unit, ItemCursor(g));
  }
  template <class... A>
  void read_list(int unit, A&&... args) {
    auto g = items(std::forward<A>(args)...);
    check(unit, read_list_items(unit, ItemCursor(g)));
  }
  template <class... A>
  void read_list(int unit, IoStat ios, A&&... args) {
    auto g = items(std::forward<A>(args)...);
    ios.status = read_list_items(unit, ItemCursor(g));
  }

  // Writes out what every unit holds, so that a write the platform refuses
  // ends the run (failure 38) here rather than at the end of the run.
  void flush_all();

  // Ends the run: writes out and closes every unit (a file being replaced
  // whole is replaced only at a normal end), writes the ending's line to
  // standard error and returns the exit status. `ending` is null for the
  // normal end.
  int end_run(const RunEnd* ending);

  struct Connection;
  // Appends the records of write k to the buffer.
  using BuildRecords = std::function<void(std::size_t k, std::string& out)>;

 private:
  Connection& for_write(int unit);
  Connection& for_read(int unit);
  int connect_for_read(int unit, Connection*& c);
  Connection* find(int unit);
  std::string full_path(std::string_view name) const;
  int open_connection(int unit, std::string_view name, OpenStatus status, OpenOptions options);
  int close_connection(std::size_t index, bool commit);
  void after_write(Connection& c);
  void check(int unit, int status);
  void write_formatted(int unit, const BoundFormat& f, ItemCursor items, std::size_t times = 1);
  void write_blocks(int unit, std::size_t count, const BuildRecords& build);
  int read_formatted(int unit, const BoundFormat& f, ItemCursor items);
  void write_list(int unit, ItemCursor items);
  int read_list_items(int unit, ItemCursor items);
  [[noreturn]] void fail_on(int number, const Connection& c);

  std::string directory_;  // the working directory, for full paths in messages
  // The unit and file of the latest close that failed, for its failure line.
  int pending_unit_ = 0;
  std::string pending_path_;
  std::vector<std::unique_ptr<Connection>> connections_;
};

// Transfers on a text variable.
template <class... A>
void write_internal(tarvello::TextRef target, const BoundFormat& f, A&&... args);
template <class... A>
void read_internal(std::string_view text, const BoundFormat& f, A&&... args);
template <class... A>
int read_internal_list(std::string_view text, A&&... args);

namespace detail {
void write_internal(tarvello::TextRef target, const BoundFormat& f, ItemCursor items);
int read_internal(std::string_view text, const BoundFormat& f, ItemCursor items);
int read_internal_list(std::string_view text, ItemCursor items);
}  // namespace detail

// A fixed-format write into a text variable: one record, then blanks to its length.
template <class... A>
void write_internal(tarvello::TextRef target, const BoundFormat& f, A&&... args) {
  auto g = items(std::forward<A>(args)...);
  detail::write_internal(target, f, ItemCursor(g));
}

// A fixed-format read from a text variable, unchecked.
template <class... A>
void read_internal(std::string_view text, const BoundFormat& f, A&&... args) {
  auto g = items(std::forward<A>(args)...);
  int status = detail::read_internal(text, f, ItemCursor(g));
  if (status != 0) fail(status == kEndOfFile ? failure::kEndOfFile : status, -1, "internal formatted read");
}

// A free-form read from a text variable; returns its status.
template <class... A>
int read_internal_list(std::string_view text, A&&... args) {
  auto g = items(std::forward<A>(args)...);
  return detail::read_internal_list(text, ItemCursor(g));
}

}  // namespace rec

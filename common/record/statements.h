// Statements: fixed-format and free-form transfers on a unit or on a text
// variable.
//
// A statement names a unit, a layout where it has one, and its items; the
// unit table connects the unit and settles the statement's status. Records
// are built straight into the unit's output buffer.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

#include "fixed_text.h"
#include "record/format.h"
#include "record/items.h"
#include "record/list_input.h"
#include "record/unit_table.h"

namespace rec {

// A pass of free-form reads over a file (Units::read_list_to_end), and the
// file that it has passed over.
struct FileScan {
  TextReadsScan reads;
  dev_t device = 0;
  ino_t inode = 0;
};

class Units : public UnitTable {
 public:
  // Fixed-format write and read.
  template <class... A>
  void write(UnitRef unit, const BoundFormat& f, A&&... args) {
    auto g = items(std::forward<A>(args)...);
    write_formatted(unit, f, ItemCursor(g), 1);
  }
  // `times` writes of the same items: the records are built once and their
  // characters written again for each further write.
  template <class... A>
  void write_repeated(UnitRef unit, std::size_t times, const BoundFormat& f, A&&... args) {
    if (times == 0) return;
    auto g = items(std::forward<A>(args)...);
    write_formatted(unit, f, ItemCursor(g), times);
  }
  template <InputItem... A>
  void read(UnitRef unit, const BoundFormat& f, A&&... args) {
    auto g = input_items(std::forward<A>(args)...);
    read_formatted(unit, f, ItemCursor(g));
  }

  // Free-form write and read.
  template <class... A>
  void print(UnitRef unit, A&&... args) {
    auto g = items(std::forward<A>(args)...);
    write_list(unit, ItemCursor(g));
  }
  template <InputItem... A>
  void read_list(UnitRef unit, A&&... args) {
    auto g = input_items(std::forward<A>(args)...);
    read_list_items(unit, ItemCursor(g));
  }

  // The free-form reads of one text item each that take the unit's file
  // from its first record to its end, as
  //     while (!at_end(unit)) read_list(unit, text);
  // does, made as one pass over the file's bytes, whatever the unit's
  // position. `scan` carries the pass from one connection of the file to
  // the next: a file that has only grown since is passed over only in what
  // it gained. An empty file is not read: the text and the status stay as
  // they are.
  void read_list_to_end(UnitRef unit, tarvello::TextRef text, FileScan& scan);

 private:
  void write_formatted(UnitRef unit, const BoundFormat& f, ItemCursor items, std::size_t times);
  void read_formatted(UnitRef unit, const BoundFormat& f, ItemCursor items);
  void write_list(UnitRef unit, ItemCursor items);
  void read_list_items(UnitRef unit, ItemCursor items);
};

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
template <InputItem... A>
void read_internal(std::string_view text, const BoundFormat& f, A&&... args) {
  auto g = input_items(std::forward<A>(args)...);
  if (const int status = detail::read_internal(text, f, ItemCursor(g)); status != 0)
    fail(status, -1, "internal formatted read");
}

// A free-form read from a text variable; returns its status.
template <InputItem... A>
int read_internal_list(std::string_view text, A&&... args) {
  auto g = input_items(std::forward<A>(args)...);
  return detail::read_internal_list(text, ItemCursor(g));
}

}  // namespace rec

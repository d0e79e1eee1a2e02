// Fixed-format record layouts.
//
// A layout such as (A20,I4.4,'/',I2.2,'  ',I2.2,':00:00') or (20X,9999(1X,F11.3))
// is parsed once into a flat list of edits and then driven by one interpreter
// for every record written or read with it. A repeat count may be a name
// (n(A9,3X), nF12.2, <n>F10.3) whose value is bound when the record is
// transferred.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "record/items.h"

namespace rec {

struct Edit {
  enum Kind : std::uint8_t { A, I, F, E, X, Literal, Group };
  Kind kind;
  int width = 0;   // w (Aw without w takes the item's length: width 0)
  int digits = 0;  // d of Fw.d and Ew.d, m of Iw.m (0: none given)
  int repeat = 1;  // fixed repeat count
  int name = -1;   // index of the named repeat count, or -1
  int end = 0;     // Group: index one past its last edit
  std::uint32_t literal_at = 0, literal_size = 0;  // Literal: its text in `literals`
};

class BoundFormat;

class Format {
 public:
  static constexpr int kMaxNames = 4;

  // Parses a parenthesised layout; a malformed one is a programming error
  // (std::invalid_argument).
  explicit Format(std::string_view text);

  // Binds named repeat counts: fmt.with("n", count).
  BoundFormat with(std::string_view name, int value) const;

  const std::vector<Edit>& edits() const { return edits_; }
  std::string_view literal(const Edit& e) const {
    return std::string_view(literals_).substr(e.literal_at, e.literal_size);
  }
  // Where the layout starts again when it ends while items remain.
  std::size_t reversion() const { return reversion_; }
  int name_index(std::string_view name) const;
  const std::string& text() const { return text_; }

 private:
  std::size_t parse_list(std::string_view s, std::size_t& i, bool top);
  std::string text_;
  std::vector<Edit> edits_;
  std::string literals_;
  std::size_t reversion_ = 0;
  std::array<std::string, kMaxNames> names_;
  int name_count_ = 0;
};

// A layout with the values of its named repeat counts.
class BoundFormat {
 public:
  BoundFormat(const Format& f) : format_(&f) {}  // NOLINT: a layout without names binds itself
  BoundFormat with(std::string_view name, int value) const;
  const Format& format() const { return *format_; }
  int count(const Edit& e) const { return e.name < 0 ? e.repeat : counts_[e.name]; }

 private:
  const Format* format_;
  std::array<int, Format::kMaxNames> counts_{};
};

inline BoundFormat Format::with(std::string_view name, int value) const {
  return BoundFormat(*this).with(name, value);
}

// Writes the records of one fixed-format output statement. Each call of
// next_record appends one record's characters (without its line end) to `out`
// and tells whether the items go on into a further record.
class FormattedWriter {
 public:
  FormattedWriter(const BoundFormat& f, ItemCursor& items) : f_(f), items_(items) {}
  bool next_record(std::string& out);

 private:
  enum class Flow { Go, End };
  Flow run(std::size_t begin, std::size_t end);
  std::size_t real_run(const Edit& e, std::size_t gap, std::size_t limit);
  void field(const Edit& e);
  void pad();
  const BoundFormat f_;
  ItemCursor& items_;
  std::string* out_ = nullptr;
  std::size_t start_ = 0;  // where the record begins in *out_
  std::size_t pos_ = 0;    // current position in the record, from 0
  std::size_t taken_ = 0;  // items taken so far
  bool first_ = true;
};

// Appends the records of one fixed-format output statement to `out`, each
// ended by CR LF. A TransferFailure leaves the records before the one that
// failed, and goes on to the caller.
void format_statement(const BoundFormat& f, ItemCursor items, std::string& out);

// Reads the records of one fixed-format input statement: each call takes one
// record and tells whether the items want a further record. Returns a status
// through `status` (0, or a failure number of the field conversion).
class FormattedReader {
 public:
  FormattedReader(const BoundFormat& f, ItemCursor& items) : f_(f), items_(items) {}
  bool next_record(std::string_view record, int& status);

 private:
  enum class Flow { Go, End, Fail };
  Flow run(std::size_t begin, std::size_t end);
  std::string_view field(std::size_t w);
  const BoundFormat f_;
  ItemCursor& items_;
  std::string_view record_;
  std::string scratch_;
  std::size_t pos_ = 0;
  std::size_t taken_ = 0;  // items taken so far
  int status_ = 0;
  bool first_ = true;
};

}  // namespace rec

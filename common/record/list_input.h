// Free-form input: one tokenizer that fills the items of a read from the
// values of one or more records.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "record/items.h"
#include "record/number_input.h"

namespace rec {

// Where a read takes its records from: a unit's file or a text variable.
class RecordSource {
 public:
  virtual ~RecordSource() = default;
  // Moves to the next record; false when there is none.
  virtual bool next(std::string_view& record) = 0;
};

// The longest text value a read accepts.
inline constexpr std::size_t kListTextLimit = 2049;

// Reads the items of one free-form read. Returns 0, kEndOfFile, kSyntaxError
// or kConversionError; items that the read does not reach keep their values.
int list_read(RecordSource& source, ListSource kind, ItemCursor items);

// Whether a record holds, from its start, at least row.size() plain decimals
// (see read_plain_decimal) each followed by a blank or the record's end, with
// only blanks before them. Then they are stored in row, and they are exactly
// what a free-form read of the row takes from this record, which it passes
// over to its end. Otherwise row is partly written and false is returned: the
// record is one for the general reader.
bool read_plain_reals(std::string_view record, std::span<float> row);

}  // namespace rec

// Free-form input: one tokenizer that fills the items of a read from the
// values of one or more records.
#pragma once

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

}  // namespace rec

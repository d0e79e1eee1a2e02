// Free-form input: one tokenizer that fills the items of a read from the
// values of one or more records.
#pragma once

#include <cstddef>

#include "record/items.h"
#include "record/number_input.h"
#include "record/record_source.h"

namespace rec {

// The longest text value a read accepts.
inline constexpr std::size_t kListTextLimit = 2049;

// Reads the items of one free-form read. Returns 0, kEndOfFile, kSyntaxError
// or kConversionError; items that the read does not reach keep their values.
int list_read(RecordSource& source, ListSource kind, ItemCursor items);

}  // namespace rec

// Free-form output: the layer lays out the items itself on lines of at most
// 80 characters, each ended with CR LF.
#pragma once

#include <string>

#include "record/items.h"

namespace rec {

inline constexpr std::size_t kListLineLimit = 80;
inline constexpr int kListIntegerWidth = 12;

// Appends the lines of one free-form write of `items` to `out`.
void list_write(std::string& out, ItemCursor items);

}  // namespace rec

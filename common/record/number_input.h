// Input conversion of one number: a free-form value token for an integer or a
// real item, and the Iw field of fixed-format input.
//
// Each routine returns a status (0, kSyntaxError or kConversionError) and sets
// or keeps the item exactly as the token rules say; it never reads beyond the
// token it is given.
#pragma once

#include <cstdint>
#include <string_view>

namespace rec {

inline constexpr int kEndOfFile = -1;       // no further record
inline constexpr int kSyntaxError = 59;     // token that is not a valid value
inline constexpr int kConversionError = 64; // value that cannot be converted

// Where the token comes from: a free-form read from a unit, or from a text
// variable (which reads T/F tokens differently).
enum class ListSource { External, Internal };

// A free-form number token: the characters of one value as the tokenizer
// delimited them (never empty, never a null value, never an r* repeat
// prefix). `quoted` is true when the value was given between apostrophes or
// quotation marks (then `token` is its text between the quotes).
int list_read_integer(std::string_view token, bool quoted, ListSource source,
                      std::int32_t& item);
int list_read_real(std::string_view token, bool quoted, ListSource source, float& item);

// Iw input: `field` is the w characters of the field (blanks already supplied
// for positions beyond the record's end). Blanks are ignored; an all-blank
// field, or a sign and blanks, gives 0. On failure the item is unchanged.
int fixed_read_integer(std::string_view field, std::int32_t& item);

}  // namespace rec

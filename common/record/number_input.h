// Input conversion of one number: a free-form value token for an integer or a
// real item, and the Iw field of fixed-format input.
//
// Each routine returns a status (0, kSyntaxError or kConversionError) and sets
// or keeps the item exactly as the token rules say; it never reads beyond the
// token it is given.
#pragma once

#include <cstdint>
#include <string_view>

#include "record/status.h"

namespace rec {


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

// The fast path of list_read_real: a plain decimal token, an optional sign
// then digits with at most one point, at least one digit and at most 8, and
// an optional exponent (its letter, an optional sign and digits), makes an
// integer m below 2^24 scaled by 10^s with |s| <= 10: m and 10^|s| are exact
// floats and one multiplication or division rounds correctly, so the value
// is the one that the exact conversion gives. Returns false, leaving
// `value` alone, for every other token.
bool read_plain_decimal(std::string_view token, float& value);

// The same for the plain decimal that begins at p, for a reader that finds a
// token's end as it converts it: returns the position after its last
// character (then `value` is set), or null when the characters from p are no
// plain decimal within those limits. What follows is not looked at: only a
// token that ends there is the plain decimal.
const char* scan_plain_decimal(const char* p, const char* end, float& value);

// Iw input: `field` is the w characters of the field (blanks already supplied
// for positions beyond the record's end). Blanks are ignored; an all-blank
// field, or a sign and blanks, gives 0. On failure the item is unchanged.
int fixed_read_integer(std::string_view field, std::int32_t& item);

}  // namespace rec

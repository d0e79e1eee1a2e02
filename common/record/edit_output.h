// Output editing of one field: the characters that Iw, Iw.m, Fw.d and Ew.d
// give for one value, and the 15-character real of free-form output.
//
// Each routine writes exactly its field width into `field` (which must have
// room for it) and never fails: a value that does not fit gives w asterisks.
// Reals are single precision and rounded from their exact binary value with
// ties to the even digit.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rec {

// Iw (m = 1) and Iw.m: right-justified, at least m digits, '-' for negatives.
void edit_integer(char* field, std::int32_t value, int w, int m);

// Fw.d: fixed point with d decimals. A zero integer part is written as one 0
// unless the field is too narrow for it; a negative value that rounds to zero
// keeps its minus sign, minus zero itself has none. Infinity gives Infinity,
// then Inf, then asterisks as the room allows (with '-' when negative); NaN
// gives NaN.
void edit_fixed(char* field, float value, int w, int d);

// Fw.d of `count` values, values[0], values[stride], ...: field k starts at
// field + k * step. Each field is exactly what edit_fixed gives for its value;
// a run of fields goes without the per-field dispatch.
void edit_fixed_each(char* field, std::size_t step, const float* values, std::size_t stride, std::size_t count,
                     int w, int d);

// Ew.d: [-]0.d1...ddE+xx, the leading 0 left out when the field is too narrow.
// Zero has exponent +00. Infinity and NaN as under Fw.d.
void edit_exponent(char* field, float value, int w, int d);

// Width of the free-form real field.
inline constexpr int kListRealWidth = 15;

// The free-form output form of a real: exactly kListRealWidth characters.
void edit_list_real(char* field, float value);

}  // namespace rec

// Output editing of one field (Iw, Iw.m, Fw.d, Ew.d and the free-form real).
//
// Digits always come from the exact binary value of the single-precision
// number. Fw.d with up to 8 decimals, the hot path of the level and flow
// tables, scales the value exactly in double, rounds it to an integer ties to
// even and writes its digits two at a time; every other case takes its
// digits from std::to_chars on the value widened to double (widening is
// exact, and to_chars with a precision rounds the exact value, ties to even).
// Both ways end in the same Fw.d layout. Nothing here allocates.
#include "record/edit_output.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <utility>

namespace rec {
namespace {

constexpr std::uint64_t kPow10[] = {1ULL,
                                    10ULL,
                                    100ULL,
                                    1000ULL,
                                    10000ULL,
                                    100000ULL,
                                    1000000ULL,
                                    10000000ULL,
                                    100000000ULL,
                                    1000000000ULL,
                                    10000000000ULL,
                                    100000000000ULL,
                                    1000000000000ULL,
                                    10000000000000ULL,
                                    100000000000000ULL,
                                    1000000000000000ULL,
                                    10000000000000000ULL,
                                    100000000000000000ULL,
                                    1000000000000000000ULL,
                                    10000000000000000000ULL};

// Largest number of decimals that the integer rounding handles.
constexpr int kFastDecimals = 8;

// The exact decimal expansion of a float has at most 149 digits after the
// point and at most 112 significant digits; beyond these all digits are zero.
// Asking to_chars for more than that is never needed.
constexpr int kMaxFixedPrecision = 150;
constexpr int kMaxSignificantDigits = 120;

// Decimal digits of v (1 for 0): the bit width gives the count or one more.
int count_digits(std::uint64_t v) {
  const int guess = (std::bit_width(v | 1U) * 1233) >> 12;  // 1233 / 4096 is just above log10(2)
  return guess + (v >= kPow10[guess] ? 1 : 0);
}

// "00" to "99": two digits per division.
struct DigitPairs {
  char text[200];
};
constexpr DigitPairs make_digit_pairs() {
  DigitPairs p{};
  for (int i = 0; i < 100; ++i) {
    p.text[2 * i] = static_cast<char>('0' + i / 10);
    p.text[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return p;
}
constexpr DigitPairs kDigitPairs = make_digit_pairs();

// Writes the `count` low decimal digits of v (with leading zeros) so that
// they end just before `end`; returns the position of the first one.
char* put_digits_before(char* end, std::uint64_t v, int count) {
  for (; count >= 2; count -= 2) {
    end -= 2;
    std::memcpy(end, kDigitPairs.text + 2 * (v % 100), 2);
    v /= 100;
  }
  if (count > 0) *--end = static_cast<char>('0' + v % 10);
  return end;
}

// Blanks over n characters; the widths of the level tables take two stores.
void fill_blanks(char* p, int n) {
  constexpr std::uint64_t kBlanks = 0x2020202020202020ULL;
  if (n >= 8 && n <= 16) {
    std::memcpy(p, &kBlanks, 8);
    std::memcpy(p + n - 8, &kBlanks, 8);
  } else {
    std::memset(p, ' ', static_cast<std::size_t>(n));
  }
}

void fill_asterisks(char* field, int w) { std::memset(field, '*', static_cast<std::size_t>(w)); }

// Leading blanks, then the n characters of text (n <= w).
void put_right(char* field, int w, const char* text, int n) {
  std::memset(field, ' ', static_cast<std::size_t>(w - n));
  std::memcpy(field + (w - n), text, static_cast<std::size_t>(n));
}

// Infinity and NaN, shared by Fw.d, Ew.d and the free-form real.
void edit_special(char* field, float value, int w) {
  if (std::isnan(value)) {
    if (w >= 3) {
      put_right(field, w, "NaN", 3);
    } else {
      fill_asterisks(field, w);
    }
    return;
  }
  const bool neg = std::signbit(value);
  const char* word = neg ? "-Infinity" : "Infinity";
  const char* shortword = neg ? "-Inf" : "Inf";
  const int n = neg ? 9 : 8;
  const int nshort = neg ? 4 : 3;
  if (n <= w) {
    put_right(field, w, word, n);
  } else if (nshort <= w) {
    put_right(field, w, shortword, nshort);
  } else {
    fill_asterisks(field, w);
  }
}

constexpr double kPow10Double[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};

// |value| * 10^d rounded to an integer, ties to even, for 0 <= d <=
// kFastDecimals. The float is m * 2^e with m below 2^24 and 10^d is
// 5^d * 2^d with 5^d below 2^19, so the product in double (53 bits) is exact.
// Below 2^52, adding 2^52 leaves no bits after the point and so rounds the
// sum to an integer in the default rounding mode, ties to even; taking 2^52
// away again is exact. Returns false from 2^52 on and for infinity and NaN
// (the caller then takes the general path).
bool round_scaled(float value, int d, std::uint64_t& out) {
  constexpr double kTwo52 = 4503599627370496.0;
  const double x = std::fabs(static_cast<double>(value)) * kPow10Double[d];
  if (!(x < kTwo52)) return false;
  const double rounded = (x + kTwo52) - kTwo52;
  out = static_cast<std::uint64_t>(static_cast<std::int64_t>(rounded));  // a signed conversion is one instruction
  return true;
}

// Significant digits of a positive finite value: writes `ndigits` digits
// rounded from the exact value (ties to even) to `digits` and returns the
// decimal exponent of the first one (value = d1.d2d3... * 10^exponent).
// Digits beyond the value's exact expansion are zeros. ndigits >= 1.
int significant_digits(double mag, int ndigits, char* digits) {
  char buf[64 + kMaxSignificantDigits];
  const int asked = std::min(ndigits, kMaxSignificantDigits);
  const auto res = std::to_chars(buf, buf + sizeof buf, mag, std::chars_format::scientific, asked - 1);
  const char* e = std::find(static_cast<const char*>(buf), static_cast<const char*>(res.ptr), 'e');
  int n = 0;
  for (const char* p = buf; p != e; ++p) {
    if (*p != '.') digits[n++] = *p;
  }
  std::memset(digits + n, '0', static_cast<std::size_t>(ndigits - n));
  int exponent = 0;
  const char* q = e + 1;
  const bool neg_exp = *q == '-';
  if (*q == '-' || *q == '+') ++q;
  std::from_chars(q, res.ptr, exponent);
  return neg_exp ? -exponent : exponent;
}

// 'E', the exponent's sign and two digits. Single-precision exponents in
// either of the forms here stay within -45..+39.
char* put_exponent(char* p, int exponent) {
  *p++ = 'E';
  *p++ = exponent < 0 ? '-' : '+';
  const int mag = exponent < 0 ? -exponent : exponent;
  *p++ = static_cast<char>('0' + mag / 10 % 10);
  *p++ = static_cast<char>('0' + mag % 10);
  return p;
}

// Writes the N digits of v < 10^N so that they end just before `end`; the
// count is known at compile time, so the divisions are by constants.
template <int N>
void put_decimals_before(char* end, std::uint32_t v) {
  if constexpr (N >= 2) {
    std::memcpy(end - 2, kDigitPairs.text + 2 * (v % 100), 2);
    put_decimals_before<N - 2>(end - 2, v / 100);
  } else if constexpr (N == 1) {
    end[-1] = static_cast<char>('0' + v);
  }
}

// Writes the digits of v (one 0 for 0) so that they end just before `end`;
// returns the position of the first one.
char* put_integer_before(char* end, std::uint64_t v) {
  if (v <= UINT32_MAX) {
    std::uint32_t u = static_cast<std::uint32_t>(v);
    for (; u >= 100; u /= 100) {
      end -= 2;
      std::memcpy(end, kDigitPairs.text + 2 * (u % 100), 2);
    }
    if (u >= 10) {
      end -= 2;
      std::memcpy(end, kDigitPairs.text + 2 * u, 2);
    } else {
      *--end = static_cast<char>('0' + u);
    }
    return end;
  }
  return put_digits_before(end, v, count_digits(v));
}

// ---------------------------------------------------------------- Fw.d
//
// Every field is laid out by lay_out_fixed, from the sign, the integer part
// and the decimals. The parts hold their digits either as numbers (the
// integer rounding) or as text (to_chars), and each writes its own.

// Integer part as a number.
struct IntegerValue {
  std::uint64_t v;
  bool zero() const { return v == 0; }
  // Whether its digits fit in `room` (>= 0) characters.
  bool fits(int room) const { return room >= 20 || v < kPow10[room]; }
  char* put_before(char* end) const { return put_integer_before(end, v); }
};

// D decimals as a number below 10^D.
template <int D>
struct DecimalValue {
  std::uint32_t v;
  void put(char* p, int /* always D */) const { put_decimals_before<D>(p + D, v); }
};

// Integer digits as text: none for a zero integer part.
struct IntegerText {
  const char* digits;
  int count;
  bool zero() const { return count == 0; }
  bool fits(int room) const { return count <= room; }
  char* put_before(char* end) const {
    end -= count;
    std::memcpy(end, digits, static_cast<std::size_t>(count));
    return end;
  }
};

// Decimal digits as text, `count` of them, made up to d with zeros.
struct DecimalText {
  const char* digits;
  int count;
  void put(char* p, int d) const {
    const int ncopy = std::min(count, d);
    std::memcpy(p, digits, static_cast<std::size_t>(ncopy));
    std::memset(p + ncopy, '0', static_cast<std::size_t>(d - ncopy));
  }
};

// Fw.d (0 <= d < w) from its parts: right-justified, the sign, the integer
// digits, the point and the d decimals. A zero integer part is written as a
// 0 when there is room for it and left out when not; a number that still
// does not fit gives w asterisks.
template <class Integer, class Decimals>
[[gnu::always_inline]] inline void lay_out_fixed(char* field, int w, int d, bool neg, const Integer& integer,
                                                 const Decimals& decimals) {
  // What is left for integer digits beside the sign, the point and the decimals.
  const int room = w - d - 1 - static_cast<int>(neg);
  if (room < 0 || !integer.fits(room)) {
    fill_asterisks(field, w);
    return;
  }
  fill_blanks(field, w);
  char* const point = field + (w - d - 1);
  decimals.put(point + 1, d);
  *point = '.';
  char* first = point;
  if (!integer.zero()) {
    first = integer.put_before(point);
  } else if (room > 0) {
    *--first = '0';
  }
  // The sign goes just before the number; chosen without a branch, as the
  // signs of a row come in any order. A positive number has its first
  // character written again instead.
  char* const sign = first - static_cast<int>(neg);
  const char kept = *sign;
  *sign = neg ? '-' : kept;
}

// Fw.d for what the integer rounding does not take: an empty field, infinity
// and NaN, d outside 0..w-1, more than kFastDecimals decimals and magnitudes
// whose scaled value reaches 2^52. Out of line: to_chars needs a large buffer
// that the fast path should not pay for.
[[gnu::noinline]] void edit_fixed_other(char* field, float value, int w, int d) {
  if (w <= 0) return;
  if (!std::isfinite(value)) {
    edit_special(field, value, w);
    return;
  }
  // The point and the d decimals alone need d + 1 characters.
  if (d < 0 || d >= w) {
    fill_asterisks(field, w);
    return;
  }
  char buf[64 + kMaxFixedPrecision];
  const double mag = std::fabs(static_cast<double>(value));
  const int precision = std::min(d, kMaxFixedPrecision);
  const auto res = std::to_chars(buf, buf + sizeof buf, mag, std::chars_format::fixed, precision);
  const char* end = res.ptr;
  const char* point = std::find(static_cast<const char*>(buf), end, '.');
  int nint = static_cast<int>(point - buf);
  if (nint == 1 && buf[0] == '0') nint = 0;
  const char* frac = point == end ? end : point + 1;
  lay_out_fixed(field, w, d, value < 0, IntegerText{buf, nint}, DecimalText{frac, static_cast<int>(end - frac)});
}

// Fw.D (D <= kFastDecimals, D < w): |value| * 10^D rounded to an integer
// gives the integer part and the D decimals, each worked out on its own.
template <int D>
[[gnu::always_inline]] inline void fixed_one(char* field, float value, int w) {
  constexpr std::uint64_t kUnit = kPow10[D];
  std::uint64_t scaled = 0;
  if (round_scaled(value, D, scaled)) {
    const std::uint64_t ip = scaled / kUnit;
    lay_out_fixed(field, w, D, value < 0, IntegerValue{ip},
                  DecimalValue<D>{static_cast<std::uint32_t>(scaled - ip * kUnit)});
  } else {
    edit_fixed_other(field, value, w, D);
  }
}

template <int D>
void fixed_single(char* field, float value, int w) {
  fixed_one<D>(field, value, w);
}

// Copies a field of w characters; the widths of the level tables and the
// hour dump are copied as constants.
[[gnu::always_inline]] inline void copy_field(char* to, const char* from, int w) {
  switch (w) {
    case 10: std::memcpy(to, from, 10); break;
    case 12: std::memcpy(to, from, 12); break;
    default: std::memcpy(to, from, static_cast<std::size_t>(w)); break;
  }
}

// A field whose value has the bits of one of the last two values edited (a
// run of missing values between a station's readings) is a copy of that
// value's field. Fields never overlap: step >= w.
template <int D>
void fixed_each(char* field, std::size_t step, const float* values, std::size_t stride, std::size_t count,
                int w) {
  if (count == 0) return;
  fixed_one<D>(field, *values, w);
  std::uint32_t recent[2] = {std::bit_cast<std::uint32_t>(*values), std::bit_cast<std::uint32_t>(*values)};
  const char* recent_field[2] = {field, field};
  for (std::size_t k = 1; k < count; ++k) {
    field += step;
    values += stride;
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(*values);
    if (bits == recent[0]) {
      copy_field(field, recent_field[0], w);
      recent_field[0] = field;
      continue;
    }
    if (bits == recent[1]) {
      copy_field(field, recent_field[1], w);
    } else {
      fixed_one<D>(field, *values, w);
    }
    recent[1] = recent[0];
    recent_field[1] = recent_field[0];
    recent[0] = bits;
    recent_field[0] = field;
  }
}

// The Fw.D editors of one D: one field, and a run of them.
struct FixedEditors {
  void (*one)(char* field, float value, int w);
  void (*each)(char* field, std::size_t step, const float* values, std::size_t stride, std::size_t count, int w);
};

template <std::size_t... D>
constexpr std::array<FixedEditors, sizeof...(D)> make_fixed_editors(std::index_sequence<D...>) {
  return {FixedEditors{&fixed_single<static_cast<int>(D)>, &fixed_each<static_cast<int>(D)>}...};
}
constexpr auto kFixedEditors = make_fixed_editors(std::make_index_sequence<kFastDecimals + 1>{});

// The editors of Fw.d through the integer rounding, or null when w and d
// leave the field to edit_fixed_other.
const FixedEditors* fixed_editors(int w, int d) {
  if (d < 0 || d > kFastDecimals || d >= w) return nullptr;
  return &kFixedEditors[static_cast<std::size_t>(d)];
}

}  // namespace

void edit_integer(char* field, std::int32_t value, int w, int m) {
  if (w <= 0) return;
  m = std::max(m, 1);
  if (m > w) {
    fill_asterisks(field, w);
    return;
  }
  const bool neg = value < 0;
  const std::uint32_t mag = neg ? 0U - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
  const int ndigits = count_digits(mag);
  const int digits = std::max(ndigits, m);
  const int len = digits + static_cast<int>(neg);
  if (len > w) {
    fill_asterisks(field, w);
    return;
  }
  char* p = put_digits_before(field + w, mag, ndigits);
  p -= digits - ndigits;
  std::memset(p, '0', static_cast<std::size_t>(digits - ndigits));
  if (neg) *--p = '-';
  std::memset(field, ' ', static_cast<std::size_t>(p - field));
}

void edit_fixed(char* field, float value, int w, int d) {
  if (const FixedEditors* fast = fixed_editors(w, d)) {
    fast->one(field, value, w);
  } else {
    edit_fixed_other(field, value, w, d);
  }
}

void edit_fixed_each(char* field, std::size_t step, const float* values, std::size_t stride, std::size_t count,
                     int w, int d) {
  if (const FixedEditors* fast = fixed_editors(w, d)) {
    fast->each(field, step, values, stride, count, w);
    return;
  }
  for (std::size_t k = 0; k < count; ++k, field += step, values += stride) edit_fixed_other(field, *values, w, d);
}

void edit_exponent(char* field, float value, int w, int d) {
  if (w <= 0) return;
  if (!std::isfinite(value)) {
    edit_special(field, value, w);
    return;
  }
  // Without a digit there is no value to show; ".E+00" alone needs d + 5.
  if (d < 1 || d + 5 > w) {
    fill_asterisks(field, w);
    return;
  }
  const bool neg = value < 0;
  bool zero_before_point = true;
  int len = static_cast<int>(neg) + 2 + d + 4;
  if (len > w) {
    zero_before_point = false;
    --len;
  }
  if (len > w) {
    fill_asterisks(field, w);
    return;
  }
  char* p = field;
  std::memset(p, ' ', static_cast<std::size_t>(w - len));
  p += w - len;
  if (neg) *p++ = '-';
  if (zero_before_point) *p++ = '0';
  *p++ = '.';
  int exponent = 0;
  if (value == 0) {
    std::memset(p, '0', static_cast<std::size_t>(d));
  } else {
    // d1.d2... * 10^x is 0.d1d2... * 10^(x+1).
    exponent = significant_digits(std::fabs(static_cast<double>(value)), d, p) + 1;
  }
  put_exponent(p + d, exponent);
}

void edit_list_real(char* field, float value) {
  constexpr int w = kListRealWidth;
  if (!std::isfinite(value)) {
    edit_special(field, value, w);
    return;
  }
  if (value != 0) {
    // The magnitude rounded to 7 decimals decides the form.
    std::uint64_t r = 0;
    if (round_scaled(value, 7, r) && r >= kPow10[6] && r < kPow10[14]) {
      const std::uint64_t ip = r / kPow10[7];
      const int before_point = ip == 0 ? 0 : count_digits(ip);
      edit_fixed(field, value, 11, 7 - before_point);
      std::memset(field + 11, ' ', 4);
      return;
    }
  }
  // Exponent form: [-]d.dddddddE+xx.
  char text[16];
  char* p = text;
  if (value < 0) *p++ = '-';
  char digits[8];
  int exponent = 0;
  if (value == 0) {
    std::memset(digits, '0', sizeof digits);
  } else {
    exponent = significant_digits(std::fabs(static_cast<double>(value)), 8, digits);
  }
  *p++ = digits[0];
  *p++ = '.';
  std::memcpy(p, digits + 1, 7);
  p = put_exponent(p + 7, exponent);
  put_right(field, w, text, static_cast<int>(p - text));
}

}  // namespace rec

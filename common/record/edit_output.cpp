// Output editing of one field (Iw, Iw.m, Fw.d, Ew.d and the free-form real).
//
// Digits always come from the exact binary value of the single-precision
// number. Fw.d with up to 8 decimals, the hot path of the level and flow
// tables, rounds in 64-bit integer arithmetic; every other case takes its
// digits from std::to_chars on the value widened to double (widening is
// exact, and to_chars with a precision rounds the exact value, ties to even).
// Nothing here allocates.
#include "record/edit_output.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

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

constexpr std::uint64_t kPow5[] = {1, 5, 25, 125, 625, 3125, 15625, 78125, 390625};

// Largest number of decimals that the integer rounding handles.
constexpr int kFastDecimals = 8;

// The exact decimal expansion of a float has at most 149 digits after the
// point and at most 112 significant digits; beyond these all digits are zero.
// Asking to_chars for more than that is never needed.
constexpr int kMaxFixedPrecision = 150;
constexpr int kMaxSignificantDigits = 120;

// Decimal digits of v (1 for 0).
int count_digits(std::uint64_t v) {
  int n = 1;
  while (n < 20 && v >= kPow10[n]) ++n;
  return n;
}

// Writes the `count` low decimal digits of v (with leading zeros) so that
// they end just before `end`; returns the position of the first one.
char* put_digits_before(char* end, std::uint64_t v, int count) {
  for (int i = 0; i < count; ++i) {
    *--end = static_cast<char>('0' + v % 10);
    v /= 10;
  }
  return end;
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

// |value| * 10^d rounded to an integer, ties to even, for a finite value and
// 0 <= d <= kFastDecimals. The float is m * 2^e with m below 2^24, so the
// product is m * 5^d * 2^(e+d) with m * 5^d below 2^43: exact in 64 bits, and
// the power of two becomes a shift whose lost bits decide the rounding.
// Returns false when the result could exceed 2^63 (the caller then takes
// the general path).
bool round_scaled(float value, int d, std::uint64_t& out) {
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(value) & 0x7fffffffU;
  const std::uint32_t biased = bits >> 23;
  const std::uint32_t frac = bits & 0x7fffffU;
  std::uint64_t m = frac;
  int e2 = -149;  // subnormal
  if (biased != 0) {
    m |= 0x800000U;
    e2 = static_cast<int>(biased) - 150;
  }
  const std::uint64_t scaled = m * kPow5[d];
  const int s = e2 + d;
  if (s >= 0) {
    if (s > 20) return false;
    out = scaled << s;
    return true;
  }
  const int shift = -s;
  if (shift > 43) {  // scaled < 2^43 <= half of 2^shift
    out = 0;
    return true;
  }
  std::uint64_t q = scaled >> shift;
  const std::uint64_t rem = scaled & ((std::uint64_t{1} << shift) - 1);
  const std::uint64_t half = std::uint64_t{1} << (shift - 1);
  if (rem > half || (rem == half && (q & 1U) != 0)) ++q;
  out = q;
  return true;
}

// Lays out a fixed-point field from its parts: the integer digits (nint of
// them, none when the integer part is zero), the decimal digits available
// (nfrac, padded with zeros up to d) and the sign.
void place_fixed(char* field, int w, bool neg, const char* int_digits, int nint,
                 const char* frac_digits, int nfrac, int d) {
  bool zero_before_point = nint == 0;
  int len = static_cast<int>(neg) + std::max(nint, 1) + 1 + d;
  if (zero_before_point && len > w) {
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
  std::memcpy(p, int_digits, static_cast<std::size_t>(nint));
  p += nint;
  *p++ = '.';
  const int ncopy = std::min(nfrac, d);
  std::memcpy(p, frac_digits, static_cast<std::size_t>(ncopy));
  std::memset(p + ncopy, '0', static_cast<std::size_t>(d - ncopy));
}

// Fw.d for a finite value through to_chars.
void edit_fixed_general(char* field, float value, int w, int d) {
  char buf[64 + kMaxFixedPrecision];
  const double mag = std::fabs(static_cast<double>(value));
  const int precision = std::min(d, kMaxFixedPrecision);
  const auto res = std::to_chars(buf, buf + sizeof buf, mag, std::chars_format::fixed, precision);
  const char* end = res.ptr;
  const char* point = std::find(static_cast<const char*>(buf), end, '.');
  int nint = static_cast<int>(point - buf);
  if (nint == 1 && buf[0] == '0') nint = 0;
  const char* frac = point == end ? end : point + 1;
  place_fixed(field, w, value < 0, buf, nint, frac, static_cast<int>(end - frac), d);
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
  std::uint64_t scaled = 0;
  if (d > kFastDecimals || !round_scaled(value, d, scaled)) {
    edit_fixed_general(field, value, w, d);
    return;
  }
  const bool neg = value < 0;
  const std::uint64_t ip = scaled / kPow10[d];
  const std::uint64_t fp = scaled % kPow10[d];
  const int nint = ip == 0 ? 0 : count_digits(ip);
  bool zero_before_point = nint == 0;
  int len = static_cast<int>(neg) + std::max(nint, 1) + 1 + d;
  if (zero_before_point && len > w) {
    zero_before_point = false;
    --len;
  }
  if (len > w) {
    fill_asterisks(field, w);
    return;
  }
  char* p = put_digits_before(field + w, fp, d);
  *--p = '.';
  if (nint > 0) p = put_digits_before(p, ip, nint);
  if (zero_before_point) *--p = '0';
  if (neg) *--p = '-';
  std::memset(field, ' ', static_cast<std::size_t>(p - field));
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

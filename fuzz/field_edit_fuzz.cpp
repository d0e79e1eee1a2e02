// The field editors and the number-token routines, each against an
// independent oracle.
//
// Input: one byte that chooses what is tested, then
//  - editors: a real's and an integer's bit patterns, edited under every
//    width that the system uses (Fw.d, Ew.d, the free-form real, Iw, Iw.m)
//    and compared with fields laid out from the C library's printf digits;
//  - tokens: the rest of the input as one free-form token for an integer or
//    a real item (quoted or not, from a unit's file or a text variable): the
//    status is always 0, 59 or 64, a syntax error leaves the item as it was,
//    and plain decimal forms give the C library's value;
//  - Iw input: the rest as a field, against the field's definition.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "record/edit_output.h"
#include "record/number_input.h"

namespace {

struct Descriptor {
  char kind;  // 'F', 'E', 'I', or 'L' for the free-form real
  int w, d;   // d is m for I
};

constexpr Descriptor kFixed[] = {{'F', 5, 0},  {'F', 5, 1},  {'F', 5, 2},  {'F', 6, 3},  {'F', 7, 4},  {'F', 8, 5},
                                 {'F', 9, 6},  {'F', 8, 3},  {'F', 9, 3},  {'F', 10, 0}, {'F', 10, 1}, {'F', 10, 3},
                                 {'F', 11, 3}, {'F', 12, 2}, {'F', 12, 3}, {'F', 12, 4}, {'F', 16, 7}};
constexpr Descriptor kExponent[] = {{'E', 10, 3}, {'E', 12, 6}};
constexpr Descriptor kInteger[] = {{'I', 2, 2}, {'I', 4, 1}, {'I', 4, 4}, {'I', 10, 1}, {'I', 12, 1}, {'I', 16, 1}};

// ------------------------------------------------------------------ editors

// Right-justifies s in w characters, or w asterisks when it does not fit.
std::string lay_out(const std::string& s, int w) {
  const auto width = static_cast<std::size_t>(w);
  if (s.size() > width) return std::string(width, '*');
  return std::string(width - s.size(), ' ') + s;
}

// Infinity and NaN under Fw.d and Ew.d: the longest word that fits.
std::string special(float v, int w) {
  if (std::isnan(v)) return lay_out("NaN", w);
  const std::string sign = v < 0 ? "-" : "";
  const std::string full = sign + "Infinity";
  return lay_out(static_cast<int>(full.size()) <= w ? full : sign + "Inf", w);
}

std::string expected_fixed(float v, int w, int d) {
  if (!std::isfinite(v)) return special(v, w);
  char digits[96];
  std::snprintf(digits, sizeof digits, "%.*f", d, std::fabs(static_cast<double>(v)));
  std::string s = std::string(v < 0 ? "-" : "") + digits + (d == 0 ? "." : "");
  // A zero integer part goes when the field has no room for it.
  if (static_cast<int>(s.size()) > w && digits[0] == '0' && digits[1] == '.') s.erase(v < 0 ? 1 : 0, 1);
  return lay_out(s, w);
}

std::string expected_exponent(float v, int w, int d) {
  if (!std::isfinite(v)) return special(v, w);
  char digits[96];
  std::snprintf(digits, sizeof digits, "%.*e", d - 1, std::fabs(static_cast<double>(v)));
  std::string s = v < 0 ? "-0." : "0.";
  const char* p = digits;
  for (; *p != 'e'; ++p)
    if (*p != '.') s += *p;
  const int exponent = v == 0 ? 0 : std::atoi(p + 1) + 1;
  char tail[8];
  std::snprintf(tail, sizeof tail, "E%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
  s += tail;
  if (static_cast<int>(s.size()) > w) s.erase(v < 0 ? 1 : 0, 1);
  return lay_out(s, w);
}

// The free-form real: the magnitude rounded to 7 decimals chooses between
// F11.(7-D) and four blanks, and the exponent form of 8 significant digits.
std::string expected_list(float v) {
  if (std::isinf(v)) return lay_out(v < 0 ? "-Infinity" : "Infinity", rec::kListRealWidth);
  if (std::isnan(v)) return lay_out("NaN", rec::kListRealWidth);
  char text[96];
  std::snprintf(text, sizeof text, "%.7f", std::fabs(static_cast<double>(v)));
  const std::string_view t = text;
  const std::size_t point = t.find('.');
  if (v != 0 && t.substr(0, 3) != "0.0" && point < 8) {
    const int before = t.substr(0, point) == "0" ? 0 : static_cast<int>(point);
    std::snprintf(text, sizeof text, "%#11.*f    ", 7 - before, static_cast<double>(v));
    return text;
  }
  std::snprintf(text, sizeof text, "%.7e", static_cast<double>(v == 0 ? 0.0f : v));
  *std::strchr(text, 'e') = 'E';
  return lay_out(text, rec::kListRealWidth);
}

std::string expected_integer_field(std::int32_t v, int w, int m) {
  char digits[32];
  std::snprintf(digits, sizeof digits, "%.*lld", m, std::llabs(static_cast<long long>(v)));
  return lay_out(std::string(v < 0 ? "-" : "") + digits, w);
}

// The field a descriptor writes, in a buffer with guard bytes after it.
std::string edited(const Descriptor& desc, float real, std::int32_t integer) {
  constexpr int kGuard = 8;
  std::string buf(static_cast<std::size_t>(desc.w + kGuard), '#');
  switch (desc.kind) {
    case 'F':
      rec::edit_fixed(buf.data(), real, desc.w, desc.d);
      break;
    case 'E':
      rec::edit_exponent(buf.data(), real, desc.w, desc.d);
      break;
    case 'I':
      rec::edit_integer(buf.data(), integer, desc.w, desc.d);
      break;
    default:
      rec::edit_list_real(buf.data(), real);
      break;
  }
  if (buf.compare(static_cast<std::size_t>(desc.w), kGuard, std::string(kGuard, '#')) != 0)
    fuzz::fault(std::string(1, desc.kind) + std::to_string(desc.w) + " wrote past its field");
  buf.resize(static_cast<std::size_t>(desc.w));
  return buf;
}

void compare(const Descriptor& desc, float real, std::int32_t integer, const std::string& want) {
  const std::string got = edited(desc, real, integer);
  if (got == want) return;
  char value[64];
  if (desc.kind == 'I')
    std::snprintf(value, sizeof value, "%d", integer);
  else
    std::snprintf(value, sizeof value, "%a (%.9g)", static_cast<double>(real), static_cast<double>(real));
  fuzz::fault(std::string(1, desc.kind) + std::to_string(desc.w) + "." + std::to_string(desc.d) + " of " + value +
              ": got \"" + got + "\", expected \"" + want + "\"");
}

void editors(fuzz::Bytes& in) {
  const float real = std::bit_cast<float>(in.word());
  const auto integer = std::bit_cast<std::int32_t>(in.word());
  for (const Descriptor& desc : kFixed) compare(desc, real, 0, expected_fixed(real, desc.w, desc.d));
  for (const Descriptor& desc : kExponent) compare(desc, real, 0, expected_exponent(real, desc.w, desc.d));
  compare({'L', rec::kListRealWidth, 0}, real, 0, expected_list(real));
  for (const Descriptor& desc : kInteger) compare(desc, 0.0f, integer, expected_integer_field(integer, desc.w, desc.d));
}

// ------------------------------------------------------------------ tokens

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_sign(char c) { return c == '+' || c == '-'; }
char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
bool iequals(std::string_view s, std::string_view word) {
  if (s.size() != word.size()) return false;
  for (std::size_t i = 0; i < s.size(); ++i)
    if (upper(s[i]) != word[i]) return false;
  return true;
}

// [sign] digits: the whole token.
bool plain_integer(std::string_view t) {
  std::size_t i = !t.empty() && is_sign(t[0]) ? 1 : 0;
  if (i == t.size()) return false;
  for (; i < t.size(); ++i)
    if (!is_digit(t[i])) return false;
  return true;
}

// [sign] digits with one point and at least one digit, no exponent: the
// integer part is the digits before the point.
bool pointed_integer(std::string_view t, std::string_view& before) {
  std::size_t i = !t.empty() && is_sign(t[0]) ? 1 : 0;
  const std::size_t point = t.find('.', i);
  if (point == std::string_view::npos) return false;
  bool digit = false;
  for (std::size_t k = i; k < t.size(); ++k) {
    if (k == point) continue;
    if (!is_digit(t[k])) return false;
    digit = true;
  }
  before = t.substr(i, point - i);
  return digit;
}

// A real in the form [sign] mantissa [letter [[sign] digits]], the mantissa
// digits with at most one point; `normal` is the form strtof reads.
bool plain_real(std::string_view t, std::string& normal) {
  std::size_t i = 0;
  normal.clear();
  if (i < t.size() && is_sign(t[i])) normal += t[i++];
  bool digit = false, point = false;
  for (; i < t.size(); ++i) {
    if (is_digit(t[i]))
      digit = true;
    else if (t[i] == '.' && !point)
      point = true;
    else
      break;
    normal += t[i];
  }
  if (!digit) return false;
  if (i == t.size()) return true;
  const char u = upper(t[i]);
  if (u != 'E' && u != 'D' && u != 'Q') return false;
  ++i;
  if (i == t.size()) return true;  // a letter without digits is no exponent
  std::string exponent = "e";
  if (is_sign(t[i])) exponent += t[i++];
  if (i == t.size()) return false;
  for (; i < t.size(); ++i) {
    if (!is_digit(t[i])) return false;
    exponent += t[i];
  }
  normal += exponent;
  return true;
}

// Whether the integer of these digits lies beyond 32 bits for its sign.
bool beyond_32_bits(std::string_view digits, bool negative) {
  while (digits.size() > 1 && digits[0] == '0') digits.remove_prefix(1);
  const std::string_view limit = negative ? "2147483648" : "2147483647";
  if (digits.size() != limit.size()) return digits.size() > limit.size();
  return digits > limit;
}

// An unsigned token that begins with T or F (either case), other than the
// .T. and .F. of a text variable: not a number. From a file it is a value
// that cannot be converted, from a text variable a syntax error; the item
// stays as it was either way.
bool logical_word(std::string_view t) { return upper(t[0]) == 'T' || upper(t[0]) == 'F'; }
int logical_status(rec::ListSource source) {
  return source == rec::ListSource::Internal ? rec::kSyntaxError : rec::kConversionError;
}

std::string describe(std::string_view token, bool quoted, rec::ListSource source) {
  return std::string(quoted ? "quoted " : "") + "token \"" + fuzz::shown(token) + "\" from " +
         (source == rec::ListSource::Internal ? "a text" : "a file");
}

// A pointed token for an integer item: its integer part, truncated toward
// zero; beyond 32 bits the most negative integer.
std::int32_t truncated(std::string_view token, std::string_view before, bool negative) {
  if (before.empty()) return 0;
  if (beyond_32_bits(before, negative)) return INT32_MIN;
  const std::string integer_part(token.substr(0, token.find('.')));
  return static_cast<std::int32_t>(std::strtol(integer_part.c_str(), nullptr, 10));
}

void integer_token(std::string_view token, bool quoted, rec::ListSource source) {
  constexpr std::int32_t kUntouched = 0x5a5a5a5a;
  std::int32_t item = kUntouched;
  const int status = rec::list_read_integer(token, quoted, source, item);
  const std::string what = "integer item, " + describe(token, quoted, source);
  if (status != 0 && status != rec::kSyntaxError && status != rec::kConversionError)
    fuzz::fault(what + ": status " + std::to_string(status));
  if (status == rec::kSyntaxError && item != kUntouched) fuzz::fault(what + ": a syntax error changed the item");
  if (quoted) {
    if (status != rec::kConversionError || item != kUntouched)
      fuzz::fault(what + ": status " + std::to_string(status) + ", item " + std::to_string(item));
    return;
  }
  const bool negative = token[0] == '-';
  std::string_view before;
  if (logical_word(token)) {
    if (status != logical_status(source) || item != kUntouched)
      fuzz::fault(what + ": status " + std::to_string(status) + ", item " + std::to_string(item));
  } else if (plain_integer(token)) {
    const std::string_view digits = token.substr(is_sign(token[0]) ? 1 : 0);
    if (beyond_32_bits(digits, negative)) {
      if (status != rec::kConversionError || item != 0) fuzz::fault(what + ": beyond 32 bits");
    } else if (status != 0 || item != std::strtol(std::string(token).c_str(), nullptr, 10)) {
      fuzz::fault(what + ": status " + std::to_string(status) + ", item " + std::to_string(item));
    }
  } else if (pointed_integer(token, before)) {
    const std::int32_t want = truncated(token, before, negative);
    if (status != 0 || item != want)
      fuzz::fault(what + ": status " + std::to_string(status) + ", item " + std::to_string(item) + " instead of " +
                  std::to_string(want));
  }
}

bool same_bits(float a, float b) { return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b); }

void real_token(std::string_view token, bool quoted, rec::ListSource source) {
  const float untouched = std::bit_cast<float>(0x5a5a5a5au);
  float item = untouched;
  const int status = rec::list_read_real(token, quoted, source, item);
  const std::string what = "real item, " + describe(token, quoted, source);
  if (status != 0 && status != rec::kSyntaxError && status != rec::kConversionError)
    fuzz::fault(what + ": status " + std::to_string(status));
  if (status == rec::kSyntaxError && !same_bits(item, untouched))
    fuzz::fault(what + ": a syntax error changed the item");
  if (quoted) {
    if (status != rec::kConversionError || !same_bits(item, untouched))
      fuzz::fault(what + ": status " + std::to_string(status));
    return;
  }
  char got[64];
  std::snprintf(got, sizeof got, "%a", static_cast<double>(item));
  std::string normal;
  const std::string_view word = token.substr(is_sign(token[0]) ? 1 : 0);
  if (logical_word(token)) {
    if (status != logical_status(source) || !same_bits(item, untouched))
      fuzz::fault(what + ": status " + std::to_string(status) + ", item " + got);
  } else if (plain_real(token, normal)) {
    const float want = std::strtof(normal.c_str(), nullptr);
    const int want_status = std::isinf(want) ? rec::kConversionError : 0;
    if (status != want_status || !same_bits(item, want))
      fuzz::fault(what + ": status " + std::to_string(status) + ", item " + got);
  } else if (iequals(word, "INF") || iequals(word, "INFINITY")) {
    if (status != 0 || !std::isinf(item) || (item < 0) != (token[0] == '-'))
      fuzz::fault(what + ": status " + std::to_string(status) + ", item " + got);
  } else if (iequals(word, "NAN")) {
    if (status != 0 || !std::isnan(item)) fuzz::fault(what + ": status " + std::to_string(status) + ", item " + got);
  }
}

// ------------------------------------------------------------------ Iw input

void integer_field(std::string_view field) {
  constexpr std::int32_t kUntouched = 0x5a5a5a5a;
  std::int32_t item = kUntouched;
  const int status = rec::fixed_read_integer(field, item);
  bool sign = false, negative = false, digit = false, valid = true;
  std::int64_t magnitude = 0;
  for (char c : field) {
    if (c == ' ') continue;
    if (is_sign(c) && !sign && !digit) {
      sign = true;
      negative = c == '-';
    } else if (is_digit(c)) {
      digit = true;
      magnitude = std::min<std::int64_t>(magnitude * 10 + (c - '0'), std::int64_t{1} << 40);
    } else {
      valid = false;
    }
  }
  const std::int64_t v = negative ? -magnitude : magnitude;
  valid = valid && v >= INT32_MIN && v <= INT32_MAX;
  if (valid ? (status != 0 || item != v) : (status != rec::kConversionError || item != kUntouched))
    fuzz::fault("Iw of \"" + fuzz::shown(field) + "\": status " + std::to_string(status) + ", item " +
                std::to_string(item));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Bytes in(data, size);
  const std::uint8_t mode = in.byte();
  switch (mode % 3) {
    case 0:
      editors(in);
      break;
    case 1: {
      const bool quoted = (mode & 4) != 0;
      const rec::ListSource source = (mode & 8) != 0 ? rec::ListSource::Internal : rec::ListSource::External;
      std::string_view token = in.rest();
      // The tokenizer never hands over an empty token, nor separators or record
      // ends outside quotes.
      if (!quoted) token = token.substr(0, token.find_first_of(" \t,/\n"));
      if (!quoted && token.empty()) return 0;
      if ((mode & 16) != 0)
        real_token(token, quoted, source);
      else
        integer_token(token, quoted, source);
      break;
    }
    default:
      integer_field(in.rest().substr(0, 64));
      break;
  }
  return 0;
}

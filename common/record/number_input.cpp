// Input conversion of one number token.
//
// A free-form token is first sorted by its leading characters (the words INF,
// INFINITY and NAN, other tokens that begin with a letter that a number cannot
// begin with, the logical forms T, F, .T. and .F.), and otherwise scanned as
// a number: an optional sign, a mantissa with at least one digit and at most
// one point, then either nothing, an exponent letter (E, D or Q, either case)
// with an optional sign and digits, or a sign with digits directly after the
// mantissa. Further sign-and-digits groups may follow the exponent; they make
// the token a value that cannot be converted. Anything else is a syntax error.
//
// Values are computed from the exact decimal digits: integers by truncation of
// the digits themselves, reals by std::from_chars on a normalised copy, so no
// value passes through another binary type on the way. A plain decimal of at
// most 8 digits (the values of the level tables) is converted first by one
// correctly rounded float division, which gives the same value; the unit
// tests compare the two on many tokens.
#include "record/number_input.h"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <limits>
#include <system_error>

namespace rec {
namespace {

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }
constexpr bool is_sign(char c) { return c == '+' || c == '-'; }
constexpr char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
constexpr bool is_exponent_letter(char c) {
  const char u = upper(c);
  return u == 'E' || u == 'D' || u == 'Q';
}

// Case-insensitive comparison with a word written in upper case.
constexpr bool iequals(std::string_view s, std::string_view word) {
  if (s.size() != word.size()) return false;
  for (std::size_t i = 0; i < s.size(); ++i)
    if (upper(s[i]) != word[i]) return false;
  return true;
}
constexpr bool istarts_with(std::string_view s, std::string_view word) {
  return s.size() >= word.size() && iequals(s.substr(0, word.size()), word);
}

enum class Word { None, Infinity, NaN };

// INF, INFINITY, NAN and NAN(suffix) in any case, without a sign. The suffix
// may hold any characters between its parentheses.
constexpr Word special_word(std::string_view s) {
  if (iequals(s, "INF") || iequals(s, "INFINITY")) return Word::Infinity;
  if (iequals(s, "NAN")) return Word::NaN;
  if (istarts_with(s, "NAN(") && s.back() == ')') return Word::NaN;
  return Word::None;
}

// What a token's leading characters make of it before any number scanning.
enum class Lead {
  Numeric,       // scan it as a number
  Infinity,      // INF or INFINITY, with its sign in `negative`
  NaN,           // NAN or NAN(suffix), optionally signed
  OtherIorN,     // any other unsigned token beginning with I or N
  LogicalWord,   // an unsigned token beginning with T or F
  DotTrue,       // .T.
  DotFalse,      // .F.
};

Lead lead_of(std::string_view t, bool& negative) {
  negative = false;
  if (t.empty()) return Lead::Numeric;
  std::string_view rest = t;
  if (is_sign(t[0])) {
    negative = t[0] == '-';
    rest = t.substr(1);
  }
  switch (special_word(rest)) {
    case Word::Infinity: return Lead::Infinity;
    case Word::NaN: return Lead::NaN;
    case Word::None: break;
  }
  // Only the three words above take a sign; "-NA" or "+T" go on to the
  // number scan, which rejects the letter.
  if (rest.size() != t.size()) return Lead::Numeric;
  const char first = upper(t[0]);
  if (first == 'I' || first == 'N') return Lead::OtherIorN;
  if (first == 'T' || first == 'F') return Lead::LogicalWord;
  if (t.size() == 3 && t[0] == '.' && t[2] == '.') {
    if (upper(t[1]) == 'T') return Lead::DotTrue;
    if (upper(t[1]) == 'F') return Lead::DotFalse;
  }
  return Lead::Numeric;
}

// Exponents saturate here: beyond it every value is out of range or zero for
// both item kinds, and sums with digit counts stay far from overflow.
constexpr std::int64_t kExponentCap = 1'000'000'000'000;

// A scanned number token.
struct Scanned {
  bool negative = false;
  std::string_view int_digits;     // digits before the point
  std::string_view frac_digits;    // digits after the point
  bool point = false;
  bool exponent_letter = false;    // E, D or Q present (with or without digits)
  bool sign_exponent = false;      // a sign directly after the mantissa
  bool extra_group = false;        // a further sign and digits after the exponent
  std::int64_t exponent = 0;       // saturated at +-kExponentCap
};

// Reads one or more digits at t[i...] into a saturated magnitude.
bool read_digits(std::string_view t, std::size_t& i, std::int64_t& value) {
  const std::size_t start = i;
  value = 0;
  for (; i < t.size() && is_digit(t[i]); ++i)
    if (value < kExponentCap) value = value * 10 + (t[i] - '0');
  if (value > kExponentCap) value = kExponentCap;
  return i > start;
}

// Scans the number grammar; false means the token is not a valid number.
bool scan_number(std::string_view t, Scanned& n) {
  std::size_t i = 0;
  if (i < t.size() && is_sign(t[i])) n.negative = t[i++] == '-';
  std::size_t start = i;
  while (i < t.size() && is_digit(t[i])) ++i;
  n.int_digits = t.substr(start, i - start);
  if (i < t.size() && t[i] == '.') {
    n.point = true;
    start = ++i;
    while (i < t.size() && is_digit(t[i])) ++i;
    n.frac_digits = t.substr(start, i - start);
  }
  if (n.int_digits.empty() && n.frac_digits.empty()) return false;
  if (i == t.size()) return true;

  if (is_exponent_letter(t[i])) {
    n.exponent_letter = true;
    if (++i == t.size()) return true;  // a letter without digits: no exponent
  } else if (is_sign(t[i])) {
    n.sign_exponent = true;
  } else {
    return false;
  }
  bool exponent_negative = false;
  if (is_sign(t[i])) exponent_negative = t[i++] == '-';
  std::int64_t magnitude = 0;
  if (!read_digits(t, i, magnitude)) return false;
  n.exponent = exponent_negative ? -magnitude : magnitude;

  while (i < t.size()) {
    if (!is_sign(t[i++])) return false;
    std::int64_t ignored = 0;
    if (!read_digits(t, i, ignored)) return false;
    n.extra_group = true;
  }
  return true;
}

// The significant digits of a scanned number: its value is 0.D times ten to
// the power `scale`, where D is the `count` digits from position `first` of
// the integer digits followed by the fraction digits (leading and trailing
// zeros removed; count 0 for a zero value).
struct Significand {
  std::string_view int_digits, frac_digits;
  std::size_t first = 0;
  std::size_t count = 0;
  std::int64_t scale = 0;

  char digit(std::size_t k) const {  // k counts from `first`
    const std::size_t p = first + k;
    return p < int_digits.size() ? int_digits[p] : frac_digits[p - int_digits.size()];
  }
};

Significand significand_of(const Scanned& n) {
  Significand s{n.int_digits, n.frac_digits};
  const std::size_t total = n.int_digits.size() + n.frac_digits.size();
  std::size_t lead = 0;
  while (lead < total && s.digit(lead) == '0') ++lead;
  if (lead == total) return s;  // zero
  std::size_t end = total;
  while (s.digit(end - 1) == '0') --end;
  s.first = lead;
  s.count = end - lead;
  s.scale = static_cast<std::int64_t>(n.int_digits.size()) - static_cast<std::int64_t>(lead) +
            n.exponent;
  return s;
}

// The value truncated toward zero; false when it lies outside the 32-bit range.
bool truncate_to_int32(const Significand& s, bool negative, std::int32_t& out) {
  if (s.count == 0 || s.scale <= 0) {
    out = 0;
    return true;
  }
  if (s.scale > 10) return false;  // at least 10^10
  std::int64_t v = 0;
  for (std::int64_t k = 0; k < s.scale; ++k) {
    const std::size_t u = static_cast<std::size_t>(k);
    v = v * 10 + (u < s.count ? s.digit(u) - '0' : 0);
  }
  if (negative) v = -v;
  if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max())
    return false;
  out = static_cast<std::int32_t>(v);
  return true;
}

// Significant digits passed on to from_chars. Every value halfway between two
// adjacent floats (and the one between the largest float and the overflow
// threshold) has at most 113 significant decimal digits, so keeping the first
// kKeptDigits digits and standing in for the dropped ones with a single
// nonzero digit leaves the value on the same side of every halfway point:
// the rounding is that of the full digit string. (The dropped digits are
// never all zero: trailing zeros were removed beforehand.)
constexpr std::size_t kKeptDigits = 120;

enum class RealResult { Value, Overflow };

RealResult round_to_float(const Significand& s, bool negative, float& out) {
  const float zero = negative ? -0.0f : 0.0f;
  if (s.count == 0) {
    out = zero;
    return RealResult::Value;
  }
  // 0.D x 10^scale is at least 10^(scale-1): from scale 40 on, beyond the
  // largest float. It is below 10^scale: from scale -45 down, below half the
  // smallest subnormal (about 7.0e-46), which rounds to zero.
  if (s.scale > 39) return RealResult::Overflow;
  if (s.scale < -45) {
    out = zero;
    return RealResult::Value;
  }
  // Normalised form: [-]DDDD[1]e<exp>, the value being DDDD x 10^exp.
  char buf[1 + kKeptDigits + 1 + 2 + 8];
  char* p = buf;
  if (negative) *p++ = '-';
  const std::size_t kept = s.count < kKeptDigits ? s.count : kKeptDigits;
  for (std::size_t k = 0; k < kept; ++k) *p++ = s.digit(k);
  std::size_t written = kept;
  if (kept < s.count) {
    *p++ = '1';
    ++written;
  }
  *p++ = 'e';
  const std::int64_t exp = s.scale - static_cast<std::int64_t>(written);
  p = std::to_chars(p, buf + sizeof buf, exp).ptr;

  float value = 0.0f;
  const auto result = std::from_chars(buf, p, value);
  if (result.ec == std::errc::result_out_of_range) {
    // Values of at least 1 can only overflow, smaller ones only underflow.
    if (s.scale > 0) return RealResult::Overflow;
    out = zero;
    return RealResult::Value;
  }
  out = value;
  return RealResult::Value;
}

}  // namespace

const char* scan_plain_decimal(const char* p, const char* end, float& value) {
  constexpr std::uint32_t kLimit = std::uint32_t{1} << 24;
  constexpr int kMaxScale = 10;
  constexpr float kPow10[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
  bool negative = false;
  if (p != end && is_sign(*p)) negative = *p++ == '-';
  // With at most 8 digits m stays below 10^8 and cannot wrap; a longer
  // digit string is rejected after the loops.
  std::uint32_t m = 0;
  const char* const int_first = p;
  for (; p != end && is_digit(*p); ++p) m = m * 10 + static_cast<std::uint32_t>(*p - '0');
  const std::ptrdiff_t int_digits = p - int_first;
  std::ptrdiff_t decimals = 0;
  if (p != end && *p == '.') {
    const char* const frac_first = ++p;
    for (; p != end && is_digit(*p); ++p) m = m * 10 + static_cast<std::uint32_t>(*p - '0');
    decimals = p - frac_first;
  }
  const std::ptrdiff_t digits = int_digits + decimals;
  if (digits == 0 || digits > 8 || m >= kLimit) return nullptr;
  // An exponent: its letter, an optional sign and digits; the letter alone
  // counts as no exponent. A sign without digits is for the exact path.
  std::ptrdiff_t scale = -decimals;
  if (p != end && is_exponent_letter(*p)) {
    const char* q = p + 1;
    bool negative_exponent = false;
    if (q != end && is_sign(*q)) negative_exponent = *q++ == '-';
    const char* const exponent_first = q;
    std::ptrdiff_t exponent = 0;
    for (; q != end && is_digit(*q) && exponent <= 2 * kMaxScale; ++q) exponent = exponent * 10 + (*q - '0');
    if (q == exponent_first && q != p + 1) return nullptr;
    if (q != end && is_digit(*q)) return nullptr;
    scale += negative_exponent ? -exponent : exponent;
    p = q;
  }
  if (scale < -kMaxScale || scale > kMaxScale) return nullptr;
  // m and 10^|scale| are exact floats, so one multiplication or division
  // rounds the value correctly.
  const float magnitude =
      scale >= 0 ? static_cast<float>(m) * kPow10[scale] : static_cast<float>(m) / kPow10[-scale];
  value = negative ? -magnitude : magnitude;
  return p;
}

bool read_plain_decimal(std::string_view token, float& value) {
  const char* const end = token.data() + token.size();
  float v = 0.0f;
  if (scan_plain_decimal(token.data(), end, v) != end) return false;
  value = v;
  return true;
}

int list_read_integer(std::string_view token, bool quoted, ListSource source,
                      std::int32_t& item) {
  if (quoted) return kConversionError;
  bool negative = false;
  switch (lead_of(token, negative)) {
    case Lead::Infinity:
    case Lead::NaN:
    case Lead::OtherIorN:
      item = 0;
      return kConversionError;
    case Lead::LogicalWord:
      return source == ListSource::Internal ? kSyntaxError : kConversionError;
    case Lead::DotTrue:
      if (source == ListSource::External) return kConversionError;
      item = -1;
      return 0;
    case Lead::DotFalse:
      if (source == ListSource::External) return kConversionError;
      item = 0;
      return 0;
    case Lead::Numeric:
      break;
  }

  Scanned n;
  if (!scan_number(token, n)) return kSyntaxError;
  if (n.sign_exponent || n.extra_group) {
    item = 0;
    return kConversionError;
  }
  std::int32_t value = 0;
  const bool in_range = truncate_to_int32(significand_of(n), n.negative, value);
  if (!n.point && !n.exponent_letter) {  // digits only
    item = in_range ? value : 0;
    return in_range ? 0 : kConversionError;
  }
  item = in_range ? value : std::numeric_limits<std::int32_t>::min();
  return 0;
}

int list_read_real(std::string_view token, bool quoted, ListSource source, float& item) {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
  if (quoted) return kConversionError;
  // A plain decimal token is none of the words below.
  if (read_plain_decimal(token, item)) return 0;
  bool negative = false;
  switch (lead_of(token, negative)) {
    case Lead::Infinity:
      item = negative ? -kInf : kInf;
      return 0;
    case Lead::NaN:
      item = kNaN;
      return 0;
    case Lead::OtherIorN:
      item = istarts_with(token, "INF") ? kInf : istarts_with(token, "NAN") ? kNaN : 0.0f;
      return kConversionError;
    case Lead::LogicalWord:
      return source == ListSource::Internal ? kSyntaxError : kConversionError;
    case Lead::DotTrue:
      if (source == ListSource::External) return kConversionError;
      item = -1.0f;
      return 0;
    case Lead::DotFalse:
      if (source == ListSource::External) return kConversionError;
      item = 0.0f;
      return 0;
    case Lead::Numeric:
      break;
  }

  Scanned n;
  if (!scan_number(token, n)) return kSyntaxError;
  if (n.extra_group) {
    item = 0.0f;
    return kConversionError;
  }
  float value = 0.0f;
  if (round_to_float(significand_of(n), n.negative, value) == RealResult::Overflow) {
    item = n.negative ? -kInf : kInf;
    return kConversionError;
  }
  item = value;
  return 0;
}

int fixed_read_integer(std::string_view field, std::int32_t& item) {
  constexpr std::int64_t kLimit = std::int64_t{1} << 31;  // magnitude of INT32_MIN
  bool sign_seen = false;
  bool digit_seen = false;
  bool negative = false;
  std::int64_t magnitude = 0;
  for (char c : field) {
    if (c == ' ') continue;
    if (is_sign(c)) {
      if (sign_seen || digit_seen) return kConversionError;
      sign_seen = true;
      negative = c == '-';
    } else if (is_digit(c)) {
      digit_seen = true;
      magnitude = magnitude * 10 + (c - '0');
      if (magnitude > kLimit) return kConversionError;
    } else {
      return kConversionError;
    }
  }
  if (magnitude == kLimit && !negative) return kConversionError;
  item = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
  return 0;
}

}  // namespace rec

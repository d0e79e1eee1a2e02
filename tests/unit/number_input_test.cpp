#include "record/number_input.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using rec::fixed_read_integer;
using rec::kConversionError;
using rec::kSyntaxError;
using rec::list_read_integer;
using rec::list_read_real;
using rec::ListSource;

constexpr ListSource kExt = ListSource::External;
constexpr ListSource kInt = ListSource::Internal;
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kDenormMin = std::numeric_limits<float>::denorm_min();
constexpr float kFltMax = std::numeric_limits<float>::max();

// Same value, including the sign of zeros and infinities; any NaN matches NaN.
::testing::AssertionResult same_float(float actual, float expected) {
  if (std::isnan(expected) ? std::isnan(actual)
                           : std::bit_cast<std::uint32_t>(actual) == std::bit_cast<std::uint32_t>(expected))
    return ::testing::AssertionSuccess();
  char a[32], e[32];
  *std::to_chars(a, a + 31, actual).ptr = '\0';
  *std::to_chars(e, e + 31, expected).ptr = '\0';
  return ::testing::AssertionFailure() << "got " << a << ", expected " << e;
}

struct IntCase {
  std::string_view token;
  bool quoted;
  ListSource source;
  std::int32_t initial;
  int status;
  std::int32_t expected;
};

struct RealCase {
  std::string_view token;
  bool quoted;
  ListSource source;
  float initial;
  int status;
  float expected;
};

void run_integer_cases(const std::vector<IntCase>& cases) {
  for (const IntCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << "token '" << c.token << "' quoted=" << c.quoted
                                      << " internal=" << (c.source == kInt));
    std::int32_t item = c.initial;
    EXPECT_EQ(list_read_integer(c.token, c.quoted, c.source, item), c.status);
    EXPECT_EQ(item, c.expected);
  }
}

void run_real_cases(const std::vector<RealCase>& cases) {
  for (const RealCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << "token '" << c.token << "' quoted=" << c.quoted
                                      << " internal=" << (c.source == kInt));
    float item = c.initial;
    EXPECT_EQ(list_read_real(c.token, c.quoted, c.source, item), c.status);
    EXPECT_TRUE(same_float(item, c.expected));
  }
}

TEST(ListReadInteger, SignedDigits) {
  run_integer_cases({
      {"-999", false, kExt, 77, 0, -999},
      {"+7", false, kExt, 77, 0, 7},
      {"2024", false, kExt, 77, 0, 2024},
      {"03", false, kExt, 77, 0, 3},
      {"-0", false, kExt, 77, 0, 0},
      {"2147483647", false, kExt, 77, 0, kMax},
      {"-2147483648", false, kExt, 77, 0, kMin},
      {"00000000000000000000002024", false, kExt, 77, 0, 2024},
      {"2147483648", false, kExt, 77, kConversionError, 0},
      {"-2147483649", false, kExt, 77, kConversionError, 0},
      {"99999999999", false, kExt, 77, kConversionError, 0},
      {"99999999999999999999999999999", false, kExt, 77, kConversionError, 0},
  });
}

TEST(ListReadInteger, RealFormsTruncateTheExactDecimalValue) {
  run_integer_cases({
      {"12.7", false, kExt, 77, 0, 12},
      {"-3.9", false, kExt, 77, 0, -3},
      {"1e3", false, kExt, 77, 0, 1000},
      {"1.5d-2", false, kExt, 77, 0, 0},
      {".5", false, kExt, 77, 0, 0},
      {"-.5", false, kExt, 77, 0, 0},
      {"5.", false, kExt, 77, 0, 5},
      {"1e", false, kExt, 77, 0, 1},
      {"7D", false, kExt, 77, 0, 7},
      {"1E+05", false, kExt, 77, 0, 100000},
      {"1q2", false, kExt, 77, 0, 100},
      {"2.5Q1", false, kExt, 77, 0, 25},
      {"-1d0", false, kExt, 77, 0, -1},
      {"123456789012e-3", false, kExt, 77, 0, 123456789},
      {"0.000000000001e12", false, kExt, 77, 0, 1},
      {"21474836.47e2", false, kExt, 77, 0, kMax},
      {"0.0", false, kExt, 77, 0, 0},
      // Values that a detour through float or double would change.
      {"2147483647.99", false, kExt, 77, 0, kMax},
      {"-2147483648.99", false, kExt, 77, 0, kMin},
      {"16777217.9", false, kExt, 77, 0, 16777217},
      {"2.1474836e+09", false, kExt, 77, 0, 2147483600},
      {"0.99999999999999999999", false, kExt, 77, 0, 0},
      {"-2.99999999999999999999", false, kExt, 77, 0, -2},
      // Beyond the 32-bit range: the most negative integer, without failure.
      {"2147483648.0", false, kExt, 77, 0, kMin},
      {"-2147483649.5", false, kExt, 77, 0, kMin},
      {"1e10", false, kExt, 77, 0, kMin},
      {"-1e10", false, kExt, 77, 0, kMin},
      {"99999999999.", false, kExt, 77, 0, kMin},
      {"99999999999e", false, kExt, 77, 0, kMin},
      {"1e999999999", false, kExt, 77, 0, kMin},
      {"1e99999999999999999999999999", false, kExt, 77, 0, kMin},
      {"1e-999999999", false, kExt, 77, 0, 0},
      {"-1e-99999999999999999999999", false, kExt, 77, 0, 0},
      {"0e999999999", false, kExt, 77, 0, 0},
  });
}

TEST(ListReadInteger, SignAfterTheDigitsCannotBeConverted) {
  run_integer_cases({
      {"1+2", false, kExt, 77, kConversionError, 0},
      {"1.5-2", false, kExt, 77, kConversionError, 0},
      {"12-5", false, kExt, 77, kConversionError, 0},
      {"24-0", false, kExt, 77, kConversionError, 0},
      {"5.+2", false, kExt, 77, kConversionError, 0},
      {"-1-1", false, kExt, 77, kConversionError, 0},
      {"1e5+3", false, kExt, 77, kConversionError, 0},
      {"1+2+3", false, kExt, 77, kConversionError, 0},
      {"2024-01-01", false, kExt, 77, kConversionError, 0},
  });
}

TEST(ListReadInteger, WordsBeginningWithIOrN) {
  run_integer_cases({
      {"INF", false, kExt, 77, kConversionError, 0},
      {"-inf", false, kExt, 77, kConversionError, 0},
      {"+Infinity", false, kExt, 77, kConversionError, 0},
      {"nan", false, kExt, 77, kConversionError, 0},
      {"NaN(123)", false, kExt, 77, kConversionError, 0},
      {"-NAN()", false, kExt, 77, kConversionError, 0},
      {"NA", false, kExt, 77, kConversionError, 0},
      {"N", false, kExt, 77, kConversionError, 0},
      {"INFX", false, kExt, 77, kConversionError, 0},
      {"nanx", false, kExt, 77, kConversionError, 0},
      {"i", false, kExt, 77, kConversionError, 0},
      {"NA", false, kInt, 77, kConversionError, 0},
  });
}

TEST(ListReadInteger, LogicalAndQuotedTokens) {
  run_integer_cases({
      {"T", false, kExt, 77, kConversionError, 77},
      {"F", false, kExt, 77, kConversionError, 77},
      {"true", false, kExt, 77, kConversionError, 77},
      {"False", false, kExt, 77, kConversionError, 77},
      {"Tx", false, kExt, 77, kConversionError, 77},
      {".T.", false, kExt, 77, kConversionError, 77},
      {".f.", false, kExt, 77, kConversionError, 77},
      {"12", true, kExt, 77, kConversionError, 77},
      {"", true, kExt, 77, kConversionError, 77},
      // From a text variable T/F words are syntax errors and .T./.F. are -1/0.
      {"T", false, kInt, 77, kSyntaxError, 77},
      {"false", false, kInt, 77, kSyntaxError, 77},
      {".T.", false, kInt, 77, 0, -1},
      {".f.", false, kInt, 77, 0, 0},
      {"12", true, kInt, 77, kConversionError, 77},
  });
}

TEST(ListReadInteger, ReadsFromATextVariable) {
  run_integer_cases({
      {"2024", false, kInt, 77, 0, 2024},
      {"03", false, kInt, 77, 0, 3},
      {"07:", false, kInt, 77, kSyntaxError, 77},
      {"1-", false, kInt, 77, kSyntaxError, 77},
      {"24-0", false, kInt, 77, kConversionError, 0},
      {"15", false, kInt, 77, 0, 15},
      {"12.7", false, kInt, 77, 0, 12},
  });
}

TEST(ListReadReal, Values) {
  run_real_cases({
      {"-999", false, kExt, 7.5f, 0, -999.0f},
      {"+7", false, kExt, 7.5f, 0, 7.0f},
      {"12.7", false, kExt, 7.5f, 0, 12.7f},
      {"-3.9", false, kExt, 7.5f, 0, -3.9f},
      {"0.1", false, kExt, 7.5f, 0, 0.1f},
      {"1e3", false, kExt, 7.5f, 0, 1000.0f},
      {"1.5d-2", false, kExt, 7.5f, 0, 0.015f},
      {".5", false, kExt, 7.5f, 0, 0.5f},
      {"5.", false, kExt, 7.5f, 0, 5.0f},
      {"1e", false, kExt, 7.5f, 0, 1.0f},
      {"1Q-1", false, kExt, 7.5f, 0, 0.1f},
      {"1E+05", false, kExt, 7.5f, 0, 1e5f},
      {"99999999999", false, kExt, 7.5f, 0, 99999999999.0f},
      {"16777217", false, kExt, 7.5f, 0, 16777216.0f},  // tie to even
      {"16777219", false, kExt, 7.5f, 0, 16777220.0f},  // tie to even
      // A sign after the digits starts the exponent.
      {"1+2", false, kExt, 7.5f, 0, 100.0f},
      {"12-5", false, kExt, 7.5f, 0, 0.00012f},
      {"1.5-2", false, kExt, 7.5f, 0, 0.015f},
      {"5.+2", false, kExt, 7.5f, 0, 500.0f},
      {"-1-1", false, kExt, 7.5f, 0, -0.1f},
      {"1-0", false, kExt, 7.5f, 0, 1.0f},
      // Zeros keep their sign.
      {"0", false, kExt, 7.5f, 0, 0.0f},
      {"-0", false, kExt, 7.5f, 0, -0.0f},
      {"-0.000e5", false, kExt, 7.5f, 0, -0.0f},
      {"0e999999999", false, kExt, 7.5f, 0, 0.0f},
  });
}

TEST(ListReadReal, UnderflowAndOverflow) {
  run_real_cases({
      {"1e-40", false, kExt, 7.5f, 0, 1e-40f},
      {"-1e-40", false, kExt, 7.5f, 0, -1e-40f},
      {"1.4e-45", false, kExt, 7.5f, 0, kDenormMin},
      {"1e-46", false, kExt, 7.5f, 0, 0.0f},
      {"-1e-50", false, kExt, 7.5f, 0, -0.0f},
      {"1e-999999999", false, kExt, 7.5f, 0, 0.0f},
      {"-1-99999999999999999999", false, kExt, 7.5f, 0, -0.0f},
      {"3.4028235e38", false, kExt, 7.5f, 0, kFltMax},
      {"340282356779733661637539395458142568447", false, kExt, 7.5f, 0, kFltMax},
      {"340282356779733661637539395458142568448", false, kExt, 7.5f, kConversionError, kInf},
      {"1e39", false, kExt, 7.5f, kConversionError, kInf},
      {"-1e39", false, kExt, 7.5f, kConversionError, -kInf},
      {"3.5e38", false, kExt, 7.5f, kConversionError, kInf},
      {"-1+39", false, kExt, 7.5f, kConversionError, -kInf},
      {"1e999999999", false, kExt, 7.5f, kConversionError, kInf},
      {"1e99999999999999999999999999", false, kExt, 7.5f, kConversionError, kInf},
  });
}

TEST(ListReadReal, SecondExponentSignCannotBeConverted) {
  run_real_cases({
      {"1+2+3", false, kExt, 7.5f, kConversionError, 0.0f},
      {"2024-01-01", false, kExt, 7.5f, kConversionError, 0.0f},
      {"1e5+3", false, kExt, 7.5f, kConversionError, 0.0f},
      {"1.5-2-1", false, kExt, 7.5f, kConversionError, 0.0f},
      {"-1+2+3", false, kExt, 7.5f, kConversionError, 0.0f},
  });
}

TEST(ListReadReal, InfinityAndNaNWords) {
  run_real_cases({
      {"INF", false, kExt, 7.5f, 0, kInf},
      {"-inf", false, kExt, 7.5f, 0, -kInf},
      {"+Infinity", false, kExt, 7.5f, 0, kInf},
      {"infinity", false, kInt, 7.5f, 0, kInf},
      {"nan", false, kExt, 7.5f, 0, kNaN},
      {"-NaN", false, kExt, 7.5f, 0, kNaN},
      {"NAN(123)", false, kExt, 7.5f, 0, kNaN},
      {"nan(abc_1)", false, kExt, 7.5f, 0, kNaN},
      {"NaN()", false, kExt, 7.5f, 0, kNaN},
      // The suffix may hold any characters between its parentheses.
      {"nan(1-2)", false, kExt, 7.5f, 0, kNaN},
      {"nan(a-b)", false, kExt, 7.5f, 0, kNaN},
      {"NaN(1.5)", false, kExt, 7.5f, 0, kNaN},
      {"nan(:)", false, kExt, 7.5f, 0, kNaN},
      {"+nan(a-b)", false, kExt, 7.5f, 0, kNaN},
      // Other tokens beginning with I or N.
      {"INFX", false, kExt, 7.5f, kConversionError, kInf},
      {"Infinit", false, kExt, 7.5f, kConversionError, kInf},
      {"NANX", false, kExt, 7.5f, kConversionError, kNaN},
      {"NAN(12", false, kExt, 7.5f, kConversionError, kNaN},
      {"NA", false, kExt, 7.5f, kConversionError, 0.0f},
      {"N", false, kExt, 7.5f, kConversionError, 0.0f},
      {"IN", false, kExt, 7.5f, kConversionError, 0.0f},
      {"nope", false, kInt, 7.5f, kConversionError, 0.0f},
  });
}

TEST(ListReadReal, LogicalAndQuotedTokens) {
  run_real_cases({
      {"T", false, kExt, 7.5f, kConversionError, 7.5f},
      {"false", false, kExt, 7.5f, kConversionError, 7.5f},
      {".T.", false, kExt, 7.5f, kConversionError, 7.5f},
      {".F.", false, kExt, 7.5f, kConversionError, 7.5f},
      {"1.5", true, kExt, 7.5f, kConversionError, 7.5f},
      {"T", false, kInt, 7.5f, kSyntaxError, 7.5f},
      {"Fx", false, kInt, 7.5f, kSyntaxError, 7.5f},
      {".t.", false, kInt, 7.5f, 0, -1.0f},
      {".F.", false, kInt, 7.5f, 0, 0.0f},
      {"1.5", true, kInt, 7.5f, kConversionError, 7.5f},
      {"1+2", false, kInt, 7.5f, 0, 100.0f},
  });
}

// Tokens that are not valid values leave either kind of item unchanged, from
// either source.
TEST(ListReadNumber, SyntaxErrorsLeaveTheItemUnchanged) {
  const std::string_view tokens[] = {
      "07:",  "12:00", "1.5x",   "5.5.",   "1.2.3",   "1..",        "..5",    "+",
      "-",    "+-5",   "--5",    "1e+",    "1e-",     "1+",         "1.5-",   "+1-",
      "1+2+", "1-2-",  "1+2e3",  "1e5.5",  "1ee",     "1e5e",       "1ex",    "1d+x",
      ".",    "+.",    ".e5",    "e5",     "D5",      "q",          "*5",     "#",
      "5$",   "0x10",  "1e5+3x", "1+2+3x", "-NA",     "+T",         "-f",     "-INFX",
      "+N",   "+NAN(1", "-INFINITYX", "+.T.", ".TRUE.", ".T",      ".X.",    "-.F.",
  };
  for (ListSource source : {kExt, kInt}) {
    for (std::string_view token : tokens) {
      SCOPED_TRACE(::testing::Message() << "token '" << token << "' internal=" << (source == kInt));
      std::int32_t i = 77;
      EXPECT_EQ(list_read_integer(token, false, source, i), kSyntaxError);
      EXPECT_EQ(i, 77);
      float r = 7.5f;
      EXPECT_EQ(list_read_real(token, false, source, r), kSyntaxError);
      EXPECT_TRUE(same_float(r, 7.5f));
    }
  }
}

TEST(ListReadNumber, VeryLongDigitStrings) {
  const std::string zeros(5000, '0');
  const std::string one_shifted = "1" + zeros + "e-5000";          // 1
  const std::string one_and_a_half = "0." + zeros + "15e5001";     // 1.5
  const std::string huge_digits = "1" + zeros;                     // 10^5000
  const std::string tiny_fraction = "0." + zeros + "1";            // 10^-5001
  const std::string nines_fraction = "-7." + std::string(5000, '9');  // just above -8

  std::int32_t i = 77;
  EXPECT_EQ(list_read_integer(one_shifted, false, kExt, i), 0);
  EXPECT_EQ(i, 1);
  EXPECT_EQ(list_read_integer(one_and_a_half, false, kExt, i), 0);
  EXPECT_EQ(i, 1);
  EXPECT_EQ(list_read_integer(huge_digits, false, kExt, i), kConversionError);
  EXPECT_EQ(i, 0);
  i = 77;
  EXPECT_EQ(list_read_integer(tiny_fraction, false, kExt, i), 0);
  EXPECT_EQ(i, 0);
  EXPECT_EQ(list_read_integer(nines_fraction, false, kExt, i), 0);
  EXPECT_EQ(i, -7);

  float r = 7.5f;
  EXPECT_EQ(list_read_real(one_shifted, false, kExt, r), 0);
  EXPECT_TRUE(same_float(r, 1.0f));
  EXPECT_EQ(list_read_real(one_and_a_half, false, kExt, r), 0);
  EXPECT_TRUE(same_float(r, 1.5f));
  EXPECT_EQ(list_read_real(huge_digits, false, kExt, r), kConversionError);
  EXPECT_TRUE(same_float(r, kInf));
  EXPECT_EQ(list_read_real(tiny_fraction, false, kExt, r), 0);
  EXPECT_TRUE(same_float(r, 0.0f));
  EXPECT_EQ(list_read_real(nines_fraction, false, kExt, r), 0);
  EXPECT_TRUE(same_float(r, -8.0f));
}

// The exact decimal expansion of odd x 2^-k: the digits of odd x 5^k with the
// point k places from the right.
std::string exact_binary_fraction(std::uint32_t odd, std::size_t k) {
  std::vector<int> digits;  // least significant first
  for (std::uint32_t v = odd; v != 0; v /= 10) digits.push_back(static_cast<int>(v % 10));
  for (std::size_t n = 0; n < k; ++n) {
    int carry = 0;
    for (int& d : digits) {
      const int x = d * 5 + carry;
      d = x % 10;
      carry = x / 10;
    }
    for (; carry != 0; carry /= 10) digits.push_back(carry % 10);
  }
  while (digits.size() <= k) digits.push_back(0);
  std::string s;
  for (std::size_t p = digits.size(); p-- > 0;) {
    s += static_cast<char>('0' + digits[p]);
    if (p == k && k > 0) s += '.';
  }
  return s;
}

// Decimal strings at, just below and just above the point halfway between two
// adjacent floats, with up to 113 significant digits and thousands of digits in
// all: the rounding must be that of the whole digit string.
TEST(ListReadReal, HalfwayPointsRoundToEven) {
  struct Halfway {
    std::uint32_t odd;  // the halfway point is odd x 2^-k
    std::size_t k;
    float below, above, tie;
  };
  const float one_up = std::nextafter(1.0f, 2.0f);
  const float two_pow_m125 = std::ldexp(1.0f, -125);
  const Halfway cases[] = {
      {(1u << 24) + 1, 24, 1.0f, one_up, 1.0f},
      {1, 150, 0.0f, kDenormMin, 0.0f},
      {3, 150, kDenormMin, 2 * kDenormMin, 2 * kDenormMin},
      {5, 150, 2 * kDenormMin, 3 * kDenormMin, 2 * kDenormMin},
      {(1u << 24) - 1, 150, std::numeric_limits<float>::min() - kDenormMin,
       std::numeric_limits<float>::min(), std::numeric_limits<float>::min()},
      {(1u << 25) - 1, 150, std::nextafter(two_pow_m125, 0.0f), two_pow_m125, two_pow_m125},
      {(1u << 25) - 3, 150, std::nextafter(std::nextafter(two_pow_m125, 0.0f), 0.0f),
       std::nextafter(two_pow_m125, 0.0f), std::nextafter(std::nextafter(two_pow_m125, 0.0f), 0.0f)},
  };
  const std::string zeros(3000, '0');
  const std::string nines(3000, '9');
  for (const Halfway& h : cases) {
    const std::string tie = exact_binary_fraction(h.odd, h.k);
    ASSERT_EQ(tie.back(), '5');
    const std::string cut = tie.substr(0, tie.size() - 1);
    const std::pair<std::string, float> forms[] = {
        {tie, h.tie},
        {tie + zeros, h.tie},
        {tie + zeros + "1", h.above},
        {cut, h.below},
        {cut + "4" + nines, h.below},
    };
    for (const auto& [text, expected] : forms) {
      for (bool negative : {false, true}) {
        const std::string token = (negative ? "-" : "") + text;
        SCOPED_TRACE(token.substr(0, 140));
        float r = 7.5f;
        EXPECT_EQ(list_read_real(token, false, kExt, r), 0);
        EXPECT_TRUE(same_float(r, negative ? -expected : expected));
      }
    }
  }
}

// The forms in which a float's shortest and 9-digit texts can be written on
// input: as printed, with E, D or Q, with a leading plus, and with the sign of
// the exponent standing in for the letter.
void input_forms(std::string_view printed, bool integer_item, std::vector<std::string>& out) {
  out.clear();
  std::string s(printed);
  out.push_back(s);
  const std::size_t e = s.find('e');
  if (e != std::string::npos) {
    for (char letter : {'E', 'D', 'd', 'Q'}) {
      std::string t = s;
      t[e] = letter;
      out.push_back(t);
    }
    if (!integer_item) out.push_back(s.substr(0, e) + s.substr(e + 1));  // 1.5e-07 -> 1.5-07
  } else if (!integer_item) {
    out.push_back(s + (s.find('.') == std::string::npos ? "+0" : "-0"));
  }
  if (s[0] != '-') out.push_back("+" + s);
}

TEST(ListReadReal, AgreesWithToCharsOnRandomFloats) {
  std::mt19937 rng(20240601);
  std::vector<std::string> forms;
  int checked = 0, failures = 0;
  std::string first_failure;
  for (int n = 0; n < 300000; ++n) {
    std::uint32_t bits = static_cast<std::uint32_t>(rng());
    if (n < 2) bits = n == 0 ? 0u : 0x80000000u;  // both zeros
    const float f = std::bit_cast<float>(bits);
    if (!std::isfinite(f)) continue;
    char buf[2][64];
    char* end0 = std::to_chars(buf[0], buf[0] + 64, f).ptr;
    char* end1 = std::to_chars(buf[1], buf[1] + 64, f, std::chars_format::general, 9).ptr;
    for (int which = 0; which < 2; ++which) {
      input_forms(std::string_view(buf[which], (which == 0 ? end0 : end1) - buf[which]), false,
                  forms);
      for (const std::string& token : forms) {
        float r = 7.5f;
        const int status = list_read_real(token, false, kExt, r);
        ++checked;
        if (status != 0 || std::bit_cast<std::uint32_t>(r) != bits) {
          if (failures++ == 0) first_failure = token;
        }
      }
    }
  }
  EXPECT_EQ(failures, 0) << "first failing token: " << first_failure;
  EXPECT_GT(checked, 2000000);
}

// Below 2^24 every integer is a float, so a correctly rounded text of a float
// truncates to the same integer as the float itself.
TEST(ListReadInteger, TruncationAgreesWithRandomFloats) {
  std::mt19937 rng(7);
  std::vector<std::string> forms;
  int checked = 0, failures = 0;
  std::string first_failure;
  while (checked < 1000000) {
    const float f = std::bit_cast<float>(static_cast<std::uint32_t>(rng()));
    if (!(std::fabs(f) < 16777216.0f)) continue;
    const std::int32_t expected = static_cast<std::int32_t>(f);
    char buf[64];
    for (int digits : {0, 9}) {
      char* end = digits == 0 ? std::to_chars(buf, buf + 64, f).ptr
                              : std::to_chars(buf, buf + 64, f, std::chars_format::general, 9).ptr;
      input_forms(std::string_view(buf, end - buf), true, forms);
      for (const std::string& token : forms) {
        std::int32_t item = 77;
        const int status = list_read_integer(token, false, kExt, item);
        ++checked;
        if (status != 0 || item != expected) {
          if (failures++ == 0) first_failure = token;
        }
      }
    }
  }
  EXPECT_EQ(failures, 0) << "first failing token: " << first_failure;
}

TEST(ListReadInteger, AgreesWithRandomInt64Texts) {
  std::mt19937_64 rng(99);
  int failures = 0;
  std::string first_failure;
  for (int n = 0; n < 200000; ++n) {
    // Spread the magnitudes so that both sides of the 32-bit limits are common.
    const std::int64_t v = static_cast<std::int64_t>(rng()) >> (rng() % 64);
    char buf[40];
    char* p = buf;
    if (v >= 0 && n % 3 == 0) *p++ = '+';
    if (v >= 0 && n % 5 == 0) p = std::fill_n(p, 4, '0');  // leading zeros
    const std::string_view token(buf, std::to_chars(p, buf + sizeof buf, v).ptr - buf);
    const bool in_range = v >= kMin && v <= kMax;
    std::int32_t item = 77;
    const int status = list_read_integer(token, false, kExt, item);
    if (status != (in_range ? 0 : kConversionError) || item != (in_range ? v : 0)) {
      if (failures++ == 0) first_failure = token;
    }
  }
  EXPECT_EQ(failures, 0) << "first failing token: " << first_failure;
}

TEST(FixedReadInteger, Fields) {
  struct Case {
    std::string_view field;
    int status;
    std::int32_t expected;  // 77 (the initial value) when the item stays unchanged
  };
  const Case cases[] = {
      {"2024", 0, 2024},
      {"  24", 0, 24},
      {"-999", 0, -999},
      {"2 4 ", 0, 24},
      {"- 1 2", 0, -12},
      {" +12", 0, 12},
      {"    ", 0, 0},
      {" -  ", 0, 0},
      {"+", 0, 0},
      {"", 0, 0},
      {"2147483647", 0, kMax},
      {"-2147483648", 0, kMin},
      {"   00000000000000002024", 0, 2024},
      {"2O24", kConversionError, 77},
      {"20.4", kConversionError, 77},
      {"1-2 ", kConversionError, 77},
      {"+-1", kConversionError, 77},
      {"--1", kConversionError, 77},
      {"1 +", kConversionError, 77},
      {"1e3", kConversionError, 77},
      {"\t1", kConversionError, 77},
      {"*", kConversionError, 77},
      {"2147483648", kConversionError, 77},
      {"-2147483649", kConversionError, 77},
      {"99999999999999999999999", kConversionError, 77},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "field '" << c.field << "'");
    std::int32_t item = 77;
    EXPECT_EQ(fixed_read_integer(c.field, item), c.status);
    EXPECT_EQ(item, c.expected);
  }
}

}  // namespace

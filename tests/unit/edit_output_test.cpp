// Output editing of Iw, Iw.m, Fw.d, Ew.d and the free-form real.
#include "record/edit_output.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kMax = std::numeric_limits<float>::max();
constexpr float kMinSubnormal = std::numeric_limits<float>::denorm_min();

struct Descriptor {
  char kind;  // 'I', 'F', 'E' or 'L' for the free-form real
  int w;
  int d;  // m for I
};

// "F12.3", "I4.4", "I10", "E10.3", or "list" for the free-form real.
Descriptor parse(std::string_view text) {
  if (text == "list") return {'L', rec::kListRealWidth, 0};
  Descriptor desc{text[0], 0, 1};
  const char* p = text.data() + 1;
  char* end = nullptr;
  desc.w = static_cast<int>(std::strtol(p, &end, 10));
  if (*end == '.') desc.d = static_cast<int>(std::strtol(end + 1, &end, 10));
  return desc;
}

// The field that a descriptor gives for a value. The buffer around the field
// is filled with '#', so a position left unwritten shows up in the result and
// a write past the field's end fails the test.
std::string edit(const Descriptor& desc, double value) {
  constexpr int kGuard = 8;
  std::string buf(static_cast<std::size_t>(desc.w + kGuard), '#');
  switch (desc.kind) {
    case 'I':
      rec::edit_integer(buf.data(), static_cast<std::int32_t>(value), desc.w, desc.d);
      break;
    case 'F':
      rec::edit_fixed(buf.data(), static_cast<float>(value), desc.w, desc.d);
      break;
    case 'E':
      rec::edit_exponent(buf.data(), static_cast<float>(value), desc.w, desc.d);
      break;
    case 'L':
      rec::edit_list_real(buf.data(), static_cast<float>(value));
      break;
  }
  EXPECT_EQ(buf.substr(static_cast<std::size_t>(desc.w)), std::string(kGuard, '#'))
      << "written past the field";
  buf.resize(static_cast<std::size_t>(desc.w));
  return buf;
}

struct RealCase {
  const char* desc;
  float value;
  const char* expected;
};

void check_cases(const std::vector<RealCase>& cases) {
  for (const auto& c : cases) {
    EXPECT_EQ(edit(parse(c.desc), c.value), c.expected)
        << c.desc << " of " << std::hexfloat << c.value << " (" << std::defaultfloat << c.value << ")";
  }
}

// ---------------------------------------------------------------- Iw, Iw.m

TEST(EditInteger, DigitsSignLeadingZerosAndOverflow) {
  struct IntCase {
    const char* desc;
    std::int32_t value;
    const char* expected;
  };
  const IntCase cases[] = {
      {"I10", 0, "         0"},
      {"I1", 0, "0"},
      {"I4", 12345, "****"},
      {"I5", 12345, "12345"},
      {"I4", -123, "-123"},
      {"I3", -123, "***"},
      {"I12", -5, "          -5"},
      {"I4.4", 24, "0024"},
      {"I2.2", 1, "01"},
      {"I2.2", -1, "**"},
      {"I4.3", -5, "-005"},
      {"I3.3", -5, "***"},
      {"I6.2", 0, "    00"},
      {"I11", std::numeric_limits<std::int32_t>::min(), "-2147483648"},
      {"I10", std::numeric_limits<std::int32_t>::min(), "**********"},
      {"I12.11", std::numeric_limits<std::int32_t>::min(), "-02147483648"},
      {"I10", std::numeric_limits<std::int32_t>::max(), "2147483647"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(edit(parse(c.desc), c.value), c.expected) << c.desc << " of " << c.value;
  }
}

// ---------------------------------------------------------------- Fw.d

TEST(EditFixed, RoundsTheExactBinaryValueTiesToEven) {
  check_cases({
      {"F5.0", 2.5f, "   2."},
      {"F5.0", 3.5f, "   4."},
      {"F5.0", 0.5f, "   0."},
      {"F5.0", -2.5f, "  -2."},
      {"F6.2", 0.125f, "  0.12"},
      {"F6.2", 0.375f, "  0.38"},
      {"F12.3", 100.0625f, "     100.062"},
      {"F12.3", 100.1875f, "     100.188"},
      {"F12.3", -100.1875f, "    -100.188"},
      // Not ties: the float lies just above or below the decimal half.
      {"F12.3", 0.0005f, "       0.001"},  // 0.000500000024
      {"F6.2", 2.675f, "  2.67"},         // 2.674999952
      // Rounding carries into a new integer digit.
      {"F5.1", 99.96f, "100.0"},
      {"F4.1", 99.96f, "****"},
  });
}

TEST(EditFixed, LayoutOfSignAndZeroIntegerPart) {
  check_cases({
      {"F10.0", 12.0f, "       12."},
      {"F7.3", 0.5f, "  0.500"},
      {"F5.3", 0.5f, "0.500"},
      {"F4.3", 0.5f, ".500"},
      {"F3.2", 0.5f, ".50"},
      {"F4.2", -0.5f, "-.50"},
      {"F4.3", -0.5f, "****"},
      {"F7.3", -0.0004f, " -0.000"},
      {"F7.3", -0.0f, "  0.000"},
      {"F12.3", 1e-40f, "       0.000"},
      {"F12.3", -1e-40f, "      -0.000"},
      {"F12.3", 9999999.0f, " 9999999.000"},
      {"F12.3", 1.0e8f, "************"},
      {"F12.3", 1.0e9f, "************"},
      {"F12.3", 150.25f, "     150.250"},
      // The same layout with more than 8 decimals, whose digits come as text.
      {"F12.10", 0.5f, "0.5000000000"},
      {"F11.10", 0.5f, ".5000000000"},
      {"F12.10", -0.5f, "-.5000000000"},
      {"F11.10", -0.5f, "***********"},
      {"F12.10", -0.0f, "0.0000000000"},
      {"F12.9", -1e-12f, "-0.000000000"},
      {"F12.9", 12.5f, "12.500000000"},
      {"F11.9", 12.5f, "***********"},
      {"F13.9", -12.5f, "-12.500000000"},
      {"F12.9", -12.5f, "************"},
  });
}

TEST(EditFixed, MinusNineNineNineInTheSystemWidths) {
  check_cases({
      {"F5.0", -999.0f, "-999."},
      {"F5.1", -999.0f, "*****"},
      {"F5.2", -999.0f, "*****"},
      {"F6.3", -999.0f, "******"},
      {"F7.4", -999.0f, "*******"},
      {"F8.5", -999.0f, "********"},
      {"F9.6", -999.0f, "*********"},
      {"F8.3", -999.0f, "-999.000"},
      {"F9.3", -999.0f, " -999.000"},
      {"F10.0", -999.0f, "     -999."},
      {"F10.1", -999.0f, "    -999.0"},
      {"F10.3", -999.0f, "  -999.000"},
      {"F11.3", -999.0f, "   -999.000"},
      {"F12.2", -999.0f, "     -999.00"},
      {"F12.3", -999.0f, "    -999.000"},
      {"F12.4", -999.0f, "   -999.0000"},
      {"F16.7", -999.0f, "    -999.0000000"},
  });
}

TEST(EditFixed, InfinityAndNaNAsTheRoomAllows) {
  check_cases({
      {"F12.3", kInf, "    Infinity"},
      {"F8.3", kInf, "Infinity"},
      {"F7.3", kInf, "    Inf"},
      {"F12.3", -kInf, "   -Infinity"},
      {"F9.3", -kInf, "-Infinity"},
      {"F8.3", -kInf, "    -Inf"},
      {"F3.1", kInf, "Inf"},
      {"F3.1", -kInf, "***"},
      {"F2.0", kInf, "**"},
      {"F5.2", kNaN, "  NaN"},
      {"F3.1", -kNaN, "NaN"},
      {"F2.1", kNaN, "**"},
  });
}

// Values and precisions beyond the integer rounding: more than 8 decimals, or
// magnitudes whose scaled value does not fit in 64 bits.
TEST(EditFixed, WideFieldsAndManyDecimals) {
  check_cases({
      {"F20.10", 0.1f, "        0.1000000015"},
      {"F30.20", 0.1f, "        0.10000000149011611938"},
      {"F40.3", 1.0e30f, "     1000000015047466219876688855040.000"},
      {"F43.3", kMax, "340282346638528859811704183484516925440.000"},
      {"F42.3", kMax, "******************************************"},
      {"F44.3", -kMax, "-340282346638528859811704183484516925440.000"},
  });
}

// ---------------------------------------------------------------- Ew.d

TEST(EditExponent, DigitsExponentAndLeadingZero) {
  check_cases({
      {"E12.6", -999.0f, "-.999000E+03"},
      {"E12.6", 999.0f, "0.999000E+03"},
      {"E12.6", 0.0f, "0.000000E+00"},
      {"E12.6", -0.0f, "0.000000E+00"},
      {"E12.6", 1.0f, "0.100000E+01"},
      {"E12.6", 183.25f, "0.183250E+03"},
      {"E10.3", -999.0f, "-0.999E+03"},
      {"E10.3", 999.0f, " 0.999E+03"},
      {"E10.3", 0.0f, " 0.000E+00"},
      {"E9.3", -999.0f, "-.999E+03"},
      {"E8.3", -999.0f, "********"},
      {"E10.3", 0.1875f, " 0.188E+00"},  // ties to even
      {"E10.3", 0.3125f, " 0.312E+00"},
      {"E10.3", 0.9999996f, " 0.100E+01"},  // carry into the exponent
      {"E10.3", 1.5e-10f, " 0.150E-09"},
      {"E10.3", kMinSubnormal, " 0.140E-44"},
      {"E12.6", kMax, "0.340282E+39"},
      {"E10.3", kInf, "  Infinity"},
      {"E8.3", -kInf, "    -Inf"},
      {"E12.6", kNaN, "         NaN"},
  });
}

// ---------------------------------------------------------------- free-form real

TEST(EditListReal, FixedOrExponentForm) {
  check_cases({
      {"list", 0.0f, "  0.0000000E+00"},
      {"list", -0.0f, "  0.0000000E+00"},
      {"list", 1.0f, "   1.000000    "},
      {"list", -1.0f, "  -1.000000    "},
      {"list", 0.5f, "  0.5000000    "},
      {"list", 0.1f, "  0.1000000    "},
      {"list", 123.456f, "   123.4560    "},
      {"list", -999.0f, "  -999.0000    "},
      {"list", 1234567.0f, "   1234567.    "},
      {"list", 9999999.0f, "   9999999.    "},
      {"list", 1000.0f, "   1000.000    "},
      {"list", std::nextafter(1000.0f, 0.0f), "   999.9999    "},
      {"list", 1.0e7f, "  1.0000000E+07"},
      {"list", 0.001f, "  1.0000000E-03"},
      {"list", 0.05f, "  5.0000001E-02"},
      {"list", -0.05f, " -5.0000001E-02"},
      {"list", -1.0e-32f, " -1.0000000E-32"},
      // Rounds to 0.1000000 at 7 decimals, so fixed form.
      {"list", std::nextafter(0.1f, 0.0f), "  0.1000000    "},
      // 9.99999997e-7 and 9.99999996e11 carry to a new leading digit.
      {"list", 1.0e-6f, "  1.0000000E-06"},
      {"list", 1.0e12f, "  1.0000000E+12"},
      {"list", kMinSubnormal, "  1.4012985E-45"},
      {"list", -kMax, " -3.4028235E+38"},
      {"list", kInf, "       Infinity"},
      {"list", -kInf, "      -Infinity"},
      {"list", kNaN, "            NaN"},
  });
}

// ---------------------------------------------------------------- agreement with printf
//
// glibc's printf converts the exact binary value and rounds ties to even; the
// expected fields below are laid out from its digits alone.

// The oracles build their fields in plain buffers: the comparison runs on a
// few million fields, also in a debug build.
struct Field {
  char text[96];
  int size = 0;
  std::string_view view() const { return {text, static_cast<std::size_t>(size)}; }
};

// Right-justifies the n characters of s in w, or w asterisks when they do not fit.
Field lay_out(const char* s, int n, int w) {
  Field f;
  f.size = w;
  if (n > w) {
    std::memset(f.text, '*', static_cast<std::size_t>(w));
  } else {
    std::memset(f.text, ' ', static_cast<std::size_t>(w - n));
    std::memcpy(f.text + (w - n), s, static_cast<std::size_t>(n));
  }
  return f;
}

// Fw.d from printf's "%.*f" text of the magnitude.
Field expected_fixed(float v, int w, int d, const char* magnitude_text) {
  char s[96];
  const int sign = v < 0 ? 1 : 0;
  s[0] = '-';
  int n = std::snprintf(s + sign, sizeof s - 1, "%s%s", magnitude_text, d == 0 ? "." : "") + sign;
  const bool zero_int = magnitude_text[0] == '0' && magnitude_text[1] == '.';
  if (n > w && zero_int) {
    std::memmove(s + sign, s + sign + 1, static_cast<std::size_t>(n - sign - 1));
    --n;
  }
  return lay_out(s, n, w);
}

// Ew.d from printf's "%.*e" text of the magnitude with d - 1 digits after the point.
Field expected_exponent(float v, int w, const char* magnitude_text) {
  char s[96];
  int n = 0;
  if (v < 0) s[n++] = '-';
  const int zero_at = n;
  s[n++] = '0';
  s[n++] = '.';
  const char* p = magnitude_text;
  for (; *p != 'e'; ++p) {
    if (*p != '.') s[n++] = *p;
  }
  const int exponent = v == 0 ? 0 : std::atoi(p + 1) + 1;
  n += std::snprintf(s + n, sizeof s - static_cast<std::size_t>(n), "E%c%02d",
                     exponent < 0 ? '-' : '+', std::abs(exponent));
  if (n > w) {
    std::memmove(s + zero_at, s + zero_at + 1, static_cast<std::size_t>(n - zero_at - 1));
    --n;
  }
  return lay_out(s, n, w);
}

// The free-form real from "%.7f" of the magnitude (which decides the form),
// then "%#11.*f" or "%.7e" of the value.
Field expected_list(float v, const char* magnitude_text7) {
  char s[96];
  const std::string_view t = magnitude_text7;
  const std::size_t point = t.find('.');
  const bool below_tenth = t.substr(0, 3) == "0.0";
  if (v != 0 && !below_tenth && point < 8) {
    const int before_point = t.substr(0, point) == "0" ? 0 : static_cast<int>(point);
    const int n = std::snprintf(s, sizeof s, "%#11.*f    ", 7 - before_point, static_cast<double>(v));
    return lay_out(s, n, n);
  }
  const int n = std::snprintf(s, sizeof s, "%.7e", static_cast<double>(v == 0 ? 0.0f : v));
  *std::strchr(s, 'e') = 'E';
  return lay_out(s, n, rec::kListRealWidth);
}

std::vector<float> sample_values() {
  std::mt19937 gen(20240611);
  std::vector<float> values;
  // Any finite bit pattern: mostly very large or very small magnitudes.
  std::uniform_int_distribution<std::uint32_t> any_bits;
  while (values.size() < 150000) {
    const float f = std::bit_cast<float>(any_bits(gen));
    if (std::isfinite(f)) values.push_back(f);
  }
  // Magnitudes from about 1e-6 to 1e9, where fields hold digits.
  std::uniform_int_distribution<int> exponent(-20, 30);
  std::uniform_int_distribution<std::uint32_t> mantissa(0, (1U << 24) - 1);
  std::bernoulli_distribution negative(0.5);
  for (int i = 0; i < 150000; ++i) {
    const float f = std::ldexp(static_cast<float>(mantissa(gen)), exponent(gen) - 24);
    values.push_back(negative(gen) ? -f : f);
  }
  // Few fraction bits: exact decimal halves that the rounding must send to the even digit.
  std::uniform_int_distribution<int> numerator(-(1 << 21), 1 << 21);
  std::uniform_int_distribution<int> fraction_bits(1, 10);
  for (int i = 0; i < 50000; ++i) {
    values.push_back(std::ldexp(static_cast<float>(numerator(gen)), -fraction_bits(gen)));
  }
  return values;
}

TEST(EditOutputAgreement, RandomValuesMatchPrintf) {
  // The system's widths, plus wide fields and long precisions that take the
  // to_chars path.
  const Descriptor fixed[] = {{'F', 5, 0},  {'F', 5, 1},  {'F', 5, 2},  {'F', 6, 3},  {'F', 7, 4},
                              {'F', 8, 5},  {'F', 9, 6},  {'F', 8, 3},  {'F', 9, 3},  {'F', 10, 0},
                              {'F', 10, 1}, {'F', 10, 3}, {'F', 11, 3}, {'F', 12, 2}, {'F', 12, 3},
                              {'F', 12, 4}, {'F', 16, 7}, {'F', 45, 3}, {'F', 30, 12}};
  const Descriptor exponent[] = {{'E', 10, 3}, {'E', 12, 6}, {'E', 40, 30}};
  constexpr int kMaxD = 30;

  int failures = 0;
  auto compare = [&](const char* kind, const Descriptor& desc, float v, std::string_view got,
                     const Field& expected) {
    const std::string_view want = expected.view();
    if (got == want) return;
    if (++failures <= 10) {
      ADD_FAILURE() << kind << desc.w << '.' << desc.d << " of " << std::hexfloat << v << " ("
                    << std::defaultfloat << v << "): got \"" << got << "\", expected \"" << want
                    << '"';
    }
  };

  char field[64];
  char text[kMaxD + 1][80];
  bool have_text[kMaxD + 1];
  for (const float v : sample_values()) {
    const double mag = std::fabs(static_cast<double>(v));
    std::memset(have_text, 0, sizeof have_text);
    for (const auto& desc : fixed) {
      if (!have_text[desc.d]) {
        std::snprintf(text[desc.d], sizeof text[desc.d], "%.*f", desc.d, mag);
        have_text[desc.d] = true;
      }
      rec::edit_fixed(field, v, desc.w, desc.d);
      compare("F", desc, v, {field, static_cast<std::size_t>(desc.w)},
              expected_fixed(v, desc.w, desc.d, text[desc.d]));
    }
    for (const auto& desc : exponent) {
      char etext[80];
      std::snprintf(etext, sizeof etext, "%.*e", desc.d - 1, mag);
      rec::edit_exponent(field, v, desc.w, desc.d);
      compare("E", desc, v, {field, static_cast<std::size_t>(desc.w)},
              expected_exponent(v, desc.w, etext));
    }
    rec::edit_list_real(field, v);
    compare("list", {'L', rec::kListRealWidth, 0}, v,
            {field, static_cast<std::size_t>(rec::kListRealWidth)}, expected_list(v, text[7]));
  }
  EXPECT_EQ(failures, 0);
}

}  // namespace

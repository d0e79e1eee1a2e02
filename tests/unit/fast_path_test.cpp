// The fast paths of the record layer against the exact ones: plain decimal
// tokens against std::from_chars, Fw.d fields against std::to_chars, runs of
// real fields in the interpreter against the same layouts taken field by field.
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "record/edit_output.h"
#include "record/format.h"
#include "record/number_input.h"

namespace {

// ---------------------------------------------------------------- plain decimal tokens

// The float that std::from_chars gives for a token (a leading '+' is not in
// its grammar and is left out; D and Q are exponent letters like E, and a
// letter without digits is no exponent).
float exact(std::string_view token) {
  std::string t(token);
  if (!t.empty() && t[0] == '+') t.erase(0, 1);
  for (char& c : t)
    if (std::string_view("EDdQq").find(c) != std::string_view::npos) c = 'e';
  if (!t.empty() && t.back() == 'e') t.pop_back();
  float v = 0.0f;
  const auto r = std::from_chars(t.data(), t.data() + t.size(), v);
  EXPECT_EQ(r.ptr, t.data() + t.size()) << token;
  return v;
}

// Whether the fast path is meant to take a token: sign, digits and one
// point, 1 to 8 digits, an integer below 2^24, and an exponent that leaves a
// scale of at most 10 either way.
bool fast_path_applies(std::string_view t) {
  if (!t.empty() && (t[0] == '+' || t[0] == '-')) t.remove_prefix(1);
  std::uint64_t m = 0;
  int digits = 0;
  int points = 0;
  int decimals = 0;
  std::size_t k = 0;
  for (; k < t.size(); ++k) {
    const char c = t[k];
    if (c == '.') {
      ++points;
    } else if (c >= '0' && c <= '9') {
      m = m * 10 + static_cast<std::uint64_t>(c - '0');
      ++digits;
      if (points > 0) ++decimals;
    } else {
      break;
    }
  }
  long scale = -decimals;
  if (k < t.size() && std::string_view("EeDdQq").find(t[k]) != std::string_view::npos) {
    ++k;
    bool negative = false;
    const bool signed_exponent = k < t.size() && (t[k] == '+' || t[k] == '-');
    if (signed_exponent) negative = t[k++] == '-';
    long e = 0;
    std::size_t exponent_digits = 0;
    for (; k < t.size() && t[k] >= '0' && t[k] <= '9'; ++k, ++exponent_digits) e = std::min(e * 10 + (t[k] - '0'), 1000L);
    if (signed_exponent && exponent_digits == 0) return false;
    scale += negative ? -e : e;
  }
  return k == t.size() && points <= 1 && digits >= 1 && digits <= 8 && m < (1U << 24) && scale >= -10 &&
         scale <= 10;
}

// Compares both the fast path and the whole conversion with from_chars, bit
// for bit (so -0.0 counts).
void check_token(std::string_view token, int& failures) {
  const std::uint32_t want = std::bit_cast<std::uint32_t>(exact(token));
  float fast = 1234.5f;
  const bool taken = rec::read_plain_decimal(token, fast);
  float full = 1234.5f;
  const int status = rec::list_read_real(token, false, rec::ListSource::External, full);
  const bool ok = taken == fast_path_applies(token) && (!taken || std::bit_cast<std::uint32_t>(fast) == want) &&
                  status == 0 && std::bit_cast<std::uint32_t>(full) == want;
  if (!ok && ++failures <= 10) {
    ADD_FAILURE() << "token \"" << token << "\": fast path " << (taken ? "took it: " : "left it")
                  << (taken ? std::to_string(fast) : "") << ", list_read_real " << full << " (status " << status
                  << "), from_chars " << exact(token);
  }
}

TEST(PlainDecimal, EdgeTokensAgreeWithFromChars) {
  const char* tokens[] = {
      // The 2^24 boundary of the integer, with and without a point.
      "16777215", "16777216", "16777217", "1677721.5", "1677721.6", "1677721.7", "167772.15", "8388607.5",
      "8388608.5", "0.16777215", "0.16777217",
      // Trailing and leading zeros, zeros with signs.
      "1.5000000", "1.50000000", "000001.5", "0.0000001", "0.00000001", "00000000", "-0.000", "-0", "+0.0", "0.",
      ".0", "-.5", "+.5", "5.", "-999.000", "-999.", "999.9999",
      // Decimal values exactly halfway between two floats, and their neighbours.
      "0.5", "0.25", "0.125", "8388607.5", "4194303.75", "1048576.125", "1048576.0625",
      "0.1", "0.2", "0.3", "0.7", "3.14159265", "2.7182818", "1234.5678", "99999.999", "0.99999999",
      // Exponents: the scale limit of 10 either way, the letters, a letter alone.
      "1e5", "1E-3", "1d0", "-9.990E+02", "1.2345Q+02", "16777215e10", "16777215e-10", "1e11", "1e-11",
      "0.00000001e-3", "12345678E-18", "1.5e", "-2.5E", "7e0005", "1.e1", ".5e-1", "99999999e2",
  };
  int failures = 0;
  for (const char* t : tokens) check_token(t, failures);
  EXPECT_EQ(failures, 0);
}

TEST(PlainDecimal, RandomTokensAgreeWithFromChars) {
  std::mt19937 gen(20241210);
  std::uniform_int_distribution<std::uint32_t> below_2_24(0, (1U << 24) - 1);
  std::uniform_int_distribution<std::uint32_t> up_to_8_digits(0, 99999999);
  std::uniform_int_distribution<int> decimals(0, 8);
  std::uniform_int_distribution<int> lead_zeros(0, 3);
  std::uniform_int_distribution<int> sign(0, 2);
  int failures = 0;
  for (int i = 0; i < 400000; ++i) {
    // Half the integers below 2^24 (the fast path), half any 8 digits (both).
    const std::uint32_t m = i % 2 == 0 ? below_2_24(gen) : up_to_8_digits(gen);
    std::string digits = std::string(static_cast<std::size_t>(lead_zeros(gen)), '0') + std::to_string(m);
    const int k = std::min(decimals(gen), static_cast<int>(digits.size()));
    std::string token = sign(gen) == 0 ? "-" : sign(gen) == 0 ? "+" : "";
    token += digits.substr(0, digits.size() - static_cast<std::size_t>(k));
    if (k > 0 || i % 3 == 0) token += '.';
    token += digits.substr(digits.size() - static_cast<std::size_t>(k));
    check_token(token, failures);
  }
  // Floats written with 8 significant digits: the tokens of a level table.
  std::uniform_int_distribution<std::uint32_t> bits(0x3f800000U, 0x4b800000U);  // 1 to 2^24
  for (int i = 0; i < 200000; ++i) {
    const float f = std::bit_cast<float>(bits(gen));
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, f, std::chars_format::fixed,
                                 std::max(0, 7 - static_cast<int>(std::log10(f))));
    check_token(std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)), failures);
  }
  // Values of level tables written in exponent form, and exponents around the limits.
  std::uniform_int_distribution<int> exponent(-14, 14);
  for (int i = 0; i < 200000; ++i) {
    const std::uint32_t m = i % 2 == 0 ? below_2_24(gen) : up_to_8_digits(gen);
    std::string digits = std::to_string(m);
    const int k = std::min(decimals(gen), static_cast<int>(digits.size()));
    std::string token = sign(gen) == 0 ? "-" : "";
    token += digits.substr(0, digits.size() - static_cast<std::size_t>(k)) + "." +
             digits.substr(digits.size() - static_cast<std::size_t>(k));
    const int e = exponent(gen);
    token += (i % 3 == 0 ? "d" : "E") + std::string(e < 0 ? "-" : i % 2 ? "+" : "") + std::to_string(std::abs(e));
    check_token(token, failures);
  }
  EXPECT_EQ(failures, 0);
}

TEST(PlainDecimal, OtherTokensAreLeftToTheExactPath) {
  const char* tokens[] = {"",    "+",       "-",         ".",        "-.",     "1.2.3",
                          "1-2", "--1", "1e+", "1e-", "1e5+3", "1e5.0", "1e99", "1e-99",     "1 ",        " 1",       "0x10",   "inf",  "NaN",   "1,",  "123456789",
                          "0.000000001",    "1234567.89", "16777216", "+-1",   ".T.",  "1*2.5"};
  for (const char* t : tokens) {
    float v = 7.0f;
    EXPECT_FALSE(rec::read_plain_decimal(t, v)) << t;
    EXPECT_EQ(v, 7.0f) << t;
  }
  // scan_plain_decimal stops where the plain decimal does.
  const std::string_view text = "-12.5,3";
  float v = 0.0f;
  EXPECT_EQ(rec::scan_plain_decimal(text.data(), text.data() + text.size(), v), text.data() + 5);
  EXPECT_EQ(v, -12.5f);
}

// ---------------------------------------------------------------- Fw.d fields

// Fw.d laid out from the to_chars digits of the magnitude.
std::string reference_fixed(float v, int w, int d) {
  if (!std::isfinite(v) || d >= w) {
    std::string f(static_cast<std::size_t>(w), '#');
    rec::edit_fixed(f.data(), v, w, d);  // infinities, NaN and d >= w are not what this test is about
    return f;
  }
  char buf[512];
  const auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(static_cast<double>(v)), std::chars_format::fixed, d);
  std::string digits(buf, r.ptr);
  if (d == 0) digits += '.';
  std::string s = (v < 0 ? "-" : "") + digits;
  if (static_cast<int>(s.size()) > w && digits.size() > 1 && digits[0] == '0' && digits[1] == '.')
    s.erase(v < 0 ? 1 : 0, 1);  // the zero before the point goes when there is no room for it
  if (static_cast<int>(s.size()) > w) return std::string(static_cast<std::size_t>(w), '*');
  return std::string(static_cast<std::size_t>(w) - s.size(), ' ') + s;
}

std::vector<float> sample_reals() {
  std::mt19937 gen(11);
  std::vector<float> values = {0.0f, -0.0f, -999.0f, 0.0005f, -0.0004f, 0.5f, 2.5f, 99.96f, 9999999.0f, 1.0e8f,
                               1.0e-40f, 150.0625f, 100.1875f, -100.1875f, 4294967.5f, 1.0e15f, 3.0e38f,
                               std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN()};
  std::uniform_real_distribution<float> level(-1200.0f, 1200.0f);
  std::uniform_int_distribution<std::uint32_t> any_bits;
  std::uniform_int_distribution<int> ticks(-4000000, 4000000);
  for (int i = 0; i < 60000; ++i) {
    values.push_back(level(gen));
    values.push_back(std::bit_cast<float>(any_bits(gen)));
    values.push_back(static_cast<float>(ticks(gen)) / 1024.0f);  // exact halves at many decimals
  }
  // Rows of a level table: runs of missing values between readings, a value
  // that comes back after another one, and neighbours that differ only in
  // their sign or in their last bit.
  const float reading = 217.125f;
  const float next_up = std::nextafter(reading, 1000.0f);
  for (const float v : {-999.0f, -999.0f, reading, -999.0f, -999.0f, reading, reading, next_up, reading, -999.0f,
                        0.0f, -0.0f, -0.0f, 0.0f, std::numeric_limits<float>::quiet_NaN(),
                        std::numeric_limits<float>::quiet_NaN(), -999.0f, 1.0e9f, 1.0e9f, -999.0f})
    values.push_back(v);
  return values;
}

TEST(FixedFastPath, FieldsAgreeWithToCharsAndRunsWithSingleFields) {
  struct Desc {
    int w, d;
  };
  const Desc descs[] = {{5, 0}, {5, 1}, {6, 3}, {8, 3}, {9, 3}, {10, 3}, {11, 3}, {12, 3},
                        {12, 2}, {12, 4}, {16, 7}, {10, 0}, {9, 6}, {14, 8}, {4, 3}, {20, 8}};
  const std::vector<float> values = sample_reals();
  int failures = 0;
  for (const Desc& desc : descs) {
    const std::size_t w = static_cast<std::size_t>(desc.w);
    // A run of fields one blank apart, as 9999(1X,Fw.d) makes them.
    const std::size_t step = w + 1;
    std::string run(values.size() * step, ' ');
    rec::edit_fixed_each(run.data() + 1, step, values.data(), 1, values.size(), desc.w, desc.d);
    std::string field(w, '#');
    for (std::size_t k = 0; k < values.size(); ++k) {
      rec::edit_fixed(field.data(), values[k], desc.w, desc.d);
      const std::string want = reference_fixed(values[k], desc.w, desc.d);
      const std::string_view in_run(run.data() + k * step + 1, w);
      if ((field != want || in_run != want || run[k * step] != ' ') && ++failures <= 10) {
        ADD_FAILURE() << "F" << desc.w << '.' << desc.d << " of " << std::hexfloat << values[k] << " ("
                      << std::defaultfloat << values[k] << "): field \"" << field << "\", in a run \"" << in_run
                      << "\", from to_chars \"" << want << '"';
      }
    }
  }
  EXPECT_EQ(failures, 0);
  // A stride of 0 repeats one value.
  const float one = -12.25f;
  std::string twice(24, '#');
  rec::edit_fixed_each(twice.data(), 12, &one, 0, 2, 12, 3);
  EXPECT_EQ(twice, "     -12.250     -12.250");
}

// ---------------------------------------------------------------- runs of reals in the interpreter

// The records of one statement, without line ends.
std::string records(const rec::BoundFormat& f, std::span<const rec::ItemGroup> groups) {
  rec::ItemCursor cursor(groups);
  rec::FormattedWriter writer(f, cursor);
  std::string out;
  while (writer.next_record(out)) out += '|';
  return out;
}

TEST(RealRuns, LayoutsGiveTheSameRecordsAsTheirFieldByFieldForms) {
  // Each layout beside one that means the same but whose group body is no
  // lone real field (a 0X after it), which the interpreter takes one field
  // at a time.
  struct Pair {
    const char* run;
    const char* by_field;
  };
  const Pair layouts[] = {
      {"(20X,9999(F12.3))", "(20X,9999(F12.3,0X))"},
      {"(20X,9999(1X,F11.3))", "(20X,9999(1X,F11.3,0X))"},
      {"(20X,9999(1X,E12.6))", "(20X,9999(1X,E12.6,0X))"},
      {"(I10,<n>F10.3)", "(I10,n(F10.3,0X))"},
      {"(A20,nF12.2)", "(A20,n(F12.2,0X))"},
      {"(3(F8.3))", "(3(F8.3,0X))"},  // reversion: several records
      {"(2X,4(1X,F6.1),'|end')", "(2X,4(1X,F6.1,0X),'|end')"},
  };
  std::mt19937 gen(5);
  std::uniform_real_distribution<float> level(-1000.0f, 1000.0f);
  std::vector<float> row(37);
  for (float& v : row) v = level(gen);
  row[3] = -999.0f;
  row[4] = std::numeric_limits<float>::infinity();
  std::vector<float> tail = {1.5f, -2.25f};
  const float lone = 7.125f;
  const std::int32_t hour = 42;
  const std::string_view name = "   :ColumnLocationX ";
  for (const Pair& p : layouts) {
    for (const int n : {1, 5, 37, 44}) {
      SCOPED_TRACE(std::string(p.run) + " with n = " + std::to_string(n));
      const rec::Format run_format(p.run), field_format(p.by_field);
      const bool named = run_format.name_index("n") >= 0;
      const rec::BoundFormat a = named ? run_format.with("n", n) : rec::BoundFormat(run_format);
      const rec::BoundFormat b = named ? field_format.with("n", n) : rec::BoundFormat(field_format);
      const std::string_view first(p.run);
      // Reals from several groups: a row, a single value and a short row.
      auto groups = [&] { return rec::items(std::span<const float>(row), lone, std::span<const float>(tail)); };
      // A layout that starts with an integer or text field takes one record's
      // worth of reals after it.
      const std::span<const float> fitting = std::span<const float>(row).first(std::min<std::size_t>(n, row.size()));
      if (first.starts_with("(I10")) {
        auto g = rec::items(hour, fitting);
        EXPECT_EQ(records(a, g), records(b, g));
      } else if (first.starts_with("(A20")) {
        auto g = rec::items(name, fitting);
        EXPECT_EQ(records(a, g), records(b, g));
      } else {
        auto g = groups();
        EXPECT_EQ(records(a, g), records(b, g));
      }
    }
  }
}

TEST(RealRuns, RunStopsAtAnItemOfAnotherKind) {
  // The real run ends at the integer; the F edit of an integer is then the
  // same programming error as without the run.
  static const rec::Format f("(9999(1X,F6.2))");
  const std::vector<float> reals = {1.0f, 2.0f};
  const std::int32_t n = 3;
  auto g = rec::items(std::span<const float>(reals), n);
  EXPECT_THROW(records(f, g), std::invalid_argument);
  // Items that end inside a group: no trailing blanks.
  auto h = rec::items(std::span<const float>(reals));
  EXPECT_EQ(records(f, h), "   1.00   2.00");
}

}  // namespace

// Free-form output: the 80-character line, the leading blank, the separator
// between a number and a text, numbers and texts that do not fit.
#include "record/list_output.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "fixed_text.h"
#include "record/items.h"

namespace {

using namespace std::string_literals;

struct Value {
  rec::ItemKind kind;
  std::int32_t i = 0;
  float r = 0.0f;
  std::string t;
};
Value I(std::int32_t v) { return {rec::ItemKind::Integer, v, 0.0f, {}}; }
Value R(float v) { return {rec::ItemKind::Real, 0, v, {}}; }
Value T(std::string v) { return {rec::ItemKind::Text, 0, 0.0f, std::move(v)}; }

std::string list_lines(std::vector<Value> values) {
  std::vector<rec::ItemGroup> g;
  for (Value& v : values) {
    switch (v.kind) {
      case rec::ItemKind::Integer: g.push_back({v.kind, &v.i, 1, 0, 0}); break;
      case rec::ItemKind::Real: g.push_back({v.kind, &v.r, 1, 0, 0}); break;
      case rec::ItemKind::Text: g.push_back({v.kind, v.t.data(), 1, 0, v.t.size()}); break;
    }
  }
  std::string out = "kept|";  // the write appends to what the buffer holds
  rec::list_write(out, rec::ItemCursor(g));
  EXPECT_EQ(out.substr(0, 5), "kept|");
  return out.substr(5);
}

std::string crlf(const std::vector<std::string>& lines) {
  std::string s;
  for (const std::string& l : lines) s += l + "\r\n";
  return s;
}

std::string blanks(std::size_t n) { return std::string(n, ' '); }

// A text of n distinct-looking characters: its k-th character (from 1) tells k.
std::string text(std::size_t n) {
  std::string s;
  for (std::size_t k = 0; k < n; ++k) s += static_cast<char>('a' + k % 26);
  return s;
}

struct Case {
  const char* what;
  std::vector<Value> items;
  std::string expected;
};

TEST(ListOutput, LinesOfTextsAndNumbers) {
  const std::string t60 = text(60), t128 = text(128), t40 = text(40), t80 = text(80);
  const std::string int12 = blanks(11) + "1";
  const std::vector<Case> cases = {
      {"no items: one blank", {}, crlf({" "})},
      {"a text alone", {T(text(17))}, crlf({" " + text(17)})},
      {"trailing blanks and zero bytes unchanged", {T("ab    "), T("\0\0"s)}, crlf({" ab    \0\0"s})},
      {"a text then an integer", {T("12345678"), I(12)}, crlf({" 12345678" + blanks(10) + "12"})},
      {"an integer then a text: one blank", {I(5), T("abc")}, crlf({blanks(11) + "5 abc"})},
      {"a text then a real: no blank", {T("x="), R(1.0f)}, crlf({" x=   1.000000    "})},
      {"a real then a text: one blank", {R(-1.0f), T("m")}, crlf({"  -1.000000     m"})},
      {"texts are joined", {T("ab"), T("cd"), T("ef")}, crlf({" abcdef"})},
      {"numbers supply their own blanks", {I(-7), I(2147483647), R(0.0f)},
       crlf({blanks(10) + "-7  2147483647  0.0000000E+00"})},
      {"opened, 1 and 60 characters wrap the last character",
       {T("opened "), I(1), T(t60)},
       crlf({" opened " + int12 + " " + t60.substr(0, 59), " " + t60.substr(59)})},
      {"128 characters alone: blank and 79, blank and 49", {T(t128)},
       crlf({" " + t128.substr(0, 79), " " + t128.substr(79)})},
      {"80 characters alone", {T(t80)}, crlf({" " + t80.substr(0, 79), " " + t80.substr(79)})},
      {"79 characters alone fill the line", {T(text(79))}, crlf({" " + text(79)})},
      {"a long text after a text goes to a new line",
       {T("Problems opening "), T(t128)},
       crlf({" Problems opening ", " " + t128.substr(0, 79), " " + t128.substr(79)})},
      {"a text after a text that does not fit goes to a new line",
       {T(text(50)), T(t40)}, crlf({" " + text(50), " " + t40})},
      {"a text after a text that fits exactly", {T(text(50)), T(text(29))},
       crlf({" " + text(50) + text(29)})},
      {"unit and file name on one line",
       {T("Opened unit="), I(99), T(" filename="), T(t40)},
       crlf({" Opened unit=" + blanks(10) + "99  filename=" + t40})},
      {"a text that fits only without the separator is cut after it",
       {I(1), I(2), I(3), I(4), I(5), T(text(20))},
       crlf({int12 + blanks(11) + "2" + blanks(11) + "3" + blanks(11) + "4" + blanks(11) + "5 " +
                 text(19),
             " " + text(20).substr(19)})},
      {"a text that does not fit after numbers starts a new line",
       {I(1), I(2), I(3), I(4), I(5), I(6), T(text(10))},
       crlf({int12 + blanks(11) + "2" + blanks(11) + "3" + blanks(11) + "4" + blanks(11) + "5" +
                 blanks(11) + "6 ",
             " " + text(10)})},
      {"a text on a full line after a number", {T(text(67)), I(1), T("z")},
       crlf({" " + text(67) + int12, " z"})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(list_lines(c.items), c.expected);
  }
}

TEST(ListOutput, NumbersThatDoNotFitStartANewLine) {
  const std::string one = blanks(11) + "1";
  const std::string real = "   1.000000    ";
  std::vector<Value> seven(7, I(1));
  std::vector<Value> six_reals(6, R(1.0f));
  const std::vector<Case> cases = {
      {"six integers fill 72, the seventh goes on", seven,
       crlf({one + one + one + one + one + one, one})},
      {"five reals fill 75, the sixth goes on", six_reals, crlf({real + real + real + real + real, real})},
      {"an integer that exactly fits", {T(text(67)), I(1)}, crlf({" " + text(67) + one})},
      {"an integer one character short", {T(text(68)), I(1)}, crlf({" " + text(68), one})},
      {"a real that exactly fits", {T(text(64)), R(1.0f)}, crlf({" " + text(64) + real})},
      {"a real one character short", {T(text(65)), R(1.0f)}, crlf({" " + text(65), real})},
      {"a number at the start of a line has no leading blank", {T(text(79)), I(1), T("x")},
       crlf({" " + text(79), one + " x"})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(list_lines(c.items), c.expected);
  }
}

TEST(ListOutput, ArraysAndTextVariablesAsItems) {
  std::vector<float> row = {1.0f, 0.5f, -999.0f};
  std::vector<std::int32_t> counts = {1, 22};
  tarvello::Text<12> key;  // zero bytes: written unchanged
  std::string out;
  auto g = rec::items("key", key, std::span<const float>(row), std::span<std::int32_t>(counts));
  rec::list_write(out, rec::ItemCursor(g));
  EXPECT_EQ(out, crlf({" key" + std::string(12, '\0') + "   1.000000      0.5000000      -999.0000    " +
                           blanks(11) + "1",
                       blanks(10) + "22"}));
}

}  // namespace

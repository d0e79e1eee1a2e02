// Fixed-format records: layout parsing, the output interpreter (fields,
// literals, positioning, repeat counts, reversion, named counts) and
// fixed-format input, on strings and on text variables.
#include "record/format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fixed_text.h"
#include "record/items.h"
#include "record/run_end.h"
#include "record/status.h"
#include "record/statements.h"

namespace {

using namespace std::string_literals;

// One item of a table case: an integer, a real or a text of a fixed length.
struct Value {
  rec::ItemKind kind;
  std::int32_t i = 0;
  float r = 0.0f;
  std::string t;
};
Value I(std::int32_t v) { return {rec::ItemKind::Integer, v, 0.0f, {}}; }
Value R(float v) { return {rec::ItemKind::Real, 0, v, {}}; }
Value T(std::string v) { return {rec::ItemKind::Text, 0, 0.0f, std::move(v)}; }

std::vector<rec::ItemGroup> groups_of(std::vector<Value>& values) {
  std::vector<rec::ItemGroup> g;
  for (Value& v : values) {
    switch (v.kind) {
      case rec::ItemKind::Integer: g.push_back({v.kind, &v.i, 1, 0, 0}); break;
      case rec::ItemKind::Real: g.push_back({v.kind, &v.r, 1, 0, 0}); break;
      case rec::ItemKind::Text: g.push_back({v.kind, v.t.data(), 1, 0, v.t.size()}); break;
    }
  }
  return g;
}

// The records of one output statement, each followed by CR LF as on a unit.
std::string write_records(const rec::BoundFormat& f, std::span<const rec::ItemGroup> groups) {
  rec::ItemCursor cursor(groups);
  rec::FormattedWriter writer(f, cursor);
  std::string out;
  bool more = true;
  while (more) {
    more = writer.next_record(out);
    out += "\r\n";
  }
  return out;
}

template <class... A>
std::string write_args(const rec::BoundFormat& f, A&&... args) {
  auto g = rec::items(std::forward<A>(args)...);
  return write_records(f, g);
}

std::string crlf(const std::vector<std::string>& lines) {
  std::string s;
  for (const std::string& l : lines) s += l + "\r\n";
  return s;
}

std::string blanks(std::size_t n) { return std::string(n, ' '); }

struct Binding {
  const char* name;
  int value;
};

struct OutputCase {
  const char* layout;
  std::vector<Binding> counts;
  std::vector<Value> items;
  std::string expected;  // whole records with their CR LF
};

rec::BoundFormat bound(const rec::Format& f, const std::vector<Binding>& counts) {
  rec::BoundFormat b(f);
  for (const Binding& c : counts) b = b.with(c.name, c.value);
  return b;
}

TEST(FormatOutput, RecordEndsAtLiteralsPositionsAndFields) {
  const std::string date = "(A20,I4.4,'/',I2.2,'/',I2.2,'  ',I2.2,':00:00')";
  const std::vector<OutputCase> cases = {
      // All items used: the literals after the last field run to the closing parenthesis.
      {date.c_str(), {}, {T(":StartDate          "), I(2024), I(1), I(1), I(0)},
       crlf({":StartDate          2024/01/01  00:00:00"})},
      {date.c_str(), {}, {T(":StartDate          "), I(0), I(0), I(0), I(0)},
       crlf({":StartDate          0000/00/00  00:00:00"})},
      // The record ends at the first field without an item; the literal before it is written.
      {date.c_str(), {}, {T(":StartDate          "), I(2024), I(3), I(3)},
       crlf({":StartDate          2024/03/03  "})},
      {date.c_str(), {}, {T(":StartDate          "), I(2024)}, crlf({":StartDate          2024/"})},
      {date.c_str(), {}, {}, crlf({""})},
      // nX adds nothing at the end of a record, blanks only before a later character.
      {"(A20,A10,2X,A10)", {}, {T("a"), T("b")}, crlf({blanks(19) + "a" + blanks(9) + "b"})},
      {"(A2,3X,A2)", {}, {T("ab"), T("cd")}, crlf({"ab   cd"})},
      {"(3X,'x',2X)", {}, {}, crlf({"   x"})},
      {"(4X,I3)", {}, {I(-7)}, crlf({"     -7"})},
      // Literals with doubled apostrophes.
      {"('it''s',A3)", {}, {T("abc")}, crlf({"it'sabc"})},
      {"('''',A1,'''')", {}, {T("q")}, crlf({"'q'"})},
      {"('a, (b)')", {}, {}, crlf({"a, (b)"})},
      // Aw wider and narrower than the text, A without a width, zero bytes unchanged.
      {"(A6)", {}, {T("abc")}, crlf({"   abc"})},
      {"(A2)", {}, {T("abc")}, crlf({"ab"})},
      {"(A3)", {}, {T("abc")}, crlf({"abc"})},
      {"(A,'|')", {}, {T("ab   ")}, crlf({"ab   |"})},
      {"(A6,'|')", {}, {T("\0\0\0"s)}, crlf({"   \0\0\0|"s})},
      {"(A2,'|')", {}, {T("\0\0\0"s)}, crlf({"\0\0|"s})},
      // Numbers in their fields.
      {"(I10)", {}, {I(0)}, crlf({blanks(9) + "0"})},
      {"(I4,I4.4,I2.2)", {}, {I(12345), I(24), I(-1)}, crlf({"****0024**"})},
      {"(F12.3,F5.0)", {}, {R(100.0625f), R(2.5f)}, crlf({"     100.062   2."})},
      {"(E12.6,E10.3)", {}, {R(-999.0f), R(-999.0f)}, crlf({"-.999000E+03-0.999E+03"})},
      // Repeat counts on fields and groups.
      {"(3I2)", {}, {I(1), I(2), I(3)}, crlf({" 1 2 3"})},
      {"(A1,2(1X,I1))", {}, {T("a"), I(1), I(2)}, crlf({"a 1 2"})},
      {"(2(I1,2(1X,I1)))", {}, {I(1), I(2), I(3), I(4), I(5), I(6)}, crlf({"1 2 34 5 6"})},
  };
  for (const OutputCase& c : cases) {
    SCOPED_TRACE(c.layout);
    rec::Format f(c.layout);
    std::vector<Value> values = c.items;
    std::vector<rec::ItemGroup> g = groups_of(values);
    EXPECT_EQ(write_records(bound(f, c.counts), g), c.expected);
  }
}

TEST(FormatOutput, ReversionToTheLastTopLevelGroupOrTheStart) {
  const std::vector<OutputCase> cases = {
      // No group: the layout starts again from its beginning.
      {"(I2,I3)", {}, {I(1), I(2), I(3), I(4), I(5)}, crlf({" 1  2", " 3  4", " 5"})},
      {"('<',I1,'>')", {}, {I(1), I(2)}, crlf({"<1>", "<2>"})},
      // The last group of the outer list, with its own count, and what follows it.
      {"(A2,2(I2),I3)", {}, {T("ab"), I(1), I(2), I(3), I(4), I(5), I(6)},
       crlf({"ab 1 2  3", " 4 5  6"})},
      {"(A1,2(I2),3(I1))", {}, {T("x"), I(1), I(2), I(3), I(4), I(5), I(6), I(7)},
       crlf({"x 1 2345", "67"})},
      // A nested group is not where the layout starts again.
      {"('h',1(I1,2('-',I1)))", {}, {I(1), I(2), I(3), I(4), I(5)}, crlf({"h1-2-3", "4-5-"})},
      // A named count on the group is taken again on each further record.
      {"(A1,n(1X,I1))", {{"n", 2}}, {T("a"), I(1), I(2), I(3), I(4), I(5)},
       crlf({"a 1 2", " 3 4", " 5"})},
  };
  for (const OutputCase& c : cases) {
    SCOPED_TRACE(c.layout);
    rec::Format f(c.layout);
    std::vector<Value> values = c.items;
    std::vector<rec::ItemGroup> g = groups_of(values);
    EXPECT_EQ(write_records(bound(f, c.counts), g), c.expected);
  }
}

TEST(FormatOutput, NineTextsPerLineGiveElevenLinesForNinetyNine) {
  static const rec::Format f("(9A12)");
  std::vector<tarvello::Text<12>> names(99);
  for (std::size_t k = 0; k < names.size(); ++k) names[k] = "N" + std::to_string(k + 1);
  std::string out = write_args(f, std::span<const tarvello::Text<12>>(names));
  std::string expected;
  for (std::size_t line = 0; line < 11; ++line) {
    for (std::size_t k = 0; k < 9; ++k) expected += names[line * 9 + k].view();
    expected += "\r\n";
  }
  EXPECT_EQ(out, expected);
}

TEST(FormatOutput, GroupOfNineThousandRepeatsGoesOnWithoutTheLeadingPositions) {
  static const rec::Format f("(20X,9999(1X,F11.3))");
  std::vector<float> values(10000, -999.0f);
  values[0] = 1.5f;
  values[9999] = 2.25f;
  std::string out = write_args(f, std::span<const float>(values));
  std::string expected_first = blanks(20);
  expected_first += "       1.500";
  for (int k = 1; k < 9999; ++k) expected_first += "    -999.000";
  ASSERT_EQ(expected_first.size(), 20u + 9999u * 12u);
  EXPECT_EQ(out, expected_first + "\r\n" + "       2.250\r\n");
}

TEST(FormatOutput, NamedCountOfZeroWithAnEmptyLoopEndsTheRecord) {
  static const rec::Format names("(A23,n(A9,3X))");
  static const rec::Format values("(I10,<n>F10.3)");
  static const rec::Format plain("(A4,nF12.2)");
  tarvello::Text<23> head(":ColumnName");
  std::vector<tarvello::Text<9>> none;
  std::vector<tarvello::Text<9>> two = {tarvello::Text<9>("abc"), tarvello::Text<9>("defghijkl")};
  std::vector<float> no_values;
  std::vector<float> three = {1.0f, -2.5f, 0.125f};
  std::int32_t hour = 7;

  EXPECT_EQ(write_args(names.with("n", 0), head, std::span<const tarvello::Text<9>>(none)),
            crlf({std::string(head.view())}));
  EXPECT_EQ(write_args(names.with("n", -3), head, std::span<const tarvello::Text<9>>(none)),
            crlf({std::string(head.view())}));
  // The group's last 3X adds nothing at the end of the record.
  EXPECT_EQ(write_args(names.with("n", 2), head, std::span<const tarvello::Text<9>>(two)),
            crlf({std::string(head.view()) + std::string(two[0].view()) + "   " + std::string(two[1].view())}));
  EXPECT_EQ(write_args(values.with("n", 0), hour, std::span<const float>(no_values)),
            crlf({blanks(9) + "7"}));
  EXPECT_EQ(write_args(values.with("n", 3), hour, std::span<const float>(three)),
            crlf({blanks(9) + "7     1.000    -2.500     0.125"}));
  EXPECT_EQ(write_args(plain.with("n", 3), "abcd", std::span<const float>(three)),
            crlf({"abcd        1.00       -2.50        0.12"}));
  EXPECT_EQ(write_args(plain.with("n", 0), "abcd", std::span<const float>(no_values)), crlf({"abcd"}));
}

TEST(FormatOutput, CountBelowOneWithItemsLeftIsFailure68) {
  const std::vector<OutputCase> cases = {
      {"(A3,n(A2,3X))", {{"n", 0}}, {T("abc"), T("de")}, ""},
      {"(A3,n(A2,3X))", {{"n", -1}}, {T("abc"), T("de")}, ""},
      {"(I10,<n>F10.3)", {{"n", 0}}, {I(1), R(2.0f)}, ""},
      {"(I10,<n>F10.3)", {{"n", -2}}, {I(1), R(2.0f)}, ""},
      {"(I2,nI3)", {{"n", 0}}, {I(1), I(2)}, ""},
  };
  for (const OutputCase& c : cases) {
    SCOPED_TRACE(c.layout);
    rec::Format f(c.layout);
    std::vector<Value> values = c.items;
    std::vector<rec::ItemGroup> g = groups_of(values);
    try {
      write_records(bound(f, c.counts), g);
      ADD_FAILURE() << "no failure";
    } catch (const rec::TransferFailure& failure) {
      EXPECT_EQ(failure.number, 68);
    }
  }
}

TEST(FormatParse, MalformedLayoutsAndUnknownNamesAreRejected) {
  const char* bad[] = {"A20",     "(A20",     "(A20))",   "(Q5)",     "(X)",      "(nX)",
                       "('abc)",  "(A20 I4)", "(I)",      "(F.3)",    "(E)",      "(3)",
                       "(<n F5.1)", "(<>I2)", "(2(I1)",   "(A1,,A1)"};
  for (const char* layout : bad) {
    SCOPED_TRACE(layout);
    EXPECT_THROW(rec::Format{layout}, std::invalid_argument);
  }
  rec::Format f("(A23,n(A9,3X))");
  EXPECT_THROW(f.with("m", 1), std::invalid_argument);
  EXPECT_NO_THROW(rec::Format(" ( A2 , 3X , 'a b' ) "));
}

TEST(FormatOutput, LayoutWithoutFieldsAndItemsLeftIsRejectedInsteadOfLooping) {
  static const rec::Format f("('abc',2X)");
  std::int32_t v = 1;
  EXPECT_THROW(write_args(f, v), std::invalid_argument);
}

// ---------------------------------------------------------------------------
// Fixed-format input of one record.

struct InputCase {
  const char* layout;
  std::string record;
  std::vector<Value> items;  // initial values
  int status;
  std::vector<Value> expected;
  bool more;  // the items want a further record
};

bool same(const Value& a, const Value& b) {
  return a.kind == b.kind && a.i == b.i && a.t == b.t &&
         (a.kind != rec::ItemKind::Real || a.r == b.r);
}

std::string show(const std::vector<Value>& v) {
  std::string s;
  for (const Value& x : v) {
    if (x.kind == rec::ItemKind::Integer) s += std::to_string(x.i);
    else if (x.kind == rec::ItemKind::Real) s += std::to_string(x.r);
    else s += "[" + x.t + "]";
    s += ' ';
  }
  return s;
}

TEST(FormatInput, FieldsOfOneRecord) {
  const std::vector<InputCase> cases = {
      // A short record reads as if padded with blanks.
      {"(A12,A60)", "hourly", {T(std::string(12, 'x')), T(std::string(60, 'y'))}, 0,
       {T("hourly" + blanks(6)), T(blanks(60))}, false},
      {"(A12,A60)", "", {T(std::string(12, 'x')), T(std::string(60, 'y'))}, 0,
       {T(blanks(12)), T(blanks(60))}, false},
      {"(A12,A60)", "0123456789ABlevel file.tb0", {T(""s + std::string(12, 'x')), T(std::string(60, 'y'))}, 0,
       {T("0123456789AB"), T("level file.tb0" + blanks(46))}, false},
      // A field narrower than the variable is padded; a wider one keeps its last characters.
      {"(A2)", "abcdef", {T("wxyz")}, 0, {T("ab  ")}, false},
      {"(A6)", "abcdef", {T("wxyz")}, 0, {T("cdef")}, false},
      {"(A6)", "abc", {T("wxyz")}, 0, {T("c   ")}, false},
      {"(A)", "abcdef", {T("wxyz")}, 0, {T("abcd")}, false},
      {"(A2048)", "a\tb\0c"s, {T(std::string(4, 'x'))}, 0, {T(std::string(4, ' '))}, false},
      {"(A4)", "a\tb\0c"s, {T(std::string(4, 'x'))}, 0, {T("a\tb\0"s)}, false},
      // Positions and literals move over characters.
      {"(2X,A2,'..',A1)", "abcdefg", {T("??"), T("?")}, 0, {T("cd"), T("g")}, false},
      // Iw: blanks ignored, a blank field or a lone sign is 0.
      {"(I4)", "2024", {I(-5)}, 0, {I(2024)}, false},
      {"(I4)", "  12", {I(-5)}, 0, {I(12)}, false},
      {"(I4)", "12", {I(-5)}, 0, {I(12)}, false},
      {"(I4)", "1 2 ", {I(-5)}, 0, {I(12)}, false},
      {"(I4)", "-  5", {I(-5)}, 0, {I(-5)}, false},
      {"(I4)", "+7", {I(-5)}, 0, {I(7)}, false},
      {"(I4)", "    ", {I(-5)}, 0, {I(0)}, false},
      {"(I4)", "", {I(-5)}, 0, {I(0)}, false},
      {"(I4)", " -  ", {I(-5)}, 0, {I(0)}, false},
      {"(I4)", "123456", {I(-5)}, 0, {I(1234)}, false},
      {"(I11)", "-2147483648", {I(-5)}, 0, {I(-2147483647 - 1)}, false},
      {"(2I2,I3)", " 1-2+30", {I(0), I(0), I(0)}, 0, {I(1), I(-2), I(30)}, false},
      // Anything else in an Iw field is failure 64; the items after it are not reached.
      {"(I4)", "12.5", {I(-5)}, 64, {I(-5)}, false},
      {"(I4)", "1-2", {I(-5)}, 64, {I(-5)}, false},
      {"(I4)", "--1", {I(-5)}, 64, {I(-5)}, false},
      {"(I4)", "ab", {I(-5)}, 64, {I(-5)}, false},
      {"(I11)", "99999999999", {I(-5)}, 64, {I(-5)}, false},
      {"(I11)", "2147483648", {I(-5)}, 64, {I(-5)}, false},
      {"(I2,I2,I2)", " 1xx 3", {I(9), I(9), I(9)}, 64, {I(1), I(9), I(9)}, false},
      // More items than the layout takes in one record.
      {"(I2)", " 1 2", {I(9), I(9)}, 0, {I(1), I(9)}, true},
  };
  for (const InputCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.layout << " of '" << c.record << "'");
    rec::Format f(c.layout);
    std::vector<Value> values = c.items;
    std::vector<rec::ItemGroup> g = groups_of(values);
    rec::ItemCursor cursor(g);
    rec::BoundFormat b(f);
    rec::FormattedReader reader(b, cursor);
    int status = -99;
    bool more = reader.next_record(c.record, status);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(more, c.more);
    ASSERT_EQ(values.size(), c.expected.size());
    bool all = true;
    for (std::size_t k = 0; k < values.size(); ++k) all = all && same(values[k], c.expected[k]);
    EXPECT_TRUE(all) << "got " << show(values) << "expected " << show(c.expected);
  }
}

// ---------------------------------------------------------------------------
// Transfers on text variables.

TEST(InternalTransfer, WriteFillsTheVariableWithBlanks) {
  static const rec::Format f("(I4,A13)");
  tarvello::Text<256> name;  // zero bytes until written
  std::int32_t year = 24;
  rec::write_internal(name.ref(), f, year, "_Orvistad.cfg");
  EXPECT_EQ(name.view(), "  24_Orvistad.cfg" + blanks(256 - 17));

  year = 2024;
  rec::write_internal(name.ref(), f, year, "_Orvistad.cfg");
  EXPECT_EQ(name.view(), "2024_Orvistad.cfg" + blanks(256 - 17));

  // A record longer than the variable keeps its first characters.
  tarvello::Text<6> small("zzzzzz");
  rec::write_internal(small.ref(), f, year, "_Orvistad.cfg");
  EXPECT_EQ(small.view(), "2024_O");

  // A part of a variable: only those positions change.
  tarvello::Text<10> line("abcdefghij");
  static const rec::Format two("(I2)");
  std::int32_t seven = 7;
  rec::write_internal(line.sub_ref(3, 6), two, seven);
  EXPECT_EQ(line.view(), "ab 7  ghij");
}

rec::RunEnd ending_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const rec::RunEnd& e) {
    return e;
  }
  ADD_FAILURE() << "the run did not end";
  return {};
}

TEST(InternalTransfer, FixedReadsAndTheirFailures) {
  static const rec::Format i4("(I4)");
  static const rec::Format two("(2I2)");
  std::int32_t year = 0;
  rec::read_internal("2024garbage", i4, year);
  EXPECT_EQ(year, 2024);
  rec::read_internal("24", i4, year);
  EXPECT_EQ(year, 24);

  std::int32_t a = 0, b = 0;
  rec::read_internal(" 1 2", two, a, b);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 2);

  rec::RunEnd bad = ending_of([&] { rec::read_internal("20x4", i4, year); });
  EXPECT_EQ(bad.exit_status, 64);
  EXPECT_EQ(bad.message.rfind("forrtl: severe (64): input conversion error, unit ", 0), 0u) << bad.message;
  EXPECT_EQ(year, 24);

  // A text variable holds one record: a layout wanting a second one meets its end.
  rec::RunEnd end = ending_of([&] { rec::read_internal("   1", i4, a, b); });
  EXPECT_EQ(end.exit_status, 24);
  EXPECT_EQ(end.message.rfind("forrtl: severe (24): end-of-file during read, unit ", 0), 0u) << end.message;
  EXPECT_EQ(a, 1);
}

TEST(InternalTransfer, CountFailureInAWriteEndsTheRun) {
  static const rec::Format f("(I2,nI3)");
  tarvello::Text<8> t;
  std::int32_t a = 1, b = 2;
  rec::RunEnd e = ending_of([&] { rec::write_internal(t.ref(), f.with("n", 0), a, b); });
  EXPECT_EQ(e.exit_status, 68);
  EXPECT_EQ(e.message.rfind("forrtl: severe (68): variable format expression value error, unit ", 0), 0u)
      << e.message;
}

}  // namespace

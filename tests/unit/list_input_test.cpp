// Free-form input: separators, record ends, null values, repeats, quoted and
// unquoted text, the end of the file, and reads from text variables. Record
// endings in files (CR LF, LF, a last line without LF) are read through a unit.
#include "record/list_input.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fixed_text.h"
#include "record/items.h"
#include "record/statements.h"

namespace {

using namespace std::string_literals;

// The records of a file, handed out one by one; counts what the reads take.
class Records : public rec::RecordSource {
 public:
  explicit Records(std::vector<std::string> records) : records_(std::move(records)) {}
  bool next(std::string_view& record) override {
    if (taken_ == records_.size()) return false;
    record = records_[taken_++];
    return true;
  }
  std::size_t taken() const { return taken_; }

 private:
  std::vector<std::string> records_;
  std::size_t taken_ = 0;
};

struct Value {
  rec::ItemKind kind;
  std::int32_t i = 0;
  float r = 0.0f;
  std::string t;
  friend bool operator==(const Value& a, const Value& b) {
    return a.kind == b.kind && a.i == b.i && a.t == b.t &&
           (a.kind != rec::ItemKind::Real || a.r == b.r || (std::isnan(a.r) && std::isnan(b.r)));
  }
  friend std::ostream& operator<<(std::ostream& o, const Value& v) {
    if (v.kind == rec::ItemKind::Integer) return o << v.i;
    if (v.kind == rec::ItemKind::Real) return o << v.r << 'f';
    return o << '[' << v.t << ']';
  }
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

struct Case {
  const char* what;
  std::vector<std::string> records;
  std::vector<Value> items;  // initial values
  int status;
  std::vector<Value> expected;
  std::size_t records_taken;
};

void run_cases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Records source(c.records);
    std::vector<Value> values = c.items;
    std::vector<rec::ItemGroup> g = groups_of(values);
    EXPECT_EQ(rec::list_read(source, rec::ListSource::External, rec::ItemCursor(g)), c.status);
    EXPECT_EQ(values, c.expected);
    EXPECT_EQ(source.taken(), c.records_taken);
  }
}

TEST(ListInput, SeparatorsAndRecordEnds) {
  run_cases({
      {"blanks", {"1 2   3"}, {I(0), I(0), I(0)}, 0, {I(1), I(2), I(3)}, 1},
      {"tabs", {"\t1\t2 \t 3\t"}, {I(0), I(0), I(0)}, 0, {I(1), I(2), I(3)}, 1},
      {"commas with and without blanks", {"1,2 , 3"}, {I(0), I(0), I(0)}, 0, {I(1), I(2), I(3)}, 1},
      {"comma and tab", {"1\t,\t2"}, {I(0), I(0)}, 0, {I(1), I(2)}, 1},
      {"record ends", {"1", "2", "3"}, {I(0), I(0), I(0)}, 0, {I(1), I(2), I(3)}, 3},
      {"blank records are passed over", {"1", "", "   ", "\t", "2"}, {I(0), I(0)}, 0, {I(1), I(2)}, 5},
      {"a comma at a record's end then the next value", {"1,", "2"}, {I(0), I(0)}, 0, {I(1), I(2)}, 2},
      {"the rest of the last record is ignored", {"1 2 3", "4"}, {I(0)}, 0, {I(1)}, 1},
      {"text and numbers mixed", {"KEY1  -2.5"}, {T("????????"), R(0.0f)}, 0, {T("KEY1    "), R(-2.5f)}, 1},
      {"text with signs, digits and colons", {"12:00 +5-x a/b"}, {T("......"), T("......"), T("......")}, 0,
       {T("12:00 "), T("+5-x  "), T("a     ")}, 1},
      // A token that repeats the one before it, and tokens that only begin like it.
      {"repeated and nearly repeated reals", {"-999.000 -999.000 -999.0001 -999.000,-999.00 -999.000"},
       {R(0.0f), R(0.0f), R(0.0f), R(0.0f), R(0.0f), R(0.0f)}, 0,
       {R(-999.0f), R(-999.0f), R(-999.0001f), R(-999.0f), R(-999.0f), R(-999.0f)}, 1},
      {"a repeated real with a letter after it", {"12.5 12.5x"}, {R(0.0f), R(7.0f)}, 59, {R(12.5f), R(7.0f)}, 1},
      {"a repeated real at the end of the record, then a slash", {"2.25 2.25", "/"}, {R(0.0f), R(0.0f), R(1.0f)},
       0, {R(2.25f), R(2.25f), R(1.0f)}, 2},
      {"exponent forms", {"-9.990E+02 1.5d-2 25Q1 1e 1.e1"}, {R(0), R(0), R(0), R(0), R(0)}, 0,
       {R(-999.0f), R(0.015f), R(250.0f), R(1.0f), R(10.0f)}, 1},
  });
}

TEST(ListInput, SlashNullValuesAndRepeats) {
  run_cases({
      {"a slash ends the read", {"1 / 5"}, {I(7), I(8), I(9)}, 0, {I(1), I(8), I(9)}, 1},
      {"a slash right after a value", {"1/5", "6"}, {I(7), I(8)}, 0, {I(1), I(8)}, 1},
      {"a slash at the start", {"/"}, {I(7)}, 0, {I(7)}, 1},
      {"a slash on a later record", {"1", "/", "3"}, {I(7), I(8)}, 0, {I(1), I(8)}, 2},
      {"nothing between two commas", {"1,,3"}, {I(7), I(8), I(9)}, 0, {I(1), I(8), I(3)}, 1},
      {"blanks between two commas", {"1, \t ,3"}, {I(7), I(8), I(9)}, 0, {I(1), I(8), I(3)}, 1},
      {"a comma before the first value", {",2"}, {I(7), I(8)}, 0, {I(7), I(2)}, 1},
      {"blanks and a comma before the first value", {"  ,2"}, {I(7), I(8)}, 0, {I(7), I(2)}, 1},
      {"two commas before the first value", {",,3"}, {I(7), I(8), I(9)}, 0, {I(7), I(8), I(3)}, 1},
      {"a null value at the end of a record", {"1,,", "3"}, {I(7), I(8), I(9)}, 0, {I(1), I(8), I(3)}, 2},
      {"null values for texts", {",'b'"}, {T("xx"), T("yy")}, 0, {T("xx"), T("b ")}, 1},
      {"r* stands for r null values", {"2* 3"}, {I(7), I(8), I(9)}, 0, {I(7), I(8), I(3)}, 1},
      {"r* then a comma", {"2*,3"}, {I(7), I(8), I(9)}, 0, {I(7), I(8), I(3)}, 1},
      {"r* at the end of a record", {"2*", "3"}, {I(7), I(8), I(9)}, 0, {I(7), I(8), I(3)}, 2},
      {"r* fills every item left", {"5*"}, {I(7), I(8)}, 0, {I(7), I(8)}, 1},
      {"r*c gives r copies", {"3*1.5 2"}, {R(0), R(0), R(0), R(0)}, 0, {R(1.5f), R(1.5f), R(1.5f), R(2.0f)}, 1},
      {"r*c for integers", {"2*-4,9"}, {I(0), I(0), I(0)}, 0, {I(-4), I(-4), I(9)}, 1},
      {"r*c for quoted text", {"2*'a b'"}, {T("...."), T("....")}, 0, {T("a b "), T("a b ")}, 1},
      {"r*c for unquoted text", {"2*ab"}, {T("...."), T("....")}, 0, {T("ab  "), T("ab  ")}, 1},
      {"r*c beyond the items", {"4*7"}, {I(0), I(0)}, 0, {I(7), I(7)}, 1},
      {"0* is no repeat", {"0*5"}, {I(1)}, 59, {I(1)}, 1},
      {"a leading asterisk is no repeat", {"*5"}, {I(1)}, 59, {I(1)}, 1},
      {"r* in a text item", {"2*x y"}, {T("."), T("."), T(".")}, 0, {T("x"), T("x"), T("y")}, 1},
  });
}

TEST(ListInput, QuotedAndUnquotedText) {
  const std::string a2049(2049, 'a');
  const std::string a2050(2050, 'a');
  // 2049 characters once the doubled apostrophes are undone (2050 as written).
  const std::string q2049 = "'" + std::string(2048, 'q') + "''" + "'";
  const std::string q2050 = "'" + std::string(2049, 'q') + "''" + "'";
  run_cases({
      {"apostrophes", {"'ab c'"}, {T("......")}, 0, {T("ab c  ")}, 1},
      {"quotation marks", {"\"ab,c\""}, {T("......")}, 0, {T("ab,c  ")}, 1},
      {"doubled quote characters", {"'it''s' \"say \"\"hi\"\"\""}, {T("......"), T("..........")}, 0,
       {T("it's  "), T("say \"hi\"  ")}, 1},
      {"the other quote character is plain", {"'a\"b' \"c'd\""}, {T("...."), T("....")}, 0,
       {T("a\"b "), T("c'd ")}, 1},
      {"an empty quoted value", {"'' x"}, {T("...."), T("....")}, 0, {T("    "), T("x   ")}, 1},
      {"a quoted value across a record end", {"'abc", "def' 5"}, {T("........"), I(0)}, 0,
       {T("abcdef  "), I(5)}, 2},
      {"a doubled quote across a record end is two quotes", {"'ab'", "'cd'"}, {T("...."), T("....")}, 0,
       {T("ab  "), T("cd  ")}, 2},
      {"characters after the closing quote are passed over", {"'ab'cd,5"}, {T("...."), I(0)}, 0,
       {T("ab  "), I(5)}, 1},
      {"quotes after the first character of an unquoted value", {"it's ab\"c"}, {T("...."), T("....")}, 0,
       {T("it's"), T("ab\"c")}, 1},
      {"an unquoted value ends at a slash", {"ab/cd"}, {T("...."), T("....")}, 0, {T("ab  "), T("....")}, 1},
      {"a value cut to the item's length", {"abcdef 'ghijkl'"}, {T("..."), T("...")}, 0, {T("abc"), T("ghi")}, 1},
      {"a quoted number for an integer item", {"'12'"}, {I(3)}, 64, {I(3)}, 1},
      // For a number item a quote starts a token like any other: it ends at
      // the next separator or slash, in its own record.
      {"an unclosed quote for a real item", {"\"12.5 6.0", "7.0"}, {R(1.0f), R(2.0f)}, 64, {R(1.0f), R(2.0f)}, 1},
      {"an unclosed quote for the last value of the file", {"5.0 '12.5"}, {R(1.0f), R(2.0f)}, 64,
       {R(5.0f), R(2.0f)}, 1},
      {"a quoted real after text", {"d 'x,y' 1.5"}, {T("."), R(0.0f), R(0.0f)}, 64, {T("d"), R(0.0f), R(0.0f)}, 1},
      {"repeated quoted numbers", {"2*'7'"}, {I(1), I(2)}, 64, {I(1), I(2)}, 1},
      {"an unclosed quote at the end of the file", {"'abc", "def"}, {T("....")}, -1, {T("....")}, 2},
      {"2049 characters are accepted", {a2049}, {T("..")}, 0, {T("aa")}, 1},
      {"2050 characters are failure 59", {a2050 + " b"}, {T(".."), T("..")}, 59, {T(".."), T("..")}, 1},
      {"2050 quoted characters are failure 59", {"'" + a2050 + "'"}, {T("..")}, 59, {T("..")}, 1},
      {"the limit counts doubled quotes once", {q2049}, {T("..")}, 0, {T("qq")}, 1},
      {"the limit counts doubled quotes once, beyond it", {q2050}, {T("..")}, 59, {T("..")}, 1},
  });
}

TEST(ListInput, FailuresAndTheEndOfTheFile) {
  run_cases({
      {"a syntax error leaves the item and stops the read", {"1 x 3"}, {I(7), I(8), I(9)}, 59,
       {I(1), I(8), I(9)}, 1},
      {"a conversion error sets the item to 0 and stops", {"1 24-0 3"}, {I(7), I(8), I(9)}, 64,
       {I(1), I(0), I(9)}, 1},
      {"a real that overflows", {"1e39 2"}, {R(1), R(1)}, 64, {R(INFINITY), R(1)}, 1},
      {"an integer from a token with a point", {"12.7 -3.9"}, {I(0), I(0)}, 0, {I(12), I(-3)}, 1},
      {"the end of the file before any value", {}, {I(7)}, -1, {I(7)}, 0},
      {"the end of the file keeps the values read", {"1", ""}, {I(7), I(8)}, -1, {I(1), I(8)}, 2},
      {"a record of the character 26 is the end of the file", {"1", "\x1a", "2"}, {I(7), I(8)}, -1,
       {I(1), I(8)}, 2},
      {"26 with other characters is no end", {"\x1a\x1a", "2"}, {T("..."), I(8)}, 0,
       {T("\x1a\x1a "), I(2)}, 2},
      {"a read without items takes one record", {"1 2", "3"}, {}, 0, {}, 1},
      {"a read without items takes a blank record", {"", "3"}, {}, 0, {}, 1},
      {"a read without items at the end of the file", {}, {}, -1, {}, 0},
      {"a read without items meets the character 26", {"\x1a", "3"}, {}, -1, {}, 1},
      {"T and F are no numbers in a file", {"T"}, {I(3)}, 64, {I(3)}, 1},
  });
}

TEST(ListInput, LaterReadsGoOnAfterTheLastRecordTouched) {
  Records source({"1 2 3", "4", "\x1a", "'a", "b' 5 6", "7"});
  std::int32_t a = 0, b = 0;
  tarvello::Text<4> t;
  auto one = rec::input_items(a);
  EXPECT_EQ(rec::list_read(source, rec::ListSource::External, rec::ItemCursor(one)), 0);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(rec::list_read(source, rec::ListSource::External, rec::ItemCursor(one)), 0);
  EXPECT_EQ(a, 4);
  // The record of the character 26 ends this read; the next one goes on after it.
  EXPECT_EQ(rec::list_read(source, rec::ListSource::External, rec::ItemCursor(one)), -1);
  EXPECT_EQ(a, 4);
  auto two = rec::input_items(t, b);
  EXPECT_EQ(rec::list_read(source, rec::ListSource::External, rec::ItemCursor(two)), 0);
  EXPECT_EQ(t.view(), "ab  ");
  EXPECT_EQ(b, 5);
  EXPECT_EQ(rec::list_read(source, rec::ListSource::External, rec::ItemCursor(one)), 0);
  EXPECT_EQ(a, 7);
  EXPECT_EQ(rec::list_read(source, rec::ListSource::External, rec::ItemCursor(one)), -1);
}

// ---------------------------------------------------------------------------
// Reads from a text variable.

TEST(ListInput, ReadsFromTextVariables) {
  struct IntCase {
    std::string text;
    int status;
    std::int32_t expected;
  };
  const std::vector<IntCase> cases = {
      {"2024", 0, 2024}, {"03", 0, 3},      {"    ", -1, 99}, {"", -1, 99},  {"07:", 59, 99},
      {"1-", 59, 99},    {"24-0", 64, 0},   {"15/0", 0, 15},  {"12.7", 0, 12}, {" 7 8", 0, 7},
      {",5", 0, 99},    {"T", 59, 99},     {".T.", 0, -1},   {".F.", 0, 0},   {"/", 0, 99},
  };
  for (const IntCase& c : cases) {
    SCOPED_TRACE("'" + c.text + "'");
    std::int32_t item = 99;
    EXPECT_EQ(rec::read_internal_list(c.text, item), c.status);
    EXPECT_EQ(item, c.expected);
  }
  // Running out of the text before every item has a value.
  std::int32_t a = 0, b = 5;
  EXPECT_EQ(rec::read_internal_list("1", a, b), -1);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 5);
  // The character 26 is an ordinary character in a text variable.
  tarvello::Text<2> t;
  EXPECT_EQ(rec::read_internal_list("\x1a", t), 0);
  EXPECT_EQ(t.view(), "\x1a ");
}

// A read stores into its items, so every kind of read takes only storage that
// may change: a const object, a temporary, a string literal or a text view as
// an item does not compile. A write takes all of them.
template <class... T>
concept list_read_takes = requires(T&&... items) { rec::read_internal_list("2.5", std::forward<T>(items)...); };
template <class... T>
concept formatted_read_takes = requires(const rec::BoundFormat& f, T&&... items) {
  rec::read_internal("2.5", f, std::forward<T>(items)...);
};
template <class... T>
concept unit_list_read_takes = requires(rec::Units& io, T&&... items) { io.read_list(7, std::forward<T>(items)...); };
template <class... T>
concept unit_formatted_read_takes = requires(rec::Units& io, const rec::BoundFormat& f, T&&... items) {
  io.read(7, f, std::forward<T>(items)...);
};
template <class... T>
concept write_takes = requires(rec::Units& io, const rec::BoundFormat& f, T&&... items) {
  io.write(7, f, std::forward<T>(items)...);
  io.print(7, std::forward<T>(items)...);
  rec::write_internal(tarvello::TextRef{}, f, std::forward<T>(items)...);
};

template <class... T>
constexpr bool every_read_takes = list_read_takes<T...> && formatted_read_takes<T...> &&
                                  unit_list_read_takes<T...> && unit_formatted_read_takes<T...>;
template <class... T>
constexpr bool no_read_takes = !list_read_takes<T...> && !formatted_read_takes<T...> &&
                               !unit_list_read_takes<T...> && !unit_formatted_read_takes<T...>;

using Name = tarvello::Text<12>;
static_assert(every_read_takes<std::int32_t&>);
static_assert(every_read_takes<float&>);
static_assert(every_read_takes<Name&>);
static_assert(every_read_takes<tarvello::TextRef>);
static_assert(every_read_takes<const tarvello::TextRef&>);  // refers to modifiable characters
static_assert(every_read_takes<std::span<float>>);
static_assert(every_read_takes<std::span<std::int32_t>&>);
static_assert(every_read_takes<Name&, float&, std::span<Name>>);

static_assert(no_read_takes<const float&>);
static_assert(no_read_takes<const std::int32_t&>);
static_assert(no_read_takes<const Name&>);
static_assert(no_read_takes<float>);  // a temporary
static_assert(no_read_takes<Name>);
static_assert(no_read_takes<const char (&)[4]>);  // a string literal
static_assert(no_read_takes<std::string_view>);
static_assert(no_read_takes<std::string&>);
static_assert(no_read_takes<std::span<const float>>);
static_assert(no_read_takes<std::span<const Name>>);
static_assert(no_read_takes<Name&, const float&>);  // one item of several

static_assert(write_takes<const float&, const std::int32_t&, const Name&, float, const char (&)[4],
                          std::string_view, std::span<const float>, std::span<const Name>>);

// ---------------------------------------------------------------------------
// Record endings in a file, read through a unit.

class ListInputFile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "list_input_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string file(const std::string& bytes) {
    std::string path = (dir_ / "input.txt").string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  std::filesystem::path dir_;
};

TEST_F(ListInputFile, LineEndsAndTheLastLineWithoutLineEnd) {
  struct FileCase {
    const char* what;
    std::string bytes;
    std::vector<std::string> texts;  // one read of one text item per entry
    int last_status;                 // status of one further read
  };
  const std::vector<FileCase> cases = {
      {"CR LF", "ab\r\ncd\r\n", {"ab  ", "cd  "}, -1},
      {"LF", "ab\ncd\n", {"ab  ", "cd  "}, -1},
      {"a last line without LF", "ab\r\ncd", {"ab  ", "cd  "}, -1},
      {"several CR before LF", "ab\r\r\ncd\n", {"ab  ", "cd  "}, -1},
      {"a CR not before LF stays", "'a\rb'\n", {"a\rb "}, -1},
      {"a CR at the end of the file stays", "ab\r", {"ab\r "}, -1},
      {"blank lines, then the character 26, then more", "\r\n  \r\nab\r\n\x1a\r\ncd\r\n",
       {"ab  ", "....", "cd  "}, -1},
  };
  for (const FileCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::string path = file(c.bytes);
    rec::Units io;
    std::int32_t ios = 0;
    io.open(rec::checked(98, ios), path, rec::OpenStatus::Old);
    ASSERT_EQ(ios, 0);
    for (const std::string& expected : c.texts) {
      tarvello::Text<4> t("....");
      io.read_list(rec::checked(98, ios), t);
      EXPECT_EQ(t.view(), expected);
      EXPECT_EQ(ios, expected == "...." ? -1 : 0);
    }
    tarvello::Text<4> t("....");
    io.read_list(rec::checked(98, ios), t);
    EXPECT_EQ(ios, c.last_status);
    EXPECT_EQ(t.view(), "....");
    io.close(98);
  }
}

TEST_F(ListInputFile, ReadWithoutItemsTakesExactlyOneRecord) {
  std::string path = file("1 2\r\n\r\n3\r\n\x1a\r\n4");
  rec::Units io;
  io.open(98, path, rec::OpenStatus::Old);
  std::int32_t ios = 0, v = 0;
  io.read_list(rec::checked(98, ios));  // "1 2"
  EXPECT_EQ(ios, 0);
  io.read_list(rec::checked(98, ios));  // the empty record
  EXPECT_EQ(ios, 0);
  io.read_list(rec::checked(98, ios), v);
  EXPECT_EQ(ios, 0);
  EXPECT_EQ(v, 3);
  io.read_list(rec::checked(98, ios));  // the character 26
  EXPECT_EQ(ios, -1);
  io.read_list(rec::checked(98, ios), v);
  EXPECT_EQ(ios, 0);
  EXPECT_EQ(v, 4);
  EXPECT_TRUE(io.at_end(98));
  io.close(98);
}

}  // namespace

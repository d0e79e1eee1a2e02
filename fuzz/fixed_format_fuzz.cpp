// Fixed-format records with the system's layouts, on values from the input.
//
// Input: one byte that chooses the layout, two bytes for an item count, then
// a pool of bytes. The readers take the pool as the records of a file (or, for
// the internal (I4) read, as text variables); the writers take their reals
// and integers from the pool's bit patterns (NaN, infinities, subnormals and
// the extreme integers included) and their texts from its bytes.
//
// Checked for the readers: the status, and that each item holds the field as
// the record gives it (Aw) or the field's number (Iw). For the writers: the
// number and lengths of the records, as the layout's descriptors add up, and
// that each field holds what its descriptor makes of its item.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "record/edit_output.h"
#include "record/format.h"
#include "record/statements.h"

namespace {

using Records = std::vector<std::string>;

// ------------------------------------------------------------------ readers

// Aw input of a field of the record into a text of length L.
std::string expected_text(std::string_view record, std::size_t at, std::size_t w, std::size_t length) {
  std::string field = at < record.size() ? std::string(record.substr(at, w)) : std::string();
  field.resize(w, ' ');
  if (w > length) return field.substr(w - length);
  field.resize(length, ' ');
  return field;
}

// Iw input, from its definition: blanks ignored, one sign before any digit,
// digits; no digit gives 0; anything else or a value outside 32 bits fails.
bool expected_integer(std::string_view field, std::int32_t& value) {
  bool sign = false, negative = false, digit = false;
  std::int64_t magnitude = 0;
  for (char c : field) {
    if (c == ' ') continue;
    if ((c == '+' || c == '-') && !sign && !digit) {
      sign = true;
      negative = c == '-';
    } else if (c >= '0' && c <= '9') {
      digit = true;
      magnitude = magnitude * 10 + (c - '0');
      if (magnitude > (std::int64_t{1} << 31)) return false;
    } else {
      return false;
    }
  }
  const std::int64_t v = negative ? -magnitude : magnitude;
  if (v > INT32_MAX || v < INT32_MIN) return false;
  value = static_cast<std::int32_t>(v);
  return true;
}

void read_file_lines(std::string_view bytes) {
  static const rec::Format file_line("(A12,A60)");
  fuzz::LineSource file(bytes);
  std::string_view record;
  while (file.next(record)) {
    tarvello::Text<12> junk;
    tarvello::Text<128> name;
    auto g = rec::input_items(junk, name);
    rec::ItemCursor cursor(g);
    rec::FormattedReader reader(file_line, cursor);
    int status = -2;
    if (reader.next_record(record, status)) fuzz::fault("(A12,A60) wants a further record");
    if (status != 0) fuzz::fault("(A12,A60) status " + std::to_string(status));
    if (junk.view() != expected_text(record, 0, 12, 12) || name.view() != expected_text(record, 12, 60, 128))
      fuzz::fault("(A12,A60) of \"" + fuzz::shown(record) + "\" gave \"" + fuzz::shown(junk.view()) + "\", \"" +
                  fuzz::shown(name.view()) + "\"");
  }
}

void read_header_lines(std::string_view bytes) {
  static const rec::Format header_line("(A2048)");
  fuzz::LineSource file(bytes);
  std::string_view record;
  while (file.next(record)) {
    tarvello::Text<2048> line;
    auto g = rec::input_items(line);
    rec::ItemCursor cursor(g);
    rec::FormattedReader reader(header_line, cursor);
    int status = -2;
    if (reader.next_record(record, status) || status != 0) fuzz::fault("(A2048) status " + std::to_string(status));
    if (line.view() != expected_text(record, 0, 2048, 2048)) fuzz::fault("(A2048) of \"" + fuzz::shown(record) + "\"");
  }
}

void read_year(std::string_view text) {
  static const rec::Format year("(I4)");
  constexpr std::int32_t kUntouched = 0x5a5a5a5a;
  std::int32_t value = kUntouched;
  auto g = rec::input_items(value);
  const int status = rec::detail::read_internal(text, year, rec::ItemCursor(g));
  std::string field(text.substr(0, 4));
  field.resize(4, ' ');
  std::int32_t want = kUntouched;
  const bool valid = expected_integer(field, want);
  if (valid ? (status != 0 || value != want) : (status != rec::kConversionError || value != kUntouched))
    fuzz::fault("(I4) of \"" + fuzz::shown(field) + "\" gave status " + std::to_string(status) + " and " +
                std::to_string(value));
}

// ------------------------------------------------------------------ writers

Records write_records(const rec::BoundFormat& f, std::span<const rec::ItemGroup> groups) {
  rec::ItemCursor cursor(groups);
  rec::FormattedWriter writer(f, cursor);
  Records records;
  std::string out;
  bool more = true;
  while (more) {
    const std::size_t at = out.size();
    more = writer.next_record(out);
    records.emplace_back(out.substr(at));
    if (records.size() > 100000) fuzz::fault("layout " + f.format().text() + " makes records without end");
  }
  return records;
}

rec::ItemGroup reals(const std::vector<float>& v) {
  return {rec::ItemKind::Real, const_cast<float*>(v.data()), v.size(), sizeof(float), 0};
}
rec::ItemGroup integers(const std::vector<std::int32_t>& v) {
  return {rec::ItemKind::Integer, const_cast<std::int32_t*>(v.data()), v.size(), sizeof(std::int32_t), 0};
}
rec::ItemGroup text(const std::string& t) { return {rec::ItemKind::Text, const_cast<char*>(t.data()), 1, 0, t.size()}; }
// A row of texts, as an array of Text<length> lies in memory: one block.
struct TextRow {
  std::string block;
  std::size_t count = 0, length = 0;
  TextRow(const std::vector<std::string>& v, std::size_t text_length) : count(v.size()), length(text_length) {
    for (const std::string& t : v) block += t;
  }
  rec::ItemGroup group() const { return {rec::ItemKind::Text, const_cast<char*>(block.data()), count, length, length}; }
};

struct Descriptor {
  char kind;  // 'F', 'E', 'I'
  int w, d;
};

std::string field_of(const Descriptor& desc, float real, std::int32_t integer) {
  std::string f(static_cast<std::size_t>(desc.w), '?');
  if (desc.kind == 'F')
    rec::edit_fixed(f.data(), real, desc.w, desc.d);
  else if (desc.kind == 'E')
    rec::edit_exponent(f.data(), real, desc.w, desc.d);
  else
    rec::edit_integer(f.data(), integer, desc.w, desc.d);
  return f;
}

// Aw output of a text.
std::string text_field(std::string_view t, std::size_t w) {
  if (w > t.size()) return std::string(w - t.size(), ' ') + std::string(t);
  return std::string(t.substr(0, w));
}

// Checks a condition; the message is only made when it fails.
#define EXPECT_RECORD(layout, ok, what)                                      \
  do {                                                                       \
    if (!(ok)) fuzz::fault("layout " + std::string(layout) + ": " + (what)); \
  } while (0)

void expect_lengths(const std::string& layout, const Records& records, const std::vector<std::size_t>& lengths) {
  bool ok = records.size() == lengths.size();
  for (std::size_t r = 0; ok && r < records.size(); ++r) ok = records[r].size() == lengths[r];
  if (!ok) {
    std::string got, want;
    for (const std::string& r : records) got += std::to_string(r.size()) + " ";
    for (std::size_t n : lengths) want += std::to_string(n) + " ";
    fuzz::fault("layout " + layout + ": record lengths " + got + "instead of " + want);
  }
}

// A tb0 data line: 20 blanks, then each value in a field of its own, with one
// blank before each field when `gap`. Beyond 9999 values the group is used
// again on a further record.
void data_lines(const Descriptor& desc, bool gap, std::size_t count, const fuzz::Pool& pool) {
  constexpr std::size_t kGroupCount = 9999;
  const std::string inner =
      std::string(desc.kind == 'F' ? "F" : "E") + std::to_string(desc.w) + "." + std::to_string(desc.d);
  const std::string layout = gap ? "(20X,9999(1X," + inner + "))" : "(20X,9999(" + inner + "))";
  const rec::Format f(layout);
  std::vector<float> values(count);
  for (std::size_t i = 0; i < count; ++i) values[i] = pool.real(i);
  const rec::ItemGroup g[] = {reals(values)};
  const Records records = write_records(f, g);

  const std::size_t step = static_cast<std::size_t>(desc.w) + (gap ? 1 : 0);
  std::vector<std::size_t> lengths = {count == 0 ? 0 : 20 + step * std::min(count, kGroupCount)};
  if (count > kGroupCount) lengths.push_back(step * (count - kGroupCount));
  expect_lengths(layout, records, lengths);
  EXPECT_RECORD(
      layout,
      records[0].substr(0, std::min<std::size_t>(20, records[0].size())).find_first_not_of(' ') == std::string::npos,
      "the 20 leading positions are not blank");
  for (std::size_t i = 0; i < count; ++i) {
    const std::string& r = records[i < kGroupCount ? 0 : 1];
    const std::size_t at = (i < kGroupCount ? 20 + step * i : step * (i - kGroupCount)) + (gap ? 1 : 0);
    if (gap) EXPECT_RECORD(layout, r[at - 1] == ' ', "no blank before field " + std::to_string(i + 1));
    EXPECT_RECORD(layout, r.compare(at, step - (gap ? 1 : 0), field_of(desc, values[i], 0)) == 0,
                  "field " + std::to_string(i + 1) + " is \"" + r.substr(at, step - (gap ? 1 : 0)) + "\"");
  }
}

// The hour dump: (I10,<n>F10.3), the hour index and n values.
void dump_line(std::size_t n, const fuzz::Pool& pool) {
  static const rec::Format dump("(I10,<n>F10.3)");
  const std::vector<std::int32_t> hour = {pool.integer(0)};
  std::vector<float> values(n);
  for (std::size_t i = 0; i < n; ++i) values[i] = pool.real(i + 1);
  const rec::ItemGroup g[] = {integers(hour), reals(values)};
  const Records records = write_records(dump.with("n", static_cast<int>(n)), g);
  expect_lengths(dump.text(), records, {10 + 10 * n});
  EXPECT_RECORD(dump.text(), records[0].compare(0, 10, field_of({'I', 10, 1}, 0, hour[0])) == 0, "I10 field");
  for (std::size_t i = 0; i < n; ++i)
    EXPECT_RECORD(dump.text(), records[0].compare(10 + 10 * i, 10, field_of({'F', 10, 3}, values[i], 0)) == 0,
                  "F10.3 field " + std::to_string(i + 1));
}

// The column names of a tb0 header: (A23,n(A9,3X)); the 3X after the last
// name adds nothing.
void column_names(std::size_t n, std::size_t first_length, const fuzz::Pool& pool) {
  static const rec::Format names("(A23,n(A9,3X))");
  const std::string first = pool.text(0, first_length);
  std::vector<std::string> gname(n);
  for (std::size_t i = 0; i < n; ++i) gname[i] = pool.text(7 * i + 3, 12);
  const TextRow row(gname, 12);
  const rec::ItemGroup g[] = {text(first), row.group()};
  const Records records = write_records(names.with("n", static_cast<int>(n)), g);
  expect_lengths(names.text(), records, {n == 0 ? 23 : 20 + 12 * n});
  std::string want = text_field(first, 23);
  for (std::size_t i = 0; i < n; ++i) want += text_field(gname[i], 9) + (i + 1 < n ? "   " : "");
  EXPECT_RECORD(names.text(), records[0] == want, "record \"" + fuzz::shown(records[0]) + "\"");
}

// The header slots of the hourly source file: (9A12), nine names a record.
void header_slots(std::size_t count, const fuzz::Pool& pool) {
  static const rec::Format slots("(9A12)");
  std::vector<std::string> names(count);
  for (std::size_t i = 0; i < count; ++i) names[i] = pool.text(5 * i, 12);
  const TextRow row(names, 12);
  const rec::ItemGroup g[] = {row.group()};
  const Records records = write_records(slots, g);
  std::vector<std::size_t> lengths;
  for (std::size_t left = count; left > 9; left -= 9) lengths.push_back(108);
  lengths.push_back(12 * (count == 0 ? 0 : (count - 1) % 9 + 1));
  expect_lengths(slots.text(), records, lengths);
  for (std::size_t i = 0; i < count; ++i)
    EXPECT_RECORD(slots.text(), records[i / 9].compare(12 * (i % 9), 12, names[i]) == 0,
                  "slot " + std::to_string(i + 1));
}

// The debug trace line: (2A12,3F8.3) with as many of its five items as given;
// the record ends at the first descriptor without an item.
void trace_line(std::size_t count, std::size_t length, const fuzz::Pool& pool) {
  static const rec::Format trace("(2A12,3F8.3)");
  const std::string stuff1 = pool.text(0, length), stuff2 = pool.text(length, length);
  std::vector<float> values;
  for (std::size_t i = 2; i < count; ++i) values.push_back(pool.real(i));
  std::vector<rec::ItemGroup> g;
  if (count >= 1) g.push_back(text(stuff1));
  if (count >= 2) g.push_back(text(stuff2));
  g.push_back(reals(values));
  const Records records = write_records(trace, g);
  constexpr std::size_t kLengths[] = {0, 12, 24, 32, 40, 48};
  expect_lengths(trace.text(), records, {kLengths[count]});
  std::string want;
  if (count >= 1) want += text_field(stuff1, 12);
  if (count >= 2) want += text_field(stuff2, 12);
  for (float v : values) want += field_of({'F', 8, 3}, v, 0);
  EXPECT_RECORD(trace.text(), records[0] == want, "record \"" + fuzz::shown(records[0]) + "\"");
}

// The start date line of a tb0 header, with 0 to 4 of its integers: literals
// after the last item's field are written up to the next data descriptor.
void start_date(std::size_t count, const fuzz::Pool& pool) {
  static const rec::Format start("(A20,I4.4,'/',I2.2,'/',I2.2,'  ',I2.2,':00:00')");
  const std::string keyword = pool.text(0, 20);
  std::vector<std::int32_t> numbers(count);
  for (std::size_t i = 0; i < count; ++i) numbers[i] = pool.integer(i + 1);
  const rec::ItemGroup g[] = {text(keyword), integers(numbers)};
  const Records records = write_records(start, g);
  std::string want = keyword;
  const Descriptor desc[] = {{'I', 4, 4}, {'I', 2, 2}, {'I', 2, 2}, {'I', 2, 2}};
  const char* after[] = {"/", "/", "  ", ":00:00"};
  for (std::size_t i = 0; i < count; ++i) want += field_of(desc[i], 0, numbers[i]) + after[i];
  constexpr std::size_t kLengths[] = {20, 25, 28, 32, 40};
  expect_lengths(start.text(), records, {kLengths[count]});
  EXPECT_RECORD(start.text(), records[0] == want, "record \"" + fuzz::shown(records[0]) + "\"");
}

// The value layouts of the tb0 data lines (by data format code) and of the
// yearly level file.
constexpr Descriptor kDataFields[] = {{'F', 5, 0},  {'F', 5, 1},  {'F', 5, 2},  {'F', 6, 3}, {'F', 7, 4},
                                      {'F', 8, 5},  {'F', 9, 6},  {'F', 8, 3},  {'F', 9, 3}, {'F', 10, 0},
                                      {'F', 11, 3}, {'E', 10, 3}, {'E', 12, 6}, {'F', 12, 3}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Bytes in(data, size);
  const std::uint8_t mode = in.byte();
  const std::size_t count = in.half();
  const std::string_view bytes = in.rest();
  const fuzz::Pool pool(bytes);

  constexpr std::size_t kDataLayouts = std::size(kDataFields);
  switch (mode % (9 + kDataLayouts)) {
    case 0:
      read_file_lines(bytes);
      break;
    case 1:
      read_header_lines(bytes);
      break;
    case 2: {
      // As the program gives it (the argument in a text of 2048), and as a
      // text of exactly the bytes given.
      tarvello::Text<2048> line(bytes);
      read_year(line.view());
      read_year(bytes);
      break;
    }
    case 3:
      dump_line(count % 1000, pool);
      break;
    case 4:
      column_names(count % 1000, count / 1000 % 40 + 1, pool);
      break;
    case 5:
      header_slots(count % 200, pool);
      break;
    case 6:
      trace_line(count % 6, count / 6 % 19 + 1, pool);
      break;
    case 7:
      start_date(count % 5, pool);
      break;
    case 8:
      data_lines({'F', 12, 3}, false, count % 10100, pool);
      break;
    default:
      data_lines(kDataFields[mode % (9 + kDataLayouts) - 9], true, count % 10100, pool);
      break;
  }
  return 0;
}

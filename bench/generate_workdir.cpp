// Writes a complete working directory for a benchmark run of orvistad:
//
//   generate_workdir --dir D --locations N --columns C --year Y
//                    [--garbage K] [--existing-yearly [--yearly-layout L]] [--seed S]
//
// D receives "Y_Orvistad.cfg", "level_station_list.xyz", "hourlysrc.txt" and
// the directories debug/ and level/; with --existing-yearly also a yearly level
// file "level/Y_lvl.tb0" in the layout that the program writes, so that the run
// loads it instead of creating it. Without --existing-yearly a yearly level
// file left in D by an earlier run is removed.
//
// --yearly-layout writes the data lines of that yearly level file differently
// (the header lines stay as they are):
//   plain        as the program writes them: 20 blanks, then a value
//                right-justified in 12 characters per location (the default)
//   commas       plain, with a comma at the end of every data line
//   tabs         every value after a tab, no blanks
//   exponent     every value in exponent notation (-999.000 as -9.99000E+02),
//                right-justified in 14 characters
//   repeat       runs of equal neighbouring values as one count*value
//                (7*-999.000), other values as in plain
//   blank-lines  plain, with an empty line between two data lines
//   slashes      every data line is just "/"
// All but slashes hold exactly the values of the plain layout: the exponent
// text is the plain decimal text with its point moved, never a value that went
// through a float, so it converts to the same single-precision value.
//
// The same arguments give the same bytes on every machine: all randomness
// comes from one splitmix64 stream and every value is an integer count of
// thousandths (levels) or ten-thousandths (coordinates) turned into digits with
// std::to_chars, with no floating-point arithmetic anywhere.
//
// What the directory holds:
// - Source columns named "02HA001", "02HA002", ... Most locations have the key
//   of a column; every tenth location (from the fourth) shares the column of
//   the location before it, and every twentieth (from the eighth) has a key
//   that no column has. Locations 5, 55, 105, ... have the offset 0.05,
//   locations 30, 80, 130, ... the offset -0.1, all others 0.0.
// - One source record per hour of the year from 00:00 of 1 January to 23:00 of
//   31 December, with levels between 150 and 400 metres that drift slowly,
//   gaps of 1 to 12 hours left out, and single values of 0.0 or -999.0.
// - With --garbage K, K records spread over the year in which one value is
//   the letter M.
// - The existing yearly level file holds -999.000 (plus the location's
//   offset, as earlier runs leave it) in most places and a level in about one
//   entry of eight.
//
// Files are formatted into one large buffer and written with large writes, so
// that the full size (999 locations, 99 columns, a leap year, about 113 MB in
// all) takes well under a few seconds.
#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr std::string_view CRLF = "\r\n";
constexpr std::string_view SOURCE_FILE = "hourlysrc.txt";
constexpr std::string_view STATION_LIST = "level_station_list.xyz";

// splitmix64: a small generator whose output is fixed by its definition, so a
// seed gives the same stream with every compiler and library.
class SplitMix64 {
 public:
  explicit SplitMix64(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  // A value in [0, bound).
  std::int64_t below(std::int64_t bound) { return static_cast<std::int64_t>(next() % static_cast<std::uint64_t>(bound)); }
  // A value in [low, high].
  std::int64_t between(std::int64_t low, std::int64_t high) { return low + below(high - low + 1); }
  // True once in `one_in` draws on average.
  bool one_in(std::int64_t one_in) { return below(one_in) == 0; }

 private:
  std::uint64_t state_;
};

// An output file filled through a large buffer that is written out in big
// pieces.
class OutFile {
 public:
  explicit OutFile(const fs::path& path) : path_(path), file_(std::fopen(path.c_str(), "wb")) {
    if (file_ == nullptr) throw std::runtime_error("cannot create " + path.string());
    buffer_.reserve(kFlushAt + kLineRoom);
  }
  OutFile(const OutFile&) = delete;
  OutFile& operator=(const OutFile&) = delete;
  ~OutFile() {
    if (file_ != nullptr) std::fclose(file_);
  }

  void put(std::string_view text) { buffer_.append(text); }
  void put(char c) { buffer_.push_back(c); }
  void blanks(std::size_t count) { buffer_.append(count, ' '); }
  void put_int(std::int64_t value) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    buffer_.append(digits, result.ptr);
  }
  // The integer with at least `width` digits, leading zeros added.
  void put_zero_padded(std::int64_t value, int width) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    const int length = static_cast<int>(result.ptr - digits);
    if (length < width) buffer_.append(static_cast<std::size_t>(width - length), '0');
    buffer_.append(digits, result.ptr);
  }
  // `scaled` / 10^decimals with exactly `decimals` decimals, right-justified
  // in `width` characters (no padding when width is 0).
  void put_fixed(std::int64_t scaled, int decimals, int width = 0) {
    char text[32];
    const std::size_t length = format_fixed(text, scaled, decimals);
    if (width > 0 && length < static_cast<std::size_t>(width)) buffer_.append(static_cast<std::size_t>(width) - length, ' ');
    buffer_.append(text, length);
  }
  void end_line() {
    buffer_.append(CRLF);
    if (buffer_.size() >= kFlushAt) flush();
  }
  void close() {
    flush();
    const bool failed = std::ferror(file_) != 0;
    const bool close_failed = std::fclose(file_) != 0;
    file_ = nullptr;
    if (failed || close_failed) throw std::runtime_error("cannot write " + path_.string());
  }

  static std::size_t format_fixed(char* out, std::int64_t scaled, int decimals) {
    char* p = out;
    std::uint64_t magnitude = static_cast<std::uint64_t>(scaled);
    if (scaled < 0) {
      *p++ = '-';
      magnitude = 0 - magnitude;
    }
    std::uint64_t unit = 1;
    for (int k = 0; k < decimals; ++k) unit *= 10;
    p = std::to_chars(p, p + 21, magnitude / unit).ptr;
    *p++ = '.';
    std::uint64_t fraction = magnitude % unit;
    for (int k = decimals - 1; k >= 0; --k) {
      p[k] = static_cast<char>('0' + fraction % 10);
      fraction /= 10;
    }
    return static_cast<std::size_t>(p + decimals - out);
  }

 private:
  static constexpr std::size_t kFlushAt = std::size_t{8} << 20;
  static constexpr std::size_t kLineRoom = std::size_t{64} << 10;

  void flush() {
    if (!buffer_.empty() && std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size()) {
      throw std::runtime_error("cannot write " + path_.string());
    }
    buffer_.clear();
  }

  fs::path path_;
  std::FILE* file_;
  std::string buffer_;
};

enum class YearlyLayout { Plain, Commas, Tabs, Exponent, Repeat, BlankLines, Slashes };

constexpr std::array<std::pair<std::string_view, YearlyLayout>, 7> kYearlyLayouts = {{
    {"plain", YearlyLayout::Plain},
    {"commas", YearlyLayout::Commas},
    {"tabs", YearlyLayout::Tabs},
    {"exponent", YearlyLayout::Exponent},
    {"repeat", YearlyLayout::Repeat},
    {"blank-lines", YearlyLayout::BlankLines},
    {"slashes", YearlyLayout::Slashes},
}};

struct Options {
  fs::path dir;
  int locations = 0;
  int columns = 0;
  int year = 0;
  int garbage = 0;
  bool existing_yearly = false;
  bool have_layout = false;
  YearlyLayout yearly_layout = YearlyLayout::Plain;
  std::uint64_t seed = 20240119;
};

[[noreturn]] void usage(const std::string& problem) {
  std::fprintf(stderr,
               "generate_workdir: %s\n"
               "usage: generate_workdir --dir D --locations N --columns C --year Y\n"
               "                        [--garbage K] [--existing-yearly [--yearly-layout L]] [--seed S]\n"
               "  N from 1 to 999, C from 2 to 99, Y from 1000 to 9999, K from 0 up,\n"
               "  L one of plain commas tabs exponent repeat blank-lines slashes\n",
               problem.c_str());
  std::exit(2);
}

std::int64_t parse_number(std::string_view option, const char* text, std::int64_t low, std::int64_t high) {
  std::int64_t value = 0;
  const std::string_view s(text);
  const auto result = std::from_chars(s.data(), s.data() + s.size(), value);
  if (result.ec != std::errc() || result.ptr != s.data() + s.size() || value < low || value > high) {
    usage(std::string(option) + " wants a whole number from " + std::to_string(low) + " to " +
          std::to_string(high) + ", not \"" + std::string(s) + "\"");
  }
  return value;
}

Options parse_options(int argc, char** argv) {
  Options o;
  bool have_dir = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg(argv[i]);
    if (arg == "--existing-yearly") {
      o.existing_yearly = true;
      continue;
    }
    if (i + 1 >= argc) usage("missing value after " + std::string(arg));
    const char* value = argv[++i];
    if (arg == "--dir") {
      o.dir = value;
      have_dir = true;
    } else if (arg == "--locations") {
      o.locations = static_cast<int>(parse_number(arg, value, 1, 999));
    } else if (arg == "--columns") {
      o.columns = static_cast<int>(parse_number(arg, value, 2, 99));
    } else if (arg == "--year") {
      o.year = static_cast<int>(parse_number(arg, value, 1000, 9999));
    } else if (arg == "--garbage") {
      o.garbage = static_cast<int>(parse_number(arg, value, 0, 1000000));
    } else if (arg == "--yearly-layout") {
      const auto known = std::find_if(kYearlyLayouts.begin(), kYearlyLayouts.end(),
                                      [value](const auto& entry) { return entry.first == value; });
      if (known == kYearlyLayouts.end()) usage("unknown yearly layout \"" + std::string(value) + "\"");
      o.yearly_layout = known->second;
      o.have_layout = true;
    } else if (arg == "--seed") {
      o.seed = static_cast<std::uint64_t>(parse_number(arg, value, 0, INT64_MAX));
    } else {
      usage("unknown option " + std::string(arg));
    }
  }
  if (!have_dir) usage("--dir is required");
  if (o.locations == 0) usage("--locations is required");
  if (o.columns == 0) usage("--columns is required");
  if (o.year == 0) usage("--year is required");
  if (o.have_layout && !o.existing_yearly) usage("--yearly-layout needs --existing-yearly");
  return o;
}

bool is_leap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int days_in_month(int year, int month) {
  static constexpr std::array<int, 12> days = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && is_leap(year) ? 29 : days[static_cast<std::size_t>(month - 1)];
}

// One configured location.
struct Location {
  std::string key;
  int column = -1;             // 0-based source column, -1 when the key matches none
  std::int64_t offset_milli = 0;
  std::string name;
  std::int64_t lon_e4 = 0;     // longitude in ten-thousandths of a degree
  std::int64_t lat_e4 = 0;
};

std::string column_name(int column) {
  char text[16];
  std::snprintf(text, sizeof text, "02HA%03d", column + 1);
  return text;
}

std::vector<Location> make_locations(const Options& o, SplitMix64& rng) {
  static constexpr std::array<std::string_view, 8> words = {"Lake", "Lac", "River", "Bay",
                                                            "Pond", "Creek", "Falls", "Narrows"};
  std::vector<Location> all(static_cast<std::size_t>(o.locations));
  int next_column = 0;
  for (int i = 0; i < o.locations; ++i) {
    Location& loc = all[static_cast<std::size_t>(i)];
    char text[16];
    if (i % 20 == 7) {
      std::snprintf(text, sizeof text, "02ZZ%03d", i + 1);  // a gauge that the source does not carry
      loc.key = text;
    } else if (i % 10 == 3) {
      loc.column = all[static_cast<std::size_t>(i - 1)].column;  // shares its neighbour's gauge
      loc.key = column_name(loc.column);
    } else {
      loc.column = next_column;
      next_column = (next_column + 1) % o.columns;
      loc.key = column_name(loc.column);
    }
    loc.offset_milli = i % 50 == 4 ? 50 : i % 50 == 29 ? -100 : 0;
    const std::string_view word = words[static_cast<std::size_t>(rng.below(static_cast<std::int64_t>(words.size())))];
    std::snprintf(text, sizeof text, "%.*s_%03d", static_cast<int>(word.size()), word.data(), i + 1);
    loc.name = text;
    loc.lon_e4 = rng.between(-950000, -740000);
    loc.lat_e4 = rng.between(420000, 560000);
  }
  return all;
}

void write_configuration(const Options& o, const std::vector<Location>& locations) {
  char name[32];
  std::snprintf(name, sizeof name, "%4d_Orvistad.cfg", o.year);
  OutFile f(o.dir / name);
  f.put("Orvistad configuration: ");
  f.put_int(o.locations);
  f.put(" locations, ");
  f.put_int(o.columns);
  f.put(" source columns");
  f.end_line();
  // Lines 2 and 3: a 12-character label, then the file name from column 13.
  f.put("Hourly file:");
  f.put(SOURCE_FILE);
  f.end_line();
  f.put("Level file: ");
  f.put("level\\");
  f.put_int(o.year);
  f.put("_lvl.tb0");
  f.end_line();
  f.put("Locations ");
  f.put_int(o.locations);
  f.end_line();
  f.put("Keys");
  f.end_line();
  for (const Location& loc : locations) {
    f.put(loc.key);
    f.put(' ');
    // 0.0, -0.1, 0.05: as few decimals as the offset needs, at least one.
    if (loc.offset_milli % 100 == 0) {
      f.put_fixed(loc.offset_milli / 100, 1);
    } else {
      f.put_fixed(loc.offset_milli / 10, 2);
    }
    f.end_line();
  }
  f.close();
}

void write_station_list(const Options& o, const std::vector<Location>& locations) {
  OutFile f(o.dir / STATION_LIST);
  for (const Location& loc : locations) {
    f.put_fixed(loc.lon_e4, 4);
    f.put(' ');
    f.put_fixed(loc.lat_e4, 4);
    f.put(' ');
    f.put(loc.name);
    f.end_line();
  }
  f.close();
}

void write_hourly_source(const Options& o, SplitMix64& rng) {
  OutFile f(o.dir / SOURCE_FILE);
  const int columns = o.columns;
  for (int c = 0; c < columns; ++c) {
    if (c > 0) f.put(' ');
    f.put(column_name(c));
  }
  f.end_line();

  // Each gauge drifts around its own base level, in thousandths of a metre.
  std::vector<std::int64_t> base(static_cast<std::size_t>(columns));
  std::vector<std::int64_t> level(static_cast<std::size_t>(columns));
  for (std::size_t c = 0; c < base.size(); ++c) {
    base[c] = rng.between(160000, 390000);
    level[c] = base[c] + rng.between(-2000, 2000);
  }

  const int hours = (is_leap(o.year) ? 366 : 365) * 24;
  // Garbage records stand at evenly spaced hours, which are never left out.
  std::vector<char> garbage(static_cast<std::size_t>(hours), 0);
  for (int k = 1; k <= o.garbage; ++k) {
    const std::int64_t hour = static_cast<std::int64_t>(k) * hours / (static_cast<std::int64_t>(o.garbage) + 1);
    garbage[static_cast<std::size_t>(hour)] = 1;
  }

  int hour_of_year = 0;
  int gap = 0;
  for (int month = 1; month <= 12; ++month) {
    for (int day = 1; day <= days_in_month(o.year, month); ++day) {
      for (int hour = 0; hour < 24; ++hour, ++hour_of_year) {
        for (std::size_t c = 0; c < level.size(); ++c) {
          level[c] += rng.between(-15, 15);
          if (level[c] > base[c] + 3000) level[c] = base[c] + 3000;
          if (level[c] < base[c] - 3000) level[c] = base[c] - 3000;
        }
        const bool bad = garbage[static_cast<std::size_t>(hour_of_year)] != 0;
        if (!bad) {
          if (gap == 0 && rng.one_in(400)) gap = static_cast<int>(rng.between(1, 12));
          if (gap > 0) {
            --gap;
            continue;
          }
        }
        const std::int64_t bad_column = bad ? rng.below(columns) : -1;
        f.put_int(o.year);
        f.put('-');
        f.put_zero_padded(month, 2);
        f.put('-');
        f.put_zero_padded(day, 2);
        f.put(' ');
        f.put_zero_padded(hour, 2);
        f.put(":00");
        for (int c = 0; c < columns; ++c) {
          f.put(' ');
          const std::int64_t draw = rng.below(500);
          if (c == bad_column) {
            f.put('M');
          } else if (draw == 0) {
            f.put("0.0");
          } else if (draw == 1) {
            f.put("-999.0");
          } else {
            f.put_fixed(level[static_cast<std::size_t>(c)], 3);
          }
        }
        f.end_line();
      }
    }
  }
  f.close();
}

// A 40-character header line: `left` from column 1 and `right` from column
// `column`, blanks elsewhere.
void put_line40(OutFile& f, std::string_view left, int column = 0, std::string_view right = {}) {
  std::string line(40, ' ');
  line.replace(0, left.size(), left);
  if (column > 0) line.replace(static_cast<std::size_t>(column - 1), right.size(), right);
  line.resize(40);
  f.put(line);
  f.end_line();
}

// The decimal text of one value of a data line.
struct Token {
  std::array<char, 24> text{};
  std::uint8_t length = 0;
  std::string_view view() const { return {text.data(), length}; }
};

// The value of the plain decimal `plain` ("-999.000", "150.125", "0.050") in
// exponent notation with one digit before the point and all of its digits
// ("-9.99000E+02", "1.50125E+02", "5.0E-02"): the same decimal number, written
// from the digits alone.
std::size_t exponent_text(std::string_view plain, char* out) {
  char* p = out;
  std::size_t at = 0;
  if (at < plain.size() && (plain[at] == '-' || plain[at] == '+')) {
    if (plain[at] == '-') *p++ = '-';
    ++at;
  }
  std::string digits;
  int point = -1;  // digits before the decimal point
  for (; at < plain.size(); ++at) {
    if (plain[at] == '.') {
      point = static_cast<int>(digits.size());
    } else {
      digits.push_back(plain[at]);
    }
  }
  if (point < 0) point = static_cast<int>(digits.size());
  const std::size_t first_nonzero = digits.find_first_not_of('0');
  // Zero keeps its digits and the exponent 0: "0.000" is "0.000E+00".
  const std::size_t lead = first_nonzero == std::string::npos ? 0 : first_nonzero;
  const int exponent = first_nonzero == std::string::npos ? 0 : point - 1 - static_cast<int>(lead);
  digits.erase(0, lead);
  *p++ = digits[0];
  *p++ = '.';
  if (digits.size() == 1) {
    *p++ = '0';
  } else {
    std::memcpy(p, digits.data() + 1, digits.size() - 1);
    p += digits.size() - 1;
  }
  *p++ = 'E';
  *p++ = exponent < 0 ? '-' : '+';
  const int magnitude = exponent < 0 ? -exponent : exponent;
  if (magnitude < 10) *p++ = '0';
  p = std::to_chars(p, p + 8, magnitude).ptr;
  return static_cast<std::size_t>(p - out);
}

// `text` right-justified in `width` characters, with at least one blank
// before it.
void put_field(OutFile& f, std::string_view text, std::size_t width) {
  f.blanks(text.size() < width ? width - text.size() : 1);
  f.put(text);
}

void put_data_line(OutFile& f, YearlyLayout layout, const std::vector<Token>& values) {
  switch (layout) {
    case YearlyLayout::Plain:
    case YearlyLayout::Commas:
    case YearlyLayout::BlankLines:
      f.blanks(20);
      for (const Token& v : values) put_field(f, v.view(), 12);
      if (layout == YearlyLayout::Commas) f.put(',');
      break;
    case YearlyLayout::Tabs:
      for (const Token& v : values) {
        f.put('\t');
        f.put(v.view());
      }
      break;
    case YearlyLayout::Exponent:
      f.blanks(20);
      for (const Token& v : values) {
        char text[48];
        put_field(f, std::string_view(text, exponent_text(v.view(), text)), 14);
      }
      break;
    case YearlyLayout::Repeat:
      f.blanks(20);
      for (std::size_t i = 0; i < values.size();) {
        std::size_t end = i + 1;
        while (end < values.size() && values[end].view() == values[i].view()) ++end;
        if (end - i == 1) {
          put_field(f, values[i].view(), 12);
        } else {
          put_field(f, std::to_string(end - i) + "*" + std::string(values[i].view()), 12);
        }
        i = end;
      }
      break;
    case YearlyLayout::Slashes:
      f.put('/');
      break;
  }
  f.end_line();
}

void write_yearly_level_file(const Options& o, const std::vector<Location>& locations, SplitMix64& rng) {
  char name[32];
  std::snprintf(name, sizeof name, "%d_lvl.tb0", o.year);
  OutFile f(o.dir / "level" / name);
  put_line40(f, std::string(40, '#'));
  put_line40(f, ":FileType tb0  ASCII  EnSim 1.0");
  put_line40(f, "#");
  put_line40(f, "# DataType", 26, "Time Series");
  put_line40(f, "#");
  put_line40(f, ":Application", 26, "EnSimHydrologic");
  put_line40(f, ":Version", 26, "2.1.23");
  put_line40(f, ":WrittenBy", 33, "Orvistad");
  // The stamp of the run that created the file: 06:00 on 2 January.
  f.put(":CreationDate       ");
  f.put_int(o.year);
  f.put("-01-02  06:00");
  f.end_line();
  put_line40(f, "#");
  put_line40(f, "#" + std::string(39, '-'));
  f.put(":SourceFile         ");
  f.put(SOURCE_FILE);
  f.blanks(40 - SOURCE_FILE.size());
  f.end_line();
  put_line40(f, "#");
  put_line40(f, ":Name", 37, "junk");
  put_line40(f, "#");
  put_line40(f, ":Projection", 34, "LatLong");
  put_line40(f, ":Ellipsoid", 36, "NAD83");
  put_line40(f, "#");
  f.put(":StartDate          ");
  f.put_int(o.year);
  f.put("-01-01");
  f.end_line();
  put_line40(f, ":StartTime", 36, "00:00");
  put_line40(f, "#");
  put_line40(f, ":AttributeUnits", 35, "1.00");
  put_line40(f, ":DeltaT", 24, "1");
  put_line40(f, "#");
  put_line40(f, ":ColumnMetaData");
  f.put("   :ColumnUnits     ");
  for (std::size_t i = 0; i < locations.size(); ++i) f.put("masl        ");
  f.end_line();
  f.put("   :ColumnType      ");
  for (std::size_t i = 0; i < locations.size(); ++i) f.put("float       ");
  f.end_line();
  f.put("   :ColumnName      ");
  for (const Location& loc : locations) {
    f.put(loc.name);
    f.blanks(12 - loc.name.size());
  }
  f.end_line();
  f.put("   :ColumnLocationX ");
  for (const Location& loc : locations) f.put_fixed(loc.lon_e4, 4, 12);
  f.end_line();
  f.put("   :ColumnLocationY ");
  for (const Location& loc : locations) f.put_fixed(loc.lat_e4, 4, 12);
  f.end_line();
  put_line40(f, ":endHeader");

  // A missing entry as earlier runs leave it: -999.0 plus the location's
  // offset, formatted once per location.
  std::vector<Token> missing(locations.size());
  for (std::size_t i = 0; i < locations.size(); ++i) {
    missing[i].length = static_cast<std::uint8_t>(
        OutFile::format_fixed(missing[i].text.data(), -999000 + locations[i].offset_milli, 3));
  }
  std::vector<Token> line(locations.size());
  const int hours = (is_leap(o.year) ? 366 : 365) * 24;
  for (int j = 1; j <= hours; ++j) {
    for (std::size_t i = 0; i < locations.size(); ++i) {
      if (rng.one_in(8)) {
        line[i].length = static_cast<std::uint8_t>(OutFile::format_fixed(line[i].text.data(), rng.between(150000, 400000), 3));
      } else {
        line[i] = missing[i];
      }
    }
    if (j > 1 && o.yearly_layout == YearlyLayout::BlankLines) f.end_line();
    put_data_line(f, o.yearly_layout, line);
  }
  f.close();
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = parse_options(argc, argv);
  try {
    fs::create_directories(o.dir / "debug");
    fs::create_directories(o.dir / "level");
    // Separate streams, so that adding a file or changing one file's shape
    // leaves the bytes of the others as they were.
    SplitMix64 location_rng(o.seed);
    SplitMix64 source_rng(o.seed ^ 0x5EED0001ULL);
    SplitMix64 yearly_rng(o.seed ^ 0x5EED0002ULL);
    const std::vector<Location> locations = make_locations(o, location_rng);
    write_configuration(o, locations);
    write_station_list(o, locations);
    write_hourly_source(o, source_rng);
    const fs::path yearly = o.dir / "level" / (std::to_string(o.year) + "_lvl.tb0");
    if (o.existing_yearly) {
      write_yearly_level_file(o, locations, yearly_rng);
    } else {
      fs::remove(yearly);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "generate_workdir: %s\n", e.what());
    return 1;
  }
  return 0;
}

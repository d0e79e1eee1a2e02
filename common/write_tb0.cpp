#include "write_tb0.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

#include "area_tarvello.h"
#include "local_clock.h"

namespace tarvello {

namespace at = area_tarvello;

namespace {

// The writer's own clock texts, read again by every header call.
Text<8> CDAY;
Text<10> TIME;

constexpr int HEADER_MODE = 1;

// True when every line of a block of fixed header lines is 40 characters.
template <std::size_t K>
constexpr bool all_forty(const std::array<std::string_view, K>& lines) {
  return std::all_of(lines.begin(), lines.end(), [](std::string_view l) { return l.size() == 40; });
}

constexpr std::string_view COMMENT = "#                                       ";

// The fixed 40-character lines of the header, in the blocks that stand
// between the keyword records.
constexpr std::array<std::string_view, 7> OPENING = {
    "########################################",
    ":FileType tb0  ASCII  EnSim 1.0         ",
    COMMENT,
    "# DataType               Time Series    ",
    COMMENT,
    ":Application             TARVELLO       ",
    ":Version                 2.1.23         ",
};
constexpr std::array<std::string_view, 2> AFTER_CREATION = {
    COMMENT,
    "#---------------------------------------",
};
constexpr std::array<std::string_view, 1> SEPARATOR = {COMMENT};
constexpr std::array<std::string_view, 2> COLUMN_META = {
    COMMENT,
    ":ColumnMetaData                         ",
};
constexpr std::array<std::string_view, 1> END_HEADER = {":endHeader                              "};
static_assert(all_forty(OPENING) && all_forty(AFTER_CREATION) && all_forty(SEPARATOR) &&
              all_forty(COLUMN_META) && all_forty(END_HEADER));

template <std::size_t K>
void write_fixed_lines(rec::Units& io, int unit, const std::array<std::string_view, K>& lines) {
  static const rec::Format line("(A40)");
  for (std::string_view l : lines) io.write(unit, line, l);
}

// Field of the per-column location values.
enum class Location { F12_4, F12_2, F10_0 };

// The projection-dependent parts of a header, from the normalised projection name.
struct Projection {
  bool ellipsoid;       // an ":Ellipsoid" line
  bool zone;            // a ":Zone" line after it
  Location first;       // ":ColumnLocationX" and ":ColumnLocationY"
  Location second;      // ":ColumnLocationX1" and ":ColumnLocationY1"
};

Projection projection_of(std::string_view name) {
  const std::string_view first7 = name.substr(0, 7);
  const std::string_view first3 = name.substr(0, 3);
  Projection p{};
  // At most one of these holds: a header has at most one ":Ellipsoid" line.
  p.ellipsoid = first7 == "LATLONG" || first7 == "LatLong" || first3 == "UTM";
  p.zone = first3 == "UTM";
  // Geographic coordinates get four decimals; a value that only begins with
  // "LATLONG" does not count as geographic here, one that begins with
  // "LatLong" does.
  const bool geographic = name == "LATLONG   " || first7 == "LatLong";
  p.first = geographic ? Location::F12_4 : first7 == "Lambert" ? Location::F10_0 : Location::F12_2;
  p.second = geographic ? Location::F12_4 : Location::F12_2;
  return p;
}

// The first `count` entries of a per-column array (fewer when it holds fewer;
// none for a count below 1).
template <class T>
std::span<const T> columns(const std::vector<T>& entries, std::int32_t count) {
  const std::size_t n = count < 1 ? 0 : static_cast<std::size_t>(count);
  return std::span<const T>(entries).first(std::min(n, entries.size()));
}

void write_locations(rec::Units& io, int unit, Location field, std::int32_t n, std::string_view keyword,
                     std::span<const float> values) {
  static const rec::Format f12_4("(A20,nF12.4)");
  static const rec::Format f12_2("(A20,nF12.2)");
  static const rec::Format f10_0("(A20,nF10.0)");
  const rec::Format& layout = field == Location::F12_4 ? f12_4 : field == Location::F10_0 ? f10_0 : f12_2;
  io.write(unit, layout.with("n", n), keyword, values);
}

void write_header(rec::Units& io, std::int32_t unit, std::int32_t n) {
  static const rec::Format keyword_text("(A20,A40)");
  static const rec::Format creation("(A20,A4,'-',A2,'-',A2,2X,A2,':',A2)");
  static const rec::Format no_data("(A20,F10.1)");
  static const rec::Format keyword_code("(A20,A10,2X,A10)");
  static const rec::Format zone("(A20,I16)");
  static const rec::Format start("(A20,I4.4,'/',I2.2,'/',I2.2,'  ',I2.2,':00:00')");
  static const rec::Format delta("(A20,I10)");
  static const rec::Format conversion("(A20,F16.7)");
  static const rec::Format column_texts("(A23,n(A9,3X))");
  static const rec::Format coefficients("(A20,nF12.2)");
  static const rec::Format counts("(A20,nI12)");
  // The coefficient rows, n zeros and n ones, kept between calls.
  static std::vector<float> zeros;
  static std::vector<std::int32_t> ones;

  const Projection p = projection_of(at::COORDSYS_TEMP.view());
  const std::size_t width = n < 1 ? 0 : static_cast<std::size_t>(n);
  if (zeros.size() < width) {
    zeros.resize(width, 0.0f);
    ones.resize(width, 1);
  }
  const std::span<const float> zero_row = std::span<const float>(zeros).first(width);
  const std::span<const std::int32_t> one_row = std::span<const std::int32_t>(ones).first(width);

  write_fixed_lines(io, unit, OPENING);
  io.write(unit, keyword_text, ":WrittenBy          ", at::WRITTEN_BY);
  read_local_clock(CDAY, TIME);
  io.write(unit, creation, ":CreationDate       ", CDAY.sub(1, 4), CDAY.sub(5, 6), CDAY.sub(7, 8), TIME.sub(1, 2),
           TIME.sub(3, 4));
  write_fixed_lines(io, unit, AFTER_CREATION);
  io.write(unit, keyword_text, ":SourceFile         ", at::SOURCE_FILE_NAME);
  write_fixed_lines(io, unit, SEPARATOR);
  io.write(unit, keyword_text, ":Name               ", at::SERIES_NAME);
  write_fixed_lines(io, unit, SEPARATOR);
  io.write(unit, no_data, ":NoDataValue          ", at::NO_DATA_VALUE);
  io.write(unit, keyword_code, ":Projection         ", at::COORDSYS_TEMP);
  if (p.ellipsoid) io.write(unit, keyword_code, ":Ellipsoid          ", at::ELLIPSOID);
  if (p.zone) io.write(unit, zone, ":Zone               ", at::UTM_ZONE);
  write_fixed_lines(io, unit, SEPARATOR);
  io.write(unit, start, ":StartDate          ", at::START_YEAR, at::START_MONTH, at::START_DAY, at::START_HOUR);
  io.write(unit, delta, ":deltaT             ", at::DELTA_T);
  io.write(unit, conversion, ":UnitConversion     ", at::UNIT_CONVERSION);
  write_fixed_lines(io, unit, COLUMN_META);

  const rec::BoundFormat texts = column_texts.with("n", n);
  io.write(unit, texts, "   :ColumnUnits     ", columns(at::COLUMN_UNITS, n));
  io.write(unit, texts, "   :ColumnType      ", columns(at::COLUMN_TYPE, n));
  io.write(unit, texts, "   :ColumnName      ", columns(at::GNAME, n));
  write_locations(io, unit, p.first, n, "   :ColumnLocationX ", columns(at::XSTA, n));
  write_locations(io, unit, p.first, n, "   :ColumnLocationY ", columns(at::YSTA, n));
  if (at::has_second_location()) {
    write_locations(io, unit, p.second, n, "   :ColumnLocationX1 ", columns(at::XSTA1, n));
    write_locations(io, unit, p.second, n, "   :ColumnLocationY1 ", columns(at::YSTA1, n));
  }
  const rec::BoundFormat zero_values = coefficients.with("n", n);
  io.write(unit, zero_values, "   :Coeff1         ", zero_row);
  io.write(unit, zero_values, "   :Coeff2         ", zero_row);
  io.write(unit, zero_values, "   :Coeff3         ", zero_row);
  io.write(unit, zero_values, "   :Coeff4         ", zero_row);
  io.write(unit, counts.with("n", n), "   :Value1         ", one_row);
  write_fixed_lines(io, unit, END_HEADER);
}

void header_mode(rec::Units& io, std::int32_t UNIT_NUMBER, std::int32_t FILE_INDEX, std::int32_t COLUMN_COUNT) {
  // Only the two mixed-case spellings of the projection are upper-cased; the
  // shared value keeps the new form for every later caller.
  if (at::COORDSYS_TEMP.view() == "LatLong   ") at::COORDSYS_TEMP = "LATLONG   ";
  if (at::COORDSYS_TEMP.view() == "Cartesian ") at::COORDSYS_TEMP = "CARTESIAN ";

  // An index without a file-name entry names no file: the open fails.
  static const Text<256> no_name(" ");
  const bool named = FILE_INDEX >= 1 && static_cast<std::size_t>(FILE_INDEX) <= at::FLN.size();
  const Text<256>& name = named ? at::fln(FILE_INDEX) : no_name;

  std::int32_t IOS = 0;
  io.open(rec::checked(UNIT_NUMBER, IOS), name.view(), rec::OpenStatus::Unknown);
  if (IOS != 0) {
    io.print(rec::kConsole);
    io.print(rec::kConsole, "Unable to open file", name.sub(1, 60));
    io.print(rec::kConsole, "Possible cause(s):");
    io.print(rec::kConsole, "file in use by another application");
    io.print(rec::kConsole, "or target directory does not exist");
    rec::stop("Program aborted in write_tb0 @ 52");
  }
  io.print(rec::kConsole, "Opened unit=", UNIT_NUMBER, " filename=", name.sub(1, 40));
  write_header(io, UNIT_NUMBER, COLUMN_COUNT);
}

// The data line layout of each data format code; every code not listed takes
// the last one.
struct DataLayout {
  std::int32_t code;
  rec::Format format;
};

const rec::Format& data_layout(std::int32_t code) {
  static const std::array<DataLayout, 14> layouts = {{
      {0, rec::Format("(20X,9999(1X,F5.0))")},
      {1, rec::Format("(20X,9999(1X,F5.1))")},
      {2, rec::Format("(20X,9999(1X,F5.2))")},
      {3, rec::Format("(20X,9999(1X,F6.3))")},
      {4, rec::Format("(20X,9999(1X,F7.4))")},
      {5, rec::Format("(20X,9999(1X,F8.5))")},
      {6, rec::Format("(20X,9999(1X,F9.6))")},
      {8, rec::Format("(20X,9999(1X,E10.3))")},
      {10, rec::Format("(20X,9999(1X,F10.0))")},
      {11, rec::Format("(20X,9999(1X,F8.3))")},
      {12, rec::Format("(20X,9999(1X,F9.3))")},
      {13, rec::Format("(20X,9999(1X,F9.3))")},
      {14, rec::Format("(20X,9999(1X,F11.3))")},
      {-1, rec::Format("(20X,9999(1X,E12.6))")},  // any other code
  }};
  for (std::size_t k = 0; k + 1 < layouts.size(); ++k)
    if (layouts[k].code == code) return layouts[k].format;
  return layouts.back().format;
}

// Whether two rows hold the same values bit for bit (and so edit alike).
bool same_bits(std::span<const float> a, std::span<const float> b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size_bytes()) == 0);
}

void data_mode(rec::Units& io, std::int32_t UNIT_NUMBER, std::int32_t DATA_FORMAT_CODE) {
  const rec::Format& layout = data_layout(DATA_FORMAT_CODE);
  // One line per row; a line holds the row's values that the data block has.
  const std::size_t wanted = at::TB0_COLUMN_COUNT < 1 ? 0 : static_cast<std::size_t>(at::TB0_COLUMN_COUNT);
  const std::size_t width = std::min(wanted, static_cast<std::size_t>(at::OUTARRAY.columns()));
  const RealTable& block = at::OUTARRAY;
  auto values_of = [&](std::int32_t r) {
    return r <= block.rows() ? block.row(r).first(width) : std::span<const float>();
  };
  // Rows that hold the same values give the same line: such a run of rows is
  // built once and written as many times.
  for (std::int32_t r = 1; r <= at::TB0_ROW_COUNT;) {
    const std::span<const float> values = values_of(r);
    std::int32_t same = 1;
    while (r + same <= at::TB0_ROW_COUNT && same_bits(values_of(r + same), values)) ++same;
    io.write_repeated(UNIT_NUMBER, static_cast<std::size_t>(same), layout, values);
    r += same;
  }
}

}  // namespace

void WRITE_TB0(rec::Units& io, std::int32_t UNIT_NUMBER, std::int32_t FILE_INDEX, std::int32_t WRITE_MODE,
               std::int32_t COLUMN_COUNT, std::int32_t DATA_FORMAT_CODE) {
  if (WRITE_MODE == HEADER_MODE) header_mode(io, UNIT_NUMBER, FILE_INDEX, COLUMN_COUNT);
  else data_mode(io, UNIT_NUMBER, DATA_FORMAT_CODE);
}

}  // namespace tarvello

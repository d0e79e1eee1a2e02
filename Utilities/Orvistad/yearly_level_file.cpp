// Yearly level file and the year table.
//
// The yearly level file is the store of a year of levels: a tb0 file with a
// header of 31 lines, written once when the file is created, and one data line
// per hour with one column per configured location. During a run its values
// live in the year table LEVEL. The file is always replaced whole: its
// creation and its rewrite go to a temporary file beside it, which the close
// renames over it, so a run that ends early leaves the previous file (or none).
#include <algorithm>
#include <array>
#include <new>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "area_tarvello.h"
#include "local_clock.h"
#include "steps.h"

namespace orvistad {

namespace at = area_tarvello;
using rec::kConsole;

namespace {

constexpr rec::OpenOptions kReplaceWhole{.replace_whole = true};

// The fixed header lines, each written whole, trailing blanks included.
using HeaderLine = std::string_view;

constexpr std::array<HeaderLine, 8> kHeaderTop = {
    "########################################",
    ":FileType tb0  ASCII  EnSim 1.0         ",
    "#                                       ",
    "# DataType               Time Series    ",
    "#                                       ",
    ":Application             EnSimHydrologic",
    ":Version                 2.1.23         ",
    ":WrittenBy                      Orvistad",
};

constexpr std::array<HeaderLine, 2> kHeaderAfterDate = {
    "#                                       ",
    "#---------------------------------------",
};

constexpr std::array<HeaderLine, 6> kHeaderAfterSource = {
    "#                                       ",
    ":Name                               junk",
    "#                                       ",
    ":Projection                      LatLong",
    ":Ellipsoid                         NAD83",
    "#                                       ",
};

constexpr std::array<HeaderLine, 6> kHeaderAfterStart = {
    ":StartTime                         00:00",
    "#                                       ",
    ":AttributeUnits                   1.00  ",
    ":DeltaT                1                ",
    "#                                       ",
    ":ColumnMetaData                         ",
};

constexpr std::array<HeaderLine, 1> kHeaderEnd = {":endHeader                              "};

template <std::size_t N>
constexpr bool all_forty(const std::array<HeaderLine, N>& lines) {
  for (HeaderLine line : lines)
    if (line.size() != 40) return false;
  return true;
}
static_assert(all_forty(kHeaderTop) && all_forty(kHeaderAfterDate) && all_forty(kHeaderAfterSource) &&
              all_forty(kHeaderAfterStart) && all_forty(kHeaderEnd));

template <std::size_t N>
void write_literal_lines(rec::Units& io, int unit, const std::array<HeaderLine, N>& lines) {
  static const rec::Format literal("(A40)");
  for (HeaderLine line : lines) io.write(unit, literal, line);
}

// One data line: 20 blanks, then each value of the row in 12 characters with 3 decimals.
const rec::Format& data_line() {
  static const rec::Format f("(20X,9999(F12.3))");
  return f;
}

// Reads header lines up to the one whose first token begins with ":endHeader",
// echoing the first 60 characters of each token on the console. A file
// without that line ends the run at its end (failure 24).
void skip_header(RunState& rs, int unit) {
  for (;;) {
    rs.io.read_list(unit, rs.LINE);
    rs.io.print(kConsole, rs.LINE.sub(1, 60));
    if (rs.LINE.sub(1, 10) == std::string_view(":endHeader")) return;
  }
}

void create_level_file(RunState& rs) {
  static const rec::Format creation_date("(A20,A4,'-',A2,'-',A2,2X,A2,':',A2)");
  static const rec::Format source_file("(A20,A40)");
  static const rec::Format start_date("(A20,I4.4,A6)");
  static const rec::Format column_texts("(A20,999A12)");
  static const rec::Format column_reals("(A20,999F12.4)");
  rec::Units& io = rs.io;
  const std::size_t n = rs.LEVEL.columns();

  io.open(rec::checked(LEVEL_UNIT, rs.IOS), rs.OUTPUTFILENAME.view(), rec::OpenStatus::Unknown, kReplaceWhole);
  if (rs.IOS != 0) {
    io.print(kConsole, "Unable to open ", rs.OUTPUTFILENAME);
    rec::stop("Orvistad aborted @ 129");
  }
  io.print(kConsole, "opened ", rs.OUTPUTFILENAME.sub(1, 40));

  write_literal_lines(io, LEVEL_UNIT, kHeaderTop);
  // The creation time is read when the file is made; from here on it is the
  // run's latest clock reading.
  tarvello::read_local_clock(rs.CDAY, rs.TIME);
  io.write(LEVEL_UNIT, creation_date, ":CreationDate       ", rs.CDAY.sub(1, 4), rs.CDAY.sub(5, 6),
           rs.CDAY.sub(7, 8), rs.TIME.sub(1, 2), rs.TIME.sub(3, 4));
  write_literal_lines(io, LEVEL_UNIT, kHeaderAfterDate);
  io.write(LEVEL_UNIT, source_file, ":SourceFile         ", rs.INPUTFILENAME);
  write_literal_lines(io, LEVEL_UNIT, kHeaderAfterSource);
  io.write(LEVEL_UNIT, start_date, ":StartDate          ", rs.YEAR_KEY, "-01-01");
  write_literal_lines(io, LEVEL_UNIT, kHeaderAfterStart);

  const std::vector<Text<12>> units(n, Text<12>("masl"));
  const std::vector<Text<12>> types(n, Text<12>("float"));
  io.write(LEVEL_UNIT, column_texts, "   :ColumnUnits     ", std::span<const Text<12>>(units));
  io.write(LEVEL_UNIT, column_texts, "   :ColumnType      ", std::span<const Text<12>>(types));
  io.write(LEVEL_UNIT, column_texts, "   :ColumnName      ", std::span<const Text<12>>(at::GNAME.data(), n));
  io.write(LEVEL_UNIT, column_reals, "   :ColumnLocationX ", std::span<const float>(at::XSTA.data(), n));
  io.write(LEVEL_UNIT, column_reals, "   :ColumnLocationY ", std::span<const float>(at::YSTA.data(), n));
  write_literal_lines(io, LEVEL_UNIT, kHeaderEnd);

  // Every hour starts missing: the same line, built once.
  const std::vector<float> missing(n, MISSING_VALUE);
  const std::span<const float> row(missing);
  if (rs.HOUR_COUNT > 0)
    io.write_repeated(LEVEL_UNIT, static_cast<std::size_t>(rs.HOUR_COUNT), data_line(), row);

  // A write that fails while the file is written out ends the run (failure 38)
  // and leaves no file behind; a close that succeeds leaves status 0.
  io.close(LEVEL_UNIT);
  rs.IOS = 0;
}

void load_level_file(RunState& rs) {
  rec::Units& io = rs.io;
  // Only read: the file is left as it is, whatever ends the run.
  io.open(rec::checked(LEVEL_LOAD_UNIT, rs.IOS), rs.OUTPUTFILENAME.view(), rec::OpenStatus::Unknown, kReplaceWhole);
  if (rs.IOS != 0) {
    io.print(kConsole, "Problems opening :", rs.OUTPUTFILENAME.sub(1, 40));
    rec::stop("Program aborted @ 42");
  }
  skip_header(rs, LEVEL_LOAD_UNIT);
  // Each read starts on a new line and takes the first n values; too few
  // values in the file end the run (failure 24), a bad token with its failure.
  for (std::int32_t j = 1; j <= rs.HOUR_COUNT; ++j) io.read_list(LEVEL_LOAD_UNIT, rs.LEVEL.row(j));
  io.close(LEVEL_LOAD_UNIT);
}

}  // namespace

void year_table_setup(RunState& rs) {
  try {
    rs.LEVEL.allocate(YEAR_TABLE_ROWS, rs.STATION_COUNT, MISSING_VALUE);
  } catch (const std::bad_alloc&) {
    rec::stop("**Allocation failed for level**");
  }
  rs.io.print(kConsole, rs.OUTPUTFILENAME);
}

void create_or_load(RunState& rs) {
  // Runs that share the yearly level file take turns from here on, wherever
  // they started: one that began later waits before it looks at the file.
  rec::Units::hold_while_replacing(rs.OUTPUTFILENAME.view());
  rs.EXISTS = rec::Units::exists(rs.OUTPUTFILENAME.view());
  if (rs.EXISTS) {
    load_level_file(rs);
  } else {
    create_level_file(rs);
  }
}

void rewrite(RunState& rs) {
  rec::Units& io = rs.io;
  const int n = rs.LEVEL.columns();

  io.open(rec::checked(LEVEL_LOAD_UNIT, rs.IOS), rs.OUTPUTFILENAME.view(), rec::OpenStatus::Unknown, kReplaceWhole);
  if (rs.IOS != 0) {
    io.print(kConsole, "Problems opening :", rs.OUTPUTFILENAME.sub(1, 40));
    rec::stop("Program aborted @ 336");
  }
  io.print(kConsole, "Parsing the  level\\yyyymmdd_lvl.tb0 file header");
  skip_header(rs, LEVEL_LOAD_UNIT);
  io.print(kConsole, "Writing the data to ", rs.OUTPUTFILENAME.sub(1, 40));

  // The first line written ends the file after the header: the old data lines
  // are replaced by exactly HOUR_COUNT new ones, each its row of levels plus
  // the offsets.
  const std::size_t width = static_cast<std::size_t>(std::max(n, 0));
  const std::span<const float> offset(rs.OFFSET.data(), width);
  std::array<float, MAX_LOCATIONS> shifted;
  const std::span<const float> line(shifted.data(), width);
  for (std::int32_t j = 1; j <= rs.HOUR_COUNT; ++j) {
    const std::span<const float> level = std::as_const(rs.LEVEL).row(j);
    for (std::size_t i = 0; i < width; ++i) shifted[i] = level[i] + offset[i];
    io.write(LEVEL_LOAD_UNIT, data_line(), line);
  }
  io.close(LEVEL_LOAD_UNIT);
  io.close(DEBUG_UNIT);
}

}  // namespace orvistad

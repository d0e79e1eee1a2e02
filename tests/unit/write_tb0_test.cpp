// The tb0 writer: the header of header mode for every projection, the open
// failure, and the data lines of data mode for every data format code.
#include "write_tb0.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "area_tarvello.h"
#include "local_clock.h"

namespace {

namespace at = area_tarvello;
namespace fs = std::filesystem;
using tarvello::Text;

std::string blanks(std::size_t n) { return std::string(n, ' '); }
std::string zeros(std::size_t n) { return std::string(n, '\0'); }
std::string comment() { return "#" + blanks(39); }

std::string crlf(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) s += l + "\r\n";
  return s;
}

// The lines of a file, without their CR LF; a file that does not end each
// line with CR LF gives a last element that shows it.
std::vector<std::string> lines_of(const std::string& bytes) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < bytes.size()) {
    std::size_t end = bytes.find("\r\n", at);
    if (end == std::string::npos) {
      lines.push_back("<no CR LF>" + bytes.substr(at));
      break;
    }
    lines.push_back(bytes.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

std::string read_file(const std::string& name) {
  std::ifstream f(name, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

// Every shared variable back in its state at process start, except for the
// file-name table, which holds its 999 entries as in a run.
void reset_shared_data() {
  at::FLN.assign(999, Text<256>{});
  at::GNAME.clear();
  at::COLUMN_UNITS.clear();
  at::COLUMN_TYPE.clear();
  at::XSTA.clear();
  at::YSTA.clear();
  at::XSTA1.clear();
  at::YSTA1.clear();
  at::OUTARRAY = tarvello::RealTable{};
  at::COORDSYS_TEMP = Text<10>{};
  at::ELLIPSOID = Text<10>{};
  at::WRITTEN_BY = Text<40>{};
  at::SERIES_NAME = Text<40>{};
  at::SOURCE_FILE_NAME = Text<30>{};
  at::NO_DATA_VALUE = 0.0f;
  at::UNIT_CONVERSION = 0.0f;
  at::DELTA_T = 0;
  at::UTM_ZONE = 0;
  at::START_YEAR = at::START_MONTH = at::START_DAY = at::START_HOUR = 0;
  at::TB0_COLUMN_COUNT = 0;
  at::TB0_ROW_COUNT = 0;
  at::HAS_SECOND_LOCATION = 0;
}

// What the end of a run left on the console and standard error.
struct Ending {
  std::string out;
  std::string err;
  int status;
};

// Each case runs in a fresh working directory with its own unit table.
class WriteTb0 : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_shared_data();
    std::string templ = (fs::temp_directory_path() / "write-tb0-XXXXXX").string();
    ASSERT_NE(::mkdtemp(templ.data()), nullptr);
    dir_ = templ;
    home_ = fs::current_path();
    fs::current_path(dir_);
    io_ = std::make_unique<rec::Units>();
  }
  void TearDown() override {
    if (io_) finish();
    fs::current_path(home_);
    fs::remove_all(dir_);
    reset_shared_data();
  }

  rec::Units& io() { return *io_; }

  // Ends the run: every unit written out and closed, the console and
  // standard error captured.
  Ending finish(const rec::RunEnd* ending = nullptr) {
    std::fflush(stdout);
    std::fflush(stderr);
    const std::string out_name = dir_ + ".out";
    const std::string err_name = dir_ + ".err";
    int saved_out = ::dup(STDOUT_FILENO);
    int saved_err = ::dup(STDERR_FILENO);
    int out = ::open(out_name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = ::open(err_name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    Ending e{};
    e.status = io_->end_run(ending);
    ::dup2(saved_out, STDOUT_FILENO);
    ::dup2(saved_err, STDERR_FILENO);
    ::close(saved_out);
    ::close(saved_err);
    ::close(out);
    ::close(err);
    io_.reset();
    e.out = read_file(out_name);
    e.err = read_file(err_name);
    fs::remove(out_name);
    fs::remove(err_name);
    return e;
  }

  std::string dir_;
  fs::path home_;
  std::unique_ptr<rec::Units> io_;
};

// ---------------------------------------------------------------- header mode

// Two locations whose coordinates show the field of each projection.
void two_columns() {
  at::GNAME = {Text<12>("Gimli"), Text<12>("VictoriaBch1")};
  at::COLUMN_UNITS = {Text<10>("masl"), Text<10>("masl")};
  at::COLUMN_TYPE = {Text<10>("float"), Text<10>("float")};
  at::XSTA = {-97.5f, 1234.25f};
  at::YSTA = {49.125f, -0.5f};
  at::XSTA1 = {0.03125f, -12345.5f};
  at::YSTA1 = {1.0e9f, 2.0f};
}

// The settings of the placeholder files, with the projection under test.
void placeholder_settings(std::string_view projection) {
  at::ELLIPSOID = "NAD83";
  at::COORDSYS_TEMP = projection;
  at::DELTA_T = 1;
  at::UNIT_CONVERSION = 1.0f;
  at::NO_DATA_VALUE = -999.0f;
  at::WRITTEN_BY = "Orvistad.exe";
  at::fln(99) = "regl_lvl.tb0";
}

enum class Field { F12_4, F12_2, F10_0 };

// The location values of two_columns() in each field, values after the keyword.
struct Locations {
  std::string x, y, x1, y1;
};
Locations locations_in(Field f) {
  switch (f) {
    case Field::F12_4:
      return {"    -97.5000   1234.2500", "     49.1250     -0.5000", "      0.0312 -12345.5000",
              "************      2.0000"};
    case Field::F12_2:
      return {"      -97.50     1234.25", "       49.12       -0.50", "        0.03   -12345.50",
              "************        2.00"};
    case Field::F10_0:
      break;
  }
  return {"      -98.     1234.", "       49.       -0.", "", ""};
}

// The creation line of a clock reading.
std::string creation_line() {
  Text<8> cday;
  Text<10> time;
  tarvello::read_local_clock(cday, time);
  return ":CreationDate       " + std::string(cday.sub(1, 4)) + "-" + std::string(cday.sub(5, 6)) + "-" +
         std::string(cday.sub(7, 8)) + "  " + std::string(time.sub(1, 2)) + ":" + std::string(time.sub(3, 4));
}

// Writes a header and returns its lines; the creation line, which comes from
// the running clock, must be that of a reading just before or just after.
std::vector<std::string> header_of(rec::Units& io, std::int32_t n, std::string& creation) {
  const std::string before = creation_line();
  tarvello::WRITE_TB0(io, 99, 99, 1, n, 13);
  const std::string after = creation_line();
  io.close(99);
  std::vector<std::string> lines = lines_of(read_file("regl_lvl.tb0"));
  creation = lines.size() > 8 ? lines[8] : "";
  EXPECT_TRUE(creation == before || creation == after) << creation << " is neither " << before << " nor " << after;
  return lines;
}

struct ProjectionCase {
  const char* label;
  std::string_view stored;      // COORDSYS_TEMP before the call, 10 characters
  std::int32_t second;          // HAS_SECOND_LOCATION
  std::string_view normalised;  // COORDSYS_TEMP after it
  bool ellipsoid;
  bool zone;
  Field first;
  Field second_field;
  std::size_t lines;
};

TEST_F(WriteTb0, HeaderFollowsTheProjection) {
  const ProjectionCase cases[] = {
      {"LatLong", "LatLong   ", 0, "LATLONG   ", true, false, Field::F12_4, Field::F12_4, 35},
      {"LatLong, second locations", "LatLong   ", 1, "LATLONG   ", true, false, Field::F12_4, Field::F12_4, 37},
      {"LATLONG", "LATLONG   ", 0, "LATLONG   ", true, false, Field::F12_4, Field::F12_4, 35},
      {"LATLONG with a tail", "LATLONGxyz", 1, "LATLONGxyz", true, false, Field::F12_2, Field::F12_2, 37},
      {"LatLong with a tail", "LatLongABC", 0, "LatLongABC", true, false, Field::F12_4, Field::F12_4, 35},
      {"lower-case latlong", "latlong   ", 0, "latlong   ", false, false, Field::F12_2, Field::F12_2, 34},
      {"Cartesian", "Cartesian ", 0, "CARTESIAN ", false, false, Field::F12_2, Field::F12_2, 34},
      {"Cartesian with a tail", "Cartesian1", 0, "Cartesian1", false, false, Field::F12_2, Field::F12_2, 34},
      {"UTM", "UTM17N    ", 0, "UTM17N    ", true, true, Field::F12_2, Field::F12_2, 36},
      {"Lambert", "Lambert   ", 0, "Lambert   ", false, false, Field::F10_0, Field::F12_2, 34},
      {"Lambert, second locations", "LambertCC ", 1, "LambertCC ", false, false, Field::F10_0, Field::F12_2, 36},
      {"second location word with its lowest bit clear", "LatLong   ", 2, "LATLONG   ", true, false,
       Field::F12_4, Field::F12_4, 35},
      {"never assigned", std::string_view("\0\0\0\0\0\0\0\0\0\0", 10), 0, std::string_view("\0\0\0\0\0\0\0\0\0\0", 10),
       false, false, Field::F12_2, Field::F12_2, 34},
  };
  for (const ProjectionCase& c : cases) {
    SCOPED_TRACE(c.label);
    reset_shared_data();
    two_columns();
    placeholder_settings(c.stored);
    at::UTM_ZONE = 17;
    at::HAS_SECOND_LOCATION = c.second;

    std::string creation;
    const std::vector<std::string> lines = header_of(io(), 2, creation);
    EXPECT_EQ(at::COORDSYS_TEMP.view(), c.normalised);

    const Locations first = locations_in(c.first);
    const Locations second = locations_in(c.second_field);
    std::vector<std::string> expected = {
        std::string(40, '#'),
        ":FileType tb0  ASCII  EnSim 1.0" + blanks(9),
        comment(),
        "# DataType               Time Series" + blanks(4),
        comment(),
        ":Application             TARVELLO" + blanks(7),
        ":Version                 2.1.23" + blanks(9),
        ":WrittenBy          Orvistad.exe" + blanks(28),
        creation,
        comment(),
        "#" + std::string(39, '-'),
        ":SourceFile         " + blanks(10) + zeros(30),
        comment(),
        ":Name               " + zeros(40),
        comment(),
        ":NoDataValue            -999.0",
        ":Projection         " + std::string(c.normalised),
    };
    if (c.ellipsoid) expected.push_back(":Ellipsoid          NAD83     ");
    if (c.zone) expected.push_back(":Zone               " + blanks(14) + "17");
    const std::vector<std::string> middle = {
        comment(),
        ":StartDate          0000/00/00  00:00:00",
        ":deltaT                      1",
        ":UnitConversion            1.0000000",
        comment(),
        ":ColumnMetaData" + blanks(25),
        "      :ColumnUnits     masl        masl     ",
        "      :ColumnType      float       float    ",
        "      :ColumnName      Gimli       VictoriaB",
        "   :ColumnLocationX " + first.x,
        "   :ColumnLocationY " + first.y,
    };
    expected.insert(expected.end(), middle.begin(), middle.end());
    if (c.second & 1) {
      expected.push_back("   :ColumnLocationX1" + second.x1);
      expected.push_back("   :ColumnLocationY1" + second.y1);
    }
    for (const char* k : {"1", "2", "3", "4"})
      expected.push_back(std::string("    :Coeff") + k + "                 0.00        0.00");
    expected.push_back("    :Value1                    1           1");
    expected.push_back(":endHeader" + blanks(30));

    EXPECT_EQ(lines, expected);
    EXPECT_EQ(lines.size(), c.lines);
    // The whole file, CR LF included.
    EXPECT_EQ(read_file("regl_lvl.tb0"), crlf(expected));
  }
}

TEST_F(WriteTb0, HeaderWritesAssignedSettingsInTheirFields) {
  two_columns();
  placeholder_settings("LatLong");
  at::SOURCE_FILE_NAME = "hourlysrc.txt";
  at::SERIES_NAME = "Lake levels";
  at::START_YEAR = 2024;
  at::START_MONTH = 123;  // too wide for I2.2
  at::START_DAY = 1;
  at::START_HOUR = 6;
  at::DELTA_T = 24;
  at::UNIT_CONVERSION = 0.3048f;
  at::NO_DATA_VALUE = -99999.0f;

  std::string creation;
  const std::vector<std::string> lines = header_of(io(), 2, creation);
  ASSERT_EQ(lines.size(), 35u);
  EXPECT_EQ(lines[11], ":SourceFile         " + blanks(10) + "hourlysrc.txt" + blanks(17));
  EXPECT_EQ(lines[13], ":Name               Lake levels" + blanks(29));
  EXPECT_EQ(lines[15], ":NoDataValue          -99999.0");
  EXPECT_EQ(lines[19], ":StartDate          2024/**/01  06:00:00");
  EXPECT_EQ(lines[20], ":deltaT                     24");
  EXPECT_EQ(lines[21], ":UnitConversion            0.3048000");
}

TEST_F(WriteTb0, ColumnLinesHoldCountEntries) {
  struct CountCase {
    std::int32_t n;
    std::vector<std::string> column_lines;  // the per-column lines
  };
  const CountCase cases[] = {
      {1,
       {"      :ColumnUnits     masl     ", "      :ColumnType      float    ", "      :ColumnName      Gimli    ",
        "   :ColumnLocationX     -97.5000", "   :ColumnLocationY      49.1250",
        "    :Coeff1                 0.00", "    :Coeff2                 0.00", "    :Coeff3                 0.00",
        "    :Coeff4                 0.00", "    :Value1                    1"}},
      {0,
       {"      :ColumnUnits     ", "      :ColumnType      ", "      :ColumnName      ", "   :ColumnLocationX ",
        "   :ColumnLocationY ", "    :Coeff1         ", "    :Coeff2         ", "    :Coeff3         ",
        "    :Coeff4         ", "    :Value1         "}},
      {-4,
       {"      :ColumnUnits     ", "      :ColumnType      ", "      :ColumnName      ", "   :ColumnLocationX ",
        "   :ColumnLocationY ", "    :Coeff1         ", "    :Coeff2         ", "    :Coeff3         ",
        "    :Coeff4         ", "    :Value1         "}},
  };
  for (const CountCase& c : cases) {
    SCOPED_TRACE(c.n);
    reset_shared_data();
    two_columns();  // the arrays hold two entries; the count alone decides
    placeholder_settings("LatLong   ");
    std::string creation;
    const std::vector<std::string> lines = header_of(io(), c.n, creation);
    ASSERT_EQ(lines.size(), 35u);
    // With one ":Ellipsoid" line the column block starts at the 25th line.
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 22, lines.begin() + 24),
              (std::vector<std::string>{comment(), ":ColumnMetaData" + blanks(25)}));
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 24, lines.begin() + 34), c.column_lines);
    EXPECT_EQ(lines[34], ":endHeader" + blanks(30));
  }
}

TEST_F(WriteTb0, HeaderReplacesAnExistingFileAndReportsTheOpen) {
  // A name longer than the 40 characters that the console line shows.
  const std::string name = "placeholder_level_file_for_the_lake_domain.tb0";
  {
    std::ofstream old(name, std::ios::binary);
    old << std::string(200000, 'x') << "\r\n";
  }
  // The unit is still connected to another file, which the open closes and keeps.
  io().open(99, "source.txt", rec::OpenStatus::Unknown);
  static const rec::Format line("(A)");
  io().write(99, line, "a source record");
  two_columns();
  placeholder_settings("LatLong");
  at::fln(99) = name;

  tarvello::WRITE_TB0(io(), 99, 99, 1, 2, 13);
  io().close(99);
  const Ending e = finish();

  EXPECT_EQ(e.out, " Opened unit=          99  filename=" + name.substr(0, 40) + "\r\n");
  EXPECT_EQ(read_file("source.txt"), "a source record\r\n");
  const std::vector<std::string> lines = lines_of(read_file(name));
  ASSERT_EQ(lines.size(), 35u);
  EXPECT_EQ(lines[0], std::string(40, '#'));
  EXPECT_EQ(lines[34], ":endHeader" + blanks(30));
}

TEST_F(WriteTb0, OpenFailureWritesFiveLinesAndStops) {
  struct FailureCase {
    const char* label;
    std::int32_t index;
    const char* name;
    std::string shown;  // the first 60 characters of the name
  };
  const FailureCase cases[] = {
      {"missing directory", 99, "missing\\regl_lvl.tb0", "missing\\regl_lvl.tb0" + blanks(40)},
      {"index without a file-name entry", 1000, "", blanks(60)},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.label);
    if (!io_) io_ = std::make_unique<rec::Units>();
    reset_shared_data();
    two_columns();
    placeholder_settings("LatLong   ");
    if (c.index == 99) at::fln(99) = c.name;
    // A file written before on the same unit stays as it was written.
    io().open(99, "before.txt", rec::OpenStatus::Unknown);
    static const rec::Format line("(A)");
    io().write(99, line, "written before");

    bool stopped = false;
    rec::RunEnd ending{};
    try {
      tarvello::WRITE_TB0(io(), 99, c.index, 1, 2, 13);
    } catch (const rec::RunEnd& end) {
      stopped = true;
      ending = end;
    }
    ASSERT_TRUE(stopped);
    // The projection was normalised before the open.
    EXPECT_EQ(at::COORDSYS_TEMP.view(), "LATLONG   ");
    const Ending e = finish(&ending);
    EXPECT_EQ(e.out, " \r\n"
                     " Unable to open file" + c.shown + "\r\n"
                     " Possible cause(s):\r\n"
                     " file in use by another application\r\n"
                     " or target directory does not exist\r\n");
    EXPECT_EQ(e.err, "Program aborted in write_tb0 @ 52\r\n");
    EXPECT_EQ(e.status, 1);
    EXPECT_EQ(read_file("before.txt"), "written before\r\n");
    EXPECT_FALSE(fs::exists("missing"));
  }
}

// ---------------------------------------------------------------- data mode

// Data mode on a unit opened here; returns the file.
std::string data_lines(rec::Units& io, std::int32_t code) {
  io.open(20, "data.tb0", rec::OpenStatus::Unknown);
  tarvello::WRITE_TB0(io, 20, 0, 0, 0, code);
  io.close(20);
  return read_file("data.tb0");
}

TEST_F(WriteTb0, DataLinesInEveryFormatCode) {
  struct CodeCase {
    std::int32_t code;
    std::vector<std::string> fields;  // -999.0, 183.25, 0.0, 1234567.0
  };
  const std::vector<std::string> e12_6 = {"-.999000E+03", "0.183250E+03", "0.000000E+00", "0.123457E+07"};
  const CodeCase cases[] = {
      {0, {"-999.", " 183.", "   0.", "*****"}},
      {1, {"*****", "183.2", "  0.0", "*****"}},
      {2, {"*****", "*****", " 0.00", "*****"}},
      {3, {"******", "******", " 0.000", "******"}},
      {4, {"*******", "*******", " 0.0000", "*******"}},
      {5, {"********", "********", " 0.00000", "********"}},
      {6, {"*********", "*********", " 0.000000", "*********"}},
      {7, e12_6},
      {8, {"-0.999E+03", " 0.183E+03", " 0.000E+00", " 0.123E+07"}},
      {9, e12_6},
      {10, {"     -999.", "      183.", "        0.", "  1234567."}},
      {11, {"-999.000", " 183.250", "   0.000", "********"}},
      {12, {" -999.000", "  183.250", "    0.000", "*********"}},
      {13, {" -999.000", "  183.250", "    0.000", "*********"}},
      {14, {"   -999.000", "    183.250", "      0.000", "1234567.000"}},
      {15, e12_6},
      {-1, e12_6},
      {std::numeric_limits<std::int32_t>::min(), e12_6},
  };
  for (const CodeCase& c : cases) {
    SCOPED_TRACE(c.code);
    at::OUTARRAY.allocate(1, 4);
    at::OUTARRAY(1, 1) = -999.0f;
    at::OUTARRAY(1, 2) = 183.25f;
    at::OUTARRAY(1, 3) = 0.0f;
    at::OUTARRAY(1, 4) = 1234567.0f;
    at::TB0_ROW_COUNT = 1;
    at::TB0_COLUMN_COUNT = 4;
    std::string line = blanks(20);
    for (const std::string& f : c.fields) line += " " + f;
    EXPECT_EQ(data_lines(io(), c.code), line + "\r\n");
  }
}

TEST_F(WriteTb0, DataLinesTakeRowsAndColumnsFromTheCounts) {
  struct CountCase {
    const char* label;
    std::int32_t rows;
    std::int32_t columns;
    std::string expected;
  };
  const std::string first = blanks(20) + " " + "     11.000";
  const std::string second = blanks(20) + " " + "     21.000";
  const CountCase cases[] = {
      {"no rows", 0, 3, ""},
      {"negative rows", -2, 3, ""},
      {"no columns", 2, 0, "\r\n\r\n"},
      {"negative columns", 1, -3, "\r\n"},
      {"the first rows and columns of the block", 2, 1, first + "\r\n" + second + "\r\n"},
  };
  for (const CountCase& c : cases) {
    SCOPED_TRACE(c.label);
    // A block of 5 rows and 3 columns: row r, column c holds 10r + c.
    at::OUTARRAY.allocate(5, 3);
    for (int r = 1; r <= 5; ++r)
      for (int k = 1; k <= 3; ++k) at::OUTARRAY(r, k) = static_cast<float>(10 * r + k);
    at::TB0_ROW_COUNT = c.rows;
    at::TB0_COLUMN_COUNT = c.columns;
    EXPECT_EQ(data_lines(io(), 14), c.expected);
  }
}

TEST_F(WriteTb0, DataLinesPastTheGroupCountGoOnWithoutTheLeadingField) {
  for (std::int32_t columns : {10000, 19999}) {
    SCOPED_TRACE(columns);
    // Row r holds r in every column but the last, which holds r + 5.
    at::OUTARRAY.allocate(2, columns);
    for (int r = 1; r <= 2; ++r) {
      for (int k = 1; k <= columns; ++k) at::OUTARRAY(r, k) = static_cast<float>(r);
      at::OUTARRAY(r, columns) = static_cast<float>(r + 5);
    }
    at::TB0_ROW_COUNT = 2;
    at::TB0_COLUMN_COUNT = columns;

    // Each row starts a line with the 20 blanks; after every 9999 values the
    // line ends and the next begins with the blank of its first value.
    std::string expected;
    for (int r = 1; r <= 2; ++r) {
      const std::string value = "    " + std::to_string(r) + ".";
      const std::string last = "    " + std::to_string(r + 5) + ".";
      expected += blanks(20);
      for (int k = 1; k <= columns; ++k) {
        expected += k == columns ? last : value;
        if (k % 9999 == 0 || k == columns) expected += "\r\n";
      }
    }
    EXPECT_EQ(data_lines(io(), 0), expected);
  }
}

}  // namespace

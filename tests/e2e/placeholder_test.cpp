// The three placeholder level files at the end of a run: their bytes, the
// console lines of their opens and closes, and a run whose level directory is
// missing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness.h"

namespace {

using e2e::blanks;
using e2e::crlf;

struct Location {
  const char* key;      // configuration key and hourly source column
  const char* station;  // station list line
  const char* name;     // the first 9 characters of the station name
  const char* x;        // longitude and latitude in F12.4
  const char* y;
};

const Location kGimli = {"GIMLI", "-97.1250 50.5625 Gimli", "Gimli", "    -97.1250", "     50.5625"};
const Location kGeorge = {"GEORGEISLAND", "-96.5 52 GeorgeIsland", "GeorgeIsl", "    -96.5000", "     52.0000"};

// A working directory with a configuration of the given locations, their
// station list and an hourly source file with one record.
void write_inputs(const e2e::WorkDir& wd, const std::vector<Location>& locations,
                  const std::string& yearly_file = "level\\2024_lvl.tb0") {
  std::vector<std::string> config = {"Lake Winnipeg hourly levels", "Hourly src  hourlysrc.txt",
                                     "Yearly lvl  " + yearly_file,
                                     "Stations    " + std::to_string(locations.size()), "Key         Offset"};
  std::vector<std::string> stations;
  std::string header;
  std::string record = "2024-01-01 01:00";
  for (const Location& l : locations) {
    config.push_back(std::string(l.key) + " 0.0");
    stations.push_back(l.station);
    header += std::string(header.empty() ? "" : " ") + l.key;
    record += " 217.5";
  }
  wd.write("2024_Orvistad.cfg", crlf(config));
  wd.write("level_station_list.xyz", crlf(stations));
  wd.write("hourlysrc.txt", crlf({header, record}));
}

// A placeholder file as the run writes it with the clock at 2024-03-03 14:05:
// the 35 header lines, then `rows` lines of -999.0 in the value field.
std::string placeholder(const std::vector<Location>& locations, int rows, const std::string& value) {
  std::string units = "      :ColumnUnits     ";
  std::string types = "      :ColumnType      ";
  std::string names = "      :ColumnName      ";
  std::string xs = "   :ColumnLocationX ";
  std::string ys = "   :ColumnLocationY ";
  std::string coeff;
  std::string ones;
  std::string data = blanks(20);
  for (std::size_t i = 0; i < locations.size(); ++i) {
    // Three blanks between the text entries, none after the last.
    const std::string gap = i + 1 < locations.size() ? blanks(3) : "";
    units += "masl     " + gap;
    types += "float    " + gap;
    std::string name = locations[i].name;
    names += name + blanks(9 - name.size()) + gap;
    xs += locations[i].x;
    ys += locations[i].y;
    coeff += blanks(8) + "0.00";
    ones += blanks(11) + "1";
    data += " " + value;
  }
  std::vector<std::string> lines = {
      std::string(40, '#'),
      ":FileType tb0  ASCII  EnSim 1.0" + blanks(9),
      "#" + blanks(39),
      "# DataType               Time Series" + blanks(4),
      "#" + blanks(39),
      ":Application             TARVELLO" + blanks(7),
      ":Version                 2.1.23" + blanks(9),
      ":WrittenBy          Orvistad.exe" + blanks(28),
      ":CreationDate       2024-03-03  14:05",
      "#" + blanks(39),
      "#" + std::string(39, '-'),
      ":SourceFile         " + blanks(10) + std::string(30, '\0'),
      "#" + blanks(39),
      ":Name               " + std::string(40, '\0'),
      "#" + blanks(39),
      ":NoDataValue            -999.0",
      ":Projection         LATLONG   ",
      ":Ellipsoid          NAD83     ",
      "#" + blanks(39),
      ":StartDate          0000/00/00  00:00:00",
      ":deltaT                      1",
      ":UnitConversion            1.0000000",
      "#" + blanks(39),
      ":ColumnMetaData" + blanks(25),
      units,
      types,
      names,
      xs,
      ys,
      "    :Coeff1         " + coeff,
      "    :Coeff2         " + coeff,
      "    :Coeff3         " + coeff,
      "    :Coeff4         " + coeff,
      "    :Value1         " + ones,
      ":endHeader" + blanks(30),
  };
  for (int r = 0; r < rows; ++r) lines.push_back(data);
  return crlf(lines);
}

// The last line of a file, without its CR LF.
std::string last_line(const std::string& bytes) {
  const std::size_t end = bytes.size() - 2;
  const std::size_t begin = bytes.rfind("\r\n", end - 1);
  return bytes.substr(begin + 2, end - begin - 2);
}

// The console lines of the three files: each open, then its close.
std::string open_and_close_lines() {
  std::string s;
  for (std::string name : {"level\\regl_lvl.tb0", "level\\glb_lvl.tb0", "level\\climate_lvl.tb0"}) {
    s += " Opened unit=          99  filename=" + name + blanks(40 - name.size()) + "\r\n";
    s += " Closed " + name + blanks(72 - name.size()) + "\r\n";
  }
  return s;
}

TEST(Placeholder, ThreeFilesOfMissingValues) {
  struct RunCase {
    const char* label;
    std::vector<Location> locations;
    std::size_t short_line;  // data line lengths of the regional file and the other two
    std::size_t long_line;
  };
  const RunCase cases[] = {
      {"two locations", {kGimli, kGeorge}, 40, 44},
      {"one location", {kGimli}, 30, 32},
  };
  for (const RunCase& c : cases) {
    SCOPED_TRACE(c.label);
    e2e::WorkDir wd;
    write_inputs(wd, c.locations);
    // A file left by an earlier run is replaced whole.
    wd.write("level/glb_lvl.tb0", std::string(100000, 'x') + "\r\n");
    const std::string source = wd.read("hourlysrc.txt");

    const e2e::RunResult r = wd.run({"2024"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(wd.read("level/regl_lvl.tb0"), placeholder(c.locations, 48, " -999.000"));
    EXPECT_EQ(wd.read("level/glb_lvl.tb0"), placeholder(c.locations, 192, "   -999.000"));
    EXPECT_EQ(wd.read("level/climate_lvl.tb0"), placeholder(c.locations, 2160, "   -999.000"));
    // The line lengths follow from the value fields alone.
    const std::string regl = wd.read("level/regl_lvl.tb0");
    const std::string climate = wd.read("level/climate_lvl.tb0");
    EXPECT_EQ(last_line(regl).size(), c.short_line);
    EXPECT_EQ(last_line(climate).size(), c.long_line);
    // The six console lines come as one block, and only once.
    const std::string block = open_and_close_lines();
    const std::size_t at = r.out.find(block);
    EXPECT_NE(at, std::string::npos) << e2e::visible(r.out);
    EXPECT_EQ(r.out.find(" Opened unit="), at);
    EXPECT_EQ(r.out.find(" Opened unit=", at + block.size()), std::string::npos);
    // Reconnecting unit 99 closed the hourly source file and kept it.
    EXPECT_EQ(wd.read("hourlysrc.txt"), source);
  }
}

TEST(Placeholder, MissingLevelDirectoryStopsTheRun) {
  // Two runs with the same inputs, the yearly level file outside `level`:
  // one with the directory and one without it.
  e2e::WorkDir complete;
  write_inputs(complete, {kGimli, kGeorge}, "2024_lvl.tb0");
  const e2e::RunResult whole = complete.run({"2024"});
  ASSERT_EQ(whole.status, 0) << whole.err;

  e2e::WorkDir wd(false);
  wd.mkdir("debug");
  write_inputs(wd, {kGimli, kGeorge}, "2024_lvl.tb0");
  const e2e::RunResult r = wd.run({"2024"});

  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Program aborted in write_tb0 @ 52\r\n");
  const std::string failure = " \r\n"
                              " Unable to open filelevel\\regl_lvl.tb0" + blanks(42) + "\r\n"
                              " Possible cause(s):\r\n"
                              " file in use by another application\r\n"
                              " or target directory does not exist\r\n";
  ASSERT_GE(r.out.size(), failure.size());
  EXPECT_EQ(r.out.substr(r.out.size() - failure.size()), failure) << e2e::visible(r.out);
  EXPECT_EQ(r.out.find(" Opened unit="), std::string::npos);
  EXPECT_FALSE(wd.exists("level"));
  // What the run wrote before the stop is kept as a complete run writes it.
  for (const char* name : {"2024_lvl.tb0", "fort.600", "debug/missing PC data", "hourlysrc.txt"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(wd.exists(name));
    EXPECT_EQ(wd.read(name), complete.read(name));
  }
  // The run report has its started line and no ending line.
  EXPECT_EQ(wd.read("runReport.txt").find("normal ending"), std::string::npos);
}

}  // namespace

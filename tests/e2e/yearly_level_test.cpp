// The yearly level file: its creation with the full header, the load and the
// rewrite of its data lines with the offsets, the header skip, the failures
// of the load and of the creation, and that the file is replaced whole (a run
// killed or refused a write in the middle leaves the previous file).
//
// Every run here uses an hourly source file whose column names match no
// configured key, so that nothing is merged into the year table: the yearly
// file shows only what the load and the rewrite make of it.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"

namespace {

namespace fs = std::filesystem;
using e2e::blanks;
using e2e::crlf;

// The text cut or padded with blanks to n characters, as a fixed-length field holds it.
std::string field(std::string s, std::size_t n) {
  s.resize(n, ' ');
  return s;
}

std::string fixed(double value, int width, int decimals) {
  // Only values that are exact in binary with at most `decimals` decimals are
  // used, so no rounding rule is involved.
  char buf[64];
  std::snprintf(buf, sizeof buf, "%*.*f", width, decimals, value);
  return buf;
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find("\r\n", at);
    if (end == std::string::npos) {
      lines.push_back(text.substr(at));
      break;
    }
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

// The console shows each block as consecutive whole lines, the blocks in this
// order (other steps' lines may stand between blocks).
void expect_blocks(const std::string& out, const std::vector<std::vector<std::string>>& blocks) {
  const std::vector<std::string> lines = split_lines(out);
  std::size_t from = 0;
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    const auto& block = blocks[b];
    bool found = false;
    for (std::size_t at = from; at + block.size() <= lines.size() && !found; ++at) {
      if (std::equal(block.begin(), block.end(), lines.begin() + static_cast<std::ptrdiff_t>(at))) {
        found = true;
        from = at + block.size();
      }
    }
    if (!found) {
      ADD_FAILURE() << "console block " << b << " (first line \"" << (block.empty() ? "" : block[0])
                    << "\") missing; console:\n"
                    << e2e::visible(out.substr(0, 20000));
      return;
    }
  }
}

// ---------------------------------------------------------------------------
// Fixtures.

struct Location {
  std::string key;
  std::string offset;  // as written in the configuration
  double x, y;
  std::string name;
};

constexpr const char* kSourceName = "hourlysrc.txt";
// Column names that no key below equals.
constexpr const char* kSource = "SRCA SRCB\n2024-01-01 01:00 5.0 6.0\n2024-01-01 02:00 5.5 6.5\n";

const std::vector<Location> kTwo = {
    {"LAKEA", "0.0", -80.5, 45.25, "Northbay"},
    {"LAKEB", "0.0", -81.125, 46.0, "Southport"},
};

std::string configuration(const std::string& source, const std::string& yearly,
                          const std::vector<Location>& locations) {
  std::string s = "Orvistad configuration\n";
  s += field("hourly", 12) + source + "\n";
  s += field("yearly", 12) + yearly + "\n";
  s += "locations " + std::to_string(locations.size()) + "\n";
  s += "key_offset\n";
  for (const Location& l : locations) s += l.key + " " + l.offset + "\n";
  return s;
}

std::string station_list(const std::vector<Location>& locations) {
  std::string s;
  for (const Location& l : locations) s += fixed(l.x, 0, 4) + " " + fixed(l.y, 0, 4) + " " + l.name + "\n";
  return s;
}

// Sets up a working directory for a run with argument `year`, the yearly file
// in its own directory "year".
void set_up(const e2e::WorkDir& wd, const std::string& year, const std::vector<Location>& locations,
            const std::string& yearly = "year\\lake_lvl.tb0", const std::string& source = kSourceName) {
  wd.mkdir("year");
  // The configuration is named by the year right-justified in four characters.
  wd.write(std::string(4 - year.size(), ' ') + year + "_Orvistad.cfg", configuration(source, yearly, locations));
  wd.write("level_station_list.xyz", station_list(locations));
  wd.write(source, kSource);
}

constexpr const char* kYearlyPath = "year/lake_lvl.tb0";

// What a new yearly file's header holds, line by line as its layout describes it.
struct HeaderFacts {
  std::string date;    // yyyy-mm-dd of the creation
  std::string time;    // hh:mm of the creation
  std::string source;  // the source file name as configured
  std::string year;    // the four characters of the start year
};

std::vector<std::string> header_lines(const HeaderFacts& h, const std::vector<Location>& locations) {
  const std::string hash_line = "#" + blanks(39);
  std::string units = blanks(3) + ":ColumnUnits" + blanks(5);
  std::string types = blanks(3) + ":ColumnType" + blanks(6);
  std::string names = blanks(3) + ":ColumnName" + blanks(6);
  std::string xs = blanks(3) + ":ColumnLocationX" + blanks(1);
  std::string ys = blanks(3) + ":ColumnLocationY" + blanks(1);
  for (const Location& l : locations) {
    units += "masl" + blanks(8);
    types += "float" + blanks(7);
    names += field(l.name, 12);
    xs += fixed(l.x, 12, 4);
    ys += fixed(l.y, 12, 4);
  }
  return {
      std::string(40, '#'),
      ":FileType tb0  ASCII  EnSim 1.0" + blanks(9),
      hash_line,
      "# DataType" + blanks(15) + "Time Series" + blanks(4),
      hash_line,
      ":Application" + blanks(13) + "EnSimHydrologic",
      ":Version" + blanks(17) + "2.1.23" + blanks(9),
      ":WrittenBy" + blanks(22) + "Orvistad",
      ":CreationDate" + blanks(7) + h.date + "  " + h.time,
      hash_line,
      "#" + std::string(39, '-'),
      ":SourceFile" + blanks(9) + field(h.source, 40),
      hash_line,
      ":Name" + blanks(31) + "junk",
      hash_line,
      ":Projection" + blanks(22) + "LatLong",
      ":Ellipsoid" + blanks(25) + "NAD83",
      hash_line,
      ":StartDate" + blanks(10) + h.year + "-01-01",
      ":StartTime" + blanks(25) + "00:00",
      hash_line,
      ":AttributeUnits" + blanks(19) + "1.00" + blanks(2),
      ":DeltaT" + blanks(16) + "1" + blanks(16),
      hash_line,
      ":ColumnMetaData" + blanks(25),
      units,
      types,
      names,
      xs,
      ys,
      ":endHeader" + blanks(30),
  };
}

// The first tokens of the lines of a new file's header, as the header skip echoes them.
const std::vector<std::string> kHeaderTokens = {
    std::string(40, '#'), ":FileType", "#", "#", "#", ":Application", ":Version", ":WrittenBy",
    ":CreationDate", "#", "#---------------------------------------", ":SourceFile", "#", ":Name", "#",
    ":Projection", ":Ellipsoid", "#", ":StartDate", ":StartTime", "#", ":AttributeUnits", ":DeltaT", "#",
    ":ColumnMetaData", ":ColumnUnits", ":ColumnType", ":ColumnName", ":ColumnLocationX", ":ColumnLocationY",
    ":endHeader"};

std::vector<std::string> echo_lines(const std::vector<std::string>& tokens) {
  std::vector<std::string> lines;
  for (const std::string& t : tokens) lines.push_back(" " + field(t, 60));
  return lines;
}

std::string data_line(const std::vector<double>& values) {
  std::string s = blanks(20);
  for (double v : values) s += fixed(v, 12, 3);
  return s;
}

// `hours` data lines, line j holding row(j).
std::string data_lines(int hours, const std::function<std::vector<double>(int)>& row) {
  std::string s;
  for (int j = 1; j <= hours; ++j) s += data_line(row(j)) + "\r\n";
  return s;
}

std::string header_of(const HeaderFacts& h, const std::vector<Location>& locations) {
  return crlf(header_lines(h, locations));
}

const HeaderFacts kFixtureHeader = {"2024-01-02", "03:04", kSourceName, "2024"};

// Console lines of the set-up echo of the 128-character name.
std::vector<std::string> setup_echo(const std::string& yearly) {
  const std::string name = field(yearly, 128);
  return {" " + name.substr(0, 79), " " + name.substr(79)};
}

std::vector<std::string> rewrite_block(const std::string& yearly, const std::vector<std::string>& echo) {
  std::vector<std::string> block = {" Parsing the  level\\yyyymmdd_lvl.tb0 file header"};
  block.insert(block.end(), echo.begin(), echo.end());
  block.push_back(" Writing the data to " + field(yearly, 40));
  return block;
}

std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::string absolute(const e2e::WorkDir& wd, const std::string& relative) {
  return fs::canonical(wd.path()).string() + "/" + relative;
}

// The files of the directory "year", by name.
std::map<std::string, std::string> year_dir(const e2e::WorkDir& wd) {
  std::map<std::string, std::string> files;
  for (const auto& [name, bytes] : wd.files())
    if (name.rfind("year/", 0) == 0) files[name] = bytes;
  return files;
}

std::string last_line(const std::string& text) {
  std::vector<std::string> lines = split_lines(text);
  return lines.empty() ? "" : lines.back();
}

// ---------------------------------------------------------------------------
// Runs of the program without the harness: under a file size limit, or killed.

struct Child {
  pid_t pid;
  std::string out_name, err_name;
};

// Starts the program in the working directory with the real clock. A
// `file_size_limit` above 0 makes every write past that size fail, as on a
// full disk.
Child start_program(const e2e::WorkDir& wd, const std::vector<std::string>& args, rlim_t file_size_limit,
                    const std::vector<std::string>& env = {}) {
  Child child{0, wd.path() + ".out", wd.path() + ".err"};
  child.pid = ::fork();
  if (child.pid < 0) throw std::runtime_error("fork failed");
  if (child.pid == 0) {
    int out = ::open(child.out_name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = ::open(child.err_name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (::chdir(wd.path().c_str()) != 0) ::_exit(127);
    ::setenv("TZ", "UTC", 1);
    ::unsetenv("FORT600");
    for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
    if (file_size_limit > 0) {
      ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
      rlimit limit{file_size_limit, file_size_limit};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    std::vector<std::string> argv_s = {ORVISTAD_BINARY};
    argv_s.insert(argv_s.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_s) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return child;
}

e2e::RunResult finish(const Child& child, int wstatus) {
  e2e::RunResult r;
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  auto slurp = [](const std::string& name) {
    std::FILE* f = std::fopen(name.c_str(), "rb");
    std::string s;
    if (f == nullptr) return s;
    char buf[65536];
    std::size_t k;
    while ((k = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, k);
    std::fclose(f);
    return s;
  };
  r.out = slurp(child.out_name);
  r.err = slurp(child.err_name);
  std::remove(child.out_name.c_str());
  std::remove(child.err_name.c_str());
  return r;
}

e2e::RunResult run_limited(const e2e::WorkDir& wd, const std::vector<std::string>& args, rlim_t limit,
                           const std::vector<std::string>& env) {
  Child child = start_program(wd, args, limit, env);
  int wstatus = 0;
  ::waitpid(child.pid, &wstatus, 0);
  return finish(child, wstatus);
}

// ---------------------------------------------------------------------------

TEST(YearlyLevel, NewFileForTwoLocations) {
  struct Case {
    std::string year, clock;
    int hours;
    std::string date, time, source;  // of the creation
    std::string start_date = date;   // of the run's first clock reading
  };
  const std::vector<Case> cases = {
      {"2024", e2e::kDefaultClock, 8784, "2024-03-03", "14:05", kSourceName},
      // Each clock reading moves the clock on by a minute: the run starts on
      // 3 March at 23:59 and creates the file at 00:00 on 4 March.
      {"2024", "@2024-03-03 23:59:00 i60,0", 8784, "2024-03-04", "00:00", kSourceName, "2024-03-03"},
      // A source name longer than the 40 characters that the header keeps.
      {"2025", "2025-11-30 09:41:59", 8760, "2025-11-30", "09:41",
       "readings_of_all_the_lake_gauges_2025_hourlysrc.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.clock);
    e2e::WorkDir wd;
    set_up(wd, c.year, kTwo, "year\\lake_lvl.tb0", c.source);
    e2e::RunResult r = wd.run({c.year}, c.clock);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");

    const std::vector<std::string> header = header_lines({c.date, c.time, c.source, c.year}, kTwo);
    EXPECT_EQ(header[25].size(), 44u);
    const std::string expected =
        crlf(header) + data_lines(c.hours, [](int) { return std::vector<double>{-999.0, -999.0}; });
    EXPECT_EQ(year_dir(wd), (std::map<std::string, std::string>{{kYearlyPath, expected}}));

    const std::string yearly = "year\\lake_lvl.tb0";
    expect_blocks(r.out, {concat(setup_echo(yearly), {" opened " + field(yearly, 40)}),
                          rewrite_block(yearly, echo_lines(kHeaderTokens))});
    // The time of the creation is the run's latest clock reading; the date stays the run's.
    EXPECT_EQ(last_line(wd.read("runReport.txt")),
              "Orvistad.exe - normal ending " + c.start_date + "  " + c.time);
  }
}

TEST(YearlyLevel, StartDateLineOfTheYearArgument) {
  struct Case {
    std::vector<std::string> args;
    std::string year_key;  // as the configuration file name holds it
    std::string start_year;
  };
  const std::vector<Case> cases = {
      {{"24"}, "24", "0024"},
      {{}, "0", "0000"},
      {{"-5"}, "-5", "****"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.year_key);
    e2e::WorkDir wd;
    set_up(wd, c.year_key, kTwo);
    e2e::RunResult r = wd.run(c.args);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> lines = split_lines(wd.read(kYearlyPath));
    ASSERT_GT(lines.size(), 31u);
    EXPECT_EQ(lines[18], ":StartDate" + blanks(10) + c.start_year + "-01-01");
  }
}

TEST(YearlyLevel, SecondRunLoadsAndRewritesUnderTheSameHeader) {
  e2e::WorkDir wd;
  std::vector<Location> locations = kTwo;
  locations[1].offset = "0.25";
  set_up(wd, "2024", locations);

  ASSERT_EQ(wd.run({"2024"}).status, 0);
  const std::string header = header_of({"2024-03-03", "14:05", kSourceName, "2024"}, locations);
  EXPECT_EQ(wd.read(kYearlyPath),
            header + data_lines(8784, [](int) { return std::vector<double>{-999.0, -998.75}; }));

  e2e::RunResult r = wd.run({"2024"}, "2024-03-04 08:10:00");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(year_dir(wd), (std::map<std::string, std::string>{
                              {kYearlyPath, header + data_lines(8784, [](int) {
                                              return std::vector<double>{-999.0, -998.5};
                                            })}}));
  const std::string yearly = "year\\lake_lvl.tb0";
  const std::vector<std::string> echo = echo_lines(kHeaderTokens);
  expect_blocks(r.out, {concat(setup_echo(yearly), echo), rewrite_block(yearly, echo)});
  // A load does not read the clock again.
  EXPECT_EQ(last_line(wd.read("runReport.txt")), "Orvistad.exe - normal ending 2024-03-04  08:10");
}

TEST(YearlyLevel, OffsetMovesEveryValueOnEveryRun) {
  e2e::WorkDir wd;
  std::vector<Location> locations = kTwo;
  locations[0].offset = "0.5";
  set_up(wd, "2024", locations);
  const std::string header = header_of(kFixtureHeader, locations);
  auto file_after = [&](int runs) {
    const double shift = 0.5 * runs;
    return header + data_lines(8784, [shift](int j) {
             return j == 1 ? std::vector<double>{100.0 + shift, 7.125}
                           : std::vector<double>{-999.0 + shift, -999.0};
           });
  };
  wd.write(kYearlyPath, file_after(0));
  for (int run = 1; run <= 3; ++run) {
    SCOPED_TRACE(run);
    e2e::RunResult r = wd.run({"2024"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(year_dir(wd), (std::map<std::string, std::string>{{kYearlyPath, file_after(run)}}));
    if (run == 2) {
      const std::vector<std::string> lines = split_lines(wd.read(kYearlyPath));
      EXPECT_EQ(lines[31], blanks(20) + "     101.000       7.125");
      EXPECT_EQ(lines[32], blanks(20) + "    -998.000    -999.000");
    }
  }
}

TEST(YearlyLevel, HeaderSkip) {
  struct Case {
    std::string name;
    std::string header;  // the bytes of the header lines
    std::vector<std::string> echoed;
  };
  const std::string std_end = "#" + blanks(39) + "\r\n";
  const std::vector<Case> cases = {
      {"leading blanks", "# a header\r\n:Version 2.1\r\n     :endHeader\r\n", {"#", ":Version", ":endHeader"}},
      {"more after the keyword", "#\r\n:endHeaderX and more\r\n", {"#", ":endHeaderX"}},
      {"blank lines and LF line ends", "#\n\n:Version 2.1\n    \n:endHeader\n", {"#", ":Version", ":endHeader"}},
      {"a token longer than the echo", "#" + std::string(69, '-') + "\r\n:endHeader\r\n",
       {"#" + std::string(69, '-'), ":endHeader"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    e2e::WorkDir wd;
    std::vector<Location> locations = kTwo;
    locations[0].offset = "0.5";
    set_up(wd, "2024", locations);
    wd.write(kYearlyPath, c.header + data_lines(8784, [](int) { return std::vector<double>{-999.0, 1.0}; }));
    e2e::RunResult r = wd.run({"2024"});
    ASSERT_EQ(r.status, 0) << r.err;
    // The header stays byte for byte, whatever its line ends.
    EXPECT_EQ(year_dir(wd), (std::map<std::string, std::string>{
                                {kYearlyPath, c.header + data_lines(8784, [](int) {
                                                return std::vector<double>{-998.5, 1.0};
                                              })}}));
    const std::string yearly = "year\\lake_lvl.tb0";
    const std::vector<std::string> echo = echo_lines(c.echoed);
    expect_blocks(r.out, {concat(setup_echo(yearly), echo), rewrite_block(yearly, echo)});
  }
}

// A header line without a value (a slash) leaves the echo showing what the
// line buffer held before. In the rewrite that is what the reads of the run
// report left in it when a garbage record was appended: the first value of
// the report's last line, or of an earlier one when a quotation that never
// closes runs on to the report's end. Without a garbage record it is the
// source file's header line.
TEST(YearlyLevel, HeaderLineWithoutAValueEchoesWhatTheReportReadsLeft) {
  const std::string garbage_source = "SRCA SRCB\n2024-01-01 01:00 5.0 M\n";
  struct Case {
    std::string name;
    std::optional<std::string> report;  // the run report before the run
    std::string source;
    std::string echoed;  // the rewrite's echo of the slash line
  };
  const std::vector<Case> cases = {
      {"no garbage record", std::nullopt, kSource, "SRCA SRCB"},
      {"no report before the run", std::nullopt, garbage_source, "Orvistad.exe"},
      {"a report of earlier runs",
       crlf({"Orvistad.exe - started", "Orvistad.exe - crashed out ending 2024-03-02  10:00"}), garbage_source,
       "Orvistad.exe"},
      {"a quotation that never closes", "'Alpha beta' one\r\n'Gamma\r\n", garbage_source, "Alpha beta"},
      {"a quotation opened on a last line without a line end", "first one\n'open", garbage_source, "first"},
      {"blank lines and a slash line at the end", "alpha\r\n\r\n/\r\n  \r\n", garbage_source, "Orvistad.exe"},
  };
  const std::string header = "/\r\n:endHeader\r\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    e2e::WorkDir wd;
    set_up(wd, "2024", kTwo);
    wd.write(kSourceName, c.source);
    if (c.report) wd.write("runReport.txt", *c.report);
    const std::string data = data_lines(8784, [](int) { return std::vector<double>{1.0, 2.0}; });
    wd.write(kYearlyPath, header + data);
    e2e::RunResult r = wd.run({"2024"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(wd.read(kYearlyPath), header + data);
    const std::string yearly = "year\\lake_lvl.tb0";
    // The load's echo of the slash line shows the year argument.
    expect_blocks(r.out, {concat(setup_echo(yearly), echo_lines({"2024", ":endHeader"})),
                          rewrite_block(yearly, echo_lines({c.echoed, ":endHeader"}))});
  }
}

TEST(YearlyLevel, HeaderWithoutItsEndLineEndsTheRun) {
  // The keyword cut short or differing in the case of a letter does not end
  // the skip: it reads on through every data line and meets the end of the file.
  e2e::WorkDir wd;
  set_up(wd, "2024", kTwo);
  const std::string before =
      "#\r\n:EndHeader\r\n:endheader\r\n:endHeade r\r\n" + data_lines(8784, [](int) { return std::vector<double>{-999.0, 1.0}; });
  wd.write(kYearlyPath, before);
  e2e::RunResult r = wd.run({"2024"});
  EXPECT_EQ(r.status, 24);
  EXPECT_EQ(r.err, "forrtl: severe (24): end-of-file during read, unit 100, file " + absolute(wd, kYearlyPath) +
                       "\r\n");
  EXPECT_EQ(year_dir(wd), (std::map<std::string, std::string>{{kYearlyPath, before}}));
  std::vector<std::string> tokens = {"#", ":EndHeader", ":endheader", ":endHeade"};
  tokens.insert(tokens.end(), 8784, "-999.000");
  expect_blocks(r.out, {concat(setup_echo("year\\lake_lvl.tb0"), echo_lines(tokens))});
  EXPECT_EQ(last_line(wd.read("runReport.txt")), "Orvistad.exe - started");
}

TEST(YearlyLevel, LoadFailuresLeaveTheFileUnchanged) {
  struct Case {
    std::string name;
    int lines;
    std::function<std::string(int)> line;  // data line j
    int failure;
  };
  const std::string two = data_line({-999.0, 1.0});
  const std::vector<Case> cases = {
      {"one line short", 8783, [&](int) { return two; }, 24},
      {"fewer values than locations", 8784, [](int) { return data_line({5.0}); }, 24},
      {"a token that is no number", 8784, [&](int j) { return j == 5 ? blanks(24) + "12.5x       1.000" : two; },
       59},
      {"a token that cannot be converted", 8784, [&](int j) { return j == 5 ? blanks(26) + "NA       1.000" : two; },
       64},
      {"a value in quotes, the closing one missing", 8784,
       [&](int j) { return j == 5 ? blanks(24) + "'12.5       1.000" : two; }, 64},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    e2e::WorkDir wd;
    set_up(wd, "2024", kTwo);
    std::string before = header_of(kFixtureHeader, kTwo);
    for (int j = 1; j <= c.lines; ++j) before += c.line(j) + "\r\n";
    wd.write(kYearlyPath, before);
    e2e::RunResult r = wd.run({"2024"});
    EXPECT_EQ(r.status, c.failure);
    const std::string prefix = "forrtl: severe (" + std::to_string(c.failure) + "): ";
    const std::string suffix = ", unit 100, file " + absolute(wd, kYearlyPath) + "\r\n";
    EXPECT_EQ(r.err.rfind(prefix, 0), 0u) << r.err;
    EXPECT_TRUE(r.err.size() >= suffix.size() && r.err.substr(r.err.size() - suffix.size()) == suffix) << r.err;
    EXPECT_EQ(year_dir(wd), (std::map<std::string, std::string>{{kYearlyPath, before}}));
    expect_blocks(r.out, {concat(setup_echo("year\\lake_lvl.tb0"), echo_lines(kHeaderTokens))});
  }
}

TEST(YearlyLevel, FileWithMoreLocationsThanConfigured) {
  // Written for three locations, configured with two: the first two values of
  // each line are taken, and the rewrite writes two per line below the old
  // header, which still lists three columns.
  e2e::WorkDir wd;
  std::vector<Location> configured = kTwo;
  configured[0].offset = "1.0";
  set_up(wd, "2024", configured);
  std::vector<Location> three = kTwo;
  three.push_back({"LAKEC", "0.0", -82.0, 47.5, "Westend"});
  const std::string header = header_of(kFixtureHeader, three);
  wd.write(kYearlyPath, header + data_lines(8784, [](int j) {
                          return j == 1 ? std::vector<double>{10.25, 20.5, 30.75}
                                        : std::vector<double>{-999.0, 5.0, 6.0};
                        }));
  e2e::RunResult r = wd.run({"2024"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(year_dir(wd), (std::map<std::string, std::string>{
                              {kYearlyPath, header + data_lines(8784, [](int j) {
                                              return j == 1 ? std::vector<double>{11.25, 20.5}
                                                            : std::vector<double>{-998.0, 5.0};
                                            })}}));
}

TEST(YearlyLevel, NewFileInAMissingDirectory) {
  e2e::WorkDir wd;
  const std::string yearly = "nodir\\lake_lvl.tb0";
  set_up(wd, "2024", kTwo, yearly);
  e2e::RunResult r = wd.run({"2024"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Orvistad aborted @ 129\r\n");
  const std::string name = field(yearly, 128);
  expect_blocks(r.out, {concat(setup_echo(yearly),
                               {" Unable to open ", " " + name.substr(0, 79), " " + name.substr(79)})});
  EXPECT_FALSE(wd.exists("nodir"));
  EXPECT_EQ(last_line(wd.read("runReport.txt")), "Orvistad.exe - started");
}

TEST(YearlyLevel, RefusedWriteLeavesThePreviousFile) {
  // Files may not grow past this size: the hour dump of two locations
  // (281,088 bytes) fits, the yearly file (405,393 bytes) does not.
  constexpr rlim_t kLimit = 340000;
  struct Case {
    std::string name;
    bool existing;
    int unit;
  };
  for (const Case& c : std::vector<Case>{{"rewrite", true, 100}, {"creation", false, 999}}) {
    SCOPED_TRACE(c.name);
    e2e::WorkDir wd;
    std::vector<Location> locations = kTwo;
    locations[0].offset = "0.5";
    set_up(wd, "2024", locations);
    std::map<std::string, std::string> before;
    if (c.existing) {
      before[kYearlyPath] =
          header_of(kFixtureHeader, locations) +
          data_lines(8784, [](int) { return std::vector<double>{-999.0, 1.0}; });
      wd.write(kYearlyPath, before[kYearlyPath]);
    }
    e2e::RunResult r = run_limited(wd, {"2024"}, kLimit, {});
    EXPECT_EQ(r.status, 38);
    EXPECT_EQ(r.err, "forrtl: severe (38): error during write, unit " + std::to_string(c.unit) + ", file " +
                         absolute(wd, kYearlyPath) + "\r\n");
    EXPECT_EQ(year_dir(wd), before);
  }
}

TEST(YearlyLevel, KilledWhileWritingLeavesThePreviousFile) {
  // 999 locations make lines of 12,008 characters and a file of about 100 MB,
  // so the run is still writing it when it is killed.
  std::vector<Location> locations;
  for (int i = 1; i <= 999; ++i) {
    char key[16];
    std::snprintf(key, sizeof key, "K%03d", i);
    locations.push_back({key, "0.25", -80.0 - 0.0625 * (i % 16), 45.0 + 0.125 * (i % 8), std::string("S") + key});
  }
  auto row = [](int j, double shift) {
    std::vector<double> values(999);
    for (int i = 0; i < 999; ++i) {
      values[static_cast<std::size_t>(i)] = (i + j) % 3 == 0 ? 100.0 + shift + 0.125 * (i % 8) : -999.0 + shift;
    }
    return values;
  };
  struct Case {
    std::string name;
    bool existing;
  };
  for (const Case& c : std::vector<Case>{{"rewrite", true}, {"creation", false}}) {
    SCOPED_TRACE(c.name);
    e2e::WorkDir wd;
    set_up(wd, "2024", locations);
    std::map<std::string, std::string> before;
    if (c.existing) {
      before[kYearlyPath] =
          header_of(kFixtureHeader, locations) + data_lines(8784, [&](int j) { return row(j, 0.0); });
      wd.write(kYearlyPath, before[kYearlyPath]);
    }

    Child child = start_program(wd, {"2024"}, 0);
    // Wait until the new content has begun to reach the disk beside the file.
    bool writing = false;
    bool ended = false;
    int wstatus = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!writing && !ended && std::chrono::steady_clock::now() < deadline) {
      for (const auto& entry : fs::directory_iterator(fs::path(wd.path()) / "year")) {
        std::error_code ec;
        if (entry.path().filename() != "lake_lvl.tb0" && fs::file_size(entry.path(), ec) > 0 && !ec) writing = true;
      }
      if (!writing) {
        ended = ::waitpid(child.pid, &wstatus, WNOHANG) == child.pid;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
    if (!ended) {
      ::kill(child.pid, SIGKILL);
      ::waitpid(child.pid, &wstatus, 0);
    }
    e2e::RunResult killed = finish(child, wstatus);
    ASSERT_TRUE(writing) << "the run ended or stalled before it wrote the file: " << killed.err;
    ASSERT_EQ(killed.status, 128 + SIGKILL) << "the run ended before it was killed";
    EXPECT_EQ(wd.exists(kYearlyPath), c.existing);
    if (c.existing) {
      EXPECT_TRUE(wd.read(kYearlyPath) == before[kYearlyPath]);
    }

    // The next run finds the file as it was before and completes.
    e2e::RunResult next = wd.run({"2024"});
    ASSERT_EQ(next.status, 0) << next.err;
    const std::string expected =
        c.existing ? header_of(kFixtureHeader, locations) + data_lines(8784, [&](int j) { return row(j, 0.25); })
                   : header_of({"2024-03-03", "14:05", kSourceName, "2024"}, locations) +
                         data_lines(8784, [](int) { return std::vector<double>(999, -998.75); });
    EXPECT_TRUE(wd.read(kYearlyPath) == expected);
  }
}

}  // namespace

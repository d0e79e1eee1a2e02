// Whole runs of the program: the first console line, the run report, the
// debug trace file, the year argument, the console trailer, the hour count of
// the yearly tables, and the bundled example working directory.
//
// The steps between the configuration and the end of the run add console
// lines of their own, so a normal run's console is compared as the prefix
// that ends with the configuration echo and the trailer that closes it.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

namespace {

using e2e::crlf;

std::string pad(std::string s, std::size_t width) {
  if (s.size() < width) s.append(width - s.size(), ' ');
  return s;
}

bool starts_with(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }
bool ends_with(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A working directory's inputs for one year: a configuration of two Lake
// Winnipeg gauges under `config_name`, their station list, and an hourly
// source file with a few hours of `year4` (the year as its four characters).
void write_inputs(const e2e::WorkDir& wd, const std::string& config_name, const std::string& year4) {
  wd.write(config_name, crlf({"Lake Winnipeg hourly levels", "Hourly src  hourlysrc.txt",
                              "Yearly lvl  level\\lake_lvl.tb0", "Stations 2", "Key Offset", "GIMLI 0.0",
                              "BERENS 0.05"}));
  wd.write("level_station_list.xyz", crlf({"-96.9870 50.6330 Gimli", "-97.0340 52.3590 Berens"}));
  wd.write("hourlysrc.txt", crlf({"GIMLI BERENS", year4 + "-01-01 01:00 217.452 217.390",
                                  year4 + "-01-01 02:00 217.455 217.388"}));
}

// The console lines of the run up to the end of the configuration step.
std::string console_prefix(const std::string& config_name) {
  return crlf({" ", " " + config_name, pad("Hourly src  hourlysrc.txt", 72), pad("Yearly lvl  level\\lake_lvl.tb0", 72),
               " Stations           2", " GIMLI         0.0000000E+00", " BERENS        5.0000001E-02", " "});
}

std::string console_trailer(const std::string& stamp) {
  return crlf({" ", "Time of run:" + stamp, " Compile date 2024/01/19 - New PC format", " Orvistad.exe - normal ending"});
}

const std::string kStarted = "Orvistad.exe - started";

std::string normal_report(const std::string& stamp) {
  return crlf({kStarted, "Orvistad.exe - normal ending " + stamp});
}

// Asserts a run that ended normally, with the configuration of write_inputs.
void expect_normal_run(const e2e::WorkDir& wd, const e2e::RunResult& r, const std::string& config_name,
                       const std::string& stamp) {
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(starts_with(r.out, console_prefix(config_name))) << e2e::visible(r.out);
  EXPECT_TRUE(ends_with(r.out, console_trailer(stamp))) << e2e::visible(r.out);
  EXPECT_EQ(e2e::visible(wd.read("runReport.txt")), e2e::visible(normal_report(stamp)));
  EXPECT_TRUE(wd.exists("debug/missing PC data"));
}

TEST(RunDriver, NormalRunWithItsTimeStamps) {
  struct Clock {
    const char* clock;
    const char* stamp;  // date of the run, two blanks, hour and minute
  };
  const Clock clocks[] = {
      {"2024-03-03 14:05:00", "2024-03-03  14:05"},
      {"2025-03-07 09:05:59", "2025-03-07  09:05"},  // leading zeros; seconds never round up
      {"1999-12-31 23:59:30", "1999-12-31  23:59"},
  };
  for (const Clock& c : clocks) {
    SCOPED_TRACE(c.clock);
    e2e::WorkDir wd;
    write_inputs(wd, "2024_Orvistad.cfg", "2024");
    expect_normal_run(wd, wd.run({"2024"}, c.clock), "2024_Orvistad.cfg", c.stamp);
  }
}

// Each append reads the report to its end and writes after its last line.
TEST(RunDriver, RunReportIsOnlyAppendedTo) {
  struct Case {
    const char* name;
    bool exists;
    std::string before;
  };
  const Case cases[] = {
      {"no report", false, ""},
      {"empty report", true, ""},
      {"report of earlier runs", true, crlf({kStarted, "Orvistad.exe - normal ending 2024-03-02  14:05"})},
      {"blank lines at the end", true, crlf({kStarted, "", "   "})},
      {"lines ended by LF alone", true, "first run\nsecond run\n"},
      {"last line without line end", true, "Orvistad.exe - started"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    e2e::WorkDir wd;
    write_inputs(wd, "2024_Orvistad.cfg", "2024");
    if (c.exists) wd.write("runReport.txt", c.before);
    e2e::RunResult r = wd.run({"2024"});
    EXPECT_EQ(r.status, 0) << r.err;
    std::string before = c.before;
    if (!before.empty() && before.back() != '\n') before += "\r\n";
    EXPECT_EQ(e2e::visible(wd.read("runReport.txt")), e2e::visible(before + normal_report("2024-03-03  14:05")));
  }
}

// The year is read from the first four characters of the first argument and
// names the configuration file.
TEST(RunDriver, YearArgumentNamesTheConfiguration) {
  struct Case {
    std::vector<std::string> args;
    const char* config_name;
    const char* year4;  // the year of the source records
  };
  const Case cases[] = {
      {{}, "   0_Orvistad.cfg", "0000"},
      {{""}, "   0_Orvistad.cfg", "0000"},
      {{"24"}, "  24_Orvistad.cfg", "0024"},
      {{" 2 4"}, "  24_Orvistad.cfg", "0024"},
      {{"20240119"}, "2024_Orvistad.cfg", "2024"},
      {{"2024", "1999"}, "2024_Orvistad.cfg", "2024"},
      {{"-999"}, "-999_Orvistad.cfg", "-999"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "argument '" << (c.args.empty() ? "(none)" : c.args[0]) << "'");
    e2e::WorkDir wd;
    write_inputs(wd, c.config_name, c.year4);
    expect_normal_run(wd, wd.run(c.args), c.config_name, "2024-03-03  14:05");
  }
}

// A character among the first four that is no digit, blank or leading sign
// ends the run after the started line and the debug trace open, which
// creates the trace file or leaves an existing one as it was.
TEST(RunDriver, YearArgumentThatIsNoNumberFails) {
  struct Case {
    const char* arg;
    const char* old_trace;  // null: no trace file before the run
  };
  for (const Case& c : {Case{"2O24", nullptr}, Case{"20.4", "trace of an earlier run\r\n"}, Case{"2-45", nullptr}}) {
    SCOPED_TRACE(c.arg);
    e2e::WorkDir wd;
    write_inputs(wd, "2024_Orvistad.cfg", "2024");
    if (c.old_trace != nullptr) wd.write("debug/missing PC data", c.old_trace);
    const auto inputs = wd.files();
    e2e::RunResult r = wd.run({c.arg});
    EXPECT_EQ(r.status, 64);
    EXPECT_EQ(r.out, crlf({" "}));
    EXPECT_EQ(r.err, "forrtl: severe (64): input conversion error, unit -1, file internal formatted read\r\n");
    auto expected = inputs;
    expected["runReport.txt"] = crlf({kStarted});
    expected["debug/missing PC data"] = c.old_trace != nullptr ? c.old_trace : "";
    EXPECT_EQ(wd.files(), expected);
  }
}

TEST(RunDriver, MissingDebugDirectoryEndsTheRunAfterTheStartedLine) {
  e2e::WorkDir wd(false);
  wd.mkdir("level");
  write_inputs(wd, "2024_Orvistad.cfg", "2024");
  const auto inputs = wd.files();
  e2e::RunResult r = wd.run({"2024"});
  EXPECT_EQ(r.status, 29);
  EXPECT_EQ(r.out, crlf({" "}));
  EXPECT_EQ(r.err, "forrtl: severe (29): file not found, unit 777, file " + wd.path() + "/debug/missing PC data\r\n");
  auto expected = inputs;
  expected["runReport.txt"] = crlf({kStarted});
  EXPECT_EQ(wd.files(), expected);
}

// Data lines of the yearly level file: the lines after its ":endHeader" line.
int data_line_count(const std::string& file) {
  std::istringstream in(file);
  std::string line;
  int count = -1;
  while (std::getline(in, line)) {
    if (count >= 0) ++count;
    else if (starts_with(line, ":endHeader")) count = 0;
  }
  return count;
}

int line_count(const std::string& file) {
  int count = 0;
  for (char ch : file) count += ch == '\n';
  return count;
}

// The yearly tables hold the hours of the argument year, whatever the year of
// the clock: 8784 for a Gregorian leap year, else 8760. A second run with the
// clock in another year loads the file and writes it back whole.
TEST(RunDriver, HourCountFollowsTheArgumentYear) {
  struct Case {
    const char* year;
    const char* first_clock;
    const char* second_clock;
    int hours;
  };
  const Case cases[] = {
      {"2024", "2024-12-31 08:00:00", "2025-01-15 08:00:00", 8784},
      {"2025", "2025-06-01 08:00:00", "2028-01-10 08:00:00", 8760},
      {"2100", "2100-03-01 08:00:00", "2024-06-01 08:00:00", 8760},
      {"2000", "2023-06-01 08:00:00", "2001-01-02 08:00:00", 8784},
      {"1900", "2024-06-01 08:00:00", "1904-06-01 08:00:00", 8760},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.year);
    e2e::WorkDir wd;
    write_inputs(wd, std::string(c.year) + "_Orvistad.cfg", c.year);
    for (const char* clock : {c.first_clock, c.second_clock}) {
      SCOPED_TRACE(clock);
      e2e::RunResult r = wd.run({c.year}, clock);
      EXPECT_EQ(r.status, 0) << r.err;
      // A run that ends normally has written both tables.
      for (const char* name : {"level/lake_lvl.tb0", "fort.600"}) {
        EXPECT_TRUE(wd.exists(name)) << name << " was not written";
      }
      if (wd.exists("level/lake_lvl.tb0")) {
        EXPECT_EQ(data_line_count(wd.read("level/lake_lvl.tb0")), c.hours);
      }
      if (wd.exists("fort.600")) {
        EXPECT_EQ(line_count(wd.read("fort.600")), c.hours);
      }
    }
  }
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

TEST(Example, LakeRunsToItsNormalEnd) {
  e2e::WorkDir wd(false);
  wd.copy_from_source("examples/lake");
  ASSERT_TRUE(wd.exists("debug"));
  ASSERT_TRUE(wd.exists("level"));
  const std::vector<std::string> year = lines_of(wd.read("YEAR"));
  ASSERT_EQ(year.size(), 1u);
  e2e::RunResult r = wd.run({year[0]}, "2024-01-22 07:30:00");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  const std::vector<std::string> console = lines_of(r.out);
  ASSERT_GE(console.size(), 6u) << e2e::visible(r.out);
  EXPECT_EQ(console[0], " ");
  EXPECT_EQ(console[1], " " + year[0] + "_Orvistad.cfg");
  EXPECT_EQ(console.back(), " Orvistad.exe - normal ending");
  EXPECT_EQ(console[console.size() - 3], "Time of run:2024-01-22  07:30");
  const std::vector<std::string> report = lines_of(wd.read("runReport.txt"));
  ASSERT_GE(report.size(), 2u);
  EXPECT_EQ(report.front(), kStarted);
  EXPECT_EQ(report.back(), "Orvistad.exe - normal ending 2024-01-22  07:30");
}

}  // namespace

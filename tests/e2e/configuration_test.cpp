// The configuration file and the station list: what each layout of the
// configuration gives on the console, how the entry and record failures end
// the run, and what the station list gives the yearly level file.
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "harness.h"

namespace {

using e2e::crlf;

std::string pad(std::string s, std::size_t width) {
  if (s.size() < width) s.append(width - s.size(), ' ');
  return s;
}
std::string right(std::int32_t n, std::size_t width) {
  std::string s = std::to_string(n);
  return std::string(width > s.size() ? width - s.size() : 0, ' ') + s;
}
bool starts_with(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }
bool ends_with(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}
std::string replace_wd(std::string s, const e2e::WorkDir& wd) {
  const std::string mark = "{wd}";
  if (auto at = s.find(mark); at != std::string::npos) s.replace(at, mark.size(), wd.path());
  return s;
}

const std::string kConfigName = "2024_Orvistad.cfg";
const std::string kSourceLine = "Hourly src  hourlysrc.txt";
const std::string kLevelLine = "Yearly lvl  level\\2024_lvl.tb0";

// Configuration lines 1 to 3 followed by `rest`.
std::vector<std::string> config(std::vector<std::string> rest) {
  std::vector<std::string> lines = {"Lake Winnipeg hourly levels, 2024", kSourceLine, kLevelLine};
  lines.insert(lines.end(), rest.begin(), rest.end());
  return lines;
}

// Console lines of the configuration step.
std::string count_line(const std::string& label, std::int32_t n) { return " " + pad(label, 8) + right(n, 12); }
std::string entry(const std::string& key, const std::string& offset) { return " " + pad(key, 12) + offset; }
const std::string kZero = "  0.0000000E+00";
const std::string k005 = "  5.0000001E-02";
const std::string k025 = "  0.2500000    ";
const std::string kUnread = " -1.0000000E-32";  // the offset when no value was read
const std::string kNeverReadKey = std::string(12, '\0');
const std::string kEntryError = " Error reading data the Orvistad.cfg file";
const std::string kAborted = " Orvistad.exe aborted @ 102";
const std::string kConfigFailure = "file {wd}/2024_Orvistad.cfg\r\n";

const std::string kStarted = "Orvistad.exe - started";
const std::string kStamp = "2024-03-03  14:05";
const std::string kTrailer =
    crlf({" ", "Time of run:" + kStamp, " Compile date 2024/01/19 - New PC format", " Orvistad.exe - normal ending"});

// Five gauges; a configuration of n locations takes the first n records.
const std::vector<std::string> kStationList = {
    "-96.9870 50.6330 Gimli",       "-97.0340 52.3590 Berens",    "-97.6200 52.8230 GeorgeIsl",
    "-96.5600 50.7020 VictoriaBch", "-98.8040 51.4310 SteepRock",
};

void write_inputs(const e2e::WorkDir& wd, const std::vector<std::string>& config_lines, bool station_list = true) {
  wd.write(kConfigName, crlf(config_lines));
  if (station_list) wd.write("level_station_list.xyz", crlf(kStationList));
  wd.write("hourlysrc.txt",
           crlf({"GIMLI BERENS", "2024-01-01 01:00 217.452 217.390", "2024-01-01 02:00 217.455 217.388"}));
}

enum class Ending {
  kNormal,     // the run reaches its normal end
  kInConfig,   // the run ends in the configuration step: its console is all here
  kLater,      // the run ends after further steps have written to the console
};

struct Expected {
  // A run that reaches its normal end.
  Expected(std::vector<std::string> lines) : console(std::move(lines)) {}  // NOLINT: implicit, for table rows
  Expected(std::vector<std::string> lines, Ending end, int exit_status, std::string stderr_text)
      : console(std::move(lines)), ending(end), status(exit_status), err(std::move(stderr_text)) {}

  std::vector<std::string> console;  // console lines from the echo of line 2 on
  Ending ending = Ending::kNormal;
  int status = 0;
  std::string err;  // "{wd}" stands for the working directory
};

void expect_run(const e2e::WorkDir& wd, const e2e::RunResult& r, const Expected& x) {
  std::vector<std::string> lines = {" ", " " + kConfigName};
  lines.insert(lines.end(), x.console.begin(), x.console.end());
  const std::string prefix = crlf(lines);
  EXPECT_EQ(r.status, x.status);
  EXPECT_EQ(r.err, replace_wd(x.err, wd));
  if (x.ending == Ending::kInConfig) {
    EXPECT_EQ(e2e::visible(r.out), e2e::visible(prefix));
  } else {
    EXPECT_TRUE(starts_with(r.out, prefix)) << "expected prefix:\n"
                                            << e2e::visible(prefix) << "console:\n"
                                            << e2e::visible(r.out);
  }
  if (x.ending == Ending::kNormal) {
    EXPECT_TRUE(ends_with(r.out, kTrailer)) << e2e::visible(r.out);
    EXPECT_EQ(wd.read("runReport.txt"), crlf({kStarted, "Orvistad.exe - normal ending " + kStamp}));
  } else {
    EXPECT_EQ(wd.read("runReport.txt"), crlf({kStarted}));
  }
}

struct ConfigCase {
  ConfigCase(const char* case_name, std::vector<std::string> lines, Expected outcome, bool with_station_list = true)
      : name(case_name), config(std::move(lines)), expected(std::move(outcome)), station_list(with_station_list) {}

  const char* name;
  std::vector<std::string> config;
  Expected expected;
  bool station_list;
};

std::vector<ConfigCase> config_cases() {
  const std::string E2 = pad(kSourceLine, 72);
  const std::string E3 = pad(kLevelLine, 72);
  const std::string two = count_line("Stations", 2);
  const std::string gimli = entry("GIMLI", kZero);
  const std::string berens = entry("BERENS", k005);
  const std::string syntax = "forrtl: severe (59): list-directed I/O syntax error, unit 99, " + kConfigFailure;
  const std::string conversion = "forrtl: severe (64): input conversion error, unit 99, " + kConfigFailure;

  std::vector<ConfigCase> cases = {
      {"two locations", config({"Stations 2", "Key Offset", "GIMLI 0.0", "BERENS 0.05"}),
       {{E2, E3, two, gimli, berens, " "}}},
      {"blank title; names by columns, cut after column 72",
       {"", kSourceLine, "Yearly lvl  " + pad("level\\lake levels 2024.tb0", 60) + "(made by the first run)",
        "Stations 2", "Key Offset", "GIMLI 0.0", "BERENS 0.05"},
       {{E2, pad("Yearly lvl  level\\lake levels 2024.tb0", 72), two, gimli, berens, " "}}},
      {"label of two words, the second no number",
       config({"Station count 2", "Key Offset", "GIMLI 0.0", "BERENS 0.05"}),
       {{E2, E3}, Ending::kInConfig, 59, syntax}},
      {"label of two words, the second beginning with N",
       config({"Station Number 2", "Key Offset", "GIMLI 0.0", "BERENS 0.05"}),
       {{E2, E3}, Ending::kInConfig, 64, conversion}},
      {"count in quotes, the closing one missing",
       config({"Stations \"2", "Key Offset", "GIMLI 0.0", "BERENS 0.05"}),
       {{E2, E3}, Ending::kInConfig, 64, conversion}},
      {"count written 5.0",
       config({"Stations 5.0", "Key Offset", "GIMLI 0.0", "BERENS 0.05", "GEORGEISL 0.0", "VICTORIABCH 0.0",
               "STEEPROCK 0.0"}),
       {{E2, E3, count_line("Stations", 5), gimli, berens, entry("GEORGEISL", kZero), entry("VICTORIABCH", kZero),
         entry("STEEPROCK", kZero), " "}}},
      {"count on the line after its label",
       config({"Stations", "2", "Key Offset", "GIMLI 0.0", "BERENS 0.05"}),
       {{E2, E3, two, gimli, berens, " "}}},
      {"count missing: the label of line 5 is read as the count",
       config({"Stations", "Key Offset", "GIMLI 0.0", "BERENS 0.05"}),
       {{E2, E3}, Ending::kInConfig, 59, syntax}},
      {"configuration ends before line 5", config({"Stations 2"}),
       {{E2, E3, two}, Ending::kInConfig, 24, "forrtl: severe (24): end-of-file during read, unit 99, " + kConfigFailure}},
      {"blank line 5: line 6 is the label and the last entry meets the end",
       config({"Stations 2", "", "GIMLI 0.0", "BERENS 0.05"}),
       {{E2, E3, two, berens, " " + kNeverReadKey + kUnread, kEntryError, kAborted}, Ending::kInConfig, 1, ""}},
      {"key alone on its line takes the next line's first token",
       config({"Stations 2", "Key Offset", "GIMLI", "0.25", "BERENS 0.05"}),
       {{E2, E3, two, entry("GIMLI", k025), berens, " "}}},
      {"slash after a key, two commas after a key",
       config({"Stations 2", "Key Offset", "GIMLI / 0.25", "BERENS,,0.05"}),
       {{E2, E3, two, entry("GIMLI", kUnread), entry("BERENS", kUnread), " "}}},
      {"slash inside a key", config({"Stations 2", "Key Offset", "GIM/LI 0.25", "BERENS 0.05"}),
       {{E2, E3, two, entry("GIM", kUnread), berens, " "}}},
      {"offset with a letter", config({"Stations 2", "Key Offset", "GIMLI 0.0", "BERENS 0.O5"}),
       {{E2, E3, two, gimli, entry("BERENS", kUnread), kEntryError, kAborted}, Ending::kInConfig, 1, ""}},
      {"offset NA", config({"Stations 2", "Key Offset", "GIMLI NA", "BERENS 0.05"}),
       {{E2, E3, two, entry("GIMLI", kZero), kEntryError, kAborted}, Ending::kInConfig, 1, ""}},
      {"more entry lines than locations", config({"Stations 1", "Key Offset", "GIMLI 0.0", "BERENS no-offset"}),
       {{E2, E3, count_line("Stations", 1), gimli, " "}}},
      {"fewer entry lines than locations", config({"Stations 3", "Key Offset", "GIMLI 0.0", "BERENS 0.05"}),
       {{E2, E3, count_line("Stations", 3), gimli, berens, " " + kNeverReadKey + kUnread, kEntryError, kAborted},
        Ending::kInConfig,
        1,
        ""}},
      {"long keys keep 12 characters; a third value is ignored",
       config({"Stations 2", "Key Offset", "GIMLI_HARBOUR_NORTH 0.0", "BERENS_RIVER_MOUTH 0.05 217.390"}),
       {{E2, E3, two, entry("GIMLI_HARBOU", kZero), entry("BERENS_RIVER", k005), " "}}},
      {"quoted keys hold blanks", config({"Stations 2", "Key Offset", "'Gimli Hbr' 0.0", "\"Berens R.\" 0.05"}),
       {{E2, E3, two, entry("Gimli Hbr", kZero), entry("Berens R.", k005), " "}}},
      {"no location", config({"Stations 0", "Key Offset", "GIMLI 0.0"}),
       {{E2, E3, count_line("Stations", 0), " "}}},
      {"more than 999 locations", config({"Stations 1000", "Key Offset", "GIMLI 0.0"}),
       {{E2, E3, count_line("Stations", 1000), kEntryError},
        Ending::kInConfig,
        1,
        "Orvistad.exe aborted: more than 999 locations\r\n"}},
  };

  // 999 locations are read and echoed; the missing station list then ends
  // the run before the large tables are filled.
  ConfigCase full{"999 locations", config({"Stations 999", "Key Offset"}),
                  {{E2, E3, count_line("Stations", 999)}, Ending::kLater, 29,
                   "forrtl: severe (29): file not found, unit 99, file {wd}/level_station_list.xyz\r\n"},
                  false};
  for (int i = 1; i <= 999; ++i) {
    std::string key = "K" + right(i, 3);
    for (char& ch : key) ch = ch == ' ' ? '0' : ch;
    full.config.push_back(key + " 0.0");
    full.expected.console.push_back(entry(key, kZero));
  }
  full.expected.console.push_back(" ");
  cases.push_back(full);
  return cases;
}

TEST(Configuration, LayoutsOfTheConfigurationFile) {
  for (const ConfigCase& c : config_cases()) {
    SCOPED_TRACE(c.name);
    e2e::WorkDir wd;
    write_inputs(wd, c.config, c.station_list);
    expect_run(wd, wd.run({"2024"}), c.expected);
  }
}

// A configuration that cannot be opened ends the run with that open's
// failure; the unit's default file is not read in its place.
TEST(Configuration, MissingFileEndsTheRunNamingIt) {
  e2e::WorkDir wd;
  write_inputs(wd, config({"Stations 2", "Key Offset", "GIMLI 0.0", "BERENS 0.05"}));
  wd.write("fort.99", wd.read(kConfigName));
  wd.remove(kConfigName);
  e2e::RunResult r = wd.run({"2024"});
  EXPECT_EQ(r.status, 29);
  EXPECT_EQ(r.out, crlf({" ", " " + kConfigName}));
  EXPECT_EQ(r.err, "forrtl: severe (29): file not found, unit 99, file " + wd.path() + "/" + kConfigName + "\r\n");
  EXPECT_EQ(wd.read("runReport.txt"), crlf({kStarted}));
}

TEST(StationList, RecordsThatEndTheRun) {
  const std::vector<std::string> echo = {pad(kSourceLine, 72), pad(kLevelLine, 72), count_line("Stations", 2),
                                         entry("GIMLI", kZero), entry("BERENS", k005), " "};
  const std::vector<std::string> two = config({"Stations 2", "Key Offset", "GIMLI 0.0", "BERENS 0.05"});
  const std::string file = "file {wd}/level_station_list.xyz\r\n";
  struct Case {
    const char* name;
    std::vector<std::string> config;
    const char* station_list;  // null: no station list
    Expected expected;
  };
  const Case cases[] = {
      {"fewer records than locations", two, "-96.9870 50.6330 Gimli\r\n\r\n",
       {echo, Ending::kLater, 24, "forrtl: severe (24): end-of-file during read, unit 99, " + file}},
      {"no station list", two, nullptr,
       {echo, Ending::kLater, 29, "forrtl: severe (29): file not found, unit 99, " + file}},
      {"coordinate with a letter", two, "-96.9870 50.6330N Gimli\r\n-97.0340 52.3590 Berens\r\n",
       {echo, Ending::kLater, 59, "forrtl: severe (59): list-directed I/O syntax error, unit 99, " + file}},
      {"coordinate in quotes, the closing one missing", two,
       "-96.9870 \"50.6330 Gimli\r\n-97.0340 52.3590 Berens\r\n",
       {echo, Ending::kLater, 64, "forrtl: severe (64): input conversion error, unit 99, " + file}},
      {"no station list and no location", config({"Stations 0", "Key Offset"}), nullptr,
       {{pad(kSourceLine, 72), pad(kLevelLine, 72), count_line("Stations", 0), " "}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    e2e::WorkDir wd;
    write_inputs(wd, c.config, false);
    if (c.station_list != nullptr) wd.write("level_station_list.xyz", c.station_list);
    expect_run(wd, wd.run({"2024"}), c.expected);
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

// Location i is the i-th record of the station list; its name and
// coordinates label column i of the yearly level file's header.
TEST(StationList, RecordsLabelTheYearlyLevelColumns) {
  struct Case {
    const char* name;
    std::vector<std::string> station_list;
    std::vector<std::string> names;  // 12 characters each
    std::string x, y;                // F12.4 fields
  };
  const Case cases[] = {
      {"blank lines passed over, values after the third ignored, later records not read",
       {"", "-96.9870 50.6330 Gimli 217.45", "", "-97.0340 52.3590 Berens", "  ", "-97.6200 52.8230 GeorgeIsl",
        "-98.8040 51.4310 SteepRock"},
       {"Gimli", "Berens", "GeorgeIsl"},
       "    -96.9870    -97.0340    -97.6200",
       "     50.6330     52.3590     52.8230"},
      {"long name, name with a blank, quoted name",
       {"-96.9870 50.6330 Gimli_Harbour_North", "-97.0340 52.3590 Berens River", "-97.6200 52.8230 'George Isl.'"},
       {"Gimli_Harbou", "Berens", "George Isl."},
       "    -96.9870    -97.0340    -97.6200",
       "     50.6330     52.3590     52.8230"},
      {"a record without its name takes the next line's first token",
       {"-96.9870 50.6330", "-97.0340 52.3590 Berens", "-97.6200 52.8230 GeorgeIsl", "-98.8040 51.4310 SteepRock"},
       {"-97.0340", "GeorgeIsl", "SteepRock"},
       "    -96.9870    -97.6200    -98.8040",
       "     50.6330     52.8230     51.4310"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    e2e::WorkDir wd;
    write_inputs(wd, config({"Stations 3", "Key Offset", "GIMLI 0.0", "BERENS 0.0", "GEORGEISL 0.0"}), false);
    wd.write("level_station_list.xyz", crlf(c.station_list));
    e2e::RunResult r = wd.run({"2024"});
    EXPECT_EQ(r.status, 0) << r.err;
    if (!wd.exists("level/2024_lvl.tb0")) {
      ADD_FAILURE() << "the run did not write the yearly level file";
      continue;
    }
    const std::vector<std::string> header = lines_of(wd.read("level/2024_lvl.tb0"));
    if (header.size() < 30u) {
      ADD_FAILURE() << "the yearly level file has " << header.size() << " lines";
      continue;
    }
    std::string names = "   :ColumnName      ";
    for (const std::string& n : c.names) names += pad(n, 12);
    EXPECT_EQ(header[27], names);
    EXPECT_EQ(header[28], "   :ColumnLocationX " + c.x);
    EXPECT_EQ(header[29], "   :ColumnLocationY " + c.y);
  }
}

}  // namespace

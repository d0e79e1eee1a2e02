// Matching of the configured keys with the source columns, the merge of the
// source values into the year table, and the hour dump fort.600.
//
// Compared byte for byte: the console's matching lines (from the line after
// "last PChdr = " to the rewrite of the yearly level file), the whole hour
// dump, and the whole yearly level file where the test writes it.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "harness.h"

namespace {

using e2e::crlf;
using e2e::visible;
using Lines = std::vector<std::string>;

constexpr std::string_view kYearlyName = "level\\lvl.tb0";
const std::string kYearlyFile = "level/lvl.tb0";

std::string pad(std::string_view s, std::size_t w) {
  std::string r(s.substr(0, std::min(w, s.size())));
  r.resize(w, ' ');
  return r;
}
std::string rjust(std::string_view s, std::size_t w) {
  return s.size() >= w ? std::string(s) : std::string(w - s.size(), ' ') + std::string(s);
}
std::string i12(int v) { return rjust(std::to_string(v), 12); }

struct Scenario {
  int year = 2024;
  std::string header;
  Lines records;
  Lines keys;
  std::string count;  // the location count as written; empty: the number of keys
};

void prepare(const e2e::WorkDir& wd, const Scenario& s) {
  std::string cfg = "Orvistad test configuration\r\n";
  cfg += "source:     hourlysrc.txt\r\n";
  cfg += "yearly:     " + std::string(kYearlyName) + "\r\n";
  cfg += "locations " + (s.count.empty() ? std::to_string(s.keys.size()) : s.count) + "\r\n";
  cfg += "key offset\r\n";
  std::string stations;
  for (std::size_t i = 0; i < s.keys.size(); ++i) {
    cfg += s.keys[i] + " 0.0\r\n";
    stations += "-79.5 43.25 S" + std::to_string(i + 1) + "\r\n";
  }
  wd.write(std::to_string(s.year) + "_Orvistad.cfg", cfg);
  wd.write("level_station_list.xyz", stations);
  Lines source = {s.header};
  source.insert(source.end(), s.records.begin(), s.records.end());
  wd.write("hourlysrc.txt", crlf(source));
}

// The console after the header listing of the hourly source file, up to the
// rewrite: the end of the file's hint lines, then the matching heading and
// one line per pair (entry i, column c, the column's name, the key).
std::string matching_section(const std::string& out) {
  std::size_t from = out.find(" last PChdr = ");
  if (from == std::string::npos) return out;
  from = out.find("\r\n", from) + 2;
  std::size_t to = out.find(" Parsing the  level\\yyyymmdd_lvl.tb0 file header\r\n", from);
  return out.substr(from, to == std::string::npos ? std::string::npos : to - from);
}

std::string expected_matching(const Lines& keys, const Lines& names,
                              const std::vector<std::pair<int, int>>& pairs) {
  Lines l = {" Look for blanks in the header names", " or junk in the data",
             " Found these locations to match with the cfg file for this domain",
             "     PClocation   entry# gname       entry"};
  for (auto [i, c] : pairs) {
    l.push_back(i12(i) + i12(c) + " " + pad(names[static_cast<std::size_t>(c - 1)], 12) +
                pad(keys[static_cast<std::size_t>(i - 1)], 12));
  }
  return crlf(l);
}

// The hour dump: `hours` records, missing values except in `rows` (hour
// index -> F10.3 fields).
std::string dump(int hours, std::size_t columns, const std::map<int, Lines>& rows) {
  std::string d;
  for (int h = 1; h <= hours; ++h) {
    d += rjust(std::to_string(h), 10);
    auto row = rows.find(h);
    for (std::size_t i = 0; i < columns; ++i) d += rjust(row == rows.end() ? "-999.000" : row->second[i], 10);
    d += "\r\n";
  }
  return d;
}

// ---------------------------------------------------------------------------

// Which keys pair with which columns: names compared on all 12 characters,
// case counting, every match printed, the last one kept.
TEST(MergeMatching, KeysPairWithColumnsOfTheSameName) {
  struct Case {
    const char* what;
    std::string header;
    Lines names;  // the header slots
    Lines keys;
    std::vector<std::pair<int, int>> pairs;
    Lines hour1;  // dump of hour 1, per location
  };
  // 30 columns, AAA at four of them among names in falling order.
  std::string header30;
  Lines names30;
  for (int c = 1; c <= 30; ++c) {
    names30.push_back(c % 8 == 5 ? "AAA" : "N" + std::to_string(100 - c));
    header30 += names30.back() + " ";
  }
  std::string record30 = "2024-01-01 01:00";
  for (int c = 1; c <= 30; ++c) record30 += " " + std::to_string(c) + ".5";

  const std::vector<Case> cases = {
      {"no key matches", "AAA BBB", {"AAA", "BBB"}, {"ZZZ"}, {}, {"-999.000"}},
      {"two columns with the key's name: the last wins", "AAA XXX AAA", {"AAA", "XXX", "AAA"},
       {"AAA"}, {{1, 1}, {1, 3}}, {"3.500"}},
      {"names that differ in case do not match", "aaa BBB", {"aaa", "BBB"}, {"AAA", "bbb"}, {},
       {"-999.000", "-999.000"}},
      {"two entries with the same key share a column", "AAA BBB", {"AAA", "BBB"}, {"BBB", "BBB"},
       {{1, 2}, {2, 2}}, {"2.500", "2.500"}},
      {"keys and names compared on their first 12 characters", "Kingston_Harbour_Gauge Other",
       {"Kingston_Har", "Other"}, {"Kingston_Harbour_Level", "Other"}, {{1, 1}, {2, 2}},
       {"1.500", "2.500"}},
      {"a key of four of many columns", header30, names30, {"N99", "AAA", "N70"},
       {{1, 1}, {2, 5}, {2, 13}, {2, 21}, {2, 29}, {3, 30}}, {"1.500", "29.500", "30.500"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    e2e::WorkDir wd;
    Scenario s;
    s.header = c.header;
    s.keys = c.keys;
    s.records = {c.names.size() == 30 ? record30 : "2024-01-01 01:00 1.5 2.5 3.5"};
    prepare(wd, s);
    e2e::RunResult r = wd.run({"2024"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(visible(matching_section(r.out)), visible(expected_matching(c.keys, c.names, c.pairs)));
    EXPECT_EQ(wd.read("fort.600"), dump(8784, c.keys.size(), {{1, c.hour1}}));
  }
}

// The merge conditions, hour by hour, against a yearly level file that the
// test writes: only a negative year value is filled, and only from a source
// value above 0.0 and below 9999999.9995 (so that the rewritten F12.3 field
// keeps its separating blank and the next run loads the file again).
TEST(MergeConditions, OnlyMissingValuesFilledFromPresentOnes) {
  struct Hour {
    int h;
    std::string stored;  // AAA in the yearly level file (F12.3)
    std::string source;  // the source record's value token; empty: no record
    std::string dumped;  // F10.3 field of the hour dump
    std::string kept;    // AAA in the rewritten file
  };
  const std::vector<Hour> hours = {
      {1, "-999.000", "12.5", "12.500", "12.500"},
      {2, "-999.000", "0.0", "-999.000", "-999.000"},
      {3, "-999.000", "-3.0", "-999.000", "-999.000"},
      {4, "-999.000", "-999.0", "-999.000", "-999.000"},
      {5, "-999.000", "1e7", "-999.000", "-999.000"},
      {6, "-999.000", "Inf", "-999.000", "-999.000"},
      {7, "-999.000", "-Inf", "-999.000", "-999.000"},
      // The largest value taken: 11 characters in F12.3, too wide for F10.3.
      {8, "-999.000", "9999999.0", "**********", "9999999.000"},
      {9, "-999.000", "0.001", "0.001", "0.001"},
      // A missing value written with an offset of 1.5 by an earlier run.
      {10, "-997.500", "12.5", "12.500", "12.500"},
      {11, "0.000", "12.5", "0.000", "0.000"},
      {12, "5.000", "12.5", "5.000", "5.000"},
      // -0.0 is not below 0.0; its sum with the offset 0.0 is +0.0.
      {13, "-0.000", "12.5", "0.000", "0.000"},
      // Not a number is neither missing nor present.
      {15, "NaN", "12.5", "NaN", "NaN"},
      {16, "-999.000", "NaN", "-999.000", "-999.000"},
      {17, "-999.000", "nan(a-b)", "-999.000", "-999.000"},
      {18, "-999.000", "+NaN(1.5)", "-999.000", "-999.000"},
      {14, "-999.000", "", "-999.000", "-999.000"},
      {8784, "-999.000", "2.0", "2.000", "2.000"},
  };
  // Location 2 has no column: its stored values stay as they are.
  const std::string zzz_hour1 = "7.250";

  Scenario s;
  s.header = "AAA";
  s.keys = {"AAA", "ZZZ"};
  std::map<int, const Hour*> by_hour;
  for (const Hour& h : hours) {
    by_hour[h.h] = &h;
    if (h.source.empty()) continue;
    // Hours 1 to 23 of 1 January; the last hour index is 24:00 of 31 December.
    const std::string when =
        h.h == 8784 ? "2024-12-31 24:00" : "2024-01-01 " + std::string(h.h < 10 ? "0" : "") + std::to_string(h.h) + ":00";
    s.records.push_back(when + " " + h.source);
  }

  // A header as a run creates it for these two locations.
  const Lines header = {
      "########################################", ":FileType tb0  ASCII  EnSim 1.0         ",
      "#", "# DataType               Time Series", "#", ":Application             EnSimHydrologic",
      ":Version                 2.1.23", ":WrittenBy                      Orvistad",
      ":CreationDate       2024-03-02  10:00", "#", "#---------------------------------------",
      ":SourceFile         hourlysrc.txt", "#", ":Name                               junk", "#",
      ":Projection                      LatLong", ":Ellipsoid                         NAD83", "#",
      ":StartDate          2024-01-01", ":StartTime                         00:00", "#",
      ":AttributeUnits                   1.00", ":DeltaT                1", "#", ":ColumnMetaData",
      "   :ColumnUnits     masl        masl", "   :ColumnType      float       float",
      "   :ColumnName      S1          S2", "   :ColumnLocationX     -79.5000    -79.5000",
      "   :ColumnLocationY      43.2500     43.2500", ":endHeader"};
  auto yearly = [&](bool after) {
    std::string f = crlf(header);
    for (int h = 1; h <= 8784; ++h) {
      auto at = by_hour.find(h);
      std::string aaa = at == by_hour.end() ? "-999.000" : (after ? at->second->kept : at->second->stored);
      f += std::string(20, ' ') + rjust(aaa, 12) + rjust(h == 1 ? zzz_hour1 : "-999.000", 12) + "\r\n";
    }
    return f;
  };

  e2e::WorkDir wd;
  prepare(wd, s);
  wd.write(kYearlyFile, yearly(false));
  e2e::RunResult r = wd.run({"2024"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(visible(matching_section(r.out)), visible(expected_matching(s.keys, {"AAA"}, {{1, 1}})));

  std::map<int, Lines> rows;
  for (const Hour& h : hours) rows[h.h] = {h.dumped, h.h == 1 ? zzz_hour1 : "-999.000"};
  EXPECT_EQ(wd.read("fort.600"), dump(8784, 2, rows));
  EXPECT_EQ(wd.read(kYearlyFile), yearly(true));
  // Every record was readable: the report holds no garbage pair.
  EXPECT_EQ(e2e::split_lines(wd.read("runReport.txt")).size(), 2u);

  // The next run loads what this one wrote, and finds nothing more to fill.
  e2e::RunResult again = wd.run({"2024"});
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(wd.read(kYearlyFile), yearly(true));
  EXPECT_EQ(wd.read("fort.600"), dump(8784, 2, rows));
}

// The hour dump holds the year's hours, each record the hour index and the
// merged row; without locations the hour index alone.
TEST(MergeDump, OneRecordPerHourOfTheYear) {
  struct Case {
    const char* what;
    int year;
    std::string count;
    Lines keys;
    Lines records;
    int hours;
    std::map<int, Lines> rows;
  };
  const std::vector<Case> cases = {
      {"no location", 2024, "0", {}, {"2024-01-01 01:00 1.5"}, 8784, {}},
      {"a negative location count", 2024, "-3", {}, {"2024-01-01 01:00 1.5"}, 8784, {}},
      // 8760 hours: the source's hours after the year's end are not dumped.
      {"a year of 365 days", 2025, "", {"AAA"},
       {"2025-12-31 23:00 5.0", "2026-01-01 00:00 7.0", "2026-01-01 01:00 9.0"}, 8760,
       {{8759, {"5.000"}}, {8760, {"7.000"}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    e2e::WorkDir wd;
    Scenario s;
    s.year = c.year;
    s.count = c.count;
    s.header = "AAA";
    s.keys = c.keys;
    s.records = c.records;
    prepare(wd, s);
    e2e::RunResult r = wd.run({std::to_string(c.year)});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(visible(matching_section(r.out)),
              visible(expected_matching(c.keys, {"AAA"},
                                        c.keys.empty() ? std::vector<std::pair<int, int>>{}
                                                       : std::vector<std::pair<int, int>>{{1, 1}})));
    EXPECT_EQ(wd.read("fort.600"), dump(c.hours, c.keys.size(), c.rows));
  }
}

}  // namespace

// The hourly source file: its opening, its header of column names, its
// records by hour index, the debug trace and the garbage records.
//
// Every scenario runs the program for 2024 in a fresh working directory with
// a configuration, a station list and an hourly source file; the yearly level
// file does not exist and is created. Compared byte for byte: the console up
// to the rewrite of the yearly level file, the debug trace file, the run
// report and the hour dump (where the hourly table shows through the merge
// into an all-missing year table).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "harness.h"

namespace {

using e2e::crlf;
using e2e::visible;
using Lines = std::vector<std::string>;

constexpr int kHours = 8784;  // hour count of 2024
constexpr std::string_view kYearlyName = "level\\2024_lvl.tb0";
constexpr std::string_view kStamp = "2024-03-03  14:05";  // the harness's frozen clock
const std::string kTrace = "debug/missing PC data";

// Left-justified in w characters (cut when longer).
std::string pad(std::string_view s, std::size_t w) {
  std::string r(s.substr(0, std::min(w, s.size())));
  r.resize(w, ' ');
  return r;
}
std::string rjust(std::string_view s, std::size_t w) {
  return s.size() >= w ? std::string(s) : std::string(w - s.size(), ' ') + std::string(s);
}
std::string i12(int v) { return rjust(std::to_string(v), 12); }
void append(Lines& to, const Lines& more) { to.insert(to.end(), more.begin(), more.end()); }

struct Scenario {
  std::string source_name = "hourlysrc.txt";
  std::string header = "AAA BBB";
  Lines records;
  Lines keys = {"AAA", "BBB"};
};

void prepare(const e2e::WorkDir& wd, const Scenario& s) {
  std::string cfg = "Orvistad test configuration\r\n";
  cfg += "source:     " + s.source_name + "\r\n";
  cfg += "yearly:     " + std::string(kYearlyName) + "\r\n";
  cfg += "locations " + std::to_string(s.keys.size()) + "\r\n";
  cfg += "key offset\r\n";
  std::string stations;
  for (std::size_t i = 0; i < s.keys.size(); ++i) {
    cfg += s.keys[i] + " 0.0\r\n";
    stations += "-79.5 43.25 S" + std::to_string(i + 1) + "\r\n";
  }
  wd.write("2024_Orvistad.cfg", cfg);
  wd.write("level_station_list.xyz", stations);
  Lines source = {s.header};
  append(source, s.records);
  wd.write(s.source_name, crlf(source));
}

// Console lines of the steps before the hourly source file is opened.
Lines console_start(const Scenario& s) {
  Lines l = {" ", " 2024_Orvistad.cfg", "source:     " + pad(s.source_name, 60),
             "yearly:     " + pad(kYearlyName, 60), " location" + i12(static_cast<int>(s.keys.size()))};
  for (const std::string& k : s.keys) l.push_back(" " + pad(k, 12) + "  0.0000000E+00");
  l.push_back(" ");
  l.push_back(" Gregrian day 1 =      2460311");  // Julian day number of 1 January 2024
  const std::string yearly = pad(kYearlyName, 128);
  l.push_back(" " + yearly.substr(0, 79));
  l.push_back(" " + yearly.substr(79));
  l.push_back(" opened " + pad(kYearlyName, 40));
  return l;
}

// The 99 header slots in 11 lines of 9.
Lines slot_lines(Lines names) {
  names.resize(99);
  Lines l;
  for (std::size_t line = 0; line < 11; ++line) {
    std::string text;
    for (std::size_t k = 0; k < 9; ++k) text += pad(names[line * 9 + k], 12);
    l.push_back(text);
  }
  return l;
}

// Console from "Input file: " to "last PChdr = ": `slots` as the header read
// left them, `shown` the name shown by each count line.
Lines header_console(const Scenario& s, const Lines& slots, const Lines& shown) {
  Lines l = {" Input file: " + pad(s.source_name, 60), " Opened :" + pad(s.source_name, 60),
             " Entries in the hourlys header"};
  append(l, slot_lines(slots));
  for (std::size_t j = 0; j < shown.size(); ++j) {
    l.push_back(i12(static_cast<int>(j + 1)) + " " + pad(shown[j], 12));
  }
  l.push_back(" found " + i12(static_cast<int>(shown.size())) + "  data columns");
  l.push_back(" last PChdr = " + pad(shown.empty() ? "" : shown.back(), 12));
  return l;
}

const Lines kHints = {" Look for blanks in the header names", " or junk in the data"};

// Console lines of a garbage record, after the hints.
Lines garbage_console(bool hourlysrc) {
  if (hourlysrc) return {" Garbage in the hourlysrc.txt file", " Check for blanks in the location names"};
  return {" Check for blanks in the location names", " Garbage in the hourlyc.txt file"};
}

// Matching heading, then one line per (entry, column) pair.
Lines matching_console(const Lines& keys, const std::vector<std::pair<int, int>>& pairs,
                       const Lines& names) {
  Lines l = {" Found these locations to match with the cfg file for this domain",
             "     PClocation   entry# gname       entry"};
  for (auto [i, c] : pairs) {
    l.push_back(i12(i) + i12(c) + " " + pad(names[static_cast<std::size_t>(c - 1)], 12) +
                pad(keys[static_cast<std::size_t>(i - 1)], 12));
  }
  return l;
}

// The debug trace file's first lines: the opened line spread over two lines,
// then the header slots.
Lines trace_start(const Scenario& s, const Lines& slots) {
  const std::string name = pad(s.source_name, 60);
  Lines l = {" opened " + i12(1) + " " + name.substr(0, 59), " " + name.substr(59)};
  append(l, slot_lines(slots));
  return l;
}

// The trace of one read: date, time, three values as F8.3 texts, its status.
Lines traced(std::string_view date, std::string_view time, const Lines& values, int status) {
  std::string line = pad(date, 12) + pad(time, 12);
  for (const std::string& v : values) line += rjust(v, 8);
  Lines l = {line, " ios= " + i12(status)};
  if (status != 0) append(l, kHints);
  return l;
}

// The hour dump: every hour missing in every column except `rows`
// (hour index -> F10.3 texts).
std::string dump(std::size_t columns, const std::map<int, Lines>& rows) {
  std::string d;
  d.reserve(static_cast<std::size_t>(kHours) * (12 + 10 * columns));
  for (int h = 1; h <= kHours; ++h) {
    d += rjust(std::to_string(h), 10);
    auto row = rows.find(h);
    for (std::size_t i = 0; i < columns; ++i) d += rjust(row == rows.end() ? "-999.000" : row->second[i], 10);
    d += "\r\n";
  }
  return d;
}

std::string report(int garbage_pairs, bool hourlysrc) {
  Lines l = {"Orvistad.exe - started"};
  for (int k = 0; k < garbage_pairs; ++k) {
    l.push_back(hourlysrc ? " Garbage in the hourlysrc.txt file" : " Garbage in the hourlyc.txt file");
    l.push_back("Orvistad.exe - crashed out ending " + std::string(kStamp));
  }
  l.push_back("Orvistad.exe - normal ending " + std::string(kStamp));
  return crlf(l);
}

// The console up to the first line of the rewrite of the yearly level file.
std::string before_rewrite(const std::string& out) {
  static const std::string marker = " Parsing the  level\\yyyymmdd_lvl.tb0 file header\r\n";
  std::size_t at = out.find(marker);
  return at == std::string::npos ? out : out.substr(0, at);
}

// ---------------------------------------------------------------------------

// A small file traced in full: the opened line over two lines, the slots,
// every record with its status, and the end of the file repeating the last
// record with its hints.
TEST(HourlySourceTrace, SmallFileTracedInFull) {
  e2e::WorkDir wd;
  Scenario s;
  // Commas between tokens; a blank line between records; a record whose
  // values run on to the next line, whose rest is not read.
  s.records = {"2024-01-19 13:00 183.250 176.420", "2024-01-19,14:30,183.5,-3", "",
               "2024-01-20 01:00 12345.0 -1000.0", "2024-01-21 02:00 1.25", "2.75 extra"};
  prepare(wd, s);
  e2e::RunResult r = wd.run({"2024"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");

  const Lines slots = {"AAA", "BBB"};
  Lines trace = trace_start(s, slots);
  append(trace, traced("2024-01-19", "13:00", {"183.250", "183.250", "176.420"}, 0));
  append(trace, traced("2024-01-19", "14:30", {"183.500", "183.500", "-3.000"}, 0));
  // 12345.0 and -1000.0 do not fit in 8 characters.
  append(trace, traced("2024-01-20", "01:00", {"********", "********", "********"}, 0));
  append(trace, traced("2024-01-21", "02:00", {"1.250", "1.250", "2.750"}, 0));
  append(trace, traced("2024-01-21", "02:00", {"1.250", "1.250", "2.750"}, -1));
  EXPECT_EQ(visible(wd.read(kTrace)), visible(crlf(trace)));

  Lines console = console_start(s);
  append(console, header_console(s, slots, slots));
  append(console, kHints);  // end of the file
  append(console, matching_console(s.keys, {{1, 1}, {2, 2}}, slots));
  EXPECT_EQ(visible(before_rewrite(r.out)), visible(crlf(console)));

  // Hour index of 13:00 on 19 January: 18 * 24 + 13. Negative source values
  // are not merged.
  EXPECT_EQ(wd.read("fort.600"), dump(2, {{445, {"183.250", "176.420"}},
                                         {446, {"183.500", "-999.000"}},
                                         {457, {"12345.000", "-999.000"}},
                                         {482, {"1.250", "2.750"}}}));
  EXPECT_EQ(wd.read("runReport.txt"), report(0, true));
}

// A file without records: the one read meets the end of the file, and its
// trace line shows the items as they start, the texts as zero bytes and the
// values missing.
TEST(HourlySourceTrace, HeaderAlone) {
  e2e::WorkDir wd;
  Scenario s;
  prepare(wd, s);
  e2e::RunResult r = wd.run({"2024"});
  ASSERT_EQ(r.status, 0) << r.err;
  Lines trace = trace_start(s, {"AAA", "BBB"});
  const std::string unset(12, '\0');
  append(trace, traced(unset, unset, {"-999.000", "-999.000", "-999.000"}, -1));
  EXPECT_EQ(visible(wd.read(kTrace)), visible(crlf(trace)));
  EXPECT_EQ(wd.read("fort.600"), dump(2, {}));
}

// The header line: how its names fill the slots, how the columns are
// counted, and what the records of each kind of header look like.
TEST(HourlySourceHeader, NamesSlotsAndColumns) {
  Lines names101;
  std::string header101;
  std::string record99 = "2024-01-01 01:00";
  for (int k = 1; k <= 101; ++k) {
    std::string name = "C" + std::to_string(1000 + k).substr(1);
    names101.push_back(name);
    header101 += name + " ";
    if (k <= 99) record99 += " " + std::to_string(k);
  }
  const Lines names99(names101.begin(), names101.begin() + 99);

  struct Case {
    const char* what;
    std::string header;
    Lines keys;
    std::string record;
    Lines slots;  // as the header read leaves them
    Lines shown;  // name of each count line
    std::vector<std::pair<int, int>> pairs;
    Lines trace_values;  // of the record; empty: date and time alone
    std::map<int, Lines> rows;
  };
  const std::vector<Case> cases = {
      {"two names", "AAA BBB", {"AAA", "BBB"}, "2024-01-01 01:00 1.5 2.5 3.5", {"AAA", "BBB"},
       {"AAA", "BBB"}, {{1, 1}, {2, 2}}, {"1.500", "1.500", "2.500"}, {{1, {"1.500", "2.500"}}}},
      // The blank slot is not counted but stands for the second value: BBB is
      // column 3 and CCC falls outside the columns.
      {"an empty item between commas", "AAA,,BBB,CCC", {"AAA", "BBB", "CCC"},
       "2024-01-01 01:00 1.5 2.5 3.5", {"AAA", "", "BBB", "CCC"}, {"AAA", "", "BBB"},
       {{1, 1}, {2, 3}}, {"1.500", "2.500", "3.500"}, {{1, {"1.500", "3.500", "-999.000"}}}},
      {"a slash", "AAA BBB / CCC", {"AAA", "CCC"}, "2024-01-01 01:00 1.5 2.5", {"AAA", "BBB"},
       {"AAA", "BBB"}, {{1, 1}}, {"1.500", "1.500", "2.500"}, {{1, {"1.500", "-999.000"}}}},
      {"names cut to 12 characters, a quoted name with a blank", "Kingston_Harbour 'Lake Ont' X",
       {"Kingston_Harbour_Level", "X"}, "2024-01-01 01:00 1.5 2.5 3.5",
       {"Kingston_Har", "Lake Ont", "X"}, {"Kingston_Har", "Lake Ont", "X"}, {{1, 1}, {2, 3}},
       {"1.500", "2.500", "3.500"}, {{1, {"1.500", "3.500"}}}},
      {"more than 99 names", header101, {"C099", "C100"}, record99, names99, names99, {{1, 99}},
       {"1.000", "98.000", "99.000"}, {{1, {"99.000", "-999.000"}}}},
      // One column: the trace line shows its value three times.
      {"one name", "ONLY", {"ONLY"}, "2024-01-01 01:00 1.5 2.5 3.5", {"ONLY"}, {"ONLY"}, {{1, 1}},
       {"1.500", "1.500", "1.500"}, {{1, {"1.500"}}}},
      // No column: records are a date and a time, nothing is merged.
      {"no names", "", {"AAA"}, "2024-01-01 01:00 1.5 2.5 3.5", {}, {}, {}, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    e2e::WorkDir wd;
    Scenario s;
    s.header = c.header;
    s.keys = c.keys;
    s.records = {c.record};
    prepare(wd, s);
    e2e::RunResult r = wd.run({"2024"});
    ASSERT_EQ(r.status, 0) << r.err;

    Lines console = console_start(s);
    append(console, header_console(s, c.slots, c.shown));
    append(console, kHints);
    append(console, matching_console(c.keys, c.pairs, c.slots));
    EXPECT_EQ(visible(before_rewrite(r.out)), visible(crlf(console)));

    Lines trace = trace_start(s, c.slots);
    append(trace, traced("2024-01-01", "01:00", c.trace_values, 0));
    append(trace, traced("2024-01-01", "01:00", c.trace_values, -1));
    EXPECT_EQ(visible(wd.read(kTrace)), visible(crlf(trace)));
    EXPECT_EQ(wd.read("fort.600"), dump(c.keys.size(), c.rows));
  }
}

// Where a record lands: its hour index from the date and hour by position,
// and the records that are not stored.
TEST(HourlySourceRecords, HourIndexAndStorage) {
  struct Case {
    const char* what;
    Lines records;
    Lines trace;             // after the slot lines
    std::map<int, Lines> rows;
  };
  const std::vector<Case> cases = {
      {"a slash after the second value keeps the third",
       {"2024-01-01 01:00 1.0 2.0 3.0", "2024-01-01 02:00 4.0 5.0 / 9.0"},
       {"1.000", "2.000", "3.000", "4.000", "5.000", "3.000"},
       {{1, {"1.000", "2.000", "3.000"}}, {2, {"4.000", "5.000", "3.000"}}}},
      {"records before 01:00 of 1 January are not stored",
       {"2023-12-31 23:00 7.0 7.0 7.0", "2024-01-01 00:00 8.0 8.0 8.0", "2024-01-01 01:00 9.0 9.0 9.0"},
       {"7.000", "7.000", "7.000", "8.000", "8.000", "8.000", "9.000", "9.000", "9.000"},
       {{1, {"9.000", "9.000", "9.000"}}}},
      {"the later of two records of one hour stands",
       {"2024-01-19 13:00 183.25 176.42 1.5", "2024-01-19 13:30 183.5 176.5 2.5"},
       {"183.250", "176.420", "1.500", "183.500", "176.500", "2.500"},
       {{445, {"183.500", "176.500", "2.500"}}}},
      {"24:00 is 00:00 of the next day", {"2024-01-05 24:00 1.0 2.0 3.0"},
       {"1.000", "2.000", "3.000"}, {{120, {"1.000", "2.000", "3.000"}}}},
      {"day 0 and month 13 roll over", {"2024-02-00 05:00 1.0 2.0 3.0", "2023-13-01 03:00 4.0 5.0 6.0"},
       {"1.000", "2.000", "3.000", "4.000", "5.000", "6.000"},
       {{725, {"1.000", "2.000", "3.000"}}, {3, {"4.000", "5.000", "6.000"}}}},
      // 7:00 gives the field "7:", 2024-1-5 the fields "1-" and blanks: each
      // keeps the previous record's value.
      {"a one-digit hour, month or day keeps the previous one",
       {"2024-01-02 10:00 1.0 2.0 3.0", "2024-01-03 7:00 4.0 5.0 6.0", "2024-1-5 03:00 7.0 8.0 9.0"},
       {"1.000", "2.000", "3.000", "4.000", "5.000", "6.000", "7.000", "8.000", "9.000"},
       {{34, {"1.000", "2.000", "3.000"}}, {58, {"4.000", "5.000", "6.000"}}, {51, {"7.000", "8.000", "9.000"}}}},
      {"the last row is 00:00 of 1 January 2025; later hours are not stored",
       {"2025-01-01 00:00 1.0 2.0 3.0", "2025-01-01 01:00 4.0 5.0 6.0", "2099-12-31 23:00 7.0 8.0 9.0"},
       {"1.000", "2.000", "3.000", "4.000", "5.000", "6.000", "7.000", "8.000", "9.000"},
       {{8784, {"1.000", "2.000", "3.000"}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    e2e::WorkDir wd;
    Scenario s;
    s.header = "AAA BBB CCC";
    s.keys = {"AAA", "BBB", "CCC"};
    s.records = c.records;
    prepare(wd, s);
    e2e::RunResult r = wd.run({"2024"});
    ASSERT_EQ(r.status, 0) << r.err;

    const Lines slots = {"AAA", "BBB", "CCC"};
    Lines trace = trace_start(s, slots);
    for (std::size_t k = 0; k < c.records.size(); ++k) {
      const std::string& rec = c.records[k];
      std::size_t blank = rec.find(' ');
      std::size_t after = rec.find(' ', blank + 1);
      const Lines values(c.trace.begin() + static_cast<long>(3 * k), c.trace.begin() + static_cast<long>(3 * k + 3));
      const std::string date = rec.substr(0, blank);
      const std::string time = rec.substr(blank + 1, after - blank - 1);
      append(trace, traced(date, time, values, 0));
      if (k + 1 == c.records.size()) append(trace, traced(date, time, values, -1));
    }
    EXPECT_EQ(visible(wd.read(kTrace)), visible(crlf(trace)));
    EXPECT_EQ(wd.read("fort.600"), dump(3, c.rows));
    EXPECT_EQ(wd.read("runReport.txt"), report(0, true));
  }
}

// A record that cannot be read is reported, its hour becomes missing, and
// the reading goes on. The wording of the reports follows the end of the
// source file's name.
TEST(HourlySourceGarbage, ReportedMissingAndReadingGoesOn) {
  struct Case {
    std::string source_name;
    bool hourlysrc;
    std::string bad_record;
    Lines bad_trace;  // values of the bad record's trace line
    int bad_status;
  };
  const std::vector<Case> cases = {
      {"hourlysrc.txt", true, "2024-01-01 01:30 7.0 M", {"7.000", "7.000", "6.000"}, 59},
      {"in/2024_hourlysrc.txt", true, "2024-01-01 01:30 7.0 M", {"7.000", "7.000", "6.000"}, 59},
      {"HOURLYSRC.TXT", false, "2024-01-01 01:30 7.0 M", {"7.000", "7.000", "6.000"}, 59},
      {"hourlysrc.txt.old", false, "2024-01-01 01:30 7.0 M", {"7.000", "7.000", "6.000"}, 59},
      {"src.txt", false, "2024-01-01 01:30 7.0 M", {"7.000", "7.000", "6.000"}, 59},
      // NA cannot be converted: the value becomes 0.0, and the record is a
      // garbage record like any other.
      {"hourlysrc.txt", true, "2024-01-01 01:30 NA 7.0", {"0.000", "0.000", "6.000"}, 64},
      {"hourlyc.txt", false, "2024-01-01 01:30 7.0 NA", {"7.000", "7.000", "0.000"}, 64},
      // A quote before a value without its closing quote: the value is not
      // converted, and the next record is read as usual.
      {"hourlysrc.txt", true, "2024-01-01 01:30 7.0 \"12.5", {"7.000", "7.000", "6.000"}, 64},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source_name + " / " + c.bad_record);
    e2e::WorkDir wd;
    Scenario s;
    s.source_name = c.source_name;
    // The bad record falls on hour 1 after a good one, so its missing values
    // replace good ones; the records after it are still read and stored.
    s.records = {"2024-01-01 01:00 5.0 6.0", c.bad_record, "2024-01-01 02:00 8.0 9.0",
                 "2024-01-01 03:00 10.0 11.0"};
    prepare(wd, s);
    e2e::RunResult r = wd.run({"2024"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");

    const Lines slots = {"AAA", "BBB"};
    Lines console = console_start(s);
    append(console, header_console(s, slots, slots));
    append(console, kHints);
    append(console, garbage_console(c.hourlysrc));
    append(console, kHints);  // end of the file
    append(console, matching_console(s.keys, {{1, 1}, {2, 2}}, slots));
    EXPECT_EQ(visible(before_rewrite(r.out)), visible(crlf(console)));

    Lines trace = trace_start(s, slots);
    append(trace, traced("2024-01-01", "01:00", {"5.000", "5.000", "6.000"}, 0));
    append(trace, traced("2024-01-01", "01:30", c.bad_trace, c.bad_status));
    append(trace, traced("2024-01-01", "02:00", {"8.000", "8.000", "9.000"}, 0));
    append(trace, traced("2024-01-01", "03:00", {"10.000", "10.000", "11.000"}, 0));
    append(trace, traced("2024-01-01", "03:00", {"10.000", "10.000", "11.000"}, -1));
    EXPECT_EQ(visible(wd.read(kTrace)), visible(crlf(trace)));

    EXPECT_EQ(wd.read("runReport.txt"), report(1, c.hourlysrc));
    EXPECT_EQ(wd.read("fort.600"), dump(2, {{2, {"8.000", "9.000"}}, {3, {"10.000", "11.000"}}}));
  }
}

// Two garbage records give two pairs in the run report, between the run's
// started and normal-ending lines, also when the report already held lines.
TEST(HourlySourceGarbage, OnePairPerGarbageRecord) {
  e2e::WorkDir wd;
  Scenario s;
  s.records = {"2024-01-01 01:00 # 6.0", "2024-01-01 02:00 8.0 9.0", "2024-01-01 03:00 1:0 2.0"};
  prepare(wd, s);
  const std::string earlier = crlf({"Orvistad.exe - started", "Orvistad.exe - normal ending 2024-03-02  10:00"});
  wd.write("runReport.txt", earlier);
  e2e::RunResult r = wd.run({"2024"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(wd.read("runReport.txt"), earlier + report(2, true));
  EXPECT_EQ(wd.read("fort.600"), dump(2, {{2, {"8.000", "9.000"}}}));
}

// The runs that end in the opening or the header read: the trace file holds
// nothing or only its opened line, and the run report only its started line.
TEST(HourlySourceOpen, RunsThatEndBeforeTheRecords) {
  enum class Source { Missing, Empty, Directory };
  struct Case {
    Source source;
    const char* what;
    int status;
    std::string err;     // "@" stands for the source file's absolute path
    Lines console_tail;  // after "Input file: "
    bool trace_opened;   // the trace file holds its opened line
  };
  const std::string name128 = pad("hourlysrc.txt", 128);
  const std::vector<Case> cases = {
      // The numbered stop's 99999 is seen as 99999 mod 256.
      {Source::Missing, "missing", 159, "99999\r\n", {"  input file #           1  not found"}, false},
      {Source::Empty, "empty", 24, "forrtl: severe (24): end-of-file during read, unit 99, file @\r\n",
       {" Opened :" + pad("hourlysrc.txt", 60)}, true},
      {Source::Directory, "a directory", 1, "",
       {" Problems opening ", " " + name128.substr(0, 79), " " + name128.substr(79)}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    e2e::WorkDir wd;
    Scenario s;
    prepare(wd, s);
    wd.remove(s.source_name);
    if (c.source == Source::Empty) wd.write(s.source_name, "");
    if (c.source == Source::Directory) wd.mkdir(s.source_name);
    e2e::RunResult r = wd.run({"2024"});
    EXPECT_EQ(r.status, c.status);
    std::string err = c.err;
    if (std::size_t at = err.find('@'); at != std::string::npos) {
      err.replace(at, 1, std::filesystem::canonical(wd.path()).string() + "/" + s.source_name);
    }
    EXPECT_EQ(r.err, err);

    Lines console = console_start(s);
    console.push_back(" Input file: " + pad(s.source_name, 60));
    append(console, c.console_tail);
    EXPECT_EQ(visible(r.out), visible(crlf(console)));

    Lines trace = trace_start(s, {});
    trace.resize(c.trace_opened ? 2 : 0);  // the opened line alone
    EXPECT_EQ(visible(wd.read(kTrace)), visible(crlf(trace)));
    EXPECT_EQ(wd.read("runReport.txt"), crlf({"Orvistad.exe - started"}));
    EXPECT_FALSE(wd.exists("fort.600"));
  }
}

}  // namespace

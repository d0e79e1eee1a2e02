// Reliability, end to end: outputs that cannot be made, full disks, damaged
// configurations, runs killed while the yearly level file is created or
// rewritten, damaged hourly source files, a very long run report and a
// hundred consecutive runs of the bundled example, runs that share files
// wherever they start, a rename that is refused, a FIFO as the hourly source
// file and a file size limit.
//
// Every case checks what the user sees (console, standard error, exit status)
// and that nothing was lost: the run report keeps every earlier line, the
// yearly level file is the old one or the new one byte for byte, and every
// file that the run did not reach is kept as it was.
//
// The tests named ReliabilityKnownFault show faults that are still open: each
// states what happens and what should happen instead.
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"

namespace {

namespace fs = std::filesystem;
using e2e::blanks;
using e2e::crlf;
using std::chrono::steady_clock;

// The text cut or padded with blanks to n characters, as a fixed-length field holds it.
std::string field(std::string s, std::size_t n) {
  s.resize(n, ' ');
  return s;
}

bool starts_with(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

std::string absolute(const e2e::WorkDir& wd, const std::string& relative) {
  return fs::canonical(wd.path()).string() + "/" + relative;
}

// ---------------------------------------------------------------------------
// The working directory of most cases: n gauges LAKE01... with offsets in
// turn 0.5, 0.0, 0.25 and 0.05, the yearly level file in a directory of its
// own, and an hourly source file with six hours of three of the gauges and a
// column that no gauge takes.

constexpr const char* kYearlyName = "year\\lake_lvl.tb0";  // as configured
constexpr const char* kYearly = "year/lake_lvl.tb0";       // on the file system
constexpr const char* kSourceName = "hourlysrc.txt";
constexpr const char* kConfig = "2024_Orvistad.cfg";
constexpr const char* kReport = "runReport.txt";
constexpr const char* kTrace = "debug/missing PC data";
constexpr const char* kDump = "fort.600";
constexpr int kHours = 8784;

const std::string kStarted = "Orvistad.exe - started";
const std::string kNormalEnding = "Orvistad.exe - normal ending 2024-03-03  14:05";

std::string key(int i) {
  char b[16];
  std::snprintf(b, sizeof b, "LAKE%02d", i);
  return b;
}

const char* offset(int i) {
  static const char* const offsets[] = {"0.5", "0.0", "0.25", "0.05"};
  return offsets[(i - 1) % 4];
}

struct Configured {
  int locations = 2;
  std::string yearly = kYearlyName;
  std::string source = kSourceName;
  std::string count;         // the location count as written; empty: the number
  std::string first_offset;  // the first gauge's offset as written; empty: its own
};

std::string configuration(const Configured& c) {
  std::string s = "Orvistad configuration\n";
  s += field("hourly", 12) + c.source + "\n";
  s += field("yearly", 12) + c.yearly + "\n";
  s += "locations " + (c.count.empty() ? std::to_string(c.locations) : c.count) + "\n";
  s += "key_offset\n";
  for (int i = 1; i <= c.locations; ++i)
    s += key(i) + " " + (i == 1 && !c.first_offset.empty() ? c.first_offset : offset(i)) + "\n";
  return s;
}

std::string station_list(int locations) {
  std::string s;
  for (int i = 1; i <= locations; ++i) {
    char b[64];
    std::snprintf(b, sizeof b, "-80.%04d 45.%04d Gauge%02d\n", 125 * i, 250 * i, i);
    s += b;
  }
  return s;
}

// Six hours from `first_hour` of 1 January.
std::string gauge_source(int first_hour = 1) {
  std::string s = "LAKE01 LAKE02 OTHER LAKE03\n";
  for (int h = first_hour; h < first_hour + 6; ++h) {
    char b[96];
    std::snprintf(b, sizeof b, "2024-01-01 %02d:00 217.%03d 218.%03d 1.5 219.%03d\n", h, 125 * h, 250 * h, 375 * h);
    s += b;
  }
  return s;
}

void set_up(const e2e::WorkDir& wd, int locations, const std::string& source = gauge_source()) {
  wd.mkdir("year");
  Configured c;
  c.locations = locations;
  wd.write(kConfig, configuration(c));
  wd.write("level_station_list.xyz", station_list(locations));
  wd.write(kSourceName, source);
}

// Only the last lines of a console are compared: the lines that show why the run ended.
void expect_console_tail(const std::string& out, const std::vector<std::string>& tail) {
  const std::vector<std::string> lines = e2e::split_lines(out);
  ASSERT_GE(lines.size(), tail.size()) << e2e::visible(out);
  const std::vector<std::string> last(lines.end() - static_cast<std::ptrdiff_t>(tail.size()), lines.end());
  EXPECT_EQ(last, tail) << e2e::visible(out.substr(out.size() > 3000 ? out.size() - 3000 : 0));
}

// Where two texts first differ, for failure messages about large files.
std::string first_difference(const std::string& a, const std::string& b) {
  std::size_t at = 0;
  while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
  return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size()) + ", first difference at byte " +
         std::to_string(at);
}

// ---------------------------------------------------------------------------
// Faults that end a run: each is injected into a working directory where a
// first run has ended normally, so that there is something to lose.

enum class After {
  AsReference,  // as after two normal runs
  Absent,
  Any,  // an output of the run, made again or left partial: the debug trace, the hour dump
};

struct FaultCase {
  std::string name;
  std::function<void(const e2e::WorkDir&)> inject;
  std::vector<std::string> env;
  // A file size limit for the run, from the injected directory; null for none.
  std::function<std::uint64_t(const e2e::WorkDir&)> limit;
  int status;
  std::function<std::string(const e2e::WorkDir&)> err;
  std::vector<std::string> console_tail;
  std::vector<std::string> appended;  // the lines that the run report gains
  // The files that the run may change; every other one stays as it was.
  std::map<std::string, After> outputs;
  std::function<void(const e2e::WorkDir&)> extra = nullptr;
  // Above 0: the run's address space in bytes.
  std::uint64_t address_space = 0;
};

// A sanitizer's runtime reserves far more address space than any limit a
// test sets, so runs with such a limit are left out of a sanitizer build.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

void expect_nothing_lost(const std::map<std::string, std::string>& before,
                         const std::map<std::string, std::string>& after, const FaultCase& c,
                         const std::map<std::string, std::string>& reference) {
  std::set<std::string> names;
  for (const auto& [name, bytes] : before) names.insert(name);
  for (const auto& [name, bytes] : after) names.insert(name);
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const bool was = before.count(name) > 0;
    const bool is = after.count(name) > 0;
    if (name == kReport && was) {
      ASSERT_TRUE(is);
      // Compared whole but shown by its end: a report of megabytes is too
      // large for a line-by-line difference.
      const std::string& report = after.at(name);
      const std::string expected = before.at(name) + crlf(c.appended);
      EXPECT_TRUE(report == expected) << first_difference(report, expected) << ", ending\n"
                                      << e2e::visible(report.substr(report.size() > 300 ? report.size() - 300 : 0));
      continue;
    }
    auto output = c.outputs.find(name);
    if (output == c.outputs.end()) {
      EXPECT_TRUE(was && is) << (was ? "lost" : "made, and not kept apart from the rest");
      if (was && is) {
        EXPECT_TRUE(after.at(name) == before.at(name)) << first_difference(after.at(name), before.at(name));
      }
      continue;
    }
    switch (output->second) {
      case After::AsReference:
        ASSERT_TRUE(is);
        EXPECT_TRUE(after.at(name) == reference.at(name)) << first_difference(after.at(name), reference.at(name));
        break;
      case After::Absent: EXPECT_FALSE(is); break;
      case After::Any: break;
    }
  }
}

TEST(ReliabilityFaults, EachEndsWithItsMessageAndLosesNothing) {
  // Twenty gauges: the hour dump (1,862,208 bytes) is large enough to be
  // written out while the merge runs, before the yearly file is rewritten.
  constexpr int kLocations = 20;
  e2e::WorkDir ref;
  set_up(ref, kLocations);
  ASSERT_EQ(ref.run({"2024"}).status, 0);
  const std::map<std::string, std::string> first = ref.files();
  ASSERT_EQ(ref.run({"2024"}).status, 0);
  const std::map<std::string, std::string> second = ref.files();
  const std::uint64_t dump_size = second.at(kDump).size();
  const std::uint64_t yearly_size = second.at(kYearly).size();
  ASSERT_GT(dump_size, std::uint64_t{1} << 20);
  ASSERT_LT(dump_size, yearly_size);
  // Files may grow up to here: the hour dump fits, the yearly file does not.
  const std::uint64_t below_yearly = (dump_size + yearly_size) / 2;

  auto path_of = [](const std::string& relative) {
    return [relative](const e2e::WorkDir& wd) { return absolute(wd, relative); };
  };
  auto failure = [](int number, const std::string& message, int unit,
                    std::function<std::string(const e2e::WorkDir&)> file) {
    return [=](const e2e::WorkDir& wd) {
      return "forrtl: severe (" + std::to_string(number) + "): " + message + ", unit " + std::to_string(unit) +
             ", file " + file(wd) + "\r\n";
    };
  };
  auto text = [](const std::string& s) { return [s](const e2e::WorkDir&) { return s; }; };
  auto replace_by_directory = [](const std::string& name) {
    return [name](const e2e::WorkDir& wd) {
      wd.remove(name);
      wd.mkdir(name);
    };
  };
  // The run report grown by pairs of lines of earlier runs.
  auto grow_report = [](int pairs) {
    return [pairs](const e2e::WorkDir& wd) {
      std::string earlier = wd.read(kReport);
      for (int i = 0; i < pairs; ++i) earlier += crlf({kStarted, kNormalEnding});
      wd.write(kReport, earlier);
    };
  };
  // A file size limit of the report's size and some bytes more.
  auto report_size_plus = [](std::uint64_t more) {
    return [more](const e2e::WorkDir& wd) { return static_cast<std::uint64_t>(wd.read(kReport).size()) + more; };
  };
  // An output that is a symbolic link to a device that is always full.
  auto link_to_full_disk = [](const std::string& name) {
    return [name](const e2e::WorkDir& wd) {
      wd.remove(name);
      fs::create_symlink("/dev/full", fs::path(wd.path()) / name);
    };
  };
  auto reconfigure = [](Configured c) {
    return [c](const e2e::WorkDir& wd) { wd.write(kConfig, configuration(c)); };
  };
  auto configured = [](std::function<void(Configured&)> change) {
    Configured c;
    c.locations = kLocations;
    change(c);
    return c;
  };
  // The free-form echo of a 128-character name after a text: the name starts
  // a line of its own and runs on to a second line.
  auto long_name_lines = [](const std::string& before, const std::string& name) {
    const std::string all = field(name, 128);
    return std::vector<std::string>{" " + before, " " + all.substr(0, 79), " " + all.substr(79)};
  };
  const std::vector<std::string> matching_lines = {
      "     PClocation   entry# gname       entry",
      "           1           1 LAKE01      LAKE01      ",
      "           2           2 LAKE02      LAKE02      ",
      "           3           4 LAKE03      LAKE03      ",
  };
  const std::vector<std::string> trailer = {" ", "Time of run:2024-03-03  14:05",
                                            " Compile date 2024/01/19 - New PC format",
                                            " Orvistad.exe - normal ending"};
  const std::string long_dump_name(300, 'x');
  const std::string zero_yearly = std::string("year\\lake") + '\0' + "lvl.tb0";
  const std::string zero_source = std::string("hourly") + '\0' + "src.txt";
  const std::string cut_yearly = "year/" + std::string(55, 'y');  // the 60 characters that the field keeps

  const std::vector<FaultCase> cases = {
      // Outputs that cannot be made.
      {"no debug directory", [](const e2e::WorkDir& wd) { wd.remove("debug"); }, {}, nullptr, 29,
       failure(29, "file not found", 777, path_of(kTrace)), {" "}, {kStarted}, {}},
      {"no level directory for the placeholder files", [](const e2e::WorkDir& wd) { wd.remove("level"); }, {},
       nullptr, 1, text("Program aborted in write_tb0 @ 52\r\n"),
       {" ", " Unable to open file" + field("level\\regl_lvl.tb0", 60), " Possible cause(s):",
        " file in use by another application", " or target directory does not exist"},
       {kStarted},
       {{kYearly, After::AsReference}, {kTrace, After::AsReference}, {kDump, After::AsReference}}},
      {"the run report is a directory", replace_by_directory(kReport), {}, nullptr, 30,
       failure(30, "open failure", 99, path_of(kReport)), {" "}, {}, {}},
      {"the debug trace is a directory", replace_by_directory(kTrace), {}, nullptr, 30,
       failure(30, "open failure", 777, path_of(kTrace)), {" "}, {kStarted}, {}},
      {"the yearly level file is a directory", replace_by_directory(kYearly), {}, nullptr, 1,
       text("Program aborted @ 42\r\n"), {" Problems opening :" + field(kYearlyName, 40)}, {kStarted},
       {{kTrace, After::Any}}},
      {"the hourly source file is a directory", replace_by_directory(kSourceName), {}, nullptr, 1, text(""),
       long_name_lines("Problems opening ", kSourceName), {kStarted}, {{kTrace, After::Any}}},
      {"the hour dump is a directory", replace_by_directory(kDump), {}, nullptr, 30,
       failure(30, "open failure", 600, path_of(kDump)), matching_lines, {kStarted}, {{kTrace, After::Any}}},
      {"the hour dump's name is too long", nullptr, {"FORT600=" + long_dump_name}, nullptr, 43,
       failure(43, "file name specification error", 600, path_of(long_dump_name)), matching_lines, {kStarted},
       {{kTrace, After::Any}}},
      // The failure line names the file by its absolute path, lexically normal.
      {"the hour dump in a directory that does not exist", nullptr, {"FORT600=.\\nodir\\.\\dump.txt"}, nullptr, 29,
       failure(29, "file not found", 600, path_of("nodir/dump.txt")), matching_lines, {kStarted},
       {{kTrace, After::Any}}},
      // The configured name is read into a 60-character field: a longer one is
      // cut, and the yearly file is made under the cut name.
      {"a yearly level file name longer than its field",
       reconfigure(configured([](Configured& c) { c.yearly = "year\\" + std::string(300, 'y'); })), {}, nullptr, 0,
       text(""), trailer, {kStarted, kNormalEnding},
       {{cut_yearly, After::Any}, {kDump, After::Any}},
       [&](const e2e::WorkDir& wd) { EXPECT_TRUE(wd.read(cut_yearly) == first.at(kYearly)); }},

      // Full disks.
      {"full disk for the hour dump", nullptr, {"FORT600=/dev/full"}, nullptr, 38,
       failure(38, "error during write", 600, text("/dev/full")), matching_lines, {kStarted},
       {{kTrace, After::Any}}},
      {"full disk for the rewrite of the yearly level file", nullptr, {},
       [&](const e2e::WorkDir&) { return below_yearly; }, 38,
       failure(38, "error during write", 100, path_of(kYearly)), {" Writing the data to " + field(kYearlyName, 40)},
       {kStarted}, {{kTrace, After::Any}, {kDump, After::AsReference}}},
      {"full disk for the creation of the yearly level file", [](const e2e::WorkDir& wd) { wd.remove(kYearly); }, {},
       [&](const e2e::WorkDir&) { return below_yearly; }, 38,
       failure(38, "error during write", 999, path_of(kYearly)), {" opened " + field(kYearlyName, 40)}, {kStarted},
       {{kYearly, After::Absent}, {kTrace, After::Any}}},
      // The limit holds for the console's files too: the report is made
      // larger than the failure line, so that the line reaches standard error.
      {"full disk for the run report", grow_report(100), {}, report_size_plus(0), 38,
       failure(38, "error during write", 99, path_of(kReport)), {" "}, {}, {}},
      // A line that the disk takes only in part is taken back whole.
      {"full disk in the middle of the started line", grow_report(100), {}, report_size_plus(10), 38,
       failure(38, "error during write", 99, path_of(kReport)), {" "}, {}, {}},
      // Here the report is larger than every file that the run writes, so
      // that only the normal-ending line meets the limit.
      {"full disk in the middle of the normal-ending line", grow_report(40000), {},
       report_size_plus(kStarted.size() + 2 + 10), 38, failure(38, "error during write", 99, path_of(kReport)),
       {" Closed " + field("level\\climate_lvl.tb0", 72)}, {kStarted},
       {{kYearly, After::AsReference}, {kTrace, After::AsReference}, {kDump, After::AsReference}}},
      // The trace is written out when it is closed, after the yearly file has
      // been replaced; the hour dump, still open, is written out by the ending.
      {"full disk for the debug trace", link_to_full_disk(kTrace), {}, nullptr, 38,
       failure(38, "error during write", 777, path_of(kTrace)), {" Writing the data to " + field(kYearlyName, 40)},
       {kStarted}, {{kYearly, After::AsReference}, {kDump, After::AsReference}}},
      // The hour dump fails first, in the merge; the trace that the ending
      // then cannot write out adds no second line.
      {"full disk for the hour dump and the debug trace", link_to_full_disk(kTrace), {"FORT600=/dev/full"}, nullptr,
       38, failure(38, "error during write", 600, text("/dev/full")), matching_lines, {kStarted}, {}},
      {"full disk for a placeholder file", link_to_full_disk("level/regl_lvl.tb0"), {}, nullptr, 38,
       failure(38, "error during write", 99, path_of("level/regl_lvl.tb0")),
       {" Opened unit=          99  filename=" + field("level\\regl_lvl.tb0", 40)}, {kStarted},
       {{kYearly, After::AsReference}, {kTrace, After::AsReference}, {kDump, After::AsReference}}},

      // Configurations with bytes that are not text.
      {"a zero byte in the yearly level file name",
       reconfigure(configured([&](Configured& c) { c.yearly = zero_yearly; })), {}, nullptr, 1,
       text("Orvistad aborted @ 129\r\n"), long_name_lines("Unable to open ", zero_yearly), {kStarted},
       {{kTrace, After::Any}}},
      {"a zero byte in the hourly source file name",
       reconfigure(configured([&](Configured& c) { c.source = zero_source; })), {}, nullptr, 159, text("99999\r\n"),
       {" Input file: " + field(zero_source, 60), "  input file #           1  not found"}, {kStarted},
       {{kTrace, After::Any}}},
      {"0xFF inside an offset", reconfigure(configured([](Configured& c) { c.first_offset = "0.\xff" "5"; })), {},
       nullptr, 1, text(""),
       {" LAKE01       -1.0000000E-32", " Error reading data the Orvistad.cfg file", " Orvistad.exe aborted @ 102"},
       {kStarted}, {}},
      {"a control character in the location count",
       reconfigure(configured([](Configured& c) { c.count = "\x01" "20"; })), {}, nullptr, 59,
       failure(59, "list-directed I/O syntax error", 99, path_of(kConfig)),
       {field("hourly", 12) + field(kSourceName, 60), field("yearly", 12) + field(kYearlyName, 60)}, {kStarted}, {}},
      {"a configuration of zero bytes, 0xFF and control characters",
       [](const e2e::WorkDir& wd) { wd.write(kConfig, std::string("\xff\xfe\n\0\0\0\n\x01\x02\x1b\n", 10)); }, {},
       nullptr, 24, failure(24, "end-of-file during read", 99, path_of(kConfig)),
       {field(std::string("\0\0\0", 3), 72), field(std::string("\x01\x02\x1b", 3), 72)}, {kStarted}, {}},

      // Memory: a source record of 64 MB cannot be held in 48 MB.
      {"memory runs out on a huge source record",
       [](const e2e::WorkDir& wd) {
         std::string source = wd.read(kSourceName);
         source.resize(source.find('\n') + 1);
         source += "2024-01-01 01:00";
         for (int i = 0; i < 16000000; ++i) source += " 5.0";
         wd.write(kSourceName, source + "\r\n");
       },
       {}, nullptr, 1, text("Orvistad.exe aborted: out of memory\r\n"), {}, {kStarted}, {{kTrace, After::Any}},
       nullptr, std::uint64_t{48} << 20},
  };

  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.address_space > 0 && kSanitized) continue;
    e2e::WorkDir wd;
    set_up(wd, kLocations);
    ASSERT_EQ(wd.run({"2024"}).status, 0);
    if (c.inject) c.inject(wd);
    const std::map<std::string, std::string> before = wd.files();
    e2e::StartOptions options;
    options.env = c.env;
    if (c.limit) options.file_size_limit = c.limit(wd);
    options.address_space_limit = c.address_space;
    const e2e::RunResult r = wd.start({"2024"}, options).wait();
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(e2e::visible(r.err), e2e::visible(c.err(wd)));
    expect_console_tail(r.out, c.console_tail);
    expect_nothing_lost(before, wd.files(), c, second);
    if (c.extra) c.extra(wd);
  }
}

// ---------------------------------------------------------------------------
// Runs killed at many points of the creation and of the rewrite of the
// yearly level file.

std::string header_of(const std::string& yearly) {
  const std::size_t end = yearly.find("\r\n:endHeader");
  return end == std::string::npos ? std::string() : yearly.substr(0, yearly.find("\r\n", end + 2) + 2);
}

std::string missing_lines(int locations) {
  std::string line = blanks(20);
  for (int i = 0; i < locations; ++i) line += "    -999.000";
  line += "\r\n";
  std::string all;
  all.reserve(line.size() * kHours);
  for (int j = 0; j < kHours; ++j) all += line;
  return all;
}

// The size of the largest file beside the yearly file: the new content on its
// way to the disk.
std::uintmax_t beside_yearly(const e2e::WorkDir& wd) {
  std::uintmax_t largest = 0;
  std::error_code ec;
  for (fs::directory_iterator it(fs::path(wd.path()) / "year", ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().filename() == "lake_lvl.tb0") continue;
    std::error_code size_ec;
    const std::uintmax_t size = fs::file_size(it->path(), size_ec);
    if (!size_ec && size > largest) largest = size;
  }
  return largest;
}

std::vector<std::string> year_dir_names(const e2e::WorkDir& wd) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(fs::path(wd.path()) / "year"))
    names.push_back(entry.path().filename().string());
  return names;
}

TEST(ReliabilityKill, YearlyFileIsWholeAfterAKillAtAnyPoint) {
  // Thirty gauges: a yearly file of 3.4 MB, written in several pieces.
  constexpr int kLocations = 30;
  const std::string earlier = crlf({"Orvistad.exe - started", "Orvistad.exe - normal ending 2024-03-02  14:05"});

  // Three uninterrupted runs give the files that a run may leave.
  e2e::WorkDir ref;
  set_up(ref, kLocations);
  std::vector<std::string> after(4);
  std::vector<double> seconds(4);
  for (int k = 1; k <= 3; ++k) {
    const auto t0 = steady_clock::now();
    ASSERT_EQ(ref.run({"2024"}).status, 0);
    seconds[k] = std::chrono::duration<double>(steady_clock::now() - t0).count();
    after[k] = ref.read(kYearly);
  }
  // A run that makes the file closes it with missing values before the rewrite.
  const std::string created = header_of(after[1]) + missing_lines(kLocations);
  const std::string absent = "(no file)";

  struct Phase {
    std::string name;
    bool existing;
    double seconds;
    // What a kill may leave, and what the next run makes of it.
    std::map<std::string, std::string> next;
    std::map<std::string, std::string> names;
  };
  const std::vector<Phase> phases = {
      {"creation", false, seconds[1],
       {{absent, after[1]}, {created, after[1]}, {after[1], after[2]}},
       {{absent, "none"}, {created, "created"}, {after[1], "new"}}},
      {"rewrite", true, seconds[2], {{after[1], after[2]}, {after[2], after[3]}},
       {{after[1], "old"}, {after[2], "new"}}},
  };

  struct KillPoint {
    double fraction = 0;           // of an uninterrupted run's time, or
    std::uintmax_t written = 0;    // bytes of new content beside the file, or
    int replaced = 0;              // times the file has been made or replaced
  };
  for (const Phase& phase : phases) {
    SCOPED_TRACE(phase.name);
    std::vector<KillPoint> points;
    for (int i = 0; i < 12; ++i) points.push_back({(i + 0.5) / 12});
    const std::uintmax_t size = after[1].size();
    for (std::uintmax_t part : {std::uintmax_t{0}, size / 4, size / 2, 3 * size / 4}) points.push_back({0, part + 1});
    // Right after the rename: the creation makes the file and the rewrite replaces it.
    for (int times = 1; times <= (phase.existing ? 1 : 2); ++times) points.push_back({0, 0, times});

    std::map<std::string, int> left;  // state name -> kills that left it
    int killed_while_writing = 0;
    for (const KillPoint& point : points) {
      SCOPED_TRACE(point.written > 0    ? "at " + std::to_string(point.written) + " bytes written"
                   : point.replaced > 0 ? "after " + std::to_string(point.replaced) + " replacements"
                                        : "at " + std::to_string(point.fraction) + " of the run");
      e2e::WorkDir wd;
      set_up(wd, kLocations);
      wd.write(kReport, earlier);
      if (phase.existing) wd.write(kYearly, after[1]);
      const std::string yearly_path = wd.path() + "/" + kYearly;
      auto inode = [&yearly_path] {
        struct stat st {};
        return ::stat(yearly_path.c_str(), &st) == 0 ? st.st_ino : ino_t{0};
      };

      ino_t seen = inode();
      int replaced = 0;
      e2e::Process run = wd.start({"2024"});
      const auto t0 = steady_clock::now();
      const bool by_time = point.written == 0 && point.replaced == 0;
      const auto deadline = t0 + std::chrono::duration<double>(by_time ? point.fraction * phase.seconds : 60.0);
      for (;;) {
        if (run.ended() || steady_clock::now() >= deadline) break;
        if (point.written > 0 && beside_yearly(wd) >= point.written) break;
        if (point.replaced > 0) {
          const ino_t now = inode();
          if (now != seen && now != 0) ++replaced;
          seen = now;
          if (replaced >= point.replaced) break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(100));
      }
      const e2e::RunResult killed = run.kill();
      ASSERT_TRUE(killed.status == 128 + 9 || killed.status == 0) << killed.status << " " << killed.err;
      const bool temporary_left = year_dir_names(wd).size() > (wd.exists(kYearly) ? 1u : 0u);
      if (killed.status != 0 && temporary_left) ++killed_while_writing;

      const std::string state = wd.exists(kYearly) ? wd.read(kYearly) : absent;
      auto found = phase.next.find(state);
      ASSERT_NE(found, phase.next.end()) << "the yearly file is a mixture: "
                                         << first_difference(state, after[1]);
      ++left[(killed.status == 0 ? "ended itself, " : "") + phase.names.at(state)];
      EXPECT_TRUE(starts_with(wd.read(kReport), earlier));

      // The next run completes from whatever the kill left.
      const e2e::RunResult next = wd.run({"2024"});
      ASSERT_EQ(next.status, 0) << next.err;
      EXPECT_TRUE(wd.read(kYearly) == found->second) << first_difference(wd.read(kYearly), found->second);
      EXPECT_EQ(year_dir_names(wd), std::vector<std::string>{"lake_lvl.tb0"});
      const std::string report = wd.read(kReport);
      EXPECT_TRUE(starts_with(report, earlier));
      EXPECT_EQ(e2e::split_lines(report).back(), kNormalEnding);
    }
    std::string summary;
    for (const auto& [state, count] : left) summary += state + ": " + std::to_string(count) + "; ";
    summary += "killed while the new content was being written: " + std::to_string(killed_while_writing);
    ::testing::Test::RecordProperty(phase.name, summary);
    // The kills did reach the writing of the file itself, and both sides of its replacement.
    EXPECT_GT(killed_while_writing, 0) << summary;
    const std::string before_name = phase.existing ? "old" : "none";
    EXPECT_TRUE(left.count(before_name)) << summary;
    EXPECT_TRUE(left.count("new") || left.count("ended itself, new")) << summary;
  }
}

// ---------------------------------------------------------------------------
// Damaged hourly source files: each gives the same yearly file, hour dump,
// run report and placeholder files as an undamaged file that holds what can
// be read from it.

std::map<std::string, std::string> run_outputs(const std::string& source, e2e::RunResult& r) {
  e2e::WorkDir wd;
  set_up(wd, 2, source);
  r = wd.run({"2024"});
  std::map<std::string, std::string> files = wd.files();
  files.erase(kSourceName);
  files.erase(kTrace);
  return files;
}

TEST(ReliabilitySource, DamagedFileReadsAsItsReadablePart) {
  const std::string header = "LAKE01 LAKE02\n";
  const std::string r1 = "2024-01-01 01:00 5.0 6.0\n";
  const std::string r2 = "2024-01-01 02:00 5.5 6.5\n";
  const std::string r6 = "2024-01-01 06:00 1.5 2.5\n";
  auto garbage = [](int hour) { return "2024-01-01 0" + std::to_string(hour) + ":00 NA NA\n"; };
  const std::string megabyte_of_values = [] {
    std::string s;
    for (int i = 0; i < 262144; ++i) s += " 9.5";
    return s;
  }();
  struct Case {
    std::string name;
    std::string damaged;
    std::string readable;
  };
  const std::vector<Case> cases = {
      {"ends inside the last record", header + r1 + r2 + "2024-01-01 03:00 7.5", header + r1 + r2},
      {"ends inside the date of the last record", header + r1 + r2 + "2024-01-0", header + r1 + r2},
      {"ends inside the header line", "LAKE01 LAK", "LAKE01 LAK\n"},
      {"a record line of one megabyte", header + "2024-01-01 01:00 5.0 6.0" + megabyte_of_values + "\n" + r2,
       header + r1 + r2},
      {"a value of a million digits", header + "2024-01-01 01:00 5.0 6." + std::string(1 << 20, '0') + "1\n" + r2,
       header + r1 + r2},
      {"a million blanks inside a record", header + "2024-01-01 01:00 5.0" + blanks(1 << 20) + "6.0\n" + r2,
       header + r1 + r2},
      // The header line is read as its first 2048 characters.
      {"a header line over 2048 characters, a name across its end", "LAKE01" + blanks(2039) + "LAKE02\n" + r1 + r2,
       "LAKE01 LAK\n" + r1 + r2},
      {"a header line over 2048 characters, a name after its end", "LAKE01" + blanks(3000) + "LAKE02\n" + r1 + r2,
       "LAKE01\n" + r1 + r2},
      {"zero bytes, 0xFF and control characters in values",
       header + r1 + std::string("2024-01-01 02:00 5.5 6\0" "5\n", 26) + "2024-01-01 03:00 \xff" "7.5 8.5\n" +
           "2024-01-01 04:00 7.5 8.5\x01\n" + "2024-01-01 05:00 \x0c" "7.5 8.5\n" + r6,
       header + r1 + garbage(2) + garbage(3) + garbage(4) + garbage(5) + r6},
      {"a zero byte and 0xFF in column names", std::string("LAK\0E01 \xff" "LAKE02\n", 15) + r1 + r2,
       "LAKXE01 XLAKE02\n" + r1 + r2},
      // A record of the single character 26 is the end of the file.
      {"a line of the character 26", header + r1 + "\x1a\n" + r2, header + r1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    e2e::RunResult damaged, readable;
    const std::map<std::string, std::string> got = run_outputs(c.damaged, damaged);
    const std::map<std::string, std::string> want = run_outputs(c.readable, readable);
    EXPECT_EQ(damaged.status, 0);
    EXPECT_EQ(damaged.err, "");
    ASSERT_EQ(readable.status, 0);
    EXPECT_EQ(e2e::visible(got.at(kReport)), e2e::visible(want.at(kReport)));
    for (const auto& [name, bytes] : want) {
      SCOPED_TRACE(name);
      ASSERT_TRUE(got.count(name));
      EXPECT_TRUE(got.at(name) == bytes) << first_difference(got.at(name), bytes);
    }
    EXPECT_EQ(got.size(), want.size());
  }
}

TEST(ReliabilitySource, CrLfAndLfAloneGiveTheSameRun) {
  // Every input file, with a garbage record among the records.
  const std::vector<std::string> source = {"LAKE01 LAKE02 LAKE03", "2024-01-01 01:00 5.0 6.0 7.0",
                                           "2024-01-01 02:00 5.5 NA 7.5", "2024-01-01 03:00 6.5 7.5 8.5"};
  Configured configured;
  configured.locations = 3;
  auto with_ends = [](const std::string& lf_text, bool cr) {
    if (!cr) return lf_text;
    std::string s;
    for (char ch : lf_text) s += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
    return s;
  };
  std::string source_lf;
  for (const std::string& line : source) source_lf += line + "\n";
  std::map<std::string, std::string> outputs[2];
  e2e::RunResult results[2];
  for (int cr = 0; cr < 2; ++cr) {
    e2e::WorkDir wd;
    wd.mkdir("year");
    wd.write(kConfig, with_ends(configuration(configured), cr));
    wd.write("level_station_list.xyz", with_ends(station_list(3), cr));
    wd.write(kSourceName, with_ends(source_lf, cr));
    results[cr] = wd.run({"2024"});
    outputs[cr] = wd.files();
    for (const char* input : {kConfig, "level_station_list.xyz", kSourceName}) outputs[cr].erase(input);
  }
  EXPECT_EQ(results[0].status, 0);
  EXPECT_EQ(results[1].status, 0);
  EXPECT_EQ(results[1].err, results[0].err);
  EXPECT_EQ(e2e::visible(results[1].out), e2e::visible(results[0].out));
  EXPECT_TRUE(outputs[1] == outputs[0]);
  EXPECT_EQ(e2e::split_lines(outputs[0][kReport]).size(), 4u);  // started, the garbage pair, normal ending
}

// ---------------------------------------------------------------------------
// The run report, however long or odd, is appended to after its last line.

TEST(ReliabilityRunReport, RunAppendsAfterTheLastLine) {
  struct Case {
    std::string name;
    std::string before;
    std::string joint;  // what comes between the old lines and the new ones
  };
  std::string million;
  million.reserve(36'000'000);
  for (int i = 0; i < 500'000; ++i) {
    million += "Orvistad.exe - started\r\n";
    million += "Orvistad.exe - normal ending 2024-03-02  14:05\r\n";
  }
  const std::vector<Case> cases = {
      {"a million lines", million, ""},
      {"a last line without its line end", "Orvistad.exe - started\r\nOrvistad.exe - norm", "\r\n"},
      {"LF line ends", "Orvistad.exe - started\nOrvistad.exe - normal ending 2024-03-02  14:05\n", ""},
      {"odd lines and blank lines at its end",
       std::string("it's an open quote\r\n\x1a\r\n/\r\n\0\0\xff\r\n", 31) + std::string(10000, 'x') +
           "\r\n\r\n   \r\n\r\n",
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    e2e::WorkDir wd;
    set_up(wd, 2);
    wd.write(kReport, c.before);
    const auto t0 = steady_clock::now();
    const e2e::RunResult r = wd.run({"2024"});
    const double seconds = std::chrono::duration<double>(steady_clock::now() - t0).count();
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string report = wd.read(kReport);
    const std::string expected = c.before + c.joint + crlf({kStarted, kNormalEnding});
    EXPECT_TRUE(report == expected) << first_difference(report, expected) << "\n"
                                    << e2e::visible(report.substr(report.size() > 300 ? report.size() - 300 : 0));
    // Reading a report of 36 MB twice takes about a second in a debug build.
    EXPECT_LT(seconds, 20.0);
  }
}

// ---------------------------------------------------------------------------
// A hundred consecutive runs of the bundled example, as a year of daily runs.

std::string trimmed(const std::string& s) {
  const std::size_t first = s.find_first_not_of(" \t\r\n");
  const std::size_t last = s.find_last_not_of(" \t\r\n");
  return first == std::string::npos ? std::string() : s.substr(first, last - first + 1);
}

// The yearly file after one more run that merges nothing: every value, as
// read back from its text, plus its location's offset in single precision.
std::string one_more_run(const std::string& yearly, const std::vector<float>& offsets) {
  const std::string header = header_of(yearly);
  std::string out = header;
  const std::vector<std::string> lines = e2e::split_lines(yearly.substr(header.size()));
  for (const std::string& line : lines) {
    std::string next = blanks(20);
    for (std::size_t i = 0; i < offsets.size(); ++i) {
      const std::string text = line.substr(20 + 12 * i, 12);
      const std::size_t at = text.find_first_not_of(' ');
      float value = 0.0f;
      std::from_chars(text.data() + at, text.data() + text.size(), value);
      value = value + offsets[i];
      char b[32];
      std::snprintf(b, sizeof b, "%12.3f", static_cast<double>(value));
      next += b;
    }
    out += next + "\r\n";
  }
  return out;
}

TEST(ReliabilityManyRuns, HundredDailyRunsOfTheExample) {
  constexpr int kRuns = 100;
  e2e::WorkDir wd(false);
  wd.copy_from_source("examples/lake");
  const std::string year = trimmed(wd.read("YEAR"));
  ASSERT_EQ(year.size(), 4u);
  const std::vector<std::string> config = e2e::split_lines(wd.read(year + "_Orvistad.cfg"));
  std::string yearly = trimmed(config.at(2).substr(12));
  for (char& ch : yearly)
    if (ch == '\\') ch = '/';
  std::istringstream count_line(config.at(3));
  std::string word;
  int locations = 0;
  count_line >> word >> locations;
  ASSERT_GT(locations, 0);
  std::vector<float> offsets;
  for (int i = 0; i < locations; ++i) {
    std::istringstream entry(config.at(5 + static_cast<std::size_t>(i)));
    std::string key, offset_text;
    entry >> key >> offset_text;
    float value = 0.0f;
    std::from_chars(offset_text.data(), offset_text.data() + offset_text.size(), value);
    offsets.push_back(value);
  }
  ASSERT_NE(offsets, std::vector<float>(static_cast<std::size_t>(locations), 0.0f));

  std::string expected_report;
  std::string expected_yearly;
  using namespace std::chrono;
  for (int run = 1; run <= kRuns; ++run) {
    SCOPED_TRACE(run);
    const year_month_day day{sys_days{std::chrono::year{std::stoi(year)} / April / 1} + days{run - 1}};
    char date[16];
    std::snprintf(date, sizeof date, "%04d-%02u-%02u", static_cast<int>(day.year()),
                  static_cast<unsigned>(day.month()), static_cast<unsigned>(day.day()));
    const e2e::RunResult r = wd.run({year}, std::string(date) + " 06:00:00");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string stamp = std::string(date) + "  06:00";
    // The example's one garbage record gives its pair in every run.
    expected_report += crlf({kStarted, " Garbage in the hourlysrc.txt file",
                             "Orvistad.exe - crashed out ending " + stamp, "Orvistad.exe - normal ending " + stamp});
    const std::string got = wd.read(yearly);
    if (run > 1) {
      ASSERT_TRUE(got == expected_yearly) << first_difference(got, expected_yearly);
    }
    expected_yearly = one_more_run(got, offsets);
  }
  EXPECT_EQ(wd.read("runReport.txt"), expected_report);
}

// ---------------------------------------------------------------------------
// Faults that once lost data or reported a failure as success.

TEST(ReliabilityMended, RefusedSmallHourDumpIsNoNormalEnding) {
  // With two gauges the hour dump (281,088 bytes) is still in its buffer when
  // the run ends; it is written out before the normal ending is recorded, so
  // the refused write ends the run first and no normal ending is recorded.
  e2e::WorkDir wd;
  set_up(wd, 2);
  e2e::StartOptions options;
  options.env = {"FORT600=/dev/full"};
  const e2e::RunResult r = wd.start({"2024"}, options).wait();
  EXPECT_EQ(r.status, 38);
  EXPECT_EQ(r.err, "forrtl: severe (38): error during write, unit 600, file /dev/full\r\n");
  EXPECT_EQ(e2e::split_lines(wd.read(kReport)), std::vector<std::string>{kStarted});
  EXPECT_NE(e2e::split_lines(r.out).back(), " Orvistad.exe - normal ending");
}

TEST(ReliabilityMended, YearlyFileBehindSymbolicLinksKeepsTheLinks) {
  // A yearly file kept elsewhere (shared storage) behind symbolic links: the
  // links stay, and the file they lead to is replaced whole, or made when it
  // does not exist yet.
  e2e::WorkDir ref;
  set_up(ref, 2);
  ASSERT_EQ(ref.run({"2024"}).status, 0);
  const std::string one_run = ref.read(kYearly);
  ASSERT_EQ(ref.run({"2024"}).status, 0);
  const std::string two_runs = ref.read(kYearly);

  struct Case {
    std::string name;
    bool existing;  // the file that the links lead to exists (from a first run)
    bool absolute;  // the last link names its target by an absolute path
    std::vector<std::string> links;  // from the configured name on: "year/lake_lvl.tb0" -> links[0] -> ...
  };
  const std::vector<Case> cases = {
      {"a link to the file", true, false, {"../shared/lake_lvl.tb0"}},
      {"a link to a file that does not exist yet", false, false, {"../shared/lake_lvl.tb0"}},
      {"a link to a link to a file that does not exist yet", false, true, {"../shared/link", "lake_lvl.tb0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    e2e::WorkDir wd;
    set_up(wd, 2);
    wd.mkdir("shared");
    const fs::path root = fs::path(wd.path());
    if (c.existing) {
      ASSERT_EQ(wd.run({"2024"}).status, 0);
      fs::rename(root / kYearly, root / "shared/lake_lvl.tb0");
    }
    std::vector<fs::path> link_names = {root / kYearly};
    for (std::size_t k = 0; k < c.links.size(); ++k) {
      const bool last = k + 1 == c.links.size();
      const fs::path target = last && c.absolute ? root / "shared" / c.links[k] : fs::path(c.links[k]);
      fs::create_symlink(target, link_names.back());
      if (!last) link_names.push_back((link_names.back().parent_path() / c.links[k]).lexically_normal());
    }
    const e2e::RunResult r = wd.run({"2024"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const fs::path& link : link_names) EXPECT_TRUE(fs::is_symlink(link)) << link;
    EXPECT_TRUE(wd.read("shared/lake_lvl.tb0") == (c.existing ? two_runs : one_run));
    EXPECT_EQ(year_dir_names(wd), std::vector<std::string>{"lake_lvl.tb0"});
    std::set<std::string> shared;
    for (const auto& entry : fs::directory_iterator(root / "shared")) shared.insert(entry.path().filename().string());
    EXPECT_EQ(shared, (c.links.size() > 1 ? std::set<std::string>{"lake_lvl.tb0", "link"}
                                          : std::set<std::string>{"lake_lvl.tb0"}));
  }
}

// The user of the runs of an ordinary user: nobody.
constexpr uid_t kNobody = 65534;

// Whether a run as nobody can reach the program and the clock library: a
// build tree below a private directory cannot be run by another user.
bool nobody_can_run() {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(1);
    ::_exit(::access(ORVISTAD_BINARY, X_OK) == 0 && ::access(FAKETIME_LIBRARY, R_OK) == 0 ? 0 : 1);
  }
  int status = 0;
  return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(ReliabilityMended, ReplacedYearlyFileKeepsOwnerPermissionsAndWriteProtection) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving files to other users and running as one needs the superuser";
  const bool nobody_runs = nobody_can_run();
  e2e::WorkDir ref;
  set_up(ref, 2);
  ASSERT_EQ(ref.run({"2024"}).status, 0);
  ASSERT_EQ(ref.run({"2024"}).status, 0);
  const std::string two_runs = ref.read(kYearly);

  struct Case {
    std::string name;
    bool as_nobody;  // the run's user: nobody, else the superuser
    uid_t owner;     // the yearly file's owner and group
    mode_t mode;     // and permissions
    int status;      // 0: the file is replaced; 9: the run ends and the file stays
    uid_t new_owner; // owner and group of the replacing file
  };
  const std::vector<Case> cases = {
      {"the superuser, a write-protected file of another user", false, kNobody, 0444, 0, kNobody},
      {"the superuser, a file that only its owner reads", false, kNobody, 0600, 0, kNobody},
      {"an ordinary user, its own write-protected file", true, kNobody, 0444, 9, 0},
      {"an ordinary user, a file of another user", true, 0, 0644, 9, 0},
      // The user may not give the new file away: it becomes the user's own.
      {"an ordinary user, a file of another user that anyone may write", true, 0, 0666, 0, kNobody},
  };
  int skipped = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.as_nobody && !nobody_runs) {
      ++skipped;
      continue;
    }
    e2e::WorkDir wd;
    set_up(wd, 2);
    ASSERT_EQ(wd.run({"2024"}).status, 0);
    const fs::path root = fs::path(wd.path());
    if (c.as_nobody) {
      // Everything the run writes is the user's, in directories it may write.
      ASSERT_EQ(::lchown(root.c_str(), kNobody, kNobody), 0);
      for (const auto& entry : fs::recursive_directory_iterator(root))
        ASSERT_EQ(::lchown(entry.path().c_str(), kNobody, kNobody), 0);
    }
    const std::string yearly = (root / kYearly).string();
    ASSERT_EQ(::chown(yearly.c_str(), c.owner, c.owner), 0);
    ASSERT_EQ(::chmod(yearly.c_str(), c.mode), 0);
    const std::map<std::string, std::string> before = wd.files();

    e2e::StartOptions options;
    if (c.as_nobody) options.user = kNobody;
    const e2e::RunResult r = wd.start({"2024"}, options).wait();
    struct stat st {};
    ASSERT_EQ(::stat(yearly.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.mode);
    EXPECT_EQ(year_dir_names(wd), std::vector<std::string>{"lake_lvl.tb0"});
    if (c.status == 0) {
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_TRUE(wd.read(kYearly) == two_runs);
      EXPECT_EQ(st.st_uid, c.new_owner);
      EXPECT_EQ(st.st_gid, c.new_owner);
      continue;
    }
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, "forrtl: severe (9): permission to access file denied, unit 100, file " +
                         absolute(wd, kYearly) + "\r\n");
    expect_console_tail(r.out, {" Writing the data to " + field(kYearlyName, 40)});
    EXPECT_TRUE(wd.read(kYearly) == before.at(kYearly));
    EXPECT_EQ(st.st_uid, c.owner);
    EXPECT_EQ(wd.read(kReport), before.at(kReport) + crlf({kStarted}));
  }
  if (skipped > 0) GTEST_SKIP() << skipped << " cases need a run as nobody, which cannot reach the program here";
}

// ---------------------------------------------------------------------------
// Runs in one working directory take turns.

// The processes that hold a lock on the file at `path`, and those that wait
// for one, as one reading of /proc/locks shows them (none where it cannot be
// read).
struct Locks {
  std::set<pid_t> holding, waiting;
};
Locks locks_on(const std::string& path) {
  Locks locks;
  struct stat st {};
  std::ifstream in("/proc/locks");
  if (::stat(path.c_str(), &st) != 0 || !in) return locks;
  char id[64];
  std::snprintf(id, sizeof id, "%02x:%02x:%lu", ::major(st.st_dev), ::minor(st.st_dev),
                static_cast<unsigned long>(st.st_ino));
  // "1: FLOCK  ADVISORY  WRITE 4711 fd:01:1234 0 EOF", and "1: -> FLOCK ..." for a waiting process.
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::vector<std::string> tokens{std::istream_iterator<std::string>(fields), std::istream_iterator<std::string>()};
    for (std::size_t k = 1; k < tokens.size(); ++k) {
      if (tokens[k] != id) continue;
      const pid_t pid = static_cast<pid_t>(std::atol(tokens[k - 1].c_str()));
      (tokens[1] == "->" ? locks.waiting : locks.holding).insert(pid);
    }
  }
  return locks;
}

TEST(ReliabilityTurns, TwoRunsStartedTogetherEndAsOneAfterTheOther) {
  // Three runs one after the other: the files after each, and the consoles.
  e2e::WorkDir ref;
  set_up(ref, 2);
  std::vector<std::map<std::string, std::string>> state = {ref.files()};
  std::vector<std::string> console = {""};
  for (int k = 1; k <= 3; ++k) {
    const e2e::RunResult r = ref.run({"2024"});
    ASSERT_EQ(r.status, 0) << r.err;
    state.push_back(ref.files());
    console.push_back(r.out);
  }

  int held_trials = 0;
  for (int trial = 0; trial < 20; ++trial) {
    // Half the trials start from the files of one earlier run, half from none;
    // in half of them the test holds the directory until both runs wait for it,
    // so that both surely meet there.
    const int from = (trial / 2) % 2;
    bool hold = trial % 2 == 1;
    SCOPED_TRACE("trial " + std::to_string(trial) + (from == 1 ? ", after a run" : ", from nothing") +
                 (hold ? ", both runs waiting" : ""));
    e2e::WorkDir wd;
    set_up(wd, 2);
    for (const auto& [name, bytes] : state[from]) wd.write(name, bytes);
    const int held = hold ? ::open(wd.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    if (hold) {
      ASSERT_GE(held, 0);
      ASSERT_EQ(::flock(held, LOCK_EX), 0);
      // Where the lock table cannot show the lock, the waits cannot be seen.
      if (locks_on(wd.path()).holding != std::set<pid_t>{::getpid()}) {
        ::close(held);
        hold = false;
      }
    }
    e2e::Process first = wd.start({"2024"});
    e2e::Process second = wd.start({"2024"});
    if (hold) {
      const std::set<pid_t> runs = {first.pid(), second.pid()};
      const auto deadline = steady_clock::now() + std::chrono::seconds(60);
      bool both_waiting = false;
      while (!both_waiting && !first.ended() && !second.ended() && steady_clock::now() < deadline) {
        both_waiting = locks_on(wd.path()).waiting == runs;
        if (!both_waiting) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      EXPECT_TRUE(both_waiting);
      // Waiting, neither run has written anything, not even its started line.
      EXPECT_TRUE(wd.files() == state[from]);
      ::close(held);
      ++held_trials;
    }
    const e2e::RunResult a = first.wait();
    const e2e::RunResult b = second.wait();
    EXPECT_EQ(a.status, 0) << a.err;
    EXPECT_EQ(b.status, 0) << b.err;
    EXPECT_EQ(a.err + b.err, "");
    std::multiset<std::string> got = {a.out, b.out};
    std::multiset<std::string> want = {console[from + 1], console[from + 2]};
    EXPECT_TRUE(got == want);
    const std::map<std::string, std::string> after = wd.files();
    for (const auto& [name, bytes] : state[from + 2]) {
      SCOPED_TRACE(name);
      ASSERT_TRUE(after.count(name));
      EXPECT_TRUE(after.at(name) == bytes) << first_difference(after.at(name), bytes);
    }
    EXPECT_EQ(after.size(), state[from + 2].size());
    EXPECT_EQ(e2e::split_lines(after.at(kReport)).size(), 2u * static_cast<std::size_t>(from + 2));
  }
  ::testing::Test::RecordProperty("trials with both runs seen waiting", held_trials);
}

TEST(ReliabilityTurns, RunInADirectoryThatCannotBeReadIsAsAnyOther) {
  // A user who may write the working directory but not read it (mode 0333)
  // cannot open it to lock it; the run locks it through the run report,
  // which it makes first thing, and is a run as any other.
  if (::geteuid() != 0 || !nobody_can_run()) GTEST_SKIP() << "needs a run as nobody";
  e2e::WorkDir ref;
  set_up(ref, 2);
  const e2e::RunResult want = ref.run({"2024"});
  ASSERT_EQ(want.status, 0);

  e2e::WorkDir wd;
  set_up(wd, 2);
  const fs::path root = fs::path(wd.path());
  ASSERT_EQ(::lchown(root.c_str(), kNobody, kNobody), 0);
  for (const auto& entry : fs::recursive_directory_iterator(root))
    ASSERT_EQ(::lchown(entry.path().c_str(), kNobody, kNobody), 0);
  fs::permissions(root, fs::perms::owner_write | fs::perms::owner_exec);
  e2e::StartOptions options;
  options.user = kNobody;
  const e2e::RunResult r = wd.start({"2024"}, options).wait();
  fs::permissions(root, fs::perms::owner_all);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, want.out);
  EXPECT_TRUE(wd.files() == ref.files());
}

// ---------------------------------------------------------------------------
// Runs that share files wherever they start: the yearly level file of two
// working directories, the crossed case, a directory that cannot be read.

// A lock that the test holds on a file, as a living run does.
class HeldLock {
 public:
  explicit HeldLock(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) release();
  }
  ~HeldLock() { release(); }
  HeldLock(const HeldLock&) = delete;
  HeldLock& operator=(const HeldLock&) = delete;
  bool held() const { return fd_ >= 0; }
  void release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// Whether the lock table shows the lock that this process holds on `path`:
// where it cannot, no wait of a run can be seen either.
bool lock_table_shows(const std::string& path) { return locks_on(path).holding.count(::getpid()) > 0; }

// Waits until every one of `runs` waits for a lock on its file (run k on
// paths[k]), for at most a minute; false when one of them ends first.
bool all_waiting(const std::vector<e2e::Process*>& runs, const std::vector<std::string>& paths) {
  const auto deadline = steady_clock::now() + std::chrono::seconds(60);
  while (steady_clock::now() < deadline) {
    bool all = true;
    for (std::size_t k = 0; k < runs.size(); ++k) {
      if (runs[k]->ended()) return false;
      all = all && locks_on(paths[k]).waiting.count(runs[k]->pid()) > 0;
    }
    if (all) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

// The end of a run, waited for at most two minutes: a run that is still
// going then (two runs waiting for each other) is killed.
e2e::RunResult end_of(e2e::Process& run) {
  const auto deadline = steady_clock::now() + std::chrono::seconds(120);
  while (!run.ended() && steady_clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return run.ended() ? run.wait() : run.kill();
}

// A working directory of two gauges with six hours of source from
// `first_hour`, whose yearly level file is `yearly` (an absolute name).
void set_up_with_yearly(const e2e::WorkDir& wd, const std::string& yearly, int first_hour) {
  set_up(wd, 2, gauge_source(first_hour));
  Configured c;
  c.yearly = yearly;
  wd.write(kConfig, configuration(c));
}

std::string yearly_in(const e2e::WorkDir& wd) { return fs::canonical(wd.path()).string() + "/lake_lvl.tb0"; }

// A console with the name of its yearly file, which differs from directory
// to directory, shown as one name of the same length.
std::string masked(std::string out, const std::string& yearly) {
  for (std::size_t at = out.find(yearly); at != std::string::npos; at = out.find(yearly, at))
    out.replace(at, yearly.size(), std::string(yearly.size(), '#'));
  return out;
}

TEST(ReliabilityShared, RunsInTwoDirectoriesSharingTheYearlyFileTakeTurns) {
  // Directory a merges hours 1 to 6, directory b hours 7 to 12, into one
  // yearly file in a third directory. Started together, both end as one run
  // after the other would, whichever came first: both merges kept.
  struct Case {
    std::string name;
    bool existing;  // a yearly file that an earlier run of a made
    bool hold;      // the test holds the yearly file (or, when there is none,
                    // its temporary file, as a living run writing it) until
                    // both runs wait for it
  };
  const std::vector<Case> cases = {
      {"an existing yearly file, both runs waiting", true, true},
      {"no yearly file yet, both waiting for a temporary file that a living run holds", false, true},
      {"an existing yearly file, started together", true, false},
      {"no yearly file yet, started together", false, false},
  };
  for (const Case& c : cases) {
    for (int trial = 0; trial < 3; ++trial) {
      SCOPED_TRACE(c.name + ", trial " + std::to_string(trial));
      // The two orders one after the other: the yearly file and the consoles
      // (each run adds the offsets to every hour, so the order shows).
      std::map<std::string, std::string> yearly_after;  // by order "ab" / "ba"
      std::map<std::string, std::multiset<std::string>> consoles;
      for (const std::string order : {"ab", "ba"}) {
        e2e::WorkDir shared(false), a, b;
        set_up_with_yearly(a, yearly_in(shared), 1);
        set_up_with_yearly(b, yearly_in(shared), 7);
        if (c.existing) {
          ASSERT_EQ(a.run({"2024"}).status, 0);
        }
        for (char d : order) consoles[order].insert(masked((d == 'a' ? a : b).run({"2024"}).out, yearly_in(shared)));
        yearly_after[order] = shared.read("lake_lvl.tb0");
      }

      e2e::WorkDir shared(false), a, b;
      const std::string yearly = yearly_in(shared);
      const std::string temp = yearly + ".orvistad.tmp";
      set_up_with_yearly(a, yearly, 1);
      set_up_with_yearly(b, yearly, 7);
      if (c.existing) {
        ASSERT_EQ(a.run({"2024"}).status, 0);
      }
      const std::string held_path = c.existing ? yearly : temp;
      const std::string held_bytes = "being written by a living run";
      if (!c.existing && c.hold) shared.write("lake_lvl.tb0.orvistad.tmp", held_bytes);
      std::optional<HeldLock> held;
      if (c.hold) {
        held.emplace(held_path);
        ASSERT_TRUE(held->held());
        if (!lock_table_shows(held_path)) GTEST_SKIP() << "the lock table does not show the locks";
      }
      e2e::Process first = a.start({"2024"});
      e2e::Process second = b.start({"2024"});
      if (c.hold) {
        EXPECT_TRUE(all_waiting({&first, &second}, {held_path, held_path}));
        // The temporary file that the living run writes is neither removed nor written.
        if (!c.existing) {
          EXPECT_EQ(shared.read("lake_lvl.tb0.orvistad.tmp"), held_bytes);
        }
        // Then that run is killed: its lock goes, its leftover is removed.
        held->release();
      }
      const e2e::RunResult ra = end_of(first);
      const e2e::RunResult rb = end_of(second);
      EXPECT_EQ(ra.status, 0) << ra.err;
      EXPECT_EQ(rb.status, 0) << rb.err;
      EXPECT_EQ(ra.err + rb.err, "");
      const std::multiset<std::string> got = {masked(ra.out, yearly), masked(rb.out, yearly)};
      const std::string after = shared.read("lake_lvl.tb0");
      const std::string order = after == yearly_after["ab"] ? "ab" : "ba";
      EXPECT_TRUE(after == yearly_after[order]) << first_difference(after, yearly_after[order]);
      EXPECT_TRUE(got == consoles[order]);
      EXPECT_FALSE(shared.exists("lake_lvl.tb0.orvistad.tmp"));
    }
  }
}

TEST(ReliabilityShared, CrossedDirectoriesDoNotWaitForEachOther) {
  // The yearly file of a run in x lies in y, that of a run in y in x. Each
  // run holds its own directory while it waits for its yearly file: neither
  // may wait for the other's directory.
  for (int trial = 0; trial < 3; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    e2e::WorkDir x, y, ref_x, ref_y;
    set_up_with_yearly(x, yearly_in(y), 1);
    set_up_with_yearly(y, yearly_in(x), 7);
    set_up_with_yearly(ref_x, yearly_in(ref_y), 1);
    set_up_with_yearly(ref_y, yearly_in(ref_x), 7);
    for (const e2e::WorkDir* wd : {&x, &y, &ref_x, &ref_y}) ASSERT_EQ(wd->run({"2024"}).status, 0);
    const e2e::RunResult want_x = ref_x.run({"2024"});
    const e2e::RunResult want_y = ref_y.run({"2024"});

    HeldLock in_y(yearly_in(y)), in_x(yearly_in(x));
    ASSERT_TRUE(in_y.held() && in_x.held());
    if (!lock_table_shows(yearly_in(x))) GTEST_SKIP() << "the lock table does not show the locks";
    e2e::Process run_x = x.start({"2024"});
    e2e::Process run_y = y.start({"2024"});
    EXPECT_TRUE(all_waiting({&run_x, &run_y}, {yearly_in(y), yearly_in(x)}));
    in_y.release();
    in_x.release();
    const e2e::RunResult rx = end_of(run_x);
    const e2e::RunResult ry = end_of(run_y);
    EXPECT_EQ(rx.status, 0) << rx.err;
    EXPECT_EQ(ry.status, 0) << ry.err;
    EXPECT_EQ(masked(rx.out, yearly_in(y)), masked(want_x.out, yearly_in(ref_y)));
    EXPECT_EQ(masked(ry.out, yearly_in(x)), masked(want_y.out, yearly_in(ref_x)));
    EXPECT_TRUE(x.read("lake_lvl.tb0") == ref_x.read("lake_lvl.tb0"));
    EXPECT_TRUE(y.read("lake_lvl.tb0") == ref_y.read("lake_lvl.tb0"));
  }
}

TEST(ReliabilityShared, ReplacedYearlyFileKeepsTheNextRunOutUntilTheRunEnds) {
  // Run a has replaced the shared yearly file and is still going: it stops
  // at its last placeholder file, a FIFO that nobody reads yet. A run of b
  // started now waits for the new file until a has ended.
  e2e::WorkDir shared(false), a, b, ref_shared(false), ref_a, ref_b;
  set_up_with_yearly(a, yearly_in(shared), 1);
  set_up_with_yearly(b, yearly_in(shared), 7);
  set_up_with_yearly(ref_a, yearly_in(ref_shared), 1);
  set_up_with_yearly(ref_b, yearly_in(ref_shared), 7);
  for (const e2e::WorkDir* wd : {&a, &ref_a, &ref_a, &ref_b}) ASSERT_EQ(wd->run({"2024"}).status, 0);
  const std::string fifo = a.path() + "/level/climate_lvl.tb0";
  a.remove("level/climate_lvl.tb0");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  const std::string yearly = yearly_in(shared);
  {
    const HeldLock probe(yearly);
    if (!lock_table_shows(yearly)) GTEST_SKIP() << "the lock table does not show the locks";
  }
  struct stat old_file {};
  ASSERT_EQ(::stat(yearly.c_str(), &old_file), 0);

  e2e::Process run_a = a.start({"2024"});
  // Until a's new yearly file is in place, and a holds it.
  const auto deadline = steady_clock::now() + std::chrono::seconds(60);
  bool replaced = false;
  while (!replaced && !run_a.ended() && steady_clock::now() < deadline) {
    struct stat now {};
    replaced = ::stat(yearly.c_str(), &now) == 0 && now.st_ino != old_file.st_ino;
    if (!replaced) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_TRUE(replaced);
  EXPECT_EQ(locks_on(yearly).holding, std::set<pid_t>{run_a.pid()});
  e2e::Process run_b = b.start({"2024"});
  EXPECT_TRUE(all_waiting({&run_b}, {yearly}));
  // The reader that lets a end.
  std::string drained;
  {
    std::ifstream reader(fifo, std::ios::binary);
    drained.assign(std::istreambuf_iterator<char>(reader), std::istreambuf_iterator<char>());
  }
  EXPECT_EQ(drained, ref_a.read("level/climate_lvl.tb0"));
  EXPECT_EQ(end_of(run_a).status, 0);
  const e2e::RunResult rb = end_of(run_b);
  EXPECT_EQ(rb.status, 0) << rb.err;
  EXPECT_TRUE(shared.read("lake_lvl.tb0") == ref_shared.read("lake_lvl.tb0"))
      << first_difference(shared.read("lake_lvl.tb0"), ref_shared.read("lake_lvl.tb0"));
}

TEST(ReliabilityShared, TwoRunsInADirectoryThatCannotBeReadTakeTurns) {
  // Mode 0333: the runs, as an ordinary user, cannot open the directory to
  // lock it. They take turns all the same, through the run report.
  if (::geteuid() != 0) GTEST_SKIP() << "giving the directory to another user and running as one needs the superuser";
  if (!nobody_can_run()) GTEST_SKIP() << "a run as nobody cannot reach the program here";
  e2e::WorkDir ref;
  set_up(ref, 2);
  std::vector<std::string> console;
  for (int k = 0; k < 2; ++k) console.push_back(ref.run({"2024"}).out);

  for (int trial = 0; trial < 3; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    e2e::WorkDir wd;
    set_up(wd, 2);
    // An empty report, which the test holds as a run would: the same as none.
    wd.write(kReport, "");
    const fs::path root = fs::path(wd.path());
    ASSERT_EQ(::lchown(root.c_str(), kNobody, kNobody), 0);
    for (const auto& entry : fs::recursive_directory_iterator(root))
      ASSERT_EQ(::lchown(entry.path().c_str(), kNobody, kNobody), 0);
    const std::string report = wd.path() + "/" + kReport;
    HeldLock held(report);
    ASSERT_TRUE(held.held());
    if (!lock_table_shows(report)) GTEST_SKIP() << "the lock table does not show the locks";
    fs::permissions(root, fs::perms::owner_write | fs::perms::owner_exec);
    e2e::StartOptions options;
    options.user = kNobody;
    e2e::Process first = wd.start({"2024"}, options);
    e2e::Process second = wd.start({"2024"}, options);
    EXPECT_TRUE(all_waiting({&first, &second}, {report, report}));
    held.release();
    const e2e::RunResult r1 = end_of(first);
    const e2e::RunResult r2 = end_of(second);
    fs::permissions(root, fs::perms::owner_all);
    EXPECT_EQ(r1.status, 0) << r1.err;
    EXPECT_EQ(r2.status, 0) << r2.err;
    EXPECT_EQ(r1.err + r2.err, "");
    EXPECT_TRUE((std::multiset<std::string>{r1.out, r2.out}) == (std::multiset<std::string>{console[0], console[1]}));
    EXPECT_TRUE(wd.files() == ref.files());
  }
}

// ---------------------------------------------------------------------------
// A rename that fails, a source that is a FIFO, a file size limit.

TEST(ReliabilityPlaces, RefusedRenameRemovesTheTemporaryFile) {
  // The new yearly file is written whole, but putting it in place is
  // refused: failure 30 (an open failure, not a write), the old file kept,
  // no temporary file left, so that a later run of the file's owner goes on.
  struct Case {
    std::string name;
    bool sticky;  // else the rename is refused by a preloaded library
  };
  const std::vector<Case> cases = {
      {"a rename refused as over a mount point (EBUSY)", false},
      {"an ordinary user, a file of another user in a sticky directory (EPERM)", true},
  };
  int skipped = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.sticky && (::geteuid() != 0 || !nobody_can_run())) {
      ++skipped;
      continue;
    }
    e2e::WorkDir wd;
    set_up(wd, 2);
    ASSERT_EQ(wd.run({"2024"}).status, 0);
    const std::map<std::string, std::string> before = wd.files();
    e2e::StartOptions options;
    if (c.sticky) {
      // The user's working directory, and a year directory of mode 1777
      // that holds a yearly file of the superuser which anyone may write.
      const fs::path root = fs::path(wd.path());
      for (const auto& entry : fs::recursive_directory_iterator(root))
        ASSERT_EQ(::lchown(entry.path().c_str(), kNobody, kNobody), 0);
      ASSERT_EQ(::lchown(root.c_str(), kNobody, kNobody), 0);
      ASSERT_EQ(::lchown((root / "year").c_str(), 0, 0), 0);
      ASSERT_EQ(::lchown((root / kYearly).c_str(), 0, 0), 0);
      ASSERT_EQ(::chmod((root / "year").c_str(), 01777), 0);
      ASSERT_EQ(::chmod((root / kYearly).c_str(), 0666), 0);
      options.user = kNobody;
    } else {
      options.env = {std::string("LD_PRELOAD=") + REFUSE_RENAME_LIBRARY,
                     "REFUSE_RENAME=/lake_lvl.tb0"};
    }
    const e2e::RunResult r = wd.start({"2024"}, options).wait();
    EXPECT_EQ(r.status, 30);
    EXPECT_EQ(r.err, "forrtl: severe (30): open failure, unit 100, file " + absolute(wd, kYearly) + "\r\n");
    EXPECT_TRUE(wd.read(kYearly) == before.at(kYearly));
    EXPECT_FALSE(wd.exists(std::string(kYearly) + ".orvistad.tmp"));
    EXPECT_EQ(wd.read(kReport), before.at(kReport) + crlf({kStarted}));
    // The owner's next run replaces the file as usual.
    EXPECT_EQ(wd.run({"2024"}).status, 0);
  }
  if (skipped > 0) GTEST_SKIP() << skipped << " cases need a run as nobody, which cannot reach the program here";
}

TEST(ReliabilityPlaces, SourceFifoIsReadToItsEnd) {
  // The hourly source file is a FIFO whose writer writes every byte and
  // closes it: the run reads to the end and ends as with a plain file.
  e2e::WorkDir wd, ref;
  set_up(wd, 2);
  const std::string fifo = wd.path() + "/" + kSourceName;
  wd.remove(kSourceName);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  set_up(ref, 2);
  const e2e::RunResult want = ref.run({"2024"});
  ASSERT_EQ(want.status, 0);
  const pid_t writer = ::fork();
  ASSERT_GE(writer, 0);
  if (writer == 0) {
    const int fd = ::open(fifo.c_str(), O_WRONLY);
    const std::string bytes = gauge_source();
    const bool ok = fd >= 0 && ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    ::_exit(ok && ::close(fd) == 0 ? 0 : 1);
  }
  e2e::Process run = wd.start({"2024"});
  const e2e::RunResult r = end_of(run);
  int written = 0;
  ::kill(writer, SIGKILL);  // a writer that the run never opened
  ASSERT_EQ(::waitpid(writer, &written, 0), writer);
  EXPECT_TRUE(WIFEXITED(written) && WEXITSTATUS(written) == 0);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, want.out);
  EXPECT_TRUE(wd.read(kYearly) == ref.read(kYearly));
}

TEST(ReliabilityPlaces, FileSizeLimitIsAFullDisk) {
  // A file size limit whose signal the run meets with its default action:
  // the refused write ends the run with failure 38 naming the file, the
  // yearly file is kept (or none made), no temporary file is left.
  struct Case {
    std::string name;
    bool existing;  // else the run creates the yearly file
    int unit;
  };
  const std::vector<Case> cases = {
      {"the rewrite of the yearly file", true, 100},
      {"the creation of the yearly file", false, 999},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    e2e::WorkDir wd;
    set_up(wd, 2);
    if (c.existing) {
      ASSERT_EQ(wd.run({"2024"}).status, 0);
    }
    const std::map<std::string, std::string> before = wd.files();
    e2e::StartOptions options;
    options.file_size_limit = 100000;  // the yearly file of two gauges is 404 kB
    options.file_size_signal = true;
    const e2e::RunResult r = wd.start({"2024"}, options).wait();
    EXPECT_EQ(r.status, 38);
    EXPECT_EQ(r.err, "forrtl: severe (38): error during write, unit " + std::to_string(c.unit) + ", file " +
                         absolute(wd, kYearly) + "\r\n");
    EXPECT_EQ(wd.exists(kYearly), c.existing);
    if (c.existing) {
      EXPECT_TRUE(wd.read(kYearly) == before.at(kYearly));
    }
    EXPECT_FALSE(wd.exists(std::string(kYearly) + ".orvistad.tmp"));
  }
}

// ---------------------------------------------------------------------------
// The reads of the run report hold no line of it whole.

TEST(ReliabilityRunReport, LineLongerThanTheMemoryLeft) {
  // A report of one line: 256 MiB of zero bytes (a hole, taking no disk
  // space), then a few characters without a line end. The appends read it
  // through without holding the line, which the address space limit would
  // refuse; a sanitizer build cannot have that limit.
  if (kSanitized) GTEST_SKIP() << "an address space limit is needed";
  e2e::WorkDir wd;
  set_up(wd, 2);
  constexpr off_t kHole = off_t{256} << 20;
  const std::string last = "Orvistad.exe - norm";  // no line end
  {
    const std::string report = wd.path() + "/" + kReport;
    const int fd = ::open(report.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const bool made = ::pwrite(fd, last.data(), last.size(), kHole) == static_cast<ssize_t>(last.size());
    ::close(fd);
    if (!made) GTEST_SKIP() << "this file system does not take a file of 256 MiB";
  }
  e2e::StartOptions options;
  options.address_space_limit = std::uint64_t{128} << 20;
  const e2e::RunResult r = wd.start({"2024"}, options).wait();
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string appended = "\r\n" + crlf({kStarted, kNormalEnding});
  const std::string report = wd.path() + "/" + kReport;
  EXPECT_EQ(fs::file_size(report), static_cast<std::uintmax_t>(kHole) + last.size() + appended.size());
  std::string tail(last.size() + appended.size(), '\0');
  const int fd = ::open(report.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(::pread(fd, tail.data(), tail.size(), kHole), static_cast<ssize_t>(tail.size()));
  ::close(fd);
  EXPECT_EQ(e2e::visible(tail), e2e::visible(last + appended));
}

}  // namespace

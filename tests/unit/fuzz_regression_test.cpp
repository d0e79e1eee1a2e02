// Faults that the fuzz targets found, each reduced to the smallest statement
// that shows it. Some show only in the sanitizer build (tools/test.sh
// --sanitize), where undefined behaviour ends the test.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "fixed_text.h"
#include "record/format.h"
#include "record/items.h"

namespace {

// A run with no location writes the column lines of a new yearly level file
// from empty rows of texts, whose vectors hold no storage at all (data() is
// null). Building the item list must not reach for a first element.
TEST(FuzzRegression, EmptyRowOfTextsTakesNoElement) {
  static const rec::Format column_texts("(A20,999A12)");
  const std::vector<tarvello::Text<12>> none;
  ASSERT_EQ(none.data(), nullptr);
  auto g = rec::items(std::string_view("   :ColumnName      "), std::span<const tarvello::Text<12>>(none));
  rec::ItemCursor cursor(g);
  rec::FormattedWriter writer(column_texts, cursor);
  std::string record;
  EXPECT_FALSE(writer.next_record(record));
  EXPECT_EQ(record, "   :ColumnName      ");
}

// ------------------------------------------------------------ whole runs
//
// Faults inside the program's steps are shown by a run of the program (the
// test target depends on it, so it is built first) in a scratch working
// directory.

namespace fs = std::filesystem;

struct RunResult {
  int status = -1;
  std::string err;
  bool ended = true;  // false: still running at the time limit, then killed
};

class FuzzRegressionRun : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = ORVISTAD_BINARY;
    ASSERT_TRUE(fs::exists(program_)) << "the program " << program_ << " is not built";
    std::string templ = (fs::temp_directory_path() / "orvistad-regression-XXXXXX").string();
    ASSERT_NE(::mkdtemp(templ.data()), nullptr);
    dir_ = templ;
    fs::create_directory(dir_ / "debug");
    fs::create_directory(dir_ / "level");
  }
  void TearDown() override {
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }
  void write(const std::string& name, const std::string& bytes) const {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
  }
  std::string read(const std::string& name) const {
    std::ostringstream s;
    s << std::ifstream(dir_ / name, std::ios::binary).rdbuf();
    return s.str();
  }
  // Runs the program with one argument; a run still going after `limit` is killed.
  RunResult run(const std::string& argument, std::chrono::seconds limit = std::chrono::seconds(60)) const {
    const fs::path err_file = dir_.string() + ".stderr";
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int null = ::open("/dev/null", O_RDWR);
      ::dup2(null, 0);
      ::dup2(null, 1);
      ::dup2(err, 2);
      if (::chdir(dir_.c_str()) != 0) ::_exit(127);
      ::execl(program_.c_str(), program_.c_str(), argument.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    RunResult r;
    int wstatus = 0;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (::waitpid(pid, &wstatus, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        r.ended = false;
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &wstatus, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    std::ostringstream s;
    s << std::ifstream(err_file).rdbuf();
    r.err = s.str();
    fs::remove(err_file);
    return r;
  }

  fs::path program_;
  fs::path dir_;
};

// A source record's date is read by position: "2e25" as the year is a number
// beyond 32 bits, which gives the most negative integer. Its hour index then
// lies far outside the year; the record is passed over and the run ends
// normally. The hour-index arithmetic must stay within 32 bits (it wraps as
// the day number arithmetic does) instead of overflowing.
TEST_F(FuzzRegressionRun, RecordDateBeyondThirtyTwoBitsIsPassedOver) {
  write("2025_Orvistad.cfg",
        "c\r\nHourly src  hourlysrc.txt\r\nYearly lvl  lvl.tb0\r\nStations 1\r\nKey\r\nSTN 0.5\r\n");
  write("level_station_list.xyz", "1 2 Stn\r\n");
  write("hourlysrc.txt", "STN\r\n2e25-06-01 12:00 3.5\r\n");
  const RunResult r = run("2025");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
}

// A configuration that names the run report as the hourly source file: each
// unreadable record appends its two garbage lines to the report, which the
// source read then meets as further unreadable records, so the run never ends
// and the report grows until the disk is full. A run must end, and keep the
// report's earlier lines.
TEST_F(FuzzRegressionRun, RunReportAsTheHourlySourceFileEnds) {
  write("2024_Orvistad.cfg",
        "c\r\nHourly src  runReport.txt\r\nYearly lvl  lvl.tb0\r\nStations 1\r\nKey\r\nSTN 0.5\r\n");
  write("level_station_list.xyz", "1 2 Stn\r\n");
  const std::string before = "STN\r\nthis is garbage\r\n";
  write("runReport.txt", before);
  const RunResult r = run("2024", std::chrono::seconds(15));
  EXPECT_TRUE(r.ended) << "still running after 15 s; the run report has " << read("runReport.txt").size() << " bytes";
  EXPECT_EQ(read("runReport.txt").substr(0, before.size()), before);
}

}  // namespace

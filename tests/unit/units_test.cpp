// Units: open, close, existence and end-of-file tests, reading then writing on
// one connection, default files, platform errors, files replaced whole, and
// the run endings with their exit statuses and standard-error lines.
#include "record/statements.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "fixed_text.h"
#include "record/format.h"
#include "record/run_end.h"
#include "scratch_directory.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

std::string crlf(const std::vector<std::string>& lines) {
  std::string s;
  for (const std::string& l : lines) s += l + "\r\n";
  return s;
}

class UnitsTest : public ::testing::Test {
 protected:
  UnitsTest() : dir_(scratch_.path()) { io_.emplace(); }
  ~UnitsTest() override {
    io_.reset();
    for (const char* var : {"FORT600", "FORT99", "FORT98"}) ::unsetenv(var);
  }

  rec::Units& io() { return *io_; }

  void put(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
  }
  std::string get(const std::string& name) {
    std::ifstream in(dir_ / name, std::ios::binary);
    EXPECT_TRUE(in.good()) << name << " is missing";
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  bool present(const std::string& name) { return fs::exists(fs::symlink_status(dir_ / name)); }
  std::vector<std::string> files() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string full(const std::string& name) { return (dir_ / name).string(); }

  // Writes one record holding `text`.
  void line(int unit, std::string_view text) {
    static const rec::Format f("(A)");
    io().write(unit, f, text);
  }

  // Ends the run and returns its exit status, the standard-error bytes in `err`.
  int end(const rec::RunEnd* ending, std::string* err = nullptr) {
    ::testing::internal::CaptureStderr();
    int status = io().end_run(ending);
    std::string e = ::testing::internal::GetCapturedStderr();
    if (err != nullptr) *err = e;
    return status;
  }

  testdir::ScratchDirectory scratch_{"units"};
  fs::path dir_;
  std::optional<rec::Units> io_;
};

rec::RunEnd ending_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const rec::RunEnd& e) {
    return e;
  }
  ADD_FAILURE() << "the run did not end";
  return {0, false, {}};
}

// ---------------------------------------------------------------------------
// Open, close, existence and end-of-file tests.

TEST_F(UnitsTest, OpenUnknownCreatesAnEmptyFileAtItsEnd) {
  io().open(99, "runReport.txt", rec::OpenStatus::Unknown);
  EXPECT_TRUE(present("runReport.txt"));
  EXPECT_EQ(get("runReport.txt"), "");
  EXPECT_TRUE(io().at_end(99));
  line(99, "Orvistad.exe - started");
  io().close(99);
  EXPECT_EQ(get("runReport.txt"), crlf({"Orvistad.exe - started"}));
}

TEST_F(UnitsTest, OpenOldOfAMissingFileIsFailure29) {
  std::int32_t ios = -5;
  io().open(rec::checked(99, ios), "level\\missing.tb0   ", rec::OpenStatus::Old);
  EXPECT_EQ(ios, 29);
  EXPECT_FALSE(present("level"));

  rec::RunEnd e = ending_of([&] { io().open(99, "level\\missing.tb0", rec::OpenStatus::Old); });
  EXPECT_EQ(e.exit_status, 29);
  EXPECT_EQ(e.message, "forrtl: severe (29): file not found, unit 99, file " + dir_.string() + "/level/missing.tb0");

  // The unit stays unconnected: a write goes to its default file.
  line(99, "x");
  io().close(99);
  EXPECT_EQ(get("fort.99"), crlf({"x"}));
}

TEST_F(UnitsTest, PlatformErrorsGiveTheirFailureNumbers) {
  put("plain.txt", "x\r\n");
  fs::create_directory(dir_ / "adir");
  struct Case {
    std::string name;
    rec::OpenStatus status;
    int expected;
  };
  const std::vector<Case> cases = {
      {"present.txt", rec::OpenStatus::Unknown, 0},
      {"debug\\missing PC data", rec::OpenStatus::Unknown, 29},
      {"debug/missing PC data", rec::OpenStatus::Old, 29},
      {"plain.txt\\inside", rec::OpenStatus::Unknown, 29},
      {"   ", rec::OpenStatus::Unknown, 29},
      {"", rec::OpenStatus::Old, 29},
      {"a\0b"s, rec::OpenStatus::Unknown, 43},
      {std::string(256, '\0'), rec::OpenStatus::Unknown, 43},
      {"adir", rec::OpenStatus::Unknown, 30},
      {"adir  ", rec::OpenStatus::Old, 30},
      {std::string(300, 'n'), rec::OpenStatus::Unknown, 43},
      {std::string(300, 'n'), rec::OpenStatus::Old, 43},
      {std::string(5000, 'n'), rec::OpenStatus::Unknown, 43},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name.substr(0, 40));
    std::int32_t ios = -5;
    io().open(rec::checked(98, ios), c.name, c.status);
    EXPECT_EQ(ios, c.expected);
    io().close(98);
  }
  EXPECT_EQ(files(), (std::vector<std::string>{"adir", "plain.txt", "present.txt"}));
}

TEST_F(UnitsTest, AccessDeniedIsFailure9) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
  fs::create_directory(dir_ / "locked");
  put("locked/old.txt", "x\r\n");
  fs::permissions(dir_ / "locked", fs::perms::owner_read | fs::perms::owner_exec);
  fs::permissions(dir_ / "locked/old.txt", fs::perms::none);
  std::int32_t ios = 0;
  io().open(rec::checked(98, ios), "locked\\new.txt", rec::OpenStatus::Unknown);
  EXPECT_EQ(ios, 9);
  io().open(rec::checked(98, ios), "locked\\old.txt", rec::OpenStatus::Old);
  EXPECT_EQ(ios, 9);
  rec::RunEnd e = ending_of([&] { io().open(98, "locked\\new.txt", rec::OpenStatus::Unknown); });
  EXPECT_EQ(e.message,
            "forrtl: severe (9): permission to access file denied, unit 98, file " + full("locked/new.txt"));
  fs::permissions(dir_ / "locked", fs::perms::owner_all);
}

TEST_F(UnitsTest, ReconnectingAUnitClosesAndKeepsItsFile) {
  io().open(99, "level_station_list.xyz", rec::OpenStatus::Unknown);
  line(99, "first");
  io().open(99, "hourly.txt", rec::OpenStatus::Unknown);
  // The first file is complete as soon as the unit is reconnected.
  EXPECT_EQ(get("level_station_list.xyz"), crlf({"first"}));
  line(99, "second");
  io().close(99);
  EXPECT_EQ(get("level_station_list.xyz"), crlf({"first"}));
  EXPECT_EQ(get("hourly.txt"), crlf({"second"}));
  // A reconnect whose open fails still closes the first file and leaves the unit unconnected.
  io().open(99, "level_station_list.xyz", rec::OpenStatus::Unknown);
  std::int32_t failed = 0;
  io().open(rec::checked(99, failed), "hourlysrc.txt", rec::OpenStatus::Old);
  EXPECT_EQ(failed, 29);
  line(99, "third");
  EXPECT_EQ(get("level_station_list.xyz"), crlf({"first"}));
  io().close(99);
  EXPECT_EQ(get("fort.99"), crlf({"third"}));
  // Closing an unconnected unit does nothing.
  io().close(99);
  std::int32_t ios = -1;
  io().close(rec::checked(77, ios));
  EXPECT_EQ(ios, 0);
}

TEST_F(UnitsTest, ExistenceTest) {
  put("a.txt", "");
  fs::create_directory(dir_ / "level");
  put("level/regl_lvl.tb0", "x");
  struct Case {
    std::string name;
    bool expected;
  };
  const std::vector<Case> cases = {
      {"a.txt", true},  {"a.txt     ", true},           {"level", true},
      {"level\\", true}, {"level\\regl_lvl.tb0", true}, {"level/regl_lvl.tb0  ", true},
      {"b.txt", false}, {" a.txt", false},              {"", false},
      {"   ", false},   {"a.txt\0"s, false},            {"level\\nothing", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("'" + c.name + "'");
    EXPECT_EQ(rec::Units::exists(c.name), c.expected);
  }
  EXPECT_EQ(files(), (std::vector<std::string>{"a.txt", "level"}));
}

TEST_F(UnitsTest, EndOfFileTest) {
  struct Case {
    std::string bytes;
    int records;  // records in the file
  };
  const std::vector<Case> cases = {
      {"", 0}, {"\r\n", 1}, {"a", 1}, {"a\r\nb\r\n", 2}, {"a\nb", 2}, {"\n\n\n", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.bytes));
    put("f.txt", c.bytes);
    io().open(98, "f.txt", rec::OpenStatus::Old);
    for (int k = 0; k < c.records; ++k) {
      EXPECT_FALSE(io().at_end(98)) << "before record " << k + 1;
      io().read_list(98);
    }
    EXPECT_TRUE(io().at_end(98));
    io().close(98);
  }
}

// ---------------------------------------------------------------------------
// Reading, then writing, on one connection.

TEST_F(UnitsTest, FirstWriteAfterReadsEndsTheFileThere) {
  struct Case {
    const char* what;
    std::string before;
    int reads;  // records read first; -1: read until the end-of-file test is true
    std::vector<std::string> writes;
    std::string after;
  };
  const std::string header = crlf({":FileType tb0", ":endHeader"});
  const std::vector<Case> cases = {
      {"appended after reading to the end", crlf({"started", "ending"}), -1, {"started again"},
       crlf({"started", "ending", "started again"})},
      {"header kept and data replaced", header + crlf({"1", "2", "3"}), 2, {"7", "8"}, header + crlf({"7", "8"})},
      {"a longer file ends after what was written", header + crlf({"1", "2", "3"}), 2, {"9"},
       header + crlf({"9"})},
      {"written at once: replaced", crlf({"old 1", "old 2"}), 0, {"new"}, crlf({"new"})},
      {"an empty file", "", -1, {"one", "two"}, crlf({"one", "two"})},
      {"a last line without LF gets its line end", "a\r\nb", -1, {"c"}, "a\r\nb\r\nc\r\n"},
      {"a last line without LF, not read", "a\r\nb", 1, {"c"}, "a\r\nc\r\n"},
      {"LF lines are kept as they are", "a\nb\nc\n", 1, {"x"}, "a\nx\r\n"},
      {"nothing written: untouched", "a\nb", 1, {}, "a\nb"},
  };
  for (bool whole : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(::testing::Message() << c.what << (whole ? ", replaced whole" : ""));
      put("f.txt", c.before);
      io().open(99, "f.txt", rec::OpenStatus::Unknown, rec::OpenOptions{.replace_whole = whole});
      if (c.reads < 0) {
        while (!io().at_end(99)) io().read_list(99);
      } else {
        for (int k = 0; k < c.reads; ++k) io().read_list(99);
      }
      for (const std::string& w : c.writes) line(99, w);
      // Reads after a write find the end of the file.
      if (!c.writes.empty()) {
        EXPECT_TRUE(io().at_end(99));
        std::int32_t ios = 0;
        io().read_list(rec::checked(99, ios));
        EXPECT_EQ(ios, -1);
      }
      io().close(99);
      EXPECT_EQ(get("f.txt"), c.after);
    }
  }
  EXPECT_EQ(files(), (std::vector<std::string>{"f.txt"}));
}

TEST_F(UnitsTest, ReadsAndFixedWritesAcrossRecords) {
  put("cfg.txt", crlf({"hourlysrc.txt   extra", "level.tb0", "  3", "KEY1 1.5", "", "KEY2,2"}));
  io().open(99, "cfg.txt", rec::OpenStatus::Old);
  static const rec::Format a12a60("(A12,A60)");
  tarvello::Text<12> first;
  tarvello::Text<256> second;
  io().read(99, a12a60, first, second.sub_ref(1, 60));
  EXPECT_EQ(first.view(), "hourlysrc.tx");
  EXPECT_EQ(second.sub(1, 60), "t   extra" + std::string(51, ' '));
  tarvello::Text<256> name;
  io().read_list(99, name);
  EXPECT_EQ(name.trimmed(), "level.tb0");
  std::int32_t n = 0;
  io().read_list(99, n);
  EXPECT_EQ(n, 3);
  tarvello::Text<12> k1, k2;
  float o1 = 0, o2 = 0;
  io().read_list(99, k1, o1);
  io().read_list(99, k2, o2);  // passes over the blank record
  EXPECT_EQ(k1.trimmed(), "KEY1");
  EXPECT_EQ(o1, 1.5f);
  EXPECT_EQ(k2.trimmed(), "KEY2");
  EXPECT_EQ(o2, 2.0f);
  EXPECT_TRUE(io().at_end(99));
  io().close(99);

  // A fixed-format read used again takes a further record for each pass.
  put("years.txt", crlf({"  12 junk", "  34", "  56"}));
  io().open(99, "years.txt", rec::OpenStatus::Old);
  static const rec::Format i4("(I4)");
  std::int32_t y1 = 0, y2 = 0;
  io().read(99, i4, y1, y2);
  EXPECT_EQ(y1, 12);
  EXPECT_EQ(y2, 34);
  io().read(99, i4, y1);
  EXPECT_EQ(y1, 56);
  std::int32_t ios = 0;
  io().read(rec::checked(99, ios), i4, y1, y2);
  EXPECT_EQ(ios, -1);
  EXPECT_EQ(y1, 56);
  io().close(99);

  // A fixed-format write used again for further items: one line per record.
  static const rec::Format nine("(9A12)");
  std::vector<tarvello::Text<12>> names(10, tarvello::Text<12>("x"));
  io().write(98, nine, std::span<const tarvello::Text<12>>(names));
  io().close(98);
  std::string row;
  for (int k = 0; k < 9; ++k) row += "x           ";
  EXPECT_EQ(get("fort.98"), crlf({row, "x           "}));
}

// Records are cut from a buffer that is refilled as the file is read: records
// across its refills, one longer than it, and the end of the file after many
// reads must come out byte for byte.
TEST_F(UnitsTest, LargeFilesAcrossBufferRefills) {
  std::vector<std::string> records;
  std::string bytes;
  for (int k = 0; records.size() < 2600; ++k) {
    std::string r = std::to_string(k) + std::string(static_cast<std::size_t>(k * 7919 % 2000), 'a' + k % 26);
    records.push_back(r);
    bytes += r + (k % 3 == 0 ? "\n" : "\r\n");
  }
  const std::string huge(3 << 20, 'h');  // longer than any buffer fill
  bytes += huge + "\r\n" + "after huge";
  put("big.txt", bytes);

  io().open(99, "big.txt", rec::OpenStatus::Unknown);
  static const rec::Format a2048("(A2048)");
  tarvello::Text<2048> t;
  for (std::size_t k = 0; k < records.size(); ++k) {
    io().read(99, a2048, t);
    ASSERT_EQ(t.trimmed(), records[k]) << "record " << k + 1;
  }
  io().read(99, a2048, t);
  EXPECT_EQ(t.view(), std::string(2048, 'h'));
  EXPECT_FALSE(io().at_end(99));
  io().read(99, a2048, t);
  EXPECT_EQ(t.trimmed(), "after huge");
  EXPECT_TRUE(io().at_end(99));
  io().close(99);

  // Reading part of it, then writing: the file ends after the last record read.
  io().open(99, "big.txt", rec::OpenStatus::Unknown);
  std::size_t keep = 0;
  for (std::size_t k = 0; k < 2000; ++k) {
    io().read_list(99);
    keep = bytes.find('\n', keep) + 1;
  }
  line(99, "tail");
  io().close(99);
  EXPECT_EQ(get("big.txt"), bytes.substr(0, keep) + "tail\r\n");
}

TEST_F(UnitsTest, ReadFailuresWithAndWithoutStatusCheck) {
  put("in.txt", crlf({"1 x 3", "24-0", "5"}));
  io().open(99, "in.txt", rec::OpenStatus::Old);
  std::int32_t a = 7, b = 8, ios = 0;
  io().read_list(rec::checked(99, ios), a, b);
  EXPECT_EQ(ios, 59);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 8);
  // The unit goes on after the record of the failure.
  io().read_list(rec::checked(99, ios), a);
  EXPECT_EQ(ios, 64);
  EXPECT_EQ(a, 0);
  io().read_list(rec::checked(99, ios), a);
  EXPECT_EQ(ios, 0);
  EXPECT_EQ(a, 5);
  io().read_list(rec::checked(99, ios), a);
  EXPECT_EQ(ios, -1);

  rec::RunEnd eof = ending_of([&] { io().read_list(99, a); });
  EXPECT_EQ(eof.exit_status, 24);
  EXPECT_EQ(eof.message, "forrtl: severe (24): end-of-file during read, unit 99, file " + full("in.txt"));

  put("bad.txt", crlf({"07:"}));
  io().open(99, "bad.txt", rec::OpenStatus::Old);
  rec::RunEnd syntax = ending_of([&] { io().read_list(99, a); });
  EXPECT_EQ(syntax.exit_status, 59);
  EXPECT_EQ(syntax.message,
            "forrtl: severe (59): list-directed I/O syntax error, unit 99, file " + full("bad.txt"));

  put("num.txt", crlf({"12x4"}));
  io().open(99, "num.txt", rec::OpenStatus::Old);
  static const rec::Format i4("(I4)");
  rec::RunEnd conv = ending_of([&] { io().read(99, i4, a); });
  EXPECT_EQ(conv.exit_status, 64);
  EXPECT_EQ(conv.message, "forrtl: severe (64): input conversion error, unit 99, file " + full("num.txt"));
  io().close(99);
}

TEST_F(UnitsTest, CountFailureOnAUnitEndsTheRun) {
  static const rec::Format f("(I2,nI3)");
  std::int32_t a = 1, b = 2;
  line(600, "kept");
  rec::RunEnd e = ending_of([&] { io().write(600, f.with("n", 0), a, b); });
  EXPECT_EQ(e.exit_status, 68);
  EXPECT_EQ(e.message,
            "forrtl: severe (68): variable format expression value error, unit 600, file " + full("fort.600"));
  // The records written before stay; nothing of the failed record is left in the file.
  EXPECT_EQ(end(&e), 68);
  EXPECT_EQ(get("fort.600"), crlf({"kept"}));
}

// ---------------------------------------------------------------------------
// Units that were never opened.

TEST_F(UnitsTest, NeverOpenedUnitWritesItsDefaultFile) {
  put("fort.600", crlf({"an older", "and longer", "dump"}));
  line(600, "   1");
  line(600, "   2");
  EXPECT_FALSE(present("fort.777"));
  EXPECT_EQ(end(nullptr), 0);
  EXPECT_EQ(get("fort.600"), crlf({"   1", "   2"}));
  EXPECT_EQ(files(), (std::vector<std::string>{"fort.600"}));
}

TEST_F(UnitsTest, NeverOpenedUnitReadsItsDefaultFileWhichMustExist) {
  std::int32_t v = 0, ios = 0;
  rec::RunEnd e = ending_of([&] { io().read_list(99, v); });
  EXPECT_EQ(e.exit_status, 29);
  EXPECT_EQ(e.message, "forrtl: severe (29): file not found, unit 99, file " + full("fort.99"));
  EXPECT_FALSE(present("fort.99"));

  // With a status check the read returns the failure and the run goes on.
  io().read_list(rec::checked(98, ios), v);
  EXPECT_EQ(ios, 29);
  static const rec::Format i4("(I4)");
  ios = 0;
  io().read(rec::checked(98, ios), i4, v);
  EXPECT_EQ(ios, 29);
  EXPECT_FALSE(present("fort.98"));

  put("fort.99", crlf({"42"}));
  io().read_list(99, v);
  EXPECT_EQ(v, 42);
}

TEST_F(UnitsTest, EnvironmentVariableNamesTheDefaultFile) {
  fs::create_directory(dir_ / "debug");
  ::setenv("FORT600", "debug\\dump.txt", 1);
  line(600, "a");
  ::setenv("FORT99", "", 1);  // set but empty: the default name
  line(99, "b");
  put("given.txt", crlf({"17"}));
  ::setenv("FORT98", "given.txt", 1);
  std::int32_t v = 0;
  io().read_list(98, v);
  EXPECT_EQ(v, 17);
  EXPECT_EQ(end(nullptr), 0);
  EXPECT_EQ(get("debug/dump.txt"), crlf({"a"}));
  EXPECT_EQ(get("fort.99"), crlf({"b"}));
  EXPECT_FALSE(present("fort.600"));

  ::setenv("FORT97", "nowhere\\x.txt", 1);
  rec::RunEnd e = ending_of([&] { io().read_list(97, v); });
  ::unsetenv("FORT97");
  EXPECT_EQ(e.message, "forrtl: severe (29): file not found, unit 97, file " + full("nowhere/x.txt"));
}

// Opening at the end gives the bytes of reading every record and then
// writing, whatever the file holds, without reading it: a record of the
// character 26, zero bytes, an open quote or blank lines at its end change
// nothing, and a last line without LF gets its line end.
TEST_F(UnitsTest, AppendWritesWhereReadingToTheEndWould) {
  const std::vector<std::string> reports = {
      "",
      crlf({"started", "ending"}),
      "started\r\nnorm",
      "lf\nonly\n",
      "cr at the end\r",
      "\x1a",
      crlf({"\x1a", "after it"}),
      std::string("zero\0bytes\r\n\0", 13),
      crlf({"'an open quote", "\"another", "a/slash"}),
      crlf({"blank lines", "", "   ", ""}),
  };
  for (const std::string& before : reports) {
    SCOPED_TRACE(::testing::PrintToString(before));
    put("read.txt", before);
    put("append.txt", before);
    io().open(98, "read.txt", rec::OpenStatus::Unknown);
    std::int32_t ios = 0;
    while (!io().at_end(98)) io().read_list(rec::checked(98, ios));
    io().open(99, "append.txt", rec::OpenStatus::Unknown, rec::OpenOptions{.append = true});
    EXPECT_TRUE(io().at_end(99));
    for (int unit : {98, 99}) {
      line(unit, "started");
      line(unit, "ending");
      io().close(unit);
    }
    EXPECT_EQ(get("append.txt"), get("read.txt"));
  }
  // A missing file is made, as by an open of status unknown.
  io().open(99, "new.txt", rec::OpenStatus::Unknown, rec::OpenOptions{.append = true});
  line(99, "first");
  io().close(99);
  EXPECT_EQ(get("new.txt"), crlf({"first"}));
}

// ---------------------------------------------------------------------------
// Files replaced whole.

TEST_F(UnitsTest, ReplacedWholeAtCloseOnly) {
  put("level.tb0", crlf({":endHeader", "old 1", "old 2"}));
  io().open(99, "level.tb0", rec::OpenStatus::Unknown, rec::OpenOptions{.replace_whole = true});
  io().read_list(99);  // the header
  // More than a buffer's worth: nothing of it shows before the close.
  tarvello::Text<2048> big(std::string(2048, 'd'));
  for (int k = 0; k < 600; ++k) line(99, big.view());
  EXPECT_EQ(get("level.tb0"), crlf({":endHeader", "old 1", "old 2"}));
  io().close(99);
  std::string expected = crlf({":endHeader"});
  for (int k = 0; k < 600; ++k) expected += std::string(2048, 'd') + "\r\n";
  EXPECT_EQ(get("level.tb0"), expected);
  EXPECT_EQ(files(), (std::vector<std::string>{"level.tb0"}));

  // A file that did not exist appears only at the close.
  std::int32_t ios = -1;
  io().open(rec::checked(98, ios), "new.tb0", rec::OpenStatus::Unknown, rec::OpenOptions{.replace_whole = true});
  EXPECT_EQ(ios, 0);
  line(98, "n");
  EXPECT_FALSE(present("new.tb0"));
  io().close(98);
  EXPECT_EQ(get("new.tb0"), crlf({"n"}));

  // Opened and closed without a write: the file is as it was.
  io().open(98, "new.tb0", rec::OpenStatus::Old, rec::OpenOptions{.replace_whole = true});
  io().close(98);
  EXPECT_EQ(get("new.tb0"), crlf({"n"}));
  EXPECT_EQ(files(), (std::vector<std::string>{"level.tb0", "new.tb0"}));
}

TEST_F(UnitsTest, EndingBeforeTheCloseLeavesAReplacedFileUntouched) {
  put("level.tb0", crlf({"old"}));
  io().open(99, "level.tb0", rec::OpenStatus::Unknown, rec::OpenOptions{.replace_whole = true});
  line(99, "new");
  io().open(98, "never.tb0", rec::OpenStatus::Unknown, rec::OpenOptions{.replace_whole = true});
  line(98, "new");
  line(600, "dump");  // an ordinary file is still written out
  rec::RunEnd e = ending_of([] { rec::stop("Program aborted @ 42"); });
  std::string err;
  EXPECT_EQ(end(&e, &err), 1);
  EXPECT_EQ(err, "Program aborted @ 42\r\n");
  EXPECT_EQ(get("level.tb0"), crlf({"old"}));
  EXPECT_EQ(get("fort.600"), crlf({"dump"}));
  EXPECT_EQ(files(), (std::vector<std::string>{"fort.600", "level.tb0"}));
}

TEST_F(UnitsTest, ReplacedWholeKeepsPermissionsAndRefusesADirectory) {
  put("level.tb0", crlf({"old"}));
  fs::permissions(dir_ / "level.tb0", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  io().open(99, "level.tb0", rec::OpenStatus::Unknown, rec::OpenOptions{.replace_whole = true});
  line(99, "new");
  io().close(99);
  EXPECT_EQ(get("level.tb0"), crlf({"new"}));
  EXPECT_EQ(fs::status(dir_ / "level.tb0").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

  fs::create_directory(dir_ / "adir");
  std::int32_t ios = 0;
  io().open(rec::checked(99, ios), "adir", rec::OpenStatus::Unknown, rec::OpenOptions{.replace_whole = true});
  EXPECT_EQ(ios, rec::kOpenFailure);
}

// The temporary file of a file replaced whole is always made new: what a
// killed run left under its name, a file or a link to another file, is
// removed, never written through.
TEST_F(UnitsTest, ReplacedWholeMakesItsTemporaryFileNew) {
  for (bool existing : {true, false}) {
    for (bool link : {false, true}) {
      SCOPED_TRACE(::testing::Message() << (existing ? "replacing a file" : "making a file")
                                        << (link ? ", a link left" : ", a file left"));
      fs::remove(dir_ / "level.tb0");
      if (existing) put("level.tb0", crlf({"old"}));
      put("other.txt", "not to be written");
      if (link) fs::create_symlink("other.txt", dir_ / "level.tb0.orvistad.tmp");
      else put("level.tb0.orvistad.tmp", "left by a killed run, longer than the new file");
      io().open(99, "level.tb0", rec::OpenStatus::Unknown, rec::OpenOptions{.replace_whole = true});
      line(99, "new");
      io().close(99);
      EXPECT_EQ(get("level.tb0"), crlf({"new"}));
      EXPECT_FALSE(fs::is_symlink(dir_ / "level.tb0"));
      EXPECT_EQ(get("other.txt"), "not to be written");
      EXPECT_EQ(files(), (std::vector<std::string>{"level.tb0", "other.txt"}));
    }
  }
}

TEST_F(UnitsTest, ReplacedWholeOnANormalEnd) {
  put("level.tb0", crlf({"old"}));
  io().open(99, "level.tb0", rec::OpenStatus::Unknown, rec::OpenOptions{.replace_whole = true});
  line(99, "new");
  EXPECT_EQ(end(nullptr), 0);
  EXPECT_EQ(get("level.tb0"), crlf({"new"}));
  EXPECT_EQ(files(), (std::vector<std::string>{"level.tb0"}));
}

// ---------------------------------------------------------------------------
// Writes that the platform refuses.

TEST_F(UnitsTest, RefusedWriteFoundAtTheEndOfTheRunIsFailure38) {
  ::setenv("FORT600", "/dev/full", 1);
  line(600, "   1  -999.000");  // accepted into the buffer
  line(rec::kConsole, "console");
  std::string err;
  ::testing::internal::CaptureStdout();
  int status = end(nullptr, &err);
  std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(status, 38);
  EXPECT_EQ(err, "forrtl: severe (38): error during write, unit 600, file /dev/full\r\n");
  EXPECT_EQ(out, crlf({"console"}));
}

TEST_F(UnitsTest, RefusedWriteOnCloseIsFailure38) {
  ::setenv("FORT600", "/dev/full", 1);
  line(600, "x");
  std::int32_t ios = 0;
  io().close(rec::checked(600, ios));
  EXPECT_EQ(ios, 38);
  line(600, "y");
  rec::RunEnd e = ending_of([&] { io().close(600); });
  EXPECT_EQ(e.exit_status, 38);
  EXPECT_EQ(e.message, "forrtl: severe (38): error during write, unit 600, file /dev/full");
}

TEST_F(UnitsTest, RefusedWriteOfALargeStatementEndsTheRunAtOnce) {
  ::setenv("FORT600", "/dev/full", 1);
  tarvello::Text<2048> big(std::string(2048, 'v'));
  rec::RunEnd e = ending_of([&] {
    for (int k = 0; k < 1000; ++k) line(600, big.view());
  });
  EXPECT_EQ(e.exit_status, 38);
  EXPECT_EQ(e.message, "forrtl: severe (38): error during write, unit 600, file /dev/full");
  // The ending reports it once: closing the unit does not report it again.
  std::string err;
  EXPECT_EQ(end(&e, &err), 38);
  EXPECT_EQ(err, e.message + "\r\n");
}

TEST_F(UnitsTest, DeviceFilesAreWrittenWithoutTruncating) {
  ::setenv("FORT600", "/dev/null", 1);
  line(600, "discarded");
  EXPECT_EQ(end(nullptr), 0);
}

// ---------------------------------------------------------------------------
// Run endings.

TEST_F(UnitsTest, RunEndingsGiveTheirExitStatusAndLine) {
  struct Case {
    const char* what;
    std::function<void()> ending;  // null: the normal end
    int status;
    std::string err;
  };
  const std::vector<Case> cases = {
      {"normal end", nullptr, 0, ""},
      {"stop with a text", [] { rec::stop("Program aborted @ 42"); }, 1, "Program aborted @ 42\r\n"},
      {"stop with a text kept unchanged", [] { rec::stop("WarninSta: error with allocation of fln "); }, 1,
       "WarninSta: error with allocation of fln \r\n"},
      {"stop without a text", [] { rec::stop(); }, 1, ""},
      {"stop with a number", [] { rec::stop_number(99999); }, 99999, "99999\r\n"},
      {"failure ending", [] { rec::fail(24, 100, "/w/hourlysrc.txt"); }, 24,
       "forrtl: severe (24): end-of-file during read, unit 100, file /w/hourlysrc.txt\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    io_.emplace();
    line(777, "written before the end");
    io().print(rec::kConsole, "console line");
    std::string err;
    ::testing::internal::CaptureStdout();
    int status = 0;
    if (c.ending) {
      rec::RunEnd e = ending_of(c.ending);
      status = end(&e, &err);
    } else {
      status = end(nullptr, &err);
    }
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(err, c.err);
    EXPECT_EQ(out, crlf({" console line"}));
    // Every ending writes out and closes every file.
    EXPECT_EQ(get("fort.777"), crlf({"written before the end"}));
  }
}

TEST(FailureLine, MessageOfEachFailure) {
  struct Case {
    int number;
    const char* message;
  };
  const std::vector<Case> cases = {
      {9, "permission to access file denied"},
      {24, "end-of-file during read"},
      {29, "file not found"},
      {30, "open failure"},
      {38, "error during write"},
      {43, "file name specification error"},
      {59, "list-directed I/O syntax error"},
      {64, "input conversion error"},
      {68, "variable format expression value error"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.number);
    EXPECT_EQ(rec::failure_line(c.number, 99, "/abs/path"), "forrtl: severe (" + std::to_string(c.number) +
                                                               "): " + c.message + ", unit 99, file /abs/path");
    rec::RunEnd e = ending_of([&] { rec::fail(c.number, 99, "/abs/path"); });
    EXPECT_EQ(e.exit_status, c.number);
    EXPECT_EQ(e.message, rec::failure_line(c.number, 99, "/abs/path"));
  }
}

TEST(PlatformName, TrailingBlanksGoAndBackslashesBecomeSlashes) {
  EXPECT_EQ(rec::platform_name("level\\regl_lvl.tb0   "), "level/regl_lvl.tb0");
  EXPECT_EQ(rec::platform_name("debug\\missing PC data"), "debug/missing PC data");
  EXPECT_EQ(rec::platform_name("  a b  "), "  a b");
  EXPECT_EQ(rec::platform_name("x\0\0 "s), "x\0\0"s);
}

}  // namespace

// Rows read in one go (read_rows, with records converted on several threads)
// against the same rows read one free-form read at a time: the values, where
// the file is left, what a later write carries over, and every failure must
// be the same, whatever records stand among the plain ones.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <bit>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "fixed_text.h"
#include "real_table.h"
#include "record/format.h"
#include "record/run_end.h"
#include "record/units.h"

namespace {

namespace fs = std::filesystem;

// What a run of reads left behind.
struct Outcome {
  std::vector<std::uint32_t> bits;  // every value of the table, bit for bit
  int status = 0;                   // exit status of the run
  std::string err;                  // its standard-error lines
  int next_status = 0;              // status of a read after the rows
  std::string next;                 // and the text it read
  std::string file;                 // the file after a write that follows the reads
  bool operator==(const Outcome&) const = default;
};

class RowReadTest : public ::testing::Test {
 protected:
  RowReadTest() {
    home_ = fs::current_path();
    std::string pattern = (fs::temp_directory_path() / "rowread_XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
    dir_ = fs::canonical(pattern);
    fs::current_path(dir_);
  }
  ~RowReadTest() override {
    fs::current_path(home_);
    fs::remove_all(dir_);
  }

  // Reads `rows` rows of `width` from a file of `body`, in one go or one
  // read at a time, then one more record as text, then writes a line, which
  // ends the file after what was read.
  Outcome read(bool in_one_go, const std::string& body, int rows, int width) {
    {
      std::ofstream(dir_ / "in.txt", std::ios::binary) << body;
    }
    static const rec::Format line("(A)");
    tarvello::RealTable t;
    t.allocate(rows, width, -999.0f);
    Outcome o;
    rec::Units io;
    ::testing::internal::CaptureStderr();
    try {
      io.open(10, "in.txt", rec::OpenStatus::Unknown, rec::OpenOptions{.replace_whole = true});
      if (in_one_go) {
        io.read_rows(10, static_cast<std::size_t>(rows),
                     [&t](std::size_t k) { return t.row(static_cast<int>(k) + 1); });
      } else {
        for (int r = 1; r <= rows; ++r) io.read_list(10, t.row(r));
      }
      tarvello::Text<40> next;
      io.read_list(10, rec::iostat(o.next_status), next);
      o.next = std::string(next.view());
      io.write(10, line, "written after the reads");
      o.status = io.end_run(nullptr);
    } catch (const rec::RunEnd& ending) {
      o.status = io.end_run(&ending);
    }
    o.err = ::testing::internal::GetCapturedStderr();
    for (int r = 1; r <= rows; ++r)
      for (float v : std::as_const(t).row(r)) o.bits.push_back(std::bit_cast<std::uint32_t>(v));
    std::ifstream in(dir_ / "in.txt", std::ios::binary);
    o.file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return o;
  }

  fs::path home_, dir_;
};

// A plain record: `width` levels between blanks, as the yearly file holds them.
std::string plain(int r, int width) {
  std::string s(20, ' ');
  for (int c = 0; c < width; ++c) {
    s += "     ";
    s += std::to_string(100 + (r * 7 + c) % 400) + "." + std::to_string(100 + (r + c) % 900);
  }
  return s;
}

struct Case {
  const char* name;
  int rows, width, lines;                               // rows read, values per row, plain lines in the file
  std::vector<std::pair<int, std::string>> replaced;    // line (from 0) and what stands there instead
  const char* ending = "\n";                            // line end of every line
  bool last_line_ended = true;
};

TEST_F(RowReadTest, RowsReadInOneGoAreTheRowsReadOneByOne) {
  // 2000 lines make several parts on several threads; the odd records stand
  // at the start, inside later parts and at part edges.
  const std::vector<Case> cases = {
      {"all plain, more lines than rows", 2000, 5, 2100, {}},
      {"all plain, exactly the rows", 2000, 5, 2000, {}},
      {"too few lines", 2000, 5, 1990, {}},
      {"CR LF line ends", 2000, 5, 2001, {}, "\r\n"},
      {"last line without its end", 2000, 5, 2000, {}, "\n", false},
      {"no rows asked", 0, 5, 3, {}},
      {"nothing in a row", 3, 0, 5, {{1, "abc"}}},
      {"separators and nulls",
       2000,
       5,
       2001,
       {{0, "1.5,,2.5 3 4"}, {700, "1,2,3,4,5"}, {1500, " 1.0 2.0 / 9 9 9"}, {1999, ",,,,,"}}},
      {"values that are not plain decimals",
       2000,
       5,
       2001,
       {{3, "1.5E2 2 3 4 5"}, {999, "3*7.25 1 2"}, {1000, "123456789 1 2 3 4"}, {1600, "+.5 -0. 1. 0.1e1 5"}}},
      {"a read spanning lines", 2000, 5, 2003, {{250, "1 2 3"}, {251, "4 5 6 7"}, {1800, "1"}, {1801, ""}}},
      {"blank and tab separated, extra values ignored", 2000, 5, 2001, {{10, "\t1\t2 \t3  4 5 6 7 /,*"}}},
      {"bad token ends the run", 2000, 5, 2001, {{1234, "1 2 x3 4 5"}}},
      {"quoted value ends the run", 2000, 5, 2001, {{40, "1 2 '3' 4 5"}}},
      {"end-of-file mark", 2000, 5, 2001, {{1700, "\x1a"}}},
      {"end-of-file mark in a row of none", 3, 0, 5, {{2, "\x1a"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string body;
    for (int r = 0; r < c.lines; ++r) {
      std::string text = plain(r, c.width);
      for (const auto& [at, instead] : c.replaced)
        if (at == r) text = instead;
      body += text;
      if (r + 1 < c.lines || c.last_line_ended) body += c.ending;
    }
    const Outcome one_by_one = read(false, body, c.rows, c.width);
    const Outcome in_one_go = read(true, body, c.rows, c.width);
    EXPECT_EQ(in_one_go.status, one_by_one.status);
    EXPECT_EQ(in_one_go.err, one_by_one.err);
    EXPECT_EQ(in_one_go.next_status, one_by_one.next_status);
    EXPECT_EQ(in_one_go.next, one_by_one.next);
    EXPECT_TRUE(in_one_go.bits == one_by_one.bits) << "the tables differ";
    EXPECT_TRUE(in_one_go.file == one_by_one.file) << "the files differ";
  }
}

TEST_F(RowReadTest, FullWidthRowsAcrossManyBatches) {
  // Rows of 999 values over about 30 MB, so that the file is taken in
  // several batches, with odd records on both sides of a batch edge.
  constexpr int kLines = 2500;
  std::string body;
  for (int r = 0; r < kLines; ++r) {
    if (r == 690 || r == 1401) {
      body += "1.25 2*3.5\n" + plain(r, 999) + "\n";
      continue;
    }
    body += plain(r, 999) + "\n";
  }
  const Outcome one_by_one = read(false, body, 2400, 999);
  const Outcome in_one_go = read(true, body, 2400, 999);
  EXPECT_EQ(in_one_go.status, 0);
  EXPECT_EQ(in_one_go.status, one_by_one.status);
  EXPECT_EQ(in_one_go.next, one_by_one.next);
  EXPECT_TRUE(in_one_go.bits == one_by_one.bits) << "the tables differ";
  EXPECT_TRUE(in_one_go.file == one_by_one.file) << "the files differ";
}

}  // namespace

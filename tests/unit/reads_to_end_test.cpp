// Reads of one text item each through a whole file, made as one pass over its
// bytes (Units::read_list_to_end), against the same reads made record by
// record: the text and the status they leave, for a table of contents, for
// random contents, and for a pass carried over a file that grows between
// connections.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "fixed_text.h"
#include "record/statements.h"
#include "scratch_directory.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

constexpr int kUnit = 98;
constexpr std::int32_t kStatusBefore = 12345;
const std::string kTextBefore = "text before the reads";

struct Left {
  std::string text;
  std::int32_t status;
  bool operator==(const Left&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Left& l) {
  std::string shown;
  for (char c : tarvello::trim_right(l.text)) {
    if (c >= 32 && c < 127) shown += c;
    else shown += "\\x" + std::to_string(static_cast<unsigned char>(c));
  }
  return os << "{'" << shown << "', " << l.status << "}";
}

class ReadsToEnd : public ::testing::Test {
 protected:
  ReadsToEnd() : dir_(scratch_.path()) { io_.emplace(); }
  ~ReadsToEnd() override { io_.reset(); }

  void put(const std::string& bytes) { std::ofstream(dir_ / "report", std::ios::binary) << bytes; }
  void add(const std::string& bytes) { std::ofstream(dir_ / "report", std::ios::binary | std::ios::app) << bytes; }

  // The reads made record by record: while the unit is not at its end, one
  // read of the text that stores its status.
  Left record_by_record() {
    tarvello::Text<2048> text(kTextBefore);
    std::int32_t status = kStatusBefore;
    io_->open(kUnit, "report", rec::OpenStatus::Old);
    while (!io_->at_end(kUnit)) io_->read_list(rec::checked(kUnit, status), text);
    io_->close(kUnit);
    return {std::string(text.view()), status};
  }

  // The same reads as one pass, on a connection positioned at the end for
  // an append, carrying `scan` on from earlier connections.
  Left one_pass(rec::FileScan& scan) {
    tarvello::Text<2048> text(kTextBefore);
    std::int32_t status = kStatusBefore;
    static constexpr rec::OpenOptions append{.append = true};
    io_->open(kUnit, "report", rec::OpenStatus::Old, append);
    io_->read_list_to_end(rec::checked(kUnit, status), text.ref(), scan);
    io_->close(kUnit);
    return {std::string(text.view()), status};
  }
  Left one_pass() {
    rec::FileScan scan;
    return one_pass(scan);
  }

  testdir::ScratchDirectory scratch_{"reads"};
  fs::path dir_;
  std::optional<rec::Units> io_;
};

TEST_F(ReadsToEnd, TableOfContents) {
  const std::string long_token(2049, 'x');
  struct Case {
    const char* name;
    std::string bytes;
    Left expected;
  };
  const std::string before = kTextBefore;
  const std::vector<Case> cases = {
      {"empty: not read", "", {before, kStatusBefore}},
      {"a report of the program's lines",
       "Orvistad.exe - started\r\n Garbage in the hourlysrc.txt file\r\nOrvistad.exe - crashed out ending 2024-03-03  14:05\r\n",
       {"Orvistad.exe", 0}},
      {"LF line ends", "one two\nthree\n", {"three", 0}},
      {"blank lines at the end", "alpha\r\n\r\n   \r\n\t\r\n", {"alpha", -1}},
      {"blank lines between", "alpha\r\n\r\n\r\nbeta\r\n", {"beta", 0}},
      {"an open quotation at the end", "'Alpha beta' one\r\n'Gamma\r\n", {"Alpha beta", -1}},
      {"a quotation over line ends", "x\r\n'one\r\ntwo' three\r\n", {"onetwo", 0}},
      {"a quotation over a blank line", "'one\r\n\r\n two'\r\n", {"one two", 0}},
      {"doubled quotes", "'it''s' x\r\n", {"it's", 0}},
      {"a doubled quote at a record end closes", "'ab'\r\n'\r\n", {"ab", -1}},
      {"double quotes", "\"a 'b\" c\r\n", {"a 'b", 0}},
      {"a slash leaves the text", "alpha\r\n/ beta\r\n", {"alpha", 0}},
      {"a comma leaves the text", "alpha\r\n, beta\r\n", {"alpha", 0}},
      {"a slash right after a token", "alpha/beta\r\n", {"alpha", 0}},
      {"r* alone is null values", "alpha\r\n3* beta\r\n", {"alpha", 0}},
      {"r* before a slash", "alpha\r\n3*/\r\n", {"alpha", 0}},
      {"r* before a value", "alpha\r\n2*beta gamma\r\n", {"beta", 0}},
      {"r* before a quotation", "2*'b c\r\nd'\r\n", {"b cd", 0}},
      {"0* is no count", "0*beta\r\n", {"0*beta", 0}},
      {"digits without a star", "123 beta\r\n", {"123", 0}},
      {"the character 26 ends one read", "alpha\r\n\x1a\r\n", {"alpha", -1}},
      {"the character 26, then more lines", "alpha\r\n\x1a\r\nbeta\r\n", {"beta", 0}},
      {"the character 26 in a quotation", "'alpha\r\n\x1a\r\nbeta\r\n", {"beta", 0}},
      {"the character 26 while blank lines are passed over", "\r\n\x1a\r\n", {before, -1}},
      {"the character 26 with more on its line", "\x1a" "abc\r\n", {"\x1a" "abc", 0}},
      {"the character 26 as the last line without a line end", "alpha\r\n\x1a", {"alpha", -1}},
      {"zero bytes", "\0\0abc\0 def\r\n"s, {"\0\0abc\0"s, 0}},
      {"a last line without a line end", "alpha\r\nbeta", {"beta", 0}},
      {"a CR alone ends no line", "alpha\rbeta\r", {"alpha\rbeta\r", 0}},
      {"CR bytes before LF", "alpha\r\r\r\n", {"alpha", 0}},
      {"a token of 2049 characters", long_token + "\r\n", {long_token.substr(0, 2048), 0}},
      {"a token too long", "alpha\r\n" + long_token + "x\r\n", {"alpha", 59}},
      {"a quotation too long", "alpha\r\n'" + long_token + "y'\r\n", {"alpha", 59}},
      {"a quotation too long over two lines", "'" + long_token + "\r\nz'\r\n", {before, 59}},
      {"tabs", "\t alpha\tbeta\r\n", {"alpha", 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    put(c.bytes);
    Left expected = c.expected;
    expected.text.resize(2048, ' ');
    EXPECT_EQ(record_by_record(), expected);
    EXPECT_EQ(one_pass(), expected);
  }
}

// Bytes drawn from what the reads treat apart, in short lines.
std::string random_bytes(std::mt19937& rng, std::size_t max_size) {
  static const std::string alphabet = "ab  \t\t,/'\"*20\r\n\n\n\x1a\0"s;
  std::uniform_int_distribution<std::size_t> size(0, max_size);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  std::string s(size(rng), ' ');
  for (char& c : s) c = alphabet[pick(rng)];
  return s;
}

TEST_F(ReadsToEnd, RandomContents) {
  std::mt19937 rng(20261210);
  for (int trial = 0; trial < 2000; ++trial) {
    const std::string bytes = random_bytes(rng, 40);
    SCOPED_TRACE(testing::PrintToString(bytes));
    put(bytes);
    ASSERT_EQ(one_pass(), record_by_record());
  }
}

// One pass carried over connections of a file that grows between them, also
// in the middle of a line or a quotation, and that is at times made anew or
// cut short: each connection leaves what reading the whole file does.
TEST_F(ReadsToEnd, PassCarriedOverAGrowingFile) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> event(0, 19);
  for (int sequence = 0; sequence < 150; ++sequence) {
    rec::FileScan scan;
    std::string bytes = random_bytes(rng, 20);
    put(bytes);
    std::string history;
    for (int step = 0; step < 12; ++step) {
      SCOPED_TRACE(history + testing::PrintToString(bytes));
      ASSERT_EQ(one_pass(scan), record_by_record());
      const int e = event(rng);
      history += std::to_string(e) + " ";
      if (e == 0) {
        // Made anew: another file put in its place.
        bytes = random_bytes(rng, 20);
        std::ofstream(dir_ / "report.new", std::ios::binary) << bytes;
        fs::rename(dir_ / "report.new", dir_ / "report");
      } else if (e == 1) {
        // Cut short in place.
        bytes.resize(bytes.size() / 2);
        fs::resize_file(dir_ / "report", bytes.size());
      } else {
        const std::string more = random_bytes(rng, 12);
        add(more);
        bytes += more;
      }
    }
  }
}

}  // namespace

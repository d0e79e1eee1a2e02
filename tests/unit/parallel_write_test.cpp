// Writes that the unit table builds in one go: write_records (blocks built on
// several threads) and write_repeated (one record written again) against the
// same writes made one at a time, normal and failing; and the real table.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <bit>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "real_table.h"
#include "record/format.h"
#include "record/run_end.h"
#include "record/units.h"

namespace {

namespace fs = std::filesystem;

class ParallelWriteTest : public ::testing::Test {
 protected:
  ParallelWriteTest() {
    home_ = fs::current_path();
    std::string pattern = (fs::temp_directory_path() / "parallel_XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
    dir_ = fs::canonical(pattern);
    fs::current_path(dir_);
  }
  ~ParallelWriteTest() override {
    fs::current_path(home_);
    fs::remove_all(dir_);
  }
  std::string get(const std::string& name) {
    std::ifstream in(dir_ / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  // Runs `body` on a fresh unit table and ends the run as the program does;
  // returns the exit status.
  template <class Body>
  int run(Body body) {
    rec::Units io;
    try {
      body(io);
      return io.end_run(nullptr);
    } catch (const rec::RunEnd& ending) {
      return io.end_run(&ending);
    }
  }

  fs::path home_, dir_;
};

// A table of levels: rows of 999 with missing values and a few odd ones.
tarvello::RealTable table(int rows) {
  tarvello::RealTable t;
  t.allocate(rows, 999, -999.0f);
  for (int r = 1; r <= rows; ++r)
    for (int c = 1; c <= 999; c += 3) t(r, c) = 150.0f + 0.001f * static_cast<float>(r * 999 + c);
  t(5, 7) = 1.0e9f;  // asterisks
  t(9, 2) = -0.0f;
  return t;
}

TEST_F(ParallelWriteTest, RecordsInBlocksAreTheRecordsOneByOne) {
  static const rec::Format dump("(I10,<n>F10.3)");
  static const rec::Format line("(20X,9999(F12.3))");
  const tarvello::RealTable t = table(700);  // well over the buffer size, in many blocks
  const rec::BoundFormat record = dump.with("n", 999);
  const int one_by_one = run([&](rec::Units& io) {
    io.open(10, "a.txt", rec::OpenStatus::Unknown);
    io.open(11, "b.txt", rec::OpenStatus::Unknown, rec::OpenOptions{.replace_whole = true});
    for (int r = 1; r <= t.rows(); ++r) {
      io.write(10, record, r, t.row(r));
      io.write(11, line, t.row(r));
    }
  });
  const int in_blocks = run([&](rec::Units& io) {
    io.open(10, "c.txt", rec::OpenStatus::Unknown);
    io.open(11, "d.txt", rec::OpenStatus::Unknown, rec::OpenOptions{.replace_whole = true});
    io.write_records(10, record, static_cast<std::size_t>(t.rows()), [&](std::size_t k, auto&& put) {
      const std::int32_t r = static_cast<std::int32_t>(k) + 1;
      put(r, t.row(r));
    });
    io.write_records(11, line, static_cast<std::size_t>(t.rows()),
                     [&](std::size_t k, auto&& put) { put(t.row(static_cast<int>(k) + 1)); });
  });
  EXPECT_EQ(one_by_one, 0);
  EXPECT_EQ(in_blocks, 0);
  EXPECT_GT(get("a.txt").size(), std::size_t{6} << 20);
  EXPECT_TRUE(get("a.txt") == get("c.txt"));
  EXPECT_TRUE(get("b.txt") == get("d.txt"));
}

TEST_F(ParallelWriteTest, FailureInABlockEndsTheRunWhereOneByOneWould) {
  // A count of 0 with an item left fails record 611 (failure 68); a stop in
  // the item callback ends the run at write 433. The files keep exactly the
  // records before the failing one.
  static const rec::Format counted("(I10,<c>F10.3)");
  const rec::BoundFormat record = counted.with("c", 0);
  const tarvello::RealTable t = table(700);
  auto fails_at_611 = [&](rec::Units& io, bool blocks) {
    io.open(10, blocks ? "c.txt" : "a.txt", rec::OpenStatus::Unknown);
    auto items_of = [&](std::size_t k, auto&& put) {
      const std::int32_t r = static_cast<std::int32_t>(k) + 1;
      if (r == 611) put(r, t.row(r).first(1));
      else put(r, t.row(r).first(0));
    };
    if (blocks) {
      io.write_records(10, record, 700, items_of);
    } else {
      for (std::size_t k = 0; k < 700; ++k) items_of(k, [&](auto&&... a) { io.write(10, record, a...); });
    }
  };
  EXPECT_EQ(run([&](rec::Units& io) { fails_at_611(io, false); }), 68);
  EXPECT_EQ(run([&](rec::Units& io) { fails_at_611(io, true); }), 68);
  EXPECT_EQ(get("a.txt").size(), 610u * 12u);
  EXPECT_TRUE(get("a.txt") == get("c.txt"));

  static const rec::Format line("(20X,9999(F12.3))");
  const int stopped = run([&](rec::Units& io) {
    io.open(12, "e.txt", rec::OpenStatus::Unknown);
    io.write_records(12, line, 700, [&](std::size_t k, auto&& put) {
      if (k == 432) rec::stop_number(77);
      put(t.row(static_cast<int>(k) + 1));
    });
  });
  EXPECT_EQ(stopped, 77);
  EXPECT_EQ(get("e.txt").size(), 432u * (20u + 999u * 12u + 2u));
}

TEST_F(ParallelWriteTest, RepeatedRecordIsTheSameAsEachWrite) {
  static const rec::Format line("(20X,9999(1X,F11.3))");
  const std::vector<float> row(999, -999.0f);
  const std::span<const float> values(row);
  run([&](rec::Units& io) {
    io.open(10, "a.txt", rec::OpenStatus::Unknown);
    for (int k = 0; k < 300; ++k) io.write(10, line, values);
    io.open(11, "b.txt", rec::OpenStatus::Unknown);
    io.write_repeated(11, 300, line, values);
    io.write_repeated(11, 0, line, values);  // nothing
  });
  EXPECT_EQ(get("a.txt").size(), 300u * (20u + 999u * 12u + 2u));
  EXPECT_TRUE(get("a.txt") == get("b.txt"));
}

TEST(RealTable, FillRowsAndReallocation) {
  tarvello::RealTable t;
  EXPECT_FALSE(t.allocated());
  t.allocate(3, 2, -0.0f);
  EXPECT_TRUE(t.allocated());
  EXPECT_EQ(std::bit_cast<std::uint32_t>(t(3, 2)), std::bit_cast<std::uint32_t>(-0.0f));
  t.allocate(4, 3);
  EXPECT_EQ(t.rows(), 4);
  EXPECT_EQ(t.columns(), 3);
  for (float v : t.row(4)) EXPECT_EQ(std::bit_cast<std::uint32_t>(v), 0u);
  t(2, 3) = 5.0f;
  EXPECT_EQ(t.row(2)[2], 5.0f);
  EXPECT_EQ(&t.row(3)[0], &t(2, 3) + 1);  // rows follow each other
  t.allocate(5, -1);                      // no columns
  EXPECT_EQ(t.columns(), 0);
  EXPECT_TRUE(t.row(1).empty());
  tarvello::RealTable moved = std::move(t);
  EXPECT_EQ(moved.rows(), 5);
}

}  // namespace

// The record layer builds and reads the long lines of the level files without
// a heap allocation per value: a data line of 999 values costs none at all once
// its buffer has room.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <span>
#include <string>
#include <vector>

#include "record/format.h"
#include "record/list_input.h"

namespace {
std::size_t allocations = 0;
}  // namespace

void* operator new(std::size_t size) {
  ++allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

class OneRecord : public rec::RecordSource {
 public:
  explicit OneRecord(std::string_view record) : record_(record) {}
  bool next(std::string_view& record) override {
    record = record_;
    return true;
  }

 private:
  std::string_view record_;
};

TEST(RecordAllocation, DataLineOf999ValuesAllocatesNothing) {
  static const rec::Format line("(20X,9999(F12.3))");
  std::vector<float> values(999);
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = i % 7 == 0 ? -999.0f : 150.0f + 0.125f * i;
  std::string out;
  out.reserve(20000);

  const std::size_t before = allocations;
  auto groups = rec::items(std::span<float>(values));
  rec::ItemCursor cursor(groups);
  rec::FormattedWriter writer(line, cursor);
  writer.next_record(out);
  EXPECT_EQ(allocations - before, 0u);
  ASSERT_EQ(out.size(), 20u + 12u * 999u);

  std::vector<float> back(999, 0.0f);
  OneRecord source(out);
  const std::size_t before_read = allocations;
  auto read_groups = rec::input_items(std::span<float>(back));
  int status = rec::list_read(source, rec::ListSource::External, rec::ItemCursor(read_groups));
  EXPECT_EQ(allocations - before_read, 0u);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(back, values);
}

}  // namespace

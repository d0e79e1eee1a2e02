// A two-dimensional table of reals indexed from 1, (row, column), with the
// columns of a row next to each other: a row is the item list of one record.
#pragma once

#include <sys/mman.h>

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <span>

namespace tarvello {

class RealTable {
 public:
  // Allocates rows x columns entries, all `fill`; throws std::bad_alloc.
  // The entries come zeroed from calloc, which maps a large table's pages
  // only when they are first written: rows that are never set cost no
  // memory when the fill is zero.
  void allocate(int rows, int columns, float fill = 0.0f) {
    const int cols = columns < 0 ? 0 : columns;
    const std::size_t n = static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols);
    Values values;
    if (n > 0) {
      values.reset(static_cast<float*>(std::calloc(n, sizeof(float))));
      if (!values) throw std::bad_alloc();
      prefer_huge_pages(values.get(), n * sizeof(float));
      if (std::bit_cast<std::uint32_t>(fill) != 0) std::fill_n(values.get(), n, fill);
    }
    values_ = std::move(values);
    rows_ = rows;
    columns_ = cols;
    allocated_ = true;
  }
  bool allocated() const { return allocated_; }
  int rows() const { return rows_; }
  int columns() const { return columns_; }

  float& operator()(int row, int column) { return values_[index(row, column)]; }
  float operator()(int row, int column) const { return values_[index(row, column)]; }

  // Row r, columns 1 to n.
  std::span<float> row(int r) {
    return {values_.get() + static_cast<std::size_t>(r - 1) * static_cast<std::size_t>(columns_),
            static_cast<std::size_t>(columns_)};
  }
  std::span<const float> row(int r) const {
    return {values_.get() + static_cast<std::size_t>(r - 1) * static_cast<std::size_t>(columns_),
            static_cast<std::size_t>(columns_)};
  }

 private:
  // Asks for the large pages of the platform over the whole pages inside a
  // large table: a year table of 999 locations then takes a few dozen page
  // faults instead of thousands. Only advice: the memory is the same.
  static void prefer_huge_pages(void* p, std::size_t bytes) {
    constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
    const std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(p) + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(p) + bytes) & ~(kHugePage - 1);
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
  }
  struct Free {
    void operator()(float* p) const { std::free(p); }
  };
  using Values = std::unique_ptr<float[], Free>;

  std::size_t index(int row, int column) const {
    return static_cast<std::size_t>(row - 1) * static_cast<std::size_t>(columns_) +
           static_cast<std::size_t>(column - 1);
  }
  Values values_;
  int rows_ = 0;
  int columns_ = 0;
  bool allocated_ = false;
};

}  // namespace tarvello

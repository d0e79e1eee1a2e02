// A two-dimensional table of reals indexed from 1, (row, column), with the
// columns of a row next to each other: a row is the item list of one record.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace tarvello {

class RealTable {
 public:
  // Allocates rows x columns entries, all `fill`; throws std::bad_alloc.
  void allocate(int rows, int columns, float fill = 0.0f) {
    rows_ = rows;
    columns_ = columns < 0 ? 0 : columns;
    values_.assign(static_cast<std::size_t>(rows_) * static_cast<std::size_t>(columns_), fill);
    allocated_ = true;
  }
  bool allocated() const { return allocated_; }
  int rows() const { return rows_; }
  int columns() const { return columns_; }

  float& operator()(int row, int column) { return values_[index(row, column)]; }
  float operator()(int row, int column) const { return values_[index(row, column)]; }

  // Row r, columns 1 to n.
  std::span<float> row(int r) {
    return {values_.data() + static_cast<std::size_t>(r - 1) * static_cast<std::size_t>(columns_),
            static_cast<std::size_t>(columns_)};
  }
  std::span<const float> row(int r) const {
    return {values_.data() + static_cast<std::size_t>(r - 1) * static_cast<std::size_t>(columns_),
            static_cast<std::size_t>(columns_)};
  }

 private:
  std::size_t index(int row, int column) const {
    return static_cast<std::size_t>(row - 1) * static_cast<std::size_t>(columns_) +
           static_cast<std::size_t>(column - 1);
  }
  std::vector<float> values_;
  int rows_ = 0;
  int columns_ = 0;
  bool allocated_ = false;
};

}  // namespace tarvello

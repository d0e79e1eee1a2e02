// Where a read takes its records from: a unit's file or a text variable.
#pragma once

#include <string_view>

namespace rec {

class RecordSource {
 public:
  virtual ~RecordSource() = default;
  // Moves to the next record; false when there is none.
  virtual bool next(std::string_view& record) = 0;
};

// A text variable as the source of an internal read: its characters are one record.
class TextSource : public RecordSource {
 public:
  explicit TextSource(std::string_view text) : text_(text) {}
  bool next(std::string_view& record) override {
    if (used_) return false;
    used_ = true;
    record = text_;
    return true;
  }

 private:
  std::string_view text_;
  bool used_ = false;
};

}  // namespace rec

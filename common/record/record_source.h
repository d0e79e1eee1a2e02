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

}  // namespace rec

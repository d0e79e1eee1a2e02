// A failure met inside a transfer, before the unit layer knows how the
// statement handles it: the unit layer returns it as the statement's status
// or turns it into the failure ending naming the unit and its file.
#pragma once

namespace rec {

inline constexpr int kFormatCountError = 68;  // a named repeat count below 1 with items left

struct TransferFailure {
  int number;
};

}  // namespace rec

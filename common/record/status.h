// Statuses of transfers and file operations: 0, the end of a file, and the
// failure numbers with their messages.
#pragma once

#include <string>
#include <string_view>

namespace rec {

// A status check receives 0 on success, kEndOfFile when a read finds no
// further record, or one of the failure numbers below.
inline constexpr int kEndOfFile = -1;

// Failure numbers: the status of a failed operation and, when the program
// does not check it, the exit status of the run.
inline constexpr int kPermissionDenied = 9;
inline constexpr int kEndOfFileDuringRead = 24;  // kEndOfFile met without a status check
inline constexpr int kFileNotFound = 29;
inline constexpr int kOpenFailure = 30;
inline constexpr int kWriteError = 38;
inline constexpr int kReadError = 39;
inline constexpr int kFileNameError = 43;
inline constexpr int kSyntaxError = 59;       // a free-form token that is no valid value
inline constexpr int kConversionError = 64;   // a value that cannot be converted
inline constexpr int kFormatCountError = 68;  // a named repeat count below 1 with items left

// The failure number that a status gives when nothing checks it.
constexpr int failure_number(int status) { return status == kEndOfFile ? kEndOfFileDuringRead : status; }

// A failure met inside a transfer, before the statement knows whether it
// keeps its status or ends the run.
struct TransferFailure {
  int number;
};

// Runs the body of a transfer or file operation, which returns its status:
// a failure thrown from deep inside it comes back as that status too. This
// is the one place where such failures are caught.
template <class Body>
int status_of(Body&& body) {
  try {
    return body();
  } catch (const TransferFailure& failure) {
    return failure.number;
  }
}

// The failure's message text, without its unit and file.
std::string_view failure_message(int number);

// The standard-error line of a failure ending, without its line end.
std::string failure_line(int number, int unit, std::string_view file);

}  // namespace rec

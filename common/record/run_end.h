// How a run ends. Every ending but the normal one is thrown as a RunEnd and
// caught by the process entry, which hands it to Units::end_run: that one
// place writes out and closes every unit, writes the ending's line to
// standard error and gives the exit status.
#pragma once

#include <string>
#include <string_view>

namespace rec {

// Exit status of a stop with or without a text: a stop always means that the
// run did not do its job.
inline constexpr int kStopExitStatus = 1;

struct RunEnd {
  int exit_status;
  bool has_message;
  std::string message;  // one line for standard error, without its line end
};

// A stop without a text.
[[noreturn]] void stop();
// A stop with a text: the text goes to standard error as one line.
[[noreturn]] void stop(std::string_view text);
// A stop with a number: the number goes to standard error and is the exit status.
[[noreturn]] void stop_number(int number);

// Failure numbers of the platform and the record layer, and their messages.
namespace failure {
inline constexpr int kPermission = 9;
inline constexpr int kEndOfFile = 24;
inline constexpr int kFileNotFound = 29;
inline constexpr int kOpenFailure = 30;
inline constexpr int kWriteError = 38;
inline constexpr int kReadError = 39;
inline constexpr int kFileName = 43;
inline constexpr int kSyntax = 59;
inline constexpr int kConversion = 64;
inline constexpr int kFormatCount = 68;
}  // namespace failure

// The failure ending of a transfer or file operation whose status the program
// does not examine: one line naming the failure, the unit and the file.
[[noreturn]] void fail(int number, int unit, std::string_view file);

// The standard-error line of a failure.
std::string failure_line(int number, int unit, std::string_view file);

}  // namespace rec

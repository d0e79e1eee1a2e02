// How a run ends. Every ending but the normal one is thrown as a RunEnd and
// caught by the process entry, which hands it to the unit table's end_run:
// that one place writes out and closes every unit, writes the ending's line
// to standard error and gives the exit status.
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
  bool failure = false; // a failure ending (a failure line on standard error)
};

// A stop without a text.
[[noreturn]] void stop();
// A stop with a text: the text goes to standard error as one line.
[[noreturn]] void stop(std::string_view text);
// A stop with a number: the number goes to standard error and is the exit status.
[[noreturn]] void stop_number(int number);

// The failure ending of a transfer or file operation whose status the program
// does not examine: one line naming the failure, the unit and the file. A
// status of kEndOfFile ends the run with the end-of-file failure.
[[noreturn]] void fail(int status, int unit, std::string_view file);

// The stop text of a run whose memory ran out.
inline constexpr std::string_view kOutOfMemoryText = "Orvistad.exe aborted: out of memory";

}  // namespace rec

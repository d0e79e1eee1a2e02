// Stops and failure endings, thrown to the process entry.
#include "record/run_end.h"

#include "record/status.h"

namespace rec {

void stop() { throw RunEnd{kStopExitStatus, false, {}}; }

void stop(std::string_view text) { throw RunEnd{kStopExitStatus, true, std::string(text)}; }

void stop_number(int number) { throw RunEnd{number, true, std::to_string(number)}; }

void fail(int status, int unit, std::string_view file) {
  const int number = failure_number(status);
  throw RunEnd{number, true, failure_line(number, unit, file), true};
}

}  // namespace rec

// Process entry: takes the working directory, runs ORVISTAD once and ends the
// process through the unit table, which writes out and closes every file
// whatever the ending.
#include <signal.h>
#include <unistd.h>

#include <new>
#include <optional>
#include <string_view>

#include "steps.h"

namespace {

// The ending of a run whose memory ran out, made before the run starts so
// that ending it needs no memory.
const rec::RunEnd kOutOfMemory{rec::kStopExitStatus, true, std::string(rec::kOutOfMemoryText)};

}  // namespace

int main(int argc, char** argv) {
  // A file size limit refuses a write as a full disk does: the write fails,
  // and its failure ends the run, instead of the signal killing it midway.
  ::signal(SIGXFSZ, SIG_IGN);
  // Runs in one working directory take turns: a run started while another is
  // going waits for it to end before it does anything. A directory that may
  // not be read is held through the run report, which the run makes first
  // thing anyway: an empty report is no different from none.
  rec::hold_working_directory(orvistad::RUN_REPORT);
  std::optional<rec::Units> units;
  try {
    units.emplace();
  } catch (const std::bad_alloc&) {
    rec::write_all(STDERR_FILENO, rec::kOutOfMemoryText);
    rec::write_all(STDERR_FILENO, "\r\n");
    return rec::kStopExitStatus;
  }
  try {
    orvistad::RunState rs(*units);
    if (argc > 1) rs.argument = argv[1];
    orvistad::ORVISTAD(rs);
    return units->end_run(nullptr);
  } catch (const rec::RunEnd& ending) {
    return units->end_run(&ending);
  } catch (const std::bad_alloc&) {
    // An allocation that fails anywhere in the run ends it as a stop.
    return units->end_run(&kOutOfMemory);
  }
}

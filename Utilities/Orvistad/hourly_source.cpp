// Hourly source file and debug trace.
#include "steps.h"

namespace orvistad {

void suffix_test(RunState&) {}
void day_origin_step(RunState&) {}
void hourly_source_open(RunState&) {}
void hourly_source_records(RunState&) {}

}  // namespace orvistad

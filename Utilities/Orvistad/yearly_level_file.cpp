// Yearly level file and the year table.
#include "steps.h"

namespace orvistad {

void year_table_setup(RunState&) {}
void create_or_load(RunState&) {}
void rewrite(RunState&) {}

}  // namespace orvistad

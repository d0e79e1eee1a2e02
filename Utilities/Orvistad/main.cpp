// Process entry: runs ORVISTAD once and ends the process through the unit
// table, which writes out and closes every file whatever the ending.
#include <new>

#include "steps.h"

int main(int argc, char** argv) {
  rec::Units units;
  try {
    orvistad::RunState rs(units);
    if (argc > 1) rs.argument = argv[1];
    orvistad::ORVISTAD(rs);
    return units.end_run(nullptr);
  } catch (const rec::RunEnd& ending) {
    return units.end_run(&ending);
  }
}

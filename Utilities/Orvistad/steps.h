// The steps of a run, in the order in which ORVISTAD performs them. Each works
// on the run state and the shared model-area data, returns nothing, and ends
// the run itself (a stop or a failure ending) when it meets a fatal condition.
#pragma once

#include "run_state.h"

namespace orvistad {

// The main routine: the whole run as one sequence.
void ORVISTAD(RunState& rs);

// Run driver and run report.
void run_start(RunState& rs);          // step 2
void debug_trace_open(RunState& rs);   // step 3
void clock_reading(RunState& rs);      // step 4
void year_argument(RunState& rs);      // step 5
void run_end(RunState& rs);            // step 20
// The two halves of an append to the run report.
void open_run_report(RunState& rs, int unit);
void close_run_report(RunState& rs, int unit);
// Writes one record of `literal` followed by the run date stamp (the date of
// the first clock reading, the hour and minute of the latest).
void write_stamped(RunState& rs, int unit, std::string_view literal);

// Configuration and station list.
void configuration_file_name(RunState& rs);  // step 6
void configuration_step(RunState& rs);       // step 7
void allocation_step(RunState& rs);          // step 8
void station_list_step(RunState& rs);        // step 12

// Hourly source file.
void suffix_test(RunState& rs);        // step 9
void day_origin_step(RunState& rs);    // step 10
void hourly_source_open(RunState& rs); // step 14
void hourly_source_records(RunState& rs);  // step 15

// Yearly level file.
void year_table_setup(RunState& rs);   // step 11
void create_or_load(RunState& rs);     // step 13
void rewrite(RunState& rs);            // step 18

// Matching, merge and hour dump.
void matching(RunState& rs);           // step 16
void merge_and_dump(RunState& rs);     // step 17

// Placeholder level files.
void placeholder_level_files(RunState& rs);  // step 19

}  // namespace orvistad

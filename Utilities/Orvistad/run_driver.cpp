// The main routine and the run report.
#include "gregorian_calendar.h"
#include "local_clock.h"
#include "steps.h"

namespace orvistad {

using rec::kConsole;

namespace {
constexpr std::string_view DEBUG_TRACE = "debug\\missing PC data";
}  // namespace

void ORVISTAD(RunState& rs) {
  run_start(rs);
  debug_trace_open(rs);
  clock_reading(rs);
  year_argument(rs);
  configuration_file_name(rs);
  configuration_step(rs);
  allocation_step(rs);
  suffix_test(rs);
  day_origin_step(rs);
  year_table_setup(rs);
  station_list_step(rs);
  create_or_load(rs);
  hourly_source_open(rs);
  hourly_source_records(rs);
  matching(rs);
  merge_and_dump(rs);
  rewrite(rs);
  placeholder_level_files(rs);
  run_end(rs);
}

void write_stamped(RunState& rs, int unit, std::string_view literal) {
  static const rec::Format stamped("(A,I4.4,'-',I2.2,'-',I2.2,'  ',A2,':',A2)");
  rs.io.write(unit, stamped, literal, rs.CURRENT_YEAR, rs.MON, rs.CURRENT_DAY, rs.TIME.sub(1, 2),
              rs.TIME.sub(3, 4));
}

// The run report is only ever appended to: each append opens it at its end
// and writes after its last line. An append goes in whole or not at all, so a
// refused write leaves no part of a line behind. Before it writes, an append
// reads the report from its first line to its end, a text item into LINE
// and the status into IOS per read; the reads are made as one pass over the
// report that the run carries from append to append, so that an append takes
// as long for a long report as for a short one.
void open_run_report(RunState& rs, int unit) {
  static constexpr rec::OpenOptions append{.append = true};
  rs.EXISTS = rec::Units::exists(RUN_REPORT);
  rs.io.open(unit, RUN_REPORT, rec::OpenStatus::Unknown, append);
  if (rs.EXISTS) rs.io.read_list_to_end(rec::checked(unit, rs.IOS), rs.LINE.ref(), rs.report_scan);
}

void close_run_report(RunState& rs, int unit) { rs.io.close(unit); }

void run_start(RunState& rs) {
  static const rec::Format started("('Orvistad.exe - started')");
  rs.io.print(kConsole);
  open_run_report(rs, REPORT_UNIT);
  rs.io.write(REPORT_UNIT, started);
  close_run_report(rs, REPORT_UNIT);
}

void debug_trace_open(RunState& rs) { rs.io.open(DEBUG_UNIT, DEBUG_TRACE, rec::OpenStatus::Unknown); }

void clock_reading(RunState& rs) {
  tarvello::read_local_clock(rs.CDAY, rs.TIME);
  rec::read_internal_list(rs.CDAY.sub(1, 4), rs.CURRENT_YEAR);
  rec::read_internal_list(rs.CDAY.sub(5, 6), rs.MON);
  rec::read_internal_list(rs.CDAY.sub(7, 8), rs.CURRENT_DAY);
  rs.HOURLYSRC_INPUT = false;
}

void year_argument(RunState& rs) {
  static const rec::Format year("(I4)");
  rs.LINE = rs.argument;
  rec::read_internal(rs.LINE.view(), year, rs.YEAR_KEY);
  // The yearly tables hold the hours of the argument year: 8784 in a
  // Gregorian leap year, else 8760.
  const std::int32_t next_year = rs.YEAR_KEY + 1;
  rs.HOUR_COUNT = 24 * (tarvello::JULIAN(next_year, 1, 1) - tarvello::JULIAN(rs.YEAR_KEY, 1, 1));
}

void run_end(RunState& rs) {
  // Everything the run wrote goes out before its normal ending is recorded: a
  // write the platform refuses ends the run here, not after the record.
  rs.io.flush_all();
  open_run_report(rs, REPORT_UNIT);
  write_stamped(rs, REPORT_UNIT, "Orvistad.exe - normal ending ");
  close_run_report(rs, REPORT_UNIT);
  rs.io.print(kConsole);
  write_stamped(rs, kConsole, "Time of run:");
  rs.io.print(kConsole, "Compile date 2024/01/19 - New PC format");
  rs.io.print(kConsole, "Orvistad.exe - normal ending");
}

}  // namespace orvistad

// Hourly source file and debug trace: the column names of the hourly source
// file, its records by hour index into the hourly table, and a trace line in
// the debug trace file for every record read.
#include <algorithm>
#include <new>
#include <span>

#include "gregorian_calendar.h"
#include "steps.h"

namespace orvistad {

using rec::kConsole;

namespace {

constexpr std::string_view SOURCE_SUFFIX = "hourlysrc.txt";
constexpr int SOURCE_FILE_NUMBER = 1;  // the run reads one hourly source file
constexpr int MISSING_SOURCE_STOP = 99999;

std::span<Text<12>> header_slots(RunState& rs) {
  return {rs.PCHDR.data(), static_cast<std::size_t>(MAX_SOURCE_COLUMNS)};
}

// The two hint lines after a read that did not end cleanly.
void print_hints(rec::Units& io, int unit) {
  io.print(unit, "Look for blanks in the header names");
  io.print(unit, "or junk in the data");
}

// A record that could not be read: reported on the console and in the run
// report, and its hour receives missing values.
void garbage_record(RunState& rs) {
  static constexpr std::string_view garbage_src = "Garbage in the hourlysrc.txt file";
  static constexpr std::string_view garbage_c = "Garbage in the hourlyc.txt file";
  static constexpr std::string_view check = "Check for blanks in the location names";
  const std::string_view garbage = rs.HOURLYSRC_INPUT ? garbage_src : garbage_c;

  open_run_report(rs, GARBAGE_REPORT_UNIT);
  rs.io.print(GARBAGE_REPORT_UNIT, garbage);
  if (rs.HOURLYSRC_INPUT) {
    rs.io.print(kConsole, garbage);
    rs.io.print(kConsole, check);
  } else {
    rs.io.print(kConsole, check);
    rs.io.print(kConsole, garbage);
  }
  write_stamped(rs, GARBAGE_REPORT_UNIT, "Orvistad.exe - crashed out ending ");
  close_run_report(rs, GARBAGE_REPORT_UNIT);
  std::fill(rs.VALUE.begin(), rs.VALUE.end(), MISSING_VALUE);
}

}  // namespace

void suffix_test(RunState& rs) {
  // Only the wording of the garbage messages depends on the name.
  const std::string_view name = rs.INPUTFILENAME.trimmed();
  if (name.size() >= SOURCE_SUFFIX.size() &&
      name.substr(name.size() - SOURCE_SUFFIX.size()) == SOURCE_SUFFIX) {
    rs.HOURLYSRC_INPUT = true;
  }
}

void day_origin_step(RunState& rs) {
  rs.JDAY_START = tarvello::JULIAN(rs.YEAR_KEY, 1, 1);
  rs.io.print(kConsole, "Gregrian day 1 = ", rs.JDAY_START);
}

void hourly_source_open(RunState& rs) {
  static const rec::Format header_line("(A2048)");
  static const rec::Format slots("(9A12)");
  rec::Units& io = rs.io;

  io.print(kConsole, "Input file: ", rs.INPUTFILENAME.sub(1, 60));
  rs.EXISTS = rec::Units::exists(rs.INPUTFILENAME.view());
  if (!rs.EXISTS) {
    io.print(kConsole, " input file #", SOURCE_FILE_NUMBER, " not found");
    rec::stop_number(MISSING_SOURCE_STOP);
  }
  // Unit 99 still holds the station list; the open closes it first.
  io.open(rec::checked(CONFIG_UNIT, rs.IOS), rs.INPUTFILENAME.view(), rec::OpenStatus::Unknown, READ_ONLY);
  if (rs.IOS != 0) {
    io.print(kConsole, "Problems opening ", rs.INPUTFILENAME);
    rec::stop();
  }
  io.print(kConsole, "Opened :", rs.INPUTFILENAME.sub(1, 60));
  io.print(DEBUG_UNIT, "opened ", SOURCE_FILE_NUMBER, rs.INPUTFILENAME.sub(1, 60));

  // The header line names the value columns in the order of the values of
  // every record; slots that it does not fill stay blank.
  const std::span<Text<12>> names = header_slots(rs);
  for (Text<12>& name : names) name = "";
  io.read(CONFIG_UNIT, header_line, rs.LINE);
  rec::read_internal_list(rs.LINE.view(), names);
  io.write(DEBUG_UNIT, slots, names);
  io.print(kConsole, "Entries in the hourlys header");
  io.write(kConsole, slots, names);

  // A blank slot between names is not counted, yet it still stands for the
  // value at its place: the count lines show the slot at the count reached.
  rs.HEADER_COLUMN_COUNT = 0;
  for (const Text<12>& name : names) {
    if (name.trimmed().empty()) continue;
    ++rs.HEADER_COLUMN_COUNT;
    io.print(kConsole, rs.HEADER_COLUMN_COUNT,
             rs.PCHDR[static_cast<std::size_t>(rs.HEADER_COLUMN_COUNT - 1)]);
  }
  io.print(kConsole, "found ", rs.HEADER_COLUMN_COUNT, " data columns");
  // Without any name there is no last column to show: blanks stand for it.
  const Text<12> last = rs.HEADER_COLUMN_COUNT > 0
                            ? rs.PCHDR[static_cast<std::size_t>(rs.HEADER_COLUMN_COUNT - 1)]
                            : Text<12>("");
  io.print(kConsole, "last PChdr = ", last);
  rs.IOS = 0;

  try {
    rs.PCLEVEL.allocate(YEAR_TABLE_ROWS, rs.HEADER_COLUMN_COUNT, MISSING_VALUE);
    rs.VALUE.assign(static_cast<std::size_t>(rs.HEADER_COLUMN_COUNT), MISSING_VALUE);
  } catch (const std::bad_alloc&) {
    rec::stop("**Allocation failed for PClevel**");
  }
}

void hourly_source_records(RunState& rs) {
  static const rec::Format trace("(2A12,3F8.3)");
  rec::Units& io = rs.io;
  const int columns = rs.HEADER_COLUMN_COUNT;
  const std::span<float> values(rs.VALUE.data(), rs.VALUE.size());

  // Reading ends only at the end of the file: a record that cannot be read
  // is reported and its hour marked missing, and the next record is read.
  for (;;) {
    io.read_list(rec::checked(CONFIG_UNIT, rs.IOS), rs.STUFF1, rs.STUFF2, values);
    const std::int32_t status = rs.IOS;

    // The trace shows the first value and the last two (the first alone
    // when there is one column, the date and time alone when there is none).
    if (columns == 0) {
      io.write(DEBUG_UNIT, trace, rs.STUFF1.first(12), rs.STUFF2.first(12));
    } else {
      const std::size_t last = static_cast<std::size_t>(columns - 1);
      const std::size_t before_last = columns >= 2 ? last - 1 : 0;
      io.write(DEBUG_UNIT, trace, rs.STUFF1.first(12), rs.STUFF2.first(12), rs.VALUE[0],
               rs.VALUE[before_last], rs.VALUE[last]);
    }
    io.print(DEBUG_UNIT, "ios= ", status);
    if (status != 0) {
      print_hints(io, DEBUG_UNIT);
      print_hints(io, kConsole);
    }

    // Date and hour by position, yyyy-mm-dd and hh: a field without a number
    // keeps the previous record's value.
    rec::read_internal_list(rs.STUFF1.sub(1, 4), rs.YYYY);
    rec::read_internal_list(rs.STUFF1.sub(6, 7), rs.RECORD_MONTH);
    rec::read_internal_list(rs.STUFF1.sub(9, 10), rs.RECORD_DAY);
    rec::read_internal_list(rs.STUFF2.sub(1, 2), rs.RECORD_HOUR);

    if (status == rec::kEndOfFile) break;
    if (status != 0) garbage_record(rs);

    // 32-bit arithmetic that wraps, as the calendar's: a date far outside
    // the year only gives an hour index that is passed over.
    const std::uint32_t days = static_cast<std::uint32_t>(tarvello::JULIAN(rs.YYYY, rs.RECORD_MONTH, rs.RECORD_DAY)) -
                               static_cast<std::uint32_t>(rs.JDAY_START);
    rs.HOUR_INDEX = static_cast<std::int32_t>(days * 24u + static_cast<std::uint32_t>(rs.RECORD_HOUR));
    // Rows hold 01:00 of 1 January onwards; a later record of an hour
    // replaces an earlier one.
    if (rs.HOUR_INDEX >= 1 && rs.HOUR_INDEX <= YEAR_TABLE_ROWS) {
      std::copy(rs.VALUE.begin(), rs.VALUE.end(), rs.PCLEVEL.row(rs.HOUR_INDEX).begin());
    }
  }
}

}  // namespace orvistad

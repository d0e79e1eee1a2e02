// The run-level state of one Orvistad run: everything a step leaves for the
// later steps, apart from the shared model-area data (area_tarvello).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fixed_text.h"
#include "real_table.h"
#include "record/statements.h"

namespace orvistad {

using tarvello::RealTable;
using tarvello::Text;

inline constexpr float MISSING_VALUE = -999.0f;
inline constexpr int YEAR_TABLE_ROWS = 8784;  // rows of the year and hourly tables
inline constexpr int MAX_LOCATIONS = 999;     // size of the key and pairing tables
inline constexpr int MAX_SOURCE_COLUMNS = 99; // header slots that take part

// The run report, which every run appends to first.
inline constexpr const char* RUN_REPORT = "runReport.txt";

// How the steps that only read a file open it.
inline constexpr rec::OpenOptions READ_ONLY{.read_only = true};

// Units of the run.
inline constexpr int REPORT_UNIT = 99;         // run report: started and normal-ending lines
inline constexpr int GARBAGE_REPORT_UNIT = 98; // run report: garbage pairs
inline constexpr int CONFIG_UNIT = 99;         // configuration file, station list, hourly source file
inline constexpr int DEBUG_UNIT = 777;         // debug trace file
inline constexpr int LEVEL_UNIT = 999;         // new yearly level file
inline constexpr int LEVEL_LOAD_UNIT = 100;    // existing yearly level file
inline constexpr int DUMP_UNIT = 600;          // hour dump, fort.600
inline constexpr int TB0_UNIT = 99;            // placeholder tb0 files
inline constexpr int TB0_FILE_INDEX = 99;

struct RunState {
  explicit RunState(rec::Units& units) : io(units) {}

  rec::Units& io;
  std::string argument;  // the first command-line argument (empty when none)

  // Run driver.
  Text<2048> LINE;
  std::int32_t IOS = 0;
  bool EXISTS = false;
  Text<8> CDAY;
  Text<10> TIME;
  std::int32_t CURRENT_YEAR = 0;
  std::int32_t MON = 0;
  std::int32_t CURRENT_DAY = 0;
  std::int32_t HOUR_COUNT = 0;
  std::int32_t YEAR_KEY = 0;
  bool HOURLYSRC_INPUT = false;
  // The reads of the run report, carried from one append to the next.
  rec::FileScan report_scan;

  // Configuration.
  Text<128> INPUTFILENAME;
  Text<128> OUTPUTFILENAME;
  Text<12> JUNK;
  std::int32_t STATION_COUNT = 0;
  std::vector<Text<12>> PCKEY = std::vector<Text<12>>(MAX_LOCATIONS);
  std::vector<float> OFFSET;

  // Yearly level file: the year table, (hour index, location).
  RealTable LEVEL;

  // Hourly source file.
  std::int32_t JDAY_START = 0;
  std::vector<Text<12>> PCHDR = std::vector<Text<12>>(MAX_LOCATIONS);
  std::int32_t HEADER_COLUMN_COUNT = 0;
  Text<19> STUFF1;
  Text<19> STUFF2;
  std::vector<float> VALUE;
  std::int32_t YYYY = 0;
  std::int32_t RECORD_MONTH = 0;
  std::int32_t RECORD_DAY = 0;
  std::int32_t RECORD_HOUR = 0;
  std::int32_t HOUR_INDEX = 0;
  RealTable PCLEVEL;  // the hourly table, (hour index, source column)

  // Matching: the source column of each configuration entry, 0 for none.
  std::vector<std::int32_t> JPCKEY = std::vector<std::int32_t>(MAX_LOCATIONS);
};

}  // namespace orvistad

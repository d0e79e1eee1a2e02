// The suite's shared model-area data: one set of variables that lives for the
// whole process and that the library routines and the program read and write
// directly. Every variable starts in its initial state: arrays not allocated
// (empty), texts all zero bytes, numbers 0, the logical false.
#pragma once

#include <cstdint>
#include <vector>

#include "fixed_text.h"
#include "real_table.h"

namespace area_tarvello {

using tarvello::Text;

// File-name table, entries 1 to 999 (FLN[k - 1] is entry k).
inline std::vector<Text<256>> FLN;

// Per location (column), entries 1 to n.
inline std::vector<Text<12>> GNAME;
inline std::vector<Text<10>> COLUMN_UNITS;
inline std::vector<Text<10>> COLUMN_TYPE;
inline std::vector<float> XSTA;
inline std::vector<float> YSTA;
inline std::vector<float> XSTA1;
inline std::vector<float> YSTA1;

// The tb0 data block: row r is time step r of the file being written.
inline tarvello::RealTable OUTARRAY;

// tb0 header settings.
inline Text<10> COORDSYS_TEMP;
inline Text<10> ELLIPSOID;
inline Text<40> WRITTEN_BY;
inline Text<40> SERIES_NAME;
inline Text<30> SOURCE_FILE_NAME;
inline float NO_DATA_VALUE = 0.0f;
inline float UNIT_CONVERSION = 0.0f;
inline std::int32_t DELTA_T = 0;
inline std::int32_t UTM_ZONE = 0;
inline std::int32_t START_YEAR = 0;
inline std::int32_t START_MONTH = 0;
inline std::int32_t START_DAY = 0;
inline std::int32_t START_HOUR = 0;
inline std::int32_t TB0_COLUMN_COUNT = 0;
inline std::int32_t TB0_ROW_COUNT = 0;
inline std::int32_t HAS_SECOND_LOCATION = 0;  // a logical: the lowest bit is its truth value

inline bool has_second_location() { return (HAS_SECOND_LOCATION & 1) != 0; }

// Entry k of the file-name table, counted from 1.
inline Text<256>& fln(int k) { return FLN[static_cast<std::size_t>(k - 1)]; }

}  // namespace area_tarvello

// The suite's writer of EnSim tb0 time-series files.
//
// One file takes two calls on one unit: header mode (WRITE_MODE 1) opens
// FLN(FILE_INDEX) on the unit and writes the header through ":endHeader";
// data mode (any other WRITE_MODE) writes the data lines of OUTARRAY below
// it. Everything but the five integers comes from the shared model-area data.
// The writer never closes the unit: the caller does.
#pragma once

#include <cstdint>

#include "record/statements.h"

namespace tarvello {

void WRITE_TB0(rec::Units& io, std::int32_t UNIT_NUMBER, std::int32_t FILE_INDEX, std::int32_t WRITE_MODE,
               std::int32_t COLUMN_COUNT, std::int32_t DATA_FORMAT_CODE);

}  // namespace tarvello

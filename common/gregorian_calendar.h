// Calendar conversion between Gregorian dates and Julian day numbers, by the
// integer formulas of Fliegel and Van Flandern in 32-bit arithmetic with
// divisions truncating toward zero. Nothing is checked: a day or month out of
// its usual range rolls over into a neighbouring month or year.
#pragma once

#include <cstdint>

namespace tarvello {

// The Julian day number of a date (1 January 2000 is 2451545).
std::int32_t JULIAN(const std::int32_t& YEAR, const std::int32_t& MONTH, const std::int32_t& DAY);

// The date of a Julian day number. JDAY is read before any output is written,
// so the same variable may be passed as JDAY and as an output.
void GREGORIAN(const std::int32_t& JDAY, std::int32_t& YEAR, std::int32_t& MONTH, std::int32_t& DAY);

}  // namespace tarvello

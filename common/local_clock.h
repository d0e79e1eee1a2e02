// The local clock, as the suite's time stamps take it: the date as CCYYMMDD
// and the time as hhmmss.sss.
#pragma once

#include "fixed_text.h"

namespace tarvello {

void read_local_clock(Text<8>& cday, Text<10>& time);

}  // namespace tarvello

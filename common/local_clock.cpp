#include "local_clock.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace tarvello {

void read_local_clock(Text<8>& cday, Text<10>& time) {
  using namespace std::chrono;
  auto now = system_clock::now();
  std::time_t seconds = system_clock::to_time_t(now);
  long millis = static_cast<long>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  if (millis < 0) millis += 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  char date[48];
  char clock[48];
  std::snprintf(date, sizeof date, "%04d%02d%02d", (local.tm_year + 1900) % 10000, local.tm_mon + 1,
                local.tm_mday);
  std::snprintf(clock, sizeof clock, "%02d%02d%02d.%03ld", local.tm_hour, local.tm_min, local.tm_sec, millis);
  cday = date;
  time = clock;
}

}  // namespace tarvello

#include "gregorian_calendar.h"

namespace tarvello {

// The arithmetic is 32-bit with wrap-around, as the formulas are defined in
// it; the program's dates lie far inside the range where nothing wraps.
namespace {
inline std::int32_t mul(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}
inline std::int32_t add(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
inline std::int32_t sub(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}
// C++ division truncates toward zero, as the formulas want.
inline std::int32_t quot(std::int32_t a, std::int32_t b) { return (a == INT32_MIN && b == -1) ? a : a / b; }
}  // namespace

std::int32_t JULIAN(const std::int32_t& YEAR, const std::int32_t& MONTH, const std::int32_t& DAY) {
  const std::int32_t year = YEAR, month = MONTH, day = DAY;
  const std::int32_t t = quot(sub(month, 14), 12);  // January and February count with the year before
  const std::int32_t a = quot(mul(1461, add(add(year, 4800), t)), 4);
  const std::int32_t b = quot(mul(367, sub(sub(month, 2), mul(12, t))), 12);
  const std::int32_t c = quot(mul(3, quot(add(add(year, 4900), t), 100)), 4);
  return sub(add(add(sub(day, 32075), a), b), c);
}

void GREGORIAN(const std::int32_t& JDAY, std::int32_t& YEAR, std::int32_t& MONTH, std::int32_t& DAY) {
  std::int32_t l = add(JDAY, 68569);
  const std::int32_t n = quot(mul(4, l), 146097);
  l = sub(l, quot(add(mul(146097, n), 3), 4));
  std::int32_t i = quot(mul(4000, add(l, 1)), 1461001);
  l = add(sub(l, quot(mul(1461, i), 4)), 31);
  std::int32_t j = quot(mul(80, l), 2447);
  const std::int32_t k = sub(l, quot(mul(2447, j), 80));
  l = quot(j, 11);
  j = sub(add(j, 2), mul(12, l));
  i = add(add(mul(100, sub(n, 49)), i), l);
  YEAR = i;
  MONTH = j;
  DAY = k;
}

}  // namespace tarvello

#include "write_tb0.h"

namespace tarvello {

void WRITE_TB0(rec::Units&, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t) {}

}  // namespace tarvello

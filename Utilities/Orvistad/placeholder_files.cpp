// Placeholder level files: three tb0 files over the configured locations that
// hold nothing but missing values, written through the suite's tb0 writer.
#include <array>
#include <string_view>

#include "area_tarvello.h"
#include "steps.h"
#include "write_tb0.h"

namespace orvistad {

namespace at = area_tarvello;
using rec::kConsole;

namespace {

constexpr int PLACEHOLDER_ROWS = 2160;  // rows of OUTARRAY that the longest file writes
constexpr std::int32_t HEADER_MODE = 1;
constexpr std::int32_t DATA_MODE = 0;

struct PlaceholderFile {
  std::string_view name;
  std::int32_t rows;
  std::int32_t format_code;
};

constexpr std::array<PlaceholderFile, 3> PLACEHOLDER_FILES = {{
    {"level\\regl_lvl.tb0", 48, 13},
    {"level\\glb_lvl.tb0", 192, 14},
    {"level\\climate_lvl.tb0", 2160, 14},
}};

}  // namespace

void placeholder_level_files(RunState& rs) {
  const std::int32_t n = rs.STATION_COUNT;
  at::TB0_COLUMN_COUNT = n;
  at::ELLIPSOID = "NAD83";
  for (std::int32_t i = 1; i <= n; ++i) {
    const std::size_t k = static_cast<std::size_t>(i - 1);
    at::COLUMN_UNITS[k] = "masl";
    at::COLUMN_TYPE[k] = "float";
  }
  at::COORDSYS_TEMP = "LatLong";
  at::DELTA_T = 1;
  at::UNIT_CONVERSION = 1.0f;
  at::NO_DATA_VALUE = MISSING_VALUE;
  at::WRITTEN_BY = "Orvistad.exe";
  at::fln(TB0_FILE_INDEX) = PLACEHOLDER_FILES[0].name;
  for (int r = 1; r <= PLACEHOLDER_ROWS; ++r)
    for (std::int32_t i = 1; i <= n; ++i) at::OUTARRAY(r, i) = MISSING_VALUE;

  for (std::size_t f = 0; f < PLACEHOLDER_FILES.size(); ++f) {
    const PlaceholderFile& file = PLACEHOLDER_FILES[f];
    at::TB0_ROW_COUNT = file.rows;
    if (f > 0) at::fln(TB0_FILE_INDEX) = file.name;
    // The header call's open also closes the hourly source file, which is
    // still connected to the same unit when the first file is opened.
    tarvello::WRITE_TB0(rs.io, TB0_UNIT, TB0_FILE_INDEX, HEADER_MODE, n, file.format_code);
    tarvello::WRITE_TB0(rs.io, TB0_UNIT, TB0_FILE_INDEX, DATA_MODE, n, file.format_code);
    rs.io.close(TB0_UNIT);
    rs.io.print(kConsole, "Closed ", at::fln(TB0_FILE_INDEX).sub(1, 72));
  }
}

}  // namespace orvistad

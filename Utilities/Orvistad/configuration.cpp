// Configuration file and station list: what a run is configured with, and the
// storage of the configured locations in the shared model-area data.
#include <algorithm>
#include <new>

#include "area_tarvello.h"
#include "steps.h"

namespace orvistad {

namespace at = area_tarvello;
using rec::kConsole;

namespace {
constexpr std::string_view STATION_LIST = "level_station_list.xyz";
constexpr int CONFIG_NAME_INDEX = 900;
}  // namespace

void configuration_file_name(RunState& rs) {
  static const rec::Format name("(I4,A13)");
  try {
    at::FLN.resize(999);
  } catch (const std::bad_alloc&) {
    rec::stop("WarninSta: error with allocation of fln ");
  }
  rec::write_internal(at::fln(CONFIG_NAME_INDEX).ref(), name, rs.YEAR_KEY, "_Orvistad.cfg");
  rs.io.print(kConsole, at::fln(CONFIG_NAME_INDEX).sub(1, 17));
}

void configuration_step(RunState& rs) {
  static const rec::Format file_line("(A12,A60)");
  rec::Units& io = rs.io;
  // A configuration that cannot be opened ends the run with the open's failure.
  io.open(CONFIG_UNIT, at::fln(CONFIG_NAME_INDEX).view(), rec::OpenStatus::Old, READ_ONLY);
  io.read_list(CONFIG_UNIT);
  io.read(CONFIG_UNIT, file_line, rs.JUNK, rs.INPUTFILENAME);
  io.write(kConsole, file_line, rs.JUNK, rs.INPUTFILENAME);
  io.read(CONFIG_UNIT, file_line, rs.JUNK, rs.OUTPUTFILENAME);
  io.write(kConsole, file_line, rs.JUNK, rs.OUTPUTFILENAME);
  io.read_list(CONFIG_UNIT, rs.JUNK, rs.STATION_COUNT);
  if (rs.STATION_COUNT > MAX_LOCATIONS) {
    // The key and pairing tables hold 999 locations.
    io.print(kConsole, rs.JUNK.sub(1, 8), rs.STATION_COUNT);
    io.print(kConsole, "Error reading data the Orvistad.cfg file");
    rec::stop("Orvistad.exe aborted: more than 999 locations");
  }
  const int n = rs.STATION_COUNT;
  rs.OFFSET.assign(static_cast<std::size_t>(std::max(n, 0)), 0.0f);
  io.print(kConsole, rs.JUNK.sub(1, 8), rs.STATION_COUNT);
  io.read_list(CONFIG_UNIT, rs.JUNK);
  for (int i = 1; i <= n; ++i) {
    Text<12>& key = rs.PCKEY[static_cast<std::size_t>(i - 1)];
    float& offset = rs.OFFSET[static_cast<std::size_t>(i - 1)];
    offset = -1.0E-32f;
    io.read_list(rec::checked(CONFIG_UNIT, rs.IOS), key, offset);
    io.print(kConsole, key, offset);
    if (rs.IOS != 0) {
      io.print(kConsole, "Error reading data the Orvistad.cfg file");
      io.print(kConsole, "Orvistad.exe aborted @ 102");
      rec::stop();
    }
  }
  io.close(CONFIG_UNIT);
  io.print(kConsole);
}

void allocation_step(RunState& rs) {
  const std::size_t m = static_cast<std::size_t>(std::max(rs.STATION_COUNT, 0));
  try {
    at::XSTA.resize(m);
    at::YSTA.resize(m);
    at::GNAME.resize(m);
  } catch (const std::bad_alloc&) {
    rec::stop("WarninSta: error with allocation in Vasquel @ 239");
  }
  try {
    at::COLUMN_UNITS.resize(m);
    at::COLUMN_TYPE.resize(m);
  } catch (const std::bad_alloc&) {
    rec::stop("WarninSta: error with allocation of coeff`s arrays in Vasquel");
  }
  try {
    at::OUTARRAY.allocate(YEAR_TABLE_ROWS, static_cast<int>(m));
  } catch (const std::bad_alloc&) {
    rec::stop("WarninSta: error with allocation of arrays in Vasquel ");
  }
}

void station_list_step(RunState& rs) {
  const int n = rs.STATION_COUNT;
  if (n <= 0) {
    // Nothing is read, so a missing station list has no effect.
    rs.io.open(rec::checked(CONFIG_UNIT, rs.IOS), STATION_LIST, rec::OpenStatus::Old, READ_ONLY);
    return;
  }
  rs.io.open(CONFIG_UNIT, STATION_LIST, rec::OpenStatus::Old, READ_ONLY);
  for (int i = 1; i <= n; ++i) {
    const std::size_t k = static_cast<std::size_t>(i - 1);
    rs.io.read_list(CONFIG_UNIT, at::XSTA[k], at::YSTA[k], at::GNAME[k]);
  }
}

}  // namespace orvistad

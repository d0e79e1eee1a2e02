// Location matching, merge and hour dump: each configured key is paired with
// the source column of the same name, missing year-table values are filled
// from it, and every merged row goes to the hour dump.
#include <algorithm>
#include <utility>
#include <vector>

#include "steps.h"

namespace orvistad {

using rec::kConsole;

namespace {

// The largest source value that the merge takes: anything from here up
// (infinity included) would not keep its separating blank in an F12.3 field
// of the yearly level file, which the next run could then not read back.
constexpr float SOURCE_VALUE_LIMIT = 9999999.9995f;

bool usable_source_value(float v) { return (v > 0.0f) & (v < SOURCE_VALUE_LIMIT); }

}  // namespace

void matching(RunState& rs) {
  rec::Units& io = rs.io;
  io.print(kConsole, "Found these locations to match with the cfg file for this domain");
  io.print(kConsole, "    PClocation   entry# gname       entry");
  std::fill(rs.JPCKEY.begin(), rs.JPCKEY.end(), 0);

  // The source columns ordered by name, and by column number among equal
  // names, so that each key finds its columns without a pass over all of
  // them. Names are compared as all 12 bytes: case counts.
  std::vector<std::int32_t> by_name(static_cast<std::size_t>(rs.HEADER_COLUMN_COUNT));
  for (std::size_t k = 0; k < by_name.size(); ++k) by_name[k] = static_cast<std::int32_t>(k + 1);
  auto name_of = [&rs](std::int32_t c) { return rs.PCHDR[static_cast<std::size_t>(c - 1)].view(); };
  std::stable_sort(by_name.begin(), by_name.end(),
                   [&](std::int32_t a, std::int32_t b) { return name_of(a) < name_of(b); });

  for (std::int32_t i = 1; i <= rs.STATION_COUNT; ++i) {
    const Text<12>& key = rs.PCKEY[static_cast<std::size_t>(i - 1)];
    auto first = std::lower_bound(by_name.begin(), by_name.end(), key.view(),
                                  [&](std::int32_t c, std::string_view k) { return name_of(c) < k; });
    // Every matching column prints its line; the last one stays paired.
    for (auto at = first; at != by_name.end() && name_of(*at) == key.view(); ++at) {
      std::int32_t c = *at;
      io.print(kConsole, i, c, rs.PCHDR[static_cast<std::size_t>(c - 1)], key);
      rs.JPCKEY[static_cast<std::size_t>(i - 1)] = c;
    }
  }
}

void merge_and_dump(RunState& rs) {
  static const rec::Format dump("(I10,<n>F10.3)");
  // A count of 0 or below gives records of the hour index alone.
  const std::int32_t locations = std::max(rs.STATION_COUNT, 0);
  const rec::BoundFormat record = dump.with("n", locations);
  const std::size_t n = static_cast<std::size_t>(locations);

  // The locations that are paired with a source column, and that column
  // counted from 0: only these take part in the merge.
  struct Pair {
    std::size_t location, column;
  };
  std::vector<Pair> pairs;
  for (std::size_t i = 0; i < n; ++i) {
    const std::int32_t c = rs.JPCKEY[i];
    if (c > 0) pairs.push_back({i, static_cast<std::size_t>(c - 1)});
  }

  // Only a missing (negative) year value is filled, and only from a source
  // value that is present; each row is dumped as soon as it is merged.
  for (std::int32_t h = 1; h <= rs.HOUR_COUNT; ++h) {
    const std::span<float> row = rs.LEVEL.row(h);
    const std::span<const float> source = std::as_const(rs.PCLEVEL).row(h);
    for (const Pair& p : pairs) {
      // Chosen without a branch: whether a value is filled follows no pattern.
      const float v = source[p.column];
      const float stored = row[p.location];
      row[p.location] = (usable_source_value(v) & (stored < 0.0f)) ? v : stored;
    }
    rs.io.write(DUMP_UNIT, record, h, std::span<const float>(row.data(), n));
  }
}

}  // namespace orvistad

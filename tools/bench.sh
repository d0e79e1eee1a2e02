#!/usr/bin/env bash
# Benchmark of a whole orvistad run (a benchmark, not a test: CI never runs it).
#
#   bash tools/bench.sh [--runs N] [--sizes "small medium full"] [--scratch DIR]
#       Builds in release mode (cmake --preset release, build/release), generates
#       working directories of 10, 100 and 999 locations with 99 source columns
#       for 2024, and runs `orvistad 2024` N times (default 5) per size on the
#       load path (an existing yearly level file) and the creation path (none),
#       each run on a fresh copy. Prints a Markdown table on standard output:
#       median wall, user and system time, peak RSS, MB read and written per
#       second, and the I/O floor (reading the same inputs and writing as many
#       bytes as the run wrote, timed the same way) with the ratio run/floor.
#       The build's and the progress messages go to standard error.
#
#   bash tools/bench.sh --checksum [--scratch DIR]
#       Runs the full size once per path with the clock frozen at
#       2024-03-03 14:05:00 UTC and prints the sha256 of every output file, of
#       the console output and the exit status: two checkouts that print the
#       same lines produce the same bytes.
#
# The scratch directory (default: a new one under ${TMPDIR:-/tmp}, removed at
# the end) needs about 0.5 GB. The whole benchmark takes a few minutes at most.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

runs=5
sizes="small medium full"
mode=table
scratch=""
while [ $# -gt 0 ]; do
  case "$1" in
    --checksum) mode=checksum ;;
    --runs) runs=${2:?"missing value after --runs"}; shift ;;
    --sizes) sizes=${2:?"missing value after --sizes"}; shift ;;
    --scratch) scratch=${2:?"missing value after --scratch"}; shift ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "bench.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
  shift
done
case "$runs" in ''|*[!0-9]*|0) echo "bench.sh: --runs wants a count of 1 or more" >&2; exit 2 ;; esac

locations_of() {
  case "$1" in
    small) echo 10 ;;
    medium) echo 100 ;;
    full) echo 999 ;;
    *) echo "bench.sh: unknown size $1 (small, medium, full)" >&2; exit 2 ;;
  esac
}

for size in $sizes; do locations_of "$size" >/dev/null; done

. tools/setup.sh
orvistad_need_packages g++ cmake ninja-build libgtest-dev libbenchmark-dev faketime

echo "Building in release mode (build/release)" >&2
cmake --preset release >&2
cmake --build --preset release --target orvistad generate_workdir io_floor timed_run >&2
bin=$root/build/release
orvistad=$bin/Utilities/Orvistad/orvistad
generate=$bin/bench/generate_workdir
io_floor=$bin/bench/io_floor
timed_run=$bin/bench/timed_run

if [ -n "$scratch" ]; then
  mkdir -p "$scratch"
  scratch=$(cd "$scratch" && pwd)
else
  scratch=$(mktemp -d "${TMPDIR:-/tmp}/orvistad-bench-XXXXXX")
  trap 'rm -rf -- "$scratch"' EXIT
fi

year=2024
columns=99
garbage=3
seed=20240119
# The files that every working directory has as inputs; everything else in a
# run's directory afterwards (the yearly level file included) is output.
fixed_inputs=("${year}_Orvistad.cfg" level_station_list.xyz hourlysrc.txt)

# generate SIZE PATH: generates the working directory for SIZE on the load or
# creation path into $gen.
generate() {
  gen=$scratch/gen-$1-$2
  local extra=()
  [ "$2" = load ] && extra=(--existing-yearly)
  rm -rf -- "$gen"
  "$generate" --dir "$gen" --locations "$(locations_of "$1")" --columns "$columns" --year "$year" \
    --garbage "$garbage" --seed "$seed" "${extra[@]}"
}

# fresh_copy GEN: a fresh copy of a generated directory at $scratch/run.
fresh_copy() {
  rm -rf -- "$scratch/run"
  cp -a "$1" "$scratch/run"
  sync
}

# output_files DIR: the relative names of the run's output files, sorted.
output_files() {
  local prune=()
  local name
  for name in "${fixed_inputs[@]}"; do prune+=(! -path "./$name"); done
  (cd "$1" && find . -type f "${prune[@]}" | LC_ALL=C sort)
}

# median: the median of the numbers on standard input (mean of the middle two
# for an even count).
median() {
  LC_ALL=C sort -g | awk '{ v[NR] = $1 } END {
    if (NR == 0) { print "nan"; exit }
    if (NR % 2) printf "%.6f\n", v[(NR + 1) / 2]; else printf "%.6f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

if [ "$mode" = checksum ]; then
  for path in load create; do
    echo "Generating the full size, $path path" >&2
    generate full "$path"
    fresh_copy "$gen"
    status=0
    (cd "$scratch/run" && env -u FORT600 TZ=UTC faketime -f "2024-03-03 14:05:00" "$orvistad" "$year" \
      >"$scratch/stdout" 2>"$scratch/stderr" </dev/null) || status=$?
    echo "## full size, $path path: exit status $status"
    echo '```'
    (cd "$scratch/run" && output_files . | tr '\n' '\0' | xargs -0 -r sha256sum)
    echo "$(sha256sum <"$scratch/stdout" | cut -d' ' -f1)  (standard output)"
    echo "$(sha256sum <"$scratch/stderr" | cut -d' ' -f1)  (standard error)"
    echo '```'
    rm -rf -- "$gen" "$scratch/run"
  done
  exit 0
fi

# time_runs GEN COMMAND...: runs COMMAND $runs times, each in a fresh copy of
# GEN at $scratch/run; appends the timed_run lines to $scratch/times and
# leaves the last run's directory in place.
time_runs() {
  local gen=$1
  shift
  : >"$scratch/times"
  local r
  for ((r = 1; r <= runs; r++)); do
    fresh_copy "$gen"
    "$timed_run" --chdir "$scratch/run" --stdout "$scratch/stdout" --stderr "$scratch/stderr" -- "$@" \
      >>"$scratch/times"
  done
}

# time_floor GEN WRITE_SIZES...: the I/O floor $runs times: reads every file of
# GEN, writes one file per size; appends to $scratch/floor_times.
time_floor() {
  local gen=$1
  shift
  local writes=()
  local size
  for size in "$@"; do writes+=(--write "$size"); done
  local inputs=()
  while IFS= read -r -d '' name; do inputs+=("$name"); done < <(find "$gen" -type f -print0 | LC_ALL=C sort -z)
  : >"$scratch/floor_times"
  local r
  for ((r = 1; r <= runs; r++)); do
    rm -rf -- "$scratch/floor"
    mkdir "$scratch/floor"
    sync
    "$timed_run" --stdout /dev/null --stderr "$scratch/floor_stderr" -- \
      "$io_floor" --dir "$scratch/floor" "${writes[@]}" "${inputs[@]}" >>"$scratch/floor_times"
  done
  rm -rf -- "$scratch/floor"
}

bytes_of() { find "$@" -type f -printf '%s\n' | awk '{ s += $1 } END { printf "%d\n", s }'; }

rows=()
notes=()
for size in $sizes; do
  n=$(locations_of "$size")
  for path in load create; do
    echo "Running $size ($n locations), $path path, $runs runs" >&2
    generate "$size" "$path"
    read_bytes=$(bytes_of "$gen")
    time_runs "$gen" "$orvistad" "$year"
    mapfile -t outputs < <(output_files "$scratch/run")
    sizes_written=()
    for name in "${outputs[@]}"; do sizes_written+=("$(stat -c %s "$scratch/run/$name")"); done
    written_bytes=$(printf '%s\n' 0 "${sizes_written[@]}" | awk '{ s += $1 } END { printf "%d\n", s }')
    statuses=$(awk '{ print $5 }' "$scratch/times" | LC_ALL=C sort -u | paste -sd, -)
    if [ "$statuses" != 0 ]; then
      notes+=("- $size, $path path: exit status $statuses; standard error of the last run: \`$(head -c 300 "$scratch/stderr" | tr '\n' ' ')\`")
    fi
    time_floor "$gen" "${sizes_written[@]}"
    wall=$(awk '{ print $1 }' "$scratch/times" | median)
    wall_min=$(awk '{ print $1 }' "$scratch/times" | LC_ALL=C sort -g | head -1)
    wall_max=$(awk '{ print $1 }' "$scratch/times" | LC_ALL=C sort -g | tail -1)
    user=$(awk '{ print $2 }' "$scratch/times" | median)
    sys=$(awk '{ print $3 }' "$scratch/times" | median)
    rss=$(awk '{ print $4 }' "$scratch/times" | median)
    floor=$(awk '{ print $1 }' "$scratch/floor_times" | median)
    rows+=("$(awk -v size="$size" -v n="$n" -v c="$columns" -v path="$path" -v runs="$runs" -v st="$statuses" \
      -v wall="$wall" -v lo="$wall_min" -v hi="$wall_max" -v user="$user" -v sys="$sys" -v rss="$rss" \
      -v rb="$read_bytes" -v wb="$written_bytes" -v floor="$floor" 'BEGIN {
        printf "| %s | %d × %d | %s | %d | %s | %.3f | %.3f–%.3f | %.3f | %.3f | %.1f | %.1f | %.1f | %.0f | %.0f | %.3f | %.1f |\n",
          size, n, c, path, runs, st, wall, lo, hi, user, sys, rss / 1024, rb / 1e6, wb / 1e6,
          rb / 1e6 / wall, wb / 1e6 / wall, floor, wall / floor }')")
    rm -rf -- "$gen" "$scratch/run"
  done
done

cpu=$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo 2>/dev/null || true)
memory=$(awk '/^MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo 2>/dev/null || true)
commit=$(git --no-optional-locks rev-parse --short HEAD 2>/dev/null || echo unknown)
git --no-optional-locks diff --quiet HEAD -- 2>/dev/null || commit="$commit with local changes"
echo "## orvistad benchmark"
echo
echo "- date: $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "- machine: $(uname -n), ${cpu:-unknown CPU}, $(nproc) cores, ${memory:-unknown memory}, $(uname -sr)"
echo "- build: release preset, $(c++ --version | head -1), commit $commit"
echo "- workload: \`orvistad $year\`, $columns source columns, a record per hour of $year with gaps and $garbage garbage records, seed $seed; $runs runs per row, each on a fresh copy"
echo
echo "| size | locations × columns | path | runs | exit | wall median (s) | wall min–max (s) | user (s) | sys (s) | peak RSS (MiB) | read (MB) | written (MB) | read MB/s | write MB/s | I/O floor (s) | run/floor |"
echo "|---|---|---|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
printf '%s\n' "${rows[@]}"
echo
echo "Medians over the runs; peak RSS is the median of the runs' maximum resident sets; MB = 10^6 bytes."
echo "Read: every input file of the working directory; written: every file that the run left besides the"
echo "configuration, the station list and the hourly source file (the rewritten yearly level file included)."
echo "The I/O floor reads the same inputs and writes as many bytes, to as many files, with 1 MiB reads and writes."
if [ ${#notes[@]} -gt 0 ]; then
  echo
  echo "Runs that did not end normally:"
  printf '%s\n' "${notes[@]}"
fi

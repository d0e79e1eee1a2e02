#!/usr/bin/env bash
# Benchmark of a whole orvistad run (a benchmark, not a test: CI never runs it).
#
#   bash tools/bench.sh [--runs N] [--sizes "small medium full"] [--scratch DIR]
#                       [--baseline REV] [--layouts "commas tabs ..." | --layouts none]
#                       [--layout-runs N]
#       Builds in release mode (cmake --preset bench, build/bench), generates
#       working directories of 10, 100 and 999 locations with 99 source columns
#       for 2024, and runs `orvistad 2024` N times (default 5) per size on the
#       load path (an existing yearly level file) and the creation path (none),
#       each run on a fresh copy. Prints a Markdown table on standard output:
#       median wall, user and system time, peak RSS, MB read and written per
#       second, and the I/O floor (reading the same inputs and writing as many
#       bytes as the run wrote, timed the same way) with the ratio run/floor.
#       The build's and the progress messages go to standard error.
#
#       --baseline REV also builds orvistad of commit REV of this repository in
#       release mode (kept in build/baseline-<full sha>, so that later runs
#       reuse it) and runs it on the same generated data, each baseline run
#       right after the current build's run of the same round, each on a fresh
#       copy. The tables then also show the baseline's wall median and peak RSS
#       and the ratio current/baseline.
#
#       --layouts times the load path at the full size with the data lines of
#       the yearly level file written differently (generate_workdir
#       --yearly-layout): commas, tabs, exponent, repeat, blank-lines, slashes.
#       The default is all six when the full size is among --sizes, else none.
#       A second table gives each layout's wall median and its ratio to the
#       plain load, and, for every layout but slashes (whose data lines hold
#       no values), whether one run with the clock frozen leaves the same output
#       files, console output and exit status as the plain load. Each layout
#       is run --layout-runs times (default: --runs, at most 3): reading the
#       other layouts can take seconds per run.
#
#   bash tools/bench.sh --checksum [--scratch DIR]
#       Runs the full size once per path with the clock frozen at
#       2024-03-03 14:05:00 UTC and prints the sha256 of every output file, of
#       the console output and the exit status: two checkouts that print the
#       same lines produce the same bytes.
#
# The scratch directory (default: a new one under ${TMPDIR:-/tmp}, removed at
# the end) needs about 0.6 GB. The whole benchmark takes a few minutes at most
# (a first --baseline build of a commit adds a minute or so).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

runs=5
sizes="small medium full"
mode=table
scratch=""
baseline=""
layouts=default
layout_runs=""
while [ $# -gt 0 ]; do
  case "$1" in
    --checksum) mode=checksum ;;
    --runs) runs=${2:?"missing value after --runs"}; shift ;;
    --sizes) sizes=${2:?"missing value after --sizes"}; shift ;;
    --scratch) scratch=${2:?"missing value after --scratch"}; shift ;;
    --baseline) baseline=${2:?"missing value after --baseline"}; shift ;;
    --layouts) [ $# -ge 2 ] || { echo "bench.sh: missing value after --layouts" >&2; exit 2; }; layouts=$2; shift ;;
    --layout-runs) layout_runs=${2:?"missing value after --layout-runs"}; shift ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "bench.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
  shift
done
case "$runs" in ''|*[!0-9]*|0) echo "bench.sh: --runs wants a count of 1 or more" >&2; exit 2 ;; esac
if [ "$mode" = checksum ] && { [ -n "$baseline" ] || [ "$layouts" != default ] || [ -n "$layout_runs" ]; }; then
  echo "bench.sh: --checksum takes no --baseline, --layouts or --layout-runs" >&2
  exit 2
fi
[ -n "$layout_runs" ] || layout_runs=$((runs < 3 ? runs : 3))
case "$layout_runs" in *[!0-9]*|0) echo "bench.sh: --layout-runs wants a count of 1 or more" >&2; exit 2 ;; esac

locations_of() {
  case "$1" in
    small) echo 10 ;;
    medium) echo 100 ;;
    full) echo 999 ;;
    *) echo "bench.sh: unknown size $1 (small, medium, full)" >&2; exit 2 ;;
  esac
}

for size in $sizes; do locations_of "$size" >/dev/null; done

all_layouts="commas tabs exponent repeat blank-lines slashes"
case " $layouts " in
  " default ") case " $sizes " in *" full "*) layouts=$all_layouts ;; *) layouts="" ;; esac ;;
  " none "|"  ") layouts="" ;;
  *)
    for layout in $layouts; do
      case " $all_layouts " in
        *" $layout "*) ;;
        *) echo "bench.sh: unknown layout $layout ($all_layouts, or none)" >&2; exit 2 ;;
      esac
    done
    ;;
esac

if [ -n "$baseline" ]; then
  baseline_sha=$(git -C "$root" rev-parse --verify --quiet "$baseline^{commit}") || {
    echo "bench.sh: --baseline $baseline is not a commit of this repository" >&2
    exit 2
  }
fi

. tools/setup.sh
orvistad_need_packages g++ cmake ninja-build libbenchmark-dev faketime

echo "Building in release mode (build/bench)" >&2
cmake --preset bench >&2
cmake --build --preset bench --target orvistad generate_workdir io_floor timed_run >&2
bin=$root/build/bench
orvistad=$bin/Utilities/Orvistad/orvistad
generate=$bin/bench/generate_workdir
io_floor=$bin/bench/io_floor
timed_run=$bin/bench/timed_run

# The baseline: the program of one commit, built once in release mode from the
# commit's own files (not this checkout's) and kept under build/. The file
# "program" there names the built program once the build has succeeded.
base_orvistad=""
if [ -n "$baseline" ]; then
  base_dir=$root/build/baseline-$baseline_sha
  if [ ! -f "$base_dir/program" ] || [ ! -x "$(cat "$base_dir/program")" ]; then
    echo "Building the baseline $baseline ($baseline_sha) in release mode ($base_dir)" >&2
    rm -rf -- "$base_dir"
    mkdir -p "$base_dir/source"
    git -C "$root" archive "$baseline_sha" | tar -x -C "$base_dir/source"
    cmake -S "$base_dir/source" -B "$base_dir/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVISTAD_TESTS=OFF >&2
    cmake --build "$base_dir/build" --target orvistad >&2
    program=$(find "$base_dir/build" -type f -name orvistad -perm -u+x | head -1)
    [ -n "$program" ] || { echo "bench.sh: the baseline build made no program orvistad" >&2; exit 1; }
    echo "$program" >"$base_dir/program"
  else
    echo "Using the baseline built in $base_dir" >&2
  fi
  base_orvistad=$(cat "$base_dir/program")
fi

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

# generate SIZE PATH [LAYOUT]: generates the working directory for SIZE on the
# load or creation path into $gen; on the load path with the data lines of the
# yearly level file in LAYOUT (default plain).
generate() {
  gen=$scratch/gen-$1-$2${3:+-$3}
  local extra=()
  [ "$2" = load ] && extra=(--existing-yearly --yearly-layout "${3:-plain}")
  rm -rf -- "$gen"
  "$generate" --dir "$gen" --locations "$(locations_of "$1")" --columns "$columns" --year "$year" \
    --garbage "$garbage" --seed "$seed" "${extra[@]}"
}

# fresh_copy GEN [DIR]: a fresh copy of a generated directory at DIR (default
# $scratch/run).
fresh_copy() {
  local dir=${2:-$scratch/run}
  rm -rf -- "$dir"
  cp -a "$1" "$dir"
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

# frozen_run GEN: runs the program once in a fresh copy of GEN at $scratch/run
# with the clock frozen, so that the run report does not depend on when it
# ran; the console output goes to $scratch/stdout and $scratch/stderr, the
# exit status to $frozen_status.
frozen_run() {
  fresh_copy "$1"
  frozen_status=0
  (cd "$scratch/run" && env -u FORT600 TZ=UTC faketime -f "2024-03-03 14:05:00" "$orvistad" "$year" \
    >"$scratch/stdout" 2>"$scratch/stderr" </dev/null) || frozen_status=$?
}

# frozen_sums: the sha256 of every output file of the frozen run and of its
# console output.
frozen_sums() {
  (cd "$scratch/run" && output_files . | tr '\n' '\0' | xargs -0 -r sha256sum)
  echo "$(sha256sum <"$scratch/stdout" | cut -d' ' -f1)  (standard output)"
  echo "$(sha256sum <"$scratch/stderr" | cut -d' ' -f1)  (standard error)"
}

if [ "$mode" = checksum ]; then
  for path in load create; do
    echo "Generating the full size, $path path" >&2
    generate full "$path"
    frozen_run "$gen"
    echo "## full size, $path path: exit status $frozen_status"
    echo '```'
    frozen_sums
    echo '```'
    rm -rf -- "$gen" "$scratch/run"
  done
  exit 0
fi

# time_runs COUNT GEN ARG...: runs the program with ARG... COUNT times, each in a
# fresh copy of GEN at $scratch/run, and appends the timed_run lines to
# $scratch/times; leaves the last run's directory in place. With a baseline,
# every run of the program is followed by one of the baseline in a fresh copy
# at $scratch/base-run (removed afterwards), appended to $scratch/base_times,
# so that what the machine is doing meanwhile falls on both alike.
time_runs() {
  local count=$1
  local gen=$2
  shift 2
  : >"$scratch/times"
  : >"$scratch/base_times"
  local r
  for ((r = 1; r <= count; r++)); do
    fresh_copy "$gen"
    "$timed_run" --chdir "$scratch/run" --stdout "$scratch/stdout" --stderr "$scratch/stderr" -- "$orvistad" "$@" \
      >>"$scratch/times"
    if [ -n "$base_orvistad" ]; then
      fresh_copy "$gen" "$scratch/base-run"
      "$timed_run" --chdir "$scratch/base-run" --stdout /dev/null --stderr "$scratch/base_stderr" -- \
        "$base_orvistad" "$@" >>"$scratch/base_times"
    fi
  done
  rm -rf -- "$scratch/base-run"
}

# summary TIMES: "WALL MIN MAX USER SYS RSS STATUSES" of a file of timed_run
# lines: medians, the fastest and slowest wall time, and the distinct exit
# statuses.
summary() {
  echo "$(awk '{ print $1 }' "$1" | median)" \
    "$(awk '{ print $1 }' "$1" | LC_ALL=C sort -g | head -1)" \
    "$(awk '{ print $1 }' "$1" | LC_ALL=C sort -g | tail -1)" \
    "$(awk '{ print $2 }' "$1" | median)" \
    "$(awk '{ print $3 }' "$1" | median)" \
    "$(awk '{ print $4 }' "$1" | median)" \
    "$(awk '{ print $5 }' "$1" | LC_ALL=C sort -u | paste -sd, -)"
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

# note_statuses WHAT: notes runs of this round that did not end normally.
note_statuses() {
  if [ "$statuses" != 0 ]; then
    notes+=("- $1: exit status $statuses; standard error of the last run: \`$(head -c 300 "$scratch/stderr" | tr '\n' ' ')\`")
  fi
  if [ -n "$base_orvistad" ] && [ "$b_statuses" != 0 ]; then
    notes+=("- $1, baseline: exit status $b_statuses; standard error of the last run: \`$(head -c 300 "$scratch/base_stderr" | tr '\n' ' ')\`")
  fi
}

# The columns that a baseline adds to a row: its wall median, the ratio
# current/baseline and its peak RSS.
baseline_cells() {
  [ -n "$base_orvistad" ] || return 0
  awk -v w="$wall" -v bw="$b_wall" -v brss="$b_rss" 'BEGIN { printf " %.3f | %.2f | %.1f |", bw, w / bw, brss / 1024 }'
}

# layout_row LAYOUT BYTES SAME: the row of the layout table for the runs
# summarised in $wall, $wall_min, ... and $b_wall; BYTES is the size of the
# yearly level file, SAME what the comparison with the plain load found.
layout_row() {
  awk -v layout="$1" -v bytes="$2" -v same="$3" -v st="$statuses" -v wall="$wall" -v lo="$wall_min" \
    -v hi="$wall_max" -v rss="$rss" -v plain="$plain_wall" -v bw="$b_wall" -v bplain="$plain_b_wall" 'BEGIN {
      printf "| %s | %.1f | %s | %.3f | %.3f–%.3f | %.1f | %.2f | %s |", layout, bytes / 1e6, st, wall, lo, hi,
        rss / 1024, wall / plain, same
      if (bw != "") printf " %.3f | %.2f | %.2f |", bw, bw / bplain, wall / bw
      printf "\n" }'
}

rows=()
notes=()
plain_wall=""
plain_b_wall=""
plain_row=""
for size in $sizes; do
  n=$(locations_of "$size")
  for path in load create; do
    echo "Running $size ($n locations), $path path, $runs runs${base_orvistad:+, each also with the baseline}" >&2
    generate "$size" "$path"
    read_bytes=$(bytes_of "$gen")
    time_runs "$runs" "$gen" "$year"
    mapfile -t outputs < <(output_files "$scratch/run")
    sizes_written=()
    for name in "${outputs[@]}"; do sizes_written+=("$(stat -c %s "$scratch/run/$name")"); done
    written_bytes=$(printf '%s\n' 0 "${sizes_written[@]}" | awk '{ s += $1 } END { printf "%d\n", s }')
    read -r wall wall_min wall_max user sys rss statuses < <(summary "$scratch/times")
    b_wall="" b_rss="" b_statuses=""
    [ -n "$base_orvistad" ] && read -r b_wall _ _ _ _ b_rss b_statuses < <(summary "$scratch/base_times")
    note_statuses "$size, $path path"
    if [ "$size" = full ] && [ "$path" = load ]; then
      plain_wall=$wall
      plain_b_wall=$b_wall
      plain_row=$(layout_row plain "$(stat -c %s "$gen/level/${year}_lvl.tb0")" "(the full-size load above, $runs runs)")
    fi
    time_floor "$gen" "${sizes_written[@]}"
    floor=$(awk '{ print $1 }' "$scratch/floor_times" | median)
    rows+=("$(awk -v size="$size" -v n="$n" -v c="$columns" -v path="$path" -v runs="$runs" -v st="$statuses" \
      -v wall="$wall" -v lo="$wall_min" -v hi="$wall_max" -v user="$user" -v sys="$sys" -v rss="$rss" \
      -v rb="$read_bytes" -v wb="$written_bytes" -v floor="$floor" 'BEGIN {
        printf "| %s | %d × %d | %s | %d | %s | %.3f | %.3f–%.3f | %.3f | %.3f | %.1f | %.1f | %.1f | %.0f | %.0f | %.3f | %.1f |",
          size, n, c, path, runs, st, wall, lo, hi, user, sys, rss / 1024, rb / 1e6, wb / 1e6,
          rb / 1e6 / wall, wb / 1e6 / wall, floor, wall / floor }')$(baseline_cells)")
    rm -rf -- "$gen" "$scratch/run"
  done
done

# The layouts of the yearly level file: the full size on the load path. Every
# layout but slashes is also run once with the clock frozen, and its output
# files, console output and exit status compared with those of the plain file.
layout_rows=()
if [ -n "$layouts" ]; then
  generate full load plain
  plain_gen=$gen
  if [ -z "$plain_row" ]; then
    echo "Running the full size, load path, plain yearly level file, $layout_runs runs${base_orvistad:+, each also with the baseline}" >&2
    time_runs "$layout_runs" "$plain_gen" "$year"
    read -r wall wall_min wall_max user sys rss statuses < <(summary "$scratch/times")
    b_wall="" b_rss="" b_statuses=""
    [ -n "$base_orvistad" ] && read -r b_wall _ _ _ _ b_rss b_statuses < <(summary "$scratch/base_times")
    note_statuses "full, load path, plain yearly level file"
    plain_wall=$wall
    plain_b_wall=$b_wall
    plain_row=$(layout_row plain "$(stat -c %s "$plain_gen/level/${year}_lvl.tb0")" "(reference)")
  fi
  layout_rows+=("$plain_row")
  echo "Running the full size, load path, plain yearly level file once with the clock frozen" >&2
  frozen_run "$plain_gen"
  { echo "exit status $frozen_status"; frozen_sums; } >"$scratch/plain_sums"
  rm -rf -- "$plain_gen" "$scratch/run"
  for layout in $layouts; do
    echo "Running the full size, load path, $layout yearly level file, $layout_runs runs${base_orvistad:+, each also with the baseline}" >&2
    generate full load "$layout"
    time_runs "$layout_runs" "$gen" "$year"
    read -r wall wall_min wall_max user sys rss statuses < <(summary "$scratch/times")
    b_wall="" b_rss="" b_statuses=""
    [ -n "$base_orvistad" ] && read -r b_wall _ _ _ _ b_rss b_statuses < <(summary "$scratch/base_times")
    note_statuses "full, load path, $layout yearly level file"
    same="not compared"
    if [ "$layout" != slashes ]; then
      echo "Running the full size, load path, $layout yearly level file once with the clock frozen" >&2
      frozen_run "$gen"
      { echo "exit status $frozen_status"; frozen_sums; } >"$scratch/layout_sums"
      if cmp -s "$scratch/plain_sums" "$scratch/layout_sums"; then
        same=yes
      else
        same=no
        notes+=("- $layout yearly level file, not as after the plain load: $(diff "$scratch/plain_sums" "$scratch/layout_sums" |
          sed -n 's/^> //p' | sed 's/^[0-9a-f]\{64\}  //' | paste -sd, - | sed 's/,/, /g')")
      fi
    fi
    layout_rows+=("$(layout_row "$layout" "$(stat -c %s "$gen/level/${year}_lvl.tb0")" "$same")")
    rm -rf -- "$gen" "$scratch/run"
  done
fi

cpu=$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo 2>/dev/null || true)
memory=$(awk '/^MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo 2>/dev/null || true)
commit=$(git --no-optional-locks rev-parse --short HEAD 2>/dev/null || echo unknown)
git --no-optional-locks diff --quiet HEAD -- 2>/dev/null || commit="$commit with local changes"
echo "## orvistad benchmark"
echo
echo "- date: $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "- machine: $(uname -n), ${cpu:-unknown CPU}, $(nproc) cores, ${memory:-unknown memory}, $(uname -sr)"
echo "- build: bench preset (release), $(c++ --version | head -1), commit $commit"
if [ -n "$base_orvistad" ]; then
  echo "- baseline: commit $(git -C "$root" rev-parse --short "$baseline_sha") ($(git -C "$root" log -1 --format=%s "$baseline_sha")), release build in build/baseline-$baseline_sha; each of its runs right after the current build's run of the same round, on a fresh copy of the same data"
fi
echo "- workload: \`orvistad $year\`, $columns source columns, a record per hour of $year with gaps and $garbage garbage records, seed $seed; $runs runs per row, each on a fresh copy"
echo
header="| size | locations × columns | path | runs | exit | wall median (s) | wall min–max (s) | user (s) | sys (s) | peak RSS (MiB) | read (MB) | written (MB) | read MB/s | write MB/s | I/O floor (s) | run/floor |"
rule="|---|---|---|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
if [ -n "$base_orvistad" ]; then
  header="$header baseline wall median (s) | current/baseline | baseline peak RSS (MiB) |"
  rule="$rule---:|---:|---:|"
fi
echo "$header"
echo "$rule"
[ ${#rows[@]} -eq 0 ] || printf '%s\n' "${rows[@]}"
echo
echo "Medians over the runs; peak RSS is the median of the runs' maximum resident sets; MB = 10^6 bytes."
echo "Read: every input file of the working directory; written: every file that the run left besides the"
echo "configuration, the station list and the hourly source file (the rewritten yearly level file included)."
echo "The I/O floor reads the same inputs and writes as many bytes, to as many files, with 1 MiB reads and writes."
if [ ${#layout_rows[@]} -gt 0 ]; then
  echo
  echo "### Layouts of the yearly level file (full size, load path, $layout_runs runs per layout)"
  echo
  header="| layout | yearly file (MB) | exit | wall median (s) | wall min–max (s) | peak RSS (MiB) | wall / plain | same outputs as plain |"
  rule="|---|---:|---|---:|---:|---:|---:|---|"
  if [ -n "$base_orvistad" ]; then
    header="$header baseline wall median (s) | baseline / plain | current/baseline |"
    rule="$rule---:|---:|---:|"
  fi
  echo "$header"
  echo "$rule"
  printf '%s\n' "${layout_rows[@]}"
  echo
  echo "The same values as the plain file in every layout but slashes, whose data lines are just \"/\" (the"
  echo "levels keep their initial values). Same outputs: one run of each with the clock frozen leaves the same"
  echo "bytes in every output file, the same console output and the same exit status as the plain load."
fi
if [ ${#notes[@]} -gt 0 ]; then
  echo
  echo "Runs that did not end normally, and layouts whose outputs differ:"
  printf '%s\n' "${notes[@]}"
fi

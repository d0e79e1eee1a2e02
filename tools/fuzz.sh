#!/usr/bin/env bash
# Builds the libFuzzer targets (the fuzz preset: clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, build/fuzz) and runs each for N seconds
# (default 30), all at once, each on a scratch copy of its seed corpus in
# fuzz/corpus/<target> (the committed corpus is never changed).
#
#   tools/fuzz.sh [--seconds N] [target...]     targets: list_read fixed_format field_edit program
#
# Fails when a target finds a crash, a hang, a sanitizer report or a broken
# invariant; the input that shows it is kept in build/fuzz/findings/<target>/
# and is replayed with build/fuzz/fuzz/fuzz_<target> <file>.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
  echo "usage: tools/fuzz.sh [--seconds N] [target...]" >&2
  exit 2
}
all_targets=(list_read fixed_format field_edit program)
seconds=30
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) [ $# -ge 2 ] || usage; seconds="$2"; shift 2 ;;
    --seconds=*) seconds="${1#--seconds=}"; shift ;;
    -h | --help) usage ;;
    -*) usage ;;
    *) targets+=("$1"); shift ;;
  esac
done
case "$seconds" in '' | *[!0-9]*) usage ;; esac
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")
for t in "${targets[@]}"; do
  [ -d "fuzz/corpus/$t" ] || { echo "no fuzz target $t" >&2; usage; }
done

. tools/setup.sh
orvistad_need_packages clang libclang-rt-14-dev cmake ninja-build
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

runs=build/fuzz/runs
rm -rf "$runs"
mkdir -p "$runs"
# The whole-program target runs in scratch directories below this one, on a
# memory file system when there is one; a crash leaves its directory behind.
scratch_base=/dev/shm
[ -d "$scratch_base" ] && [ -w "$scratch_base" ] || scratch_base="${TMPDIR:-/tmp}"
ORVISTAD_FUZZ_SCRATCH=$(mktemp -d "$scratch_base/orvistad-fuzz-runs-XXXXXX")
export ORVISTAD_FUZZ_SCRATCH
trap 'rm -rf "$ORVISTAD_FUZZ_SCRATCH"' EXIT
pids=()
for t in "${targets[@]}"; do
  rm -rf "build/fuzz/findings/$t"
  mkdir -p "$runs/$t" "build/fuzz/findings/$t"
  cp -r "fuzz/corpus/$t/." "$runs/$t/"
  # The whole-program seeds hold a yearly level file of a line per hour.
  max_len=4096
  [ "$t" = program ] && max_len=65536
  echo "fuzzing $t for ${seconds}s"
  "build/fuzz/fuzz/fuzz_$t" "$runs/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
    -max_len="$max_len" -print_final_stats=1 -artifact_prefix="build/fuzz/findings/$t/" \
    >"$runs/$t.log" 2>&1 &
  pids+=($!)
done

failed=0
for k in "${!targets[@]}"; do
  t="${targets[$k]}"
  if wait "${pids[$k]}"; then
    echo "$t: $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$runs/$t.log" | grep -o '[0-9]*$') runs, no finding"
  else
    failed=1
    echo "$t: FINDING (log $runs/$t.log, input in build/fuzz/findings/$t/)" >&2
    grep -E -A40 '==ERROR|runtime error|invariant broken|ERROR: libFuzzer' "$runs/$t.log" | head -60 >&2 || tail -40 "$runs/$t.log" >&2
  fi
done
exit $failed

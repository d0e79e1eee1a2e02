#!/usr/bin/env bash
# Builds the program (release preset, build/release) and runs it on the
# bundled example working directory, in a scratch copy, twice (as two daily
# runs would), then shows the outputs.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/setup.sh
orvistad_build_release
work=$(mktemp -d /tmp/orvistad-example-XXXXXX)
cp -r examples/lake/. "$work"
year=$(cat "$work/YEAR")
for run in 1 2; do
  echo "=== run $run: orvistad $year (in $work)"
  status=0
  (cd "$work" && "$OLDPWD/build/release/Utilities/Orvistad/orvistad" "$year") || status=$?
  echo "=== exit status $status"
done
echo "=== outputs in $work:"
(cd "$work" && find . -type f | sort)

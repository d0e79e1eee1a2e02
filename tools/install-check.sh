#!/usr/bin/env bash
# Checks the install from end to end: builds the program (release preset,
# build/release), installs it into a scratch prefix, and runs the installed
# copy on a scratch copy of the bundled example working directory. It fails
# unless the install put bin/orvistad there and nothing else, and the run ends
# normally: exit status 0, nothing on standard error, and a normal ending as
# the run report's last line.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/setup.sh
orvistad_build_release

scratch=$(mktemp -d /tmp/orvistad-install-check-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
fail() {
  echo "install check FAILED: $*" >&2
  exit 1
}

mkdir "$scratch/prefix"
cmake --install build/release --prefix "$scratch/prefix"
installed=$(cd "$scratch/prefix" && find . ! -type d | LC_ALL=C sort)
[ "$installed" = "./bin/orvistad" ] || fail "the prefix holds [$installed], not ./bin/orvistad alone"
[ -x "$scratch/prefix/bin/orvistad" ] || fail "bin/orvistad is not executable"

mkdir "$scratch/work"
cp -r examples/lake/. "$scratch/work"
status=0
(cd "$scratch/work" && "$scratch/prefix/bin/orvistad" "$(cat YEAR)" >console 2>errors </dev/null) || status=$?
[ "$status" -eq 0 ] || fail "the installed program ended with exit status $status: $(cat "$scratch/work/errors")"
[ ! -s "$scratch/work/errors" ] || fail "standard error: $(cat "$scratch/work/errors")"
last=$(tail -n 1 "$scratch/work/runReport.txt" | tr -d '\r')
case "$last" in
  "Orvistad.exe - normal ending "*) ;;
  *) fail "the run report ends with [$last]" ;;
esac
[ -s "$scratch/work/level/$(cat "$scratch/work/YEAR")_lvl.tb0" ] || fail "no yearly level file"
echo "install check passed: bin/orvistad installed, and it ran the example to its normal ending"

#!/usr/bin/env bash
# Builds everything and runs every test (unit and end-to-end).
#
#   tools/test.sh              the debug build (build/debug)
#   tools/test.sh --sanitize   the same suite built with AddressSanitizer and
#                              UndefinedBehaviorSanitizer (build/asan); any
#                              sanitizer report fails its test
set -euo pipefail
cd "$(dirname "$0")/.."
preset=debug
case "${1:-}" in
  "") ;;
  --sanitize) preset=asan ;;
  *) echo "usage: tools/test.sh [--sanitize]" >&2; exit 2 ;;
esac
. tools/setup.sh
orvistad_need_packages g++ cmake ninja-build libgtest-dev faketime
if [ "$preset" = asan ]; then
  # Leaks are reported too. The end-to-end tests start the program through
  # faketime, which preloads its own library ahead of the sanitizer runtime;
  # verify_asan_link_order=0 lets the runtime accept that order. The test
  # preset sets the same options; they are exported here as well for the test
  # discovery that runs the test programs during the build.
  export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:verify_asan_link_order=0}"
  export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
fi
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset"

#!/usr/bin/env bash
# Builds everything and runs every test (unit and end-to-end).
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/setup.sh
orvistad_need_packages g++ cmake ninja-build libgtest-dev faketime
cmake --preset debug >/dev/null
cmake --build --preset debug
ctest --preset debug

#!/bin/bash
# Runs every benchmark, bench/*_bench.sh, with the build directory as $1.
#   bench/run-all.sh [BUILD_DIR]
set -uo pipefail
build=$(cd "${1:-build}" && pwd) || exit 1
here=$(cd "$(dirname "$0")" && pwd)
status=0
for bench in "$here"/*_bench.sh; do
  echo "### $(basename "$bench")"
  bash "$bench" "$build" || { echo "### $(basename "$bench") failed"; status=1; }
  echo
done
exit $status

#!/bin/bash
# Runs the launcher of build directory $1 (placeholder until the sample app lands).
set -euo pipefail
build=${1:-build}
"$build/bin/tvx-launcher" -test || true

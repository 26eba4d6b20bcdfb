#!/bin/bash
# Runs libFuzzer harnesses for a set time each and reports their executions.
#
#   run-fuzzers.sh [--dir DIR] [--seconds N] [--jobs N] [--nice N] [NAME...]
#
# DIR holds the built <NAME>_fuzz programs (default build-fuzz/fuzz); NAMEs
# default to every harness there. Each run starts from the checked-in seeds
# (tests/fuzz/corpus/NAME) plus what earlier runs found (DIR/work/NAME), uses
# tests/fuzz/dict/NAME.dict when present, and saves crashing, leaking or
# timed-out inputs in DIR/crashes/NAME/. Exits non-zero when a harness failed.
set -uo pipefail
src=$(cd "$(dirname "$0")" && pwd)
dir=$src/../../build-fuzz/fuzz
seconds=180
jobs=1
niceness=19
while (($#)); do
  case $1 in
    --dir) dir=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    --nice) niceness=$2; shift 2 ;;
    --) shift; break ;;
    -*) echo "unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
dir=$(cd "$dir" && pwd) || exit 2
names=("$@")
if ((${#names[@]} == 0)); then
  for program in "$dir"/*_fuzz; do
    [[ -x $program ]] && names+=("$(basename "${program%_fuzz}")")
  done
fi
if ((${#names[@]} == 0)); then
  echo "no harnesses in $dir (build them with: cmake --preset fuzz && cmake --build --preset fuzz)" >&2
  exit 2
fi

run_one() {
  local name=$1
  local work=$dir/work/$name crashes=$dir/crashes/$name log=$dir/logs/$name.log
  mkdir -p "$work" "$crashes" "$dir/logs"
  local args=(-max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1
              -artifact_prefix="$crashes/")
  [[ -f $src/dict/$name.dict ]] && args+=(-dict="$src/dict/$name.dict")
  local seeds=()
  [[ -d $src/corpus/$name ]] && seeds+=("$src/corpus/$name")
  nice -n "$niceness" "$dir/${name}_fuzz" "${args[@]}" "$work" "${seeds[@]}" >"$log" 2>&1
  local status=$?
  local execs
  execs=$(awk '/stat::number_of_executed_units/ {print $2}' "$log" | tail -1)
  local found
  found=$(find "$crashes" -type f -newer "$log.start" 2>/dev/null | tr '\n' ' ')
  if ((status == 0)); then
    echo "$name: ${execs:-?} executions in ${seconds} s, no findings"
  else
    echo "$name: FAILED (status $status) after ${execs:-?} executions; inputs saved: ${found:-none}; log: $log"
    grep -m1 -A12 -E "ERROR: |check failed|==ERROR|runtime error" "$log" | sed 's/^/  /'
  fi
  return $status
}

failed=0
running=0
for name in "${names[@]}"; do
  if [[ ! -x $dir/${name}_fuzz ]]; then
    echo "$name: no program $dir/${name}_fuzz" >&2
    failed=1
    continue
  fi
  mkdir -p "$dir/logs"
  touch "$dir/logs/$name.log.start"
  run_one "$name" &
  running=$((running + 1))
  if ((running >= jobs)); then
    wait -n || failed=1
    running=$((running - 1))
  fi
done
while ((running > 0)); do
  wait -n || failed=1
  running=$((running - 1))
done
exit $failed

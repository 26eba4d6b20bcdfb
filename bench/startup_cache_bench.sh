#!/bin/bash
# The startup cache against plain "java -cp": Debian's Rhino shell evaluating
# print(1), and the H2 database server from its start to its listening TCP
# port. Each round runs every side once, in alternation; prints per side the
# median, minimum and maximum of wall time and peak resident memory, and the
# ratios of the medians to java -cp. Runs on JDK 17, and on every other JDK
# of feature 13 or later under /usr/lib/jvm (JDK 25 where installed).
#   bench/startup_cache_bench.sh BUILD_DIR [ROUNDS]
set -euo pipefail
build=${1:?usage: startup_cache_bench.sh BUILD_DIR [ROUNDS]}
rounds=${2:-11}
build=$(cd "$build" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
rhino_jar=/usr/share/java/js.jar
h2_jar=/usr/share/java/h2.jar
h2_port=${TVX_BENCH_H2_PORT:-39092}

# One private IPC namespace for every run (the launchers' instance segments
# vanish with it).
if [[ -z ${TVX_CACHE_BENCH_INNER:-} ]]; then
  exec unshare --ipc env TVX_CACHE_BENCH_INNER=1 bash "$0" "$@"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cc -O2 -o "$work/measure" "$here/launch_measure.c"
cc -O2 -o "$work/port_measure" "$here/port_measure.c"

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
stats() {  # column of FILE -> "median min max"
  local col=$1 file=$2
  echo "$(cut -d' ' -f"$col" "$file" | median) $(cut -d' ' -f"$col" "$file" | sort -g | head -1) $(cut -d' ' -f"$col" "$file" | sort -g | tail -1)"
}
report() {  # NAME FILE BASELINE_FILE
  local t m bt bm
  read -r t tmin tmax <<< "$(stats 1 "$2")"; read -r m mmin mmax <<< "$(stats 2 "$2")"
  read -r bt _ _ <<< "$(stats 1 "$3")"; read -r bm _ _ <<< "$(stats 2 "$3")"
  awk -v n="$1" -v t="$t" -v a="$tmin" -v b="$tmax" -v m="$m" -v c="$mmin" -v d="$mmax" -v bt="$bt" -v bm="$bm" 'BEGIN {
    printf "  %-26s wall %7.1f ms [%7.1f..%7.1f]  ratio %.3f   peak RSS %7d KiB [%7d..%7d]  ratio %.3f\n",
           n, t, a, b, t / bt, m, c, d, m / bm }'
}

# bench_jdk HOME: both applications on the runtime at HOME.
bench_jdk() {
  local home=$1 libjvm=$1/lib/server/libjvm.so feature
  feature=$(sed -n 's/^JAVA_VERSION="\([0-9]*\).*/\1/p' "$home/release")
  local d="$work/jdk$feature"
  mkdir -p "$d"
  local runtime=(--set "jre_order c" --set "jvmdll $libjvm")
  "$build/bin/tvx-pack" --no-startup-cache --main org.mozilla.javascript.tools.shell.Main "${runtime[@]}" -o "$d/rhino" "$rhino_jar" > /dev/null
  "$build/bin/tvx-pack" --main org.mozilla.javascript.tools.shell.Main "${runtime[@]}" \
    --set "startupcache $d/cache" -o "$d/rhino-cached" "$rhino_jar" > /dev/null
  "$build/bin/tvx-pack" --no-startup-cache --main org.h2.tools.Server "${runtime[@]}" -o "$d/h2" "$h2_jar" > /dev/null
  "$build/bin/tvx-pack" --main org.h2.tools.Server "${runtime[@]}" \
    --set "startupcache $d/cache" -o "$d/h2-cached" "$h2_jar" > /dev/null
  local js=(-e 'print(1)') h2=(-tcp -tcpPort "$h2_port" -baseDir "$d/db")
  [[ $("$d/rhino-cached" -test "${js[@]}") == 1 ]] || { echo "packed Rhino does not run" >&2; return 1; }

  # First runs make the archives; warm-up runs fill the page cache.
  "$d/rhino-cached" -test "${js[@]}" > /dev/null
  "$work/port_measure" "$h2_port" "$d/h2-cached" -test "${h2[@]}" > /dev/null
  [[ $(ls "$d/cache"/*.jsa | wc -l) == 2 ]] || { echo "no archives were made" >&2; return 1; }
  for _ in 1 2; do
    "$work/measure" "$home/bin/java" -cp "$rhino_jar" org.mozilla.javascript.tools.shell.Main "${js[@]}" > /dev/null
    "$work/measure" "$d/rhino-cached" -test "${js[@]}" > /dev/null
    "$work/measure" "$d/rhino" -test "${js[@]}" > /dev/null
  done

  local r
  for r in java cached plain h2java h2cached h2plain; do : > "$d/$r"; done
  for ((i = 0; i < rounds; i++)); do
    "$work/measure" "$home/bin/java" -cp "$rhino_jar" org.mozilla.javascript.tools.shell.Main "${js[@]}" >> "$d/java"
    "$work/measure" "$d/rhino-cached" -test "${js[@]}" >> "$d/cached"
    "$work/measure" "$d/rhino" -test "${js[@]}" >> "$d/plain"
    "$work/port_measure" "$h2_port" "$home/bin/java" -cp "$h2_jar" org.h2.tools.Server "${h2[@]}" >> "$d/h2java"
    "$work/port_measure" "$h2_port" "$d/h2-cached" -test "${h2[@]}" >> "$d/h2cached"
    "$work/port_measure" "$h2_port" "$d/h2" -test "${h2[@]}" >> "$d/h2plain"
  done
  echo "JDK $feature ($home), $rounds rounds, median [min..max], ratios of medians to java -cp:"
  echo " Rhino -e 'print(1)'"
  report "java -cp" "$d/java" "$d/java"
  report "launcher, startup cache" "$d/cached" "$d/java"
  report "launcher, no cache" "$d/plain" "$d/java"
  echo " H2 server, start to listening port"
  report "java -cp" "$d/h2java" "$d/h2java"
  report "launcher, startup cache" "$d/h2cached" "$d/h2java"
  report "launcher, no cache" "$d/h2plain" "$d/h2java"
}

echo "startup_cache_bench: uptime load $(cut -d' ' -f1-3 /proc/loadavg)"
jdk17=$(ls -d /usr/lib/jvm/java-17-openjdk-* | grep -v -- -dbg | head -1)
bench_jdk "$jdk17"
for home in /usr/lib/jvm/*; do
  [[ -L $home || ! -f $home/release || ! -f $home/lib/server/libjvm.so ]] && continue
  [[ $(readlink -f "$home") == $(readlink -f "$jdk17") ]] && continue
  feature=$(sed -n 's/^JAVA_VERSION="\([0-9]*\).*/\1/p' "$home/release")
  [[ -n $feature && $feature -ge 13 ]] && bench_jdk "$home"
done

#!/bin/bash
# The startup cache against plain "java -cp": Debian's Rhino shell evaluating
# print(1), the H2 database server from its start to its listening TCP port,
# and JRuby's -e 'puts 1' where Debian's jruby is installed. Each round runs
# every side once, in alternation: java -cp, the launcher's first run (its
# archive removed before) and a later run, the launcher without the cache,
# and on JDK 24 and later the launcher with startupcachetraining (first and
# later runs) and java with a hand-made AOT cache. Prints per side
# the median, minimum and maximum of wall time and peak resident memory, and
# the ratios of the medians to java -cp. Runs on JDK 17, and on every other
# JDK of feature 13 or later under /usr/lib/jvm (JDK 25 where installed).
#   bench/startup_cache_bench.sh BUILD_DIR [ROUNDS]
set -euo pipefail
build=${1:?usage: startup_cache_bench.sh BUILD_DIR [ROUNDS]}
rounds=${2:-11}
build=$(cd "$build" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
rhino_jar=/usr/share/java/js.jar
h2_jar=/usr/share/java/h2.jar
h2_port=${TVX_BENCH_H2_PORT:-39092}
jruby_cp=
[[ -f /usr/share/jruby/lib/jruby.jar ]] && jruby_cp=/usr/share/jruby/lib/jruby.jar

# One private IPC namespace for every run (the launchers' instance segments
# vanish with it).
if [[ -z ${TVX_CACHE_BENCH_INNER:-} ]]; then
  exec unshare --ipc env TVX_CACHE_BENCH_INNER=1 bash "$0" "$@"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cc -O2 -o "$work/measure" "$here/launch_measure.c"
cc -O2 -o "$work/port_measure" "$here/port_measure.c"

. "$here/stats.sh"
report() {  # NAME FILE BASELINE_FILE
  local t m bt bm
  read -r t tmin tmax <<< "$(stats 1 "$2")"; read -r m mmin mmax <<< "$(stats 2 "$2")"
  read -r bt _ _ <<< "$(stats 1 "$3")"; read -r bm _ _ <<< "$(stats 2 "$3")"
  awk -v n="$1" -v t="$t" -v a="$tmin" -v b="$tmax" -v m="$m" -v c="$mmin" -v d="$mmax" -v bt="$bt" -v bm="$bm" 'BEGIN {
    printf "  %-26s wall %7.1f ms [%7.1f..%7.1f]  ratio %.3f   peak RSS %7d KiB [%7d..%7d]  ratio %.3f\n",
           n, t, a, b, t / bt, m, c, d, m / bm }'
}

# run_side APP MEASURE COMMAND...: one run of an application's command, its
# "<ms> <kib>" line. A server (h2) is measured to its listening port.
run_side() {
  local app=$1
  shift
  if [[ $app == h2 ]]; then "$work/port_measure" "$h2_port" "$@"; else "$work/measure" "$@"; fi
}

# wait_assembly DIR: waits until no archive is being assembled in DIR (no
# record left: the assembler removes it last), at most two minutes; prints
# the wait in ms.
wait_assembly() {
  local start=$(date +%s%N) i
  for ((i = 0; i < 1200; i++)); do
    compgen -G "$1/*.list" > /dev/null || compgen -G "$1/*.conf" > /dev/null || break
    sleep 0.05
  done
  echo $((($(date +%s%N) - start) / 1000000))
}

# bench_app HOME FEATURE APP MAIN CLASSPATH ARGS...: one application on the
# runtime at HOME: java -cp, the launcher with its startup cache (a first
# run, its archive removed just before, and a later run), the launcher
# without the cache, and on feature 24 and later java with a hand-made AOT
# cache (-XX:AOTCacheOutput in one training run, then -XX:AOTCache).
bench_app() {
  local home=$1 feature=$2 app=$3 main=$4 cp=$5
  shift 5
  local args=("$@") d="$work/jdk$feature" libjvm=$home/lib/server/libjvm.so
  local runtime=(--set "jre_order c" --set "jvmdll $libjvm")
  local props=()
  [[ $app == jruby ]] && props=(-Djruby.home=/usr/share/jruby)
  local setlines=()
  for p in "${props[@]}"; do setlines+=(--set "option $p"); done
  local jar=${cp%%:*} libs=${cp#*:}
  [[ $libs == "$cp" ]] && libs=
  [[ -n $libs ]] && setlines+=(--set "classpath $libs")
  "$build/bin/tvx-pack" --no-startup-cache --main "$main" "${runtime[@]}" "${setlines[@]}" -o "$d/$app" "$jar" > /dev/null
  "$build/bin/tvx-pack" --main "$main" "${runtime[@]}" "${setlines[@]}" --set "startupcache $d/cache" \
    -o "$d/$app-cached" "$jar" > /dev/null
  # On 24 and later also with startupcachetraining (a training run first).
  local train=0
  if [[ $feature -ge 24 ]]; then
    train=1
    "$build/bin/tvx-pack" --main "$main" "${runtime[@]}" "${setlines[@]}" --set "startupcache $d/tcache" \
      --set "startupcachetraining true" -o "$d/$app-trained" "$jar" > /dev/null
  fi
  local java=("$home/bin/java" "${props[@]}" -cp "$cp" "$main" "${args[@]}")
  local aot=()
  if [[ $feature -ge 24 ]]; then
    run_side "$app" "$home/bin/java" -XX:AOTCacheOutput="$d/$app.aot" "${props[@]}" -cp "$cp" "$main" "${args[@]}" > /dev/null
    [[ -s $d/$app.aot ]] && aot=("$home/bin/java" -XX:AOTCache="$d/$app.aot" "${props[@]}" -cp "$cp" "$main" "${args[@]}")
  fi
  # Warm-up runs fill the page cache and make the archive.
  for _ in 1 2; do
    run_side "$app" "${java[@]}" > /dev/null
    run_side "$app" "$d/$app-cached" -test "${args[@]}" > /dev/null
    wait_assembly "$d/cache" > /dev/null
    if ((train)); then
      run_side "$app" "$d/$app-trained" -test "${args[@]}" > /dev/null
      wait_assembly "$d/tcache" > /dev/null
    fi
    run_side "$app" "$d/$app" -test "${args[@]}" > /dev/null
  done
  [[ $(ls "$d/cache/${app}_cached-"*.jsa "$d/cache/${app}_cached-"*.aot 2> /dev/null | wc -l) == 1 ]] ||
    { echo "$app: no archive was made" >&2; return 1; }
  local r
  for r in java first later plain withaot assembly tfirst tlater; do : > "$d/$app.$r"; done
  for ((i = 0; i < rounds; i++)); do
    run_side "$app" "${java[@]}" >> "$d/$app.java"
    rm -f "$d/cache/${app}_cached-"*
    run_side "$app" "$d/$app-cached" -test "${args[@]}" >> "$d/$app.first"
    # The archive is assembled after the first run, in the background: its
    # time until the archive is in place.
    echo "$(wait_assembly "$d/cache") 0" >> "$d/$app.assembly"
    run_side "$app" "$d/$app-cached" -test "${args[@]}" >> "$d/$app.later"
    run_side "$app" "$d/$app" -test "${args[@]}" >> "$d/$app.plain"
    if ((train)); then
      rm -f "$d/tcache/${app}_trained-"*
      run_side "$app" "$d/$app-trained" -test "${args[@]}" >> "$d/$app.tfirst"
      wait_assembly "$d/tcache" > /dev/null
      run_side "$app" "$d/$app-trained" -test "${args[@]}" >> "$d/$app.tlater"
    fi
    [[ ${#aot[@]} -gt 0 ]] && run_side "$app" "${aot[@]}" >> "$d/$app.withaot"
  done
  report "java -cp" "$d/$app.java" "$d/$app.java"
  report "launcher, cache, first run" "$d/$app.first" "$d/$app.java"
  report "launcher, cache, later runs" "$d/$app.later" "$d/$app.java"
  read -r t tmin tmax <<< "$(stats 1 "$d/$app.assembly")"
  printf "  %-26s %7.1f ms [%7.1f..%7.1f] after the first run's exit, in the background\n" \
    "archive assembled" "$t" "$tmin" "$tmax"

  report "launcher, no cache" "$d/$app.plain" "$d/$app.java"
  if ((train)); then
    report "training run first" "$d/$app.tfirst" "$d/$app.java"
    report "  later runs" "$d/$app.tlater" "$d/$app.java"
  fi
  if [[ -s $d/$app.withaot ]]; then
    report "java, hand-made AOT cache" "$d/$app.withaot" "$d/$app.java"
    report "  later runs to AOT cache" "$d/$app.later" "$d/$app.withaot"
    ((train)) && report "  training later to AOT" "$d/$app.tlater" "$d/$app.withaot"
  fi
}

# bench_jdk HOME: every application on the runtime at HOME.
bench_jdk() {
  local home=$1 feature
  feature=$(sed -n 's/^JAVA_VERSION="\([0-9]*\).*/\1/p' "$home/release")
  mkdir -p "$work/jdk$feature"
  echo "JDK $feature ($home), $rounds rounds, median [min..max], ratios of medians to java -cp:"
  echo " Rhino -e 'print(1)'"
  bench_app "$home" "$feature" rhino org.mozilla.javascript.tools.shell.Main "$rhino_jar" -e 'print(1)'
  echo " H2 server, start to listening port"
  bench_app "$home" "$feature" h2 org.h2.tools.Server "$h2_jar" -tcp -tcpPort "$h2_port" -baseDir "$work/jdk$feature/db"
  if [[ -n $jruby_cp ]]; then
    echo " JRuby -e 'puts 1'"
    bench_app "$home" "$feature" jruby org.jruby.Main "$jruby_cp" -e 'puts 1'
  else
    echo " JRuby: skipped, /usr/share/jruby/lib/jruby.jar is not installed (Debian package jruby)"
  fi
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

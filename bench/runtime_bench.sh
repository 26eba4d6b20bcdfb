#!/bin/bash
# The runtime shipped with the application (tvx-pack --runtime auto) against
# the system's JDK 17, for the sample application (examples/greeter), a real
# network service (Debian's H2 database server, start to listening TCP port),
# Debian's Rhino shell, and Debian's JRuby when installed (not in the deps
# list): the runtime's size on disk against the full JDK, and wall time and
# peak resident memory of each start, the same executable with its jre/
# beside it and without, and with the same modules linked uncompressed
# (jlink --compress=0; what the compression of the modules image costs).
# Each round runs every side once, in alternation; prints median [min..max]
# and the ratio of the medians to the system's. Every side runs without the
# startup cache.
#
# The runtimes are written just before they are measured, and a file's
# pages that are still in the page cache from being written are mapped
# into a process in larger pieces than pages read from disk: libjvm.so then
# counts about 3.5 MiB more in the resident memory of every start than the
# same file read back (15.1 against 18.6 MiB here). The system JDK's files
# were read from disk, so the runtimes made here are written out and
# dropped from the page cache (sync, then dd iflag=nocache on each of their
# files) before the rounds start, to compare like with like.
#   bench/runtime_bench.sh BUILD_DIR [ROUNDS]
set -euo pipefail
build=${1:?usage: runtime_bench.sh BUILD_DIR [ROUNDS]}
rounds=${2:-11}
build=$(cd "$build" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
h2_jar=/usr/share/java/h2.jar
h2_port=${TVX_BENCH_H2_PORT:-39093}
pack=$build/bin/tvx-pack

# One private IPC namespace for every run (the launchers' instance segments
# vanish with it).
if [[ -z ${TVX_RUNTIME_BENCH_INNER:-} ]]; then
  exec unshare --ipc env TVX_RUNTIME_BENCH_INNER=1 bash "$0" "$@"
fi

jdk=$(ls -d /usr/lib/jvm/java-17-openjdk-* | grep -v -- -dbg | head -1)
[[ -d $jdk/jmods ]] || { echo "runtime_bench: skipped, $jdk has no jmods (openjdk-17-jdk-headless)"; exit 0; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cc -O2 -o "$work/measure" "$here/launch_measure.c"
cc -O2 -o "$work/port_measure" "$here/port_measure.c"

. "$here/stats.sh"
report() {  # NAME FILE BASELINE_FILE
  local t tmin tmax m mmin mmax bt bm
  read -r t tmin tmax <<< "$(stats 1 "$2")"; read -r m mmin mmax <<< "$(stats 2 "$2")"
  read -r bt _ _ <<< "$(stats 1 "$3")"; read -r bm _ _ <<< "$(stats 2 "$3")"
  awk -v n="$1" -v t="$t" -v a="$tmin" -v b="$tmax" -v m="$m" -v c="$mmin" -v d="$mmax" -v bt="$bt" -v bm="$bm" 'BEGIN {
    printf "  %-22s wall %7.1f ms [%7.1f..%7.1f]  ratio %.3f   peak RSS %7d KiB [%7d..%7d]  ratio %.3f\n",
           n, t, a, b, t / bt, m, c, d, m / bm }'
}

# evict DIR: DIR's files written out and dropped from the page cache.
evict() {
  find "$1" -type f -exec sync {} +
  find "$1" -type f -exec dd if={} iflag=nocache count=0 status=none \;
}

# prepare NAME JAR MAIN [TVX-PACK OPTION]...: NAME/shipped/app with its runtime, NAME/system/app
# without (the runtime search then finds the JDK through the java command),
# NAME/plain/app with the same modules linked uncompressed.
prepare() {
  local name=$1 jar=$2 main=$3 start
  shift 3
  mkdir -p "$work/$name/shipped" "$work/$name/system"
  start=$(date +%s.%N)
  "$pack" --main "$main" --no-startup-cache "$@" --runtime auto -o "$work/$name/shipped/app" "$jar" | sed -n 's/^tvx-pack: linked/  linked/p'
  echo "  tvx-pack --runtime auto took $(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.1f", e - s }') s"
  "$pack" --main "$main" --no-startup-cache "$@" -o "$work/$name/system/app" "$jar" > /dev/null
  mkdir -p "$work/$name/plain"
  cp "$work/$name/system/app" "$work/$name/plain/app"
  local modules
  modules=$(sed -n 's/^MODULES="\(.*\)"/\1/p' "$work/$name/shipped/jre/release" | tr ' ' ,)
  "$jdk/bin/jlink" --module-path "$jdk/jmods" --add-modules "$modules" --strip-debug --no-man-pages --no-header-files \
    --compress=0 --generate-cds-archive --output "$work/$name/plain/jre" > /dev/null
  rm -f "$work/$name/plain/jre/lib/server/classes_nocoops.jsa"  # as tvx-pack does
  evict "$work/$name/shipped/jre"
  evict "$work/$name/plain/jre"
  local size plain full
  size=$(du -sk "$work/$name/shipped/jre" | cut -f1)
  plain=$(du -sk "$work/$name/plain/jre" | cut -f1)
  full=$(du -sk "$(readlink -f "$jdk")" | cut -f1)
  awk -v n="$name" -v s="$size" -v p="$plain" -v f="$full" 'BEGIN {
    printf "  runtime on disk: %.1f MiB (uncompressed %.1f MiB), the full JDK %.1f MiB (ratio %.3f)\n",
           s / 1024, p / 1024, f / 1024, s / f }'
}

# run_rounds NAME KIND ARGS...: KIND "exit" (time to exit) or "port".
run_rounds() {
  local name=$1 kind=$2
  shift 2
  local d="$work/$name" side
  local sides=(shipped plain system)
  for side in "${sides[@]}"; do : > "$d/$side.txt"; done
  local measure=("$work/measure")
  [[ $kind == port ]] && measure=("$work/port_measure" "$h2_port")
  for side in "${sides[@]}"; do "${measure[@]}" "$d/$side/app" -test "$@" > /dev/null; done  # warm-up
  for ((i = 0; i < rounds; i++)); do
    for side in "${sides[@]}"; do "${measure[@]}" "$d/$side/app" -test "$@" >> "$d/$side.txt"; done
  done
  report "shipped runtime" "$d/shipped.txt" "$d/system.txt"
  report "shipped, uncompressed" "$d/plain.txt" "$d/system.txt"
  report "system JDK 17" "$d/system.txt" "$d/system.txt"
}

echo "runtime_bench: uptime load $(cut -d' ' -f1-3 /proc/loadavg), $rounds rounds, JDK $jdk"
echo "greeter (examples/greeter), start to exit"
prepare greeter "$build/examples/greeter.jar" com.example.greeter.Main
run_rounds greeter exit bench
if [[ -f $h2_jar ]]; then
  echo "H2 database server, start to listening TCP port"
  prepare h2 "$h2_jar" org.h2.tools.Server
  run_rounds h2 port -tcp -tcpPort "$h2_port" -baseDir "$work/h2/db"
else
  echo "H2 database server: skipped, $h2_jar is not installed (libh2-java)"
fi
if [[ -f /usr/share/java/js.jar ]]; then
  echo "Rhino -e 'print(1)', start to exit"
  prepare rhino /usr/share/java/js.jar org.mozilla.javascript.tools.shell.Main
  run_rounds rhino exit -e 'print(1)'
fi
# Debian's jruby: jruby.jar (jruby-core, whose manifest names its libraries)
# with jruby-base beside it, as its own jruby script puts them.
jruby=/usr/share/jruby/lib/jruby.jar
if [[ -f $jruby && -f /usr/share/java/jruby-base.jar ]]; then
  echo "JRuby -e 'puts 1', start to exit"
  prepare jruby "$(readlink -f "$jruby")" org.jruby.Main --set "classpath /usr/share/java/jruby-base.jar" \
    --set "option -Djruby.home=/usr/share/jruby"
  run_rounds jruby exit -e 'puts 1'
else
  echo "JRuby: skipped, $jruby is not installed (Debian's jruby; not among the packages cmake/install-deps.sh installs)"
fi

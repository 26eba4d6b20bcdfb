#!/bin/bash
# Start-up cost of the launcher: a hello-world application run through a
# packed executable ("-test") and through "java -cp app.jar Main", in
# alternation, N runs each; prints the medians and their ratios (wall time
# and peak resident memory).
#   bench/launch_bench.sh BUILD_DIR [RUNS]
set -euo pipefail
build=${1:?usage: launch_bench.sh BUILD_DIR [RUNS]}
runs=${2:-21}
build=$(cd "$build" && pwd)
here=$(cd "$(dirname "$0")" && pwd)

# Both sides run in one private IPC namespace, so the launcher's instance
# segment does not outlive the benchmark.
if [[ -z ${TVX_LAUNCH_BENCH_INNER:-} ]]; then
  exec unshare --ipc env TVX_LAUNCH_BENCH_INNER=1 bash "$0" "$@"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat > "$work/Main.java" <<'JAVA'
public class Main {
    public static void main(String[] args) {
        System.out.println("Hello, world");
    }
}
JAVA
javac --release 8 -nowarn -Xlint:-options -d "$work/classes" "$work/Main.java"
jar cfe "$work/app.jar" Main -C "$work/classes" .
cc -O2 -o "$work/measure" "$here/launch_measure.c"
"$build/bin/tvx-pack" --no-startup-cache --main Main -o "$work/app" "$work/app.jar"
java_bin=$(readlink -f "$(command -v java)")
libjvm=$(dirname "$(dirname "$java_bin")")/lib/server/libjvm.so
"$build/bin/tvx-pack" --no-startup-cache --main Main --set "jre_order c" --set "jvmdll $libjvm" -o "$work/app-jvmdll" "$work/app.jar"

[[ $("$work/app" -test) == "Hello, world" ]] || { echo "packed app does not run" >&2; exit 1; }

# Warm the page cache for both sides.
for _ in 1 2 3; do
  "$work/measure" "$work/app" -test > /dev/null
  "$work/measure" "$work/app-jvmdll" -test > /dev/null
  "$work/measure" java -cp "$work/app.jar" Main > /dev/null
done

: > "$work/launcher" ; : > "$work/launcher-jvmdll" ; : > "$work/java"
for ((i = 0; i < runs; i++)); do
  "$work/measure" "$work/app" -test >> "$work/launcher"
  "$work/measure" java -cp "$work/app.jar" Main >> "$work/java"
  "$work/measure" "$work/app-jvmdll" -test >> "$work/launcher-jvmdll"
done

. "$here/stats.sh"
report() {
  local name=$1 file=$2
  local t m jt jm
  t=$(cut -d' ' -f1 "$file" | median); m=$(cut -d' ' -f2 "$file" | median)
  jt=$(cut -d' ' -f1 "$work/java" | median); jm=$(cut -d' ' -f2 "$work/java" | median)
  awk -v n="$name" -v t="$t" -v m="$m" -v jt="$jt" -v jm="$jm" 'BEGIN {
    printf "%-34s wall %8.2f ms (java %8.2f)  ratio %.3f   max RSS %7d KiB (java %7d)  ratio %.3f\n",
           n, t, jt, t / jt, m, jm, m / jm }'
}
echo "launch_bench: $runs runs each, medians"
report "launcher, default discovery" "$work/launcher"
report "launcher, jvmdll set" "$work/launcher-jvmdll"

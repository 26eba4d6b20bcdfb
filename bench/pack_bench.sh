#!/bin/bash
# tvx-pack against cp on a 100 MiB jar (medians of RUNS runs each, taken in
# alternation), then the launcher's settings lookup in a small and in a
# 1 GiB executable (pack_settings_bench: CSettingsLoader on the file).
#   bench/pack_bench.sh BUILD_DIR [RUNS]
set -euo pipefail
build=$(cd "${1:?usage: pack_bench.sh BUILD_DIR [RUNS]}" && pwd)
runs=${2:-7}
pack=$build/bin/tvx-pack
lookup=$build/bin/pack_settings_bench
for tool in "$pack" "$lookup" "$build/bin/tvx-launcher"; do
  [[ -x $tool ]] || { echo "missing $tool: build first (make build)" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/tvx-pack-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT


echo "== Making a 100 MiB jar (random data stored and deflated, compressible text)"
mkdir -p "$work/jar/stored" "$work/jar/deflated" "$work/jar/text"
for i in $(seq 1 18); do head -c 2M /dev/urandom > "$work/jar/stored/r$i.bin"; done
for i in $(seq 1 17); do head -c 2M /dev/urandom > "$work/jar/deflated/r$i.bin"; done
awk -v dir="$work/jar/text" 'BEGIN { srand(7); split("alpha beta gamma delta java class service launcher jar settings", w, " ");
             for (f = 1; f <= 400; f++) { file = sprintf("%s/t%03d.txt", dir, f);
               for (l = 0; l < 2000; l++) { line = "";
                 for (k = 0; k < 12; k++) line = line w[int(rand() * 10) + 1] int(rand() * 1000) " ";
                 print line > file }
               close(file) } }'
(cd "$work/jar" && zip -q -0 -r ../app.jar stored && zip -q -r ../app.jar deflated text)
printf 'Manifest-Version: 1.0\r\nMain-Class: bench.Main\r\n\r\n' > "$work/MANIFEST.MF"
mkdir -p "$work/meta/META-INF" && cp "$work/MANIFEST.MF" "$work/meta/META-INF/"
(cd "$work/meta" && zip -q -r ../app.jar META-INF)
size=$(stat -c %s "$work/app.jar")
awk -v s="$size" -v n="$(unzip -Z1 "$work/app.jar" | wc -l)" \
  'BEGIN { printf "jar: %d bytes (%.1f MiB), %d entries\n", s, s / 1048576, n }'

echo
echo "== tvx-pack vs cp, $runs runs each in alternation (page cache warm)"
cp "$work/app.jar" "$work/warm" && "$pack" -o "$work/warm" "$work/app.jar" > /dev/null
: > "$work/cp.times"; : > "$work/pack.times"
TIMEFORMAT='%R %U %S'
for _ in $(seq 1 "$runs"); do
  rm -f "$work/out.cp" "$work/out.exe"
  { time cp "$work/app.jar" "$work/out.cp"; } 2>> "$work/cp.times"
  { time "$pack" -o "$work/out.exe" "$work/app.jar" > /dev/null; } 2>> "$work/pack.times"
done
# Columns: wall, user, system seconds; medians of wall and of user + system.
stats() { awk '{ print $1, $2 + $3 }' "$1" | sort -n | awk '{ w[NR] = $1 } END { print w[int((NR + 1) / 2)] }'
          awk '{ print $2 + $3 }' "$1" | sort -n | awk '{ c[NR] = $1 } END { print c[int((NR + 1) / 2)] }'; }
read -r cp_wall cp_cpu < <(stats "$work/cp.times" | paste -sd' ')
read -r pack_wall pack_cpu < <(stats "$work/pack.times" | paste -sd' ')
awk -v cw="$cp_wall" -v cc="$cp_cpu" -v pw="$pack_wall" -v pc="$pack_cpu" 'BEGIN {
  printf "%-10s wall %8.1f ms   cpu %8.1f ms\n", "cp", cw * 1000, cc * 1000
  printf "%-10s wall %8.1f ms   cpu %8.1f ms\n", "tvx-pack", pw * 1000, pc * 1000
  printf "ratio tvx-pack / cp: wall %.2f, cpu %.2f (aim: 2 or less)\n", pw / cw, pc / cc }'
echo "(all runs, wall user system: cp: $(paste -sd, "$work/cp.times"); tvx-pack: $(paste -sd, "$work/pack.times"))"

echo
echo "== Settings lookup by the launcher's loader (median of 21 runs)"
(cd "$work/jar" && zip -q ../small.jar text/t001.txt)
"$pack" --main bench.Main --set 'option -Xmx64m' -o "$work/small.exe" "$work/small.jar" > /dev/null
truncate -s 1G "$work/huge.bin"
(cd "$work" && zip -q -0 huge.jar huge.bin && rm huge.bin)
"$pack" --main bench.Main --set 'option -Xmx64m' -o "$work/huge.exe" "$work/huge.jar" > /dev/null
rm -f "$work/huge.jar" "$work/out.cp" "$work/out.exe" "$work/warm"
"$pack" -o "$work/app.exe" "$work/app.jar" > /dev/null
"$lookup" 21 "$work/small.exe" "$work/app.exe" "$work/huge.exe"
echo "(aim: under 1 ms whatever the file size)"

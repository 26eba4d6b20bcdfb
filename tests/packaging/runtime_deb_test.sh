#!/bin/bash
# tvx-pack --deb --runtime: the runtime inside the package, Depends naming
# no Java runtime, lintian clean (overrides with reasons), --inspect naming
# the shipped runtime; installed with dpkg into a private overlay of this
# machine's root with every Java package removed and /usr/lib/jvm hidden,
# where its command runs on the shipped runtime; purge leaves nothing. One
# runtime is linked (about 10 s).
#   runtime_deb_test.sh SOURCE_DIR BUILD_DIR APP_JAR
source "$(dirname "$0")/checks.sh"
src=$1 build=$2 jar=$3
pack="$build/bin/tvx-pack"
for tool in dpkg-deb lintian apt-get unshare jlink jdeps; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is not installed"; exit 77; }
done
m="Ann Example <ann@example.com>"
cd "$scratch"

deb=rt_1.0_amd64.deb
said=$("$pack" --deb --runtime auto --version 1.0 --maintainer "$m" -o "$deb" "$jar" 2>&1)
check "package with a runtime written ($said)" [ -f "$deb" ]
check "no staging directory left" bash -c "[ -z \"\$(ls -A | grep -v '^$deb\$')\" ]"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
check "Depends names no Java runtime" bash -c "! grep -Eqi 'jre|java|jdk' <<<'$depends'"
check "Depends: the C library" contains "$depends" "libc6 (>= 2."
for library in libstdc++6 libgcc-s1 zlib1g; do
  check "Depends: $library (the runtime loads it)" contains "$depends" "$library"
done
check "Description says the runtime is shipped" contains "$(dpkg-deb -f "$deb" Description)" \
  "with the Java runtime shipped in /usr/lib/rt/jre."
contents=$(dpkg-deb -c "$deb")
for path in ./usr/lib/rt/rt ./usr/lib/rt/jre/bin/java ./usr/lib/rt/jre/lib/server/libjvm.so \
            ./usr/lib/rt/jre/lib/server/classes.jsa ./usr/lib/rt/jre/lib/modules; do
  check "package holds $path" contains "$contents" "$path"
done
# One lintian run (it takes 10 s): with --show-overrides its status counts
# the overridden tags too (2), so an error or warning shows as an E: or W:
# line, and 1 is lintian's own failure.
lint=$(lintian --fail-on error,warning --show-overrides "$deb" 2>&1)
status=$?
check "lintian ran to the end (status $status)" [ "$status" -eq 0 -o "$status" -eq 2 ]
check "lintian passes: no error or warning" bash -c '! grep -q "^[EW]:"' <<<"$lint"
[[ $lint == *[EW]:* ]] && echo "$lint" >&2
for tag in "unstripped-binary-or-object [usr/lib/rt/jre/lib/server/libjvm.so]" "jar-not-in-usr-share [usr/lib/rt/jre/lib/jrt-fs.jar]"; do
  check "lintian: the override of $tag applies" contains "$lint" "O: rt: $tag"
done
check "every lintian override carries its reason" \
  awk '/^O:/ && prev !~ /^N:/ {bad=1} {prev=$0} END {exit bad}' <<<"$lint"
shown=$("$pack" --inspect "$deb" 2>&1)
check "--inspect of the package: the shipped runtime used at start" \
  contains "$shown" "runtime: shipped in /usr/lib/rt/./jre/ (library /usr/lib/rt/./jre/lib/server/libjvm.so); used at start"

# Install into an overlay of / without any Java package, and run it.
log="$scratch/overlay.log"
in_overlay_root "$src" "$build" "$deb" > "$log" <<'INSIDE'
set -u
deb=rt_1.0_amd64.deb
export DEBIAN_FRONTEND=noninteractive
# Every package that brings a Java runtime goes, then what it leaves.
java=$(dpkg-query -W -f '${Package} ${Status}\n' | awk '$NF == "installed" && $1 ~ /^(openjdk-|default-j|temurin-|ca-certificates-java|java-common)/ {print $1}')
# The manual-page index is rebuilt after every change otherwise (slow).
echo "man-db man-db/auto-update boolean false" | debconf-set-selections
dpkg --purge --force-depends $java > /srv/dpkg.log 2>&1
echo "java packages purged: $?"
rm -rf /usr/lib/jvm/* /etc/alternatives/java /usr/bin/java
echo "java packages left: $(dpkg-query -W -f '${Package} ${Status}\n' | awk '$NF == "installed" && $1 ~ /^(openjdk-|default-j|temurin-)/' | wc -l)"
echo "java command: $(command -v java || echo none)"
cd /srv/given
# dpkg checks the package's own dependencies only: apt-get would refuse
# while the packages that needed the purged runtimes are still installed.
dpkg -i "./$deb" > /srv/apt.log 2>&1
echo "dpkg -i: $?"
cd /srv && env -i PATH=/usr/bin:/bin rt -test
echo "run: $?"
env -i PATH=/usr/bin:/bin TVX_EXPLAIN=1 rt -test 2>&1 | grep 'runtime used'
dpkg --purge rt >> /srv/apt.log 2>&1
echo "dpkg --purge: $?"
echo "left: $(ls -d /usr/lib/rt /usr/bin/rt /etc/rt /usr/share/doc/rt 2>/dev/null | wc -l)"
cat /srv/dpkg.log /srv/apt.log >&2
INSIDE
check "private overlay set up" [ $? -eq 0 ]
out=$(cat "$log")
check "Java packages purged" contains "$out" "java packages purged: 0"
check "no Java package left" contains "$out" "java packages left: 0"
check "no java command left" contains "$out" "java command: none"
check "dpkg -i rt_1.0_amd64.deb" contains "$out" "dpkg -i: 0"
check "runs on the shipped runtime" contains "$out" "java.home=/usr/lib/rt/jre"
check "run status 0" contains "$out" "run: 0"
check "explain mode: the shipped runtime used" contains "$out" "runtime used: /usr/lib/rt/./jre/lib/server/libjvm.so, the one shipped with the application"
check "dpkg --purge rt" contains "$out" "dpkg --purge: 0"
check "purge leaves nothing" contains "$out" "left: 0"
((failed)) && cat "$log" >&2
finish

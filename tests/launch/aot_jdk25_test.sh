#!/bin/bash
# The startup cache's ahead-of-time road with Debian's own OpenJDK 25, on
# machines that have no JDK of feature 24 or later. Debian 13's runtime
# needs a newer C library than this machine's, so it runs in a root of its
# own made of Debian 13's packages (unpacked with dpkg -x, downloaded once
# per build tree), in private mount and IPC namespaces. A packed executable
# (this build's launcher) runs there: its first run lists its classes and
# prints nothing extra, the background assembly makes the cache, a later run
# uses it; then the same with startupcachetraining, whose runtime notice is
# held back. Exits 77 (skipped) when the packages cannot be had.
#   aot_jdk25_test.sh BUILD_DIR PROBE_JAR
set -uo pipefail
build=$(cd "$1" && pwd) jar=$(realpath "$2")
passed=0 failed=0
check() {
  local name=$1
  shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $name" >&2; fi
}
contains() {
  [[ $1 == *"$2"* ]] && return 0
  printf '  missing: %s\n  in: %s\n' "$2" "$1" >&2
  return 1
}
for tool in apt-get dpkg-deb unshare chroot; do
  command -v "$tool" > /dev/null || { echo "SKIPPED: $tool is not installed"; exit 77; }
done
[[ $(dpkg --print-architecture) == amd64 ]] || { echo "SKIPPED: Debian 13's runtime is fetched for amd64 only"; exit 77; }

# Runs a command inside the root, in private mount and IPC namespaces, with
# only the environment given (env -i NAME=VALUE... first).
in_root() {
  unshare --mount --ipc --fork bash -c '
    root=$1; shift
    mount --rbind /dev "$root/dev" && mount -t proc proc "$root/proc" && mount -t tmpfs tmpfs "$root/tmp" &&
      exec env -i PATH=/usr/sbin:/usr/bin "$@"' in_root "$root" "$@"
}

# The root: Debian 13's C library, C++ runtime, zlib and OpenJDK 25's
# headless runtime (what the launcher and bin/java load), downloaded with a
# private apt state so that the machine's own lists stay as they are.
store=$build/jdk25-root
root=$store/root
jdk=/usr/lib/jvm/java-25-openjdk-amd64
if [[ ! -x $root$jdk/bin/java ]]; then
  rm -rf "$store"
  mkdir -p "$store/apt/lists/partial" "$store/apt/archives/partial" "$store/debs" "$root"
  echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian trixie main" \
    > "$store/apt/sources.list"
  apt_private=(-o Dir::Etc::SourceList="$store/apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
    -o Dir::State::Lists="$store/apt/lists" -o Dir::Cache="$store/apt" -o Dir::State::Status=/dev/null
    -o APT::Architectures::=amd64)
  if ! apt-get "${apt_private[@]}" -qq update > "$store/apt.log" 2>&1 ||
    ! (cd "$store/debs" && apt-get "${apt_private[@]}" -qq download libc6 libgcc-s1 libstdc++6 zlib1g \
      openjdk-25-jre-headless >> "$store/apt.log" 2>&1); then
    echo "SKIPPED: Debian 13's packages could not be downloaded ($(tail -1 "$store/apt.log"))"
    rm -rf "$store"
    exit 77
  fi
  for deb in "$store"/debs/*.deb; do dpkg-deb -x "$deb" "$root"; done
  rm -rf "$store/apt" "$store/debs"
  # The merged /usr of Debian 13 (base-files makes these links there).
  for d in bin lib lib64 sbin; do [[ -e $root/$d ]] || ln -s "usr/$d" "$root/$d"; done
  mkdir -p "$root/proc" "$root/dev" "$root/tmp" "$root/app"
fi
check "Debian 13's OpenJDK 25 is in the root" [ -x "$root$jdk/bin/java" ]

rm -rf "$root/app" && mkdir -p "$root/app"
pack() {  # NAME SETTINGS...
  local name=$1
  shift
  local sets=()
  for line in "$@"; do sets+=(--set "$line"); done
  "$build/bin/tvx-pack" --no-check --main launchtest.Probe --set "jre_order c" --set "jvmdll $jdk/lib/server/libjvm.so" \
    --set "startupcache /app/cache" "${sets[@]}" -o "$root/app/$name" "$jar" > /dev/null
}
# run NAME: one start with explain mode on; sets out, err (explanations
# dropped and counted apart), cache (the startup cache's explanations).
run() {
  local e
  out=$(in_root TVX_EXPLAIN=1 chroot "$root" "/app/$1" -test 2> "$store/err")
  status=$?
  e=$(cat "$store/err")
  cache=$(grep '^tvx-explain: startup cache: ' <<< "$e")
  err=$(grep -v '^tvx-explain: ' <<< "$e")
}
# wait_assembly: until the cache is in place (no record left), at most 2 min.
wait_assembly() {
  local i
  for ((i = 0; i < 1200; i++)); do
    compgen -G "$root/app/cache/*.aot.ok" > /dev/null && ! compgen -G "$root/app/cache/*.aot.list" > /dev/null &&
      ! compgen -G "$root/app/cache/*.aot.conf" > /dev/null && return 0
    sleep 0.1
  done
  ls -la "$root/app/cache" >&2
  return 1
}
expected=$(printf 'argc=0\ncwd=/app\nmain returned')

for kind in list training; do
  rm -rf "$root/app/cache"
  if [[ $kind == list ]]; then
    # The runtime's class loading log says where each class came from.
    pack app "option -Xlog:class+load=info:file=/app/classes.log"
    recording="recording the classes this run loads for /app/cache/app-"
  else
    pack app "startupcachetraining true"
    recording="recording a training run for /app/cache/app-"
  fi
  run app
  check "$kind: the first run ends normally" [ "$status" -eq 0 ]
  check "$kind: the first run prints only the application's output" [ "$out" == "$expected" ]
  check "$kind: nothing but explanations on standard error" [ -z "$err" ]
  check "$kind: the first run records for the AOT cache" contains "$cache" "$recording"
  check "$kind: on runtime feature 25" contains "$cache" "(runtime feature 25, ahead-of-time cache; none made yet)"
  check "$kind: the assembly puts the cache in place" wait_assembly
  log=$(cat "$root/app/app.stderr.log" 2> /dev/null)
  check "$kind: the log stays empty" [ -z "$log" ]
  run app
  check "$kind: a later run ends normally" [ "$status" -eq 0 ]
  check "$kind: a later run prints only the application's output" [ "$out" == "$expected" ]
  check "$kind: a later run uses the AOT cache" contains "$cache" ".aot (runtime feature 25, ahead-of-time cache)"
  check "$kind: ... named as a use" contains "$cache" "startup cache: using /app/cache/app-"
  if [[ $kind == list ]]; then
    check "$kind: the runtime took the application's class from the cache" \
      contains "$(cat "$root/app/classes.log")" "launchtest.Probe source: shared objects file"
  fi
done

echo "aot_jdk25_test: $passed passed, $failed failed"
[[ $failed -eq 0 ]]

#!/bin/bash
# tvx-pack --runtime: refused input writing nothing; a runtime linked with
# jlink beside the executable, found with PATH, JAVA_HOME and JRE_HOME empty
# and /usr/lib/jvm hidden (a private mount namespace); explain mode and
# --inspect naming it; the startup cache made and used, or, where a dynamic
# archive would have to be written, standing aside with the start going on,
# when the options want the base archive for a heap without compressed
# object pointers, which tvx-pack leaves out; locale data only
# with --locales; a class of a module jdeps could not see failing with a
# line naming --add-modules, and found once that module is added; runtimes
# for arm64, armhf and i386 made here from those processors' JDK modules
# where the cross set-up's files exist, checked (ELF class and machine,
# release file, modules) and run there under qemu (i386: natively where the
# kernel runs i386 programs; under qemu-i386 only checked, see below). Two
# runtimes are linked for this processor, about 10 s each, and one for
# each other processor, 15 to 20 s each.
#   runtime_test.sh SOURCE_DIR BUILD_DIR REFLECT_JAR
source "$(dirname "$0")/checks.sh"
src=$1 build=$2 jar=$3
pack="$build/bin/tvx-pack"
for tool in jlink jdeps unshare; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is not installed"; exit 77; }
done
cd "$scratch"

# hidden COMMAND...: runs COMMAND with no Java runtime on the machine
# visible (a tmpfs over /usr/lib/jvm) and an environment naming none (the
# startup cache kept in the scratch directory, as checks.sh sets it).
hidden() {
  unshare --mount --ipc --propagation private bash -c 'mount -t tmpfs tmpfs /usr/lib/jvm && exec "$@"' hidden \
    env -i PATH= JAVA_HOME= JRE_HOME= HOME="$scratch" XDG_CACHE_HOME="$XDG_CACHE_HOME" "$@"
}

# Bad input: one clear line, no executable and no runtime written.
mkdir jre-home && printf 'JAVA_VERSION="17.0.1"\nOS_ARCH="x86_64"\n' > jre-home/release
mkdir not-a-jdk taken && touch taken/jre
while IFS='|' read -r what status want args; do
  # shellcheck disable=SC2086
  said=$(eval "\"$pack\" $args -o app \"$jar\"" 2>&1)
  check "$what: refused with status $status" [ $? -eq "$status" ]
  check "$what: says why" contains "$said" "$want"
  check "$what: nothing written" bash -c "[ -z \"\$(ls -A | grep -v -e '^jre-home$' -e '^not-a-jdk$' -e '^taken$')\" ]"
done <<TABLE
unknown module|1|unknown module 'no.such.module'|--runtime java.base,no.such.module
not a module name|2|'1bad' is not a module name|--runtime auto --add-modules 1bad
an empty module list|2|--runtime: an empty module name|--runtime java.base,,java.sql
--add-modules alone|2|need --runtime auto|--add-modules java.sql
a runtime, not a JDK|1|has no bin/jlink and bin/jdeps|--runtime auto --jdk jre-home
not a JDK|1|not a JDK (no release file|--runtime auto --jdk not-a-jdk
a missing JDK|1|no such directory|--runtime auto --jdk missing
a locale jlink does not have|1|jlink failed: Error: No matching locales found for "xx-Bogus"|--runtime java.base --locales xx-Bogus
TABLE
said=$("$pack" --runtime auto -o taken/app "$jar" 2>&1)
check "jre/ taken by a file: refused" [ $? -eq 1 ]
check "jre/ taken by a file: says why" contains "$said" "taken/jre: it exists and is not a Java runtime"
check "jre/ taken by a file: nothing written" [ "$(ls -A taken)" = jre ]
said=$(hidden "$pack" --runtime auto -o app "$jar" 2>&1)
check "no JDK visible: refused" [ $? -eq 1 ]
check "no JDK visible: says so" contains "$said" "no jlink and jdeps found"
check "no JDK visible: nothing written" [ ! -e app ]
rm -rf jre-home not-a-jdk taken

# A runtime for the application alone.
mkdir one
said=$("$pack" --runtime auto -o one/app "$jar" 2>&1)
check "packed with --runtime auto" [ $? -eq 0 ]
check "names the modules linked" contains "$said" "linked a Java runtime of"
check "names the runtime written" contains "$said" "wrote the runtime one/jre"
check "no staging directory left" bash -c "[ -z \"\$(ls -A one | grep -v -e '^app$' -e '^jre$')\" ]"
modules=$(sed -n 's/^MODULES="\(.*\)"/\1/p' one/jre/release)
for module in java.base jdk.crypto.ec jdk.crypto.cryptoki jdk.charsets jdk.zipfs \
              java.management jdk.management jdk.management.agent jdk.naming.dns; do
  check "runtime holds $module" contains " $modules " " $module "
done
check "runtime lacks java.sql (jdeps sees no use of it)" bash -c "[[ ' $modules ' != *' java.sql '* ]]"
check "runtime lacks jdk.localedata (only with --locales or --add-modules)" \
  bash -c "[[ ' $modules ' != *' jdk.localedata '* ]]"
for file in bin/java lib/server/libjvm.so lib/server/classes.jsa lib/modules; do
  check "runtime holds $file" [ -f "one/jre/$file" ]
done
check "no base archive for heaps without compressed object pointers" [ ! -e one/jre/lib/server/classes_nocoops.jsa ]
check "no manual pages" [ ! -e one/jre/man ]
check "no header files" [ ! -e one/jre/include ]
jdk=$(dirname "$(dirname "$(readlink -f "$(command -v jlink)")")")
size=$(du -sk one/jre | cut -f1) full=$(du -sk "$jdk" | cut -f1)
echo "runtime: $size KiB, the JDK it came from ($jdk): $full KiB"
check "runtime under half the JDK's size" [ $((size * 2)) -lt "$full" ]

out=$(hidden "$scratch/one/app" -test 2>&1)
check "found with no system runtime visible: runs" [ $? -eq 0 ]
check "found with no system runtime visible: the shipped one" contains "$out" "java.home=$scratch/one/jre"
# await_archive GLOB: waits (up to a minute) for the stamp of an archive
# matching GLOB in the cache, which its background assembly writes.
await_archive() {
  local i
  for ((i = 0; i < 600; i++)); do
    compgen -G "$XDG_CACHE_HOME/tvx/$1.ok" >/dev/null && return 0
    sleep 0.1
  done
  return 1
}
check "the startup cache is made on the shipped runtime" await_archive 'app-*.jsa'
out=$(hidden "$scratch/one/app" -test locale=de 2>&1)
check "without locale data: German comes out in English" grep -qx "locale=de: Dec" <<<"$out"
# Options that make the runtime want classes_nocoops.jsa, which tvx-pack
# leaves out: the assembled archive needs no base archive and is made and
# used; the dynamic archive written at exit instead (a directory on the
# class path) stands aside, since a runtime asked to write one without its
# base archive refuses to start, and the start goes on.
mkdir classes
while IFS='|' read -r what line exe cached <&3; do
  more=()
  [ "$cached" = no ] && more=(--set "classpath $scratch/classes")
  "$pack" --set "$line" "${more[@]}" -o "one/$exe" "$jar" >/dev/null
  out=$(hidden /usr/bin/env TVX_EXPLAIN=1 "$scratch/one/$exe" -test 2>&1)
  check "$what: runs" contains "$out" "java.home=$scratch/one/jre"
  if [ "$cached" = yes ]; then
    check "$what: records for the cache" contains "$out" "startup cache: recording the classes this run loads for"
    check "$what: the archive is assembled" await_archive "$exe-*.jsa"
    out=$(hidden /usr/bin/env TVX_EXPLAIN=1 "$scratch/one/$exe" -test 2>&1)
    check "$what: runs with the archive" contains "$out" "java.home=$scratch/one/jre"
    check "$what: the archive is used" contains "$out" "startup cache: using $XDG_CACHE_HOME/tvx/$exe-"
  else
    check "$what: no startup cache, and why" \
      contains "$out" "startup cache: not used, the runtime has no base class-data archive (lib/server/classes_nocoops.jsa)"
    check "$what: no archive written" bash -c "! ls '$XDG_CACHE_HOME'/tvx/$exe-* >/dev/null 2>&1"
  fi
done 3<<TABLE
ZGC|option -XX:+UseZGC|zgc|yes
a 40 GiB heap in JAVA_TOOL_OPTIONS|export JAVA_TOOL_OPTIONS=-Xmx40g|big|yes
ZGC and a directory on the class path|option -XX:+UseZGC|zgcdir|no
TABLE
check "no system runtime visible indeed" bash -c "! hidden /bin/ls /usr/lib/jvm/java-17-openjdk-amd64 >/dev/null 2>&1"
explained=$(hidden /usr/bin/env TVX_EXPLAIN=1 "$scratch/one/app" -test 2>&1)
check "explain mode: the runtime used is the shipped one" \
  contains "$explained" "runtime used: $scratch/one/./jre/lib/server/libjvm.so, the one shipped with the application"
explained=$(env TVX_EXPLAIN=1 "$scratch/one/app" -test 2>&1)
check "explain mode with a system runtime: still the shipped one" contains "$explained" "the one shipped with the application"
shown=$("$pack" --inspect one/app)
check "--inspect: the shipped runtime used at start" \
  contains "$shown" "runtime: shipped in $scratch/one/./jre/ (library $scratch/one/./jre/lib/server/libjvm.so); used at start"
"$pack" --set "jre_order sbe" -o one/later "$jar" >/dev/null
check "--inspect: a shipped runtime searched after the system's" \
  contains "$("$pack" --inspect one/later)" "used only when sources s find none (jre_order sbe)"
mkdir none && "$pack" -o none/app "$jar" >/dev/null
check "--inspect: none shipped" contains "$("$pack" --inspect none/app)" "runtime: none shipped in $scratch/none/./jre/"
explained=$(env TVX_EXPLAIN=1 "$scratch/none/app" -test 2>&1)
check "explain mode: a system runtime named as such" contains "$explained" "found on this system"

# A module jdeps could not see: a clear failure naming the option, then
# the same application with the module added.
out=$(hidden "$scratch/one/app" -test java.sql.DriverManager 2>&1)
check "a class of a missing module: fails" [ $? -ne 0 ]
check "a class of a missing module: the exception" contains "$out" "java.lang.ClassNotFoundException: java.sql.DriverManager"
check "a class of a missing module: names the option that adds it" \
  contains "$out" "if java.sql.DriverManager comes from the JDK, pack again adding its module: tvx-pack --runtime auto --add-modules MODULE"
out=$("$scratch/none/app" -test no.such.Thing 2>&1)
check "a missing class with a system runtime: no runtime hint" bash -c "[[ '$out' != *'--add-modules'* ]]"
said=$("$pack" --runtime java.base --add-modules java.sql --locales de -o one/app "$jar" 2>&1)
check "packed again with --runtime java.base --add-modules java.sql --locales de (the runtime replaced)" [ $? -eq 0 ]
out=$(hidden "$scratch/one/app" -test java.sql.DriverManager locale=de locale=fr 2>&1)
check "the added module's class loads" contains "$out" "loaded java.sql.DriverManager"
check "--locales de: German month names" contains "$out" "locale=de: Dezember"
check "--locales de: no other locale's data" grep -qx "locale=fr: Dec" <<<"$out"
check "--locales de: linked with jdk.localedata" contains "$(cat one/jre/release)" "jdk.localedata"
check "no staging directory left after replacing" \
  bash -c "[ -z \"\$(ls -A one | grep -v -e '^app$' -e '^jre$' -e '^later$' -e '^zgc$' -e '^big$' -e '^zgcdir$' -e '\.log$')\" ]"

# Other processors: a runtime linked here from Debian's modules of that
# processor (unpacked by cmake/cross/setup.sh), with this machine's jlink,
# holding the same modules as this processor's, for an executable of that
# processor; it runs there under qemu (its base archive dumped there too,
# so the startup cache builds on it). Without that archive the startup
# cache stands aside instead of failing the start. i386 runs natively where
# the kernel runs i386 programs; under qemu-i386 the i386 server VM is not
# reliable (docs/HACKING.md: the cross suite runs Zero there, which jmods do
# not hold), so that runtime is made and checked but not run.
native_modules=$modules
while IFS='|' read -r proc arch elf machine emulator <&3; do
  jdk=$src/build-$proc/runtime/usr/lib/jvm/java-17-openjdk-$arch
  image=$build/lib/tvx/$proc/tvx-launcher
  [[ -f $image ]] || image=$src/build-$proc/bin/tvx-launcher
  runs=yes
  if [[ $proc == i386 && $("$src/cmake/cross/i386-exec.sh" "$scratch") == native ]]; then
    emulator=
  elif [[ $proc == i386 ]]; then
    runs="the i386 server VM is not reliable under qemu-i386 (docs/HACKING.md), so the runtime is made and checked, not run"
  fi
  if [[ ! -d $jdk/jmods ]]; then
    echo "SKIPPED ($proc): no $arch JDK modules in $jdk (cmake/cross/setup.sh $proc unpacks them)"; continue
  elif [[ ! -f $image ]]; then
    echo "SKIPPED ($proc): no $proc launcher image (build the $proc preset)"; continue
  elif [[ -n $emulator ]] && ! grep -qx enabled "/proc/sys/fs/binfmt_misc/$emulator" 2>/dev/null; then
    echo "SKIPPED ($proc): $emulator is not registered with binfmt_misc (cmake/cross/setup.sh)"; continue
  fi
  mkdir "$proc"
  # The runtime's processor follows the launcher image's.
  said=$("$pack" --launcher "$image" --runtime auto --jdk "$jdk" -o "$proc/app" "$jar" 2>&1)
  check "$proc runtime linked ($said)" [ -f "$proc/jre/lib/server/libjvm.so" ]
  for file in lib/server/libjvm.so bin/java; do
    check "$proc runtime: $file is $elf" contains "$(file -b "$proc/jre/$file")" "$elf"
    check "$proc runtime: $file is for $machine" contains "$(file -b "$proc/jre/$file")" ", $machine,"
  done
  release=$(cat "$proc/jre/release" 2>/dev/null)
  check "$proc runtime: its release file names Java 17" contains "$release" 'JAVA_VERSION="17.0.'
  check "$proc runtime: the modules of this processor's runtime" \
    [ "$(sed -n 's/^MODULES="\(.*\)"/\1/p' <<<"$release")" = "$native_modules" ]
  if [[ $runs != yes ]]; then
    if [[ ! -f $proc/jre/lib/server/classes.jsa ]]; then
      check "$proc runtime without a base archive: tvx-pack says so" contains "$said" "no base class-data archive in the runtime"
    fi
    echo "SKIPPED ($proc, running): $runs"
    continue
  fi
  check "$proc runtime: its base class-data archive dumped here" [ -f "$proc/jre/lib/server/classes.jsa" ]
  out=$(hidden /usr/bin/env TVX_EXPLAIN=1 "$scratch/$proc/app" -test 2>&1)
  check "$proc executable runs on its shipped runtime" contains "$out" "java.home=$scratch/$proc/jre"
  check "$proc: the shipped runtime is the one used" contains "$out" "jre/lib/server/libjvm.so, the one shipped with the application"
  check "$proc: the startup cache builds on that archive" grep -qE 'startup cache: (creating|using) ' <<<"$out"
  rm -f "$proc/jre/lib/server/classes.jsa"
  out=$(hidden /usr/bin/env TVX_EXPLAIN=1 "$scratch/$proc/app" -test 2>&1)
  check "$proc without a base archive: still runs" contains "$out" "java.home=$scratch/$proc/jre"
  check "$proc without a base archive: no startup cache, and why" \
    contains "$out" "startup cache: not used, the runtime has no base class-data archive (lib/server/classes.jsa)"
done 3<<TABLE
aarch64|arm64|ELF 64-bit LSB|ARM aarch64|qemu-aarch64
armhf|armhf|ELF 32-bit LSB|ARM|qemu-arm
i386|i386|ELF 32-bit LSB|Intel 80386|qemu-i386
TABLE
finish

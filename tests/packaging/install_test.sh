#!/bin/bash
# make install into a staging root and make uninstall back out of it: the
# installed tree's content, that it works from anywhere with the build and
# source trees hidden, and that uninstall leaves exactly what was there.
#   install_test.sh SOURCE_DIR BUILD_DIR APP_JAR
source "$(dirname "$0")/checks.sh"
src=$1 build=$2 jar=$3

listing() { (cd "$1" && find . -mindepth 1 | sort); }

# --- make install with the default PREFIX below DESTDIR
stage="$scratch/stage"
check "make install" make -s -C "$src" -o build install DESTDIR="$stage" BUILD_DIR="$build"
root="$stage/usr/local"
version=$("$build/bin/tvx-pack" --version | awk '{print $2}')
expected="./bin/tvx-pack ./lib/tvx/installed-files ./share/doc/tvx/README.md ./share/java/tvx-helpers-$version.jar
./share/man/man1/tvx-pack.1 ./share/man/man5/tvx-settings.5"
# The processor named by an ELF file's header.
machine_of() {
  case $(readelf -h "$1" | sed -n 's/^ *Machine: *//p') in
    "Advanced Micro Devices X86-64") echo x86_64 ;;
    AArch64) echo aarch64 ;;
    ARM) echo armhf ;;
    "Intel 80386") echo i386 ;;
    *) echo unknown ;;
  esac
}
for image in "$build/bin/tvx-launcher" "$src"/build-{aarch64,armhf,i386}/bin/tvx-launcher; do
  [[ -f $image ]] && expected+=" ./lib/tvx/$(machine_of "$image")/tvx-launcher"
done
for artifact in "$build"/maven-repo/com/brindell/tvx/tvx-maven-plugin/*/tvx-maven-plugin-*.{pom,jar}; do
  [[ -f $artifact ]] && expected+=" ./share/maven-repo/${artifact#"$build"/maven-repo/}"
done
files=$(cd "$root" && find . -type f | sort | tr '\n' ' ')
check "installed files" [ "$files" = "$(tr ' ' '\n' <<<"$expected" | grep . | sort | tr '\n' ' ')" ]
check "tvx-pack executable" test -x "$root/bin/tvx-pack"
check "helper jar linked by its plain name" [ "$(readlink "$root/share/java/tvx-helpers.jar")" = "tvx-helpers-$version.jar" ]
check "host image installed by processor" test -x "$root/lib/tvx/$(uname -m)/tvx-launcher"
for program in "$root/bin/tvx-pack" "$root"/lib/tvx/*/tvx-launcher; do
  check "$program carries no symbol table" bash -c "! readelf -S '$program' | grep -qE 'symtab|debug_info'"
done
check "nothing installed names the build tree" bash -c "! grep -rlF '$build' '$stage'"
check "nothing installed names the source tree" bash -c "! grep -rlF '$src' '$stage'"
check "man pages installed unchanged" cmp "$src/docs/man/tvx-pack.1" "$root/share/man/man1/tvx-pack.1"

# --- the tree moved elsewhere works with the build and source trees hidden
moved="$scratch/elsewhere/tvx"
mkdir -p "$scratch/elsewhere" "$scratch/work"
cp -a "$root" "$moved"
cp "$jar" "$scratch/work/app.jar"
run_hidden() {
  unshare --mount --ipc --propagation private bash -c '
    for dir in "$@"; do mount -t tmpfs tmpfs "$dir"; done
    cd '"$scratch/work"' && '"$1" bash "$build" "$src"
}
out=$(run_hidden "'$moved/bin/tvx-pack' -o hello app.jar >/dev/null && ./hello -test one two" 2>&1)
check "moved tree packs and runs" contains "$out" "hello args=one,two"
check "the installed image loads as the natives' library" contains "$out" "natives startup=0 service=false"
host=$(uname -m)
case $host in x86_64) alias=amd64 ;; aarch64) alias=arm64 ;; *) alias=$host ;; esac
out=$(run_hidden "'$moved/bin/tvx-pack' --arch $alias -o hello2 app.jar && ./hello2 -test" 2>&1)
check "--arch $alias is the $host image" contains "$out" "natives startup=0"
# Each installed image is picked by its processor's name; one not installed
# is refused with the place looked at.
missing=
for p in x86_64 aarch64 armhf i386; do
  if [[ ! -f $moved/lib/tvx/$p/tvx-launcher ]]; then missing=$p; continue; fi
  (cd "$scratch/work" && "$moved/bin/tvx-pack" --arch "$p" -o "for-$p" app.jar > /dev/null)
  check "--arch $p packs" [ $? -eq 0 ]
  check "--arch $p writes that processor's image" [ "$(machine_of "$scratch/work/for-$p")" = "$p" ]
done
if [[ -n $missing ]]; then
  out=$(cd "$scratch/work" && "$moved/bin/tvx-pack" --arch "$missing" -o never app.jar 2>&1)
  check "--arch of a processor not installed fails" [ $? -eq 1 ]
  check "and names where it looked" contains "$out" "$moved/bin/../lib/tvx/$missing/tvx-launcher"
  check "and writes nothing" test ! -e "$scratch/work/never"
fi
check "--version" [ "$("$moved/bin/tvx-pack" --version)" = "$("$build/bin/tvx-pack" --version)" ]

# --- make uninstall leaves nothing, not even the directories it created
check "make uninstall" make -s -C "$src" uninstall DESTDIR="$stage"
check "uninstall removed the staging root it created" test ! -e "$stage"
out=$(make -s -C "$src" uninstall DESTDIR="$stage" 2>&1)
check "uninstall of nothing says so" contains "$out" "tvx is not installed in $stage/usr/local"

# --- installed twice over a tree that had content: uninstall keeps exactly that
stage2="$scratch/stage2"
mkdir -p "$stage2/opt/tvx/share/man"
before=$(listing "$stage2")
inst() { "$src/packaging/install.sh" "$1" --prefix /opt/tvx --destdir "$stage2" --build "$build" >/dev/null; }
check "first install" inst install
check "second install" inst install
echo "my notes" > "$stage2/opt/tvx/share/doc/tvx/NOTES"
check "uninstall after two installs" inst uninstall
after=$(listing "$stage2")
check "only what was there before and the user's file remain" [ "$after" = "$(printf '%s\n' "$before" \
  ./opt/tvx/share/doc ./opt/tvx/share/doc/tvx ./opt/tvx/share/doc/tvx/NOTES | sort)" ]

out=$("$src/packaging/install.sh" install --prefix relative/path --destdir "$stage2" 2>&1)
check "relative PREFIX refused" [ $? -eq 2 ]
check "with a reason" contains "$out" "PREFIX must be an absolute path"
finish

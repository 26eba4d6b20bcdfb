#!/bin/bash
# A cross build's Debian package, made on this machine: the build machine's
# tvx-pack, in an installed tree that holds this build's launcher image,
# packs the test application with --deb --arch for this build's processor.
# The package's fields, its Depends and the executable's processor (ELF
# header) are checked, lintian passes it, and the executable, unpacked from
# the package, runs (under qemu-user where the kernel does not run it) with
# Debian's runtime of that processor (unpacked by cmake/cross/setup.sh).
#   cross_deb_test.sh BUILD_DIR JAVA_HOME APP_JAR
source "$(dirname "$0")/checks.sh"
build=$1 java_home=$2 jar=$3
image="$build/bin/tvx-launcher"
for tool in dpkg-deb lintian unshare od; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is not installed"; exit 77; }
done
[[ -f $image ]] || { echo "SKIPPED: this build has no launcher image ($image)"; exit 77; }
[[ -f $java_home/lib/server/libjvm.so ]] ||
  { echo "SKIPPED: no runtime of this processor in $java_home (make cross-setup unpacks Debian's)"; exit 77; }

# ELF class, machine and (for armhf) the hard-float flag of a file.
class=$(od -An -tu1 -j4 -N1 "$image" | tr -d ' ')
machine=$(od -An -tu2 -j18 -N2 "$image" | tr -d ' ')
case "$class:$machine" in
  2:183) processor=aarch64 arch=arm64 ;;
  1:40) processor=armhf arch=armhf ;;
  1:3) processor=i386 arch=i386 ;;
  *) echo "SKIPPED: $image is not a cross build's image (ELF class $class, machine $machine)"; exit 77 ;;
esac
elf_of() {
  printf '%s:%s' "$(od -An -tu1 -j4 -N1 "$1" | tr -d ' ')" "$(od -An -tu2 -j18 -N2 "$1" | tr -d ' ')"
}

# An installed tree of tvx: the build machine's tvx-pack, this processor's
# image where make install puts it, the helper classes.
tree="$scratch/tvx"
mkdir -p "$tree/bin" "$tree/lib/tvx/$processor" "$tree/share/java"
cp "$build/bin/tvx-pack" "$tree/bin/"
cp "$image" "$tree/lib/tvx/$processor/tvx-launcher"
cp "$build/lib/tvx-helpers.jar" "$tree/share/java/"
cd "$scratch"
m="Ann Example <ann@example.com>"
deb="hello_1.0_$arch.deb"
said=$("$tree/bin/tvx-pack" --deb --version 1.0 --maintainer "$m" --description "greets whoever runs it" \
       --arch "$arch" --set minjre=17 -o "$deb" "$jar" 2>&1)
check "tvx-pack --deb --arch $arch" [ $? -eq 0 ] || echo "$said" >&2
while IFS='|' read -r field want; do
  check "$arch: field $field" [ "$(dpkg-deb -f "$deb" "$field" | head -n 1)" = "$want" ]
done <<TABLE
Package|hello
Version|1.0
Architecture|$arch
TABLE
depends=$(dpkg-deb -f "$deb" Depends)
check "$arch: depends on the C library" contains "$depends" "libc6 (>= 2."
check "$arch: depends on a Java 17 runtime" contains "$depends" "openjdk-17-jre-headless | java17-runtime-headless"
check "$arch: lintian passes" lintian --fail-on error,warning "$deb"
mkdir root && dpkg-deb -x "$deb" root
exe=root/usr/lib/hello/hello
check "$arch: the executable's processor" [ "$(elf_of "$exe")" = "$class:$machine" ]
if [[ $arch == armhf ]]; then
  flags=$(od -An -tu4 -j36 -N4 "$exe" | tr -d ' ')
  check "armhf: hard-float ABI (EF_ARM_ABI_FLOAT_HARD)" [ $((flags & 0x400)) -ne 0 ]
fi
# The runtime is found as on a machine of that processor: its java on PATH.
out=$(cd / && PATH="$java_home/bin:$PATH" unshare --ipc "$scratch/$exe" -test one two 2>&1)
check "$arch: the packaged executable runs" contains "$out" "hello args=one,two"
((failed)) && echo "$out" >&2
echo "$arch: $(grep -m1 "hello args" <<<"$out")"
finish

#!/bin/bash
# The Debian package: built from the build tree, its control data and
# content, then installed with apt-get into a private overlay of this
# machine's root (the real root is never written) with the source and build
# trees hidden, where tvx-pack packs an application and the result runs,
# from any directory; removing the package removes every file.
#   deb_test.sh SOURCE_DIR BUILD_DIR APP_JAR   (TVX_SHOW_LOG=1 also prints the log of the overlay)
source "$(dirname "$0")/checks.sh"
src=$1 build=$2 jar=$3
for tool in dpkg-deb dpkg-shlibdeps apt-get unshare; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is not installed"; exit 77; }
done

deb=$("$src/packaging/make-deb.sh" --build "$build" --out "$scratch")
version=$("$build/bin/tvx-pack" --version | awk '{print $2}')
arch=$(dpkg --print-architecture)
check "package named tvx_<version>_<arch>.deb" [ "$deb" = "$scratch/tvx_${version}_${arch}.deb" ]
check "version is tvx-pack's" [ "$(dpkg-deb -f "$deb" Version)" = "$version" ]
check "architecture" [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ]
depends=$(dpkg-deb -f "$deb" Depends)
check "depends on the C library (computed)" contains "$depends" "libc6 (>= "
check "depends on libzip (computed)" contains "$depends" "libzip4"
contents=$(dpkg-deb -c "$deb" | awk '{print $6, $7, $8}')
for path in ./usr/bin/tvx-pack "./usr/lib/tvx/$(uname -m)/tvx-launcher" \
            "./usr/share/java/tvx-helpers.jar -> tvx-helpers-$version.jar" \
            ./usr/share/man/man1/tvx-pack.1.gz ./usr/share/man/man5/tvx-settings.5.gz \
            ./usr/share/doc/tvx/copyright ./usr/share/doc/tvx/changelog.gz ./usr/share/doc/tvx/README.md.gz; do
  check "package holds $path" contains "$contents" "$path"
done
for artifact in "$build"/maven-repo/com/brindell/tvx/tvx-maven-plugin/*/tvx-maven-plugin-*.{pom,jar}; do
  [[ -f $artifact ]] || continue
  check "package holds tvx-maven-plugin in Debian's Maven repository" \
    contains "$contents" "./usr/share/maven-repo/${artifact#"$build"/maven-repo/}"
done
check "no list of installed files in the package" bash -c "! grep -q installed-files <<<'$contents'"
mkdir "$scratch/x"
dpkg-deb -R "$deb" "$scratch/x"
check "md5sums match" bash -c "cd '$scratch/x' && md5sum --quiet -c DEBIAN/md5sums"

# Install into an overlay of / inside private mount, IPC and PID namespaces.
mkdir "$scratch/ovl"
cp "$jar" "$scratch/"
log="$scratch/overlay.log"
unshare --mount --ipc --pid --fork --propagation private bash -s "$scratch" "$src" "$build" "$(basename "$deb")" \
  "$(basename "$jar")" > "$log" 2>&1 <<'SCRIPT'
set -eu
scratch=$1 src=$2 build=$3 deb=$4 jar=$5
o="$scratch/ovl"
mount -t tmpfs tmpfs "$o"
mkdir "$o/upper" "$o/work" "$o/root"
mount -t overlay overlay -o "lowerdir=/,upperdir=$o/upper,workdir=$o/work" "$o/root"
r="$o/root"
mkdir -p "$r/srv/given" "$r/srv/anywhere/deeper"
cp "$scratch/$deb" "$scratch/$jar" "$r/srv/given/"
for hide in "$src" "$build" /tmp; do
  [ -d "$r$hide" ] && mount -t tmpfs tmpfs "$r$hide"
done
mount -t proc proc "$r/proc"
mount --rbind /dev "$r/dev"
chroot "$r" /bin/bash -s "$deb" "$jar" "$src" "$build" <<'INSIDE'
set -u
deb=$1 jar=$2 src=$3 build=$4
export DEBIAN_FRONTEND=noninteractive
echo "source tree visible: $(ls -A "$src" 2>/dev/null | wc -l) entries; build tree: $(ls -A "$build" 2>/dev/null | wc -l)"
# The manual-page index is rebuilt on every install otherwise (slow); man
# still finds the pages by their paths.
echo "man-db man-db/auto-update boolean false" | debconf-set-selections
cd /srv/given
SECONDS=0
apt-get -o DPkg::Lock::Timeout=900 install -y -q "./$deb" > /srv/apt.log 2>&1
echo "apt-get install: $? ($SECONDS s)"
echo "tvx-pack on PATH: $(command -v tvx-pack)"
cd /srv/anywhere/deeper
tvx-pack -o hello "/srv/given/$jar" > /dev/null && ./hello -test one two
echo "run from its directory: $?"
cd / && /srv/anywhere/deeper/hello -test three
echo "run from /: $?"
echo "man page: $(man -w tvx-pack) $(man -w 5 tvx-settings)"
echo "settings page renders: $(MANWIDTH=80 man tvx-settings 2>/dev/null | grep -c jre_order)"
apt-get -o DPkg::Lock::Timeout=900 remove -y -q tvx >> /srv/apt.log 2>&1
echo "apt-get remove: $?"
echo "left after removal: $(ls /usr/lib/tvx /usr/bin/tvx-pack /usr/share/java/tvx-helpers* /usr/share/doc/tvx 2>/dev/null | wc -l)"
cat /srv/apt.log >&2
INSIDE
SCRIPT
check "private overlay set up" [ $? -eq 0 ]
out=$(cat "$log")
check "checkout hidden" contains "$out" "source tree visible: 0 entries; build tree: 0"
check "apt-get install ./tvx_*.deb" contains "$out" "apt-get install: 0 "
check "tvx-pack installed on PATH" contains "$out" "tvx-pack on PATH: /usr/bin/tvx-pack"
check "packed application runs" contains "$out" "hello args=one,two"
check "its launcher image loads as the natives' library" contains "$out" "natives startup=0 service=false"
check "run from its directory" contains "$out" "run from its directory: 0"
check "runs from another directory" contains "$out" "hello args=three"
check "run from /" contains "$out" "run from /: 0"
check "man finds both pages" contains "$out" "man page: /usr/share/man/man1/tvx-pack.1.gz /usr/share/man/man5/tvx-settings.5.gz"
check "settings page renders" bash -c "! grep -q 'settings page renders: 0' '$log'"
check "apt-get remove" contains "$out" "apt-get remove: 0"
check "removal leaves nothing" contains "$out" "left after removal: 0"
((failed)) && cat "$log" >&2; [[ -n ${TVX_SHOW_LOG:-} ]] && cat "$log"
finish

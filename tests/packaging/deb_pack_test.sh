#!/bin/bash
# tvx-pack --deb: the package's fields, files and dependencies, lintian
# (errors and warnings fail), the same bytes from the same inputs, refused
# input writing nothing, and a plain package installed with apt-get into a
# private overlay of this machine's root, whose command runs from any
# directory and whose removal leaves nothing behind.
#   deb_pack_test.sh SOURCE_DIR BUILD_DIR APP_JAR
source "$(dirname "$0")/checks.sh"
src=$1 build=$2 jar=$3
pack="$build/bin/tvx-pack"
for tool in dpkg-deb lintian apt-get unshare; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is not installed"; exit 77; }
done
m="Ann Example <ann@example.com>"
cd "$scratch"

# Bad input: one clear line, status 2, no file written.
mkdir out.deb
while IFS='|' read -r what want args; do
  # shellcheck disable=SC2086
  said=$("$pack" --deb --maintainer "$m" $args "$jar" 2>&1)
  status=$?
  check "$what: refused with status 2" [ "$status" -eq 2 ]
  check "$what: says why" contains "$said" "$want"
  check "$what: nothing written" bash -c "[ -z \"\$(ls -A '$scratch' | grep -v '^out.deb$')\" ]"
done <<'TABLE'
missing version|needs a version (--version VERSION)|-o tool_1.0_amd64.deb
invalid version|invalid Debian version 'v1'|--version v1 -o tool.deb
invalid name|invalid package name 'My_Tool'|--version 1.0 --name My_Tool -o tool.deb
unknown architecture|unknown processor 'sparc'|--version 1.0 --arch sparc -o tool.deb
output a directory|out.deb is a directory|--version 1.0 -o out.deb
TABLE
rmdir out.deb

# A plain package: fields, files, lintian, reproducible.
"$pack" --deb --version 1.0-1 --maintainer "$m" --description "greets whoever runs it" --section utils \
  --set minjre=17 -o hello_1.0-1_amd64.deb "$jar" > /dev/null
deb=hello_1.0-1_amd64.deb
check "package written" [ -f "$deb" ]
while IFS='|' read -r field want; do
  check "field $field" [ "$(dpkg-deb -f "$deb" "$field" | head -n 1)" = "$want" ]
done <<TABLE
Package|hello
Version|1.0-1
Architecture|amd64
Maintainer|$m
Section|utils
Description|greets whoever runs it
TABLE
depends=$(dpkg-deb -f "$deb" Depends)
check "depends on the C library" contains "$depends" "libc6 (>= 2."
check "depends on a Java 17 runtime" contains "$depends" "openjdk-17-jre-headless | java17-runtime-headless"
contents=$(dpkg-deb -c "$deb")
for path in "./usr/lib/hello/hello" "./usr/bin/hello -> ../lib/hello/hello" \
            "./usr/lib/hello/hello.cfg -> /etc/hello/hello.cfg" ./etc/hello/hello.cfg \
            ./usr/share/doc/hello/copyright ./usr/share/doc/hello/changelog.Debian.gz; do
  check "package holds $path" contains "$contents" "$path"
done
check "every file is root's" bash -c "! dpkg-deb -c '$deb' | awk '{print \$2}' | grep -v '^root/root$'"
check "the settings file is a conffile" [ "$(dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles)" = "/etc/hello/hello.cfg" ]
lint=$(lintian --fail-on error,warning "$deb" 2>&1)
check "lintian passes (errors and warnings fail)" [ $? -eq 0 ]
check "lintian says nothing" bash -c "! grep -q '^[EW]:' <<<'$lint'"
overrides=$(lintian --show-overrides "$deb" 2>/dev/null)
check "the package carries lintian overrides" contains "$overrides" "O: hello: unstripped-binary-or-object"
check "every lintian override carries its reason" \
  awk '/^O:/ && prev !~ /^N:/ {bad=1} {prev=$0} END {exit bad}' <<<"$overrides"
sleep 1.1
mkdir again
"$pack" --deb --name hello --version 1.0-1 --maintainer "$m" --description "greets whoever runs it" --section utils \
  --set minjre=17 -o again/other.deb "$jar" > /dev/null
check "the same inputs give the same bytes" cmp "$deb" again/other.deb
"$pack" --deb --service --version 1.0 --maintainer "$m" -o svc_1.0_amd64.deb "$jar" > /dev/null
check "a service package passes lintian too" lintian --fail-on error,warning svc_1.0_amd64.deb
check "the service package holds its unit" contains "$(dpkg-deb -c svc_1.0_amd64.deb)" "./lib/systemd/system/svc.service"

shown=$("$pack" --inspect svc_1.0_amd64.deb 2>&1)
check "--inspect of a package: its fields" contains "$shown" "Package: svc"
check "--inspect of a package: the executable inside" contains "$shown" "executable /usr/lib/svc/svc"
check "--inspect of a package: what it runs" contains "$shown" "setting mainclass = hellotest.Hello"
check "--inspect of a package: where a service works" contains "$shown" "forcecwd /var/lib/svc"
check "--inspect of a non-package still refuses" bash -c "! '$pack' --inspect '$jar' >/dev/null 2>&1"

# Packages of the other processors: each cross build's own
# packaging_cross_deb_test (cross_deb_test.sh), where its image and runtime are.

# Install the plain package into an overlay of / and run its command.
mkdir "$scratch/ovl"
log="$scratch/overlay.log"
unshare --mount --ipc --pid --fork --propagation private bash -s "$scratch" "$src" "$build" "$deb" > "$log" 2>&1 <<'SCRIPT'
set -eu
scratch=$1 src=$2 build=$3 deb=$4
o="$scratch/ovl"
mount -t tmpfs tmpfs "$o"
mkdir "$o/upper" "$o/work" "$o/root"
mount -t overlay overlay -o "lowerdir=/,upperdir=$o/upper,workdir=$o/work" "$o/root"
r="$o/root"
mkdir -p "$r/srv/given" "$r/srv/anywhere/deeper"
cp "$scratch/$deb" "$r/srv/given/"
for hide in "$src" "$build" /tmp; do
  [ -d "$r$hide" ] && mount -t tmpfs tmpfs "$r$hide"
done
mount -t proc proc "$r/proc"
mount --rbind /dev "$r/dev"
chroot "$r" /bin/bash -s "$deb" <<'INSIDE'
set -u
deb=$1
export DEBIAN_FRONTEND=noninteractive
cd /srv/given
apt-get -o DPkg::Lock::Timeout=900 install -y -q "./$deb" > /srv/apt.log 2>&1
echo "apt-get install: $?"
echo "on PATH: $(command -v hello)"
cd /srv/anywhere/deeper && hello -test one two
echo "run from a directory: $?"
cd / && hello -test three
echo "run from /: $?"
apt-get -o DPkg::Lock::Timeout=900 purge -y -q hello >> /srv/apt.log 2>&1
echo "apt-get purge: $?"
ls -la /usr/lib/hello 2>&1
echo "left: $(ls -d /usr/lib/hello /usr/bin/hello /etc/hello /usr/share/doc/hello 2>/dev/null | wc -l)"
cat /srv/apt.log >&2
INSIDE
SCRIPT
check "private overlay set up" [ $? -eq 0 ]
out=$(cat "$log")
check "apt-get install ./hello_*.deb" contains "$out" "apt-get install: 0"
check "command on PATH" contains "$out" "on PATH: /usr/bin/hello"
check "runs from another directory" contains "$out" "hello args=one,two"
check "run from a directory" contains "$out" "run from a directory: 0"
check "runs from /" contains "$out" "hello args=three"
check "apt-get purge" contains "$out" "apt-get purge: 0"
check "purge leaves nothing" contains "$out" "left: 0"
((failed)) && cat "$log" >&2
finish

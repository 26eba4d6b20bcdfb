#!/bin/bash
# Builds the Debian package tvx_<version>_<arch>.deb from a build tree:
#
#   make-deb.sh [--build DIR] [--out DIR]
#
# The package holds what `make install PREFIX=/usr` installs (less the list
# of installed files, which dpkg keeps itself), with the manual pages
# compressed and the Debian copyright and changelog added. Its version is
# the one tvx-pack --version reports; its dependencies are computed by
# dpkg-shlibdeps from tvx-pack and the launcher image of this machine's
# processor. Launcher images of other processors (from cross builds) are
# carried as data: they run on other machines, with those machines' C library.
set -euo pipefail
umask 022

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/.." && pwd)
build="$source_dir/build"
out=$PWD
while (($#)); do
  case $1 in
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    --out) out=$(cd "$2" && pwd); shift 2 ;;
    *) echo "make-deb.sh: unknown argument '$1'" >&2; exit 2 ;;
  esac
done

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
root="$stage/root"
"$here/install.sh" install --prefix /usr --destdir "$root" --build "$build" > /dev/null
rm "$root/usr/lib/tvx/installed-files"

version=$("$root/usr/bin/tvx-pack" --version | awk '{print $2}')
arch=$(dpkg --print-architecture)
case $arch in
  amd64) processor=x86_64 ;;
  arm64) processor=aarch64 ;;
  armhf | i386) processor=$arch ;;
  *) echo "make-deb.sh: no launcher image is built for $arch" >&2; exit 1 ;;
esac

doc="$root/usr/share/doc/tvx"
gzip -9n "$root"/usr/share/man/man*/*
gzip -9n "$doc/README.md"
install -m 0644 "$here/debian/copyright" "$doc/copyright"
# A reproducible date: the last commit's when the tree is a git checkout.
date=$(git -C "$source_dir" log -1 --format=%cD 2>/dev/null || date -R)
maintainer=$(sed -n 's/^Maintainer: //p' "$here/debian/control.in")
printf 'tvx (%s) unstable; urgency=medium\n\n  * Built from the tvx source tree.\n\n -- %s  %s\n' \
  "$version" "$maintainer" "$date" | gzip -9n > "$doc/changelog.gz"
install -D -m 0644 "$here/debian/lintian-overrides" "$root/usr/share/lintian/overrides/tvx"

# dpkg-shlibdeps reads the package names from debian/control.
mkdir -p "$stage/debian"
printf 'Source: tvx\n\nPackage: tvx\nArchitecture: any\n' > "$stage/debian/control"
depends=$(cd "$stage" && dpkg-shlibdeps -O -e"root/usr/bin/tvx-pack" -e"root/usr/lib/tvx/$processor/tvx-launcher" \
          2>/dev/null | sed -n 's/^shlibs:Depends=//p')
[[ -n $depends ]] || { echo "make-deb.sh: dpkg-shlibdeps computed no dependencies" >&2; exit 1; }

mkdir "$root/DEBIAN"
(cd "$root" && find usr -type f -print0 | sort -z | xargs -0 md5sum) > "$root/DEBIAN/md5sums"
chmod 0644 "$root/DEBIAN/md5sums"
size=$(du -sk --exclude=DEBIAN "$root" | cut -f1)
sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$arch/" -e "s/@DEPENDS@/$depends/" -e "s/@SIZE@/$size/" \
  "$here/debian/control.in" > "$root/DEBIAN/control"

deb="$out/tvx_${version}_${arch}.deb"
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" > /dev/null
echo "$deb"

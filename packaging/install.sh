#!/bin/bash
# Installs tvx into PREFIX (below DESTDIR when given) from the build trees,
# or removes exactly what an earlier install put there.
#
#   install.sh install   [--prefix P] [--destdir D] [--build DIR]
#   install.sh uninstall [--prefix P] [--destdir D]
#
# Installed tree, relative to PREFIX:
#   bin/tvx-pack                       the generator
#   lib/tvx/<processor>/tvx-launcher   one launcher image per processor built:
#                                      the host build's and those of
#                                      build-aarch64/, build-armhf/, build-i386/
#   share/java/tvx-helpers-<version>.jar  the helper classes, and the link
#   share/java/tvx-helpers.jar            to them that tvx-pack and builds use
#   share/man/man1/tvx-pack.1, share/man/man5/tvx-settings.5
#   share/doc/tvx/README.md
#   share/maven-repo/com/brindell/tvx/tvx-maven-plugin/<version>/
#                                      tvx-maven-plugin's jar and pom, when the
#                                      build made them (a Maven repository in
#                                      the layout of Debian's /usr/share/maven-repo)
#   lib/tvx/installed-files            what this script installed: the files
#                                      and the directories it created, so that
#                                      uninstall removes exactly those
# Images are named by the processor their ELF header names, not by the
# directory they were built in. Programs and images are stripped of their
# symbol tables with the strip program of the build that made them (a cross
# build's own); their debug information stays in the build tree.
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/.." && pwd)
prefix=/usr/local
destdir=
build="$source_dir/build"
action=${1:-}
shift || true
while (($#)); do
  case $1 in
    --prefix) prefix=$2; shift 2 ;;
    --destdir) destdir=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    *) echo "install.sh: unknown argument '$1'" >&2; exit 2 ;;
  esac
done
[[ $prefix == /* ]] || { echo "install.sh: PREFIX must be an absolute path, not '$prefix'" >&2; exit 2; }
root="${destdir%/}$prefix"
root=${root%/}
manifest_name=lib/tvx/installed-files
manifest="$root/$manifest_name"

# Processor name of an ELF launcher image (x86_64, aarch64, armhf, i386).
processor_of() {
  local class machine
  class=$(od -An -tu1 -j4 -N1 "$1" | tr -d ' ')
  machine=$(od -An -tu2 -j18 -N2 "$1" | tr -d ' ')
  case "$class:$machine" in
    2:62) echo x86_64 ;;
    2:183) echo aarch64 ;;
    1:40) echo armhf ;;
    1:3) echo i386 ;;
    *) echo "install.sh: $1: not a launcher image of a known processor (ELF class $class, machine $machine)" >&2
       return 1 ;;
  esac
}

declare -a entries=()   # "f PATH" or "d PATH", relative to $root

# Creates the directories of $1 (a path below $root) one by one, recording
# those that did not exist.
make_dirs() {
  local dir=$1 missing=()
  while [[ ! -d $dir ]]; do
    missing=("$dir" "${missing[@]}")
    dir=$(dirname "$dir")
  done
  for dir in "${missing[@]}"; do
    mkdir -m 0755 "$dir"
    entries+=("d $(realpath -m -s --relative-to="$root" "$dir")")
  done
}

# strip_as_built BUILD FILE: strips FILE with the strip program BUILD used.
strip_as_built() {
  local strip
  strip=$(sed -n 's/^CMAKE_STRIP:FILEPATH=//p' "$1/CMakeCache.txt" 2>/dev/null)
  [[ -x $strip ]] || { echo "install.sh: no strip program recorded in $1/CMakeCache.txt" >&2; exit 1; }
  "$strip" --strip-unneeded --remove-section=.comment --remove-section=.note "$2"
}

# put MODE SOURCE TARGET: copies SOURCE to $root/TARGET.
put() {
  local mode=$1 source=$2 target="$root/$3"
  [[ -f $source ]] || { echo "install.sh: $source is missing; build it first (make build)" >&2; exit 1; }
  make_dirs "$(dirname "$target")"
  install -m "$mode" "$source" "$target"
  entries+=("f $3")
  echo "  $target"
}

do_install() {
  echo "Installing tvx into $root"
  put 0755 "$build/bin/tvx-pack" bin/tvx-pack
  strip_as_built "$build" "$root/bin/tvx-pack"
  local image processor
  [[ -f $build/bin/tvx-launcher ]] || { echo "install.sh: $build/bin/tvx-launcher is missing; build it first (make build)" >&2; exit 1; }
  for image in "$build/bin/tvx-launcher" "$source_dir"/build-{aarch64,armhf,i386}/bin/tvx-launcher; do
    [[ -f $image ]] || continue
    processor=$(processor_of "$image")
    put 0755 "$image" "lib/tvx/$processor/tvx-launcher"
    strip_as_built "$(dirname "$image")/.." "$root/lib/tvx/$processor/tvx-launcher"
  done
  local version
  version=$("$build/bin/tvx-pack" --version | awk '{print $2}')
  put 0644 "$build/lib/tvx-helpers.jar" "share/java/tvx-helpers-$version.jar"
  ln -sfn "tvx-helpers-$version.jar" "$root/share/java/tvx-helpers.jar"
  entries+=("f share/java/tvx-helpers.jar")
  put 0644 "$source_dir/docs/man/tvx-pack.1" share/man/man1/tvx-pack.1
  put 0644 "$source_dir/docs/man/tvx-settings.5" share/man/man5/tvx-settings.5
  put 0644 "$source_dir/README.md" share/doc/tvx/README.md
  local artifact
  for artifact in "$build"/maven-repo/com/brindell/tvx/tvx-maven-plugin/*/tvx-maven-plugin-*.{pom,jar}; do
    if [[ -f $artifact ]]; then put 0644 "$artifact" "share/maven-repo/${artifact#"$build"/maven-repo/}"; fi
  done
  # A second install over the first keeps the first one's entries, so that
  # uninstall still removes the directories the first one created.
  local previous=()
  [[ -f $manifest ]] && mapfile -t previous < "$manifest"
  printf '%s\n' "${previous[@]}" "${entries[@]}" | awk 'NF && !seen[$0]++' > "$manifest"
}

do_uninstall() {
  if [[ ! -f $manifest ]]; then
    echo "tvx is not installed in $root (no $manifest_name there)"
    return 0
  fi
  echo "Removing tvx from $root"
  local lines=() line dir i
  mapfile -t lines < "$manifest"
  for line in "${lines[@]}"; do
    [[ $line == "f "* ]] || continue
    rm -f "$root/${line#f }"
    echo "  removed $root/${line#f }"
  done
  rm -f "$manifest"
  for ((i = ${#lines[@]} - 1; i >= 0; i--)); do
    line=${lines[i]}
    [[ $line == "d "* ]] || continue
    dir=$(realpath -m -s "$root/${line#d }")
    [[ -d $dir ]] || continue
    if rmdir "$dir" 2>/dev/null; then
      echo "  removed $dir/"
    else
      echo "  kept $dir/ (it holds files tvx did not install)"
    fi
  done
  return 0
}

case $action in
  install) do_install ;;
  uninstall) do_uninstall ;;
  *) echo "usage: install.sh install|uninstall [--prefix P] [--destdir D] [--build DIR]" >&2; exit 2 ;;
esac

#!/bin/bash
# Builds tvx-maven-plugin with Maven, offline, from Debian's Maven repository
# (/usr/share/maven-repo, read through settings.xml), and installs its jar and
# pom into the Maven repository REPO (what `mvn install` would do).
#   build-offline.sh REPO WORK_DIR
# WORK_DIR holds Maven's build directory and the local repository it fills.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(realpath -m "$1") work=$(realpath -m "$2")
version=$(sed -n 's|^  <version>\(.*\)</version>$|\1|p' "$here/pom.xml" | head -n 1)
mkdir -p "$work"
log="$work/mvn.log"
# aether.offline.protocols=file: offline, Maven still reads file: repositories.
if ! mvn -o -B -s "$here/settings.xml" -Dtvx.repo="$work/local" -Daether.offline.protocols=file \
     -Dtvx.build.dir="$work/target" -f "$here/pom.xml" package > "$log" 2>&1; then
  grep -E '^\[(ERROR|WARNING)\]' "$log" >&2 || tail -n 30 "$log" >&2
  echo "tvx-maven-plugin: the Maven build failed (whole log: $log)" >&2
  exit 1
fi
dest="$repo/com/brindell/tvx/tvx-maven-plugin/$version"
mkdir -p "$dest"
cp "$work/target/tvx-maven-plugin-$version.jar" "$dest/"
cp "$here/pom.xml" "$dest/tvx-maven-plugin-$version.pom"
echo "tvx-maven-plugin $version installed into $repo"

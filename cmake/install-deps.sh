#!/bin/bash
# Installs the Debian packages listed in LIST (default: debian-packages.txt
# beside this script) that are missing. Usage: install-deps.sh [LIST]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
list=${1:-$here/debian-packages.txt}
missing=()
while read -r pkg; do
  pkg=${pkg%%#*}; pkg=${pkg//[[:space:]]/}
  [[ -z $pkg ]] && continue
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done < "$list"
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
  # Other package installs may hold the dpkg lock for a while.
  apt=(apt-get -o DPkg::Lock::Timeout=900)
  "${sudo_cmd[@]}" "${apt[@]}" update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" "${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}"
fi

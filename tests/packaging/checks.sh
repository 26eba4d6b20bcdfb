# Sourced by the packaging tests: named checks that count failures, and a
# scratch directory removed at exit.
#   check NAME COMMAND...   runs COMMAND; a non-zero status fails NAME
#   finish                  prints the tally; exits 1 when a check failed
set -uo pipefail
passed=0
failed=0
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# Executables tvx-pack writes keep a startup cache by default: here it goes
# to the scratch directory, never to the machine's /var/cache or ~/.cache.
export XDG_CACHE_HOME="$scratch/cache"
unset CACHE_DIRECTORY

check() {
  local name=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $name" >&2
  fi
}

# contains TEXT PART: TEXT holds PART (names the missing part when not).
contains() {
  [[ $1 == *"$2"* ]] && return 0
  printf '  missing: %s\n' "$2" >&2
  return 1
}

finish() {
  echo "$passed passed, $failed failed"
  ((failed == 0))
}

# in_overlay_root SOURCE_DIR BUILD_DIR FILE...: runs the script on standard
# input as root in a chroot of a private overlay of this machine's root
# (mount, IPC and PID namespaces; the real root is never written), with the
# source and build trees and /tmp hidden and each FILE copied to /srv/given.
# Prints the script's output and errors; its status is the set-up's.
in_overlay_root() {
  local src=$1 build=$2
  shift 2
  mkdir -p "$scratch/ovl" "$scratch/given"
  cat > "$scratch/given/inside.sh"
  cp "$@" "$scratch/given/"
  unshare --mount --ipc --pid --fork --propagation private bash -s "$scratch" "$src" "$build" 2>&1 <<'SCRIPT'
set -eu
scratch=$1 src=$2 build=$3
o="$scratch/ovl"
mount -t tmpfs tmpfs "$o"
mkdir "$o/upper" "$o/work" "$o/root"
mount -t overlay overlay -o "lowerdir=/,upperdir=$o/upper,workdir=$o/work" "$o/root"
r="$o/root"
mkdir -p "$r/srv"
cp -r "$scratch/given" "$r/srv/given"
for hide in "$src" "$build" /tmp; do
  [ -d "$r$hide" ] && mount -t tmpfs tmpfs "$r$hide"
done
mount -t proc proc "$r/proc"
mount --rbind /dev "$r/dev"
chroot "$r" /bin/bash /srv/given/inside.sh
SCRIPT
}

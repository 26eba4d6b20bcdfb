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

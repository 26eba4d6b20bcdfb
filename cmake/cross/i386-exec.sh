#!/bin/sh
# Prints "native" when this machine's kernel executes i386 programs itself,
# "qemu" when it does not (a kernel built without IA-32 emulation, or with it
# turned off). Decided by trying: a 91-byte static i386 program that exits 0.
# One byte of its ELF identification padding is 1, which the kernel's ELF
# loader ignores but no binfmt_misc entry matches (qemu's entries require the
# padding to be zero), so an emulator registered for i386 never answers in
# the kernel's place.
# TVX_I386_EXEC=qemu (or native) answers instead of the probe: the way to
# take, on a kernel that runs i386 programs, the road of one that does not.
# Usage: i386-exec.sh [DIR]   (DIR: where the probe is written; default $TMPDIR or /tmp)
set -eu
case ${TVX_I386_EXEC:-} in
  native | qemu) echo "$TVX_I386_EXEC"; exit 0 ;;
  '') ;;
  *) echo "i386-exec.sh: TVX_I386_EXEC must be native or qemu" >&2; exit 2 ;;
esac
dir=$(mktemp -d "${1:-${TMPDIR:-/tmp}}/tvx-i386-probe.XXXXXX")
trap 'rm -rf "$dir"' EXIT
printf '\177\105\114\106\001\001\001\000\000\000\000\000\000\000\000\001\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\133\000\000\000\133\000\000\000\005\000\000\000\000\020\000\000\061\333\061\300\100\315\200' >"$dir/probe"
cp /bin/true "$dir/true"
chmod 700 "$dir/probe" "$dir/true"
# A directory mounted noexec would make every probe fail: say so instead.
if ! "$dir/true"; then
  echo "i386-exec.sh: cannot run programs from $dir" >&2
  exit 1
fi
if "$dir/probe" 2>/dev/null; then echo native; else echo qemu; fi

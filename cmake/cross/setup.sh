#!/bin/bash
# Prepares this Debian 12 machine for the aarch64, armhf and i386 builds and
# unpacks each processor's OpenJDK 17 runtime into its build directory.
#   - adds the arm64, armhf and i386 architectures to dpkg (multiarch),
#   - installs the packages of debian-packages.txt that are missing,
#   - registers qemu-aarch64 and qemu-arm with binfmt_misc (mounting it first
#     where a container has not), so ARM programs start like native ones,
#   - decides by trying whether the kernel runs i386 programs (i386-exec.sh);
#     where it does not, registers qemu-i386 the same way; where it does, no
#     i386 emulator is registered (a binfmt_misc entry is consulted before the
#     kernel's own ELF loader and would put every i386 program under qemu),
#   - downloads Debian's openjdk-17-jre-headless and openjdk-17-jdk-headless
#     for each processor with apt-get download and unpacks them with dpkg -x
#     into SOURCE_DIR/build-<processor>/runtime: the runtime the tests run,
#     and the processor's jmods, from which tvx-pack --runtime links a
#     runtime for it with this machine's jlink (jlink links only modules of
#     its own Java version, and both come from the same Debian release).
# Usage: cmake/cross/setup.sh [PROCESSOR...]   (default: aarch64 armhf i386)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
apt=(apt-get -o DPkg::Lock::Timeout=900)
sudo_cmd=()
[[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
processors=("$@")
((${#processors[@]})) || processors=(aarch64 armhf i386)

debian_arch() {
  case $1 in
    aarch64) echo arm64 ;;
    armhf) echo armhf ;;
    i386) echo i386 ;;
    *) echo "unknown processor: $1 (aarch64, armhf or i386)" >&2; exit 2 ;;
  esac
}

# 1. Architectures and packages.
for arch in arm64 armhf i386; do
  if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    "${sudo_cmd[@]}" dpkg --add-architecture "$arch"
  fi
done
# Missing packages are installed after an apt-get update, which also reads
# the package lists of the architectures just added.
"$here/../install-deps.sh" "$here/debian-packages.txt"

# 2. binfmt_misc: ARM executables run through qemu-user wherever they are
# started from (a test, a shell script, the launcher's own service scripts).
binfmt=/proc/sys/fs/binfmt_misc
if [[ ! -e $binfmt/register ]]; then
  "${sudo_cmd[@]}" mount -t binfmt_misc binfmt_misc "$binfmt" ||
    { echo "cannot mount binfmt_misc on $binfmt (the ARM tests need it)" >&2; exit 1; }
fi
emulators=(qemu-aarch64 qemu-arm)
i386_exec=$("$here/i386-exec.sh")
if [[ $i386_exec == native ]]; then
  echo "i386: this kernel runs i386 programs; the i386 tests run natively"
  if [[ -e $binfmt/qemu-i386 ]] && grep -qx enabled "$binfmt/qemu-i386"; then
    # Installing qemu-user-static may have registered it; the kernel's own
    # loader is the one to test.
    echo "i386: turning off the qemu-i386 entry in binfmt_misc"
    "${sudo_cmd[@]}" update-binfmts --disable qemu-i386
  fi
elif [[ ! -e $binfmt/qemu-i386 ]] || ! grep -qx enabled "$binfmt/qemu-i386"; then
  echo "i386: this kernel does not run i386 programs; the i386 tests run under qemu-i386"
  # Debian's qemu-user-static leaves i386 out of its formats on an x86-64
  # machine, so the entry is registered here, as its ARM entries are: the
  # ELF identification of a 32-bit x86 executable or shared object, the
  # interpreter opened now (F) so that it also works in other mount
  # namespaces. It lasts until the machine restarts.
  [[ -e $binfmt/qemu-i386 ]] && echo -1 | "${sudo_cmd[@]}" tee "$binfmt/qemu-i386" >/dev/null
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' |
    "${sudo_cmd[@]}" tee "$binfmt/register" >/dev/null
  grep -qx enabled "$binfmt/qemu-i386" || { echo "qemu-i386 could not be registered with binfmt_misc" >&2; exit 1; }
else
  echo "i386: this kernel does not run i386 programs; the i386 tests run under qemu-i386 (registered earlier)"
fi
for emu in "${emulators[@]}"; do
  if [[ ! -e $binfmt/$emu ]] || ! grep -qx enabled "$binfmt/$emu"; then
    "${sudo_cmd[@]}" update-binfmts --enable "$emu"
  fi
  grep -qx enabled "$binfmt/$emu" || { echo "$emu is not enabled in binfmt_misc" >&2; exit 1; }
done

# 3. One runtime per processor, unpacked from Debian's own package.
# Under qemu-i386 the runtime's server VM is replaced by its Zero VM (Debian's
# openjdk-17-jre-zero, the same OpenJDK 17 without a compiler): the i386
# server VM depends on SIGSEGV handling that qemu-i386 does not reproduce
# (its SafeFetch check at start-up, safepoint polls in compiled code and the
# frame walk of a class-data dump all crash there), natively it does not.
# runtime/VM names the VM a runtime directory holds, so a change of route
# unpacks it again.
for proc in "${processors[@]}"; do
  arch=$(debian_arch "$proc")
  runtime=$source_dir/build-$proc/runtime
  home=$runtime/usr/lib/jvm/java-17-openjdk-$arch
  vm=server
  [[ $proc == i386 && $i386_exec == qemu ]] && vm=zero
  [[ -f $home/lib/server/libjvm.so && -d $home/jmods && $(cat "$runtime/VM" 2>/dev/null) == "$vm" ]] && continue
  echo "Unpacking OpenJDK 17 for $proc into $runtime ($vm VM)"
  rm -rf "$runtime"
  mkdir -p "$runtime/debs"
  packages=("openjdk-17-jre-headless:$arch" "openjdk-17-jdk-headless:$arch")
  [[ $vm == zero ]] && packages+=("openjdk-17-jre-zero:$arch")
  (cd "$runtime/debs" && "${apt[@]}" download -q "${packages[@]}")
  for deb in "$runtime"/debs/*.deb; do dpkg -x "$deb" "$runtime"; done
  if [[ $vm == zero ]]; then
    # The base archive there is the server VM's; Zero has no class-data
    # sharing, and a runtime of it has none.
    cp "$home/lib/zero/libjvm.so" "$home/lib/server/libjvm.so"
    rm -f "$home/lib/server/"classes*.jsa
  fi
  # The package links its configuration (jvm.cfg, security files) to
  # /etc/java-17-openjdk; point those links at the unpacked copies instead.
  find "$runtime/usr" -type l -lname '/etc/*' -print0 |
    while IFS= read -r -d '' link; do
      target=$runtime$(readlink "$link")
      if [[ -e $target ]]; then ln -sfn "$target" "$link"; fi
    done
  [[ -f $home/lib/server/libjvm.so ]] || { echo "no runtime library in $home" >&2; exit 1; }
  echo "$vm" >"$runtime/VM"
done

#!/bin/sh
# Boots a real systemd as PID 1 of private namespaces, over a root of its own,
# so that nothing it does at boot (systemd-tmpfiles empties /tmp, units mount
# and write) reaches the machine:
#   - new mount, pid, ipc, uts and cgroup namespaces;
#   - the root is an overlay of / with a tmpfs as its upper layer: every write
#     and every deletion lands in that tmpfs;
#   - fresh /proc, /run, /tmp, /dev and a read-only /sys inside it, /work
#     hidden under an empty tmpfs;
#   - a cgroup2 subtree of its own (a new directory of the unified hierarchy,
#     entered before the cgroup namespace is made), mounted as the root's
#     /sys/fs/cgroup: the machine's own cgroups are never written.
# Usage: boot_systemd.sh STATE_DIR APP_DIR
#   STATE_DIR (a directory of the machine, seen at the same path from inside
#   until the pivot) receives "pid" (systemd's pid as the machine sees it, once it
#   runs), "cgroup" (the subtree to remove afterwards) and "console.log".
#   APP_DIR is bound read-write at /srv/tvx inside the root.
# Runs in the foreground until systemd ends.
set -eu

if [ "${1:-}" = "--inside" ]; then
    state=$2
    app=$3
    # Pid 1 of the new pid namespace; /proc is still the machine's here.
    read -r hostpid _ < /proc/self/stat
    mount --make-rprivate /
    mount -t tmpfs -o mode=0755 tvx-systemd /mnt
    mkdir /mnt/upper /mnt/work /mnt/root
    mount -t overlay overlay -o lowerdir=/,upperdir=/mnt/upper,workdir=/mnt/work /mnt/root
    r=/mnt/root
    mount -t proc proc "$r/proc"
    # Kernel settings are the machine's: read-only, like a container's.
    for kernel in sys sysrq-trigger; do
        [ -e "$r/proc/$kernel" ] || continue
        mount --bind "$r/proc/$kernel" "$r/proc/$kernel"
        mount -o remount,bind,ro "$r/proc/$kernel"
    done
    mount -t sysfs -o ro,nosuid,nodev,noexec sysfs "$r/sys"
    mount -t cgroup2 -o nosuid,nodev,noexec cgroup2 "$r/sys/fs/cgroup"
    mount -t tmpfs -o mode=0755,nosuid tmpfs "$r/dev"
    for node in null:1:3 zero:1:5 full:1:7 random:1:8 urandom:1:9 tty:5:0; do
        name=${node%%:*}
        numbers=${node#*:}
        mknod -m 0666 "$r/dev/$name" c "${numbers%:*}" "${numbers#*:}"
    done
    mkdir "$r/dev/pts" "$r/dev/shm" "$r/dev/mqueue"
    mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts "$r/dev/pts"
    ln -s pts/ptmx "$r/dev/ptmx"
    ln -s /proc/self/fd "$r/dev/fd"
    mount -t tmpfs -o mode=1777 tmpfs "$r/dev/shm"
    mount -t tmpfs -o mode=0755,nosuid,nodev tmpfs "$r/run"
    mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$r/tmp"
    mount -t tmpfs -o mode=0755 tmpfs "$r/work"
    mkdir -p "$r/srv/tvx"
    mount --bind "$app" "$r/srv/tvx"
    # A machine id of its own, and nothing but what the tests start.
    : > "$r/etc/machine-id"
    mkdir -p "$r/etc/systemd/system"
    # Units that would reach the machine's kernel or clock.
    for unit in systemd-sysctl.service systemd-modules-load.service systemd-binfmt.service \
        proc-sys-fs-binfmt_misc.automount proc-sys-fs-binfmt_misc.mount systemd-timesyncd.service \
        systemd-udevd.service systemd-udev-trigger.service systemd-udev-settle.service kmod-static-nodes.service \
        systemd-pstore.service systemd-hwdb-update.service sys-kernel-debug.mount sys-kernel-tracing.mount \
        sys-kernel-config.mount sys-fs-fuse-connections.mount dev-hugepages.mount timers.target; do
        ln -sf /dev/null "$r/etc/systemd/system/$unit"
    done
    cat > "$r/etc/systemd/system/tvx-test.target" <<'UNIT'
[Unit]
Description=tvx tests
Requires=basic.target systemd-journald.service
After=basic.target systemd-journald.service
AllowIsolate=yes
UNIT
    echo "$hostpid" > "$state/pid"
    cd "$r"
    mkdir -p oldroot
    pivot_root . oldroot
    cd /
    umount -l /oldroot
    rmdir /oldroot
    exec env -i container=tvx-test TERM=dumb /lib/systemd/systemd --unit=tvx-test.target \
        --log-target=journal --show-status=no
fi

state=$1
app=$2
unified=/sys/fs/cgroup/unified
if [ "$(stat -fc %T /sys/fs/cgroup 2>/dev/null)" = cgroup2fs ]; then unified=/sys/fs/cgroup; fi
cg=$unified/tvx-systemd-$$
mkdir "$cg"
echo "$cg" > "$state/cgroup"
echo $$ > "$cg/cgroup.procs"
exec unshare --mount --pid --ipc --uts --cgroup --fork --kill-child \
    /bin/sh "$0" --inside "$state" "$app" > "$state/console.log" 2>&1 < /dev/null

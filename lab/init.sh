#!/bin/busybox sh
# /init of the lab's initramfs: mounts the host's root read-only over 9p,
# gives it fresh /dev, /proc, /sys, /tmp and /run, mounts the source and build
# trees and the kernel's modules over it at their host paths, and runs the one
# test script named on the kernel command line inside it. The last console line is the
# script's exit status; the machine then powers off.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev

arg() { tr ' ' '\n' < /proc/cmdline | sed -n "s/^lab\.$1=//p"; }

finish() {
  echo "LAB-EXIT=$1"
  sync
  poweroff -f
}

for module in $(cat /modules.order); do
  insmod "/modules/$module" || { echo "lab: insmod $module failed"; finish 90; }
done

mkdir -p /host
mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=512000,cache=loose hostroot /host \
  || { echo "lab: the host root did not mount"; finish 91; }
mount -t proc proc /host/proc
mount -t sysfs sysfs /host/sys
mount -t devtmpfs devtmpfs /host/dev
mkdir -p /host/dev/pts /host/dev/shm
mount -t devpts devpts /host/dev/pts
mount -t tmpfs tmpfs /host/dev/shm
mount -t tmpfs tmpfs /host/tmp
mount -t tmpfs tmpfs /host/run

script=$(arg script)
build=$(arg build)
modules=$(arg modules)
source=$(arg source)
# The trees the script works in, at their host paths, also where the fresh
# /tmp and /run above cover them.
share() {
  mkdir -p "/host$2" && mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=512000,cache=loose "$1" "/host$2" \
    || { echo "lab: $2 did not mount"; finish 92; }
}
share labsource "$source"
share labbuild "$build"
share labmodules "$modules"
# Reached through a link, a tree is also wanted at its real path: the
# programs' library paths name it. Hidden there only under the fresh /tmp and
# /run, where it can be shown again.
also_at_real_path() {
  [ "$1" = "$2" ] || [ -d "/host$2" ] && return 0
  mkdir -p "/host$2" && mount -o bind "/host$1" "/host$2" \
    || { echo "lab: $2 could not be shown"; finish 93; }
}
also_at_real_path "$source" "$(arg sourcereal)"
also_at_real_path "$build" "$(arg buildreal)"
echo "lab: guest up, running $script"
chroot /host /usr/bin/env -i PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin HOME=/tmp \
  LAB_BUILD="$build" LAB_MODULES="$modules" LAB_SOURCE="$source" TMPDIR=/tmp \
  /bin/sh -c 'cd "$LAB_BUILD" && exec /bin/sh "$0"' "$script" </dev/console >/dev/console 2>&1
finish $?

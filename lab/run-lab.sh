#!/usr/bin/env bash
# The hardware lab: boots Debian's 6.1 kernel in QEMU with a busybox
# initramfs, the host's root read-only over 9p, and runs one test script
# inside the guest against the build tree. The build and source trees and
# the unpacked kernel are shared on their own, since the guest's fresh /tmp
# and /run would hide them when they live there. Exits with the script's status;
# 77 when the lab cannot run here (no QEMU, no kernel to be had).
#   lab/run-lab.sh BUILD_DIR GUEST_SCRIPT
set -euo pipefail

skip() { echo "lab: SKIP: $*" >&2; exit 77; }

[ $# -eq 2 ] || { echo "usage: $0 BUILD_DIR GUEST_SCRIPT" >&2; exit 2; }
build=$(cd "$1" && pwd)
script=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/.." && pwd)

qemu=$(command -v "${DOCSTATION_LAB_QEMU:-qemu-system-x86_64}" || true)
[ -n "$qemu" ] || skip "${DOCSTATION_LAB_QEMU:-qemu-system-x86_64} is not installed"
[ "$(uname -m)" = x86_64 ] || skip "the lab boots an amd64 kernel"
busybox=""
for candidate in /bin/busybox /usr/bin/busybox; do
  if [ -x "$candidate" ] && file -L "$candidate" 2>/dev/null | grep -q 'statically linked'; then
    busybox=$candidate; break
  fi
done
[ -n "$busybox" ] || skip "a static busybox (busybox-static) is needed"
command -v cpio >/dev/null || skip "cpio is not installed"

set +e
modules_root=$("$here/fetch-kernel.sh")
status=$?
set -e
[ $status -eq 0 ] || { [ $status -eq 77 ] && skip "no kernel package"; exit $status; }
# The MJPG camera's module; where it cannot be built its tests skip themselves.
"$here/fetch-loopback.sh" "$modules_root" || [ $? -eq 77 ] || exit 1
version=$(basename "$(ls -d "$modules_root"/lib/modules/*/ | head -n 1)")
kernel="$modules_root/boot/vmlinuz-$version"
moddir="$modules_root/lib/modules/$version"

# Modules the initramfs needs to reach the host root, dependencies first.
order=()
add_module() {
  local rel=$1 dep
  for seen in "${order[@]:-}"; do [ "$seen" = "$rel" ] && return 0; done
  for dep in $(sed -n "s|^$rel: *||p" "$moddir/modules.dep"); do add_module "$dep"; done
  order+=("$rel")
}
for rel in kernel/drivers/virtio/virtio_pci.ko kernel/net/9p/9pnet_virtio.ko kernel/fs/9p/9p.ko; do
  add_module "$rel"
done

work=$(mktemp -d "${TMPDIR:-/tmp}/docstation-lab.XXXXXX")
trap 'rm -rf "$work"' EXIT
initrd_root="$work/initrd"
mkdir -p "$initrd_root"/{bin,proc,sys,dev,modules}
cp "$busybox" "$initrd_root/bin/busybox"
cp "$here/init.sh" "$initrd_root/init"
chmod +x "$initrd_root/init"
: > "$initrd_root/modules.order"
for rel in "${order[@]}"; do
  cp "$moddir/$rel" "$initrd_root/modules/"
  basename "$rel" >> "$initrd_root/modules.order"
done
(cd "$initrd_root" && find . | cpio -o -H newc --quiet) > "$work/initrd.cpio"

# KVM only when a virtual CPU really runs under it (nested set-ups may open
# /dev/kvm and still fail at the first CPU reset); TCG everywhere else.
accel=tcg
if [ "${DOCSTATION_LAB_ACCEL:-auto}" != tcg ] && [ -r /dev/kvm ] && [ -w /dev/kvm ]; then
  probe=$(sh -c 'timeout 2 "$0" -accel kvm -cpu max -nodefaults -display none -no-reboot >/dev/null 2>&1; echo $?' "$qemu")
  [ $probe -eq 124 ] && accel=kvm
fi

log="$build/lab/$(basename "$script" .sh).console.log"
mkdir -p "$(dirname "$log")"
echo "lab: booting $version ($accel), console in $log" >&2
start=$(date +%s)
set +e
timeout --foreground -k 10 "${DOCSTATION_LAB_TIMEOUT:-720}" "$qemu" \
  -accel $accel -cpu max -smp 2 -m 1536 -nographic -no-reboot -nodefaults -serial stdio \
  -kernel "$kernel" -initrd "$work/initrd.cpio" \
  -append "console=ttyS0 panic=-1 quiet loglevel=4 lab.script=$script lab.build=$build lab.modules=$modules_root lab.source=$source_dir lab.buildreal=$(cd "$build" && pwd -P) lab.sourcereal=$(cd "$source_dir" && pwd -P)" \
  -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
  -virtfs local,path="$build",mount_tag=labbuild,security_model=none,readonly=on,multidevs=remap \
  -virtfs local,path="$source_dir",mount_tag=labsource,security_model=none,readonly=on,multidevs=remap \
  -virtfs local,path="$modules_root",mount_tag=labmodules,security_model=none,readonly=on,multidevs=remap \
  </dev/null 2>&1 | tee "$log" | sed -u 's/\r$//'
set -e
echo "lab: wall time $(( $(date +%s) - start )) s" >&2
result=$(tr -d '\r' < "$log" | sed -n 's/^LAB-EXIT=\([0-9]*\)$/\1/p' | tail -n 1)
[ -n "$result" ] || { echo "lab: the guest gave no result (timed out or crashed)" >&2; exit 1; }
exit "$result"

#!/usr/bin/env bash
# Builds Debian's v4l2loopback module (the source of v4l2loopback-dkms) once,
# against the headers of the lab's kernel, and puts it beside the kernel's own
# modules in the lab's cache (never into the host's kernel): the guest's MJPG
# camera. Exit 77: the module cannot be built here (no packages, no compiler),
# which the lab reports as a skip of the MJPG camera.
#   lab/fetch-loopback.sh MODULES_ROOT     (as printed by fetch-kernel.sh)
set -euo pipefail

[ $# -eq 1 ] || { echo "usage: $0 MODULES_ROOT" >&2; exit 2; }
root=$1
cannot() { echo "lab: no v4l2loopback module: $*" >&2; exit 77; }

version=$(basename "$(ls -d "$root"/lib/modules/*/ | head -n 1)")
module="$root/lib/modules/$version/extra/v4l2loopback.ko"

# One build at a time, also between labs run side by side on one cache.
exec 9>"$root/../loopback.lock"
flock 9
[ -f "$module" ] && exit 0

command -v apt-get >/dev/null && command -v dpkg >/dev/null && command -v depmod >/dev/null \
  || cannot "apt-get, dpkg and depmod are needed"
command -v make >/dev/null && command -v gcc-12 >/dev/null || cannot "make and gcc-12 are needed"

headers="linux-headers-$version"
common="linux-headers-${version%-amd64}-common"
# The build scripts of exactly the headers' upload.
upload=$(apt-cache show "$headers" 2>/dev/null | sed -n 's/^Version: //p' | sort -V | tail -n 1)
[ -n "$upload" ] || cannot "no $headers in the apt lists"

work="$root/../loopback.partial"
rm -rf "$work" && mkdir -p "$work/download" "$work/tree"
(cd "$work/download" && apt-get download -q "$headers=$upload" "$common=$upload" \
   "linux-kbuild-${version%%.*}.$(echo "$version" | cut -d. -f2)=$upload" v4l2loopback-dkms >&2) \
  || cannot "could not download the headers of $version or v4l2loopback-dkms"
for package in "$work"/download/*.deb; do dpkg -x "$package" "$work/tree"; done

# The headers name their common half by its installed path.
tree="$work/tree/usr/src"
sed -i "s|/usr/src/|$tree/|" "$tree/$headers/Makefile"
source=$(ls -d "$tree"/v4l2loopback-*/ | head -n 1)
make -C "$tree/$headers" M="$source" modules >&2 || cannot "the module did not build"

mkdir -p "$(dirname "$module")"
cp "$source/v4l2loopback.ko" "$module.partial"
mv "$module.partial" "$module"
depmod -b "$root" "$version"
rm -rf "$work"
echo "lab: built $(basename "$source") for $version" >&2

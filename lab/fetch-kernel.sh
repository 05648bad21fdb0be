#!/usr/bin/env bash
# Fetches Debian 12's 6.1 kernel package once, unpacks it (never installs it)
# and indexes its modules, for the hardware lab's virtual machine.
# Prints the unpacked root on standard output. Exit 77: no kernel to be had
# (no apt, no network, no package), which the lab reports as a skip.
set -euo pipefail

cache="${DOCSTATION_LAB_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/docstation-lab}"
root="$cache/root"

unpacked_version() {
  local dir
  for dir in "$root"/lib/modules/*/; do
    [ -f "$dir/modules.dep" ] || continue
    basename "$dir"
    return 0
  done
  return 1
}

if version=$(unpacked_version) && [ -f "$root/boot/vmlinuz-$version" ]; then
  echo "$root"
  exit 0
fi

command -v apt-get >/dev/null && command -v dpkg >/dev/null && command -v depmod >/dev/null \
  || { echo "lab: apt-get, dpkg and depmod are needed to fetch the kernel" >&2; exit 77; }

# The metapackage names the current 6.1 image package of the archive.
package=$(apt-cache depends linux-image-amd64 2>/dev/null \
            | sed -n 's/^ *Depends: \(linux-image-6\.1\.[0-9.-]*-amd64\)$/\1/p' | head -n 1)
if [ -z "$package" ]; then
  package=$(apt-cache search --names-only '^linux-image-6\.1\.[0-9.-]*-amd64$' 2>/dev/null \
              | awk '{print $1}' | sort -V | tail -n 1)
fi
[ -n "$package" ] || { echo "lab: no linux-image-6.1 package in the apt lists" >&2; exit 77; }

mkdir -p "$cache"
download="$cache/download"
rm -rf "$download" && mkdir -p "$download"
# apt's sandbox user may not write into a private cache; fall back to root's own fetch.
(cd "$download" && apt-get download -q "$package" >&2) \
  || { echo "lab: could not download $package" >&2; exit 77; }

staging="$cache/root.partial"
rm -rf "$staging"
dpkg -x "$download"/"$package"_*.deb "$staging"
version=$(basename "$(ls -d "$staging"/lib/modules/*/ | head -n 1)")
depmod -b "$staging" "$version"
rm -rf "$root" "$download"
mv "$staging" "$root"
echo "lab: unpacked $package into $root" >&2
echo "$root"

#!/usr/bin/env bash
# Makes, once, the Debian 12 arm64 root the station is cross-built against and
# its arm64 tests run in under qemu: the arm64 -dev packages of the build and
# the run-time pieces the tests need, unpacked (never installed on this
# machine: arm64 -dev packages through multiarch would remove the machine's own
# amd64 ones). Cached; a changed package list makes a new root.
# Prints the root on standard output. Exit 77: no root to be had (no
# mmdebstrap, no archive), which the arm64 tests report as a skip.
# With --existing it only finds a root made before (by scripts/setup.sh
# --arm64) and downloads nothing: builds and tests never reach the network.
set -euo pipefail

here=$(dirname "$(readlink -f "$0")")

# A dpkg database of the packages unpacked into ROOT, from their archives in
# ROOT's package cache, for dpkg-shlibdeps --admindir=ROOT/var/lib/dpkg: the
# status of every package, and the shlibs, symbols and file list of those
# that carry shlibs or symbols, the only ones it maps a library to. Their file
# lists name the files by their path on this machine. Listing an archive
# means decompressing it whole: the other packages (headers, data, Qt's
# tools, the Mesa drivers) are not listed, which keeps this step short.
dpkg_database() {  # ROOT
  local target admin parts
  target=$(readlink -f "$1")
  admin=$target/var/lib/dpkg
  mkdir -p "$admin/info" "$admin/updates" "$admin/triggers"
  # File names of the multiarch database: Multi-Arch "same" packages carry their architecture.
  echo 1 >"$admin/info/format"
  parts=$(mktemp -d)
  find "$target/var/cache/apt/archives" -name '*.deb' -print0 \
    | xargs -0 -r -n 8 -P "$(nproc)" "$here/arm64-dpkg-entry.sh" "$target" "$parts"
  cat "$parts"/*.status >"$admin/status"
  rm -rf "$parts"
}

cache="${DOCSTATION_ARM64_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/docstation-arm64}"
packages=$(grep -v '^#' "$here/arm64-sysroot-packages.txt" | xargs)
# Raise the format when the root is made differently.
format=3
key=$(printf 'format %s\n%s\n' "$format" "$packages" | sha256sum | cut -c1-12)
root="$cache/sysroot-$key"

existing_only=false
[ "${1:-}" = --existing ] && existing_only=true

mkdir -p "$cache"
# One maker at a time; a second caller waits and takes the finished root.
exec 9>"$cache/.lock"
flock 9
if [ -f "$root/.complete" ]; then
  echo "$root"
  exit 0
fi
if $existing_only; then
  echo "arm64: no arm64 root yet; scripts/setup.sh --arm64 makes it" >&2
  exit 77
fi

command -v mmdebstrap >/dev/null \
  || { echo "arm64: mmdebstrap is needed for the arm64 root (scripts/setup.sh installs it)" >&2; exit 77; }

# The archive this machine's apt uses, so the root matches the machine's Debian.
mirror=$(apt-get indextargets --format '$(REPO_URI)' 'Created-By: Packages' 2>/dev/null \
           | grep -v security | head -n 1 || true)
mirror=${mirror:-http://deb.debian.org/debian/}

staging="$root.partial"
rm -rf "$staging"
# "extract" unpacks the packages and their dependencies without running their
# scripts, which would need the emulator; the root is only read from here.
# The archives stay in the root's package cache for the database.
if ! mmdebstrap --quiet --variant=extract --architectures=arm64 --mode=root \
       --format=directory --include="$(tr ' ' ',' <<<"$packages")" \
       --skip=cleanup/apt/cache \
       bookworm "$staging" "deb $mirror bookworm main" >&2; then
  rm -rf "$staging"
  echo "arm64: mmdebstrap could not make the arm64 root" >&2
  exit 77
fi
dpkg_database "$staging"
rm -f "$staging"/var/cache/apt/archives/*.deb
# The libraries Debian chooses through alternatives (set by package scripts,
# which "extract" does not run): the reference BLAS and LAPACK OpenCV links.
for alternative in blas/libblas.so.3 lapack/liblapack.so.3; do
  ln -sfn "$alternative" "$staging/usr/lib/aarch64-linux-gnu/$(basename "$alternative")"
done
# Programs under "qemu-aarch64 -L ROOT" open ROOT's file where there is one:
# they must use this machine's devices (pseudo-terminals above all).
rm -rf "${staging:?}/dev"

# Absolute symbolic links inside the root point at this machine's files;
# made relative, the cross linker and the emulator see the root's own.
find "$staging" -type l -lname '/*' -print0 | while IFS= read -r -d '' link; do
  target=$(readlink "$link")
  ln -sfn "$(realpath -m --relative-to="$(dirname "$link")" "$staging$target")" "$link"
done
touch "$staging/.complete"
rm -rf "$root"
mv "$staging" "$root"
# The database names files by their path on this machine: the root's final one.
sed -i "s|$staging/|$root/|" "$root"/var/lib/dpkg/info/*.list
# Older roots of another package list are no longer used.
find "$cache" -maxdepth 1 -name 'sysroot-*' ! -name "sysroot-$key" -exec rm -rf {} +
echo "arm64: made $root" >&2
echo "$root"

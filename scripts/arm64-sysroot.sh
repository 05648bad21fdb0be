#!/usr/bin/env bash
# Makes, once, the Debian 12 arm64 root the station is cross-built against and
# its arm64 tests run in under qemu: the arm64 -dev packages of the build and
# the run-time pieces the tests need, unpacked (never installed on this
# machine: arm64 -dev packages through multiarch would remove the machine's own
# amd64 ones). Cached; a changed package list makes a new root.
# Prints the root on standard output. Exit 77: no root to be had (no
# mmdebstrap, no archive), which the arm64 tests report as a skip.
set -euo pipefail

here=$(dirname "$(readlink -f "$0")")

# A dpkg database of the packages unpacked into ROOT, from their archives in
# ROOT's package cache; its file lists name the files by their path on this
# machine, so that dpkg-shlibdeps --admindir=ROOT/var/lib/dpkg finds the
# package, symbols and shlibs of every arm64 library the station links.
dpkg_database() {  # ROOT
  local target admin control deb package arch name part
  target=$(readlink -f "$1")
  admin=$target/var/lib/dpkg
  mkdir -p "$admin/info" "$admin/updates" "$admin/triggers"
  : >"$admin/status"
  # File names of the multiarch database: Multi-Arch "same" packages carry their architecture.
  echo 1 >"$admin/info/format"
  control=$(mktemp -d)
  for deb in "$target"/var/cache/apt/archives/*.deb; do
    rm -rf "${control:?}"/*
    dpkg-deb --control "$deb" "$control"
    package=$(sed -n 's/^Package: //p' "$control/control")
    arch=$(sed -n 's/^Architecture: //p' "$control/control")
    name=$package
    grep -qx 'Multi-Arch: same' "$control/control" && name=$package:$arch
    for part in shlibs symbols; do
      [ -f "$control/$part" ] && cp "$control/$part" "$admin/info/$name.$part"
    done
    dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -e 's|^\./|/|' -e 's|/$||' -e 's|^$|/.|' \
      | sed "s|^/|$target/|" >"$admin/info/$name.list"
    { sed '/^Package: /a Status: install ok installed' "$control/control"; echo; } >>"$admin/status"
  done
  rm -rf "$control"
}

cache="${DOCSTATION_ARM64_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/docstation-arm64}"
packages=$(grep -v '^#' "$here/arm64-sysroot-packages.txt" | xargs)
# Raise the format when the root is made differently.
format=2
key=$(printf 'format %s\n%s\n' "$format" "$packages" | sha256sum | cut -c1-12)
root="$cache/sysroot-$key"

mkdir -p "$cache"
# One maker at a time; a second caller waits and takes the finished root.
exec 9>"$cache/.lock"
flock 9
if [ -f "$root/.complete" ]; then
  echo "$root"
  exit 0
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

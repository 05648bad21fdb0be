#!/usr/bin/env bash
# Builds the Debian packages from the source package (debian/) with
# dpkg-buildpackage, as a Kylin or Ubuntu machine builds them, in a copy of
# the tree's files under build/debian/<arch>/, and checks them with lintian.
# Usage: scripts/debian-build.sh [--arch arm64] [OUTPUT_DIR]
#   default: natively, for this machine, in build/debian/<arch>/debs;
#   --arch arm64 on an amd64 machine: cross-built (DEB_BUILD_PROFILES=nocheck)
#   against the arm64 root of DOCSTATION_SYSROOT, made by
#   scripts/arm64-sysroot.sh when unset.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

native_arch=$(dpkg --print-architecture)
arch=$native_arch
if [ "${1:-}" = "--arch" ]; then
  arch=$2
  shift 2
fi
work=$top/build/debian/$arch
out=$(readlink -m "${1:-$work/debs}")
jobs=${DOCSTATION_JOBS:-2}

options=(-b -us -uc -J"$jobs")
if [ "$arch" != "$native_arch" ]; then
  if [ -z "${DOCSTATION_SYSROOT:-}" ]; then
    DOCSTATION_SYSROOT=$(./scripts/arm64-sysroot.sh) \
      || { echo "debian-build: no arm64 root to build against" >&2; exit 1; }
  fi
  export DOCSTATION_SYSROOT
  export DEB_BUILD_PROFILES="nocheck ${DEB_BUILD_PROFILES:-}"
  # -d: the arm64 build dependencies are in the root, not installed here.
  options+=(-a"$arch" -d)
fi

# The tree's own files (tracked or new, not ignored), without build trees:
# dpkg-buildpackage writes into debian/ and beside the source directory.
version=$(dpkg-parsechangelog -S Version)
source=$work/docstation-$version
rm -rf "$work"
mkdir -p "$source"
git ls-files -z --cached --others --exclude-standard \
  | tar --null --files-from=- --ignore-failed-read -c | tar -x -C "$source"

(cd "$source" && dpkg-buildpackage "${options[@]}")

rm -rf "$out"
mkdir -p "$out"
mv "$work"/*.deb "$out"/
echo "debian-build: checking with lintian"
lintian --fail-on error,warning "$out"/*.deb
ls -l "$out"/*.deb

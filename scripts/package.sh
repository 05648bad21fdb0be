#!/usr/bin/env bash
# Builds the Debian packages of the station (docstation, libqxident-dev) with
# Debian's hardening flags and checks them with lintian.
# Usage: scripts/package.sh [--arch arm64] [OUTPUT_DIR]
#   default: this machine's architecture in build/package/debs;
#   --arch arm64: cross-built on an amd64 machine against an arm64 root
#   (scripts/arm64-sysroot.sh) in build/package/arm64/debs.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

arch=""
if [ "${1:-}" = "--arch" ]; then
  arch=$2
  shift 2
fi
native_arch=$(dpkg --print-architecture)
[ "$arch" = "$native_arch" ] && arch=""
case "$arch" in
  "") build=$root/build/package ;;
  # As deep as the arm64 test build (build/ci/arm64), whose objects ccache
  # then serves to this one: the same flags, the same relative paths.
  arm64) build=$root/build/package/arm64 ;;
  *) echo "package: no cross build for $arch (arm64 only)" >&2; exit 2 ;;
esac
out=$(readlink -m "${1:-$build/debs}")

if [ -z "${DOCSTATION_SKIP_SETUP:-}" ]; then ./scripts/setup.sh; fi

cross=()
if [ -n "$arch" ]; then
  sysroot=$(./scripts/arm64-sysroot.sh) \
    || { echo "package: no arm64 root to build against" >&2; exit 1; }
  cross=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch.cmake" -DDOCSTATION_SYSROOT="$sysroot")
fi

eval "$(./scripts/buildflags.sh "${arch:-$native_arch}")"

cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBUILD_TESTING=OFF \
  -DDOCSTATION_BUILD_BENCH=OFF \
  "${cross[@]}"
cmake --build "$build" -j"${DOCSTATION_JOBS:-$(nproc)}"

rm -rf "$out"
mkdir -p "$out"
(cd "$build" && cpack -B "$out")
rm -rf "$out/_CPack_Packages"

echo "package: checking with lintian"
lintian --fail-on error,warning "$out"/*.deb
ls -l "$out"/*.deb

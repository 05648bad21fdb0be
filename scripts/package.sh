#!/usr/bin/env bash
# Builds the Debian packages of the station (docstation, libqxident-dev) with
# Debian's hardening flags and checks them with lintian.
# Usage: scripts/package.sh [--arch arm64] [OUTPUT_DIR]
#   default: this machine's architecture in build/package/debs;
#   --arch arm64: cross-built on an amd64 machine against an arm64 root
#   (scripts/arm64-sysroot.sh) in build/package-arm64/debs.
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
  arm64) build=$root/build/package-arm64 ;;
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

# The flags Debian builds its own packages with (hardening, fortify, bindnow),
# for the architecture the packages are for.
# CMake reads CFLAGS, CXXFLAGS and LDFLAGS on the first configure only.
eval "$(DEB_HOST_ARCH=${arch:-$native_arch} DEB_BUILD_MAINT_OPTIONS=hardening=+all \
        dpkg-buildflags --export=sh)"
export CFLAGS="$CFLAGS $CPPFLAGS" CXXFLAGS="$CXXFLAGS $CPPFLAGS"

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

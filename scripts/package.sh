#!/usr/bin/env bash
# Builds the Debian packages of the station (docstation, libqxident-dev) with
# Debian's hardening flags in build/package and checks them with lintian.
# Usage: scripts/package.sh [OUTPUT_DIR]   (default: build/package/debs)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$root/build/package
out=$(readlink -m "${1:-$build/debs}")

if [ -z "${DOCSTATION_SKIP_SETUP:-}" ]; then ./scripts/setup.sh; fi

# The flags Debian builds its own packages with (hardening, fortify, bindnow).
# CMake reads CFLAGS, CXXFLAGS and LDFLAGS on the first configure only.
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
export CFLAGS="$CFLAGS $CPPFLAGS" CXXFLAGS="$CXXFLAGS $CPPFLAGS"

cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBUILD_TESTING=OFF \
  -DDOCSTATION_BUILD_BENCH=OFF
cmake --build "$build" -j"${DOCSTATION_JOBS:-$(nproc)}"

rm -rf "$out"
mkdir -p "$out"
(cd "$build" && cpack -B "$out")
rm -rf "$out/_CPack_Packages"

echo "package: checking with lintian"
lintian --fail-on error "$out"/*.deb
ls -l "$out"/*.deb

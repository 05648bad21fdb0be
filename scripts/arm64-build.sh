#!/usr/bin/env bash
# Cross-builds the station for arm64 (cmake/toolchain-arm64.cmake, against the
# root of scripts/arm64-sysroot.sh) in BUILD_DIR with the flags of the arm64
# packages (scripts/package.sh --arch arm64, which then gets its objects from
# ccache), making only the given targets; the tree's tests then run under
# qemu. Warnings are errors in the amd64 build, which compiles the same code.
# Usage: scripts/arm64-build.sh BUILD_DIR TARGET...
# Exit 77: no cross compiler, emulator or arm64 root on this machine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(readlink -m "$1")
shift

for tool in aarch64-linux-gnu-gcc aarch64-linux-gnu-g++ qemu-aarch64-static; do
  command -v "$tool" >/dev/null \
    || { echo "arm64: $tool missing (scripts/setup.sh installs it); skipped" >&2; exit 77; }
done
sysroot=$("$root/scripts/arm64-sysroot.sh" --existing)

rm -f "$build/.arm64-built"
# From the top, as scripts/package.sh: the flags map the top's path away.
eval "$(cd "$root" && ./scripts/buildflags.sh arm64)"
cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-arm64.cmake" \
  -DDOCSTATION_SYSROOT="$sysroot" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON
cmake --build "$build" -j"${DOCSTATION_JOBS:-2}" --target "$@"
touch "$build/.arm64-built"

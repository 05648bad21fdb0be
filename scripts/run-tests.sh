#!/usr/bin/env bash
# Sets up the machine, builds everything with warnings as errors and runs
# every test, the arm64 ones too (cross-built, run under qemu); then rebuilds
# with AddressSanitizer + UndefinedBehaviorSanitizer and runs the tests
# labelled "sanitize" under it; last, builds the program with clang to check
# the lock annotations (-Wthread-safety).
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh
jobs=$(nproc)

# The arm64 root is mostly download and unpacking: made beside the build. The
# arm64 tests wait for it (a lock), or report a skip where it cannot be had.
mkdir -p build
./scripts/arm64-sysroot.sh >/dev/null 2>build/arm64-sysroot.log &
sysroot_maker=$!

cmake --preset ci -DDOCSTATION_ARM64_TESTS=ON
cmake --build --preset ci -j"$jobs"
wait "$sysroot_maker" || cat build/arm64-sysroot.log
ctest --preset ci -j"$jobs"

cmake --preset asan
cmake --build --preset asan -j"$jobs"
ctest --preset asan -j"$jobs"

cmake --preset threadsafety
cmake --build --preset threadsafety -j"$jobs"

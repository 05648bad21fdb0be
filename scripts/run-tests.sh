#!/usr/bin/env bash
# Sets up the machine, builds everything with warnings as errors and runs
# every test, the arm64 ones too (cross-built, run under qemu); then rebuilds
# with AddressSanitizer + UndefinedBehaviorSanitizer and runs the tests
# labelled "sanitize" under it; last, builds the program with clang to check
# the lock annotations (-Wthread-safety).
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh --arm64
jobs=$(nproc)

cmake --preset ci -DDOCSTATION_ARM64_TESTS=ON
cmake --build --preset ci -j"$jobs"
ctest --preset ci -j"$jobs"

cmake --preset asan
cmake --build --preset asan -j"$jobs"
ctest --preset asan -j"$jobs"

cmake --preset threadsafety
cmake --build --preset threadsafety -j"$jobs"

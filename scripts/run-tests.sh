#!/usr/bin/env bash
# Sets up the machine, builds everything with warnings as errors and runs
# every test; then rebuilds with AddressSanitizer + UndefinedBehaviorSanitizer
# and runs the tests labelled "sanitize" under it; last, builds the program with
# clang to check the lock annotations (-Wthread-safety).
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh
jobs=$(nproc)

cmake --preset ci
cmake --build --preset ci -j"$jobs"
ctest --preset ci -j"$jobs"

cmake --preset asan
cmake --build --preset asan -j"$jobs"
ctest --preset asan -j"$jobs"

cmake --preset threadsafety
cmake --build --preset threadsafety -j"$jobs"

#!/usr/bin/env bash
# Runs tests of the arm64 build tree (made by scripts/arm64-build.sh) under
# qemu. Exit 77 when that tree could not be made here.
# Usage: run_arm64_tests.sh ARM64_BUILD_DIR TEST_NAME_REGEX
set -uo pipefail
[ -f "$1/.arm64-built" ] || { echo "arm64: no arm64 build on this machine; skipped"; exit 77; }
exec ctest --test-dir "$1" -R "$2" --no-tests=error --output-on-failure

#!/usr/bin/env bash
# The cross build for arm64 against the build for this machine: both from
# cold (no ccache), of the same targets (by default the ones the arm64 tests
# need, as scripts/arm64-build.sh makes them), with the packages' flags, one
# after the other in the same run. Prints wall time and CPU time (user +
# system of every compiler and linker) of each, and their ratios.
# The arm64 root (scripts/arm64-sysroot.sh) is made beforehand and not counted.
# Usage: bench/arm64/build_time.sh [ARM64_DIR [AMD64_DIR [TARGET...]]]
#   defaults: build/bench-arm64/arm64 and build/bench-arm64/amd64 (emptied first)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
arm64_dir=$(readlink -m "${1:-$top/build/bench-arm64/arm64}")
amd64_dir=$(readlink -m "${2:-$top/build/bench-arm64/amd64}")
shift $(($# > 2 ? 2 : $#))
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  # The arm64 tests' own list, from a tree configured with them.
  probe=$(mktemp -d)
  trap 'rm -rf "$probe"' EXIT
  cmake -S "$top" -B "$probe" -G Ninja -DDOCSTATION_ARM64_TESTS=ON >/dev/null
  read -r -a targets < <(ctest --test-dir "$probe" -N -V -R '^arm64_build$' \
    | sed -n 's/.*arm64-build\.sh "[^"]*" //p' | tr -d '"')
fi
[ ${#targets[@]} -gt 0 ] || { echo "bench: no targets" >&2; exit 1; }
"$top/scripts/arm64-sysroot.sh" >/dev/null

export CCACHE_DISABLE=1
jobs=${DOCSTATION_JOBS:-2}
rm -rf "$arm64_dir" "$amd64_dir"
measure() {  # NAME COMMAND...: "NAME wall user sys" on standard output
  local name=$1 times
  shift
  times=$(mktemp)
  /usr/bin/time -f '%e %U %S' -o "$times" "$@" >&2
  echo "$name $(cat "$times")"
  rm -f "$times"
}
arm64=$(measure arm64 env DOCSTATION_JOBS="$jobs" "$top/scripts/arm64-build.sh" "$arm64_dir" "${targets[@]}")
amd64=$(measure amd64 bash -c '
  set -euo pipefail
  cd "$1" && eval "$(./scripts/buildflags.sh)"
  cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON
  cmake --build "$2" -j"$3" --target "${@:4}"' _ "$top" "$amd64_dir" "$jobs" "${targets[@]}")

echo "build of ${#targets[@]} targets, -j$jobs, no ccache, load $(cut -d' ' -f1-3 /proc/loadavg)"
awk -v a="$arm64" -v b="$amd64" 'BEGIN {
  split(a, x, " "); split(b, y, " ");
  printf "%-6s wall %7.1f s  cpu %7.1f s (user %.1f, sys %.1f)\n", x[1], x[2], x[3] + x[4], x[3], x[4];
  printf "%-6s wall %7.1f s  cpu %7.1f s (user %.1f, sys %.1f)\n", y[1], y[2], y[3] + y[4], y[3], y[4];
  printf "arm64/amd64: wall %.2fx  cpu %.2fx\n", x[2] / y[2], (x[3] + x[4]) / (y[3] + y[4]);
}'

#!/bin/sh
# Runs every action of bench_windowstalls on this build and, when it was
# built, on the baseline build (DOCSTATION_BENCH_BASELINE), one after the
# other in the same run, each in a scratch directory of its own.
#   bench/ui/run-windowstalls.sh [build dir, default build/ci] [actions...]
set -eu
build=${1:-build/ci}
[ $# -gt 0 ] && shift
actions=${*:-idle close-view service-10012 service-10001 inset record thumbnail finger}
build=$(cd "$build" && pwd)
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
# The fingerprint plug-in and the stand-in algorithm library, found by name.
export LD_LIBRARY_PATH="$build/fpcap:$build/sim/qxfp${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for action in $actions; do
    for variant in baseline current; do
        program="$build/bench/ui/bench_windowstalls"
        [ "$variant" = baseline ] && program="${program}_baseline"
        [ -x "$program" ] || continue
        dir="$scratch/$variant-$action"
        mkdir -p "$dir"
        (cd "$dir" && "$program" --action "$action" 2>/dev/null) | sed "s/^/$variant  /" \
            || echo "$variant  $action failed"
    done
done

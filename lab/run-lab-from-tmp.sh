#!/usr/bin/env bash
# Runs the lab with the source and build trees reached through paths under
# /tmp, as a checkout there reaches them: the guest mounts a fresh /tmp of its
# own, so the lab has to bring the trees along wherever they are.
#   lab/run-lab-from-tmp.sh BUILD_DIR GUEST_SCRIPT
set -euo pipefail

[ $# -eq 2 ] || { echo "usage: $0 BUILD_DIR GUEST_SCRIPT" >&2; exit 2; }
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
script=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
case "$script" in
  "$source_dir"/*) ;;
  *) echo "lab: $script is not in $source_dir" >&2; exit 2 ;;
esac

aliases=$(mktemp -d /tmp/docstation-checkout.XXXXXX)
trap 'rm -rf "$aliases"' EXIT
ln -s "$source_dir" "$aliases/source"
ln -s "$build" "$aliases/build"
"$aliases/source/lab/run-lab.sh" "$aliases/build" "$aliases/source/${script#"$source_dir"/}"

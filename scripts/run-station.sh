#!/usr/bin/env bash
# Sets up the machine, builds docstation and starts it in desktop mode on a
# synthetic virtual camera. Without a display it runs on the offscreen
# platform (stop it with Ctrl+C).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

./scripts/setup.sh
cmake --preset default
cmake --build --preset default -j"$(nproc)" --target docstation

export DOCSTATION_VIRTUAL_CAMERAS="${DOCSTATION_VIRTUAL_CAMERAS:-synthetic}"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  export QT_QPA_PLATFORM=offscreen
  export DOCSTATION_WARNINGS_TO_STDERR=1
fi
# Settings ("system.ini") live in the directory the station is started from.
run_dir="${DOCSTATION_RUN_DIR:-$HOME/.docstation}"
mkdir -p "$run_dir"
cd "$run_dir"
exec "$root/build/default/app/docstation"

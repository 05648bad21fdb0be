#!/usr/bin/env bash
# Sets up the machine, builds docstation and starts it in desktop mode on a
# synthetic virtual camera. Without a display it runs on the offscreen
# platform (stop it with Ctrl+C).
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh
cmake --preset default
cmake --build --preset default -j"$(nproc)" --target docstation

export DOCSTATION_VIRTUAL_CAMERAS="${DOCSTATION_VIRTUAL_CAMERAS:-synthetic}"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  export QT_QPA_PLATFORM=offscreen
fi
# Settings ("system.ini") live in the directory the station is started from.
mkdir -p "${DOCSTATION_RUN_DIR:-$HOME/.docstation}"
cd "${DOCSTATION_RUN_DIR:-$HOME/.docstation}"
exec "$OLDPWD/build/default/app/docstation"

#!/usr/bin/env bash
# Installs every Debian package needed to build, test and run the station.
# Idempotent; run as root or through sudo. Works on Debian 12 and on
# Debian/Ubuntu based desktops.
# --arm64 also makes the Debian 12 arm64 root (from the same archive) that the
# arm64 cross build and its emulated tests use.
set -euo pipefail

with_arm64_root=false
[ "${1:-}" = --arm64 ] && with_arm64_root=true

here=$(cd "$(dirname "$0")/.." && pwd)

# What the build needs: the Build-Depends of debian/control (without versions,
# architecture qualifiers and build profiles), so that dpkg-buildpackage and
# this script agree.
mapfile -t build_depends < <(
  sed -n '/^Build-Depends:/,/^[A-Z]/p' "$here/debian/control" | sed '$d' \
    | sed 's/^Build-Depends://' | tr ',' '\n' \
    | sed -e 's/([^)]*)//g' -e 's/<[^>]*>//g' -e 's/\[[^]]*\]//g' -e 's/|.*//' -e 's/:[a-z]*//' \
          -e 's/^ *//' -e 's/ *$//' | grep -v '^$' | grep -v '^debhelper-compat$')

packages=(
  "${build_depends[@]}" debhelper
  build-essential git qttools5-dev-tools libqt5opengl5-dev qt5-image-formats-plugins
  tesseract-ocr-chi-sim tesseract-ocr-eng
  alsa-utils xvfb xauth x11-apps xdotool imagemagick poppler-utils libtiff-tools
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-dev ccache
  fonts-dejavu-core fonts-wqy-microhei
  chromium
  dpkg-dev file lintian desktop-file-utils appstream udev
  qemu-system-x86 busybox-static cpio kmod v4l-utils
  crossbuild-essential-arm64 mmdebstrap qemu-user-static
  # GStreamer's camera source, there on every desktop; the lab runs beside it
  gstreamer1.0-plugins-good
)
# Node and npm for the browser test; a machine that already has them (from
# any source) keeps its own, whose packaging may conflict with Debian's npm.
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  packages+=(nodejs npm)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
else
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
  echo "setup: installed ${missing[*]}"
fi

# The browser test's npm packages, exactly as locked; installed here so that
# tests never reach the network.
browser_tests="$here/tests/browser"
if [ ! -f "$browser_tests/node_modules/.package-lock.json" ] \
   || ! cmp -s "$browser_tests/package-lock.json" "$browser_tests/node_modules/.package-lock.json.installed"; then
  (cd "$browser_tests" && npm ci --no-audit --no-fund --ignore-scripts \
     && cp package-lock.json node_modules/.package-lock.json.installed)
  echo "setup: installed the browser test's npm packages"
fi

# The hardware lab's kernel (Debian's own package, unpacked into a cache,
# never installed); without it the lab test is skipped, not failed.
if lab_root=$("$(dirname "$0")/../lab/fetch-kernel.sh"); then
  "$(dirname "$0")/../lab/fetch-loopback.sh" "$lab_root" \
    || echo "setup: no v4l2loopback module for the hardware lab; its MJPG camera will be skipped"
else
  echo "setup: no kernel for the hardware lab; its test will be skipped"
fi

if $with_arm64_root; then
  "$here/scripts/arm64-sysroot.sh" >/dev/null \
    || echo "setup: no arm64 root; the arm64 tests will be skipped"
fi

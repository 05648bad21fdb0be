#!/usr/bin/env bash
# Prints, for eval, the flags Debian builds its own packages with (hardening,
# fortify, bindnow) for the given Debian architecture (default this
# machine's), C preprocessor flags folded into CFLAGS and CXXFLAGS since CMake
# reads only those. CMake reads them on the first configure only.
# Usage: eval "$(scripts/buildflags.sh [ARCH])"
set -euo pipefail
arch=${1:-$(dpkg --print-architecture)}
DEB_HOST_ARCH=$arch DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh
echo 'export CFLAGS="$CFLAGS $CPPFLAGS" CXXFLAGS="$CXXFLAGS $CPPFLAGS"'

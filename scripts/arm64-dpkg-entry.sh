#!/usr/bin/env bash
# One step of scripts/arm64-sysroot.sh's dpkg database, run for a few
# archives at a time in parallel: writes each package's status paragraph to
# PARTS/<package>.status and, where the package carries shlibs or symbols,
# those and its file list (paths under ROOT) to ROOT/var/lib/dpkg/info.
# Usage: arm64-dpkg-entry.sh ROOT PARTS DEB...
set -euo pipefail
target=$1
parts=$2
shift 2
info=$target/var/lib/dpkg/info
control=$(mktemp -d)
trap 'rm -rf "$control"' EXIT
for deb in "$@"; do
  rm -rf "${control:?}"/*
  dpkg-deb --control "$deb" "$control"
  package=$(sed -n 's/^Package: //p' "$control/control")
  arch=$(sed -n 's/^Architecture: //p' "$control/control")
  name=$package
  grep -qx 'Multi-Arch: same' "$control/control" && name=$package:$arch
  { sed '/^Package: /a Status: install ok installed' "$control/control"; echo; } >"$parts/$name.status"
  listed=""
  for part in shlibs symbols; do
    if [ -f "$control/$part" ]; then
      cp "$control/$part" "$info/$name.$part"
      listed=1
    fi
  done
  [ -n "$listed" ] || continue
  dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -e 's|^\./|/|' -e 's|/$||' -e 's|^$|/.|' \
    | sed "s|^/|$target/|" >"$info/$name.list"
done
